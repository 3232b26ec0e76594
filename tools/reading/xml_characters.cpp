#include "reading/xml_characters.h"

#include "base/text_encoding.h"
#include "platform/unicode_text.h"

bool IsForbiddenInXml(std::u16string_view strText, size_t nPos) {
  const char16_t c = strText[nPos];
  if (c < 0x20) return c != u'\t' && c != u'\n' && c != u'\r';
  if (c < kFirstSurrogate) return false;
  if (IsHighSurrogate(c)) return !StartsSurrogatePair(strText, nPos);
  if (IsLowSurrogate(c)) return !EndsSurrogatePair(strText, nPos);
  return c == 0xFFFE || c == 0xFFFF;
}

CForbiddenUnits FindForbiddenUnits(std::u16string_view strText) {
  CForbiddenUnits found;
  for (size_t i = 0; i < strText.size(); ++i) {
    const char16_t c = strText[i];
    // Nearly every unit is printable and below the surrogates, or a line break.
    if ((c >= 0x20 && c < kFirstSurrogate) || c == u'\n' || c == u'\r' || c == u'\t') continue;
    if (!IsForbiddenInXml(strText, i)) continue;
    if (found.m_nCount++ == 0) found.m_nFirst = i;
  }
  return found;
}

std::string FormatCodeUnit(char16_t cUnit) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string strOut;
  for (int nShift = 12; nShift >= 0; nShift -= 4) strOut += kHex[(cUnit >> nShift) & 0xF];
  return strOut;
}

std::string ForbiddenUnitElement(char16_t cUnit) { return "<char code=\"" + FormatCodeUnit(cUnit) + "\"/>"; }

std::string EscapeXmlData(std::u16string_view strData) {
  std::string strOut;
  size_t nRun = 0;  // start of the units not yet written
  auto Flush = [&](size_t nEnd) { strOut += ToUtf8(strData.substr(nRun, nEnd - nRun)); };
  for (size_t i = 0; i < strData.size(); ++i) {
    const char16_t c = strData[i];
    const char* szEntity = c == u'<' ? "&lt;" : c == u'&' ? "&amp;" : c == u'>' ? "&gt;" : nullptr;
    const bool bForbidden = szEntity == nullptr && IsForbiddenInXml(strData, i);
    if (szEntity == nullptr && !bForbidden) continue;
    Flush(i);
    strOut += bForbidden ? ForbiddenUnitElement(c) : szEntity;
    nRun = i + 1;
  }
  Flush(strData.size());
  return strOut;
}
