// The tool's reading of a day's log, damaged or not: whatever the text, the
// reading ends, the damaged stretches lie in order inside the text, and
// every record's XML is one that XML 1.0 parsers accept.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "log_document.h"
#include "text_encoding.h"

namespace {

// A UTF-8 text free of what XML 1.0 forbids: C0 controls other than tab,
// line feed and carriage return, U+FFFE and U+FFFF. (ToUtf8 turns a lone
// surrogate into U+FFFD, so none can remain.)
bool IsPortable(const std::string& strText) {
  for (size_t nPos = 0; nPos < strText.size();) {
    const char32_t c = NextCodePoint(strText, nPos);
    if ((c < 0x20 && c != U'\t' && c != U'\n' && c != U'\r') || c == 0xFFFE || c == 0xFFFF) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  // The input is UTF-16LE text; its first zero unit, when there is one,
  // splits it into the library's text and what lies beyond, as in a file.
  std::u16string strText(nSize / 2, u'\0');
  for (size_t i = 0; i < strText.size(); ++i) strText[i] = static_cast<char16_t>(pData[2 * i] | pData[2 * i + 1] << 8);
  const size_t nZero = strText.find(u'\0');
  std::u16string strBeyond = nZero == std::u16string::npos ? std::u16string() : strText.substr(nZero + 1);
  if (nZero != std::u16string::npos) strText.resize(nZero);
  const size_t nWhole = strText.size() + (nZero == std::u16string::npos ? 0 : 1 + strBeyond.size());

  CLogText text = ReadLogText(strText, "f.xml", nZero == std::u16string::npos ? nullptr : &strBeyond);
  for (const CLogRecord& record : text.m_aRecords) {
    if (!IsPortable(record.m_strMarkup)) std::abort();
  }
  int32_t nPrevious = -1;
  for (const CDamagedStretch& stretch : text.m_aDamage) {
    if (stretch.m_begin.m_nOffset <= nPrevious || stretch.m_end.m_nOffset < stretch.m_begin.m_nOffset ||
        static_cast<size_t>(stretch.m_end.m_nOffset) >= nWhole || stretch.m_nRecordsBefore > text.m_aRecords.size()) {
      std::abort();
    }
    nPrevious = stretch.m_end.m_nOffset;
  }
  if (text.m_nOutcome == logTextMalformed) DescribeDamage(text);
  return 0;
}
