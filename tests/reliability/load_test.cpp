// Many writers at the same moment on the same day's file: 8 threads in one
// process, and 8 threads in each of 4 processes, each writing 500 records.
// Afterwards every record is there exactly once, in its writer's order, in
// a file of the exact layout.
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <thread>
#include <vector>

#include "load_check.h"
#include "reliability_fixture.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRecords = 500;

// Starts nThreads writers of process nProcess together and waits for them.
void WriteFromThreads(int nProcess, int nThreads, int nRecords) {
  std::atomic<bool> bGo{false};
  std::vector<std::thread> aThreads;
  for (int t = 0; t < nThreads; ++t) {
    aThreads.emplace_back([&bGo, nProcess, t, nRecords] {
      while (!bGo.load()) std::this_thread::yield();
      const std::u16string strWriter = LoadWriterName(nProcess, t);
      for (int n = 0; n < nRecords; ++n) WriteRecord(strWriter, Widen(std::to_string(n)));
    });
  }
  bGo.store(true);
  for (std::thread& thread : aThreads) thread.join();
}

class LoadTest : public CReliabilityTest {
 protected:
  std::u16string DayText() const { return ReadLogView(m_pFolder->Read(m_strDayName)); }
};

TEST_F(LoadTest, ThreadsOfOneProcessWriteEveryRecordOnceInOrder) {
  WriteFromThreads(0, kThreads, kRecords);
  ExpectEveryRecordOnceInOrder(DayText(), m_strTime, 1, kThreads, kRecords);
}

#ifndef _WIN32
TEST_F(LoadTest, ThreadsOfFourProcessesWriteEveryRecordOnceInOrder) {
  constexpr int kProcesses = 4;
  // The writers start when the pipe closes, all of them at once.
  int aStart[2];
  ASSERT_EQ(pipe(aStart), 0);
  std::vector<pid_t> aChildren;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t nChild = fork();
    ASSERT_NE(nChild, -1);
    if (nChild == 0) {
      close(aStart[1]);
      char c;
      (void)!read(aStart[0], &c, 1);
      WriteFromThreads(p, kThreads, kRecords);
      _exit(0);
    }
    aChildren.push_back(nChild);
  }
  close(aStart[0]);
  close(aStart[1]);
  for (pid_t nChild : aChildren) {
    int nStatus = 0;
    ASSERT_EQ(waitpid(nChild, &nStatus, 0), nChild);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
  }
  ExpectEveryRecordOnceInOrder(DayText(), m_strTime, kProcesses, kThreads, kRecords);
}
#endif

}  // namespace
