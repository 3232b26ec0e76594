// One forward pass over the text, by XML's rules where the engine's differ:
// a tag ends at the '>' after its last quoted value, a comment at the first
// "--". Where a tag breaks a rule, its first problem is counted and the
// scan goes on after the '>' that ends it for the engine, so that one
// mistake is not counted again at every tag behind it.
#include "reading/xml_conformance.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/unicode_text.h"
#include "reading/log_record.h"
#include "reading/record_scan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr size_t npos = std::u16string_view::npos;

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(char16_t c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }
int HexValue(char16_t c) { return IsDigit(c) ? c - u'0' : (c | 0x20) - u'a' + 10; }

// NameStartChar of XML 1.0, fifth edition, for one code point.
bool IsNameStart(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':' || c == '_';
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x203F && c <= 0x2040);
}

// A character that XML 1.0 lets a character reference name.
bool IsXmlCharacter(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// The first of the two units from nPos on, or the text's size.
size_t FindEither(std::u16string_view strText, char16_t cFirst, char16_t cSecond, size_t nPos) {
  const char16_t* p = strText.data();
  const size_t nSize = strText.size();
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi16(static_cast<short>(cFirst));
  const __m128i second = _mm_set1_epi16(static_cast<short>(cSecond));
  for (; nPos + 8 <= nSize; nPos += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + nPos));
    const int nMask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(units, first), _mm_cmpeq_epi16(units, second)));
    if (nMask != 0) return nPos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(nMask))) / 2;
  }
#endif
  for (; nPos < nSize; ++nPos) {
    if (p[nPos] == cFirst || p[nPos] == cSecond) return nPos;
  }
  return nSize;
}

// What the scan of one record's XML watches for ReadsAlikeInXml, by the
// depth of its elements: the record is depth 0, its fields depth 1.
struct CFieldWatch {
  std::array<int, kFieldCount> m_aSeen{};  // field elements met, by field
  int m_iField = -1;                       // field whose content the scan is in
  bool m_bContent = false;                 // that field has had content
  bool m_bCData = false;                   // ...and it was a CDATA section
  bool m_bDiffers = false;                 // a field reads otherwise in XML than in the engine
};

class CXmlScanner {
 public:
  CXmlScanner(std::u16string_view strText, CXmlProblems& problems, CFieldWatch* pWatch)
      : m_strText(strText), m_problems(problems), m_pWatch(pWatch) {}

  void Run() {
    const size_t nSize = m_strText.size();
    size_t nPos = 0;
    while (nPos < nSize) {
      const size_t nOpen = FindUnit(m_strText, u'<', nPos);
      ScanText(nPos, nOpen);
      if (nOpen >= nSize) break;
      nPos = ScanMarkup(nOpen);
    }
    if (!m_aOpen.empty()) Note(xmlMismatchedEndTag, nSize);
  }

 private:
  void Note(XmlProblem nKind, size_t nOffset) {
    if (m_problems.m_aCount[nKind]++ == 0) m_problems.m_aFirst[nKind] = nOffset;
  }
  size_t Depth() const { return m_aOpen.size(); }
  // The watched field, when the scan is in one's content.
  bool InField() const { return m_pWatch != nullptr && Depth() == 2 && m_pWatch->m_iField >= 0; }
  void FieldDiffers() {
    if (InField()) m_pWatch->m_bDiffers = true;
  }

  char32_t CodePointAt(size_t nPos, size_t& nLength) const {
    size_t nNext = nPos;
    const char32_t c = NextUtf16CodePoint(m_strText, nNext);
    nLength = nNext - nPos;
    return c;
  }

  // The end of the name at nPos; nPos itself when none starts there. bValid
  // tells whether every character of the run up to a delimiter is allowed.
  size_t ScanName(size_t nPos, bool& bValid) const {
    size_t nEnd = nPos, nLength = 0;
    bValid = nPos < m_strText.size() && IsNameStart(CodePointAt(nPos, nLength));
    if (!bValid) return nPos;
    nEnd += nLength;
    while (nEnd < m_strText.size() && IsNameChar(CodePointAt(nEnd, nLength))) nEnd += nLength;
    return nEnd;
  }

  size_t SkipSpace(size_t nPos) const {
    while (nPos < m_strText.size() && IsSpace(m_strText[nPos])) ++nPos;
    return nPos;
  }

  bool StartsWith(size_t nPos, std::u16string_view strPart) const {
    return m_strText.substr(nPos, strPart.size()) == strPart;
  }

  // Character data [nBegin, nEnd): references and "]]>".
  void ScanText(size_t nBegin, size_t nEnd) {
    if (nBegin >= nEnd) return;
    if (Depth() == 0) {
      for (size_t i = nBegin; i < nEnd; ++i) {
        if (!IsSpace(m_strText[i])) {
          Note(xmlOutsideTopElement, i);
          return;
        }
      }
      return;
    }
    if (InField()) {
      if (m_pWatch->m_bCData) m_pWatch->m_bDiffers = true;  // the engine reads only the CDATA section
      m_pWatch->m_bContent = true;
    }
    // The search stops at the range's end: a text without '&' or ']' would
    // otherwise be searched to the end of the file once per range.
    const std::u16string_view strRange = m_strText.substr(0, nEnd);
    for (size_t i = FindEither(strRange, u'&', u']', nBegin); i < nEnd; i = FindEither(strRange, u'&', u']', i)) {
      if (m_strText[i] == u'&') {
        i = ScanReference(i, nEnd, false);
      } else {
        if (StartsWith(i, u"]]>")) Note(xmlCDataEndInText, i);
        ++i;
      }
    }
  }

  // The reference at nPos ('&'), inside [.., nEnd). The offset past it.
  size_t ScanReference(size_t nPos, size_t nEnd, bool bInAttribute) {
    size_t i = nPos + 1;
    if (i < nEnd && m_strText[i] == u'#') {
      const bool bHex = i + 1 < nEnd && m_strText[i + 1] == u'x';
      i += bHex ? 2 : 1;
      const size_t nDigits = i;
      uint32_t nValue = 0;
      for (; i < nEnd && (bHex ? IsHexDigit(m_strText[i]) : IsDigit(m_strText[i])); ++i) {
        nValue = nValue > 0x10FFFF ? nValue : nValue * (bHex ? 16 : 10) + static_cast<uint32_t>(HexValue(m_strText[i]));
      }
      if (i == nDigits || i >= nEnd || m_strText[i] != u';') {
        Note(xmlBareAmpersand, nPos);
        return nPos + 1;
      }
      if (!IsXmlCharacter(nValue)) Note(xmlBadCharacterReference, nPos);
      if (!bInAttribute) FieldDiffers();  // the engine keeps the reference as text
      return i + 1;
    }
    bool bValid = false;
    const size_t nNameEnd = std::min(ScanName(i, bValid), nEnd);
    if (!bValid || nNameEnd >= nEnd || m_strText[nNameEnd] != u';') {
      Note(xmlBareAmpersand, nPos);
      return nPos + 1;
    }
    const std::u16string_view strName = m_strText.substr(i, nNameEnd - i);
    static const std::u16string_view kPredefined[] = {u"lt", u"gt", u"amp", u"apos", u"quot"};
    bool bKnown = false;
    for (std::u16string_view strDefined : kPredefined) bKnown = bKnown || strName == strDefined;
    if (!bKnown) {
      if (m_aEntities.count(std::u16string(strName)) == 0) Note(xmlUndefinedEntity, nPos);
      if (!bInAttribute) FieldDiffers();
    }
    return nNameEnd + 1;
  }

  // At '<'. The offset past the markup.
  size_t ScanMarkup(size_t nOpen) {
    if (Depth() == 1 && m_pWatch == nullptr) {
      // The library's own records: their tags are XML as they stand.
      const size_t nEnd = ScanStandardRecord(m_strText, nOpen, m_record);
      if (nEnd != npos) {
        for (std::u16string_view data : m_record.m_aData) {
          const size_t nData = static_cast<size_t>(data.data() - m_strText.data());
          ScanText(nData, nData + data.size());
        }
        return nEnd;
      }
    }
    if (StartsWith(nOpen, u"<!--")) return ScanComment(nOpen);
    if (StartsWith(nOpen, u"<![")) return ScanCData(nOpen);
    if (StartsWith(nOpen, u"<!")) return ScanDeclaration(nOpen);
    if (StartsWith(nOpen, u"<?")) return ScanInstruction(nOpen);
    if (StartsWith(nOpen, u"</")) return ScanEndTag(nOpen);
    return ScanStartTag(nOpen);
  }

  // The engine's end of a tag: the first '>' from nPos.
  size_t EngineTagEnd(size_t nPos) const {
    const size_t nEnd = FindUnit(m_strText, u'>', nPos);
    return nEnd < m_strText.size() ? nEnd + 1 : nEnd;
  }

  void InstructionOrComment() {
    if (InField()) m_pWatch->m_bDiffers = true;  // the engine reads it as text of the field
  }

  size_t ScanComment(size_t nOpen) {
    InstructionOrComment();
    // The engine ends a comment at the first "-->" from its "<!"; so does
    // XML, but "<!-->" is no comment there, and "--" may come only at the end.
    const size_t nClose = m_strText.find(u"-->", nOpen + 2);
    const size_t nEnd = nClose == npos ? m_strText.size() : nClose;
    const size_t nBody = nOpen + 4;
    if (nClose == npos || nClose < nBody) {
      Note(xmlMalformedMarkup, nOpen);
    } else {
      const size_t nHyphens = m_strText.substr(0, nEnd).find(u"--", nBody);
      if (nHyphens != npos || (nEnd > nBody && m_strText[nEnd - 1] == u'-')) {
        Note(xmlDoubleHyphenInComment, nHyphens != npos ? nHyphens : nEnd - 1);
      }
    }
    return nClose == npos ? m_strText.size() : nClose + 3;
  }

  size_t ScanCData(size_t nOpen) {
    const size_t nClose = m_strText.find(u"]]>", nOpen + 2);
    if (!StartsWith(nOpen, u"<![CDATA[") || nClose == npos || nClose < nOpen + 9) {
      Note(xmlMalformedMarkup, nOpen);
    } else if (Depth() == 0) {
      Note(xmlOutsideTopElement, nOpen);
    }
    if (InField()) {
      // The engine takes a field that is one CDATA section as it stands.
      if (m_pWatch->m_bContent) m_pWatch->m_bDiffers = true;
      m_pWatch->m_bContent = m_pWatch->m_bCData = true;
    }
    return nClose == npos ? m_strText.size() : nClose + 3;
  }

  // "<!DOCTYPE ...>" or another "<!" declaration, to the first '>' outside
  // quotes and square brackets, as the engine skips it.
  size_t ScanDeclaration(size_t nOpen) {
    int nDepth = 0;
    size_t i = nOpen + 2;
    const size_t nSize = m_strText.size();
    for (; i < nSize; ++i) {
      const char16_t c = m_strText[i];
      if (c == u'"' || c == u'\'') {
        const size_t nQuote = m_strText.find(c, i + 1);
        i = nQuote == npos ? nSize - 1 : nQuote;
      } else if (c == u'[') {
        ++nDepth;
      } else if (c == u']') {
        --nDepth;
      } else if (c == u'>' && nDepth <= 0) {
        break;
      }
    }
    const size_t nEnd = i < nSize ? i + 1 : nSize;
    if (!StartsWith(nOpen, u"<!DOCTYPE") || nOpen + 9 >= nSize || !IsSpace(m_strText[nOpen + 9]) || i >= nSize) {
      Note(xmlMalformedMarkup, nOpen);
    } else if (m_bTopSeen || m_bDocType) {
      Note(xmlMisplacedDeclaration, nOpen);
    } else {
      m_bDocType = true;
      CollectEntities(nOpen, nEnd);
    }
    return nEnd;
  }

  // The general entities "<!ENTITY name ..." of an internal subset.
  void CollectEntities(size_t nBegin, size_t nEnd) {
    for (size_t i = m_strText.find(u"<!ENTITY", nBegin); i != npos && i < nEnd;
         i = m_strText.find(u"<!ENTITY", i + 1)) {
      const size_t nName = SkipSpace(i + 8);
      bool bValid = false;
      const size_t nNameEnd = ScanName(nName, bValid);
      if (bValid && nName > i + 8) m_aEntities.emplace(m_strText.substr(nName, nNameEnd - nName));
    }
  }

  size_t ScanInstruction(size_t nOpen) {
    // The engine looks for "?>" from the '<', so "<?>" is complete there.
    const size_t nClose = m_strText.find(u"?>", nOpen + 1);
    bool bValid = false;
    const size_t nNameEnd = ScanName(nOpen + 2, bValid);
    const std::u16string_view strTarget = m_strText.substr(nOpen + 2, nNameEnd - nOpen - 2);
    const bool bXml = strTarget.size() == 3 && (strTarget[0] | 0x20) == u'x' && (strTarget[1] | 0x20) == u'm' &&
                      (strTarget[2] | 0x20) == u'l';
    if (nClose == npos || nClose < nOpen + 2) {
      Note(xmlMalformedMarkup, nOpen);
    } else if (!bValid || (nNameEnd < nClose && !IsSpace(m_strText[nNameEnd]))) {
      Note(xmlBadName, nOpen + 2);
    } else if (bXml && (nOpen != 0 || strTarget != u"xml")) {
      Note(xmlMisplacedDeclaration, nOpen);
    }
    if (!bXml || nOpen != 0) InstructionOrComment();
    return nClose == npos ? m_strText.size() : nClose + 2;
  }

  size_t ScanEndTag(size_t nOpen) {
    bool bValid = false;
    const size_t nNameEnd = ScanName(nOpen + 2, bValid);
    const std::u16string_view strName = m_strText.substr(nOpen + 2, nNameEnd - nOpen - 2);
    const size_t nClose = SkipSpace(nNameEnd);
    if (!bValid) {
      Note(xmlBadName, nOpen + 2);
    } else if (nClose >= m_strText.size() || m_strText[nClose] != u'>') {
      Note(xmlMalformedMarkup, nOpen);
    } else if (m_aOpen.empty()) {
      Note(xmlOutsideTopElement, nOpen);
    } else if (m_aOpen.back() != strName) {
      Note(xmlMismatchedEndTag, nOpen);
    }
    if (!m_aOpen.empty()) m_aOpen.pop_back();
    if (m_pWatch != nullptr && Depth() == 1) m_pWatch->m_iField = -1;
    return bValid && nClose < m_strText.size() && m_strText[nClose] == u'>' ? nClose + 1 : EngineTagEnd(nOpen);
  }

  size_t ScanStartTag(size_t nOpen) {
    bool bValid = false;
    const size_t nNameEnd = ScanName(nOpen + 1, bValid);
    const std::u16string_view strName = m_strText.substr(nOpen + 1, nNameEnd - nOpen - 1);
    bool bEmpty = false;
    size_t nEnd = npos;
    if (!bValid) {
      Note(xmlBadName, nOpen + 1);
    } else {
      nEnd = ScanAttributes(nNameEnd, bEmpty);
    }
    if (nEnd == npos) {
      // Past the problem the tag ends where the engine ends it.
      nEnd = EngineTagEnd(nOpen);
      bEmpty = nEnd >= 2 && m_strText[nEnd - 2] == u'/';
    }
    OpenElement(nOpen, strName, bEmpty);
    return nEnd;
  }

  void OpenElement(size_t nOpen, std::u16string_view strName, bool bEmpty) {
    if (Depth() == 0) {
      if (m_bTopSeen) Note(xmlOutsideTopElement, nOpen);
      m_bTopSeen = true;
    }
    if (m_pWatch != nullptr) WatchElement(strName);
    if (!bEmpty) m_aOpen.push_back(strName);
  }

  void WatchElement(std::u16string_view strName) {
    if (Depth() == 2) {
      FieldDiffers();  // an element inside a field: the engine reads the field as empty
    } else if (Depth() == 1) {
      m_pWatch->m_iField = -1;
      for (int i = 0; i < kFieldCount; ++i) {
        if (strName == kFieldElementNames[i]) m_pWatch->m_iField = i;
      }
      if (m_pWatch->m_iField >= 0) ++m_pWatch->m_aSeen[m_pWatch->m_iField];
      m_pWatch->m_bContent = m_pWatch->m_bCData = false;
    }
  }

  // The attributes from nPos to the tag's end. The offset past the tag, or
  // npos after a problem.
  size_t ScanAttributes(size_t nPos, bool& bEmpty) {
    std::vector<std::u16string_view>& aNames = m_aAttributes;
    aNames.clear();
    std::unordered_set<std::u16string_view> aManyNames;  // once a tag has many, so that each is found at once
    const size_t nSize = m_strText.size();
    for (;;) {
      const size_t nName = SkipSpace(nPos);
      if (nName >= nSize) break;
      if (m_strText[nName] == u'>') return nName + 1;
      if (m_strText.substr(nName, 2) == u"/>") {
        bEmpty = true;
        return nName + 2;
      }
      bool bValid = false;
      const size_t nNameEnd = ScanName(nName, bValid);
      if (!bValid) {
        Note(m_strText[nName] == u'"' || m_strText[nName] == u'\'' ? xmlMalformedMarkup : xmlBadName, nName);
        return npos;
      }
      if (nName == nPos) {
        Note(xmlMalformedMarkup, nName);  // no blank before the attribute
        return npos;
      }
      const std::u16string_view strName = m_strText.substr(nName, nNameEnd - nName);
      constexpr size_t kFewNames = 16;
      const bool bTwice = aNames.size() < kFewNames ? std::find(aNames.begin(), aNames.end(), strName) != aNames.end()
                                                    : !aManyNames.insert(strName).second;
      if (bTwice) {
        Note(xmlDuplicateAttribute, nName);
        return npos;
      }
      if (aNames.size() < kFewNames) {
        aNames.push_back(strName);
        if (aNames.size() == kFewNames) aManyNames.insert(aNames.begin(), aNames.end());
      }
      nPos = ScanValue(SkipSpace(nNameEnd), nName);
      if (nPos == npos) return npos;
    }
    Note(xmlMalformedMarkup, nSize);
    return npos;
  }

  // "= 'value'" at nPos. The offset past it, or npos after a problem.
  size_t ScanValue(size_t nPos, size_t nName) {
    const size_t nSize = m_strText.size();
    if (nPos >= nSize || m_strText[nPos] != u'=') {
      Note(xmlUnquotedAttribute, nName);
      return npos;
    }
    const size_t nQuote = SkipSpace(nPos + 1);
    if (nQuote >= nSize || (m_strText[nQuote] != u'"' && m_strText[nQuote] != u'\'')) {
      Note(xmlUnquotedAttribute, nName);
      return npos;
    }
    const size_t nClose = m_strText.find(m_strText[nQuote], nQuote + 1);
    if (nClose == npos) {
      Note(xmlMalformedMarkup, nQuote);
      return npos;
    }
    for (size_t i = nQuote + 1; i < nClose;) {
      if (m_strText[i] == u'<') {
        Note(xmlLessThanInAttribute, i);
        return npos;
      }
      i = m_strText[i] == u'&' ? ScanReference(i, nClose, true) : i + 1;
    }
    return nClose + 1;
  }

  std::u16string_view m_strText;
  CXmlProblems& m_problems;
  CFieldWatch* m_pWatch;
  std::vector<std::u16string_view> m_aOpen;        // names of the open elements
  std::vector<std::u16string_view> m_aAttributes;  // names of the tag's attributes so far
  std::unordered_set<std::u16string> m_aEntities;  // declared in the DOCTYPE
  bool m_bTopSeen = false;
  bool m_bDocType = false;
  CRecordText m_record;
};

// A record in the library's own form reads alike unless a '&' in it begins
// anything but the five references both read the same, or "]]>" stands in
// its data.
bool StandardRecordReadsAlike(std::u16string_view strMarkup) {
  static const std::u16string_view kReferences[] = {u"&lt;", u"&gt;", u"&amp;", u"&apos;", u"&quot;"};
  for (size_t i = FindEither(strMarkup, u'&', u']', 0); i < strMarkup.size();
       i = FindEither(strMarkup, u'&', u']', i + 1)) {
    if (strMarkup[i] == u']') {
      if (strMarkup.substr(i, 3) == u"]]>") return false;
      continue;
    }
    bool bKnown = false;
    for (std::u16string_view strReference : kReferences)
      bKnown = bKnown || strMarkup.substr(i, strReference.size()) == strReference;
    if (!bKnown) return false;
  }
  return true;
}

}  // namespace

bool CXmlProblems::Any() const {
  for (size_t nCount : m_aCount) {
    if (nCount > 0) return true;
  }
  return false;
}

CXmlProblems FindXmlProblems(std::u16string_view strText) {
  CXmlProblems problems;
  CXmlScanner(strText, problems, nullptr).Run();
  return problems;
}

bool ReadsAlikeInXml(std::u16string_view strMarkup) {
  CRecordText record;
  if (ScanStandardRecord(strMarkup, 0, record) == strMarkup.size()) return StandardRecordReadsAlike(strMarkup);
  CXmlProblems problems;
  CFieldWatch watch;
  CXmlScanner(strMarkup, problems, &watch).Run();
  if (problems.Any() || watch.m_bDiffers) return false;
  // A field given twice is read from its last element by the engine and
  // from its first by most XML readers.
  for (int nSeen : watch.m_aSeen) {
    if (nSeen > 1) return false;
  }
  return true;
}
