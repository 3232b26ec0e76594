#include <gtest/gtest.h>

#include <stdexcept>

#include "test_document.h"

namespace {

bool AllZero(const ElemPos& p) { return ViewOf(p) == RecordView{} && p.nReserved == 0; }

TEST(XmlDocument, FreshObjectIsEmptyWithEightRecordsTheFirstZero) {
  CTestDocument doc;
  EXPECT_EQ(doc.GetDocument(), u"");
  EXPECT_EQ(doc.GetElemPosSize(), 8);
  EXPECT_EQ(doc.NextFree(), 1);
  EXPECT_EQ(doc.GetCurrentElement(), 0);
  EXPECT_EQ(doc.GetParentElement(), 0);
  EXPECT_TRUE(AllZero(doc.ElemPosAt(0)));
}

TEST(XmlDocument, IndexIsSizedFromTheTextLength) {
  struct Case {
    int nLength;
    int nInitialSize;  // 0: a fresh object, else 16 units per record - 8
    int nExpectedSize;
  };
  const Case kCases[] = {
      {15, 0, 8}, {16, 0, 9}, {6400, 0, 408}, {100, 492, 500}, {0, 0, 8},
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    if (c.nInitialSize > 0) doc.SetDocument(std::u16string(static_cast<size_t>(c.nInitialSize) * 16, u'x'));
    doc.SetDocument(std::u16string(static_cast<size_t>(c.nLength), u' '));
    EXPECT_EQ(doc.GetElemPosSize(), c.nExpectedSize) << c.nLength << " after " << c.nInitialSize;
  }
}

TEST(XmlDocument, AllocGrowsByHalfWhenFullAndHandsOutAZeroRecord) {
  CTestDocument doc;
  doc.SetNextFree(8);
  EXPECT_EQ(doc.AllocElemPos(), 8);
  EXPECT_EQ(doc.NextFree(), 9);
  EXPECT_EQ(doc.GetElemPosSize(), 12);
  EXPECT_TRUE(AllZero(doc.ElemPosAt(8)));

  const int kSteps[] = {18, 27, 40, 60};
  for (int nExpected : kSteps) {
    doc.SetNextFree(doc.GetElemPosSize());
    doc.AllocElemPos();
    EXPECT_EQ(doc.GetElemPosSize(), nExpected);
  }
}

TEST(XmlDocument, AllocKeepsExistingRecordsWhenGrowing) {
  CTestDocument doc;
  for (int i = 1; i < 8; ++i) doc.ElemPosAt(doc.AllocElemPos()).nStartOpen = i * 10;
  doc.AllocElemPos();
  for (int i = 1; i < 8; ++i) EXPECT_EQ(doc.ElemPosAt(i).nStartOpen, i * 10);
}

TEST(XmlDocument, ElemPosAtChecksAgainstTheIndexSizeNotTheRecordsInUse) {
  CTestDocument doc;
  EXPECT_THROW(doc.ElemPosAt(-1), std::invalid_argument);
  EXPECT_THROW(doc.ElemPosAt(8), std::invalid_argument);
  EXPECT_NO_THROW(doc.ElemPosAt(7));
  const CTestDocument& constDoc = doc;
  EXPECT_THROW(constDoc.ElemPosAt(8), std::invalid_argument);
}

TEST(XmlDocument, SecondTextReusesTheIndexAndKeepsStaleRecordsBeyondTheParse) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r><a/><b/><c/></r>"));
  EXPECT_EQ(doc.NextFree(), 5);
  ASSERT_TRUE(doc.SetDocument(u"<x/>"));
  EXPECT_EQ(doc.NextFree(), 2);
  // Record 4 is no longer in use but still holds what the first parse wrote.
  EXPECT_EQ(doc.ElemPosAt(4).nStartOpen, 11);
  // A stale record handed out again is zero, as insertion expects it.
  EXPECT_EQ(doc.ElemPosAt(2).nStartOpen, 3);
  EXPECT_EQ(doc.AllocElemPos(), 2);
  EXPECT_TRUE(AllZero(doc.ElemPosAt(2)));
}

TEST(XmlDocument, ThreeElementDocumentGetsOneRecordEach) {
  CTestDocument doc;
  const std::u16string strText = u"<r><a x=\"1\">hi</a><b/></r>";
  ASSERT_EQ(strText.size(), 26u);
  ASSERT_TRUE(doc.SetDocument(strText));
  EXPECT_EQ(doc.NextFree(), 4);
  const RecordView kExpected[] = {
      {0, 0, 0, 0, 0, 1, 0},
      {0, 2, 22, 25, 0, 2, 0},
      {3, 11, 14, 17, 1, 0, 3},
      {18, 21, 20, 21, 1, 0, 0},
  };
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ViewOf(doc.ElemPosAt(i)), kExpected[i]) << "record " << i;
  EXPECT_EQ(doc.GetDocument(), strText);
}

TEST(XmlDocument, SetDocumentTakesOverAMovedString) {
  CTestDocument doc;
  std::u16string strText = u"<log>" + std::u16string(1000, u'x') + u"</log>";
  const char16_t* pData = strText.data();
  ASSERT_TRUE(doc.SetDocument(std::move(strText)));
  EXPECT_EQ(doc.ViewDocument().data(), pData);
}

}  // namespace
