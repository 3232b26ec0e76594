// The fast path must leave exactly what the general parser leaves: the same
// result, records, index size, last-child hint and error, on any text.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_document.h"

namespace {

void ExpectSameParse(const std::u16string& strText) {
  CTestDocument fast;
  CTestDocument general;
  const bool bFast = fast.InstallDocument(strText, true);
  const bool bGeneral = general.InstallDocument(strText, false);
  const std::string strShown = Narrow(strText);
  ASSERT_EQ(bFast, bGeneral) << strShown;
  ASSERT_EQ(fast.NextFree(), general.NextFree()) << strShown;
  EXPECT_EQ(fast.GetElemPosSize(), general.GetElemPosSize()) << strShown;
  EXPECT_EQ(fast.LastChildHint(), general.LastChildHint()) << strShown;
  EXPECT_EQ(fast.GetParseError(), general.GetParseError()) << strShown;
  EXPECT_EQ(fast.GetParseErrorOffset(), general.GetParseErrorOffset()) << strShown;
  for (int32_t i = 0; i < fast.NextFree(); ++i) {
    EXPECT_EQ(ViewOf(fast.ElemPosAt(i)), ViewOf(general.ElemPosAt(i))) << strShown << " record " << i;
    EXPECT_EQ(fast.ElemPosAt(i).nReserved, 0) << strShown << " record " << i;
  }
}

std::u16string LogText(int nRecords) {
  std::u16string strText = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n<\u65e5\u5fd7>\r\n";
  for (int n = 0; n < nRecords; ++n) {
    strText +=
        u"<\u8bb0\u5f55>\r\n<\u65f6\u95f4>2026.12.07 10:00:00</\u65f6\u95f4>\r\n<\u7c7b\u578b>Info</\u7c7b\u578b>\r\n";
    strText += u"<\u4f4d\u7f6e/>\r\n<\u63cf\u8ff0>a &lt; b</\u63cf\u8ff0>\r\n</\u8bb0\u5f55>\r\n";
  }
  return strText + u"</\u65e5\u5fd7>\r\n";
}

TEST(FastPath, TakesEveryFormALogIsMadeOf) {
  const std::u16string kTexts[] = {
      LogText(0),   LogText(3), u"<r/>", u"<r a=\"1\" b='x>y'>t</r>", u"<?p?><r><?q x?>t<s/></r>trailing <junk",
      u"<?>?><r/>",
  };
  for (const std::u16string& strText : kTexts) {
    CTestDocument doc;
    EXPECT_GT(doc.ParseWithFastPathOnly(strText), 0) << Narrow(strText);
  }
}

TEST(FastPath, MatchesTheGeneralParserOnEveryForm) {
  const std::u16string kTexts[] = {
      // Forms the fast path reads itself.
      LogText(0),
      LogText(2),
      u"<r/>",
      u"<r></r>",
      u"<r><a>x</a><b/><c d='1'/></r>",
      u"<a[1]/>",
      u"<?xml?>\r\n<r><?pi <r>?><s/></r>",
      u"<?>?><r/>",
      u"<r/><s/>",
      u"<r/></nonsense",
      // Forms it leaves to the general parser.
      u"< r >x</ r >",
      u"<r></r >",
      u"<r></r extra tokens>",
      u"<a[1]></a>",
      u"<r><!-- <x> --><s/></r>",
      u"<!DOCTYPE r><r/>",
      u"<r><![CDATA[<]]></r>",
      u"<r></'q'>",
      u"<r>< /r>",
      u"<\"r\"/>",
      u"<=/>",
      // Errors, wherever the fast path meets them.
      u"",
      u"text",
      u"<r>",
      u"<r",
      u"<",
      u"<r><a></r>",
      u"<r></s>",
      u"<ab></a>",
      u"<r></r",
      u"</r>",
      u"<?xml",
      u"<r><?p",
      u"<r>x<a/>",
      u"<r><>",
      u"< ?x?><r/>",
      u"<r><!-- x</r>",
      std::u16string(u"<r>\0</r>", 8),
      std::u16string(u"<r><a\0/></r>", 12),
  };
  for (const std::u16string& strText : kTexts) ExpectSameParse(strText);
}

TEST(FastPath, MatchesTheGeneralParserAtTheNestingBound) {
  for (int nDepth : {CXmlDocument::kMaxNestingDepth, CXmlDocument::kMaxNestingDepth + 1}) {
    std::u16string strText;
    for (int i = 0; i < nDepth; ++i) strText += u"<a>";
    for (int i = 0; i < nDepth; ++i) strText += u"</a>";
    ExpectSameParse(strText);
  }
}

TEST(FastPath, GrowsTheIndexExactlyAsTheGeneralParserDoes) {
  // Sizes around each growth step of an index that starts at 8 records.
  for (int nChildren = 1; nChildren < 200; ++nChildren) {
    std::u16string strText = u"<r>";
    for (int i = 0; i < nChildren; ++i) strText += i % 3 == 0 ? u"<a/>" : u"<a>x</a>";
    ExpectSameParse(strText + u"</r>");
  }
}

// Random texts from pieces of both kinds, then cut or with one unit changed,
// so that the fast path meets every piece at every depth and gives up at
// every point.
TEST(FastPath, MatchesTheGeneralParserOnRandomTexts) {
  const std::u16string kPieces[] = {
      u"<a>",  u"</a>",           u"<b x='1'>",       u"</b>", u"<c/>",  u"text",
      u"\r\n", u"<?p?>",          u"<!-- c -->",      u"< a>", u"</a >", u"<![CDATA[x]]>",
      u"&lt;", u"<\u8bb0\u5f55>", u"</\u8bb0\u5f55>", u">",    u"/",
  };
  std::mt19937 random(20261207);
  for (int nRound = 0; nRound < 3000; ++nRound) {
    std::u16string strText = nRound % 2 == 0 ? u"<r>" : u"";
    const int nPieces = static_cast<int>(random() % 24);
    for (int n = 0; n < nPieces; ++n) strText += kPieces[random() % std::size(kPieces)];
    if (nRound % 2 == 0) strText += u"</r>";
    ExpectSameParse(strText);
    if (strText.empty()) continue;
    ExpectSameParse(strText.substr(0, random() % strText.size()));
    std::u16string strChanged = strText;
    strChanged[random() % strChanged.size()] = u"<>/?! \"x\0"[random() % 9];
    ExpectSameParse(strChanged);
  }
}

}  // namespace
