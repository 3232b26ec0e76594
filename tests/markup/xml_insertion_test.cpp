#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_document.h"

namespace {

const std::u16string kDeclaration = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n";

// Every record in use, compared with the records that a fresh parse of the
// same text produces: the index kept by insertion must be the one the text
// describes. Insertion numbers records in the order of adding, so records are
// matched by their start offset.
void ExpectIndexMatchesAFreshParse(const CTestDocument& built) {
  CTestDocument parsed;
  ASSERT_TRUE(parsed.SetDocument(built.GetDocument())) << Narrow(parsed.GetParseError());
  ASSERT_EQ(parsed.NextFree(), built.NextFree());
  std::vector<int32_t> aBuiltByStart(built.ViewDocument().size() + 1, 0);
  for (int32_t i = 1; i < built.NextFree(); ++i) aBuiltByStart[built.ElemPosAt(i).nStartOpen] = i;
  auto Translate = [&](int32_t iParsed) {
    return iParsed == 0 ? 0 : aBuiltByStart[parsed.ElemPosAt(iParsed).nStartOpen];
  };
  for (int32_t i = 1; i < parsed.NextFree(); ++i) {
    const ElemPos& p = parsed.ElemPosAt(i);
    const int32_t iBuilt = Translate(i);
    ASSERT_NE(iBuilt, 0) << "no added record starts at " << p.nStartOpen;
    const RecordView expected{p.nStartOpen,
                              p.nStartClose,
                              p.nEndOpen,
                              p.nEndClose,
                              Translate(p.iParent),
                              Translate(p.iFirstChild),
                              Translate(p.iNextSibling)};
    EXPECT_EQ(ViewOf(built.ElemPosAt(iBuilt)), expected) << "record " << iBuilt;
  }
  EXPECT_EQ(built.ElemPosAt(0).iFirstChild, Translate(1));
}

TEST(AddElement, RootThenChildrenGrowTextAndRecordsStepByStep) {
  CTestDocument doc;
  EXPECT_FALSE(doc.SetDocument(kDeclaration));

  ASSERT_TRUE(doc.AddElement(u"log"));
  EXPECT_EQ(ViewOf(doc.ElemPosAt(1)), (RecordView{42, 47, 46, 47, 0, 0, 0}));
  EXPECT_EQ(doc.ElemPosAt(0).iFirstChild, 1);
  EXPECT_EQ(doc.GetParentElement(), 0);
  EXPECT_EQ(doc.GetCurrentElement(), 1);

  doc.EnterElement();
  ASSERT_TRUE(doc.AddElement(u"entry", u"x<y"));
  EXPECT_EQ(ViewOf(doc.ElemPosAt(2)), (RecordView{49, 55, 62, 69, 1, 0, 0}));
  EXPECT_EQ(ViewOf(doc.ElemPosAt(1)), (RecordView{42, 46, 72, 77, 0, 2, 0}));
  EXPECT_EQ(doc.GetDocument(), kDeclaration + u"<log>\r\n<entry>x&lt;y</entry>\r\n</log>\r\n");

  ASSERT_TRUE(doc.AddElement(u"entry", u"it's"));
  EXPECT_EQ(ViewOf(doc.ElemPosAt(3)), (RecordView{72, 78, 83, 90, 1, 0, 0}));
  EXPECT_EQ(doc.ElemPosAt(2).iNextSibling, 3);
  EXPECT_EQ(doc.ElemPosAt(1).nEndOpen, 93);
  EXPECT_EQ(doc.ElemPosAt(1).nEndClose, 98);

  ASSERT_TRUE(doc.AddElement(u"note"));
  EXPECT_EQ(ViewOf(doc.ElemPosAt(4)), (RecordView{93, 99, 98, 99, 1, 0, 0}));
  EXPECT_EQ(doc.ElemPosAt(3).iNextSibling, 4);
  EXPECT_EQ(doc.ElemPosAt(1).nEndOpen, 102);
  EXPECT_EQ(doc.ElemPosAt(1).nEndClose, 107);
  EXPECT_EQ(doc.GetDocument(),
            kDeclaration + u"<log>\r\n<entry>x&lt;y</entry>\r\n<entry>it's</entry>\r\n<note/>\r\n</log>\r\n");
  EXPECT_EQ(doc.GetDocument().size(), 110u);
  ExpectIndexMatchesAFreshParse(doc);
}

TEST(AddElement, SecondTopElementIsRefusedAndNothingChanges) {
  CTestDocument doc;
  doc.SetDocument(u"<r/>\r\n");
  doc.FindNextElement(u"r");
  const std::u16string strBefore = doc.GetDocument();
  EXPECT_FALSE(doc.AddElement(u"s"));
  EXPECT_EQ(doc.GetDocument(), strBefore);
  EXPECT_EQ(doc.NextFree(), 2);
  EXPECT_EQ(doc.GetCurrentElement(), 1);
}

TEST(AddElement, TopElementGoesBehindTrailingWhitespace) {
  CTestDocument doc;
  doc.SetDocument(u"<?x?>  \r\n");
  ASSERT_TRUE(doc.AddElement(u"r", u""));
  EXPECT_EQ(doc.GetDocument(), u"<?x?>  \r\n<r/>\r\n");
  ExpectIndexMatchesAFreshParse(doc);
}

TEST(AddElement, EachParentShapeReceivesItsFirstChild) {
  struct Case {
    std::u16string strBefore;
    std::u16string strAfter;
  };
  const Case kCases[] = {
      {u"<p/>", u"<p>\r\n<new/>\r\n</p>"},
      {u"<p a='1'/>", u"<p a='1'>\r\n<new/>\r\n</p>"},
      {u"<p></p>", u"<p>\r\n<new/>\r\n</p>"},
      {u"<p>text</p>", u"<p>text<new/>\r\n</p>"},
      {u"<p>\r\n  </p>", u"<p>\r\n  <new/>\r\n</p>"},
      {u"<p><a/></p>", u"<p><a/><new/>\r\n</p>"},
      {u"<p><a/>\r\n</p>", u"<p><a/>\r\n<new/>\r\n</p>"},
      {u"<\u65e5\u5fd7/>", u"<\u65e5\u5fd7>\r\n<new/>\r\n</\u65e5\u5fd7>"},
      {u"<p//>", u"<p/ >\r\n<new/>\r\n</p>"},  // "<p/>" again would leave the child outside
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    ASSERT_TRUE(doc.SetDocument(c.strBefore));
    doc.FindNextElement();
    doc.EnterElement();
    ASSERT_TRUE(doc.AddElement(u"new"));
    EXPECT_EQ(doc.GetDocument(), c.strAfter) << Narrow(c.strBefore);
    ExpectIndexMatchesAFreshParse(doc);
  }
}

TEST(AddElement, AfterACurrentElementWhitespaceStaysWithTheTextThatFollowsIt) {
  struct Case {
    std::u16string strBefore;
    std::u16string strAfter;
  };
  const Case kCases[] = {
      {u"<p><a/>  <b/></p>", u"<p><a/>  <new/>\r\n<b/></p>"},
      {u"<p><a/>  text<b/></p>", u"<p><a/><new/>\r\n  text<b/></p>"},
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    ASSERT_TRUE(doc.SetDocument(c.strBefore));
    doc.FindNextElement();
    doc.EnterElement();
    doc.FindNextElement(u"a");
    ASSERT_TRUE(doc.AddElement(u"new"));
    EXPECT_EQ(doc.GetDocument(), c.strAfter) << Narrow(c.strBefore);
    EXPECT_EQ(doc.ElemPosAt(2).iNextSibling, doc.GetCurrentElement());
    ExpectIndexMatchesAFreshParse(doc);
  }
}

TEST(AddElement, DataIsEscapedAndLengthsCountCodeUnits) {
  struct Case {
    std::u16string strData;
    std::u16string strStored;
  };
  const Case kCases[] = {
      {u"1<2 & 3>2", u"1&lt;2 &amp; 3&gt;2"},
      {u"it's \"q\"\r\n\ttab", u"it's \"q\"\r\n\ttab"},
      {u"\U0001F600 \u4e2d\u6587", u"\U0001F600 \u4e2d\u6587"},
      {u"]]>", u"]]&gt;"},
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    doc.SetDocument(u"<\u65e5\u5fd7\u8bb0\u5f55/>");
    doc.FindNextElement();
    doc.EnterElement();
    ASSERT_TRUE(doc.AddElement(u"\u53c2\u6570\u540d\u79f0", c.strData.c_str()));
    const ElemPos& added = doc.ElemPosAt(2);
    EXPECT_EQ(added.nStartClose - added.nStartOpen, 5);  // '<' and four name units
    EXPECT_EQ(doc.ViewDocument().substr(added.nStartClose + 1, added.nEndOpen - added.nStartClose - 1), c.strStored);
    EXPECT_EQ(doc.GetElementData(2), c.strData);  // reads back unchanged
    ExpectIndexMatchesAFreshParse(doc);
  }
}

TEST(AddElement, NewParentTakesChildrenInCallOrder) {
  CTestDocument doc;
  doc.SetDocument(kDeclaration + u"<log/>\r\n");
  doc.FindNextElement(u"log");
  doc.EnterElement();
  for (int nRecord = 0; nRecord < 3; ++nRecord) {
    doc.AddElement(u"rec");
    doc.EnterElement();
    doc.AddElement(u"a", u"1");
    doc.AddElement(u"b");
    doc.AddElement(u"c", u"3");
    doc.LeaveElement();
  }
  const std::u16string strRecord = u"<rec>\r\n<a>1</a>\r\n<b/>\r\n<c>3</c>\r\n</rec>\r\n";
  EXPECT_EQ(doc.GetDocument(), kDeclaration + u"<log>\r\n" + strRecord + strRecord + strRecord + u"</log>\r\n");
  ExpectIndexMatchesAFreshParse(doc);
}

TEST(AddElement, RandomInsertionsKeepTheIndexEqualToAFreshParse) {
  std::mt19937 random(20261207);
  const char16_t* kData[] = {nullptr, u"", u"x", u"a<b&c>d", u"\u4e2d"};
  for (int nRun = 0; nRun < 50; ++nRun) {
    CTestDocument doc;
    doc.SetDocument(u"<r><a>text</a> <b/>\r\n<c></c></r>");
    for (int nStep = 0; nStep < 40; ++nStep) {
      const int32_t iParent = static_cast<int32_t>(random() % doc.NextFree());
      // Any child of that parent may be current, or none.
      std::vector<int32_t> aChildren{0};
      for (int32_t i = doc.ElemPosAt(iParent).iFirstChild; i != 0; i = doc.ElemPosAt(i).iNextSibling) {
        aChildren.push_back(i);
      }
      doc.SetNavigation(iParent, aChildren[random() % aChildren.size()]);
      const bool bAdded = doc.AddElement(u"n", kData[random() % 5]);
      EXPECT_EQ(bAdded, iParent != 0);
    }
    ExpectIndexMatchesAFreshParse(doc);
    if (HasFailure()) return;
  }
}

TEST(EncodeText, EscapesOnlyTheThreeMarkupCharacters) {
  EXPECT_EQ(CTestDocument::EncodeText(u""), u"");
  EXPECT_EQ(CTestDocument::EncodeText(u"&&&&&&&&&&"), u"&amp;&amp;&amp;&amp;&amp;&amp;&amp;&amp;&amp;&amp;");
  EXPECT_EQ(CTestDocument::EncodeText(u"<tag a='1'>"), u"&lt;tag a='1'&gt;");
}

TEST(ReplaceDocumentRange, BringsOffsetAndLengthIntoRange) {
  struct Case {
    int32_t nOffset, nLength;
    std::u16string strResult;
  };
  const Case kCases[] = {
      {-5, 0, u"XYabcdef"}, {99, 0, u"abcdefXY"}, {2, 99, u"abXY"}, {2, -3, u"abXYcdef"}, {1, 2, u"aXYdef"},
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    doc.SetDocument(u"abcdef");
    doc.ReplaceDocumentRange(c.nOffset, c.nLength, u"XY");
    EXPECT_EQ(doc.GetDocument(), c.strResult) << c.nOffset << "," << c.nLength;
  }
}

TEST(ShiftPositions, MovesOnlyWhatLiesAfterTheElement) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r><a><b/></a><c><d/></c></r>"));
  const RecordView aBefore[] = {ViewOf(doc.ElemPosAt(0)), ViewOf(doc.ElemPosAt(1)), ViewOf(doc.ElemPosAt(2)),
                                ViewOf(doc.ElemPosAt(3)), ViewOf(doc.ElemPosAt(4)), ViewOf(doc.ElemPosAt(5))};
  doc.ShiftPositions(0, 10);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ViewOf(doc.ElemPosAt(i)), aBefore[i]);

  doc.ShiftPositions(3, 10);  // b: its ancestors' end tags, and c and d whole
  auto Shifted = [](RecordView r, bool bWhole) {
    if (bWhole) r.nStartOpen += 10, r.nStartClose += 10;
    r.nEndOpen += 10, r.nEndClose += 10;
    return r;
  };
  EXPECT_EQ(ViewOf(doc.ElemPosAt(0)), Shifted(aBefore[0], false));
  EXPECT_EQ(ViewOf(doc.ElemPosAt(1)), Shifted(aBefore[1], false));
  EXPECT_EQ(ViewOf(doc.ElemPosAt(2)), Shifted(aBefore[2], false));
  EXPECT_EQ(ViewOf(doc.ElemPosAt(3)), aBefore[3]);
  EXPECT_EQ(ViewOf(doc.ElemPosAt(4)), Shifted(aBefore[4], true));
  EXPECT_EQ(ViewOf(doc.ElemPosAt(5)), Shifted(aBefore[5], true));
}

TEST(LocateInsertPoint, BeforeAReferenceLinksAfterItsPreviousSibling) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r><a/><b/><c/></r>"));
  struct Case {
    int32_t nFlags, iReference, iSibling, nOffset;
  };
  const Case kCases[] = {
      {InsertBefore, 4, 3, 11},  // before c: after b
      {InsertBefore, 2, 0, 3},   // before the first child: first
      {0, 3, 3, 11},             // after b
      {InsertBefore, 0, 0, 3},   // no reference: first child
      {0, 0, 4, 15},             // no reference: last child
      {InsertBefore, 1, 0, 0},   // not a child of r: the walk ends and reports 0
  };
  for (const Case& c : kCases) {
    int32_t iSibling = c.iReference;
    int32_t nOffset = -1;
    doc.LocateInsertPoint(c.nFlags, 1, iSibling, nOffset);
    EXPECT_EQ(iSibling, c.iSibling) << c.nFlags << "/" << c.iReference;
    EXPECT_EQ(nOffset, c.nOffset) << c.nFlags << "/" << c.iReference;
  }
}

TEST(LocateInsertPoint, NoWhitespaceSkipKeepsTheFirstOffset) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r><a/>   <b/></r>"));
  int32_t iSibling = 2;
  int32_t nOffset = 0;
  doc.LocateInsertPoint(InsertNoWhitespaceSkip, 1, iSibling, nOffset);
  EXPECT_EQ(nOffset, 7);
  iSibling = 2;
  doc.LocateInsertPoint(0, 1, iSibling, nOffset);
  EXPECT_EQ(nOffset, 10);
}

}  // namespace
