// Reading records out of day log texts, and following a folder across days.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/text_encoding.h"
#include "reading/log_document.h"
#include "reading/log_follow.h"
#include "tool_process.h"

namespace {

std::u16string Utf16(const std::string& strText) {
  std::u16string strOut;
  EXPECT_TRUE(FromUtf8(strText, strOut));
  return strOut;
}

const char kHead[] = "<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n";

TEST(ReadLogText, DecodesEachFieldAsTheLibraryMeantIt) {
  struct {
    const char* szName;
    std::string strRecord;  // one "记录" element
    int iField;
    std::string strExpected;
  } const kCases[] = {
      {"escaped data", "<记录><时间>t</时间><参数>a&lt;b&amp;c&gt;d</参数></记录>", fieldParameters, "a<b&c>d"},
      {"quote entities", "<记录><描述>&quot;x&apos;</描述></记录>", fieldDescription, "\"x'"},
      {"cdata kept raw", "<记录><描述><![CDATA[<b>&amp;]]></描述></记录>", fieldDescription, "<b>&amp;"},
      {"empty element", "<记录><类型/><描述>d</描述></记录>", fieldType, ""},
      {"empty pair", "<记录><类型></类型></记录>", fieldType, ""},
      {"line breaks kept", "<记录><描述>one\r\ntwo</描述></记录>", fieldDescription, "one\r\ntwo"},
      {"children out of order", "<记录><描述>d</描述><类型>T</类型></记录>", fieldType, "T"},
      {"unknown child passed over", "<记录><额外>x</额外><位置>L</位置></记录>", fieldLocation, "L"},
  };
  for (const auto& c : kCases) {
    CLogText text = ReadLogText(Utf16(std::string(kHead) + "<日志>" + c.strRecord + "</日志>"), "f.xml");
    ASSERT_EQ(text.m_nOutcome, logTextRead) << c.szName;
    ASSERT_EQ(text.m_aRecords.size(), 1u) << c.szName;
    EXPECT_EQ(text.m_aRecords[0].m_aField[c.iField], c.strExpected) << c.szName;
    EXPECT_EQ(text.m_aRecords[0].m_strMarkup, c.strRecord) << c.szName;
  }
}

TEST(ReadLogText, TellsLogsFromOtherDocuments) {
  struct {
    const char* szName;
    std::string strText;
    LogTextOutcome nOutcome;
    size_t nRecords;
  } const kCases[] = {
      {"fresh file", std::string(kHead) + "<日志/>\r\n", logTextRead, 0},
      {"other elements skipped", "<日志><注释/><记录/><记录/></日志>", logTextRead, 2},
      // What the library makes of a day file that was empty: one record at the top.
      {"record at the top", "<记录><类型>T</类型></记录>", logTextRead, 1},
      {"foreign root", std::string(kHead) + "<配置信息><日志保留天数>7</日志保留天数></配置信息>", logTextNotLog, 0},
      {"blank", " \r\n", logTextEmpty, 0},
      {"declaration only", kHead, logTextMalformed, 0},
      {"end tag first", "</日志>", logTextMalformed, 0},
  };
  for (const auto& c : kCases) {
    CLogText text = ReadLogText(Utf16(c.strText), "f.xml");
    EXPECT_EQ(text.m_nOutcome, c.nOutcome) << c.szName;
    EXPECT_EQ(text.m_aRecords.size(), c.nRecords) << c.szName;
    if (c.nOutcome == logTextMalformed) {
      EXPECT_FALSE(text.m_stop.m_strMessage.empty()) << c.szName;
    }
  }
}

TEST(LocateOffset, CountsLinesAndCharactersFromOne) {
  const std::u16string strText = u"ab\r\n中\U0001F600x\nz";
  struct {
    int32_t nOffset;
    int nLine;
    int nColumn;
  } const kCases[] = {
      {0, 1, 1}, {2, 1, 3},   {4, 2, 1}, {5, 2, 2}, {7, 2, 3},  // after the surrogate pair: one column for the emoji
      {9, 3, 1}, {100, 3, 2},
  };
  for (const auto& c : kCases) {
    int nLine = 0, nColumn = 0;
    LocateOffset(strText, c.nOffset, nLine, nColumn);
    EXPECT_EQ(nLine, c.nLine) << c.nOffset;
    EXPECT_EQ(nColumn, c.nColumn) << c.nOffset;
  }
}

std::vector<std::string> TypesOf(const std::vector<CLogRecord>& aRecords) {
  std::vector<std::string> aTypes;
  for (const auto& record : aRecords) aTypes.push_back(record.m_aField[fieldType]);
  return aTypes;
}

std::vector<std::string> Record(const std::string& strType) { return {"2011.04.08 23:59:59", strType, "", "", "", ""}; }

TEST(LogFollower, PassesOnEachRecordOnceAndMovesToTheNextDay) {
  CScratchFolder folder;
  const CDay day1{2011, 4, 8}, day2{2011, 4, 9};
  const std::string strDay1 = folder.Path("Vardlix20110408.xml"), strDay2 = folder.Path("Vardlix20110409.xml");
  WriteUtf16File(strDay1, MakeLogText({Record("a"), Record("b"), Record("c")}));

  CLogFollower follower(folder.Path());
  EXPECT_EQ(TypesOf(follower.Start(day1)), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(follower.Poll(day1).empty());

  WriteUtf16File(strDay1, MakeLogText({Record("a"), Record("b"), Record("c"), Record("d")}));
  EXPECT_EQ(TypesOf(follower.Poll(day1)), (std::vector<std::string>{"d"}));

  // A record that reached the old file just before midnight still comes out,
  // and the new day's file is followed from its first record.
  WriteUtf16File(strDay1, MakeLogText({Record("a"), Record("b"), Record("c"), Record("d"), Record("e")}));
  WriteUtf16File(strDay2, MakeLogText({Record("f")}));
  EXPECT_EQ(TypesOf(follower.Poll(day2)), (std::vector<std::string>{"e", "f"}));
  EXPECT_EQ(FormatDayStamp(follower.WatchedDay()), "20110409");
  EXPECT_TRUE(follower.Poll(day2).empty());
}

TEST(LogFollower, WaitsForAMissingFileAndWarnsOnceAboutABrokenOne) {
  CScratchFolder folder;
  const CDay day{2011, 4, 8};
  CLogFollower follower(folder.Path());
  EXPECT_TRUE(follower.Start(day).empty());
  EXPECT_TRUE(follower.Poll(day).empty());
  EXPECT_TRUE(follower.TakeWarning().empty());

  WriteUtf16File(folder.Path("Vardlix20110408.xml"), "<日志><记录>");
  int nWarnings = 0;
  for (int i = 0; i < 8; ++i) {
    EXPECT_TRUE(follower.Poll(day).empty());
    nWarnings += follower.TakeWarning().empty() ? 0 : 1;
  }
  EXPECT_EQ(nWarnings, 1);

  // Records the library appended behind the damage are followed, with one
  // warning that names the damage.
  std::string strRecord = MakeLogText({Record("a")});
  strRecord = strRecord.substr(strRecord.find("<记录>"), strRecord.rfind("</日志>") - strRecord.find("<记录>"));
  WriteUtf16File(folder.Path("Vardlix20110408.xml"), "<日志><记录>" + strRecord);
  EXPECT_EQ(TypesOf(follower.Poll(day)), (std::vector<std::string>{"a"}));
  EXPECT_NE(follower.TakeWarning().find("damaged text at 1:5-1:8 (0 records before it, 1 after)"), std::string::npos);

  WriteUtf16File(folder.Path("Vardlix20110408.xml"), MakeLogText({Record("a"), Record("b")}));
  EXPECT_EQ(TypesOf(follower.Poll(day)), (std::vector<std::string>{"b"}));
}

std::vector<std::vector<std::string>> Records(const std::vector<std::string>& aTypes) {
  std::vector<std::vector<std::string>> aRecords;
  for (const auto& strType : aTypes) aRecords.push_back(Record(strType));
  return aRecords;
}

// The follower reads what the library adds in front of "</日志>" and no more;
// a file that changed in any other way is read whole again, and each of its
// records is passed on once: the new ones, not those passed on before.
TEST(LogFollower, ReadsWhatWasAddedAndAChangedFileWholeAgainEachRecordOnce) {
  enum Change { inPlace, byRename };
  struct {
    const char* szName;
    std::vector<std::string> aAfter;  // the file's records after the change
    Change nChange;
    std::vector<std::string> aExpected;  // what the poll after it passes on
  } const kCases[] = {
      {"grown in place", {"a", "b", "c", "d"}, inPlace, {"d"}},
      {"replaced by the library's rename, bytes kept", {"a", "b", "c", "d", "e"}, byRename, {"d", "e"}},
      {"replaced by another file", {"x", "y"}, byRename, {"x", "y"}},
      {"replaced by a file that starts alike", {"a", "b", "x", "c"}, byRename, {"x"}},
      {"shrunk", {"a", "b"}, inPlace, {}},
      {"shrunk and grown past its size",
       {"a", "b", "yyyyyyyyyyyyyyyyyyyy", "zzzzzzzzzzzzzzzzzzzz"},
       inPlace,
       {"yyyyyyyyyyyyyyyyyyyy", "zzzzzzzzzzzzzzzzzzzz"}},
      {"rewritten in place, one record changed", {"a", "B", "c", "d"}, inPlace, {"B", "d"}},
      {"rewritten in place, a record put in before the others", {"n", "a", "b", "c"}, inPlace, {"n"}},
      {"damaged and mended", {"a", "b", "c"}, inPlace, {}},
  };
  for (const auto& c : kCases) {
    CScratchFolder folder;
    const CDay day{2011, 4, 8};
    const std::string strPath = folder.Path("Vardlix20110408.xml");
    WriteUtf16File(strPath, MakeLogText(Records({"a", "b", "c"})));
    CLogFollower follower(folder.Path());
    EXPECT_EQ(TypesOf(follower.Start(day)), (std::vector<std::string>{"a", "b", "c"})) << c.szName;
    if (std::string(c.szName) == "damaged and mended") {
      std::string strCut = MakeLogText(Records({"a", "b", "c"}));
      WriteUtf16File(strPath, strCut.substr(0, strCut.rfind("<类型>c")));
      EXPECT_TRUE(follower.Poll(day).empty()) << c.szName;
    }
    if (c.nChange == inPlace) {
      WriteUtf16File(strPath, MakeLogText(Records(c.aAfter)));
    } else {
      WriteUtf16File(strPath + ".1.tmp", MakeLogText(Records(c.aAfter)));
      std::filesystem::rename(strPath + ".1.tmp", strPath);
    }
    EXPECT_EQ(TypesOf(follower.Poll(day)), c.aExpected) << c.szName;
    // Whatever came before, the next record the library adds is passed on
    // once, with its index in the file.
    std::vector<std::string> aGrown = c.aAfter;
    aGrown.push_back("next");
    WriteUtf16File(strPath, MakeLogText(Records(aGrown)));
    EXPECT_EQ(TypesOf(follower.Poll(day)), (std::vector<std::string>{"next"})) << c.szName;
    ASSERT_EQ(follower.LastIndexes().size(), 1u) << c.szName;
    EXPECT_EQ(follower.LastIndexes()[0], c.aAfter.size()) << c.szName;
    EXPECT_TRUE(follower.Poll(day).empty()) << c.szName;
  }
}

}  // namespace
