// Writers killed with SIGKILL at random moments. Each trial forks a writer
// that appends records in a loop and reports every call that returned
// through a pipe; the test kills it after a random delay, then loads the
// library in a new process, as a host started again after a crash does,
// which makes its first call, and reads the day's file. It must parse, in
// the writer's exact layout, and hold every record whose call had returned,
// plus at most the one in flight, never a part of one. Python's XML parser
// must take the same records from it, and read every other file of the
// folder too (the settings, any pending file): nothing may follow the text
// that a reader outside the library would choke on.
//
// In one trial in twelve another process holds the day's file when the writer
// starts and lets go a little past the share wait: the writer's records then
// wait in the day's pending file, and the kill comes while the calls after
// the release move them in.
//
// VARDLIX_KILL_TRIALS sets the number of trials (500 by default).
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "folder_state.h"
#include "format/commit_journal.h"
#include "reliability_fixture.h"

namespace {

int CountTrials() {
  const char* pszTrials = std::getenv("VARDLIX_KILL_TRIALS");
  return pszTrials != nullptr ? std::atoi(pszTrials) : 500;
}
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

// The library loaded by a process of its own, which then ends: the load
// sequence and the first call, which keeps the retention as it is and cuts
// what the killed writer left. True when it ran to its end.
bool LoadInNewProcess() {
  const pid_t nLoader = fork();
  if (nLoader == 0) {
    RunLoadSequence();
    _exit(SetLogLife(365) == 1 ? 0 : 1);
  }
  int nStatus = 0;
  return nLoader != -1 && waitpid(nLoader, &nStatus, 0) == nLoader && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

// Whether bytes that no reader takes for text follow a UTF-16 file's text.
bool HoldsBytesBehindText(const std::string& strBytes) {
  return strBytes.size() / 2 > ReadLogView(strBytes).size() + 1;
}

// The records as xml_records.py prints them.
std::string PythonRecordLine(const std::vector<CLoggedRecord>& aRecords) {
  std::string strLine = "ok";
  for (const CLoggedRecord& record : aRecords) {
    strLine += " " + Narrow(record.m_strWriter) + ":" + Narrow(record.m_strSequence);
  }
  return strLine;
}

// What Python's XML parser makes of each file of a folder, by name.
std::map<std::string, std::string> ReadWithPython(const std::filesystem::path& folder) {
  const std::string strCommand = std::string("python3 '") + VARDLIX_XML_RECORDS_SCRIPT + "' '" + folder.string() + "'";
  std::map<std::string, std::string> mapLines;
  FILE* pPipe = popen(strCommand.c_str(), "r");
  if (pPipe == nullptr) return mapLines;
  std::string strOutput;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pPipe)) > 0;) strOutput.append(buffer, n);
  pclose(pPipe);
  std::istringstream lines(strOutput);
  for (std::string strLine; std::getline(lines, strLine);) {
    const size_t nSpace = strLine.find(' ');
    if (nSpace != std::string::npos) mapLines[strLine.substr(0, nSpace)] = strLine.substr(nSpace + 1);
  }
  return mapLines;
}

class CrashTest : public CReliabilityTest {
 protected:
  // A fresh log folder whose settings keep the files that the fixed clock
  // makes 30 days old, so that the loads purge nothing.
  // Besides, two day files of long ago that killed writers left unclean:
  // one with a zero unit and part of a record behind its text, one whose
  // record's commit was cut after three units, behind a journal. The first
  // call after the first load makes both whole again.
  void UseFreshFolder() {
    UseFolder(std::make_unique<CLogFolder>());
    m_pFolder->Write("SettingInfo.xml", SettingsBytes(365));
    const std::string strRemains = EncodeDocument(std::u16string(1, u'\0') + u"\r\n<时间>" + m_strTime).substr(2);
    m_pFolder->Write("Vardlix20200101.xml", LogBytes({{u"old", u"1"}}) + strRemains);
    const std::u16string strOld = LogText(m_strTime, {{u"old", u"2"}});
    const std::string strOldBytes = EncodeDocument(strOld);
    const std::string strNewBytes = LogBytes({{u"old", u"2"}, {u"old", u"3"}});
    const size_t nSavedAt = 2 + 2 * (strOld.rfind(u"</日志>") + 1), nOldEnd = strOldBytes.size();
    m_pFolder->Write(
        "Vardlix20200102.xml",
        strOldBytes.substr(0, nSavedAt) + strNewBytes.substr(nSavedAt, 6) + strOldBytes.substr(nSavedAt + 6) +
            std::string(2, '\0') + strNewBytes.substr(nOldEnd + 2) +
            BuildCommitJournal(strNewBytes.size(), nSavedAt, strOldBytes.substr(nSavedAt) + std::string(2, '\0')));
  }
  // What Python must read from each file but the day's own.
  static std::string PythonLineOf(const std::string& strFile) {
    if (strFile == "Vardlix20200101.xml") return "ok old:1";
    return strFile == "Vardlix20200102.xml" ? "ok old:2" : "ok";
  }
};

TEST_F(CrashTest, KilledWriterLeavesEveryReturnedRecordAndAFileEveryReaderTakes) {
  const int nTrials = CountTrials();
  const unsigned nSeed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(nSeed));
  std::mt19937 random(nSeed);
  // Mostly anywhere in a run of calls; one trial in five within the first
  // call, which on a fresh file creates it.
  std::uniform_int_distribution<int> longDelay(0, 4000), shortDelay(0, 300), pick(0, 4), pickHeld(0, 11);
  std::uniform_int_distribution<int> heldDelay(kShareWaitMilliseconds + 5, kShareWaitMilliseconds + 60);
  // The day's file after each trial, for Python to read once all are done,
  // and the records that each must give.
  CTempFolder snapshots;
  std::map<std::string, std::string> mapExpected;

  std::vector<CLoggedRecord> aExpected;
  int nReturned = 0, nInFlight = 0, nCut = 0, nHeld = 0;
  for (int nTrial = 0; nTrial < nTrials; ++nTrial) {
    if (nTrial % kTrialsPerFile == 0) {
      UseFreshFolder();
      aExpected.clear();
    }
    CFile holder;
    if (pickHeld(random) == 0) holder.Open(m_pFolder->Path(m_strDayName).u16string(), CFile::modeReadWriteDenyWrite);
    int aPipe[2];
    ASSERT_EQ(pipe(aPipe), 0);
    const pid_t nWriter = fork();
    ASSERT_NE(nWriter, -1);
    if (nWriter == 0) {
      close(aPipe[0]);
      RunWriter(nTrial, aPipe[1]);
    }
    close(aPipe[1]);
    if (holder.IsOpen()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(heldDelay(random)));
      holder.Close();
      ++nHeld;
    }
    const int nDelay = pick(random) == 0 ? shortDelay(random) : longDelay(random);
    std::this_thread::sleep_for(std::chrono::microseconds(nDelay));
    kill(nWriter, SIGKILL);
    int nStatus = 0;
    ASSERT_EQ(waitpid(nWriter, &nStatus, 0), nWriter);
    ASSERT_TRUE(WIFSIGNALED(nStatus)) << "the writer stopped by itself in trial " << nTrial;
    const std::vector<uint32_t> aReturned = ReadReports(aPipe[0]);
    close(aPipe[0]);

    SCOPED_TRACE("trial " + std::to_string(nTrial) + ", " + std::to_string(aReturned.size()) + " calls returned");
    const std::string strKilled = m_pFolder->Read(m_strDayName);
    ASSERT_TRUE(LoadInNewProcess());
    const CFolderFiles files = ReadFolderFiles(m_pFolder->Path());
    // The load moved whatever waited: no pending file is left.
    EXPECT_EQ(files.count(Narrow(MakePendingLogName(FormatDateStamp()))), 0u);
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
    // Every file the library keeps, for Python: the day's records, the old
    // days' ones, and the settings, which hold none.
    for (const auto& file : files) {
      const size_t nDot = file.first.rfind('.');
      if (nDot == std::string::npos || file.first.compare(nDot, std::string::npos, ".tmp") == 0) continue;
      const std::string strName = std::to_string(nTrial) + "-" + file.first.substr(0, nDot);
      snapshots.WriteBytes(strName + file.first.substr(nDot), file.second);
      const bool bDay = file.first == m_strDayName;
      mapExpected[file.first.compare(nDot, std::string::npos, ".pending") == 0 ? strName + ".pending" : strName] =
          bDay ? PythonRecordLine(aRecords) : PythonLineOf(file.first);
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
    ASSERT_TRUE(aRecords == aWanted || bInFlight)
        << "the file holds " << aRecords.size() << " records, " << aWanted.size() << " expected";
    aExpected = aRecords;
    nReturned += static_cast<int>(aReturned.size());
    nInFlight += bInFlight;
    nCut += HoldsBytesBehindText(strKilled);
  }

  // Each file as the load left it, read by a parser that knows nothing of
  // the library's zero unit.
  const std::map<std::string, std::string> mapPython = ReadWithPython(snapshots.Path());
  ASSERT_EQ(mapPython.size(), mapExpected.size()) << "python3 read " << mapPython.size() << " files";
  int nDiffering = 0;
  for (const auto& expected : mapExpected) {
    const std::string& strPython = mapPython.at(expected.first);
    if (strPython == expected.second) continue;
    if (++nDiffering <= 5) ADD_FAILURE() << "trial " << expected.first << ": " << strPython.substr(0, 160);
  }
  EXPECT_EQ(nDiffering, 0) << "files that Python's XML parser rejects or reads otherwise";
  std::cout << nTrials << " writers killed, each followed by a load and a call: " << nReturned
            << " returned records all kept, " << nInFlight << " trials with the record in flight kept whole, " << nCut
            << " kills that left bytes behind the text, which the first call cut, " << nHeld
            << " trials whose records waited in a pending file, " << mapPython.size()
            << " files (day, old days, settings, pending) read by Python's XML parser as the library reads them\n";
}

// A disk that fills up: the log folder is a tmpfs of 1 MB, mounted by a
// child in a mount namespace of its own. Records go in until the disk has
// room for no more than a few pages, never a copy of the whole file, and
// every file left is whole for Python's parser.
constexpr int kSkipExit = 77;

// The child: mounts the tmpfs over the log folder, writes until twenty calls
// in a row add nothing, then copies the files to strCopies and writes how
// many records went in and how many bytes were still free to strReport.
[[noreturn]] void FillSmallDisk(const std::filesystem::path& folder, const std::filesystem::path& copies,
                                const std::filesystem::path& report) {
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m") != 0) {
    _exit(kSkipExit);
  }
  auto Used = [&folder] {
    uintmax_t nBytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) nBytes += entry.file_size();
    return nBytes;
  };
  // Records of about a kilobyte, as a host with a stack trace writes them.
  const std::u16string strDescription(480, u'x');
  const CVardlixString empty{reinterpret_cast<const VardlixChar*>(u"")};
  const CVardlixString writer{reinterpret_cast<const VardlixChar*>(u"disk")};
  const CVardlixString description{reinterpret_cast<const VardlixChar*>(strDescription.c_str())};
  uint32_t nWritten = 0;
  for (int nIdle = 0; nIdle < 20; ++nWritten) {
    const uintmax_t nBefore = Used();
    const std::u16string strSequence = Widen(std::to_string(nWritten));
    const CVardlixString sequence{reinterpret_cast<const VardlixChar*>(strSequence.c_str())};
    WriteVardlix(empty, writer, sequence, empty, description);
    nIdle = Used() == nBefore ? nIdle + 1 : 0;
  }
  struct statvfs disk {};
  statvfs(folder.c_str(), &disk);
  std::filesystem::copy(folder, copies);
  std::ofstream(report) << nWritten << " " << uint64_t{disk.f_bavail} * disk.f_frsize;
  _exit(0);
}

TEST_F(CrashTest, NearlyFullDiskTakesRecordsUntilOnlyAFewPagesAreLeft) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  UseFreshFolder();
  CTempFolder scratch;
  const pid_t nChild = fork();
  ASSERT_NE(nChild, -1);
  if (nChild == 0) FillSmallDisk(m_pFolder->Path(), scratch.Path("copies"), scratch.Path("report"));
  int nStatus = 0;
  ASSERT_EQ(waitpid(nChild, &nStatus, 0), nChild);
  ASSERT_TRUE(WIFEXITED(nStatus));
  if (WEXITSTATUS(nStatus) == kSkipExit) GTEST_SKIP() << "no mount namespace of its own here";
  ASSERT_EQ(WEXITSTATUS(nStatus), 0);
  std::istringstream report(scratch.ReadBytes("report"));
  uint64_t nCalls = 0, nFree = 0;
  ASSERT_TRUE(report >> nCalls >> nFree);
  std::cout << "1 MB disk: " << nCalls << " calls until twenty in a row added nothing, " << nFree
            << " bytes free then\n";
  EXPECT_LE(nFree, 2u * 4096) << "records refused while the disk had room";
  // Python reads every file left, and they hold the records in call order.
  std::map<std::string, std::string> mapPython = ReadWithPython(scratch.Path("copies"));
  ASSERT_FALSE(mapPython.empty());
  std::string strRecords;
  for (const auto& file : mapPython) {
    ASSERT_EQ(file.second.compare(0, 3, "ok "), 0) << file.first << ": " << file.second.substr(0, 160);
    strRecords += file.second.substr(2);
  }
  std::string strExpected;
  for (uint64_t n = 0; n + 20 < nCalls && strExpected.size() < strRecords.size(); ++n) {
    strExpected += " disk:" + std::to_string(n);
  }
  EXPECT_EQ(strRecords, strExpected);
}

}  // namespace
