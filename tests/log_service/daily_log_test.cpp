// The daily log writer: the file's exact text, what becomes of empty and
// longer files, and many writers at once.
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <climits>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

#include "markup/markup.h"
#include "platform/platform_files.h"
#include "platform/unicode_text.h"
#include "service/daily_log.h"
#include "service_fixture.h"
#include "support/day_records.h"
#include "support/shell_command.h"
#include "support/test_text.h"
#include "vardlix.h"

namespace {

const std::string kTodaysLog = "Vardlix20110408.xml";
const std::u16string kDeclaration = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n";

// The eight lines of one record as the writer lays them out.
std::u16string RecordLines(const std::u16string& strTime, const std::u16string& strType,
                           const std::u16string& strDescription) {
  return u"<记录>\r\n<时间>" + strTime + u"</时间>\r\n<类型>" + strType +
         u"</类型>\r\n<位置>Main</位置>\r\n<操作>Open</操作>\r\n<参数>a&amp;b</参数>\r\n" +
         (strDescription.empty() ? u"<描述/>" : u"<描述>" + strDescription + u"</描述>") + u"\r\n</记录>\r\n";
}

const std::u16string kOneRecordDay =
    kDeclaration + u"<日志>\r\n" + RecordLines(u"2011.04.08 09:05:03", u"Info", u"") + u"</日志>\r\n";

void WriteRecordOfInfo(const char16_t* szType = u"Info", const char16_t* szDescription = u"") {
  WriteHostRecord(szType, u"Main", u"Open", u"a&b", szDescription);
}

// Every description of the records in a day's file, checking that the file
// is one well-formed document whose root holds only complete records.
std::vector<std::u16string> ReadDescriptions(const std::u16string& strText) {
  std::vector<RecordFields> aRecords;
  std::u16string strError;
  EXPECT_TRUE(ReadDayRecords(strText, aRecords, &strError)) << Narrow(strError);
  std::vector<std::u16string> aDescriptions;
  for (const RecordFields& fields : aRecords) aDescriptions.push_back(fields[5]);
  return aDescriptions;
}

class DailyLogTest : public CServiceTest {};

TEST_F(DailyLogTest, FirstCallOfDayWritesAOneRecordFileLineByLine) {
  WriteRecordOfInfo();
  EXPECT_EQ(m_folder.ReadBytes(kTodaysLog), EncodeDocument(kOneRecordDay));
}

TEST_F(DailyLogTest, LaterRecordsGoBehindTheLastOne) {
  WriteRecordOfInfo();
  SetClockForTesting(kApril8th2011At090503 + 60);
  WriteRecordOfInfo(u"Warn", u"x<y\r\nz>");
  EXPECT_EQ(ReadText(kTodaysLog), kDeclaration + u"<日志>\r\n" + RecordLines(u"2011.04.08 09:05:03", u"Info", u"") +
                                      RecordLines(u"2011.04.08 09:06:03", u"Warn", u"x&lt;y\r\nz&gt;") +
                                      u"</日志>\r\n");
}

TEST_F(DailyLogTest, LogFolderRemovedByAnotherProgramIsMadeAgain) {
  LogFolder() = m_folder.File("hostLog");
  std::filesystem::create_directory(m_folder.Path("hostLog"));
  WriteRecordOfInfo();
  std::filesystem::remove_all(m_folder.Path("hostLog"));
  WriteRecordOfInfo();
  EXPECT_EQ(m_folder.ReadBytes("hostLog/" + kTodaysLog), EncodeDocument(kOneRecordDay));
}

TEST_F(DailyLogTest, RetentionZeroTouchesNoFile) {
  g_nLogLife.store(0);
  WriteRecordOfInfo();
  EXPECT_TRUE(std::filesystem::is_empty(m_folder.Path()));
}

TEST_F(DailyLogTest, UnconvertibleDateStillNamesAFile) {
  SetClockForTesting(INT64_MAX);
  WriteRecordOfInfo();
  EXPECT_TRUE(Exists("Vardlix   00000.xml"));
}

TEST_F(DailyLogTest, ExistingContentDecidesWhatTheRecordJoins) {
  struct Case {
    const char* m_pszName;
    std::string m_strBefore;
    std::string m_strAfter;
  };
  const std::u16string kForeign = kDeclaration + u"<other>\r\n</other>\r\n";
  const Case kCases[] = {
      // A creator that stopped before its first write left these behind.
      {"ZeroBytesStartLikeNewFile", "", EncodeDocument(kOneRecordDay)},
      {"LoneMarkStartsLikeNewFile", "\xFF\xFE", EncodeDocument(kOneRecordDay)},
      {"ZeroFilledFileStartsLikeNewFile", std::string(4096, '\0'), EncodeDocument(kOneRecordDay)},
#ifndef _WIN32
      // Narrow text is UTF-8 here; Windows reads it in the ANSI code page,
      // which cannot hold the root's name.
      {"NarrowFileIsRewrittenAsUtf16", "<?xml version=\"1.0\"?>\r\n<\xE6\x97\xA5\xE5\xBF\x97/>\r\n",
       EncodeDocument(u"<?xml version=\"1.0\"?>\r\n<日志>\r\n" + RecordLines(u"2011.04.08 09:05:03", u"Info", u"") +
                      u"</日志>\r\n")},
#endif
      {"ForeignRootIsLeftAsItWas", EncodeDocument(kForeign), EncodeDocument(kForeign)},
      {"LongerOldContentIsCut", EncodeDocument(kDeclaration + u"<日志/>\r\n" + std::u16string(1, u'\0') + u"tail"),
       EncodeDocument(kOneRecordDay)},
  };
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    m_folder.WriteBytes(kTodaysLog, test.m_strBefore);
    WriteRecordOfInfo();
    EXPECT_EQ(m_folder.ReadBytes(kTodaysLog), test.m_strAfter);
  }
}

TEST_F(DailyLogTest, EnsureCreatesOnlyMissingFiles) {
  struct Case {
    const char* m_pszName;
    const char* m_pszBefore;  // nullptr: no file
    bool m_bResult;
    std::string m_strAfter;
  };
  const Case kCases[] = {
      {"MissingFileGetsRoot", nullptr, true, EncodeDocument(kDeclaration + u"<日志/>\r\n")},
      {"ExistingFileIsNotEmptied", "abc", true, "abc"},
      {"EmptyFileIsLeftToTheWriter", "", true, ""},
  };
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    std::filesystem::remove(m_folder.Path(kTodaysLog));
    if (test.m_pszBefore != nullptr) m_folder.WriteBytes(kTodaysLog, test.m_pszBefore);
    EXPECT_EQ(EnsureDailyLogFile(m_folder.File(kTodaysLog)), test.m_bResult);
    EXPECT_EQ(m_folder.ReadBytes(kTodaysLog), test.m_strAfter);
  }
  EXPECT_FALSE(EnsureDailyLogFile(m_folder.File("missing/" + kTodaysLog)));
}

TEST_F(DailyLogTest, CharactersXmlForbidsAreWrittenAsStandIns) {
  struct Case {
    const char* m_pszName;
    std::u16string m_strHost;    // what the host passes in each of the five texts
    std::u16string m_strStored;  // what each of them reads back as
  };
  // Hex escapes end at the first character that is no hex digit.
  const Case kCases[] = {
      {"FirstC0ControlIsItsPicture", u"\x01", u"\x2401"},
      {"BackspaceIsItsPicture", u"\x08", u"\x2408"},
      {"VerticalTabIsItsPicture", u"\x0B", u"\x240B"},
      {"FormFeedIsItsPicture", u"\x0C", u"\x240C"},
      {"ShiftOutIsItsPicture", u"\x0E", u"\x240E"},
      {"LastC0ControlIsItsPicture", u"\x1F", u"\x241F"},
      {"BellIsItsPicture", u"ding\x07!", u"ding\x2407!"},
      {"ColourCodesKeepTheirTextAroundEscapePictures", u"\x1B[31mred\x1B[0m", u"\x241B[31mred\x241B[0m"},
      {"NonCharacterFFFEIsReplacementCharacter", u"\xFFFE", u"\xFFFD"},
      {"NonCharacterFFFFIsReplacementCharacter", u"x\xFFFF", u"x\xFFFD"},
      {"LoneHighSurrogateAtEndIsReplacementCharacter", u"x\xD800", u"x\xFFFD"},
      {"LoneHighSurrogateBeforeOtherTextIsReplacementCharacter", u"\xDBFFx", u"\xFFFDx"},
      {"LoneLowSurrogateIsReplacementCharacter", u"\xDC00x", u"\xFFFDx"},
      {"ReversedPairIsTwoReplacementCharacters", u"\xDC00\xD800", u"\xFFFD\xFFFD"},
      {"PairAfterLoneHighSurrogateStays", u"\xD800\xD840\xDC00", u"\xFFFD\xD840\xDC00"},
      {"PairsTabLineEndsDelAndC1ControlsStay", u"\xD840\xDC00\xD83D\xDE00\t\r\n\x7F\x80\x9F\xD7FF\xE000\xFFFD",
       u"\xD840\xDC00\xD83D\xDE00\t\r\n\x7F\x80\x9F\xD7FF\xE000\xFFFD"},
  };
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    std::filesystem::remove(m_folder.Path(kTodaysLog));
    const char16_t* szHost = test.m_strHost.c_str();
    WriteHostRecord(szHost, szHost, szHost, szHost, szHost);
    std::vector<RecordFields> aRecords;
    ASSERT_TRUE(ReadDayRecords(ReadText(kTodaysLog), aRecords));
    ASSERT_EQ(aRecords.size(), 1u);
    for (size_t nField = 1; nField < aRecords[0].size(); ++nField) {
      EXPECT_EQ(Narrow(aRecords[0][nField]), Narrow(test.m_strStored)) << nField;
    }
  }
}

// Records that an earlier library left waiting with the characters raw are
// moved in with the stand-ins.
TEST_F(DailyLogTest, WaitingRecordsMoveInWithStandIns) {
  WriteText(
      "Vardlix20110408.pending",
      kDeclaration + u"<日志>\r\n" + RecordLines(u"2011.04.08 09:05:03", u"Old\x1B", u"\xFFFF\xD800") + u"</日志>\r\n");
  WriteRecordOfInfo();
  EXPECT_EQ(ReadText(kTodaysLog), kDeclaration + u"<日志>\r\n" +
                                      RecordLines(u"2011.04.08 09:05:03", u"Old\x241B", u"\xFFFD\xFFFD") +
                                      RecordLines(u"2011.04.08 09:05:03", u"Info", u"") + u"</日志>\r\n");
  EXPECT_FALSE(Exists("Vardlix20110408.pending"));
}

// A pending file that breaks off gives up its complete records, ahead of
// the call's own, and is then removed; its whole text is kept aside.
TEST_F(DailyLogTest, PendingFileThatBreaksOffGivesUpItsCompleteRecords) {
  const std::u16string strTwo = kDeclaration + u"<日志>\r\n" + RecordLines(u"2011.04.08 09:05:03", u"Old", u"1") +
                                RecordLines(u"2011.04.08 09:05:03", u"Old", u"2");
  struct Case {
    const char* m_pszName;
    std::u16string m_strPending;
  };
  const Case kCases[] = {
      {"CutInsideARecord", strTwo + u"<记录>\r\n<时间>2011.04"},
      {"CutBehindARecord", strTwo},
      {"DamagedBehindARecord", strTwo + u"<记录>\r\n<<<\r\n</日志>\r\n"},
  };
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    std::filesystem::remove(m_folder.Path(kTodaysLog));
    WriteText("Vardlix20110408.pending", test.m_strPending);
    WriteRecordOfInfo(u"Info", u"3");
    EXPECT_EQ(ReadDescriptions(ReadText(kTodaysLog)), (std::vector<std::u16string>{u"1", u"2", u"3"}));
    EXPECT_FALSE(Exists("Vardlix20110408.pending"));
    size_t nAside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path())) {
      if (entry.path().extension() != ".damaged") continue;
      EXPECT_EQ(DecodeDocument(m_folder.ReadBytes(entry.path().filename().string())), test.m_strPending);
      std::filesystem::remove(entry.path());
      ++nAside;
    }
    EXPECT_EQ(nAside, 1u);
  }
}

// The host's characters are wchar_t on Windows and char16_t elsewhere, UTF-16
// code units either way.
const VardlixChar* HostText(const char16_t* pszText) { return reinterpret_cast<const VardlixChar*>(pszText); }

TEST_F(DailyLogTest, ExportTakesNullTextAsEmpty) {
  const CVardlixString strText = {HostText(u"Info")};
  const CVardlixString strNull = {nullptr};
  const CVardlixString strMain = {HostText(u"Main")};
  const CVardlixString strOpen = {HostText(u"Open")};
  const CVardlixString strAmp = {HostText(u"a&b")};
  WriteVardlix(strText, strMain, strOpen, strAmp, strNull);
  EXPECT_EQ(ReadText(kTodaysLog), kOneRecordDay);
}

TEST_F(DailyLogTest, ExportDropsRecordWhenFileCannotBeRead) {
  std::filesystem::create_directory(m_folder.Path(kTodaysLog));  // a folder in the file's place
  const CVardlixString strText = {HostText(u"x")};
  EXPECT_NO_THROW(WriteVardlix(strText, strText, strText, strText, strText));
  EXPECT_TRUE(std::filesystem::is_directory(m_folder.Path(kTodaysLog)));
}

#ifndef _WIN32
// Python's expat and libxml2 refuse a whole file for one character that XML
// forbids. No pair here: xmllint takes the declared encoding "unicode" for
// UCS-2, which has none.
TEST_F(DailyLogTest, StandardXmlReadersTakeEveryForbiddenCharacter) {
  const std::u16string strForbidden =
      u"\x01\x08\x0B\x0C\x0E\x1F\x1B\x07\xFFFE\xFFFF\xD800-\xDBFF-\xDC00-\xDFFF-\xDC00\xD800";
  const CVardlixString strText = {HostText(strForbidden.c_str())};
  WriteVardlix(strText, strText, strText, strText, strText);
  const std::string strFolder = m_folder.Path().string();
  std::string strOutput;
  ASSERT_TRUE(RunCommand("python3 '" VARDLIX_XML_RECORDS_SCRIPT "' '" + strFolder + "'", strOutput)) << strOutput;
  const std::string strStored = ToValidUtf8(
      u"\x2401\x2408\x240B\x240C\x240E\x241F\x241B\x2407\xFFFD\xFFFD\xFFFD-\xFFFD-\xFFFD-\xFFFD-\xFFFD\xFFFD");
  EXPECT_EQ(strOutput, "Vardlix20110408 ok " + strStored + ":" + strStored + "\n");
  EXPECT_TRUE(RunCommand("xmllint --noout '" + strFolder + "/" + kTodaysLog + "' 2>&1", strOutput)) << strOutput;
}
#endif

constexpr int kWriters = 6;
constexpr int kRecordsPerWriter = 40;

std::u16string Tag(int nWriter, int nRecord) {
  const std::string str = std::to_string(nWriter) + "-" + std::to_string(nRecord);
  return std::u16string(str.begin(), str.end());
}

void ExpectEveryRecordOnce(const std::u16string& strText) {
  const std::vector<std::u16string> aDescriptions = ReadDescriptions(strText);
  const std::set<std::u16string> setDescriptions(aDescriptions.begin(), aDescriptions.end());
  EXPECT_EQ(aDescriptions.size(), size_t{kWriters * kRecordsPerWriter});
  EXPECT_EQ(setDescriptions.size(), aDescriptions.size());
  for (int w = 0; w < kWriters; ++w) {
    for (int r = 0; r < kRecordsPerWriter; ++r) EXPECT_EQ(setDescriptions.count(Tag(w, r)), 1u) << w << "-" << r;
  }
}

TEST_F(DailyLogTest, ThreadsWritingAtOnceLoseNoRecord) {
  std::vector<std::thread> aThreads;
  for (int w = 0; w < kWriters; ++w) {
    aThreads.emplace_back([w] {
      for (int r = 0; r < kRecordsPerWriter; ++r) WriteRecordOfInfo(u"Thread", Tag(w, r).c_str());
    });
  }
  for (std::thread& thread : aThreads) thread.join();
  ExpectEveryRecordOnce(ReadText(kTodaysLog));
}

// Windows has no fork: there, two host processes write at once through the
// real DLL in tests/windows.
#ifndef _WIN32
TEST_F(DailyLogTest, ProcessesWritingAtOnceLoseNoRecord) {
  std::vector<pid_t> aChildren;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t nChild = fork();
    ASSERT_NE(nChild, -1);
    if (nChild == 0) {
      for (int r = 0; r < kRecordsPerWriter; ++r) WriteRecordOfInfo(u"Process", Tag(w, r).c_str());
      _exit(0);
    }
    aChildren.push_back(nChild);
  }
  for (pid_t nChild : aChildren) {
    int nStatus = 0;
    ASSERT_EQ(waitpid(nChild, &nStatus, 0), nChild);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
  }
  ExpectEveryRecordOnce(ReadText(kTodaysLog));
}
#endif

}  // namespace
