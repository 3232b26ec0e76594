// Writers killed with SIGKILL at random moments. Each trial forks a writer
// that appends records in a loop and reports every call that returned
// through a pipe; the test kills it after a random delay and then reads the
// day's file. It must parse, in the writer's exact layout, and hold every
// record whose call had returned, plus at most the one in flight, never a
// part of one.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <random>
#include <thread>
#include <vector>

#include "folder_state.h"
#include "reliability_fixture.h"

namespace {

constexpr int kTrials = 500;
// A fresh day's file after this many trials keeps the file small, so that
// calls stay fast and a trial is a matter of milliseconds.
constexpr int kTrialsPerFile = 25;

// The writer: records "t<trial>" with sequence numbers 0, 1, 2, ...; after
// each call returns, its number goes down the pipe. Never returns.
[[noreturn]] void RunWriter(int nTrial, int nReport) {
  const std::u16string strWriter = Widen("t" + std::to_string(nTrial));
  for (uint32_t nSequence = 0;; ++nSequence) {
    WriteRecord(strWriter, Widen(std::to_string(nSequence)));
    if (write(nReport, &nSequence, sizeof nSequence) != sizeof nSequence) _exit(1);
  }
}

// Numbers of the calls that returned, in order.
std::vector<uint32_t> ReadReports(int nReport) {
  std::vector<uint32_t> aReturned;
  uint32_t nSequence = 0;
  while (read(nReport, &nSequence, sizeof nSequence) == sizeof nSequence) aReturned.push_back(nSequence);
  return aReturned;
}

class CrashTest : public CReliabilityTest {};

TEST_F(CrashTest, KilledWriterLeavesEveryReturnedRecordAndNoPartOfAnother) {
  const unsigned nSeed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(nSeed));
  std::mt19937 random(nSeed);
  // Mostly anywhere in a run of calls; one trial in five within the first
  // call, which on a fresh file creates it.
  std::uniform_int_distribution<int> longDelay(0, 4000), shortDelay(0, 300), pick(0, 4);

  std::vector<CLoggedRecord> aExpected;
  int nReturned = 0, nInFlight = 0;
  for (int nTrial = 0; nTrial < kTrials; ++nTrial) {
    if (nTrial % kTrialsPerFile == 0) {
      UseFolder(std::make_unique<CLogFolder>());
      aExpected.clear();
    }
    int aPipe[2];
    ASSERT_EQ(pipe(aPipe), 0);
    const pid_t nWriter = fork();
    ASSERT_NE(nWriter, -1);
    if (nWriter == 0) {
      close(aPipe[0]);
      RunWriter(nTrial, aPipe[1]);
    }
    close(aPipe[1]);
    const int nDelay = pick(random) == 0 ? shortDelay(random) : longDelay(random);
    std::this_thread::sleep_for(std::chrono::microseconds(nDelay));
    kill(nWriter, SIGKILL);
    int nStatus = 0;
    ASSERT_EQ(waitpid(nWriter, &nStatus, 0), nWriter);
    ASSERT_TRUE(WIFSIGNALED(nStatus)) << "the writer stopped by itself in trial " << nTrial;
    const std::vector<uint32_t> aReturned = ReadReports(aPipe[0]);
    close(aPipe[0]);

    SCOPED_TRACE("trial " + std::to_string(nTrial) + ", " + std::to_string(aReturned.size()) + " calls returned");
    const CFolderFiles files = ReadFolderFiles(m_pFolder->Path());
    // A writer killed while it wrote a whole file under its temporary name
    // leaves that file, which the purge takes once it is old enough.
    EXPECT_LE(CountTemporaryFiles(files), nTrial % kTrialsPerFile + 1);
    // Before the first record of a file is in, there may be no file at all.
    std::vector<CLoggedRecord> aRecords;
    const auto itDay = files.find(m_strDayName);
    if (itDay != files.end()) {
      std::string strWhy;
      ASSERT_TRUE(ReadLoggedRecords(ReadLogView(itDay->second), m_strTime, aRecords, strWhy)) << strWhy;
    }
    std::vector<CLoggedRecord> aWanted = aExpected;
    const std::u16string strWriter = Widen("t" + std::to_string(nTrial));
    for (uint32_t n = 0; n < aReturned.size(); ++n) {
      ASSERT_EQ(aReturned[n], n);
      aWanted.push_back({strWriter, Widen(std::to_string(n))});
    }
    std::vector<CLoggedRecord> aWithInFlight = aWanted;
    aWithInFlight.push_back({strWriter, Widen(std::to_string(aReturned.size()))});
    const bool bInFlight = aRecords == aWithInFlight;
    ASSERT_TRUE(aRecords == aWanted || bInFlight) << "the file holds " << aRecords.size() << " records, "
                                                  << aWanted.size() << " expected";
    aExpected = aRecords;
    nReturned += static_cast<int>(aReturned.size());
    nInFlight += bInFlight;
  }
  std::cout << kTrials << " writers killed: " << nReturned << " returned records all kept, " << nInFlight
            << " trials with the record in flight kept whole\n";
}

}  // namespace
