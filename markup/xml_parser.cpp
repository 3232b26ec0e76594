// The document parser: fills the element index from the text by plain forward
// scans, one recursion level per level of nesting.
#include "markup/markup.h"

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

// The name-matching rule of MatchName, applied to a name given by its place
// in the text: the end-tag token must equal the name, or the name must go on
// with one of " =/[" right after the token's length.
bool MatchNameRange(const TokenCursor& cursor, const char16_t* pName, int32_t nNameLength) {
  const int32_t nLength = cursor.nTokenLast - cursor.nTokenFirst + 1;
  if (nLength > nNameLength) return false;
  if (!markup_scan::SameUnits(cursor.pText + cursor.nTokenFirst, pName, nLength)) return false;
  return nLength == nNameLength || IsNameFollowerUnit(pName[nLength]);
}

// Moves nOpen past the comment, processing instruction, CDATA section or
// declaration whose '<' it is on. False, with nOpen left alone, when there is
// no such node there: "< ?" or "< !" classifies as a start tag without
// moving, and taking it for a node to skip would loop for ever.
bool SkipNode(const char16_t* pText, int32_t& nOpen) {
  TokenCursor cursor(pText, nOpen);
  const MarkupNodeKind nKind = ScanNode(cursor);
  if (nKind == nodeNone || nKind == nodeElement) return false;
  nOpen = cursor.nScanPos;
  return true;
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

std::u16string CXmlDocument::CopyName(NameRange name) const {
  // The name is copied only for a message.
  return m_strDocument.substr(static_cast<size_t>(name.nFirst), static_cast<size_t>(name.nLength));
}

inline void CXmlDocument::RecordStartTag(int32_t i, int32_t iParent, int32_t nOpen, int32_t nStartClose) {
  ElemPos& elem = ElemPosAt(i);
  elem.nStartOpen = nOpen;
  elem.nStartClose = nStartClose;
  elem.iParent = iParent;
  elem.iFirstChild = 0;
  elem.iNextSibling = 0;
  if (m_strDocument[static_cast<size_t>(nStartClose - 1)] == u'/') {
    elem.nEndOpen = nStartClose - 1;
    elem.nEndClose = nStartClose;
  } else {
    // Until the end tag is met, nEndOpen is the scan position for the next
    // child.
    elem.nEndOpen = nStartClose + 1;
  }
}

// Left to itself, GCC keeps this step out of line, and the call per element
// adds about a tenth to the instructions of the general parse.
__attribute__((always_inline)) inline int32_t CXmlDocument::ReadStartTag(int32_t i, int32_t iParent, int32_t nDepth,
                                                                         NameRange& name) {
  const char16_t* pText = m_strDocument.c_str();
  int32_t nOpen = ElemPosAt(iParent).nEndOpen;
  for (;;) {
    if (!ScanToChar(nOpen, pText, u'<')) return ReportParseError(kElementTagNotFound, nullptr, nOpen);
    ElemPosAt(iParent).nEndOpen = nOpen;

    TokenCursor cursor(pText, nOpen + 1);
    if (!NextToken(cursor)) return ReportParseError(kAbruptEndWithinTag, nullptr, nOpen);
    if (cursor.bQuoted) return ReportParseError(kTagStartsWithQuote, nullptr, nOpen);

    const char16_t cFirst = pText[cursor.nTokenFirst];
    if (cFirst == u'?' || cFirst == u'!') {
      if (!SkipNode(pText, nOpen)) return ReportParseError(kInvalidNode, nullptr, nOpen);
      continue;
    }
    if (cFirst == u'/') {
      --m_iNextFree;  // an end tag of an enclosing element: no new element here
      return 0;
    }

    name = NameRange{cursor.nTokenFirst, cursor.nTokenLast - cursor.nTokenFirst + 1};
    if (nDepth >= kMaxNestingDepth) return ReportParseError(kNestedTooDeeply, CopyName(name).c_str(), nOpen);
    int32_t nStartClose = cursor.nScanPos;
    if (!ScanToChar(nStartClose, pText, u'>')) return ReportParseError(kEndOfTagNotFound, nullptr, nStartClose);
    RecordStartTag(i, iParent, nOpen, nStartClose);
    return 1;
  }
}

inline int32_t CXmlDocument::ParseChildren(int32_t i, int32_t nDepth) {
  int32_t iPrevious = 0;
  for (;;) {
    if (ReachedEndTag(i)) return iPrevious;
    const int32_t iChild = ParseElement(i, nDepth + 1);
    if (iChild < 0) return -1;
    if (iChild == 0) return iPrevious;
    if (iPrevious == 0) {
      ElemPosAt(i).iFirstChild = iChild;
    } else {
      ElemPosAt(iPrevious).iNextSibling = iChild;
    }
    iPrevious = iChild;
    ElemPosAt(i).nEndOpen = ElemPosAt(iChild).nEndClose + 1;
  }
}

int32_t CXmlDocument::ReadEndTagTokens(int32_t i, NameRange name, int32_t nEndOpen) {
  const char16_t* pText = m_strDocument.c_str();
  TokenCursor cursor(pText, nEndOpen + 1);
  for (int32_t nToken = 1; NextToken(cursor); ++nToken) {
    if (cursor.bQuoted) continue;
    const char16_t cFirst = pText[cursor.nTokenFirst];
    if (nToken == 1 && cFirst != u'/') {
      return ReportParseError(kExpectingEndTag, CopyName(name).c_str(), cursor.nTokenFirst);
    }
    if (nToken == 2 && !MatchNameRange(cursor, pText + name.nFirst, name.nLength)) {
      return ReportParseError(kEndTagMismatch, CopyName(name).c_str(), cursor.nTokenFirst);
    }
    if (cFirst == u'>') {
      ElemPosAt(i).nEndClose = cursor.nTokenFirst;
      return i;
    }
  }
  return ReportParseError(kEndTagNotCompleted, CopyName(name).c_str(), cursor.nScanPos);
}

inline int32_t CXmlDocument::ReadEndTag(int32_t i, NameRange name) {
  const char16_t* pText = m_strDocument.c_str();
  int32_t nEndOpen = ElemPosAt(i).nEndOpen;
  const bool bEndTag = ScanToChar(nEndOpen, pText, u'<');
  ElemPosAt(i).nEndOpen = nEndOpen;
  if (!bEndTag) return ReportParseError(kEndTagNotFound, CopyName(name).c_str(), nEndOpen);

  // The usual "</name>" needs no tokenizing: '/', the name and '>' are then
  // exactly the three tokens that ReadEndTagTokens would take.
  const int32_t nNameEnd = nEndOpen + 2 + name.nLength;
  if (pText[nEndOpen + 1] == u'/' && nNameEnd <= static_cast<int32_t>(m_strDocument.size()) &&
      pText[nNameEnd] == u'>' && markup_scan::SameUnits(pText + name.nFirst, pText + nEndOpen + 2, name.nLength)) {
    ElemPosAt(i).nEndClose = nNameEnd;
    return i;
  }
  return ReadEndTagTokens(i, name, nEndOpen);
}

int32_t CXmlDocument::ParseElement(int32_t iParent, int32_t nDepth) {
  // The record is taken first, so that the index grows exactly as it does
  // when the record is given back again; its fields are written once the
  // start tag is known.
  const int32_t i = AllocElemPos();
  NameRange name{0, 0};
  const int32_t nRead = ReadStartTag(i, iParent, nDepth, name);
  if (nRead <= 0) return nRead;
  if (IsEmptyElement(ElemPosAt(i))) return i;

  const int32_t iLastChild = ParseChildren(i, nDepth);
  if (iLastChild < 0) return -1;
  if (iParent == 0) m_iLastChildHint = iLastChild;  // the top element's last child
  return ReadEndTag(i, name);
}
