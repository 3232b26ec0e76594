#include "output/terminal.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "system/console.h"

namespace {

// A positive number in the variable, else 0.
int ReadSize(const char* szName) {
  if (const char* szValue = std::getenv(szName)) {
    char* pEnd = nullptr;
    long nValue = std::strtol(szValue, &pEnd, 10);
    if (pEnd != szValue && *pEnd == '\0' && nValue > 0 && nValue < 100000) return static_cast<int>(nValue);
  }
  return 0;
}

}  // namespace

int OutputWidth() {
  const int nColumns = ReadSize("COLUMNS");
  return nColumns > 0 ? nColumns : TerminalWidth();
}

int OutputHeight() {
  const int nLines = ReadSize("LINES");
  return nLines > 0 ? nLines : TerminalHeight();
}

std::string PagerCommand() {
  for (const char* szName : {"VARDLIX_PAGER", "PAGER"}) {
    if (const char* szCommand = std::getenv(szName)) {
      const std::string strCommand = szCommand;
      return strCommand == "cat" ? std::string() : strCommand;
    }
  }
  return "less -R";
}

CPagedOutput::CPagedOutput(std::ostream& out, bool bMayPage) : m_out(out) {
  if (bMayPage && !PagerCommand().empty()) m_nScreenLines = static_cast<size_t>(std::max(OutputHeight(), 0));
}

void CPagedOutput::Write(const std::string& strText) {
  if (m_bPaging) {
    m_bPagerGone = m_bPagerGone || !m_pager.Write(strText.data(), strText.size());
    return;
  }
  if (m_nScreenLines == 0) {
    m_out.write(strText.data(), static_cast<std::streamsize>(strText.size()));
    return;
  }
  m_strHeld += strText;
  m_nLines += static_cast<size_t>(std::count(strText.begin(), strText.end(), '\n'));
  // A screen of n lines shows n - 1 of them beside the shell's prompt.
  if (m_nLines >= m_nScreenLines) StartPager();
}

void CPagedOutput::StartPager() {
  m_out.flush();
  m_bPaging = m_pager.Start(PagerCommand());
  if (!m_bPaging) m_nScreenLines = 0;
  std::string strHeld;
  strHeld.swap(m_strHeld);
  Write(strHeld);
}

void CPagedOutput::Finish() {
  if (m_bPaging) {
    m_pager.Finish();
    return;
  }
  m_out.write(m_strHeld.data(), static_cast<std::streamsize>(m_strHeld.size()));
  m_strHeld.clear();
  m_out.flush();
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
