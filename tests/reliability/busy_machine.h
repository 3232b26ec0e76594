// What a load test runs beside its writers so that it holds on a busy
// machine, not only on a quiet one: threads that keep every core busy, and a
// viewer that takes the day's file for a moment again and again, as a log
// viewer, a scanner or a backup tool does.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform_files.h"

// Twice as many spinning threads as the machine has cores, from construction
// to destruction: every writer, every holder and every wait of the library
// then competes for a core, and a timing that only holds on an idle machine
// shows.
class CCpuHogs {
 public:
  CCpuHogs() {
    const unsigned nHogs = std::max(1u, std::thread::hardware_concurrency()) * 2;
    for (unsigned n = 0; n < nHogs; ++n) {
      m_aThreads.emplace_back([this] {
        while (!m_bStop.load(std::memory_order_relaxed)) {
        }
      });
    }
  }
  ~CCpuHogs() {
    m_bStop.store(true);
    for (std::thread& thread : m_aThreads) thread.join();
  }
  CCpuHogs(const CCpuHogs&) = delete;
  CCpuHogs& operator=(const CCpuHogs&) = delete;

  size_t Count() const { return m_aThreads.size(); }

 private:
  std::atomic<bool> m_bStop{false};
  std::vector<std::thread> m_aThreads;
};

// A thread that opens the day's file with the library's lock, as a viewer
// reading it does, holds it a few milliseconds, lets go, pauses a few
// milliseconds and starts again, until Stop or destruction. Its first hold,
// and every kLongHoldEvery-th after it, lasts longer than the share wait,
// so that the writers that meet it give up waiting and their records go
// through the day's pending file. A file not there yet is looked for again.
class CDayFileViewer {
 public:
  static constexpr int kLongHoldEvery = 200;

  // pendingPath: the day's pending file, looked at (never opened) at the
  // end of each long hold.
  CDayFileViewer(std::u16string strPath, std::filesystem::path pendingPath)
      : m_strPath(std::move(strPath)), m_pendingPath(std::move(pendingPath)), m_thread([this] { View(); }) {}
  ~CDayFileViewer() { Stop(); }
  CDayFileViewer(const CDayFileViewer&) = delete;
  CDayFileViewer& operator=(const CDayFileViewer&) = delete;

  // Lets go of the file, if held, and ends the thread.
  void Stop() {
    m_bStop.store(true);
    if (m_thread.joinable()) m_thread.join();
  }
  // Waits until the first hold has begun; false when none began by the
  // deadline.
  bool WaitForFirstHold(std::chrono::seconds deadline) const {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (m_nHolds.load() == 0 && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return m_nHolds.load() > 0;
  }
  // How many times the viewer has taken the file, and how many of those
  // outlasted the share wait.
  int Holds() const { return m_nHolds.load(); }
  int LongHolds() const { return (m_nHolds.load() + kLongHoldEvery - 1) / kLongHoldEvery; }
  // Of those, how many ended with records waiting in the pending file: no
  // writer can have moved them in while the viewer held the day's file.
  int LongHoldsWithWaitingRecords() const { return m_nWaitingSeen.load(); }

 private:
  void View() {
    while (!m_bStop.load()) {
      CFile file;
      if (!file.Open(m_strPath, CFile::modeReadShared)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      const bool bLong = m_nHolds.fetch_add(1) % kLongHoldEvery == 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(bLong ? kShareWaitMilliseconds + 100 : 3));
      if (bLong && std::filesystem::exists(m_pendingPath)) ++m_nWaitingSeen;
      file.Close();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::u16string m_strPath;
  std::filesystem::path m_pendingPath;
  std::atomic<bool> m_bStop{false};
  std::atomic<int> m_nHolds{0};        // holds begun
  std::atomic<int> m_nWaitingSeen{0};  // long holds that ended with records waiting
  std::thread m_thread;                // last, so that it starts once the rest is set
};
