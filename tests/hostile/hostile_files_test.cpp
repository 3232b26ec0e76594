// Hostile files and folders: the day's file or the settings file replaced by
// something the library must not write through, or held by another process,
// and the log folder being a plain file. The call always returns, nothing in
// the place is changed, and a retention out of 32-bit range is not wrapped.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <iterator>
#include <memory>
#include <vector>

#include "file_traps.h"
#include "heap_peak.h"
#include "hostile_fixture.h"
#include "service/pending_records.h"
#include "service/settings.h"

namespace {

namespace fs = std::filesystem;

enum Trap {
  trapDirectory,        // a folder of the file's name
  trapLinkToFile,       // a symbolic link to a file elsewhere
  trapDanglingLink,     // a symbolic link to a file that does not exist
  trapFifo,             // a named pipe that nobody reads
  trapReadOnly,         // the file, unwritable
  trapLockedElsewhere,  // the file, held by another process with the library's lock
};

const std::string kPrecious = "precious";

class HostileFiles : public CHostileTest {
 protected:
  // Puts the trap in the place of strName; strContent is what the file (or
  // the link's target) holds where there is one.
  void Lay(Trap nTrap, const std::string& strName, const std::string& strContent) {
    const fs::path place = m_folder.Path(strName);
    switch (nTrap) {
      case trapDirectory:
        fs::create_directory(place);
        break;
      case trapLinkToFile:
        fs::create_directory(m_folder.Path("elsewhere"));
        m_folder.WriteBytes("elsewhere/target", strContent);
        fs::create_symlink(m_folder.Path("elsewhere/target"), place);
        break;
      case trapDanglingLink:
        fs::create_symlink(m_folder.Path("nowhere/target"), place);
        break;
      case trapFifo:
        ASSERT_EQ(mkfifo(place.c_str(), 0666), 0);
        break;
      case trapReadOnly:
        m_folder.WriteBytes(strName, strContent);
        m_pUnwritable = std::make_unique<CUnwritable>(place.string());
        break;
      case trapLockedElsewhere:
        m_folder.WriteBytes(strName, strContent);
        m_pHolder = std::make_unique<CLockHolder>(place.u16string());
        ASSERT_TRUE(m_pHolder->IsHolding());
        break;
    }
  }

  // Whether the trap and whatever it guards are exactly as they were laid.
  void ExpectUntouched(Trap nTrap, const std::string& strName, const std::string& strContent) const {
    const fs::path place = m_folder.Path(strName);
    switch (nTrap) {
      case trapDirectory:
        EXPECT_TRUE(fs::is_directory(place) && fs::is_empty(place));
        break;
      case trapLinkToFile:
        EXPECT_TRUE(fs::is_symlink(place));
        EXPECT_EQ(m_folder.ReadBytes("elsewhere/target"), strContent);
        break;
      case trapDanglingLink:
        EXPECT_TRUE(fs::is_symlink(place));
        EXPECT_FALSE(fs::exists(m_folder.Path("nowhere")));  // nothing created through it
        break;
      case trapFifo:
        EXPECT_TRUE(fs::is_fifo(place));
        break;
      case trapReadOnly:
      case trapLockedElsewhere:
        EXPECT_EQ(m_folder.ReadBytes(strName), strContent);
        break;
    }
  }

  // Where the trap cannot be laid on this file system, the row is left out.
  bool CanLay(Trap nTrap) const { return nTrap != trapReadOnly || m_pUnwritable->IsEffective(); }

  void Clear() {
    m_pHolder.reset();
    m_pUnwritable.reset();
  }
  void TearDown() override {
    Clear();
    CHostileTest::TearDown();
  }

  std::unique_ptr<CLockHolder> m_pHolder;
  std::unique_ptr<CUnwritable> m_pUnwritable;
};

// The record waits in the day's pending file instead.
TEST_F(HostileFiles, DayFileInTheWayStaysAsItWasAndTheRecordWaits) {
  struct Case {
    const char* m_pszName;
    Trap m_nTrap;
  };
  const Case kCases[] = {
      // clang-format off
      {"DirectoryIsNotEntered", trapDirectory},
      {"LinkIsNotFollowed", trapLinkToFile},
      {"DanglingLinkCreatesNothing", trapDanglingLink},
      {"FifoDoesNotBlock", trapFifo},
      {"ReadOnlyFileIsNotWritten", trapReadOnly},
      {"FileLockedElsewhereIsNotWritten", trapLockedElsewhere},
      // clang-format on
  };
  const std::string strLog = EncodeDocument(kDeclaration + u"<日志/>\r\n");
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    fs::remove_all(m_folder.Path(kTodaysLog));
    Lay(test.m_nTrap, kTodaysLog, strLog);
    if (!CanLay(test.m_nTrap)) {
      std::cout << "row left out, the file system cannot deny writing: " << test.m_pszName << "\n";
      Clear();
      continue;
    }
    WriteThroughExport({u"Info", u"Main", u"Open", u"", Widen(test.m_pszName)});
    ExpectUntouched(test.m_nTrap, kTodaysLog, strLog);
    std::vector<RecordFields> aWaiting;
    ASSERT_TRUE(ReadDayRecords(ReadDayText(kTodaysPendingFile), aWaiting));
    ASSERT_EQ(aWaiting.size(), 1u);
    EXPECT_EQ(aWaiting[0][5], Widen(test.m_pszName));
    fs::remove(m_folder.Path(kTodaysPendingFile));
    Clear();
  }
}

TEST_F(HostileFiles, DayFileHeldElsewhereTakesTheKeptRecordWithTheNextOnceReleased) {
  m_folder.WriteBytes(kTodaysLog, EncodeDocument(kDeclaration + u"<日志/>\r\n"));
  Lay(trapLockedElsewhere, kTodaysLog, EncodeDocument(kDeclaration + u"<日志/>\r\n"));
  const auto start = std::chrono::steady_clock::now();
  WriteThroughExport({u"Info", u"Main", u"Open", u"", u"kept"});
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kShareWaitMilliseconds / 2));
  m_pHolder->Release();
  WriteThroughExport({u"Info", u"Main", u"Open", u"", u"next"});
  std::vector<RecordFields> aRecords;
  ASSERT_TRUE(ReadDayRecords(ReadDayText(), aRecords));
  ASSERT_EQ(aRecords.size(), 2u);
  EXPECT_EQ(aRecords[0][5], u"kept");
  EXPECT_EQ(aRecords[1][5], u"next");
}

// Something else under the name of the day's pending file: nothing is
// written through or into it, and it holds no waiting records, so the
// record goes into the day's file.
TEST_F(HostileFiles, PendingNameInTheWayIsLeftAloneAndTheRecordGoesIn) {
  const char* const kCases[] = {"DirectoryIsNotEntered", "LinkIsNotFollowed", "DanglingLinkCreatesNothing",
                                "FifoDoesNotBlock"};
  const Trap kTraps[] = {trapDirectory, trapLinkToFile, trapDanglingLink, trapFifo};
  for (size_t n = 0; n < std::size(kCases); ++n) {
    SCOPED_TRACE(kCases[n]);
    m_folder.WriteBytes(kTodaysLog, EncodeDocument(kDeclaration + u"<日志/>\r\n"));
    fs::remove_all(m_folder.Path(kTodaysPendingFile));
    fs::remove_all(m_folder.Path("elsewhere"));
    Lay(kTraps[n], kTodaysPendingFile, kPrecious);
    WriteThroughExport({u"Info", u"Main", u"Open", u"", Widen(kCases[n])});
    ExpectUntouched(kTraps[n], kTodaysPendingFile, kPrecious);
    std::vector<RecordFields> aRecords;
    ASSERT_TRUE(ReadDayRecords(ReadDayText(), aRecords));
    ASSERT_EQ(aRecords.size(), 1u);
    EXPECT_EQ(aRecords[0][5], Widen(kCases[n]));
  }
}

// Other programs hold the day's file, its pending file, or this process's
// own pending file too, and never let go while the host writes: no record
// is lost, none waits longer than one share wait in a call, and once they
// let go every record is in the day's file, in call order, behind the one
// that waited before.
TEST_F(HostileFiles, HeldFilesLoseNoRecordAndKeepCallOrder) {
  struct Case {
    const char* m_pszName;
    bool m_bDayHeld;   // a viewer on the day's file
    bool m_bOwnHeld;   // a reader on this process's own pending file as well
    bool m_bHostEnds;  // the records come from a host that ends meanwhile
  };
  const Case kCases[] = {
      // clang-format off
      {"ReaderOnThePendingFileOnly",            false, false, false},
      {"DayAndPendingFileHeld",                 true,  false, false},
      {"DayPendingAndOwnPendingFileHeld",       true,  true,  false},
      {"HostEndsWhileDayAndPendingFileAreHeld", true,  false, true},
      // clang-format on
  };
  const std::string strOwnPending = Narrow(MakeOwnPendingLogName(u"20110408", GetProcessNumber()));
  auto LogOf = [](std::initializer_list<const char16_t*> aDescriptions) {
    std::u16string strText = kDeclaration + u"<日志>\r\n";
    for (const char16_t* szDescription : aDescriptions) {
      strText += RecordLines({kTimeStamp, u"Info", u"Main", u"Open", u"", szDescription});
    }
    return EncodeDocument(strText + u"</日志>\r\n");
  };
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    fs::remove_all(m_folder.Path(strOwnPending));
    m_folder.WriteBytes(kTodaysLog, LogOf({}));
    m_folder.WriteBytes(kTodaysPendingFile, LogOf({u"waited"}));
    std::vector<std::unique_ptr<CLockHolder>> aHolders;
    if (test.m_bDayHeld) aHolders.push_back(std::make_unique<CLockHolder>(m_folder.File(kTodaysLog)));
    aHolders.push_back(std::make_unique<CLockHolder>(m_folder.File(kTodaysPendingFile)));
    if (test.m_bOwnHeld) {
      m_folder.WriteBytes(strOwnPending, LogOf({u"own"}));
      aHolders.push_back(std::make_unique<CLockHolder>(m_folder.File(strOwnPending)));
    }
    for (const auto& pHolder : aHolders) ASSERT_TRUE(pHolder->IsHolding());
    auto WriteThree = [] {
      WriteThroughExport({u"Info", u"Main", u"Open", u"", u"1"});
      const auto start = std::chrono::steady_clock::now();
      WriteThroughExport({u"Info", u"Main", u"Open", u"", u"2"});
      WriteThroughExport({u"Info", u"Main", u"Open", u"", u"3"});
      return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(kShareWaitMilliseconds);
    };
    if (test.m_bHostEnds) {
      // The host is a child that writes and is gone: what it leaves is all
      // that the next load has of its records.
      const pid_t nChild = fork();
      ASSERT_NE(nChild, -1);
      if (nChild == 0) _exit(WriteThree() ? 0 : 1);
      int nStatus = 0;
      ASSERT_EQ(waitpid(nChild, &nStatus, 0), nChild);
      EXPECT_EQ(nStatus, 0) << "a call waited although records were waiting";
    } else {
      EXPECT_TRUE(WriteThree()) << "a call waited although records were waiting";
    }
    EXPECT_EQ(m_folder.ReadBytes(kTodaysLog), LogOf({}));
    aHolders.clear();
    if (test.m_bHostEnds) {
      auto lock = LockFileOperations();
      MoveAllPendingRecords();  // the next load's move
    }
    WriteThroughExport({u"Info", u"Main", u"Open", u"", u"4"});
    const auto aExpected = test.m_bOwnHeld ? LogOf({u"waited", u"own", u"1", u"2", u"3", u"4"})
                                           : LogOf({u"waited", u"1", u"2", u"3", u"4"});
    EXPECT_EQ(m_folder.ReadBytes(kTodaysLog), aExpected);
    for (const fs::directory_entry& entry : fs::directory_iterator(m_folder.Path())) {
      EXPECT_EQ(entry.path().extension(), ".xml") << "left behind: " << entry.path();
    }
  }
}

// A file of narrow text longer than a page is rewritten whole: the new text
// goes to a temporary file named after the day's file and the process,
// which then takes the day's name. Whatever stands at that temporary name is
// neither followed nor replaced, and the day's file stays as it was; the
// record waits in the day's pending file.
TEST_F(HostileFiles, TemporaryNameInTheWayLeavesTheDaysFileAsItWas) {
  struct Case {
    const char* m_pszName;
    Trap m_nTrap;
  };
  const Case kCases[] = {
      {"LinkIsNotFollowed", trapLinkToFile},
      {"DanglingLinkCreatesNothing", trapDanglingLink},
      {"DirectoryIsNotEntered", trapDirectory},
  };
  const std::string strNarrowLog = "<?xml version=\"1.0\"?>\r\n<\xE6\x97\xA5\xE5\xBF\x97>\r\n" +
                                   std::string(5000, 'x') + "\r\n</\xE6\x97\xA5\xE5\xBF\x97>\r\n";
  const std::string strTemporary = kTodaysLog + "." + std::to_string(getpid()) + ".tmp";
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    fs::remove_all(m_folder.Path(strTemporary));
    fs::remove_all(m_folder.Path("elsewhere"));
    m_folder.WriteBytes(kTodaysLog, strNarrowLog);
    Lay(test.m_nTrap, strTemporary, kPrecious);
    WriteThroughExport({u"Info", u"Main", u"Open", u"", Widen(test.m_pszName)});
    EXPECT_EQ(m_folder.ReadBytes(kTodaysLog), strNarrowLog);
    ExpectUntouched(test.m_nTrap, strTemporary, kPrecious);
  }
  // The same file with the name free: rewritten as UTF-16 with the waiting
  // records and the new one, in call order.
  fs::remove_all(m_folder.Path(strTemporary));
  WriteThroughExport({u"Info", u"Main", u"Open", u"", u"kept"});
  std::vector<RecordFields> aRecords;
  ASSERT_TRUE(ReadDayRecords(DecodeDocument(m_folder.ReadBytes(kTodaysLog)), aRecords));
  ASSERT_EQ(aRecords.size(), std::size(kCases) + 1);
  for (size_t n = 0; n < std::size(kCases); ++n) EXPECT_EQ(aRecords[n][5], Widen(kCases[n].m_pszName));
  EXPECT_EQ(aRecords.back()[5], u"kept");
}

TEST_F(HostileFiles, LogFolderThatIsAPlainFileGetsNothingWritten) {
  m_folder.WriteBytes("hostLog", kPrecious);
  SetHostPathForTesting(m_folder.File("host.bin"));
  g_nLogLife.store(3);
  EXPECT_TRUE(LoadSettings());  // nothing to read and nothing can be made: the retention stays
  EXPECT_EQ(LogFolder(), m_folder.File("hostLog"));
  EXPECT_EQ(g_nLogLife.load(), 3);
  WriteThroughExport({u"Info", u"Main", u"Open", u"", u"dropped"});
  EXPECT_EQ(SetLogLife(30), 0);
  EXPECT_EQ(g_nLogLife.load(), 3);
  EXPECT_EQ(m_folder.ReadBytes("hostLog"), kPrecious);
  EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.Path()), fs::directory_iterator()), 1);
}

TEST_F(HostileFiles, SettingsFileInTheWayKeepsTheRetentionAndStaysAsItWas) {
  struct Case {
    const char* m_pszName;
    Trap m_nTrap;
    bool m_bLoaded;              // LoadSettings reports a retention it could read
    int32_t m_nAfterLoad;        // retention after the load; 3 stands for "kept"
    int32_t m_nAfterSetLogLife;  // SetLogLife(40) is refused every time
  };
  const Case kCases[] = {
      {"DirectoryIsNotRead", trapDirectory, false, 3, 3},
      {"LinkIsNotFollowed", trapLinkToFile, false, 3, 3},
      {"DanglingLinkCreatesNothing", trapDanglingLink, false, 3, 3},
      {"FifoDoesNotBlock", trapFifo, false, 3, 3},
      {"ReadOnlyFileIsReadButNotRewritten", trapReadOnly, true, 30, 30},
      {"FileLockedElsewhereIsNeitherReadNorRewritten", trapLockedElsewhere, false, 3, 3},
  };
  const std::string strSettings = EncodeDocument(u"<配置信息><日志保留天数>30</日志保留天数></配置信息>");
  const std::string strName = "hostLog/SettingInfo.xml";
  SetHostPathForTesting(m_folder.File("host.bin"));
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    fs::remove_all(m_folder.Path("hostLog"));
    fs::remove_all(m_folder.Path("elsewhere"));
    fs::create_directory(m_folder.Path("hostLog"));
    Lay(test.m_nTrap, strName, strSettings);
    if (!CanLay(test.m_nTrap)) {
      std::cout << "row left out, the file system cannot deny writing: " << test.m_pszName << "\n";
      Clear();
      continue;
    }
    g_nLogLife.store(3);
    EXPECT_EQ(LoadSettings(), test.m_bLoaded);
    EXPECT_EQ(g_nLogLife.load(), test.m_nAfterLoad);
    EXPECT_EQ(SetLogLife(40), 0);
    EXPECT_EQ(g_nLogLife.load(), test.m_nAfterSetLogLife);
    ExpectUntouched(test.m_nTrap, strName, strSettings);
    Clear();
  }
}

// A file the library writes that is hard-linked to a file elsewhere: the
// other file stays byte for byte, and the library's own file gets its
// content all the same, as a file of its own.
TEST_F(HostileFiles, HardLinkedFilesAreReplacedNeverWrittenThrough) {
  struct Case {
    const char* m_pszName;
    std::string m_strLinked;  // the library's name that is linked
  };
  const std::string strTemporary = kTodaysLog + "." + std::to_string(GetProcessNumber()) + ".tmp";
  const Case kCases[] = {
      {"DaysFile", kTodaysLog},
      {"SettingsFile", "SettingInfo.xml"},
      {"LeftoverTemporaryFile", strTemporary},  // the day's file is made through it
  };
  const std::string strElsewhere = EncodeDocument(kDeclaration + u"<日志/>\r\n");
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    for (const std::string& strName : {kTodaysLog, std::string("SettingInfo.xml"), strTemporary}) {
      fs::remove(m_folder.Path(strName));
    }
    fs::remove_all(m_folder.Path("elsewhere"));
    fs::create_directory(m_folder.Path("elsewhere"));
    m_folder.WriteBytes("elsewhere/target", strElsewhere);
    fs::create_hard_link(m_folder.Path("elsewhere/target"), m_folder.Path(test.m_strLinked));
    if (test.m_strLinked == "SettingInfo.xml") {
      EXPECT_EQ(SetLogLife(30), 1);
      CXmlDocument settings;
      settings.SetDocument(ReadDayText("SettingInfo.xml"));
      EXPECT_EQ(FindLogLifeData(settings), u"30");
    } else {
      WriteThroughExport({u"Info", u"Main", u"Open", u"", Widen(test.m_pszName)});
      std::vector<RecordFields> aRecords;
      ASSERT_TRUE(ReadDayRecords(ReadDayText(), aRecords));
      ASSERT_EQ(aRecords.size(), 1u);
    }
    EXPECT_EQ(m_folder.ReadBytes("elsewhere/target"), strElsewhere);
    EXPECT_EQ(fs::hard_link_count(m_folder.Path("elsewhere/target")), 1u);
  }
}

// The settings file may hold any number; a retention that cannot be held in
// 32 bits stands for "keep for ever" and is saturated, never wrapped or
// replaced by the default, either of which would delete logs the host
// asked to keep.
TEST_F(HostileFiles, RetentionBeyondThirtyTwoBitsKeepsEveryLog) {
  struct Case {
    const char16_t* m_pszData;
    int32_t m_nRetention;
    bool m_bOldLogKept;  // a log 73,000 days old
  };
  const Case kCases[] = {
      // clang-format off
      {u"99999999999", INT32_MAX, true},
      {u"4294967303", INT32_MAX, true},  // 2^32 + 7: wrapped, it would read as 7
      {u"2147483648", INT32_MAX, true},
      {u"18446744073709551623", INT32_MAX, true},  // 2^64 + 7
      {u"36500", 36500, false},
      {u"-99999999999", 0, false},
      // clang-format on
  };
  constexpr int64_t kTwoHundredYears = int64_t{73000} * 86400;
  for (const Case& test : kCases) {
    SCOPED_TRACE(std::string(test.m_pszData, test.m_pszData + std::char_traits<char16_t>::length(test.m_pszData)));
    fs::remove_all(m_folder.Path("hostLog"));
    fs::create_directory(m_folder.Path("hostLog"));
    WriteText("hostLog/SettingInfo.xml",
              u"<配置信息><日志保留天数>" + std::u16string(test.m_pszData) + u"</日志保留天数></配置信息>");
    m_folder.WriteBytes("hostLog/Vardlix20110301.xml", "old");
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(m_folder.File("hostLog/Vardlix20110301.xml"), status));
    SetClockForTesting(status.m_ctime + kTwoHundredYears);
    SetHostPathForTesting(m_folder.File("host.bin"));
    RunLoadSequence();
    EXPECT_EQ(g_nLogLife.load(), test.m_nRetention);
    EXPECT_EQ(fs::exists(m_folder.Path("hostLog/Vardlix20110301.xml")), test.m_bOldLogKept);
  }
}

}  // namespace

// A pending file far larger than a move's piece (which the test makes small)
// moves in pieces: the day's file takes every record in order, and the move
// holds little more than the day's text at any moment, where reading the
// pending file whole would hold its text several times over.
TEST_F(HostileFiles, LargePendingFileMovesInPiecesWithinBoundedHeap) {
  const size_t nLibraryPiece = g_nMovePieceUnits;
  g_nMovePieceUnits = 64 * 1024;
  constexpr size_t kRecords = 20000;
  const std::u16string strFiller(200, u'x');
  std::u16string strText = kDeclaration + u"<日志>\r\n";
  for (size_t n = 0; n < kRecords; ++n) {
    strText += RecordLines({kTimeStamp, u"Info", u"Main", u"Open", u"", Widen(std::to_string(n)) + strFiller});
  }
  strText += u"</日志>\r\n";
  m_folder.WriteBytes(kTodaysPendingFile, EncodeDocument(strText));
  CHeapPeak peak;
  WriteThroughExport({u"Info", u"Main", u"Open", u"", u"last"});
  const size_t nPeak = peak.PeakBytes();
  g_nMovePieceUnits = nLibraryPiece;

  std::vector<RecordFields> aRecords;
  ASSERT_TRUE(ReadDayRecords(ReadDayText(), aRecords));
  ASSERT_EQ(aRecords.size(), kRecords + 1);
  for (size_t n = 0; n < kRecords; n += 997) EXPECT_EQ(aRecords[n][5], Widen(std::to_string(n)) + strFiller);
  EXPECT_EQ(aRecords.back()[5], u"last");
  EXPECT_FALSE(fs::exists(m_folder.Path(kTodaysPendingFile)));
  const size_t nDayBytes = ReadDayText().size() * sizeof(char16_t);
  RecordProperty("HeapBytesPerDayByte", std::to_string(double(nPeak) / double(nDayBytes)));
  EXPECT_LE(nPeak, 4 * nDayBytes);
}
