// Windows half of the tool's console seam (console.h). The narrow command
// line and the console's code page can't hold Chinese text in most
// locales, so the tool reads the wide command line and writes UTF-16 to a
// console; a file or a pipe gets the UTF-8 bytes.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After windows.h, whose types it uses.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>

#include "base/text_encoding.h"
#include "platform/unicode_text.h"
#include "system/console.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 code units");

namespace {

std::atomic<bool> g_bInterrupted{false};

// The output console's mode before TerminalShowsColor changed it, put back
// when the tool ends: the console outlives the tool.
DWORD g_nOriginalMode = 0;
bool g_bModeChanged = false;

BOOL WINAPI OnConsoleEvent(DWORD nEvent) {
  if (nEvent != CTRL_C_EVENT && nEvent != CTRL_BREAK_EVENT) return FALSE;  // closing: the default ends the process
  g_bInterrupted = true;
  return TRUE;
}

// The standard handle when it is a console, else null.
HANDLE ConsoleOf(DWORD nStandardHandle) {
  HANDLE hStream = GetStdHandle(nStandardHandle);
  DWORD nMode = 0;
  if (hStream == nullptr || hStream == INVALID_HANDLE_VALUE || !GetConsoleMode(hStream, &nMode)) return nullptr;
  return hStream;
}

// Bytes at the end of a UTF-8 text that begin a character whose other bytes
// have not been written yet; they wait for the next write.
size_t IncompleteTail(const char* pText, size_t nCount) {
  for (size_t nBack = 1; nBack <= 3 && nBack <= nCount; ++nBack) {
    const auto c = static_cast<unsigned char>(pText[nCount - nBack]);
    if (IsUtf8Continuation(c)) continue;
    const size_t nLength = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return nLength > nBack ? nBack : 0;
  }
  return 0;
}

// A stream buffer that takes UTF-8 and writes it to a console as UTF-16,
// which the console shows whatever its code page.
class CConsoleBuffer : public std::streambuf {
 public:
  explicit CConsoleBuffer(HANDLE hConsole) : m_hConsole(hConsole) { setp(m_aBuffer, m_aBuffer + sizeof m_aBuffer); }
  ~CConsoleBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (sync() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  int sync() override {
    const size_t nCount = static_cast<size_t>(pptr() - pbase());
    const size_t nTail = IncompleteTail(pbase(), nCount);
    const bool bWritten = WriteWide(pbase(), nCount - nTail);
    std::copy(pbase() + nCount - nTail, pptr(), m_aBuffer);
    setp(m_aBuffer, m_aBuffer + sizeof m_aBuffer);
    pbump(static_cast<int>(nTail));
    return bWritten ? 0 : -1;
  }

 private:
  bool WriteWide(const char* pText, size_t nCount) {
    if (nCount == 0) return true;
    // UTF-8 never takes fewer bytes than UTF-16 takes code units.
    std::wstring strWide(nCount, L'\0');
    const int nWide = MultiByteToWideChar(CP_UTF8, 0 /* malformed bytes become U+FFFD */, pText,
                                          static_cast<int>(nCount), &strWide[0], static_cast<int>(nCount));
    constexpr size_t kChunk = 8192;  // older consoles refuse very long writes
    for (size_t nDone = 0; nDone < static_cast<size_t>(nWide);) {
      size_t nPart = std::min(kChunk, static_cast<size_t>(nWide) - nDone);
      // Both halves of a surrogate pair go in one write.
      if (nPart > 1 && nDone + nPart < static_cast<size_t>(nWide) && IsHighSurrogate(strWide[nDone + nPart - 1])) {
        --nPart;
      }
      DWORD nWritten = 0;
      if (!WriteConsoleW(m_hConsole, strWide.data() + nDone, static_cast<DWORD>(nPart), &nWritten,
                         nullptr /* lpReserved */) ||
          nWritten == 0) {
        return false;
      }
      nDone += nWritten;
    }
    return true;
  }

  HANDLE m_hConsole;
  char m_aBuffer[4096];
};

// Replaces the buffer of a stream that is a console with a console writer.
std::streambuf* UseConsoleWriter(std::ostream& stream, DWORD nStandardHandle,
                                 std::unique_ptr<std::streambuf>& pBuffer) {
  HANDLE hConsole = ConsoleOf(nStandardHandle);
  if (hConsole == nullptr) return nullptr;
  stream.flush();
  pBuffer = std::make_unique<CConsoleBuffer>(hConsole);
  return stream.rdbuf(pBuffer.get());
}

}  // namespace

std::vector<std::string> ReadCommandLine(int argc, char** argv) {
  int nArgs = 0;
  LPWSTR* ppArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
  if (ppArgs == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> aArgs;
  for (int i = 0; i < nArgs; ++i) aArgs.push_back(ToUtf8(reinterpret_cast<const char16_t*>(ppArgs[i])));
  LocalFree(ppArgs);
  return aArgs;
}

CStandardStreams::CStandardStreams() {
  // A redirected stream gets the bytes the tool writes: text mode would put
  // a CR before every LF, doubling the CR of a CSV line end.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  m_pOriginalOut = UseConsoleWriter(std::cout, STD_OUTPUT_HANDLE, m_pOut);
  m_pOriginalErr = UseConsoleWriter(std::cerr, STD_ERROR_HANDLE, m_pErr);
}

CStandardStreams::~CStandardStreams() {
  std::cout.flush();
  std::cerr.flush();
  if (m_pOut) std::cout.rdbuf(m_pOriginalOut);
  if (m_pErr) std::cerr.rdbuf(m_pOriginalErr);
  if (g_bModeChanged) SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), g_nOriginalMode);
}

int TerminalWidth() {
  HANDLE hConsole = ConsoleOf(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (hConsole == nullptr || !GetConsoleScreenBufferInfo(hConsole, &info)) return 0;
  // One column fewer: a console moves to the next line as soon as its last
  // column is written, so a full line and its line end would leave an empty
  // line behind.
  const int nColumns = info.srWindow.Right - info.srWindow.Left + 1;
  return nColumns > 1 ? nColumns - 1 : 0;
}

int TerminalHeight() {
  HANDLE hConsole = ConsoleOf(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (hConsole == nullptr || !GetConsoleScreenBufferInfo(hConsole, &info)) return 0;
  return info.srWindow.Bottom - info.srWindow.Top + 1;
}

bool OutputIsTerminal() { return ConsoleOf(STD_OUTPUT_HANDLE) != nullptr; }

bool CPager::Start(const std::string&) { return false; }

bool CPager::Write(const char*, size_t) { return false; }

void CPager::Finish() {}

bool ErrorIsTerminal() { return ConsoleOf(STD_ERROR_HANDLE) != nullptr; }

bool InputIsTerminal() { return ConsoleOf(STD_INPUT_HANDLE) != nullptr; }

bool TerminalShowsColor() {
  HANDLE hConsole = ConsoleOf(STD_OUTPUT_HANDLE);
  DWORD nMode = 0;
  if (hConsole == nullptr || !GetConsoleMode(hConsole, &nMode)) return false;
  if (nMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  // Consoles before Windows 10 refuse the mode; they would print the
  // sequences as text.
  if (!SetConsoleMode(hConsole, nMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
  if (!g_bModeChanged) g_nOriginalMode = nMode;
  g_bModeChanged = true;
  return true;
}

void CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE /* add */); }

bool WasInterrupted() { return g_bInterrupted; }

void RequestInterrupt() { g_bInterrupted = true; }

void CatchReopenRequests() {}

bool TakeReopenRequest() { return false; }
