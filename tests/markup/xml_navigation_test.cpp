#include <gtest/gtest.h>

#include "test_document.h"

namespace {

TEST(Navigation, FindsMatchingSiblingsOneAfterAnother) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r><a/><b/><a>2</a></r>"));
  ASSERT_TRUE(doc.FindNextElement(u"r"));
  EXPECT_EQ(doc.GetCurrentElement(), 1);
  doc.EnterElement();
  EXPECT_EQ(doc.GetParentElement(), 1);
  EXPECT_EQ(doc.GetCurrentElement(), 0);
  EXPECT_EQ(doc.NodeKind(), nodeNone);
  ASSERT_TRUE(doc.FindNextElement(u"a"));
  EXPECT_EQ(doc.GetCurrentElement(), 2);
  ASSERT_TRUE(doc.FindNextElement(u"a"));
  EXPECT_EQ(doc.GetCurrentElement(), 4);
  EXPECT_FALSE(doc.FindNextElement(u"a"));
  EXPECT_EQ(doc.GetCurrentElement(), 4);
  EXPECT_EQ(doc.GetCurrentData(), u"2");
}

TEST(Navigation, EmptyOrAbsentNameTakesTheNextElementWhateverItsName) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r><a/><b/></r>"));
  doc.FindNextElement();
  doc.EnterElement();
  EXPECT_TRUE(doc.FindNextElement(u""));
  EXPECT_EQ(doc.GetTagName(doc.GetCurrentElement()), u"a");
  EXPECT_TRUE(doc.FindNextElement(nullptr));
  EXPECT_EQ(doc.GetTagName(doc.GetCurrentElement()), u"b");
  EXPECT_FALSE(doc.FindNextElement());
}

TEST(Navigation, NamesMatchExactlyOrWithAPathLikeSuffix) {
  struct Case {
    const char16_t* szText;
    const char16_t* szName;
    bool bFound;
  };
  const Case kCases[] = {
      {u"<r><ab/></r>", u"a", false}, {u"<r><a/></r>", u"ab", false},     {u"<r><a/></r>", u"a/x", true},
      {u"<r><a/></r>", u"A", false},  {u"<r><a x='1'/></r>", u"a", true}, {u"<r><a/></r>", u"a[1]", true},
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    ASSERT_TRUE(doc.SetDocument(c.szText));
    doc.FindNextElement(u"r");
    doc.EnterElement();
    EXPECT_EQ(doc.FindNextElement(c.szName), c.bFound) << Narrow(c.szText) << " " << Narrow(c.szName);
  }
}

TEST(Navigation, LeaveThenEnterReturnsToTheChildThatWasCurrent) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r><a/><b/></r>"));
  EXPECT_FALSE(doc.LeaveElement());  // top level: nothing changes
  EXPECT_EQ(doc.GetCurrentElement(), 0);
  doc.FindNextElement(u"r");
  doc.EnterElement();
  doc.FindNextElement(u"b");
  ASSERT_TRUE(doc.LeaveElement());
  EXPECT_EQ(doc.GetCurrentElement(), 1);
  EXPECT_EQ(doc.GetParentElement(), 0);
  EXPECT_EQ(doc.Child(), 3);
  doc.EnterElement();
  EXPECT_EQ(doc.GetCurrentElement(), 3);
  EXPECT_EQ(doc.NodeKind(), nodeElement);
}

TEST(Navigation, EnterWithoutACurrentElementChangesNothing) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r><a/></r>"));
  doc.EnterElement();
  EXPECT_EQ(doc.GetParentElement(), 0);
  EXPECT_EQ(doc.GetCurrentElement(), 0);
}

TEST(Navigation, OutOfRangeIndexRaises) {
  CTestDocument doc;
  EXPECT_THROW(doc.GetTagName(100), std::invalid_argument);
  EXPECT_THROW(doc.GetElementData(-1), std::invalid_argument);
  EXPECT_THROW(doc.LocateElement(0, 50, u"a"), std::invalid_argument);
}

TEST(GetTagName, ReadsTheNameFromTheStartTag) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<r t='1'><\u8bb0\u5f55/></r>"));
  EXPECT_EQ(doc.GetTagName(0), u"");
  EXPECT_EQ(doc.GetTagName(1), u"r");
  EXPECT_EQ(doc.GetTagName(2), u"\u8bb0\u5f55");
}

TEST(GetElementData, DecodesTextAndReturnsALoneCDataSectionAsItStands) {
  struct Case {
    std::u16string strText;
    std::u16string strData;
  };
  const Case kCases[] = {
      {u"<a/>", u""},
      {u"<a></a>", u""},
      {u"<a>x &amp; y</a>", u"x & y"},
      {u"<a> <![CDATA[<b>&amp;]]> </a>", u"<b>&amp;"},
      {u"<a><![CDATA[]]></a>", u""},
      {u"<a><![CDATA[x]]>tail</a>", u"x"},
      {u"<a>x<![CDATA[y]]></a>", u"x<![CDATA[y]]>"},
      {u"<a><b/>text</a>", u""},  // text beside child elements is never returned
      {u"<a> keep  spaces\r\n</a>", u" keep  spaces\r\n"},
      {u"<a>\u65e5\u5fd7 &lt;&gt;</a>", u"\u65e5\u5fd7 <>"},
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    ASSERT_TRUE(doc.SetDocument(c.strText)) << Narrow(c.strText);
    EXPECT_EQ(doc.GetElementData(1), c.strData) << Narrow(c.strText);
  }
}

TEST(GetElementData, CurrentDataWithoutACurrentElementIsEmpty) {
  CTestDocument doc;
  ASSERT_TRUE(doc.SetDocument(u"<a>x</a>"));
  EXPECT_EQ(doc.GetCurrentData(), u"");
  doc.SetDocument(u"<?xml version=\"1.0\"?>\r\n <![CDATA[text]]>");
  EXPECT_EQ(doc.GetCurrentData(), u"");
}

TEST(DecodeText, ReplacesTheFiveNamedReferencesOnlyWhenWhollyInside) {
  struct Case {
    std::u16string strText;
    std::u16string strDecoded;
  };
  const Case kCases[] = {
      {u"&lt;&gt;&quot;&apos;", u"<>\"'"},
      {u"&#65;", u"&#65;"},
      {u"a & b", u"a & b"},
      {u"&&lt;", u"&<"},
      {u"&amp", u"&amp"},
      {u"x&amp;", u"x&"},
      {u"&amp;lt;", u"&lt;"},
      {u"&LT;", u"&LT;"},
  };
  for (const Case& c : kCases) {
    CTestDocument doc;
    doc.SetDocument(c.strText);
    EXPECT_EQ(doc.DecodeText(0, static_cast<int32_t>(c.strText.size()) - 1), c.strDecoded) << Narrow(c.strText);
  }
  CTestDocument doc;
  doc.SetDocument(u"a&lt;b");
  EXPECT_EQ(doc.DecodeText(0, 3), u"a&lt");  // the ";" lies outside the range
  EXPECT_EQ(doc.DecodeText(0, 4), u"a<");    // the ";" is the last unit of the range
  EXPECT_EQ(doc.DecodeText(3, 2), u"");
  EXPECT_EQ(doc.DecodeText(-4, 99), u"a<b");  // kept inside the text
}

}  // namespace
