// Text in tests: ASCII made UTF-16, and UTF-16 made readable in the messages
// of failed assertions.
#pragma once

#include <string>

// An ASCII text as UTF-16.
inline std::u16string Widen(const std::string& strAscii) { return std::u16string(strAscii.begin(), strAscii.end()); }

// UTF-16 text for an assertion's message: printable ASCII as it is, every
// other unit as \uXXXX, so that controls, lone surrogates and zero units
// show as what they are.
inline std::string Narrow(const std::u16string& strText) {
  static const char kHex[] = "0123456789abcdef";
  std::string strOut;
  for (char16_t c : strText) {
    if (c >= 0x20 && c < 0x7f) {
      strOut.push_back(static_cast<char>(c));
    } else {
      strOut += "\\u";
      for (int nShift = 12; nShift >= 0; nShift -= 4) strOut.push_back(kHex[(c >> nShift) & 0xf]);
    }
  }
  return strOut;
}
