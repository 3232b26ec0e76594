// Many writers at the same moment on the same day's file: 8 threads in one
// process, and 8 threads in each of 4 processes, each writing 500 records,
// on a busy machine: twice as many spinning threads as cores beside them,
// and a viewer that takes the day's file again and again. Afterwards, once
// the writers' processes have ended and a load has moved in what still
// waited, every record is there exactly once, in its writer's order, in a
// file of the exact layout, and nothing waits any more.
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <atomic>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "busy_machine.h"
#include "load_check.h"
#include "reliability_fixture.h"
#include "service/pending_records.h"

namespace {

using namespace std::chrono_literals;

constexpr int kThreads = 8;
// ThreadSanitizer looks for races, which a fifth of the records meet as
// well; at its tenfold cost beside the busy loops, 500 would take minutes.
#if defined(__SANITIZE_THREAD__)
constexpr int kRecords = 100;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kRecords = 100;
#else
constexpr int kRecords = 500;
#endif
#else
constexpr int kRecords = 500;
#endif

// Starts nThreads writers of process nProcess together and waits for them.
// Each calls waitMidway() once half its records are written, so that the
// test can make sure something happens while the writers are at work.
void WriteFromThreads(int nProcess, int nThreads, int nRecords, const std::function<void()>& waitMidway) {
  std::atomic<bool> bGo{false};
  std::vector<std::thread> aThreads;
  for (int t = 0; t < nThreads; ++t) {
    aThreads.emplace_back([&bGo, &waitMidway, nProcess, t, nRecords] {
      while (!bGo.load()) std::this_thread::yield();
      const std::u16string strWriter = LoadWriterName(nProcess, t);
      for (int n = 0; n < nRecords; ++n) {
        if (n == nRecords / 2) waitMidway();
        WriteRecord(strWriter, Widen(std::to_string(n)));
      }
    });
  }
  bGo.store(true);
  for (std::thread& thread : aThreads) thread.join();
}

class LoadTest : public CReliabilityTest {
 protected:
  void SetUp() override {
    CReliabilityTest::SetUp();
    // Keeps the files that the fixed clock makes 30 days old from the load's
    // purge.
    m_pFolder->Write("SettingInfo.xml", SettingsBytes(365));
  }
  std::u16string DayPath() const { return m_pFolder->Path(m_strDayName).u16string(); }
  std::filesystem::path PendingPath() const { return m_pFolder->Path(Narrow(MakePendingLogName(FormatDateStamp()))); }
  // The pending files left in the log folder: the day's and the processes'
  // own.
  std::vector<std::string> PendingFiles() const {
    std::vector<std::string> aNames;
    for (const auto& entry : std::filesystem::directory_iterator(m_pFolder->Path())) {
      std::u16string strDate;
      if (ParsePendingLogName(entry.path().filename().u16string(), strDate)) {
        aNames.push_back(entry.path().filename().string());
      }
    }
    return aNames;
  }
  // The viewer may have held the file at the last calls: this process's
  // unload puts what waits in its memory into the files, and a load and its
  // first call move in what waits in pending files. Then every record must
  // be in the day's file, and nothing may wait any more.
  void ExpectEveryRecordAfterLoad(const CDayFileViewer& viewer, int nProcesses) {
    std::cout << "viewer held the day's file " << viewer.Holds() << " times, " << viewer.LongHolds()
              << " of them past the share wait, " << viewer.LongHoldsWithWaitingRecords()
              << " of those with records waiting in the day's pending file\n";
    RunUnloadSequence(false);
    RunLoadSequence();
    EXPECT_EQ(SetLogLife(365), 1);
    EXPECT_EQ(PendingFiles(), std::vector<std::string>{});
    ExpectEveryRecordOnceInOrder(ReadLogView(m_pFolder->Read(m_strDayName)), m_strTime, nProcesses, kThreads, kRecords);
  }
};

TEST_F(LoadTest, ThreadsOfOneProcessWriteEveryRecordOnceInOrder) {
  CDayFileViewer viewer(DayPath(), PendingPath());
  {
    CCpuHogs hogs;
    std::atomic<bool> bViewed{true};
    WriteFromThreads(0, kThreads, kRecords, [&viewer, &bViewed] {
      if (!viewer.WaitForFirstHold(60s)) bViewed.store(false);
    });
    EXPECT_TRUE(bViewed.load()) << "the viewer never took the day's file";
    viewer.Stop();
  }
  ExpectEveryRecordAfterLoad(viewer, 1);
}

#ifndef _WIN32
// A pipe whose write end the test closes to release every process and
// thread blocked reading it, all at once.
class CReleasePipe {
 public:
  CReleasePipe() {
    if (pipe(m_aEnds) != 0) m_aEnds[0] = m_aEnds[1] = -1;
  }
  ~CReleasePipe() {
    Release();
    CloseEnd(0);
  }
  CReleasePipe(const CReleasePipe&) = delete;
  CReleasePipe& operator=(const CReleasePipe&) = delete;

  bool IsOpen() const { return m_aEnds[0] >= 0; }
  // Releases the waiters. A forked child calls it first, on its own copy,
  // so that only the parent's closing counts.
  void Release() { CloseEnd(1); }
  // Blocks until every copy of the write end is closed.
  void Wait() const {
    char c;
    for (;;) {
      const ssize_t nRead = read(m_aEnds[0], &c, 1);
      if (nRead == 0 || (nRead < 0 && errno != EINTR)) return;
    }
  }

 private:
  void CloseEnd(int nEnd) {
    if (m_aEnds[nEnd] >= 0) close(m_aEnds[nEnd]);
    m_aEnds[nEnd] = -1;
  }
  int m_aEnds[2] = {-1, -1};  // read end, write end
};

TEST_F(LoadTest, ThreadsOfFourProcessesWriteEveryRecordOnceInOrder) {
  constexpr int kProcesses = 4;
  // The writers start when the start pipe closes, all of them at once, and
  // write their second halves once the viewer has held the day's file.
  CReleasePipe start, midway;
  ASSERT_TRUE(start.IsOpen() && midway.IsOpen());
  // Forked before any thread of the test runs, so that the children copy no
  // thread's half-done state.
  std::vector<pid_t> aChildren;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t nChild = fork();
    ASSERT_NE(nChild, -1);
    if (nChild == 0) {
      start.Release();
      midway.Release();
      start.Wait();
      WriteFromThreads(p, kThreads, kRecords, [&midway] { midway.Wait(); });
      // What the end of a host's process runs (the shared library's unload
      // notification, which is not part of this program): records that
      // wait in memory go to their files.
      RunUnloadSequence(false);
      _exit(0);
    }
    aChildren.push_back(nChild);
  }
  CDayFileViewer viewer(DayPath(), PendingPath());
  {
    CCpuHogs hogs;
    start.Release();
    EXPECT_TRUE(viewer.WaitForFirstHold(60s)) << "the viewer never took the day's file";
    midway.Release();
    for (pid_t nChild : aChildren) {
      int nStatus = 0;
      EXPECT_EQ(waitpid(nChild, &nStatus, 0), nChild);
      EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    }
    viewer.Stop();
  }
  ExpectEveryRecordAfterLoad(viewer, kProcesses);
}
#endif

}  // namespace
