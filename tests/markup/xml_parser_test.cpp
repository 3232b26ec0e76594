#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "test_document.h"

namespace {

TEST(SetDocument, EmptyOrAbsentTextParsesNothingAndKeepsTheLastError) {
  CTestDocument doc;
  ASSERT_FALSE(doc.SetDocument(u"<r>"));
  const std::u16string strError = doc.GetParseError();
  ASSERT_FALSE(strError.empty());
  for (const char16_t* sz : {static_cast<const char16_t*>(nullptr), u""}) {
    EXPECT_FALSE(doc.SetDocument(sz));
    EXPECT_EQ(doc.NextFree(), 1);
    EXPECT_EQ(ViewOf(doc.ElemPosAt(0)), RecordView{});
    EXPECT_EQ(doc.GetParseError(), strError);
    EXPECT_GE(doc.GetElemPosSize(), 8);
  }
}

TEST(SetDocument, DeclarationAloneHasNoElementAndKeepsItsText) {
  CTestDocument doc;
  const std::u16string strDeclaration = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n";
  EXPECT_FALSE(doc.SetDocument(strDeclaration));
  EXPECT_EQ(doc.GetParseError(), u"Element tag not found");
  EXPECT_EQ(doc.GetDocument(), strDeclaration);
  EXPECT_EQ(doc.NextFree(), 1);
  EXPECT_EQ(ViewOf(doc.ElemPosAt(0)), RecordView{});
}

TEST(SetDocument, RecordsFollowDocumentOrder) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r><a>x</a><b/></r>"));
  EXPECT_EQ(doc.NextFree(), 4);
  const RecordView kExpected[] = {
      {0, 0, 0, 0, 0, 1, 0},
      {0, 2, 15, 18, 0, 2, 0},
      {3, 5, 7, 10, 1, 0, 3},
      {11, 14, 13, 14, 1, 0, 0},
  };
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ViewOf(doc.ElemPosAt(i)), kExpected[i]) << i;
}

TEST(SetDocument, SkipsEverythingBeforeTheTopElement) {
  CTestDocument doc;
  const std::u16string strText =
      u"<?xml version=\"1.0\"?>\r\n<!-- c --><!DOCTYPE r [<!ENTITY e \"x\">]>\r\n<?pi x?> text <![CDATA[<]]><r/>";
  ASSERT_TRUE(doc.SetDocument(strText));
  EXPECT_EQ(doc.ElemPosAt(0).nEndOpen, static_cast<int32_t>(strText.find(u"<r/>")));
  EXPECT_EQ(doc.ElemPosAt(1).nStartOpen, doc.ElemPosAt(0).nEndOpen);
  EXPECT_EQ(doc.GetTagName(1), u"r");
}

TEST(SetDocument, OnlyTheFirstTopElementIsParsed) {
  CTestDocument doc;
  EXPECT_TRUE(doc.SetDocument(u"<r/><s/>"));
  EXPECT_EQ(doc.NextFree(), 2);
  EXPECT_TRUE(doc.SetDocument(u"<r/></nonsense"));
}

TEST(SetDocument, AcceptsLooseButWellPlacedTags) {
  struct Case {
    std::u16string strText;
    int32_t nElements;
  };
  const Case kCases[] = {
      {u"< r >x</ r >", 1},      // white space after '<' and between end-tag tokens
      {u"<r t='1>2'>x</r>", 1},  // the start tag ends at the first '>'
      {u"<r a=\"1\" b='2'><s/>t<u></u></r>", 3},
      {u"<r><!-- <x> --><s/><?p <y>?></r>", 2},
      {u"<r></r extra tokens>", 1},
      {u"<a[1]></a>", 1},  // "a" matches the name "a[1]" like a path step
      {u"<r></'q'>", 1},   // a quoted second token is passed over
      {u"<\u65e5\u5fd7><\u8bb0\u5f55/></\u65e5\u5fd7>", 2},
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    EXPECT_TRUE(doc.SetDocument(c.strText)) << Narrow(c.strText) << ": " << Narrow(doc.GetParseError());
    EXPECT_EQ(doc.NextFree(), c.nElements + 1) << Narrow(c.strText);
  }
}

TEST(SetDocument, ReportsEachParseErrorWithItsMessage) {
  struct Case {
    std::u16string strText;
    std::u16string strMessage;
    int32_t nOffset;
  };
  const Case kCases[] = {
      {u"<r>", u"Element tag not found", 3},
      {u"just text", u"Element tag not found", 9},
      {u"<r", u"End of tag not found", 2},
      {u"<", u"Abrupt end within tag", 0},
      {u"<   ", u"Abrupt end within tag", 0},
      {u"<'r'>", u"Tag starts with quote", 0},
      {u"<r><!-- x</r>", u"Invalid node", 3},
      {u"<?xml", u"Invalid node", 0},
      {u"<!", u"Invalid node", 0},
      {u"<r><![CDATA[x</r>", u"Invalid node", 3},
      {u"< ?x?><r/>", u"Invalid node", 0},  // would loop for ever if taken for a node
      {u"< !-- --><r/>", u"Invalid node", 0},
      {u"<r></s>", u"End tag does not correspond to r", 5},
      {u"<ab></a>", u"End tag does not correspond to ab", 6},
      {u"<r></r", u"End tag not completed for element r", 6},
      {u"<r></", u"End tag not completed for element r", 5},
      {u"<r><a></r>", u"End tag does not correspond to a", 8},
      {u"<r>x<a/>", u"Element tag not found", 8},
      {u"<r><>", u"End of tag not found", 5},
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    EXPECT_FALSE(doc.SetDocument(c.strText)) << Narrow(c.strText);
    EXPECT_EQ(doc.GetParseError(), c.strMessage) << Narrow(c.strText);
    EXPECT_EQ(doc.GetParseErrorOffset(), c.nOffset) << Narrow(c.strText);
    EXPECT_EQ(doc.NextFree(), 1) << Narrow(c.strText);
    EXPECT_EQ(ViewOf(doc.ElemPosAt(0)), RecordView{}) << Narrow(c.strText);
    EXPECT_EQ(doc.GetDocument(), c.strText);
  }
}

TEST(SetDocument, LeadingEndTagFailsWithoutAMessage) {
  CTestDocument doc;
  EXPECT_FALSE(doc.SetDocument(u"</r>"));
  EXPECT_EQ(doc.GetParseError(), u"");
}

TEST(SetDocument, ZeroCodeUnitEndsTheText) {
  CTestDocument doc;
  const std::u16string strText(u"<r>\0</r>", 8);
  EXPECT_FALSE(doc.SetDocument(strText));
  EXPECT_EQ(doc.GetParseError(), u"Element tag not found");
  EXPECT_EQ(doc.GetDocument(), strText);
}

// The pointer form finds the zero unit a block at a time: every start within
// a cache line and every length around the block and line boundaries, with
// zero units just before the text and more text behind its end, which a
// misplaced block would take for the end or run on into.
TEST(SetDocument, PointerFormStopsAtTheFirstZeroUnitWhereverItFalls) {
  alignas(64) char16_t aBuffer[256];
  CTestDocument doc;
  for (int nStart = 0; nStart < 32; ++nStart) {
    for (int nLength = 0; nLength <= 100; ++nLength) {
      std::fill(std::begin(aBuffer), std::end(aBuffer), u'y');
      aBuffer[255] = 0;
      std::fill(aBuffer, aBuffer + nStart, u'\0');
      std::fill(aBuffer + nStart, aBuffer + nStart + nLength, u'x');
      aBuffer[nStart + nLength] = 0;
      doc.SetDocument(aBuffer + nStart);
      ASSERT_EQ(doc.GetDocument(), std::u16string(static_cast<size_t>(nLength), u'x'))
          << "start " << nStart << ", length " << nLength;
    }
  }
}

std::u16string Nested(int nDepth) {
  std::u16string strText;
  for (int i = 0; i < nDepth; ++i) strText += u"<a>";
  for (int i = 0; i < nDepth; ++i) strText += u"</a>";
  return strText;
}

TEST(SetDocument, NestingIsBoundedSoHostileTextCannotExhaustTheStack) {
  CTestDocument doc;
  EXPECT_TRUE(doc.SetDocument(Nested(CXmlDocument::kMaxNestingDepth)));
  EXPECT_EQ(doc.NextFree(), CXmlDocument::kMaxNestingDepth + 1);

  EXPECT_FALSE(doc.SetDocument(Nested(CXmlDocument::kMaxNestingDepth + 1)));
  EXPECT_EQ(doc.GetParseError(), u"Elements nested too deeply in a");
  EXPECT_EQ(doc.NextFree(), 1);

  std::u16string strDeep;
  for (int i = 0; i < 200000; ++i) strDeep += u"<a>";
  EXPECT_FALSE(doc.SetDocument(strDeep));
  EXPECT_EQ(doc.GetParseError(), u"Elements nested too deeply in a");
}

TEST(SetDocument, ManySiblingsGrowTheIndexByHalf) {
  std::u16string strText = u"<r>";
  for (int i = 0; i < 5000; ++i) strText += u"<a/>";
  strText += u"</r>";
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(strText));
  EXPECT_EQ(doc.NextFree(), 5002);
  EXPECT_GE(doc.GetElemPosSize(), 5002);
  int32_t nCount = 0;
  for (int32_t i = doc.ElemPosAt(1).iFirstChild; i != 0; i = doc.ElemPosAt(i).iNextSibling) {
    EXPECT_EQ(doc.ElemPosAt(i).nStartOpen, 3 + 4 * nCount);
    ++nCount;
  }
  EXPECT_EQ(nCount, 5000);
}

}  // namespace
