// Element insertion: one splice of the text, then a shift of the offsets that
// the splice pushed along. The document is never parsed again.
#include <algorithm>
#include <cstring>

#include "markup/markup.h"

namespace {

constexpr char16_t kLineEnd[] = u"\r\n";

// The three characters the writer escapes; quotes are written as they are.
const char16_t* EscapeFor(char16_t c) {
  switch (c) {
    case u'<':
      return u"&lt;";
    case u'&':
      return u"&amp;";
    case u'>':
      return u"&gt;";
    default:
      return nullptr;
  }
}

size_t LengthOf(const char16_t* sz) { return std::char_traits<char16_t>::length(sz); }

}  // namespace

std::u16string CXmlDocument::EncodeText(const char16_t* szText) {
  const size_t nLength = LengthOf(szText);
  std::u16string strResult;
  strResult.reserve(nLength + nLength / 10 + 7);
  const char16_t* pRun = szText;
  for (const char16_t* p = szText;; ++p) {
    const char16_t* szEscape = *p != 0 ? EscapeFor(*p) : nullptr;
    if (*p != 0 && szEscape == nullptr) continue;
    strResult.append(pRun, p);
    if (*p == 0) break;
    strResult.append(szEscape);
    pRun = p + 1;
  }
  return strResult;
}

void CXmlDocument::ReplaceDocumentRange(int32_t nOffset, int32_t nLength, std::u16string_view strText) {
  const int32_t nSize = static_cast<int32_t>(m_strDocument.size());
  nOffset = std::clamp(nOffset, 0, nSize);
  nLength = std::clamp(nLength, 0, nSize - nOffset);
  if (strText.size() > static_cast<size_t>(INT32_MAX / 2 - (nSize - nLength))) throw std::bad_alloc();
  // replace() moves the tail in place when the capacity allows, and otherwise
  // builds the new string in one pass.
  m_strDocument.replace(static_cast<size_t>(nOffset), static_cast<size_t>(nLength), strText.data(), strText.size());
  m_nFirstChange = std::min(m_nFirstChange, nOffset);
}

void CXmlDocument::ShiftPositions(int32_t iPos, int32_t nDelta) {
  if (iPos == 0) return;
  // Walks the records after iPos in document order by their links alone.
  // iAncestor is the next ancestor to be met on the way up: only its end tag
  // lies after the change.
  int32_t iAncestor = ElemPosAt(iPos).iParent;
  int32_t i = iPos;
  for (;;) {
    bool bWhole = true;  // start tag after the change too
    if (i != iAncestor && ElemPosAt(i).iFirstChild != 0) {
      i = ElemPosAt(i).iFirstChild;
    } else {
      if (i == iAncestor) iAncestor = ElemPosAt(i).iParent;
      if (ElemPosAt(i).iNextSibling != 0) {
        i = ElemPosAt(i).iNextSibling;
      } else {
        // Climb until a level with a next sibling, or to the next ancestor.
        for (;;) {
          i = ElemPosAt(i).iParent;
          if (i == 0 || i == iAncestor) {
            bWhole = i != iAncestor;
            break;
          }
          if (ElemPosAt(i).iNextSibling != 0) {
            i = ElemPosAt(i).iNextSibling;
            break;
          }
        }
      }
    }
    ElemPos& elem = ElemPosAt(i);
    if (bWhole) {
      elem.nStartOpen += nDelta;
      elem.nStartClose += nDelta;
    }
    elem.nEndOpen += nDelta;
    elem.nEndClose += nDelta;
    if (i == 0) return;
  }
}

void CXmlDocument::LocateInsertPoint(int32_t nFlags, int32_t iParent, int32_t& iSibling, int32_t& nOffset) const {
  const ElemPos& parent = ElemPosAt(iParent);
  const bool bBefore = (nFlags & InsertBefore) != 0;
  const bool bEmptyParent = IsEmptyElement(parent);
  const int32_t iReference = iSibling;

  if (iReference != 0) {
    const ElemPos& reference = ElemPosAt(iReference);
    nOffset = bBefore ? reference.nStartOpen : reference.nEndClose + 1;
  } else if (iParent == 0) {
    nOffset = bBefore ? 0 : static_cast<int32_t>(m_strDocument.size());
  } else if (bEmptyParent) {
    nOffset = parent.nStartClose;
  } else {
    nOffset = bBefore ? parent.nStartClose + 1 : parent.nEndOpen;
  }

  // Whitespace that runs up to a tag (or the end) goes in front of the new
  // element; whitespace followed by other text stays with that text.
  if ((nFlags & InsertNoWhitespaceSkip) == 0 && !bEmptyParent) {
    int32_t nPos = nOffset;
    const char16_t* pText = m_strDocument.c_str();
    if (!SkipWhitespace(nPos, pText) || pText[nPos] == u'<') nOffset = nPos;
  }

  if (iReference != 0) {
    if (!bBefore) return;  // linked after the reference itself
    // Previous sibling of the reference. A reference that is not among the
    // parent's children ends the walk at the last child and reports 0.
    int32_t iPrevious = 0;
    int32_t i = parent.iFirstChild;
    while (i != 0 && i != iReference) {
      iPrevious = i;
      i = ElemPosAt(i).iNextSibling;
    }
    iSibling = i == iReference ? iPrevious : 0;
    return;
  }
  iSibling = 0;
  if (bBefore || parent.iFirstChild == 0) return;
  iSibling = LastChildOf(iParent);
}

int32_t CXmlDocument::LastChildOf(int32_t iParent) const {
  // A record in use whose parent is iParent and that has no next sibling is
  // the end of iParent's child list: the hint is taken when it passes that
  // test, which spares the walk along a log's thousands of records.
  const int32_t iHint = m_iLastChildHint;
  if (iHint > 0 && iHint < m_iNextFree) {
    const ElemPos& hint = ElemPosAt(iHint);
    if (hint.iParent == iParent && hint.iNextSibling == 0) return iHint;
  }
  int32_t iLast = ElemPosAt(iParent).iFirstChild;
  while (iLast != 0 && ElemPosAt(iLast).iNextSibling != 0) iLast = ElemPosAt(iLast).iNextSibling;
  return iLast;
}

int32_t CXmlDocument::LinkNewElement(int32_t iSibling, int32_t nOffset) {
  const int32_t iNew = AllocElemPos();
  ElemPos& elem = ElemPosAt(iNew);
  elem.nStartOpen = nOffset;
  elem.iParent = m_iParent;
  elem.iFirstChild = 0;
  int32_t& iLinkFrom = iSibling != 0 ? ElemPosAt(iSibling).iNextSibling : ElemPosAt(m_iParent).iFirstChild;
  elem.iNextSibling = iLinkFrom;
  iLinkFrom = iNew;
  if (elem.iNextSibling == 0) m_iLastChildHint = iNew;
  return iNew;
}

std::u16string CXmlDocument::ComposeElementText(int32_t iNew, const char16_t* szName, const char16_t* szData) {
  const std::u16string_view strName(szName, LengthOf(szName));
  const int32_t nNameLength = static_cast<int32_t>(strName.size());
  ElemPos& elem = ElemPosAt(iNew);
  std::u16string strText;
  if (szData == nullptr || szData[0] == 0) {
    strText.reserve(strName.size() + 6);
    strText.append(u"<").append(strName).append(u"/>").append(kLineEnd);
    elem.nStartClose = elem.nStartOpen + nNameLength + 2;
    elem.nEndOpen = elem.nStartClose - 1;
    elem.nEndClose = elem.nEndOpen + 1;
  } else {
    const std::u16string strEncoded = EncodeText(szData);
    strText.reserve(2 * strName.size() + strEncoded.size() + 7);
    strText.append(u"<").append(strName).append(u">").append(strEncoded);
    strText.append(u"</").append(strName).append(u">").append(kLineEnd);
    elem.nStartClose = elem.nStartOpen + nNameLength + 1;
    elem.nEndOpen = elem.nStartClose + static_cast<int32_t>(strEncoded.size()) + 1;
    elem.nEndClose = elem.nEndOpen + nNameLength + 2;
  }
  return strText;
}

int32_t CXmlDocument::OpenEmptyParent(std::u16string& strText, bool bSlashBeforeSlash) {
  // "<p/>" opens into "<p>", CR LF, the new element, "</p>": the '/' is
  // replaced by the rest of the start tag and everything up to the new end
  // tag, whose '>' is the old final '>'.
  const std::u16string strParentName = GetTagName(m_iParent);
  ElemPos& parent = ElemPosAt(m_iParent);
  strText.insert(0, bSlashBeforeSlash ? u" >\r\n" : u">\r\n").append(u"</").append(strParentName);
  const int32_t nSlash = parent.nStartClose - 1;
  if (!bSlashBeforeSlash) parent.nStartClose -= 1;
  parent.nEndOpen -= 1 + static_cast<int32_t>(strParentName.size());
  return nSlash;
}

bool CXmlDocument::AddElement(const char16_t* szName, const char16_t* szData) {
  if (m_iParent == 0) {
    if (ElemPosAt(0).iFirstChild != 0) return false;  // one top element only
    ElemPosAt(0).nEndOpen = static_cast<int32_t>(m_strDocument.size());
  }

  int32_t iSibling = m_iCurrent;
  int32_t nOffset = 0;
  LocateInsertPoint(0, m_iParent, iSibling, nOffset);
  const bool bEmptyParent = IsEmptyElement(ElemPosAt(m_iParent));
  const bool bNoContent = !bEmptyParent && HasNoContent(ElemPosAt(m_iParent));
  if (bEmptyParent || bNoContent) nOffset += 2;  // a CR LF will stand in front
  // A parent written "<p//>" would still read as an empty element once its
  // last '/' is replaced, and the new child would fall outside it: a blank
  // goes in front of its '>' ("<p/ >"), so that it opens as a start tag.
  const bool bSlashBeforeSlash =
      bEmptyParent && m_iParent != 0 && m_strDocument[ElemPosAt(m_iParent).nStartClose - 2] == u'/';
  if (bSlashBeforeSlash) nOffset += 1;

  // The new record holds the offsets the element will have after the splice.
  const int32_t iNew = LinkNewElement(iSibling, nOffset);
  std::u16string strText = ComposeElementText(iNew, szName, szData);
  int32_t nSplice = nOffset;
  int32_t nReplaced = 0;
  if (bEmptyParent) {
    nSplice = OpenEmptyParent(strText, bSlashBeforeSlash);
    nReplaced = 1;
  } else if (bNoContent) {
    strText.insert(0, kLineEnd);
    nSplice = ElemPosAt(m_iParent).nStartClose + 1;
  }

  ReplaceDocumentRange(nSplice, nReplaced, strText);
  ShiftPositions(iNew, static_cast<int32_t>(strText.size()) - nReplaced);

  m_iCurrent = iNew;
  m_iChild = 0;
  m_nNodeKind = nodeElement;
  return true;
}
