#include "platform/unicode_text.h"

namespace {

// Length of the sequence a lead byte announces, 0 for a byte that cannot
// lead: a continuation byte, C0 and C1 (only ever overlong) and F5 to FF
// (only ever above U+10FFFF).
size_t AnnouncedLength(unsigned char cLead) {
  if (cLead < 0x80) return 1;
  if (cLead >= 0xC2 && cLead <= 0xDF) return 2;
  if (cLead >= 0xE0 && cLead <= 0xEF) return 3;
  if (cLead >= 0xF0 && cLead <= 0xF4) return 4;
  return 0;
}

}  // namespace

size_t ReadUtf8Sequence(std::string_view strBytes, size_t nPos, char32_t& cPoint) {
  const auto cLead = static_cast<unsigned char>(strBytes[nPos]);
  const size_t nLength = AnnouncedLength(cLead);
  if (nLength == 0 || strBytes.size() - nPos < nLength) return 0;
  if (nLength == 1) {
    cPoint = cLead;
    return 1;
  }
  char32_t cValue = cLead & (0x7F >> nLength);
  for (size_t k = 1; k < nLength; ++k) {
    const auto cNext = static_cast<unsigned char>(strBytes[nPos + k]);
    if (!IsUtf8Continuation(cNext)) return 0;
    cValue = (cValue << 6) | (cNext & 0x3F);
  }
  // The smallest code point each length may carry: anything less is overlong.
  static const char32_t kSmallest[kLongestUtf8Sequence + 1] = {0, 0, 0x80, 0x800, 0x10000};
  if (cValue < kSmallest[nLength] || cValue > 0x10FFFF || IsSurrogate(cValue)) return 0;
  cPoint = cValue;
  return nLength;
}

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
