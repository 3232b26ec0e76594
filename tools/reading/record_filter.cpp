#include "record_filter.h"

#include <algorithm>
#include <locale>

#include "text_encoding.h"

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

}  // namespace

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

bool CRecordFilter::Matches(const CLogRecord& record) const {
  const std::string& strTime = record.m_aField[fieldTime];
  if (!m_aTypes.empty() &&
      std::find(m_aTypes.begin(), m_aTypes.end(), record.m_aField[fieldType]) == m_aTypes.end()) {
    return false;
  }
  if (!IsAtOrAfter(strTime, m_since) || !IsAtOrBefore(strTime, m_until)) return false;
  if (m_strGrep.empty()) return true;
  std::string strNeedle = m_bIgnoreCase ? FoldCase(m_strGrep) : m_strGrep;
  return std::any_of(record.m_aField.begin(), record.m_aField.end(),
                     [&](const std::string& strField) { return ContainsText(strField, strNeedle, m_bIgnoreCase); });
}

void SelectRecords(std::vector<CLogRecord>& aRecords, const CRecordFilter& filter, bool bReverse, long nLimit) {
  aRecords.erase(std::remove_if(aRecords.begin(), aRecords.end(),
                                [&](const CLogRecord& record) { return !filter.Matches(record); }),
                 aRecords.end());
  if (bReverse) std::reverse(aRecords.begin(), aRecords.end());
  if (nLimit >= 0 && aRecords.size() > static_cast<size_t>(nLimit)) aRecords.resize(static_cast<size_t>(nLimit));
}
