#include "platform/unicode_text.h"

bool DecodeUtf8(std::string_view strBytes, std::u16string& strText) {
  strText.clear();
  strText.reserve(strBytes.size());
  for (size_t nPos = 0; nPos < strBytes.size();) {
    char32_t cPoint = 0;
    const size_t nLength = ReadUtf8Sequence(strBytes, nPos, cPoint);
    if (nLength == 0) return false;
    AppendUtf16(strText, cPoint);
    nPos += nLength;
  }
  return true;
}

std::string ToValidUtf8(std::u16string_view strText) {
  std::string strOut;
  strOut.reserve(strText.size() * 3 / 2);
  for (size_t nPos = 0; nPos < strText.size();) {
    const char32_t cPoint = NextUtf16CodePoint(strText, nPos);
    AppendUtf8(strOut, IsSurrogate(cPoint) ? kReplacementCharacter : cPoint);
  }
  return strOut;
}
