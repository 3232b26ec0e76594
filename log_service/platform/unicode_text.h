// Unicode in its two forms here: UTF-16, the text of the log files and of the
// seam's paths, and UTF-8, the text of POSIX paths, of narrow files, of the
// terminal and of the tool's output. This is the one place that knows how a
// surrogate pair makes a code point and how UTF-8 lays one out in bytes.
//
// Text that is not well formed (a lone surrogate, bytes that are no UTF-8)
// is each caller's to decide on: a path keeps every byte, a message shows
// U+FFFD, a strict reader refuses. So these functions tell what they found
// and leave the decision to the caller; only ToValidUtf8 decides, and says
// so in its name. Nothing here calls the operating system or keeps state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// U+FFFD, which stands in for what could not be read.
constexpr char32_t kReplacementCharacter = 0xFFFD;
// The first surrogate: every code unit below it is a character of its own.
constexpr char32_t kFirstSurrogate = 0xD800;

// ---------------------------------------------------------------------------
// UTF-16: surrogates
// ---------------------------------------------------------------------------

constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
constexpr bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// The code point of a pair; cHigh must be a high surrogate and cLow a low one.
constexpr char32_t CombineSurrogates(char32_t cHigh, char32_t cLow) {
  return 0x10000 + ((cHigh - 0xD800) << 10) + (cLow - 0xDC00);
}

// Whether the unit at nPos is the high half of a pair whose low half follows.
// nPos must be inside the text.
inline bool StartsSurrogatePair(std::u16string_view strText, size_t nPos) {
  return IsHighSurrogate(strText[nPos]) && nPos + 1 < strText.size() && IsLowSurrogate(strText[nPos + 1]);
}

// Whether the unit at nPos is the low half of a pair whose high half precedes
// it. nPos must be inside the text.
inline bool EndsSurrogatePair(std::u16string_view strText, size_t nPos) {
  return IsLowSurrogate(strText[nPos]) && nPos > 0 && IsHighSurrogate(strText[nPos - 1]);
}

// Reads the code point at nPos (inside the text) and moves nPos past it: the
// code point of a pair, or the unit itself, which may be a lone surrogate
// that the caller decides on (IsSurrogate tells it apart).
inline char32_t NextUtf16CodePoint(std::u16string_view strText, size_t& nPos) {
  const char32_t c = strText[nPos];
  if (StartsSurrogatePair(strText, nPos)) {
    nPos += 2;
    return CombineSurrogates(c, strText[nPos - 1]);
  }
  ++nPos;
  return c;
}

// Appends a code point up to U+10FFFF as UTF-16: one unit, or a pair above
// the Basic Multilingual Plane. A surrogate is appended as the unit it is.
inline void AppendUtf16(std::u16string& strOut, char32_t cPoint) {
  if (cPoint < 0x10000) {
    strOut += static_cast<char16_t>(cPoint);
    return;
  }
  cPoint -= 0x10000;
  strOut += static_cast<char16_t>(0xD800 + (cPoint >> 10));
  strOut += static_cast<char16_t>(0xDC00 + (cPoint & 0x3FF));
}

// ---------------------------------------------------------------------------
// UTF-8: byte patterns
// ---------------------------------------------------------------------------

// The most bytes one code point takes.
constexpr size_t kLongestUtf8Sequence = 4;

// Whether a byte continues a sequence (10xxxxxx) rather than starting one.
constexpr bool IsUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Writes the UTF-8 form of a code point up to U+10FFFF at p, which must have
// room for kLongestUtf8Sequence bytes, and returns the end of what it wrote.
// A surrogate gets the three-byte form, which ReadUtf8Sequence refuses: the
// caller that writes one has decided to.
inline char* WriteUtf8(char* p, char32_t cPoint) {
  if (cPoint < 0x80) {
    *p++ = static_cast<char>(cPoint);
  } else if (cPoint < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cPoint >> 6));
    *p++ = static_cast<char>(0x80 | (cPoint & 0x3F));
  } else if (cPoint < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cPoint >> 12));
    *p++ = static_cast<char>(0x80 | ((cPoint >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cPoint & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cPoint >> 18));
    *p++ = static_cast<char>(0x80 | ((cPoint >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cPoint >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cPoint & 0x3F));
  }
  return p;
}

// Appends the UTF-8 form of a code point, as WriteUtf8 writes it. Byte by
// byte: appending a range of a few bytes costs a call that a loop of single
// appends does not.
inline void AppendUtf8(std::string& strOut, char32_t cPoint) {
  char aBytes[kLongestUtf8Sequence];
  const char* const pEnd = WriteUtf8(aBytes, cPoint);
  for (const char* p = aBytes; p != pEnd; ++p) strOut += *p;
}

// Length of the sequence a lead byte announces, 0 for a byte that cannot
// lead: a continuation byte, C0 and C1 (only ever overlong) and F5 to FF
// (only ever above U+10FFFF).
constexpr size_t AnnouncedUtf8Length(unsigned char cLead) {
  if (cLead < 0x80) return 1;
  if (cLead >= 0xC2 && cLead <= 0xDF) return 2;
  if (cLead >= 0xE0 && cLead <= 0xEF) return 3;
  if (cLead >= 0xF0 && cLead <= 0xF4) return 4;
  return 0;
}

// Reads the UTF-8 sequence that starts at nPos (inside strBytes) strictly:
// its length, with its code point in cPoint, or 0 (cPoint undefined) when the
// bytes there are not one well-formed sequence. Refused: a byte that cannot
// lead, a missing continuation byte, a sequence cut off by the end, overlong
// forms, encoded surrogates and anything above U+10FFFF. Inline, as the
// tool's width and display loops call it for every character.
inline size_t ReadUtf8Sequence(std::string_view strBytes, size_t nPos, char32_t& cPoint) {
  const auto cLead = static_cast<unsigned char>(strBytes[nPos]);
  const size_t nLength = AnnouncedUtf8Length(cLead);
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
  static constexpr char32_t kSmallest[kLongestUtf8Sequence + 1] = {0, 0, 0x80, 0x800, 0x10000};
  if (cValue < kSmallest[nLength] || cValue > 0x10FFFF || IsSurrogate(cValue)) return 0;
  cPoint = cValue;
  return nLength;
}

// ---------------------------------------------------------------------------
// Whole texts
// ---------------------------------------------------------------------------

// UTF-16 of UTF-8 bytes, every sequence read as ReadUtf8Sequence reads it.
// False at the first malformed one; strText then holds what came before it.
bool DecodeUtf8(std::string_view strBytes, std::u16string& strText);

// UTF-8 of UTF-16 text in which each lone surrogate becomes U+FFFD, so that
// the result is valid UTF-8 whatever the text held: text for people to read
// (messages, the terminal). A caller that must keep lone surrogates apart,
// such as a path, walks the text with NextUtf16CodePoint itself.
std::string ToValidUtf8(std::u16string_view strText);
