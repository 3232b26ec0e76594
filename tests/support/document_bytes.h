// A document file's bytes as the library writes them: the byte-order mark
// FF FE, then the text as UTF-16LE. The tests spell this out themselves
// rather than ask the library, whose reading and writing they check.
#pragma once

#include <string>
#include <string_view>

// The UTF-16LE bytes of a text, with the byte-order mark in front.
inline std::string EncodeDocument(std::u16string_view strText) {
  std::string strBytes = "\xFF\xFE";
  for (char16_t c : strText) {
    strBytes += static_cast<char>(c & 0xFF);
    strBytes += static_cast<char>(c >> 8);
  }
  return strBytes;
}

// The text of UTF-16LE bytes after a byte-order mark; "<no mark>" without.
inline std::u16string DecodeDocument(const std::string& strBytes) {
  if (strBytes.size() < 2 || strBytes.compare(0, 2, "\xFF\xFE") != 0) return u"<no mark>";
  std::u16string strText;
  for (size_t i = 2; i + 1 < strBytes.size(); i += 2) {
    strText += static_cast<char16_t>(static_cast<unsigned char>(strBytes[i]) |
                                     (static_cast<unsigned char>(strBytes[i + 1]) << 8));
  }
  return strText;
}

// The text a reader of the library sees in a file's bytes: the UTF-16LE code
// units after the byte-order mark up to the first zero unit. "<no mark>"
// for bytes without the mark.
inline std::u16string ReadLogView(const std::string& strBytes) {
  const std::u16string strText = DecodeDocument(strBytes);
  return strText.substr(0, strText.find(u'\0'));
}
