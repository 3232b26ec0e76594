// The parser's fast path: one forward loop with an explicit stack of open
// elements, for the forms a log is made of ("<name>", "<name/>", "<name a="v">",
// "</name>", processing instructions and character data). It fills the index
// exactly as the recursive parser does, record by record, growth included.
// At anything else (a comment, a CDATA section, a blank after '<', an end tag
// that is not a plain "</name>", any error) it gives up, and the caller parses
// the whole text again with the general rules, which also word the errors.
#include <memory>

#include "markup/markup.h"

namespace {

// An element whose end tag has not been met yet.
struct OpenElement {
  int32_t i;           // its record
  int32_t nNameFirst;  // its name, as a place in the text
  int32_t nNameLength;
  int32_t iLastChild;  // the child parsed last, 0 while it has none
};

// Past the "?>" of the processing instruction whose "<?" is at p, searched
// from the '?' as the node scanner searches it; null when the text ends first.
inline const char16_t* SkipInstruction(const char16_t* p) {
  if (p[2] == 0) return nullptr;
  for (const char16_t* pQuestion = p + 1; *pQuestion != 0; ++pQuestion) {
    if (pQuestion[0] == u'?' && pQuestion[1] == u'>') return pQuestion + 2;
  }
  return nullptr;
}

// The '>' of the end tag at p when it is "</name>" for the open element;
// null for any other end tag.
inline const char16_t* FindPlainEndTagClose(const char16_t* p, const char16_t* pText, const OpenElement& open) {
  const char16_t* pNameEnd = p + 2 + open.nNameLength;
  // The name's units are never zero, so the comparison stops at the end of
  // the text before the '>' is looked at.
  if (!markup_scan::SameUnits(p + 2, pText + open.nNameFirst, open.nNameLength) || *pNameEnd != u'>') return nullptr;
  return pNameEnd;
}

// The '>' of the start tag at p, with the first delimiter after its name in
// pNameEnd; null when the name is missing (a blank, a quote, a delimiter or
// the end of the text after '<') or the text ends before a '>'.
inline const char16_t* FindStartTagClose(const char16_t* p, const char16_t*& pNameEnd) {
  using markup_scan::HasClass;
  const char16_t cFirst = p[1];
  if (cFirst == 0 || cFirst == u'"' || cFirst == u'\'' || HasClass(cFirst, markup_scan::classDelimiter)) return nullptr;
  pNameEnd = p + 2;
  while (*pNameEnd != 0 && !HasClass(*pNameEnd, markup_scan::classDelimiter)) ++pNameEnd;
  const char16_t* pStartClose = markup_scan::FindUnitOrZero(pNameEnd, u'>');
  return *pStartClose != 0 ? pStartClose : nullptr;
}

// Links record i, whose start tag opens at nStartOpen, after the last child
// of pParent (null for the document level).
inline void LinkToParent(ElemPosIndex& aElemPos, int32_t i, OpenElement* pParent, int32_t nStartOpen) {
  if (pParent == nullptr) {
    aElemPos[0].nEndOpen = nStartOpen;  // where the general parse leaves the document's scan position
    return;
  }
  if (pParent->iLastChild == 0) {
    aElemPos[static_cast<size_t>(pParent->i)].iFirstChild = i;
  } else {
    aElemPos[static_cast<size_t>(pParent->iLastChild)].iNextSibling = i;
  }
  pParent->iLastChild = i;
}

}  // namespace

int32_t CXmlDocument::ParseCommonForms() {
  const char16_t* const pText = m_strDocument.c_str();
  // Room for the deepest nesting the general parser accepts, so that the
  // loop never checks for growth.
  std::unique_ptr<OpenElement[]> aOpen(new OpenElement[kMaxNestingDepth]);
  int32_t nOpen = 0;
  auto Offset = [pText](const char16_t* p) { return static_cast<int32_t>(p - pText); };
  const char16_t* p = pText;
  for (;;) {
    p = markup_scan::FindUnitOrZero(p, u'<');
    if (*p == 0) return 0;
    const char16_t cNext = p[1];

    if (cNext == u'/') {
      if (nOpen == 0) return 0;
      const OpenElement& open = aOpen[static_cast<size_t>(nOpen - 1)];
      const char16_t* pEndClose = FindPlainEndTagClose(p, pText, open);
      if (pEndClose == nullptr) return 0;
      ProbeNextRecord();
      ElemPos& elem = m_aElemPos[static_cast<size_t>(open.i)];
      elem.nEndOpen = Offset(p);
      elem.nEndClose = Offset(pEndClose);
      if (--nOpen == 0) {
        m_iLastChildHint = open.iLastChild;
        return open.i;
      }
      p = pEndClose + 1;
      continue;
    }

    if (cNext == u'?') {
      p = SkipInstruction(p);
      if (p == nullptr) return 0;
      continue;
    }

    // Anything else is a start tag.
    const char16_t* pNameEnd = nullptr;
    const char16_t* pStartClose = FindStartTagClose(p, pNameEnd);
    if (pStartClose == nullptr || nOpen == kMaxNestingDepth) return 0;
    const int32_t i = AllocElemPos();
    const bool bEmpty = pStartClose[-1] == u'/';
    const int32_t nStartOpen = Offset(p);
    const int32_t nStartClose = Offset(pStartClose);
    OpenElement* pParent = nOpen > 0 ? &aOpen[static_cast<size_t>(nOpen - 1)] : nullptr;
    m_aElemPos[static_cast<size_t>(i)] = ElemPos{nStartOpen,
                                                 nStartClose,
                                                 bEmpty ? nStartClose - 1 : nStartClose + 1,
                                                 bEmpty ? nStartClose : 0,
                                                 0,
                                                 pParent != nullptr ? pParent->i : 0,
                                                 0,
                                                 0};
    LinkToParent(m_aElemPos, i, pParent, nStartOpen);
    if (!bEmpty) {
      aOpen[static_cast<size_t>(nOpen++)] = OpenElement{i, nStartOpen + 1, Offset(pNameEnd) - nStartOpen - 1, 0};
    } else if (pParent == nullptr) {
      return i;
    }
    p = pStartClose + 1;
  }
}
