// What the output formats need to know about the terminal, and the wait of
// follow. The system calls behind them are in platform/console.h.
#pragma once

#include <ostream>
#include <string>

#include "system/console.h"

// Width of the output in cells: COLUMNS when it holds a positive number,
// else the terminal's width when the output is a terminal, else 0 (no limit).
int OutputWidth();

// Height of the screen in lines: LINES when it holds a positive number,
// else the terminal's height when the output is a terminal, else 0.
int OutputHeight();

// The pager's command, as git chooses it: VARDLIX_PAGER, else PAGER, else
// "less -R". Empty when paging is switched off ("" or "cat").
std::string PagerCommand();

// Output that goes through the pager once it is longer than the screen:
// the first screen's lines are held, and output that ends within them is
// written as it is (no pager for a few lines). bMayPage: the output is a
// terminal and the user did not say --no-pager; otherwise everything goes
// straight to out. A pager that cannot be started leaves the text on out.
class CPagedOutput {
 public:
  CPagedOutput(std::ostream& out, bool bMayPage);
  void Write(const std::string& strText);
  void Finish();  // writes what is held, or waits for the pager to end

 private:
  void StartPager();

  std::ostream& m_out;
  size_t m_nScreenLines = 0;  // 0: never pages
  size_t m_nLines = 0;        // line ends held so far
  std::string m_strHeld;
  CPager m_pager;
  bool m_bPaging = false;
  bool m_bPagerGone = false;  // the user quit the pager: the rest is not wanted
};

// Whether colours are wanted: "always", "never", or "auto" (the output is a
// terminal that shows colours, and NO_COLOR is unset or empty).
bool WantsColor(const std::string& strMode);

// Sleeps up to nMilliseconds, waking early when interrupted.
void SleepUnlessInterrupted(int nMilliseconds);
