#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_document.h"

namespace {

// The character sets written out independently of the lookup table.
TEST(CharacterSets, TableAgreesWithTheWrittenSetsForEveryCodeUnit) {
  const std::u16string kWhitespace = u" \t\n\r";
  const std::u16string kDelimiters = u" \t\n\r<>=\\/?!";
  const std::u16string kFollowers = u" =/[";
  for (uint32_t n = 0; n <= 0xffff; ++n) {
    const char16_t c = static_cast<char16_t>(n);
    ASSERT_EQ(IsWhitespaceUnit(c), c != 0 && kWhitespace.find(c) != std::u16string::npos) << n;
    ASSERT_EQ(IsDelimiterUnit(c), c != 0 && kDelimiters.find(c) != std::u16string::npos) << n;
    ASSERT_EQ(IsNameFollowerUnit(c), c != 0 && kFollowers.find(c) != std::u16string::npos) << n;
  }
}

TEST(SkipWhitespace, StopsAtTheEndAndAtAnyOtherUnit) {
  struct Case {
    std::u16string strText;
    int32_t nStart, nEnd;
    bool bMore;
  };
  const Case kCases[] = {
      // clang-format off
      {u"   ", 0, 3, false},
      {u" \t\r\nx", 0, 4, true},
      {u"\u00a0 ", 0, 0, true},  // a no-break space is not whitespace
      {u"ab", 1, 1, true},
      {u"", 0, 0, false},
      // clang-format on
  };
  for (const Case& c : kCases) {
    int32_t nPos = c.nStart;
    EXPECT_EQ(SkipWhitespace(nPos, c.strText.c_str()), c.bMore) << Narrow(c.strText);
    EXPECT_EQ(nPos, c.nEnd) << Narrow(c.strText);
  }
}

TEST(ScanToChar, FindsTheTargetFromTheOffsetItselfOrStopsAtTheEnd) {
  struct Case {
    std::u16string strText;
    int32_t nStart, nEnd;
    bool bFound;
  };
  const Case kCases[] = {
      {u"<a>", 0, 0, true},
      {u"ab<c", 0, 2, true},
      {u"abc", 1, 3, false},
      {std::u16string(u"a\0<", 3), 0, 1, false},  // a zero unit ends the text
  };
  for (const Case& c : kCases) {
    int32_t nPos = c.nStart;
    EXPECT_EQ(ScanToChar(nPos, c.strText.c_str(), u'<'), c.bFound) << Narrow(c.strText);
    EXPECT_EQ(nPos, c.nEnd) << Narrow(c.strText);
  }
}

struct Token {
  int32_t nFirst, nLast, nScanPos;
  bool bQuoted;
  bool operator==(const Token& o) const {
    return nFirst == o.nFirst && nLast == o.nLast && nScanPos == o.nScanPos && bQuoted == o.bQuoted;
  }
};

std::ostream& operator<<(std::ostream& os, const Token& t) {
  return os << "(" << t.nFirst << "," << t.nLast << "," << t.nScanPos << (t.bQuoted ? ",quoted)" : ")");
}

std::vector<Token> Tokenize(const std::u16string& strText) {
  std::vector<Token> tokens;
  TokenCursor cursor(strText.c_str());
  while (NextToken(cursor)) tokens.push_back({cursor.nTokenFirst, cursor.nTokenLast, cursor.nScanPos, cursor.bQuoted});
  tokens.push_back({cursor.nTokenFirst, cursor.nTokenLast, cursor.nScanPos, cursor.bQuoted});  // the end
  return tokens;
}

TEST(NextToken, SplitsNamesDelimitersAndQuotedValues) {
  struct Case {
    std::u16string strText;
    std::vector<Token> tokens;  // the last entry is the state after false
  };
  const Case kCases[] = {
      {u"  name=\"v\"", {{2, 5, 6, false}, {6, 6, 7, false}, {8, 8, 10, true}, {10, 10, 10, false}}},
      {u"\"\"", {{1, 0, 2, true}, {2, 2, 2, false}}},
      {u"'abc", {{1, 3, 4, true}, {4, 4, 4, false}}},
      {u"a\"b\"", {{0, 3, 4, false}, {4, 4, 4, false}}},  // quotes count only at the start
      {u"'a\"b'", {{1, 3, 5, true}, {5, 5, 5, false}}},
      {u"", {{0, 0, 0, false}}},
  };
  for (const Case& c : kCases) EXPECT_EQ(Tokenize(c.strText), c.tokens) << Narrow(c.strText);
}

TEST(NextToken, EachDelimiterIsATokenOfItsOwnAndBracketsStayInside) {
  CTestDocument doc;
  doc.SetDocument(u"key=val\\sub[1]/>");
  TokenCursor cursor(doc.ViewDocument().c_str());
  std::vector<std::u16string> texts;
  while (NextToken(cursor)) texts.push_back(GetTokenText(cursor, doc));
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"key", u"=", u"val", u"\\", u"sub[1]", u"/", u">"}));
}

TEST(GetTokenText, IsEmptyForAnEmptyTokenAndCutAtTheEndOfTheText) {
  CTestDocument doc;
  doc.SetDocument(u"abc");
  TokenCursor cursor(doc.ViewDocument().c_str());
  cursor.nTokenFirst = 1;
  cursor.nTokenLast = 0;
  EXPECT_EQ(GetTokenText(cursor, doc), u"");
  cursor.nTokenLast = 7;
  EXPECT_EQ(GetTokenText(cursor, doc), u"bc");
}

TEST(MatchName, AcceptsTheNameAloneOrFollowedByASeparator) {
  const std::u16string strText = u"item";
  TokenCursor cursor(strText.c_str());
  ASSERT_TRUE(NextToken(cursor));
  const char16_t* kMatches[] = {u"item", u"item/x", u"item[2]", u"item=1", u"item z"};
  const char16_t* kMisses[] = {u"items", u"Item", u"ite", u"item.x", u""};
  for (const char16_t* sz : kMatches) EXPECT_TRUE(MatchName(cursor, sz)) << Narrow(sz);
  for (const char16_t* sz : kMisses) EXPECT_FALSE(MatchName(cursor, sz)) << Narrow(sz);
}

TEST(ScanNode, ClassifiesAndStepsOverEachKindOfNode) {
  struct Case {
    std::u16string strText;
    MarkupNodeKind nKind;
    int32_t nScanPos;  // -1: the end of the text
  };
  const Case kCases[] = {
      {u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n", nodeProcessingInstruction, 40},
      {u"<?>", nodeProcessingInstruction, 3},
      {u"<!-->", nodeComment, 5},
      {u"<!-- never closed", nodeNone, 0},
      {u"<![CDATA[a]]>b", nodeCData, 13},
      {u"<![CDATA[a]>", nodeNone, 0},
      {u"<!DOCTYPE r [ <!ENTITY e \"]>\"> ]><r/>", nodeDocType, 33},
      {u"<!x ] >", nodeNone, -1},  // the '>' comes at depth -1
      {u"<!DOCTYPE r", nodeNone, -1},
      {u"<r>", nodeElement, 0},
      {u"< !-- -->", nodeElement, 0},
      {u"</r>", nodeNone, 0},
      {u"<r", nodeNone, 0},
      {u"<", nodeNone, 0},
      {u"   <r/>", nodeWhitespace, 3},
      {u"  ab <r/>", nodeText, 5},
      {u"abc", nodeText, 3},
      {u"  ", nodeWhitespace, 2},
      {u"", nodeNone, 0},
  };
  for (const Case& c : kCases) {
    TokenCursor cursor(c.strText.c_str());
    EXPECT_EQ(ScanNode(cursor), c.nKind) << Narrow(c.strText);
    const int32_t nExpected = c.nScanPos < 0 ? static_cast<int32_t>(c.strText.size()) : c.nScanPos;
    EXPECT_EQ(cursor.nScanPos, nExpected) << Narrow(c.strText);
  }
}

TEST(ScanNode, StartsAtTheCursorsScanPosition) {
  const std::u16string strText = u"<r><!--c--><s/></r>";
  TokenCursor cursor(strText.c_str(), 3);
  EXPECT_EQ(ScanNode(cursor), nodeComment);
  EXPECT_EQ(cursor.nTokenFirst, 3);
  EXPECT_EQ(cursor.nScanPos, 11);
}

}  // namespace
