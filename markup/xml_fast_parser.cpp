// The parser's fast path: one forward loop with an explicit stack of open
// elements, for the forms a log is made of ("<name>", "<name/>", "<name a="v">",
// "</name>", processing instructions and character data). It fills the index
// exactly as the recursive parser does, record by record, growth included.
// At anything else (a comment, a CDATA section, a blank after '<', an end tag
// that is not a plain "</name>", any error) it gives up, and the caller parses
// the whole text again with the general rules, which also word the errors.
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

inline bool SameUnits(const char16_t* p, const char16_t* q, int32_t nCount) {
  for (int32_t n = 0; n < nCount; ++n) {
    if (p[n] != q[n]) return false;
  }
  return true;
}

}  // namespace

int32_t CXmlDocument::ParseCommonForms() {
  using markup_scan::HasClass;
  const char16_t* const pText = m_strDocument.c_str();
  std::vector<OpenElement> aOpen;
  aOpen.reserve(16);
  int32_t nPos = 0;
  for (;;) {
    if (!ScanToChar(nPos, pText, u'<')) return 0;
    const char16_t cNext = pText[nPos + 1];

    if (cNext == u'/') {
      if (aOpen.empty()) return 0;
      const OpenElement open = aOpen.back();
      const int32_t nNameEnd = nPos + 2 + open.nNameLength;
      // The name's units are never zero, so the comparison stops at the end
      // of the text before the '>' is looked at.
      if (!SameUnits(pText + nPos + 2, pText + open.nNameFirst, open.nNameLength) || pText[nNameEnd] != u'>') {
        return 0;
      }
      ProbeNextRecord();
      ElemPos& elem = m_aElemPos[static_cast<size_t>(open.i)];
      elem.nEndOpen = nPos;
      elem.nEndClose = nNameEnd;
      aOpen.pop_back();
      if (aOpen.empty()) {
        m_iLastChildHint = open.iLastChild;
        return open.i;
      }
      nPos = nNameEnd + 1;
      continue;
    }

    if (cNext == u'?') {
      if (pText[nPos + 2] == 0) return 0;
      const int32_t nEnd = FindInstructionEnd(pText, nPos + 1);
      if (nEnd < 0) return 0;
      nPos = nEnd + 2;
      continue;
    }

    // A start tag, unless the name is missing: a blank, a quote, a
    // delimiter or the end of the text after '<'.
    if (cNext == 0 || cNext == u'"' || cNext == u'\'' || HasClass(cNext, markup_scan::classDelimiter)) return 0;
    if (aOpen.size() >= static_cast<size_t>(kMaxNestingDepth)) return 0;
    int32_t nNameEnd = nPos + 2;
    while (pText[nNameEnd] != 0 && !HasClass(pText[nNameEnd], markup_scan::classDelimiter)) ++nNameEnd;
    int32_t nStartClose = nNameEnd;
    if (!ScanToChar(nStartClose, pText, u'>')) return 0;

    const int32_t i = AllocElemPos();
    const int32_t iParent = aOpen.empty() ? 0 : aOpen.back().i;
    const bool bEmpty = pText[nStartClose - 1] == u'/';
    m_aElemPos[static_cast<size_t>(i)] = ElemPos{nPos, nStartClose, bEmpty ? nStartClose - 1 : nStartClose + 1,
                                                 bEmpty ? nStartClose : 0, 0, iParent, 0, 0};
    if (aOpen.empty()) {
      m_aElemPos[0].nEndOpen = nPos;  // where the general parse leaves the document's scan position
    } else {
      OpenElement& parent = aOpen.back();
      if (parent.iLastChild == 0) {
        m_aElemPos[static_cast<size_t>(parent.i)].iFirstChild = i;
      } else {
        m_aElemPos[static_cast<size_t>(parent.iLastChild)].iNextSibling = i;
      }
      parent.iLastChild = i;
    }
    if (bEmpty) {
      if (aOpen.empty()) return i;
    } else {
      aOpen.push_back(OpenElement{i, nPos + 1, nNameEnd - nPos - 1, 0});
    }
    nPos = nStartClose + 1;
  }
}
