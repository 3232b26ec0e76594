// What the output formats need to know about the terminal, and the wait of
// follow. The system calls behind them are in platform/console.h.
#pragma once

#include <string>

// Width of the output in cells: COLUMNS when it holds a positive number,
// else the terminal's width when the output is a terminal, else 0 (no limit).
int OutputWidth();

// Whether colours are wanted: "always", "never", or "auto" (the output is a
// terminal that shows colours, and NO_COLOR is unset or empty).
bool WantsColor(const std::string& strMode);

// Sleeps up to nMilliseconds, waking early when interrupted.
void SleepUnlessInterrupted(int nMilliseconds);
