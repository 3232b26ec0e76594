#include "base/text_encoding.h"

#include "platform/unicode_text.h"

std::string ToUtf8(std::u16string_view strText) { return ToValidUtf8(strText); }

bool FromUtf8(std::string_view strBytes, std::u16string& strText) { return DecodeUtf8(strBytes, strText); }

char32_t NextCodePoint(std::string_view strText, size_t& nPos) {
  char32_t cPoint = 0;
  const size_t nLength = ReadUtf8Sequence(strText, nPos, cPoint);
  if (nLength == 0) {
    ++nPos;
    return kReplacementCharacter;
  }
  nPos += nLength;
  return cPoint;
}
