#include "format/record_text.h"

#include "platform/unicode_text.h"

namespace {

// Whether XML 1.0 allows the code point: TAB, LF, CR, U+0020 to U+D7FF,
// U+E000 to U+FFFD and U+10000 to U+10FFFF.
constexpr bool IsXmlCharacter(char32_t c) {
  if (c < 0x20) return c == u'\t' || c == u'\n' || c == u'\r';
  return !IsSurrogate(c) && c != 0xFFFE && c != 0xFFFF;
}

}  // namespace

bool IsXmlText(std::u16string_view strText) {
  for (size_t nPos = 0; nPos < strText.size();) {
    if (!IsXmlCharacter(NextUtf16CodePoint(strText, nPos))) return false;
  }
  return true;
}

std::u16string MakeXmlText(std::u16string_view strText) {
  std::u16string strOut(strText);
  for (size_t nPos = 0; nPos < strText.size();) {
    const size_t nStart = nPos;
    // A lone surrogate comes back as itself, which IsXmlCharacter refuses.
    const char32_t c = NextUtf16CodePoint(strText, nPos);
    if (IsXmlCharacter(c)) continue;
    strOut[nStart] = c < 0x20 ? static_cast<char16_t>(kFirstControlPicture + c) : char16_t{kReplacementCharacter};
  }
  return strOut;
}
