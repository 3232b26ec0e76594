#include "output/terminal.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "system/console.h"

int OutputWidth() {
  if (const char* szColumns = std::getenv("COLUMNS")) {
    char* pEnd = nullptr;
    long nColumns = std::strtol(szColumns, &pEnd, 10);
    if (pEnd != szColumns && *pEnd == '\0' && nColumns > 0 && nColumns < 100000) return static_cast<int>(nColumns);
  }
  return TerminalWidth();
}

bool WantsColor(const std::string& strMode) {
  if (strMode == "never") return false;
  if (strMode == "auto") {
    const char* szNoColor = std::getenv("NO_COLOR");
    if (szNoColor != nullptr && *szNoColor != '\0') return false;
  }
  // Asked for "always" too: a Windows console shows the sequences only once
  // the tool has switched them on.
  const bool bShows = TerminalShowsColor();
  return bShows || strMode == "always";
}

void SleepUnlessInterrupted(int nMilliseconds) {
  constexpr int kSlice = 20;
  for (int nSlept = 0; nSlept < nMilliseconds && !WasInterrupted(); nSlept += kSlice) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kSlice));
  }
}
