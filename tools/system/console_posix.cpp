// POSIX half of the tool's console seam (console.h): bytes pass as they are,
// and a terminal is what isatty says.
#include "system/console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_bInterrupted = 0;

volatile sig_atomic_t g_bReopen = 0;

extern "C" void OnInterrupt(int) { g_bInterrupted = 1; }
extern "C" void OnReopen(int) { g_bReopen = 1; }

}  // namespace

std::vector<std::string> ReadCommandLine(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

CStandardStreams::CStandardStreams() = default;
CStandardStreams::~CStandardStreams() = default;

int TerminalWidth() {
  struct winsize size {};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 0;
}

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool InputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

bool TerminalShowsColor() { return isatty(STDOUT_FILENO) != 0; }

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool WasInterrupted() { return g_bInterrupted != 0; }

void CatchReopenRequests() {
  struct sigaction action {};
  action.sa_handler = OnReopen;
  sigemptyset(&action.sa_mask);
  sigaction(SIGHUP, &action, nullptr);
}

bool TakeReopenRequest() {
  if (g_bReopen == 0) return false;
  g_bReopen = 0;
  return true;
}
