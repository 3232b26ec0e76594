// Hostile arguments of WriteVardlix: whatever the host passes is stored so
// that the day's file still parses and every text reads back unchanged (but
// for the stand-ins of the characters XML forbids, format/record_text.h),
// and the records written after it are unaffected.
#include <string>
#include <vector>

#include "format/record_text.h"
#include "heap_peak.h"
#include "hostile_fixture.h"

namespace {

// Sixteen million code units: 32 MB of UTF-16.
constexpr size_t kLongArgumentUnits = 16u << 20;
// The text that grows most when escaped: every unit becomes five.
constexpr size_t kAmpersandUnits = 4u << 20;

std::u16string ControlCharacters() {
  std::u16string str;
  for (char16_t c = 1; c < 0x20; ++c) str += c;
  return str + u"\x7F\x85\x2028\x2029";
}

// Markup, escapes and CJK mixed, so that the escaping has work throughout.
std::u16string LongArgument() {
  const std::u16string strPiece = u"<记录>a&b</记录>]]>";
  std::u16string str;
  str.reserve(kLongArgumentUnits);
  while (str.size() + strPiece.size() <= kLongArgumentUnits) str += strPiece;
  str.resize(kLongArgumentUnits, u'z');
  return str;
}

struct ArgumentCase {
  const char* m_pszName;
  RecordArguments m_aArguments;
};

RecordArguments Everywhere(const std::u16string& strText) { return {strText, strText, strText, strText, strText}; }

std::vector<ArgumentCase> MakeArgumentCases() {
  return {
      {"EmptyTextsGiveEmptyElements", Everywhere(u"")},
      // One argument of this size is enough; five would only cost time.
      {"SixteenMillionUnitsAreStoredWhole", {u"Big", u"Main", u"Open", u"", LongArgument()}},
      {"FourMillionAmpersandsAreStoredWhole", {u"Big", u"Main", u"Open", u"", std::u16string(kAmpersandUnits, u'&')}},
      {"ControlCharactersReadBackAsStored", Everywhere(ControlCharacters())},
      {"LoneHighSurrogateReadsBackAsStored", Everywhere(u"a\xD800")},
      {"LoneLowSurrogateReadsBackAsStored", Everywhere(u"\xDC00z")},
      {"ReversedSurrogatePairReadsBackAsStored", Everywhere(u"\xDC00\xD800")},
      {"CharacterOutsideTheBasicPlaneStays", Everywhere(u"\U0001F600")},
      {"CDataTerminatorIsEscaped", Everywhere(u"]]>")},
      {"CDataSectionIsText", Everywhere(u"  <![CDATA[x]]>  ")},
      {"ClosingTagsOfTheLogAreText", Everywhere(u"</描述>\r\n</记录>\r\n</日志>\r\n<日志>")},
      {"DeclarationCommentAndInstructionAreText", Everywhere(u"<?xml version=\"1.0\"?><!-- c --><!DOCTYPE x>")},
      {"EntityReferencesAreNotDecodedTwice", Everywhere(u"&amp;&lt;&gt;&apos;&quot;&#65;&")},
      {"QuotesStayUnescaped", Everywhere(u"\"'\"")},
      {"WhitespaceOnlyIsKept", Everywhere(u" \t\r\n ")},
      {"EmptyElementLookalikeIsText", Everywhere(u"<记录/>")},
  };
}

const RecordArguments kPlainArguments = {u"Info", u"Main", u"Open", u"p", u"plain"};

// Bytes of the five texts as the file stores them, escaped.
size_t StoredBytes(const RecordArguments& aArguments) {
  size_t nUnits = 0;
  for (const std::u16string& str : aArguments) {
    for (char16_t c : str) nUnits += c == u'&' ? 5 : (c == u'<' || c == u'>') ? 4 : 1;
  }
  return nUnits * sizeof(char16_t);
}

RecordFields FieldsOf(const RecordArguments& aArguments) {
  return {kTimeStamp, aArguments[0], aArguments[1], aArguments[2], aArguments[3], aArguments[4]};
}

// The fields as stored: the texts with their stand-ins.
RecordFields StoredFieldsOf(const RecordArguments& aArguments) {
  RecordFields aFields = FieldsOf(aArguments);
  for (size_t i = 1; i < aFields.size(); ++i) aFields[i] = MakeXmlText(aFields[i]);
  return aFields;
}

class HostileArguments : public CHostileTest {};

TEST_F(HostileArguments, EachTextReadsBackUnchangedBetweenPlainRecords) {
  for (const ArgumentCase& test : MakeArgumentCases()) {
    SCOPED_TRACE(test.m_pszName);
    std::filesystem::remove(m_folder.Path(kTodaysLog));
    WriteThroughExport(kPlainArguments);
    // Escaping may make a text five times longer, so the heap is measured
    // against the text as stored.
    const size_t nStoredBytes = StoredBytes(test.m_aArguments);
    CHeapPeak peak;
    WriteThroughExport(test.m_aArguments);
    RecordProperty(std::string(test.m_pszName) + "_HeapBytesPerStoredByte",
                   std::to_string(double(peak.PeakBytes()) / double(nStoredBytes + 1)));
    EXPECT_LE(peak.PeakBytes(), HeapBound(nStoredBytes));
    WriteThroughExport(kPlainArguments);

    std::vector<RecordFields> aRecords;
    ASSERT_TRUE(ReadDayRecords(ReadDayText(), aRecords));
    ASSERT_EQ(aRecords.size(), 3u);
    EXPECT_EQ(aRecords[0], FieldsOf(kPlainArguments));
    const RecordFields aExpected = StoredFieldsOf(test.m_aArguments);
    for (size_t i = 0; i < aExpected.size(); ++i) EXPECT_TRUE(SameContent(aRecords[1][i], aExpected[i])) << i;
    EXPECT_EQ(aRecords[2], FieldsOf(kPlainArguments));
  }
}

// The exact text: a quote or a control character is never escaped, and only
// "<", "&" and ">" are, so the file is what the escaping alone makes of it,
// once the characters XML forbids have their stand-ins.
TEST_F(HostileArguments, TextIsStoredWithOnlyItsThreeMarkupCharactersEscaped) {
  struct Case {
    const char* m_pszName;
    std::u16string m_strArgument;
    std::u16string m_strStored;
  };
  const Case kCases[] = {
      // clang-format off
      {"CDataTerminator", u"]]>", u"]]&gt;"},
      {"TagLookalike", u"</描述>", u"&lt;/描述&gt;"},
      {"EntityLookalike", u"&lt;", u"&amp;lt;"},
      {"ControlAndQuotes", u"\x01\"'\x1F", u"\x2401\"'\x241F"},
      {"LoneSurrogate", u"\xD800", u"\xFFFD"},
      // clang-format on
  };
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    std::filesystem::remove(m_folder.Path(kTodaysLog));
    WriteThroughExport({u"t", u"l", u"o", u"", test.m_strArgument});
    EXPECT_EQ(ReadDayText(), kDeclaration + u"<日志>\r\n" +
                                 RecordLines({kTimeStamp, u"t", u"l", u"o", u"", test.m_strStored}) + u"</日志>\r\n");
  }
}

}  // namespace
