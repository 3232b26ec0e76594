// Hostile documents: through the engine, as the day's file that a record is
// written into, and as the settings file read at load. Every row has one
// outcome, and no row may take heap beyond a small multiple of its own size.
#include <string>
#include <vector>

#include "heap_peak.h"
#include "hostile_fixture.h"
#include "platform/unicode_text.h"
#include "service/settings.h"

namespace {

// A day's file as the library writes it, with one record of an earlier call.
const std::u16string kEarlierLog = kDeclaration + u"<日志>\r\n<记录>\r\n<描述>earlier</描述>\r\n</记录>\r\n</日志>\r\n";

// Levels a real document never comes near; the parser stops at 1,024.
constexpr int kHostileDepth = 200000;
// Ten million code units without a '<'.
constexpr size_t kLongTextUnits = 10u << 20;

std::u16string Repeat(const std::u16string& strPiece, size_t nCount) {
  std::u16string str;
  str.reserve(strPiece.size() * nCount);
  for (size_t i = 0; i < nCount; ++i) str += strPiece;
  return str;
}

std::u16string WithZeroUnit(const std::u16string& strBefore, const std::u16string& strAfter) {
  return strBefore + std::u16string(1, u'\0') + strAfter;
}

std::string Utf16BigEndian(const std::u16string& strText) {
  std::string str;
  for (char16_t c : strText) {
    str += static_cast<char>(c >> 8);
    str += static_cast<char>(c & 0xFF);
  }
  return str;
}

// ---------------------------------------------------------------------------
// Through the engine
// ---------------------------------------------------------------------------

struct TextCase {
  const char* m_pszName;
  std::u16string m_strText;
  bool m_bParses;
  std::u16string m_strOutcome;  // the parse message, or the top element's data
};

std::vector<TextCase> MakeTextCases() {
  const std::u16string strDeepOpen = Repeat(u"<a>", kHostileDepth);
  const std::u16string strDeepClose = Repeat(u"</a>", kHostileDepth);
  return {
      {"NestingTwoHundredThousandDeepIsRefusedAtTheBound", strDeepOpen + strDeepClose, false,
       u"Elements nested too deeply in a"},
      {"NestingAtTheBoundParses", Repeat(u"<a>", 1024) + u"x" + Repeat(u"</a>", 1024), true, u""},
      {"TenMillionUnitsWithoutATagHoldNoElement", std::u16string(kLongTextUnits, u'x'), false,
       u"Element tag not found"},
      {"UnterminatedCommentIsAnInvalidNode", u"<r><!-- never closed -- >", false, u"Invalid node"},
      {"UnterminatedCommentBeforeTheTopIsAnInvalidNode", u"<!-- <r/>", false, u"Invalid node"},
      {"UnterminatedCDataSectionIsAnInvalidNode", u"<r><![CDATA[ <x/> ]]", false, u"Invalid node"},
      {"UnterminatedDeclarationIsAnInvalidNode", u"<!DOCTYPE r [ <!ENTITY e 'x'> <r/>", false, u"Invalid node"},
      {"UnterminatedProcessingInstructionIsAnInvalidNode", u"<?xml version='1.0' <r/>", false, u"Invalid node"},
      {"LessThanAtTheVeryEndIsAnAbruptEnd", u"<r>text<", false, u"Abrupt end within tag"},
      {"LoneLessThanIsAnAbruptEnd", u"<", false, u"Abrupt end within tag"},
      {"ZeroUnitInsideTheTopEndsTheText", WithZeroUnit(u"<r>ab", u"cd</r>"), false, u"Element tag not found"},
      {"ZeroUnitBehindTheTopIsNeverReached", WithZeroUnit(u"<r>ab</r>", u"<"), true, u"ab"},
      {"LoneSurrogatesAreDataLikeAnyOther", u"<r>\xD800-\xDC00-\xDBFF\xD800</r>", true, u"\xD800-\xDC00-\xDBFF\xD800"},
      {"LoneSurrogateNameMatchesItsEndTag", u"<\xDC00>x</\xDC00>", true, u"x"},
      {"ByteOrderMarkCharacterBeforeTheTopIsSkipped", u"\xFEFF<r>x</r>", true, u"x"},
      {"SwappedByteOrderMarkCharacterBeforeTheTopIsSkipped", u"\xFFFE<r>x</r>", true, u"x"},
  };
}

// Visits every element through the navigation calls, as deep as they go.
size_t CountElements(CXmlDocument& doc) {
  size_t nCount = 0;
  int nDepth = 0;
  for (;;) {
    if (doc.FindNextElement()) {
      ++nCount;
      (void)doc.GetTagName(doc.GetCurrentElement());
      (void)doc.GetCurrentData();
      doc.EnterElement();
      ++nDepth;
    } else if (nDepth > 0 && doc.LeaveElement()) {
      --nDepth;
    } else {
      return nCount;
    }
  }
}

TEST(HostileDocuments, EngineGivesEachTextItsOutcomeWithinBoundedHeap) {
  for (const TextCase& test : MakeTextCases()) {
    SCOPED_TRACE(test.m_pszName);
    const size_t nTextBytes = test.m_strText.size() * sizeof(char16_t);
    CHeapPeak peak;
    CXmlDocument doc;
    const bool bParsed = doc.SetDocument(test.m_strText);
    const size_t nElements = CountElements(doc);
    RecordProperty(std::string(test.m_pszName) + "_HeapBytesPerInputByte",
                   std::to_string(double(peak.PeakBytes()) / double(nTextBytes)));
    EXPECT_LE(peak.PeakBytes(), HeapBound(nTextBytes));
    ASSERT_EQ(bParsed, test.m_bParses);
    if (bParsed) {
      EXPECT_GE(nElements, 1u);
      EXPECT_EQ(doc.GetElementData(doc.LocateElement(0, 0, nullptr)), test.m_strOutcome);
    } else {
      EXPECT_EQ(nElements, 0u);
      EXPECT_EQ(doc.GetParseError(), test.m_strOutcome);
    }
    EXPECT_TRUE(SameContent(doc.ViewDocument(), test.m_strText));  // a parse never changes the text
  }
}

TEST(HostileDocuments, EngineAddsATopElementBehindTextThatHoldsNone) {
  for (const TextCase& test : MakeTextCases()) {
    if (test.m_bParses) continue;
    SCOPED_TRACE(test.m_pszName);
    CXmlDocument doc;
    doc.SetDocument(test.m_strText);
    ASSERT_TRUE(doc.AddElement(u"记录", u"x<y"));
    // A text of one unit gives the document level the shape of a start tag
    // directly followed by its end tag, which takes a line break in front.
    const std::u16string strBreak = test.m_strText.size() == 1 ? u"\r\n" : u"";
    EXPECT_TRUE(SameContent(doc.ViewDocument(), test.m_strText + strBreak + u"<记录>x&lt;y</记录>\r\n"));
    EXPECT_EQ(doc.GetCurrentData(), u"x<y");
  }
}

// ---------------------------------------------------------------------------
// As the day's file
// ---------------------------------------------------------------------------

enum RecordPlace {
  placeInRoot,     // the kept text parses: the record goes behind the root's last one
  placeAfterText,  // the kept text holds no element: the record follows it as the top element
  placeNowhere,    // bytes that could not be read follow the text: the file stays as it was
};

struct DayFileCase {
  const char* m_pszName;
  std::string m_strBytes;    // the day's file before the call
  std::u16string m_strKept;  // the text the library reads from it and keeps
  RecordPlace m_nPlace;
};

std::vector<DayFileCase> MakeDayFileCases() {
  const std::u16string strDeep = kDeclaration + u"<日志>\r\n" + Repeat(u"<a>", kHostileDepth);
  const std::u16string strLong(kLongTextUnits, u'x');
  const std::u16string strComment = kDeclaration + u"<日志>\r\n<!-- cut off";
  const std::u16string strCData = kDeclaration + u"<日志>\r\n<![CDATA[ cut off ]]";
  const std::u16string strDeclaration = u"<!DOCTYPE 日志 [ <!ENTITY e 'x'>\r\n" + kEarlierLog;
  const std::u16string strLessThan = kEarlierLog + u"<";
  const std::u16string strHeadOfRoot = kDeclaration + u"<日志>\r\n";
  const std::u16string strSurrogates =
      kDeclaration + u"<日志>\r\n<记录>\r\n<描述>\xD800x\xDC00</描述>\r\n</记录>\r\n</日志>\r\n";
  return {
      {"NestingTwoHundredThousandDeepGetsTheRecordBehindIt", EncodeDocument(strDeep), strDeep, placeAfterText},
      {"TenMillionUnitsWithoutATagGetTheRecordBehindThem", EncodeDocument(strLong), strLong, placeAfterText},
      {"UnterminatedCommentGetsTheRecordBehindIt", EncodeDocument(strComment), strComment, placeAfterText},
      {"UnterminatedCDataSectionGetsTheRecordBehindIt", EncodeDocument(strCData), strCData, placeAfterText},
      {"UnterminatedDeclarationGetsTheRecordBehindIt", EncodeDocument(strDeclaration), strDeclaration, placeAfterText},
      // Only one top element is parsed: what follows the root is never read.
      {"LessThanAtTheVeryEndLeavesTheRootWhole", EncodeDocument(strLessThan), strLessThan, placeInRoot},
      {"ZeroUnitInsideTheRootLeavesTheFileAsItWas", EncodeDocument(WithZeroUnit(strHeadOfRoot, u"</日志>\r\n")),
       strHeadOfRoot, placeNowhere},
      {"ZeroUnitsBehindTheRootAreCutAway", EncodeDocument(kEarlierLog + std::u16string(64, u'\0')), kEarlierLog,
       placeInRoot},
      {"LoneSurrogatesOfEarlierRecordsStay", EncodeDocument(strSurrogates), strSurrogates, placeInRoot},
      {"OddByteBehindTheTextIsDropped", EncodeDocument(kEarlierLog) + "A", kEarlierLog, placeInRoot},
      {"OddByteCountWithoutMarkIsNarrowText", "\xFF\x41\x42", u"\u00FF\x41\x42", placeAfterText},
      // Nothing but the mark: started like a new file.
      {"MarkWithAnOddByteStartsLikeANewFile", "\xFF\xFE\x41", kDeclaration + u"<日志>\r\n</日志>\r\n", placeInRoot},
      {"Utf8MarkStaysAsTheFirstCharacter", "\xEF\xBB\xBF" + ToValidUtf8(kEarlierLog), u"\xFEFF" + kEarlierLog,
       placeInRoot},
      // Not recognised: narrow text, which ends at the first zero byte.
      {"BigEndianMarkIsNarrowTextUpToTheFirstZeroByte", "\xFE\xFF" + Utf16BigEndian(kEarlierLog), u"\u00FE\u00FF",
       placeAfterText},
      // Zeros alone behind a zero hold nothing: the file is started afresh.
      {"ZeroBytesOnlyStartLikeANewFile", std::string(64, '\0'), kDeclaration + u"<日志>\r\n</日志>\r\n", placeInRoot},
  };
}

class HostileDocumentFiles : public CHostileTest {};

const RecordArguments kArguments = {u"Hostile", u"Main", u"Open", u"", u"after"};

std::u16string ExpectedDayText(const DayFileCase& test) {
  const std::u16string strRecord =
      RecordLines({kTimeStamp, kArguments[0], kArguments[1], kArguments[2], kArguments[3], kArguments[4]});
  if (test.m_nPlace == placeAfterText) return test.m_strKept + strRecord;
  std::u16string strText = test.m_strKept;
  return strText.insert(strText.rfind(u"</日志>"), strRecord);
}

TEST_F(HostileDocumentFiles, DayFileKeepsWhatCouldBeReadAndTakesTheRecord) {
  for (const DayFileCase& test : MakeDayFileCases()) {
    SCOPED_TRACE(test.m_pszName);
    m_folder.WriteBytes(kTodaysLog, test.m_strBytes);
    CHeapPeak peak;
    WriteThroughExport(kArguments);
    RecordProperty(std::string(test.m_pszName) + "_HeapBytesPerInputByte",
                   std::to_string(double(peak.PeakBytes()) / double(test.m_strBytes.size())));
    EXPECT_LE(peak.PeakBytes(), HeapBound(test.m_strBytes.size()));
    const std::string strExpected =
        test.m_nPlace == placeNowhere ? test.m_strBytes : EncodeDocument(ExpectedDayText(test));
    EXPECT_TRUE(SameContent(m_folder.ReadBytes(kTodaysLog), strExpected));
  }
}

// A root that parses keeps taking records: the hostile part never grows.
TEST_F(HostileDocumentFiles, DayFileThatParsesTakesEveryLaterRecordInItsRoot) {
  for (const DayFileCase& test : MakeDayFileCases()) {
    if (test.m_nPlace != placeInRoot) continue;
    SCOPED_TRACE(test.m_pszName);
    m_folder.WriteBytes(kTodaysLog, test.m_strBytes);
    std::vector<RecordFields> aBefore;
    ASSERT_TRUE(ReadDayRecords(test.m_strKept, aBefore));
    for (int n = 0; n < 3; ++n) WriteThroughExport(kArguments);
    std::vector<RecordFields> aAfter;
    ASSERT_TRUE(ReadDayRecords(ReadDayText(), aAfter));
    ASSERT_EQ(aAfter.size(), aBefore.size() + 3);
    EXPECT_TRUE(std::equal(aBefore.begin(), aBefore.end(), aAfter.begin()));
    EXPECT_EQ(aAfter.back()[5], kArguments[4]);
  }
}

// ---------------------------------------------------------------------------
// As the settings file
// ---------------------------------------------------------------------------

TEST_F(HostileDocumentFiles, SettingsFileOfAHostileTextGivesTheDefaultAndStaysAsItWas) {
  std::filesystem::create_directory(m_folder.Path("hostLog"));
  SetHostPathForTesting(m_folder.File("host.bin"));
  for (const TextCase& test : MakeTextCases()) {
    SCOPED_TRACE(test.m_pszName);
    const std::string strBytes = EncodeDocument(test.m_strText);
    m_folder.WriteBytes("hostLog/SettingInfo.xml", strBytes);
    g_nLogLife.store(-1);
    CHeapPeak peak;
    EXPECT_TRUE(LoadSettings());
    EXPECT_LE(peak.PeakBytes(), HeapBound(strBytes.size()));
    EXPECT_EQ(g_nLogLife.load(), kDefaultLogLife);
    EXPECT_TRUE(SameContent(m_folder.ReadBytes("hostLog/SettingInfo.xml"), strBytes));
  }
}

}  // namespace
