// Navigation and reading: moves of the navigation position, and names and data
// read afresh from the text at the recorded offsets.
#include <algorithm>

#include "markup/markup.h"

namespace {

struct EntityReference {
  const char16_t* szText;  // what follows the '&'
  int32_t nLength;
  char16_t cCharacter;
};

// All five named references are decoded; the writer escapes only the first
// three.
constexpr EntityReference kEntities[] = {
    {u"lt;", 3, u'<'}, {u"amp;", 4, u'&'}, {u"gt;", 3, u'>'}, {u"apos;", 5, u'\''}, {u"quot;", 5, u'"'},
};

constexpr char16_t kCDataOpen[] = u"<![CDATA[";
constexpr int32_t kCDataOpenLength = 9;

// How far ahead of the candidate LocateElement fetches a start tag: four
// records of a log lie far enough ahead for the fetch to arrive in time
// (measured: two and eight do no better).
constexpr int kSiblingsAhead = 4;

// Asks for the cache line at p ahead of its use; a hint only.
inline void PrefetchUnits([[maybe_unused]] const char16_t* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#endif
}

}  // namespace

int32_t CXmlDocument::LocateElement(int32_t iParent, int32_t iCurrent, const char16_t* szName) const {
  int32_t iCandidate = iCurrent != 0 ? ElemPosAt(iCurrent).iNextSibling : ElemPosAt(iParent).iFirstChild;
  if (szName == nullptr || szName[0] == 0) return iCandidate;
  const char16_t* pText = m_strDocument.c_str();
  // A name costs a read of the text at the candidate's start tag. In a log
  // larger than the cache each such read waits on memory, and nothing
  // predicts it (records lie hundreds of units apart, unevenly): the start
  // tag a few siblings on is fetched ahead, so that a walk along the records
  // finds it there.
  int32_t iAhead = iCandidate;
  for (int n = 0; n < kSiblingsAhead && iAhead != 0; ++n) iAhead = ElemPosAt(iAhead).iNextSibling;
  while (iCandidate != 0) {
    if (iAhead != 0) {
      const ElemPos& ahead = ElemPosAt(iAhead);
      PrefetchUnits(pText + ahead.nStartOpen);
      iAhead = ahead.iNextSibling;
    }
    const ElemPos& candidate = ElemPosAt(iCandidate);
    TokenCursor cursor(pText, candidate.nStartOpen + 1);
    NextToken(cursor);
    if (MatchName(cursor, szName)) return iCandidate;
    iCandidate = candidate.iNextSibling;
  }
  return 0;
}

bool CXmlDocument::FindNextElement(const char16_t* szName) {
  if (m_aElemPos.empty()) return false;
  const int32_t i = LocateElement(m_iParent, m_iCurrent, szName);
  if (i == 0) return false;
  m_iCurrent = i;
  m_iParent = ElemPosAt(i).iParent;
  m_iChild = 0;
  m_nNodeKind = nodeElement;
  return true;
}

void CXmlDocument::EnterElement() {
  if (m_iCurrent == 0 || m_nNodeKind != nodeElement) return;
  m_iParent = m_iCurrent;
  m_iCurrent = m_iChild;
  m_iChild = 0;
  m_nNodeKind = m_iCurrent != 0 ? nodeElement : nodeNone;
}

bool CXmlDocument::LeaveElement() {
  if (m_iParent == 0) return false;
  m_iChild = m_iCurrent;
  m_iCurrent = m_iParent;
  m_iParent = ElemPosAt(m_iCurrent).iParent;
  m_nNodeKind = nodeElement;
  return true;
}

std::u16string CXmlDocument::GetTagName(int32_t iPos) const {
  const ElemPos& elem = ElemPosAt(iPos);
  if (iPos == 0) return std::u16string();
  TokenCursor cursor(m_strDocument.c_str(), elem.nStartOpen + 1);
  if (!NextToken(cursor)) return std::u16string();
  return GetTokenText(cursor, *this);
}

std::u16string CXmlDocument::GetElementData(int32_t iPos) const {
  const ElemPos& elem = ElemPosAt(iPos);
  if (elem.iFirstChild != 0 || IsEmptyElement(elem)) return std::u16string();

  // Content that is one CDATA section, possibly after whitespace, is returned
  // exactly as it stands, without decoding.
  const char16_t* pText = m_strDocument.c_str();
  const int32_t nLength = static_cast<int32_t>(m_strDocument.size());
  int32_t nPos = elem.nStartClose + 1;
  if (nPos >= 0 && nPos <= nLength) SkipWhitespace(nPos, pText);
  if (nPos >= 0 && nPos < nLength && pText[nPos] == u'<' && nPos + 11 < elem.nEndOpen &&
      m_strDocument.compare(nPos, kCDataOpenLength, kCDataOpen) == 0) {
    // Only a "]]>" that starts before the end tag counts, so the search
    // need not look further than that.
    const int32_t nFirst = nPos + kCDataOpenLength;
    const int32_t nLimit = std::min(elem.nEndOpen + 2, nLength);
    const std::u16string_view content(pText + nFirst, static_cast<size_t>(nLimit - nFirst));
    const size_t nFound = content.find(u"]]>");
    if (nFound != std::u16string_view::npos && nFirst + static_cast<int32_t>(nFound) < elem.nEndOpen) {
      return std::u16string(content.substr(0, nFound));
    }
  }
  return DecodeText(elem.nStartClose + 1, elem.nEndOpen - 1);
}

std::u16string CXmlDocument::GetCurrentData() const { return GetElementData(m_iCurrent); }

std::u16string CXmlDocument::DecodeText(int32_t nStart, int32_t nEnd) const {
  std::u16string strResult;
  nStart = std::max(nStart, 0);
  nEnd = std::min(nEnd, static_cast<int32_t>(m_strDocument.size()) - 1);
  if (nEnd < nStart) return strResult;
  strResult.reserve(static_cast<size_t>(nEnd - nStart + 1));

  const char16_t* pText = m_strDocument.c_str();
  while (nStart <= nEnd) {
    // Copy the run up to the next '&' in one piece.
    const char16_t* pRun = pText + nStart;
    const char16_t* pStop = std::find(pRun, pText + nEnd + 1, u'&');
    strResult.append(pRun, pStop);
    nStart = static_cast<int32_t>(pStop - pText);
    if (nStart > nEnd) break;

    bool bReplaced = false;
    for (const EntityReference& entity : kEntities) {
      if (nStart + entity.nLength > nEnd) continue;  // the whole reference must lie inside
      if (std::equal(entity.szText, entity.szText + entity.nLength, pText + nStart + 1)) {
        strResult.push_back(entity.cCharacter);
        nStart += entity.nLength + 1;
        bReplaced = true;
        break;
      }
    }
    if (!bReplaced) {
      strResult.push_back(u'&');
      ++nStart;
    }
  }
  return strResult;
}
