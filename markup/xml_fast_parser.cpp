// The parser's fast path: one forward loop with an explicit stack of open
// elements, for the forms a log is made of ("<name>", "<name/>", "<name a="v">",
// "</name>", processing instructions and character data). It fills the index
// exactly as the recursive parser does, record by record, growth included.
// At anything else (a comment, a CDATA section, a blank after '<', an end tag
// that is not a plain "</name>", any error) it gives up, and the caller parses
// the whole text again with the general rules, which also word the errors.
#include <memory>

#include "markup.h"

namespace {

// An element whose end tag has not been met yet.
struct OpenElement {
  int32_t i;           // its record
  int32_t nNameFirst;  // its name, as a place in the text
  int32_t nNameLength;
  int32_t iLastChild;  // the child parsed last, 0 while it has none
};

// "?>" from the '?' of "<?", as the node scanner searches it; -1 when the
// text ends first.
int32_t FindInstructionEnd(const char16_t* pText, int32_t nQuestion) {
  for (int32_t nPos = nQuestion; pText[nPos] != 0; ++nPos) {
    if (pText[nPos] == u'?' && pText[nPos + 1] == u'>') return nPos;
  }
  return -1;
}

}  // namespace

int32_t CXmlDocument::ParseCommonForms() {
  using markup_scan::HasClass;
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
      const char16_t* pNameEnd = p + 2 + open.nNameLength;
      // The name's units are never zero, so the comparison stops at the end
      // of the text before the '>' is looked at.
      if (!markup_scan::SameUnits(p + 2, pText + open.nNameFirst, open.nNameLength) || *pNameEnd != u'>') return 0;
      ProbeNextRecord();
      ElemPos& elem = m_aElemPos[static_cast<size_t>(open.i)];
      elem.nEndOpen = Offset(p);
      elem.nEndClose = Offset(pNameEnd);
      if (--nOpen == 0) {
        m_iLastChildHint = open.iLastChild;
        return open.i;
      }
      p = pNameEnd + 1;
      continue;
    }

    if (cNext == u'?') {
      if (p[2] == 0) return 0;
      const int32_t nEnd = FindInstructionEnd(pText, Offset(p) + 1);
      if (nEnd < 0) return 0;
      p = pText + nEnd + 2;
      continue;
    }

    // A start tag, unless the name is missing: a blank, a quote, a
    // delimiter or the end of the text after '<'.
    if (cNext == 0 || cNext == u'"' || cNext == u'\'' || HasClass(cNext, markup_scan::classDelimiter)) return 0;
    if (nOpen == kMaxNestingDepth) return 0;
    const char16_t* pNameEnd = p + 2;
    while (*pNameEnd != 0 && !HasClass(*pNameEnd, markup_scan::classDelimiter)) ++pNameEnd;
    const char16_t* pStartClose = markup_scan::FindUnitOrZero(pNameEnd, u'>');
    if (*pStartClose == 0) return 0;

    const int32_t i = AllocElemPos();
    const bool bEmpty = pStartClose[-1] == u'/';
    const int32_t nStartOpen = Offset(p);
    const int32_t nStartClose = Offset(pStartClose);
    OpenElement* pParent = nOpen > 0 ? &aOpen[static_cast<size_t>(nOpen - 1)] : nullptr;
    m_aElemPos[static_cast<size_t>(i)] =
        ElemPos{nStartOpen, nStartClose, bEmpty ? nStartClose - 1 : nStartClose + 1, bEmpty ? nStartClose : 0, 0,
                pParent != nullptr ? pParent->i : 0, 0, 0};
    if (pParent == nullptr) {
      m_aElemPos[0].nEndOpen = nStartOpen;  // where the general parse leaves the document's scan position
    } else {
      if (pParent->iLastChild == 0) {
        m_aElemPos[static_cast<size_t>(pParent->i)].iFirstChild = i;
      } else {
        m_aElemPos[static_cast<size_t>(pParent->iLastChild)].iNextSibling = i;
      }
      pParent->iLastChild = i;
    }
    if (!bEmpty) {
      aOpen[static_cast<size_t>(nOpen++)] = OpenElement{i, nStartOpen + 1, Offset(pNameEnd) - nStartOpen - 1, 0};
    } else if (pParent == nullptr) {
      return i;
    }
    p = pStartClose + 1;
  }
}
