// Tokenizer and node scanner: single forward scans over the zero-terminated
// text, with no copying and no allocation except GetTokenText.
#include "markup/markup_tokens.h"

#include "markup/markup.h"

namespace {

// Offset of the first occurrence of szTerminator at or after nPos, or -1.
// Like a C string search, the scan ends at the first zero code unit.
int32_t FindTerminator(const char16_t* pText, int32_t nPos, const char16_t* szTerminator) {
  const char16_t cFirst = szTerminator[0];
  for (; pText[nPos] != 0; ++nPos) {
    if (pText[nPos] != cFirst) continue;
    int32_t n = 1;
    while (szTerminator[n] != 0 && pText[nPos + n] == szTerminator[n]) ++n;
    if (szTerminator[n] == 0) return nPos;
  }
  return -1;
}

int32_t TerminatorLength(const char16_t* szTerminator) {
  int32_t n = 0;
  while (szTerminator[n] != 0) ++n;
  return n;
}

// Steps over a "<!" declaration token by token, counting square brackets, to
// the first '>' outside brackets. Quoted values are passed over whole.
MarkupNodeKind ScanDeclaration(TokenCursor& cursor) {
  int32_t nDepth = 0;
  while (NextToken(cursor)) {
    if (cursor.bQuoted) continue;
    const char16_t c = cursor.pText[cursor.nTokenFirst];
    if (c == u'[') {
      ++nDepth;
    } else if (c == u']') {
      --nDepth;
    } else if (c == u'>' && nDepth == 0) {
      return nodeDocType;
    }
  }
  return nodeNone;
}

}  // namespace

bool IsWhitespaceUnit(char16_t c) { return markup_scan::HasClass(c, markup_scan::classWhitespace); }
bool IsDelimiterUnit(char16_t c) { return markup_scan::HasClass(c, markup_scan::classDelimiter); }
bool IsNameFollowerUnit(char16_t c) { return markup_scan::HasClass(c, markup_scan::classNameFollower); }

std::u16string GetTokenText(const TokenCursor& cursor, const CXmlDocument& doc) {
  const std::u16string& strText = doc.ViewDocument();
  const int32_t nLength = static_cast<int32_t>(strText.size());
  const int32_t nLast = cursor.nTokenLast < nLength ? cursor.nTokenLast : nLength - 1;
  if (cursor.nTokenFirst > nLast || cursor.nTokenFirst < 0) return std::u16string();
  return strText.substr(cursor.nTokenFirst, nLast - cursor.nTokenFirst + 1);
}

bool MatchName(const TokenCursor& cursor, const char16_t* szName) {
  const int32_t nLength = cursor.nTokenLast - cursor.nTokenFirst + 1;
  const char16_t* pToken = cursor.pText + cursor.nTokenFirst;
  for (int32_t n = 0; n < nLength; ++n) {
    if (szName[n] != pToken[n] || szName[n] == 0) return false;
  }
  const char16_t cAfter = szName[nLength > 0 ? nLength : 0];
  return cAfter == 0 || IsNameFollowerUnit(cAfter);
}

MarkupNodeKind ScanNode(TokenCursor& cursor) {
  const char16_t* pText = cursor.pText;
  const int32_t nStart = cursor.nScanPos;
  cursor.nTokenFirst = nStart;

  if (pText[nStart] != u'<') {
    if (pText[nStart] == 0) return nodeNone;
    if (!SkipWhitespace(cursor.nScanPos, pText) || pText[cursor.nScanPos] == u'<') return nodeWhitespace;
    ScanToChar(cursor.nScanPos, pText, u'<');
    return nodeText;
  }

  const char16_t cSecond = pText[nStart + 1];
  if (cSecond == 0 || pText[nStart + 2] == 0) return nodeNone;
  const char16_t cThird = pText[nStart + 2];

  const char16_t* szTerminator = nullptr;
  MarkupNodeKind nKind = nodeNone;
  if (cSecond == u'?') {
    szTerminator = u"?>";
    nKind = nodeProcessingInstruction;
  } else if (cSecond == u'!' && cThird == u'[') {
    szTerminator = u"]]>";
    nKind = nodeCData;
  } else if (cSecond == u'!' && cThird == u'-') {
    szTerminator = u"-->";
    nKind = nodeComment;
  } else if (cSecond == u'!') {
    return ScanDeclaration(cursor);
  } else if (cSecond == u'/') {
    return nodeNone;
  } else {
    return nodeElement;
  }

  // The search starts at the '<' itself, so "<?>" and "<!-->" are complete.
  const int32_t nFound = FindTerminator(pText, nStart, szTerminator);
  if (nFound < 0) return nodeNone;
  cursor.nScanPos = nFound + TerminatorLength(szTerminator);
  return nKind;
}
