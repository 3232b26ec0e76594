// POSIX half of the tool's console seam (console.h): bytes pass as they are,
// and a terminal is what isatty says.
#include "system/console.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
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

int TerminalHeight() {
  struct winsize size {};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
  return 0;
}

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

namespace {

// Whether the command's program is there to run: the shell would start and
// answer "not found", and the output meant for the pager would be lost. A
// first word the shell itself reads (an assignment) is left to the shell.
bool CanRunCommand(const std::string& strCommand) {
  const size_t nStart = strCommand.find_first_not_of(" \t");
  if (nStart == std::string::npos) return false;
  const std::string strProgram = strCommand.substr(nStart, strCommand.find_first_of(" \t", nStart) - nStart);
  if (strProgram.find('=') != std::string::npos) return true;
  if (strProgram.find('/') != std::string::npos) return access(strProgram.c_str(), X_OK) == 0;
  const char* szPath = getenv("PATH");
  std::string strFolders = szPath != nullptr ? szPath : "/usr/bin:/bin";
  for (size_t nFrom = 0; nFrom <= strFolders.size();) {
    size_t nEnd = strFolders.find(':', nFrom);
    if (nEnd == std::string::npos) nEnd = strFolders.size();
    const std::string strFolder = nEnd > nFrom ? strFolders.substr(nFrom, nEnd - nFrom) : ".";
    if (access((strFolder + "/" + strProgram).c_str(), X_OK) == 0) return true;
    nFrom = nEnd + 1;
  }
  return false;
}

}  // namespace

bool CPager::Start(const std::string& strCommand) {
  if (!CanRunCommand(strCommand)) return false;
  setenv("LESS", "R", 0);  // overwrite: 0, the user's own LESS is kept
  // A pager quit early closes the pipe: the write fails, the tool goes on.
  signal(SIGPIPE, SIG_IGN);
  m_pPipe = popen(strCommand.c_str(), "w");
  return m_pPipe != nullptr;
}

bool CPager::Write(const char* pData, size_t nSize) {
  return m_pPipe != nullptr && std::fwrite(pData, 1, nSize, m_pPipe) == nSize;
}

void CPager::Finish() {
  if (m_pPipe == nullptr) return;
  pclose(m_pPipe);  // waits for the pager, so that the shell's prompt comes after it
  m_pPipe = nullptr;
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

void RequestInterrupt() { g_bInterrupted = 1; }

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
