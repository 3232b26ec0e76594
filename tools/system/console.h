// The tool's one seam to its process: the command line, the standard
// streams, the terminal and Ctrl-C. console_posix.cpp and console_win32.cpp
// implement it; no other file of the tool includes a system header for these.
//
// The rest of the tool works in UTF-8. POSIX passes bytes through as they
// are. Windows takes the wide command line and writes wide text to a
// console, so that Chinese arguments and output survive whatever the ANSI
// and console code pages are; output redirected to a file or a pipe is the
// same UTF-8 bytes as on Linux, line ends untranslated.
#pragma once

#include <cstdio>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

// The arguments, program name first, in UTF-8. POSIX: argv as given.
// Windows: the process's wide command line; argv, in the ANSI code page,
// serves only when that cannot be had.
std::vector<std::string> ReadCommandLine(int argc, char** argv);

// While it lives, std::cout and std::cerr take UTF-8 and bring it to the
// user unchanged. Windows: a stream that is a console gets it as UTF-16
// through WriteConsoleW; any other is put in binary mode. POSIX: nothing to
// do. The destructor flushes and puts the original buffers back.
class CStandardStreams {
 public:
  CStandardStreams();
  ~CStandardStreams();
  CStandardStreams(const CStandardStreams&) = delete;
  CStandardStreams& operator=(const CStandardStreams&) = delete;

 private:
  std::unique_ptr<std::streambuf> m_pOut;  // console writers, when used
  std::unique_ptr<std::streambuf> m_pErr;
  std::streambuf* m_pOriginalOut = nullptr;
  std::streambuf* m_pOriginalErr = nullptr;
};

// Width in cells of the terminal that standard output is, 0 when it is not
// a terminal.
int TerminalWidth();

// Height in lines of the terminal that standard output is, 0 when it is not
// a terminal.
int TerminalHeight();

// Whether standard output is a terminal (a console on Windows).
bool OutputIsTerminal();

// A pager that text is handed to, a screen at a time, on the terminal.
// POSIX: strCommand runs through /bin/sh (popen) with its standard input a
// pipe from this process and its output the terminal; LESS is set to "R"
// when unset, so that less shows colours. A pipe the pager has closed (the
// user quit it) makes Write return false rather than end the process.
// Windows: Start always fails (the console keeps its own scroll-back, and
// a pager there would get UTF-8 through a pipe it reads in a code page).
class CPager {
 public:
  CPager() = default;
  ~CPager() { Finish(); }
  CPager(const CPager&) = delete;
  CPager& operator=(const CPager&) = delete;

  // False when it could not be started, or its program is nowhere to run.
  bool Start(const std::string& strCommand);
  bool Write(const char* pData, size_t nSize);
  void Finish();  // closes its input and waits for it to end

 private:
  std::FILE* m_pPipe = nullptr;
};

// Whether standard error is a terminal (a console on Windows), where a
// progress line that redraws itself can go.
bool ErrorIsTerminal();

// Whether standard input is a terminal (a console on Windows): a person who
// can answer a question, not a pipe or a file.
bool InputIsTerminal();

// Whether standard output is a terminal that shows ANSI colour sequences.
// Windows: a console that accepts ENABLE_VIRTUAL_TERMINAL_PROCESSING, which
// this switches on.
bool TerminalShowsColor();

// Ctrl-C and termination requests set a flag instead of ending the process,
// so that follow can finish its output and end with status 0. POSIX: SIGINT
// and SIGTERM, and a closed pipe on the output is reported as a failed write
// rather than killing the tool. Windows: Ctrl-C and Ctrl-Break of the console
// (SetConsoleCtrlHandler).
void CatchInterrupts();
bool WasInterrupted();
// Sets the same flag from within the tool: a service's stop request.
void RequestInterrupt();

// A request to reopen (POSIX: SIGHUP, as logrotate and service managers
// send it) sets a flag instead of ending the process; TakeReopenRequest
// returns it and clears it. Windows has no such request: never set there.
void CatchReopenRequests();
bool TakeReopenRequest();
