// The vardlix command line: parses the arguments and runs one command.
#pragma once

#include <string>
#include <vector>

// aArgs: the arguments in UTF-8, program name first (ReadCommandLine).
// Returns the exit status (see ExitStatus in commands.h).
int RunVardlix(const std::vector<std::string>& aArgs);
