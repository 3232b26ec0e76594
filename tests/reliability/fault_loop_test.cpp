// Every operation of the library runs again and again with its first, then
// its second, third ... platform file call failing, until it runs through
// without reaching the failing call. After each run: the host's call has
// returned; every file holds its old content or its new content in full; no
// file is left open; and the same call succeeds once the fault is gone.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <algorithm>
#include <iostream>
#include <set>
#include <vector>

#include "folder_state.h"
#include "format/log_records.h"
#include "format/pending_log.h"
#include "platform/unicode_text.h"
#include "reliability_fixture.h"
#include "service/pending_records.h"

namespace {

struct FaultKind {
  const char* m_pszName;
  FileErrorCause m_nCause;
  bool m_bPersistent;  // every call from the failing one on fails too
  bool m_bShortWrite;  // a failing write first sends half its bytes
  bool m_bCutAtPage;   // a failing write first sends what a kill could leave
};

const FaultKind kOnceFaults[] = {
    {"disk full once", causeDiskFull, false, false, false},
    {"I/O error once", causeIoError, false, false, false},
    {"access denied once", causeAccessDenied, false, false, false},
    {"sharing violation once", causeSharingViolation, false, false, false},
};
const FaultKind kLastingFaults[] = {
    {"disk full from then on", causeDiskFull, true, false, false},
    {"I/O error from then on", causeIoError, true, false, false},
    {"access denied from then on", causeAccessDenied, true, false, false},
    {"sharing violation from then on", causeSharingViolation, true, false, false},
};
const FaultKind kShortWrites[] = {
    {"short write, disk full", causeDiskFull, false, true, false},
    {"short write, I/O error", causeIoError, false, true, false},
};
// The process ends at this call: nothing more reaches the files, and a
// write stops at a page boundary, as under SIGKILL.
const FaultKind kEndsOfProcess[] = {
    {"process ended part-way through the call", causeIoError, true, false, true},
};

// The folder's files before and after a run without faults, and after the
// next call following either.
struct References {
  CFolderFiles m_before;
  CFolderFiles m_after;
  CFolderFiles m_nextFromBefore;
  CFolderFiles m_nextFromAfter;
  int32_t m_nLifeBefore;
  int32_t m_nLifeAfter;
  int32_t m_nLifeNext;
};

class FaultLoopTest;
using SetUpFiles = void (FaultLoopTest::*)(const CLogFolder&) const;

struct Scenario {
  const char* m_pszName;
  SetUpFiles m_pSetUp;  // the files before the operation
  int (*m_pRun)();      // the operation; SetLogLife's result, else -1
  int (*m_pRunNext)();  // the call that must succeed once the fault is gone
  // The update is one write that no kill can cut: whatever call fails, and
  // from then on, every file is old or new byte for byte.
  bool m_bOneWrite;
  // Code units of a piece of a large pending file's move; 0: the library's.
  size_t m_nPieceUnits = 0;
};

int WriteFaultedRecord() {
  WriteRecord(u"faulted", u"1");
  return -1;
}
int WriteNextRecord() {
  WriteRecord(u"next", u"2");
  return -1;
}
int SetLifeToTen() { return SetLogLife(10); }
int Load() {
  RunLoadSequence();
  return -1;
}
// The load, and the first call, which cuts what interrupted updates left and
// moves what ended processes left in pending files.
int LoadAndCall() {
  RunLoadSequence();
  SetLogLife(60);
  return -1;
}

// What the library's reader takes for a file's text: UTF-16 after the
// byte-order mark up to the first zero unit, as the journal of a commit that
// was cut gives it back, else narrow text up to the first zero byte.
// Whatever lies behind is no part of it. The file's name tells the reader
// which journals it may believe: only pending files and the settings file
// are ever rewritten shorter.
std::u16string ReaderText(const std::string& strBytes, const std::string& strName) {
  const bool bWide = strBytes.compare(0, 2, "\xFF\xFE") == 0;
  // Text that runs to the end of the file needs no journal.
  if (bWide && strBytes.size() / 2 <= ReadLogView(strBytes).size() + 1) return ReadLogView(strBytes);
  static const CTempFolder scratch;
  scratch.WriteBytes(strName, strBytes);
  CFile file;
  if (!file.Open(scratch.File(strName), CFile::modeReadExclusive)) return u"unreadable";
  return (bWide ? u"" : u"narrow:") + ReadDocumentFile(file);
}

bool SameText(const std::string& strActual, const std::string& strExpected, const std::string& strName) {
  return ReaderText(strActual, strName) == ReaderText(strExpected, strName);
}

bool IsPendingName(const std::string& strName) {
  std::u16string strDate;
  return ParsePendingLogName(Widen(strName), strDate);
}

// The pending files in the order their records move: the day's, then the
// processes' own.
std::vector<std::string> PendingNamesInMoveOrder(const CFolderFiles& files) {
  std::vector<std::string> aNames;
  for (const auto& file : files) {
    std::u16string strDate;
    uint32_t nProcess = 0;
    if (!ParsePendingLogName(Widen(file.first), strDate, &nProcess)) continue;
    aNames.insert(nProcess == 0 ? aNames.begin() : aNames.end(), file.first);
  }
  return aNames;
}

const std::string* Find(const CFolderFiles& files, const std::string& strName) {
  const auto it = files.find(strName);
  return it == files.end() ? nullptr : &it->second;
}

// The records a reader takes from the folder, as "writer:sequence": those of
// the day's file, then those of its pending file that a stopped move did not
// put in yet.
std::vector<std::string> VisibleRecords(const CFolderFiles& files, const std::string& strDayName) {
  std::vector<std::string> aRecords;
  std::u16string strDayText;
  auto Add = [&aRecords](const CXmlDocument& doc, size_t nSkip) {
    const std::vector<CHostRecord> aRead = ReadRecords(doc, u"");
    for (size_t n = nSkip; n < aRead.size(); ++n) {
      aRecords.push_back(Narrow(aRead[n].m_strLocation) + ":" + Narrow(aRead[n].m_strOperation));
    }
  };
  if (const std::string* pDay = Find(files, strDayName)) {
    strDayText = ReaderText(*pDay, strDayName);
    if (strDayText.compare(0, 7, u"narrow:") == 0) strDayText.erase(0, 7);
    CXmlDocument day;
    day.SetDocument(strDayText);
    Add(day, 0);
  }
  for (const std::string& strName : PendingNamesInMoveOrder(files)) {
    CXmlDocument pending;
    pending.SetDocument(ReaderText(files.at(strName), strName));
    Add(pending, CountMovedRecords(strDayText, ReadMoveNotes(pending), ReadRecords(pending, u"")));
  }
  return aRecords;
}

// Each file is as it was or as the run without faults left it. After calls
// that kept failing, nothing could be undone: a file may then differ in bytes
// that no reader sees, never in its text. A record that could not go into the
// day's file may wait in the day's pending file: the records that a reader
// sees are then those of the run without faults.
// A move in pieces commits the day's file once a piece: between them it
// holds the records it had and the pieces moved so far, and reads as a log.
void ExpectOldOrNew(const CFolderFiles& actual, const References& refs, bool bPersistent, const std::string& strDayName,
                    bool bSteps) {
  const std::vector<std::string> aVisible = VisibleRecords(actual, strDayName);
  EXPECT_TRUE(aVisible == VisibleRecords(refs.m_before, strDayName) ||
              aVisible == VisibleRecords(refs.m_after, strDayName))
      << "a record was lost or doubled";
  std::set<std::string> setNames;
  for (const CFolderFiles* pFiles : {&actual, &refs.m_before, &refs.m_after}) {
    for (const auto& file : *pFiles) {
      if (!IsPendingName(file.first)) setNames.insert(file.first);
    }
  }
  for (const std::string& strName : setNames) {
    const std::string* pActual = Find(actual, strName);
    const std::string* pBefore = Find(refs.m_before, strName);
    const std::string* pAfter = Find(refs.m_after, strName);
    auto Same = [&](const std::string* pExpected) {
      if (pActual == nullptr || pExpected == nullptr) return pActual == pExpected;
      return *pActual == *pExpected || (bPersistent && SameText(*pActual, *pExpected, strName));
    };
    if (bSteps && strName == strDayName && pActual != nullptr) {
      CXmlDocument day;
      EXPECT_TRUE(day.SetDocument(ReaderText(*pActual, strName)) && IsLogDocument(day))
          << strName << " reads as no log";
      continue;
    }
    EXPECT_TRUE(Same(pBefore) || Same(pAfter)) << strName << " is neither old nor new";
  }
}

class FaultLoopTest : public CReliabilityTest {
 protected:
  void SettingsOnly(const CLogFolder& folder) const { folder.Write("SettingInfo.xml", SettingsBytes(7)); }
  void DayWithRecords(const CLogFolder& folder) const {
    SettingsOnly(folder);
    folder.Write(m_strDayName, LogBytes({{u"a", u"1"}, {u"b", u"2"}, {u"c", u"3"}}));
  }
  // A day's file whose root end tag starts at byte nEndTagByte.
  void DayWithEndTagAt(const CLogFolder& folder, size_t nEndTagByte) const {
    SettingsOnly(folder);
    std::vector<CLoggedRecord> aRecords{{u"x", u"1"}, {u"y", u"2"}};
    const size_t nEndTag = LogText(m_strTime, aRecords).find(u"</日志>");
    aRecords[0].m_strWriter.append((nEndTagByte - 2) / 2 - nEndTag, u'x');
    folder.Write(m_strDayName, LogBytes(aRecords));
  }
  // The new record's commit (14 bytes from the one after the end tag's '<')
  // would cross the page boundary at byte 4096.
  void DayWithEndTagAcrossPage(const CLogFolder& folder) const { DayWithEndTagAt(folder, 4088); }
  // The commit fits before the boundary, and the part beyond the old end
  // crosses it.
  void DayEndingNearPage(const CLogFolder& folder) const { DayWithEndTagAt(folder, 4076); }
  // Written by hand without a byte-order mark: read as narrow text and
  // rewritten whole as UTF-16.
  void DayInNarrowText(const CLogFolder& folder) const {
    SettingsOnly(folder);
    folder.Write(m_strDayName, NarrowLogBytes());
  }
  // The day's file of one record as a program of this platform saves it
  // without a byte-order mark: UTF-8 on POSIX, the ANSI code page on
  // Windows. Empty where that code page cannot hold the log's names (1252).
  std::string NarrowLogBytes() const {
    const std::u16string strText = LogText(m_strTime, {{u"a", u"1"}});
#ifdef _WIN32
    const auto* pszWide = reinterpret_cast<const wchar_t*>(strText.c_str());
    const int nWide = static_cast<int>(strText.size());
    BOOL bDefaultUsed = FALSE;
    const int nBytes = WideCharToMultiByte(CP_ACP, 0, pszWide, nWide, nullptr /* size only */, 0,
                                           nullptr /* default char */, &bDefaultUsed);
    std::string strBytes(static_cast<size_t>(nBytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, pszWide, nWide, &strBytes[0], nBytes, nullptr /* default char */, &bDefaultUsed);
    return bDefaultUsed ? std::string() : strBytes;
#else
    return ToValidUtf8(strText);
#endif
  }
  // Left by updates killed between their two steps: a zero unit behind the
  // text, and part of the record being added, in today's file, in a day's
  // file of long ago and in the settings file. The retention keeps the
  // files, which the clock makes 30 days old.
  void DayWithInterruptedUpdate(const CLogFolder& folder) const {
    const std::string strRemains = EncodeDocument(std::u16string(1, u'\0') + u"\r\n<时间>" + m_strTime).substr(2);
    folder.Write("SettingInfo.xml", SettingsBytes(60) + strRemains);
    folder.Write(m_strDayName, LogBytes({{u"a", u"1"}}) + strRemains);
    folder.Write("Vardlix20200101.xml", LogBytes({{u"old", u"1"}}) + strRemains);
  }
  // A note that anyone could write: its check matches the first 200 units
  // of the day's text, which hold none of the five waiting records.
  void DayWithForgedNote(const CLogFolder& folder) const {
    DayWithRecords(folder);
    const std::u16string strDay = LogText(m_strTime, {{u"a", u"1"}, {u"b", u"2"}, {u"c", u"3"}});
    CXmlDocument pending;
    pending.SetDocument(LogText(m_strTime, {{u"p", u"1"}, {u"p", u"2"}, {u"p", u"3"}, {u"p", u"4"}, {u"p", u"5"}}));
    pending.FindNextElement(kLogRoot);
    pending.EnterElement();
    AddMoveNote(pending, MakeMoveNote(strDay, 5, 0, 200));
    folder.Write(PendingName(), EncodeDocument(pending.GetDocument()));
  }
  // Records that waited while another program held the day's file.
  void DayWithPendingRecords(const CLogFolder& folder) const {
    DayWithRecords(folder);
    folder.Write(PendingName(), LogBytes({{u"p", u"1"}, {u"p", u"2"}}));
  }
  // The same, and records that an ended process left in its own pending
  // file: both files move into the day's file together, each with its note.
  void KeptDayWithTwoPendingFiles(const CLogFolder& folder) const {
    KeptDayWithPendingRecords(folder);
    folder.Write(Narrow(MakeOwnPendingLogName(FormatDateStamp(), 77)), LogBytes({{u"q", u"1"}, {u"q", u"2"}}));
  }
  // A move stopped after the day's file took the first waiting record: the
  // note says so, and only the second is still to go in.
  void DayWithStoppedMove(const CLogFolder& folder) const { StoppedMove(folder, u"p"); }
  // The same with records of three pages each, so that the pending file's
  // rewrite without the moved record is a commit that crosses pages, made
  // behind a journal.
  void DayWithLongStoppedMove(const CLogFolder& folder) const {
    StoppedMove(folder, u"p" + std::u16string(6000, u'x'));
  }
  void StoppedMove(const CLogFolder& folder, const std::u16string& strWriter) const {
    SettingsOnly(folder);
    const std::u16string strBefore = LogText(m_strTime, {{u"a", u"1"}});
    const std::u16string strDay = LogText(m_strTime, {{u"a", u"1"}, {strWriter, u"1"}});
    const size_t nOffset = strBefore.rfind(u"</日志>");
    folder.Write(m_strDayName, EncodeDocument(strDay));
    CXmlDocument pending;
    pending.SetDocument(LogText(m_strTime, {{strWriter, u"1"}, {strWriter, u"2"}, {strWriter, u"3"}}));
    pending.FindNextElement(kLogRoot);
    pending.EnterElement();
    AddMoveNote(pending, MakeMoveNote(strDay, 1, static_cast<int64_t>(nOffset),
                                      static_cast<int64_t>(strDay.size() - strBefore.size())));
    folder.Write(PendingName(), EncodeDocument(pending.GetDocument()));
  }
  // Six waiting records that move in pieces of about two (the scenario makes
  // pieces small), a commit of the day's file and a note each.
  void KeptDayWithPendingFileInPieces(const CLogFolder& folder) const {
    KeptDayWithPendingRecords(folder);
    folder.Write(PendingName(),
                 LogBytes({{u"p", u"1"}, {u"p", u"2"}, {u"p", u"3"}, {u"p", u"4"}, {u"p", u"5"}, {u"p", u"6"}}));
  }
  // The same, under a retention that keeps them past the load's purge.
  void KeptDayWithPendingRecords(const CLogFolder& folder) const {
    DayWithPendingRecords(folder);
    folder.Write("SettingInfo.xml", SettingsBytes(60));
  }
  std::string PendingName() const { return Narrow(MakePendingLogName(FormatDateStamp())); }
  // Left by a creator that stopped before writing anything.
  void EmptyDayFile(const CLogFolder& folder) const {
    SettingsOnly(folder);
    folder.Write(m_strDayName, "");
  }
  // Two day files that the clock makes 30 days old.
  void SettingsAndOldLogs(const CLogFolder& folder) const {
    SettingsOnly(folder);
    folder.Write("Vardlix20200101.xml", LogBytes({{u"old", u"1"}}));
    folder.Write("Vardlix20200102.xml", LogBytes({{u"old", u"2"}}));
  }
  void TenDaysAndOldLogs(const CLogFolder& folder) const {
    SettingsAndOldLogs(folder);
    folder.Write("SettingInfo.xml", SettingsBytes(10));
  }
  void NothingYet(const CLogFolder&) const {}

  // Sets up a fresh folder for the scenario; its files.
  CFolderFiles Prepare(const Scenario& scenario) {
    UseFolder(std::make_unique<CLogFolder>());
    (this->*scenario.m_pSetUp)(*m_pFolder);
    return ReadFolderFiles(m_pFolder->Path());
  }
  CFolderFiles Files() const { return WithoutTemporaryFiles(ReadFolderFiles(m_pFolder->Path())); }

  References MakeReferences(const Scenario& scenario) {
    References refs;
    refs.m_before = Prepare(scenario);
    refs.m_nLifeBefore = g_nLogLife.load();
    scenario.m_pRun();
    refs.m_after = Files();
    refs.m_nLifeAfter = g_nLogLife.load();
    scenario.m_pRunNext();
    refs.m_nextFromAfter = Files();
    refs.m_nLifeNext = g_nLogLife.load();
    Prepare(scenario);
    scenario.m_pRunNext();
    refs.m_nextFromBefore = Files();
    return refs;
  }

  // Runs the scenario with call nCall failing as the kind says. False once
  // the operation made fewer calls than that.
  bool RunWithFault(const Scenario& scenario, const References& refs, const FaultKind& kind, int64_t nCall) {
    Prepare(scenario);
    const int nHandles = CountOpenHandles();
    CFileFaultPlan plan;
    plan.m_nFailAt = nCall;
    plan.m_nCause = kind.m_nCause;
    plan.m_bPersistent = kind.m_bPersistent;
    plan.m_bShortWrite = kind.m_bShortWrite;
    plan.m_bCutAtPage = kind.m_bCutAtPage;
    SetFileFaultsForTesting(plan);
    const int nResult = scenario.m_pRun();
    const int64_t nFaults = CountFileFaultsForTesting();
    ResetFileFaultsForTesting();
    if (nFaults == 0) return false;

    SCOPED_TRACE(std::string(scenario.m_pszName) + ", " + kind.m_pszName + " at call " + std::to_string(nCall));
    EXPECT_EQ(CountOpenHandles(), nHandles) << "a file was left open";
    const CFolderFiles all = ReadFolderFiles(m_pFolder->Path());
    EXPECT_LE(CountTemporaryFiles(all), kind.m_bPersistent ? 1 : 0);
    const CFolderFiles files = WithoutTemporaryFiles(all);
    ExpectOldOrNew(files, refs, kind.m_bPersistent && !scenario.m_bOneWrite, m_strDayName, scenario.m_nPieceUnits != 0);
    const int32_t nLife = g_nLogLife.load();
    EXPECT_TRUE(nLife == refs.m_nLifeBefore || nLife == refs.m_nLifeAfter) << nLife;
    if (nResult >= 0) {
      // SetLogLife reports 1 exactly when the new value is in the file and
      // in force.
      const std::string* pSettings = Find(files, "SettingInfo.xml");
      const std::string* pNewSettings = Find(refs.m_after, "SettingInfo.xml");
      const bool bWritten = pSettings != nullptr && SameText(*pSettings, *pNewSettings, "SettingInfo.xml");
      EXPECT_EQ(nResult == 1, bWritten);
      EXPECT_EQ(nResult == 1, nLife == refs.m_nLifeAfter);
    }

    scenario.m_pRunNext();
    const CFolderFiles next = Files();
    EXPECT_TRUE(next == refs.m_nextFromBefore || next == refs.m_nextFromAfter) << "the next call did not succeed";
    EXPECT_EQ(g_nLogLife.load(), refs.m_nLifeNext);
    return true;
  }

  // Runs every scenario with every fault kind at every call it makes.
  template <size_t nKinds>
  void RunEveryFaultPoint(const FaultKind (&aKinds)[nKinds]) {
    const Scenario kScenarios[] = {
        {"first record of the day", &FaultLoopTest::SettingsOnly, WriteFaultedRecord, WriteNextRecord, false},
        {"record added to the day's file", &FaultLoopTest::DayWithRecords, WriteFaultedRecord, WriteNextRecord, true},
        {"record whose commit would cross a page", &FaultLoopTest::DayWithEndTagAcrossPage, WriteFaultedRecord,
         WriteNextRecord, false},
        {"record added across a page boundary", &FaultLoopTest::DayEndingNearPage, WriteFaultedRecord, WriteNextRecord,
         false},
        {"record added to narrow text", &FaultLoopTest::DayInNarrowText, WriteFaultedRecord, WriteNextRecord, false},
        {"record added to an empty day's file", &FaultLoopTest::EmptyDayFile, WriteFaultedRecord, WriteNextRecord,
         false},
        {"record behind those of the pending file", &FaultLoopTest::DayWithPendingRecords, WriteFaultedRecord,
         WriteNextRecord, false},
        {"record behind a pending file whose move stopped", &FaultLoopTest::DayWithStoppedMove, WriteFaultedRecord,
         WriteNextRecord, false},
        {"record behind a long pending file whose move stopped", &FaultLoopTest::DayWithLongStoppedMove,
         WriteFaultedRecord, WriteNextRecord, false},
        {"load and first call moving a pending file", &FaultLoopTest::KeptDayWithPendingRecords, LoadAndCall,
         LoadAndCall, false},
        {"load and first call moving two pending files", &FaultLoopTest::KeptDayWithTwoPendingFiles, LoadAndCall,
         LoadAndCall, false},
        {"SetLogLife with a purge", &FaultLoopTest::SettingsAndOldLogs, SetLifeToTen, SetLifeToTen, false},
        {"load reading the settings and purging", &FaultLoopTest::TenDaysAndOldLogs, Load, Load, false},
        {"load creating the settings file", &FaultLoopTest::NothingYet, Load, Load, false},
        {"record behind a pending file whose note is forged", &FaultLoopTest::DayWithForgedNote, WriteFaultedRecord,
         WriteNextRecord, false},
        {"load and first call cutting what interrupted updates left", &FaultLoopTest::DayWithInterruptedUpdate,
         LoadAndCall, LoadAndCall, false},
        {"load and first call moving a pending file in pieces", &FaultLoopTest::KeptDayWithPendingFileInPieces,
         LoadAndCall, LoadAndCall, false, 250},
    };
    int64_t nPoints = 0;
    for (const Scenario& scenario : kScenarios) {
      if (scenario.m_pSetUp == &FaultLoopTest::DayInNarrowText && NarrowLogBytes().empty()) {
        std::cout << "left out, the ANSI code page cannot hold the log's names: " << scenario.m_pszName << "\n";
        continue;
      }
      g_nMovePieceUnits = scenario.m_nPieceUnits != 0 ? scenario.m_nPieceUnits : kMaxPendingUnits / 4;
      const References refs = MakeReferences(scenario);
      ASSERT_NE(refs.m_before, refs.m_after) << scenario.m_pszName << " changes nothing";
      // Without faults no record is given away: a reader sees every record
      // it saw before, in the same order, and the new one behind them.
      const std::vector<std::string> aBefore = VisibleRecords(refs.m_before, m_strDayName);
      const std::vector<std::string> aAfter = VisibleRecords(refs.m_after, m_strDayName);
      ASSERT_TRUE(aAfter.size() >= aBefore.size() && std::equal(aBefore.begin(), aBefore.end(), aAfter.begin()))
          << scenario.m_pszName << " gave records away";
      for (const FaultKind& kind : aKinds) {
        int64_t nCall = 1;
        while (RunWithFault(scenario, refs, kind, nCall)) ++nCall;
        // Every operation makes several calls, and each one was failed.
        EXPECT_GT(nCall, 3) << scenario.m_pszName;
        nPoints += nCall - 1;
      }
    }
    g_nMovePieceUnits = kMaxPendingUnits / 4;
    std::cout << "fault points: " << nPoints << "\n";
  }
};

TEST_F(FaultLoopTest, OneFailedCallLeavesEveryFileOldOrNewByteForByte) { RunEveryFaultPoint(kOnceFaults); }

TEST_F(FaultLoopTest, CallsFailingFromThenOnLeaveEveryFileReadingOldOrNew) { RunEveryFaultPoint(kLastingFaults); }

TEST_F(FaultLoopTest, ShortWriteIsUndoneByteForByte) { RunEveryFaultPoint(kShortWrites); }

TEST_F(FaultLoopTest, ProcessEndingAtAnyCallLeavesEveryFileReadingOldOrNew) { RunEveryFaultPoint(kEndsOfProcess); }

}  // namespace
