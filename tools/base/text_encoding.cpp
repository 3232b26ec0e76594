#include "base/text_encoding.h"

#include "platform/platform_shared.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Length of the sequence a lead byte announces, 0 for a byte that can't lead.
int SequenceLength(unsigned char c) {
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return 2;
  if (c >= 0xE0 && c <= 0xEF) return 3;
  if (c >= 0xF0 && c <= 0xF4) return 4;
  return 0;
}

// Decodes one sequence strictly; returns false for anything malformed.
bool DecodeSequence(std::string_view strText, size_t nPos, int nLength, char32_t& cPoint) {
  if (nPos + nLength > strText.size()) return false;
  auto c0 = static_cast<unsigned char>(strText[nPos]);
  if (nLength == 1) {
    cPoint = c0;
    return true;
  }
  char32_t cValue = c0 & (0x7F >> nLength);
  for (int i = 1; i < nLength; ++i) {
    auto c = static_cast<unsigned char>(strText[nPos + i]);
    if ((c & 0xC0) != 0x80) return false;
    cValue = (cValue << 6) | (c & 0x3F);
  }
  static const char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cValue < kMinimum[nLength] || cValue > 0x10FFFF) return false;  // overlong or too large
  if (IsHighSurrogate(cValue) || IsLowSurrogate(cValue)) return false;
  cPoint = cValue;
  return true;
}

}  // namespace

void AppendUtf8(std::string& strOut, char32_t c) { AppendUtf8(strOut, static_cast<uint32_t>(c)); }

std::string ToUtf8(std::u16string_view strText) {
  std::string strOut;
  strOut.reserve(strText.size() * 3 / 2);
  for (size_t i = 0; i < strText.size(); ++i) {
    char32_t c = strText[i];
    if (IsHighSurrogate(c) && i + 1 < strText.size() && IsLowSurrogate(strText[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (strText[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = kReplacement;
    }
    AppendUtf8(strOut, c);
  }
  return strOut;
}

bool FromUtf8(std::string_view strBytes, std::u16string& strText) {
  strText.clear();
  strText.reserve(strBytes.size());
  size_t nPos = 0;
  while (nPos < strBytes.size()) {
    int nLength = SequenceLength(static_cast<unsigned char>(strBytes[nPos]));
    char32_t c = 0;
    if (nLength == 0 || !DecodeSequence(strBytes, nPos, nLength, c)) return false;
    nPos += nLength;
    if (c >= 0x10000) {
      c -= 0x10000;
      strText += static_cast<char16_t>(0xD800 + (c >> 10));
      strText += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      strText += static_cast<char16_t>(c);
    }
  }
  return true;
}

char32_t NextCodePoint(std::string_view strText, size_t& nPos) {
  int nLength = SequenceLength(static_cast<unsigned char>(strText[nPos]));
  char32_t c = 0;
  if (nLength == 0 || !DecodeSequence(strText, nPos, nLength, c)) {
    ++nPos;
    return kReplacement;
  }
  nPos += nLength;
  return c;
}
