// The vardlix command line: parses the arguments and runs one command.
#pragma once

// Returns the exit status (see ExitStatus in commands.h).
int RunVardlix(int argc, const char* const* argv);
