#include "base/display_text.h"

#include <algorithm>

#include "base/display_width.h"
#include "base/text_encoding.h"
#include "platform/unicode_text.h"

bool IsShownByNumber(char32_t c) {
  return (c >= 0x80 && c < 0xA0) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void AppendNumberForm(std::string& strOut, char32_t c) {
  static const char kHex[] = "0123456789ABCDEF";
  strOut += "<U+";
  for (int nShift = 12; nShift >= 0; nShift -= 4) strOut += kHex[(c >> nShift) & 0xF];
  strOut += '>';
}

std::string MakeDisplayText(const std::string& strField, bool bKeepLines) {
  std::string strOut;
  strOut.reserve(strField.size());
  for (size_t nPos = 0; nPos < strField.size();) {
    char32_t c = NextCodePoint(strField, nPos);
    if (IsShownByNumber(c)) {
      AppendNumberForm(strOut, c);
    } else if ((c == '\n' || c == '\r') && bKeepLines) {
      strOut += static_cast<char>(c);
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && nPos < strField.size() && strField[nPos] == '\n') ++nPos;
      strOut += "\xE2\x86\xB5";  // "↵"
    } else if (c == '\t') {
      strOut += ' ';
    } else if (c < 0x20 || c == 0x7F) {
      strOut += '^';
      strOut += static_cast<char>(c == 0x7F ? '?' : c + 0x40);
    } else {
      AppendUtf8(strOut, c);
    }
  }
  return strOut;
}

int DisplayTextWidth(std::string_view strField, bool bLines) {
  int nWidest = 0;
  int nWidth = 0;
  for (size_t nPos = 0; nPos < strField.size();) {
    const auto cByte = static_cast<unsigned char>(strField[nPos]);
    if (cByte >= 0x20 && cByte < 0x7F) {  // the usual case, one cell
      ++nWidth;
      ++nPos;
      continue;
    }
    const char32_t c = NextCodePoint(strField, nPos);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && nPos < strField.size() && strField[nPos] == '\n') ++nPos;
      if (bLines) {
        nWidest = std::max(nWidest, nWidth);
        nWidth = 0;
      } else {
        nWidth += CodePointWidth(0x21B5);  // "↵"
      }
    } else if (c == '\t') {
      ++nWidth;
    } else if (c < 0x20 || c == 0x7F) {
      nWidth += 2;  // caret notation
    } else if (IsShownByNumber(c)) {
      nWidth += kNumberFormWidth;
    } else {
      nWidth += CodePointWidth(c);
    }
  }
  return std::max(nWidest, nWidth);
}
