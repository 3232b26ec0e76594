// What both halves of the platform seam share: the wait for another opener
// of a file, the test overrides of the clock and the host's path, and the
// text of CFileException. Neither half keeps a copy of its own, so the two
// cannot drift apart. Nothing here calls the operating system directly.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/platform_files.h"

// Pauses between attempts grow from a fraction of a typical update to a few
// of them, so that a file does not lie idle long after its holder let go.
constexpr std::chrono::microseconds kFirstHolderPause{100};
constexpr std::chrono::microseconds kLongestHolderPause{2000};

// Tries attempt() until it succeeds, or until the file has shown no progress
// for kShareWaitMilliseconds. Another opener keeps no queue, so with many
// writers a waiter can be overtaken again and again while the file passes
// from holder to holder: the bound counts only time in which readProgress()
// returns the same value, and each change (a holder that writes, or one that
// replaces the file) starts it afresh. Only a holder that keeps the file
// without touching it (a viewer, a process hanging with it open) makes the
// call give up. isHeld() tells whether the last failure was such a holder;
// any other failure, and any failure under waitNever, ends it at once.
template <typename Attempt, typename IsHeld, typename ReadProgress>
bool RetryWhileHeld(FileWait nWait, Attempt attempt, IsHeld isHeld, ReadProgress readProgress) {
  using Clock = std::chrono::steady_clock;
  const auto wait = std::chrono::milliseconds(kShareWaitMilliseconds);
  auto deadline = Clock::now() + wait;
  auto seen = readProgress();
  Clock::duration pause = kFirstHolderPause;
  for (;;) {
    if (attempt()) return true;
    if (nWait == waitNever || !isHeld()) return false;
    const auto now = Clock::now();
    const auto current = readProgress();
    if (!(current == seen)) {
      seen = current;
      deadline = now + wait;
    }
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min<Clock::duration>(pause * 2, kLongestHolderPause);
  }
}

// The clock a test has fixed; false when none is.
bool ReadClockOverride(int64_t& nTime);
// The host path a test has made up; false when none is. bAvailable tells
// whether GetHostExecutablePath is to report it or to fail.
bool ReadHostPathOverride(std::u16string& strPath, bool& bAvailable);
