#include "terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

volatile sig_atomic_t g_bInterrupted = 0;

extern "C" void OnInterrupt(int) { g_bInterrupted = 1; }

}  // namespace

int OutputWidth() {
  if (const char* szColumns = std::getenv("COLUMNS")) {
    char* pEnd = nullptr;
    long nColumns = std::strtol(szColumns, &pEnd, 10);
    if (pEnd != szColumns && *pEnd == '\0' && nColumns > 0 && nColumns < 100000) return static_cast<int>(nColumns);
  }
  struct winsize size {};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 0;
}

bool WantsColor(const std::string& strMode) {
  if (strMode == "always") return true;
  if (strMode == "never") return false;
  const char* szNoColor = std::getenv("NO_COLOR");
  return isatty(STDOUT_FILENO) && (szNoColor == nullptr || *szNoColor == '\0');
}

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool WasInterrupted() { return g_bInterrupted != 0; }

void SleepUnlessInterrupted(int nMilliseconds) {
  constexpr int kSlice = 20;
  for (int nSlept = 0; nSlept < nMilliseconds && !WasInterrupted(); nSlept += kSlice) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kSlice));
  }
}
