// What the tool needs to know about its standard output and its signals.
#pragma once

#include <string>

// Width of the output in cells: COLUMNS when it holds a positive number,
// else the terminal's width when the output is a terminal, else 0 (no limit).
int OutputWidth();

// Whether colours are wanted: "always", "never", or "auto" (the output is a
// terminal and NO_COLOR is unset or empty).
bool WantsColor(const std::string& strMode);

// Ctrl-C and termination requests set a flag instead of ending the process,
// so that follow can finish its output and end with status 0. A closed pipe
// on the output is reported as a failed write rather than killing the tool.
void CatchInterrupts();
bool WasInterrupted();

// Sleeps up to nMilliseconds, waking early when interrupted.
void SleepUnlessInterrupted(int nMilliseconds);
