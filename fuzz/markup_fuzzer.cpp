// Parse, walk and extend arbitrary text. The parser's fast path must leave
// what the general rules alone leave. A document that parses must parse again
// after elements were added to it, into the index that insertion kept, and the
// added data must read back unchanged while it has no child.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "markup/markup.h"

namespace {

class CFuzzDocument : public CXmlDocument {
 public:
  using CXmlDocument::GetElemPosSize;
  using CXmlDocument::InstallDocument;
  int32_t NextFree() const { return m_iNextFree; }
  int32_t LastChildHint() const { return m_iLastChildHint; }
  void MoveTo(int32_t iParent, int32_t iCurrent) {
    m_iParent = iParent;
    m_iCurrent = iCurrent;
    m_iChild = 0;
    m_nNodeKind = iCurrent != 0 ? nodeElement : nodeNone;
  }
};

void Require(bool bCondition) {
  if (!bCondition) std::abort();
}

// Visits every element depth first through the navigation calls.
void Walk(CFuzzDocument& doc, int nDepth) {
  while (doc.FindNextElement()) {
    (void)doc.GetTagName(doc.GetCurrentElement());
    (void)doc.GetCurrentData();
    if (nDepth < 64) {
      doc.EnterElement();
      Walk(doc, nDepth + 1);
      Require(doc.LeaveElement());
    }
  }
}

// The index kept by insertion must equal a fresh parse, records matched by
// their start offsets.
void RequireSameIndex(const CFuzzDocument& built, const CFuzzDocument& parsed) {
  Require(built.NextFree() == parsed.NextFree());
  std::vector<int32_t> aByStart(built.ViewDocument().size() + 1, 0);
  for (int32_t i = 1; i < built.NextFree(); ++i) aByStart[built.ElemPosAt(i).nStartOpen] = i;
  auto Translate = [&](int32_t i) { return i == 0 ? 0 : aByStart[parsed.ElemPosAt(i).nStartOpen]; };
  for (int32_t i = 1; i < parsed.NextFree(); ++i) {
    const ElemPos& p = parsed.ElemPosAt(i);
    const ElemPos& b = built.ElemPosAt(Translate(i));
    Require(b.nStartOpen == p.nStartOpen && b.nStartClose == p.nStartClose && b.nEndOpen == p.nEndOpen &&
            b.nEndClose == p.nEndClose);
    Require(b.iParent == Translate(p.iParent) && b.iFirstChild == Translate(p.iFirstChild) &&
            b.iNextSibling == Translate(p.iNextSibling));
  }
}

// Result, records in use, index size, hint and error of two parses.
void RequireSameParse(const CFuzzDocument& fast, const CFuzzDocument& general) {
  Require(fast.NextFree() == general.NextFree() && fast.GetElemPosSize() == general.GetElemPosSize());
  Require(fast.LastChildHint() == general.LastChildHint() && fast.GetParseError() == general.GetParseError() &&
          fast.GetParseErrorOffset() == general.GetParseErrorOffset());
  for (int32_t i = 0; i < fast.NextFree(); ++i) {
    const ElemPos& f = fast.ElemPosAt(i);
    const ElemPos& g = general.ElemPosAt(i);
    Require(f.nStartOpen == g.nStartOpen && f.nStartClose == g.nStartClose && f.nEndOpen == g.nEndOpen &&
            f.nEndClose == g.nEndClose && f.nReserved == g.nReserved && f.iParent == g.iParent &&
            f.iFirstChild == g.iFirstChild && f.iNextSibling == g.iNextSibling);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  // The first bytes steer the insertions; the rest is UTF-16LE text.
  if (nSize < 4) return 0;
  const uint8_t nInsertions = pData[0] % 8;
  const uint8_t nSeed = pData[1];
  std::u16string strText;
  for (size_t n = 2; n + 1 < nSize; n += 2) strText.push_back(static_cast<char16_t>(pData[n] | pData[n + 1] << 8));

  CFuzzDocument doc;
  const bool bParsed = doc.SetDocument(strText);
  CFuzzDocument general;
  Require(general.InstallDocument(strText, false) == bParsed);
  RequireSameParse(doc, general);
  Walk(doc, 0);
  if (!bParsed) return 0;

  const char16_t* kData[] = {nullptr, u"x", u"a<b&c>]]>", u"\u4e2d\U0001F600", u" "};
  std::vector<std::pair<int32_t, std::u16string>> aAdded;
  for (uint8_t n = 0; n < nInsertions; ++n) {
    const int32_t iParent = 1 + static_cast<int32_t>((nSeed + 31u * n) % static_cast<unsigned>(doc.NextFree() - 1));
    int32_t iCurrent = 0;
    for (int32_t i = doc.ElemPosAt(iParent).iFirstChild, k = 0; i != 0 && k < (nSeed >> 4); ++k) {
      iCurrent = i;
      i = doc.ElemPosAt(i).iNextSibling;
    }
    doc.MoveTo(iParent, iCurrent);
    const char16_t* szData = kData[(nSeed + n) % 5];
    Require(doc.AddElement(u"n", szData));
    aAdded.emplace_back(doc.GetCurrentElement(), szData != nullptr ? szData : u"");
  }

  CFuzzDocument reparsed;
  Require(reparsed.SetDocument(doc.GetDocument()));
  RequireSameIndex(doc, reparsed);
  // Data reads back unless a later insertion made the element a parent.
  for (const auto& added : aAdded) {
    if (doc.ElemPosAt(added.first).iFirstChild == 0) Require(doc.GetElementData(added.first) == added.second);
  }
  return 0;
}
