#include "reading/record_filter.h"

#include <algorithm>
#include <locale>
#include <regex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/text_encoding.h"
#include "platform/unicode_text.h"
#include "reading/record_category.h"

namespace {

// The classic "C" locale knows only ASCII; a UTF-8 locale carries the
// runtime's Unicode case tables. Looked up once, falling back to ASCII.
const std::ctype<wchar_t>& UnicodeCaseTable() {
  static const std::locale s_locale = [] {
    for (const char* szName : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      try {
        return std::locale(szName);
      } catch (const std::exception&) {
      }
    }
    return std::locale::classic();
  }();
  return std::use_facet<std::ctype<wchar_t>>(s_locale);
}

bool ContainsText(const std::string& strField, const std::string& strNeedle, bool bIgnoreCase) {
  if (!bIgnoreCase) return strField.find(strNeedle) != std::string::npos;
  return FoldCase(strField).find(strNeedle) != std::string::npos;
}

// The folded form of every code unit of the Basic Multilingual Plane, as
// FoldCase folds the character; surrogates stay as they are. Null when some
// character folds to one outside the plane (no Unicode table does).
const char16_t* UnitFoldTable() {
  static const std::u16string s_table = [] {
    const auto& table = UnicodeCaseTable();
    std::u16string strTable(0x10000, u'\0');
    for (char32_t c = 0; c < 0x10000; ++c) {
      char32_t cFolded = c;
      if (c < 0x80) {
        cFolded = (c >= 'A' && c <= 'Z') ? c + 32 : c;
      } else if (!IsSurrogate(c)) {
        cFolded = static_cast<char32_t>(table.tolower(static_cast<wchar_t>(c)));
      }
      if (cFolded > 0xFFFF || (IsSurrogate(cFolded) && !IsSurrogate(c))) {
        return std::u16string();
      }
      strTable[c] = static_cast<char16_t>(cFolded);
    }
    return strTable;
  }();
  return s_table.empty() ? nullptr : s_table.data();
}

// Whether a unit of the needle can be looked for as it is in the text.
bool IsPlainUnit(char16_t c) {
  return c != u'&' && c != u'<' && c != u'>' && c != u'"' && c != u'\'' && !IsSurrogate(c) &&
         c != kReplacementCharacter;
}

}  // namespace

// std::regex stays out of the header, which much of the tool includes.
struct CRecordMatcher::CCompiledRegex {
  std::regex m_regex;
};

CRecordMatcher::CRecordMatcher(const CRecordFilter& filter) : m_filter(filter) {
  if (!filter.m_strRegex.empty() && CheckRegex(filter.m_strRegex).empty()) {
    m_pRegex =
        std::make_shared<const CCompiledRegex>(CCompiledRegex{std::regex(filter.m_strRegex, std::regex::ECMAScript)});
  }
  if (filter.m_strGrep.empty()) return;
  m_strNeedle = filter.m_bIgnoreCase ? FoldCase(filter.m_strGrep) : filter.m_strGrep;
  if (filter.m_bIgnoreCase) {
    m_pFold = UnitFoldTable();
    if (m_pFold == nullptr) return;
  }
  std::u16string strNeedle;
  if (!FromUtf8(m_strNeedle, strNeedle)) return;
  // The longest stretch of plain units.
  for (size_t nPos = 0; nPos < strNeedle.size();) {
    size_t nEnd = nPos;
    while (nEnd < strNeedle.size() && IsPlainUnit(strNeedle[nEnd])) ++nEnd;
    if (nEnd - nPos > m_strPiece.size()) m_strPiece = strNeedle.substr(nPos, nEnd - nPos);
    nPos = nEnd + 1;
  }
  // A folded needle holds only folded units; a unit that folding changes
  // can never be met, so the stretch is kept as folded. The units that fold
  // to its first one are looked for a few at a time.
  if (m_pFold != nullptr && !m_strPiece.empty()) {
    for (char32_t c = 0; c < 0x10000; ++c) {
      if (m_pFold[c] == m_strPiece[0]) m_strFirstUnits += static_cast<char16_t>(c);
    }
  }
}

bool CRecordMatcher::MayMatch(const CRecordText& record) const {
  if (m_strPiece.empty()) return true;
  const std::u16string_view strText = record.m_markup;
  if (m_pFold == nullptr) return strText.find(m_strPiece) != std::u16string_view::npos;
  const size_t nPiece = m_strPiece.size();
  if (strText.size() < nPiece) return false;
  const char16_t cFirst = m_strPiece[0];
  const char16_t* pFold = m_pFold;
  const size_t nLast = strText.size() - nPiece;
  size_t i = 0;
#if defined(__SSE2__)
  if (!m_strFirstUnits.empty() && m_strFirstUnits.size() <= 4) {
    // Eight units at a time against every unit that folds to the first one.
    __m128i aFirst[4];
    for (size_t n = 0; n < 4; ++n) {
      aFirst[n] = _mm_set1_epi16(static_cast<short>(m_strFirstUnits[std::min(n, m_strFirstUnits.size() - 1)]));
    }
    const char16_t* p = strText.data();
    while (i + 8 <= nLast + 1) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i hits =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, aFirst[0]), _mm_cmpeq_epi16(units, aFirst[1])),
                       _mm_or_si128(_mm_cmpeq_epi16(units, aFirst[2]), _mm_cmpeq_epi16(units, aFirst[3])));
      unsigned nMask = static_cast<unsigned>(_mm_movemask_epi8(hits));
      while (nMask != 0) {
        const size_t j = i + static_cast<size_t>(__builtin_ctz(nMask)) / 2;
        size_t k = 1;
        while (k < nPiece && pFold[p[j + k]] == m_strPiece[k]) ++k;
        if (k == nPiece) return true;
        nMask &= nMask - 1;
        nMask &= nMask - 1;  // both bytes of the unit
      }
      i += 8;
    }
  }
#endif
  for (; i <= nLast; ++i) {
    if (pFold[strText[i]] != cFirst) continue;
    size_t j = 1;
    while (j < nPiece && pFold[strText[i + j]] == m_strPiece[j]) ++j;
    if (j == nPiece) return true;
  }
  return false;
}

bool CRecordMatcher::Matches(const CLogRecord& record) const {
  const std::string& strTime = record.m_aField[fieldTime];
  if (!m_filter.m_aTypes.empty() && std::find(m_filter.m_aTypes.begin(), m_filter.m_aTypes.end(),
                                              record.m_aField[fieldType]) == m_filter.m_aTypes.end()) {
    return false;
  }
  if (!IsAtOrAfter(strTime, m_filter.m_since) || !IsAtOrBefore(strTime, m_filter.m_until)) return false;
  if (!MatchesNamePattern(record.m_aField[fieldLocation], m_filter.m_strLocation) ||
      !MatchesNamePattern(record.m_aField[fieldOperation], m_filter.m_strOperation)) {
    return false;
  }
  if (m_filter.m_bErrors || m_filter.m_bWarnings) {
    const TypeCategory nCategory = CategoryOfType(record.m_aField[fieldType]);
    if (!(m_filter.m_bErrors && nCategory == categoryError) &&
        !(m_filter.m_bWarnings && nCategory == categoryWarning)) {
      return false;
    }
  }
  if (m_pRegex && std::none_of(record.m_aField.begin(), record.m_aField.end(), [&](const std::string& strField) {
        return std::regex_search(strField, m_pRegex->m_regex);
      })) {
    return false;
  }
  if (m_strNeedle.empty()) return true;
  return std::any_of(record.m_aField.begin(), record.m_aField.end(), [&](const std::string& strField) {
    return ContainsText(strField, m_strNeedle, m_filter.m_bIgnoreCase);
  });
}

bool MatchesNamePattern(const std::string& strField, const std::string& strPattern) {
  if (strPattern.empty()) return true;
  if (strPattern[0] == '~') return strField.find(strPattern.substr(1)) != std::string::npos;
  return strField == strPattern;
}

std::string CheckRegex(const std::string& strExpression) {
  try {
    std::regex(strExpression, std::regex::ECMAScript);
    return std::string();
  } catch (const std::regex_error& e) {
    return "not a regular expression (ECMAScript): \"" + strExpression + "\": " + e.what();
  }
}

bool CRecordFilter::HasFilters() const {
  return !m_aTypes.empty() || m_since.m_bSet || m_until.m_bSet || !m_strGrep.empty() || !m_strLocation.empty() ||
         !m_strOperation.empty() || !m_strRegex.empty() || m_bErrors || m_bWarnings;
}

std::string FoldCase(std::string_view strText) {
  const auto& table = UnicodeCaseTable();
  std::string strOut;
  strOut.reserve(strText.size());
  for (size_t nPos = 0; nPos < strText.size();) {
    char32_t c = NextCodePoint(strText, nPos);
    if (c < 0x80) {
      AppendUtf8(strOut, (c >= 'A' && c <= 'Z') ? c + 32 : c);
    } else {
      AppendUtf8(strOut, static_cast<char32_t>(table.tolower(static_cast<wchar_t>(c))));
    }
  }
  return strOut;
}

bool CRecordFilter::Matches(const CLogRecord& record) const { return CRecordMatcher(*this).Matches(record); }

void SelectRecords(std::vector<CLogRecord>& aRecords, const CRecordFilter& filter, bool bReverse, long nLimit) {
  const CRecordMatcher matcher(filter);
  aRecords.erase(std::remove_if(aRecords.begin(), aRecords.end(),
                                [&](const CLogRecord& record) { return !matcher.Matches(record); }),
                 aRecords.end());
  if (bReverse) std::reverse(aRecords.begin(), aRecords.end());
  if (nLimit >= 0 && aRecords.size() > static_cast<size_t>(nLimit)) aRecords.resize(static_cast<size_t>(nLimit));
}
