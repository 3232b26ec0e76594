// The document parser: fills the element index from the text by plain forward
// scans, one recursion level per level of nesting.
#include "markup.h"

namespace {

constexpr char16_t kElementTagNotFound[] = u"Element tag not found";
constexpr char16_t kAbruptEndWithinTag[] = u"Abrupt end within tag";
constexpr char16_t kTagStartsWithQuote[] = u"Tag starts with quote";
constexpr char16_t kInvalidNode[] = u"Invalid node";
constexpr char16_t kEndOfTagNotFound[] = u"End of tag not found";
constexpr char16_t kEndTagNotFound[] = u"End tag of %s element not found";
constexpr char16_t kExpectingEndTag[] = u"Expecting end tag of element %s";
constexpr char16_t kEndTagMismatch[] = u"End tag does not correspond to %s";
constexpr char16_t kEndTagNotCompleted[] = u"End tag not completed for element %s";
constexpr char16_t kNestedTooDeeply[] = u"Elements nested too deeply in %s";

// The name of an open element, kept as its place in the text: the parse
// never changes the text, so there is nothing to copy.
struct NameRange {
  int32_t nFirst;
  int32_t nLength;
};

// The name-matching rule of MatchName, applied to a name given by its range:
// the end-tag token must equal the name, or the name must go on with one of
// " =/[" right after the token's length.
bool MatchNameRange(const TokenCursor& cursor, const char16_t* pText, NameRange name) {
  const int32_t nLength = cursor.nTokenLast - cursor.nTokenFirst + 1;
  if (nLength > name.nLength) return false;
  const char16_t* pName = pText + name.nFirst;
  if (!markup_scan::SameUnits(pText + cursor.nTokenFirst, pName, nLength)) return false;
  return nLength == name.nLength || IsNameFollowerUnit(pName[nLength]);
}

}  // namespace

int32_t CXmlDocument::ReportParseError(const char16_t* szFormat, const char16_t* szName, int32_t nOffset) {
  std::u16string strMessage(szFormat);
  if (szName != nullptr) {
    const size_t nPlace = strMessage.find(u"%s");
    if (nPlace != std::u16string::npos) strMessage.replace(nPlace, 2, szName);
  }
  m_strLastError = std::move(strMessage);
  m_nErrorOffset = nOffset;
  --m_iNextFree;
  return -1;
}

inline bool CXmlDocument::ReachedEndTag(int32_t iParent) {
  // A child parse that meets an end tag takes a record, stores the tag's
  // offset as the parent's scan position, gives the record back and returns
  // 0. This does the same without the call: only the growth of the index,
  // which the record taken would have caused, remains to be seen. Any other
  // '<' is stored as the scan position too, as the child parse would store
  // it, so that the child parse finds it at once.
  const char16_t* pText = m_strDocument.c_str();
  ElemPos& parent = ElemPosAt(iParent);
  int32_t nOpen = parent.nEndOpen;
  if (!ScanToChar(nOpen, pText, u'<')) return false;
  parent.nEndOpen = nOpen;
  int32_t nToken = nOpen + 1;
  SkipWhitespace(nToken, pText);
  if (pText[nToken] != u'/') return false;
  ProbeNextRecord();
  return true;
}

int32_t CXmlDocument::ParseElement(int32_t iParent, int32_t nDepth) {
  const char16_t* pText = m_strDocument.c_str();
  // The record is taken first, so that the index grows exactly as it does
  // when the record is given back again below; its fields are written once
  // the start tag is known.
  const int32_t i = AllocElemPos();

  // Find the start tag, stepping over text, comments, processing
  // instructions, CDATA sections and declarations.
  int32_t nOpen = ElemPosAt(iParent).nEndOpen;
  NameRange name{0, 0};
  int32_t nStartClose = 0;
  for (;;) {
    if (!ScanToChar(nOpen, pText, u'<')) return ReportParseError(kElementTagNotFound, nullptr, nOpen);
    ElemPosAt(iParent).nEndOpen = nOpen;

    TokenCursor cursor(pText, nOpen + 1);
    if (!NextToken(cursor)) return ReportParseError(kAbruptEndWithinTag, nullptr, nOpen);
    if (cursor.bQuoted) return ReportParseError(kTagStartsWithQuote, nullptr, nOpen);

    const char16_t cFirst = pText[cursor.nTokenFirst];
    if (cFirst == u'?' || cFirst == u'!') {
      cursor.nScanPos = nOpen;
      const MarkupNodeKind nKind = ScanNode(cursor);
      // "< ?" or "< !" classifies as a start tag without moving: taking it
      // for a node to skip would loop here for ever.
      if (nKind == nodeNone || nKind == nodeElement) return ReportParseError(kInvalidNode, nullptr, nOpen);
      nOpen = cursor.nScanPos;
      continue;
    }
    if (cFirst == u'/') {
      --m_iNextFree;  // an end tag of an enclosing element: no new element here
      return 0;
    }

    name = NameRange{cursor.nTokenFirst, cursor.nTokenLast - cursor.nTokenFirst + 1};
    if (nDepth >= kMaxNestingDepth) {
      return ReportParseError(kNestedTooDeeply, m_strDocument.substr(name.nFirst, name.nLength).c_str(), nOpen);
    }
    nStartClose = cursor.nScanPos;
    if (!ScanToChar(nStartClose, pText, u'>')) {
      return ReportParseError(kEndOfTagNotFound, nullptr, nStartClose);
    }
    break;
  }
  {
    ElemPos& elem = ElemPosAt(i);
    elem.nStartOpen = nOpen;
    elem.nStartClose = nStartClose;
    elem.iParent = iParent;
    elem.iFirstChild = 0;
    elem.iNextSibling = 0;
  }

  if (pText[nStartClose - 1] == u'/') {
    ElemPos& elem = ElemPosAt(i);
    elem.nEndOpen = nStartClose - 1;
    elem.nEndClose = nStartClose;
    return i;
  }

  // Children. The element's own nEndOpen is the scan position for the next
  // child until its end tag is met.
  ElemPosAt(i).nEndOpen = nStartClose + 1;
  int32_t iPrevious = 0;
  for (;;) {
    if (ReachedEndTag(i)) break;
    const int32_t iChild = ParseElement(i, nDepth + 1);
    if (iChild < 0) return -1;
    if (iChild == 0) break;
    if (iPrevious == 0) {
      ElemPosAt(i).iFirstChild = iChild;
    } else {
      ElemPosAt(iPrevious).iNextSibling = iChild;
    }
    iPrevious = iChild;
    ElemPosAt(i).nEndOpen = ElemPosAt(iChild).nEndClose + 1;
  }

  if (iParent == 0) m_iLastChildHint = iPrevious;  // the top element's last child

  // The name is copied only for a message.
  auto NameText = [&] { return m_strDocument.substr(name.nFirst, name.nLength); };
  int32_t nEndOpen = ElemPosAt(i).nEndOpen;
  const bool bEndTag = ScanToChar(nEndOpen, pText, u'<');
  ElemPosAt(i).nEndOpen = nEndOpen;
  if (!bEndTag) return ReportParseError(kEndTagNotFound, NameText().c_str(), nEndOpen);

  // The usual "</name>" needs no tokenizing: '/', the name and '>' are then
  // exactly the three tokens the general reading below would take.
  const int32_t nNameEnd = nEndOpen + 2 + name.nLength;
  if (pText[nEndOpen + 1] == u'/' && nNameEnd <= static_cast<int32_t>(m_strDocument.size()) &&
      pText[nNameEnd] == u'>' &&
      markup_scan::SameUnits(pText + name.nFirst, pText + nEndOpen + 2, name.nLength)) {
    ElemPosAt(i).nEndClose = nNameEnd;
    return i;
  }

  TokenCursor cursor(pText, nEndOpen + 1);
  for (int32_t nToken = 1; NextToken(cursor); ++nToken) {
    if (cursor.bQuoted) continue;
    const char16_t cFirst = pText[cursor.nTokenFirst];
    if (nToken == 1 && cFirst != u'/') {
      return ReportParseError(kExpectingEndTag, NameText().c_str(), cursor.nTokenFirst);
    }
    if (nToken == 2 && !MatchNameRange(cursor, pText, name)) {
      return ReportParseError(kEndTagMismatch, NameText().c_str(), cursor.nTokenFirst);
    }
    if (cFirst == u'>') {
      ElemPosAt(i).nEndClose = cursor.nTokenFirst;
      return i;
    }
  }
  return ReportParseError(kEndTagNotCompleted, NameText().c_str(), cursor.nScanPos);
}
