// Inline definitions of the tokenizer's scanning primitives; included at the
// end of markup_tokens.h only.
#pragma once

#include <array>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace markup_scan {

// Bits of the character class table. Every code unit of 128 and above has no
// bit set: none of the three sets holds anything outside ASCII.
enum CharClassBits : uint8_t {
  classWhitespace = 1,    // " \t\n\r"
  classDelimiter = 2,     // whitespace and "<>=\/?!"
  classNameFollower = 4,  // " =/["
};

constexpr std::array<uint8_t, 128> MakeCharClassTable() {
  std::array<uint8_t, 128> table{};
  for (char c : {' ', '\t', '\n', '\r'}) table[static_cast<unsigned char>(c)] |= classWhitespace | classDelimiter;
  for (char c : {'<', '>', '=', '\\', '/', '?', '!'}) table[static_cast<unsigned char>(c)] |= classDelimiter;
  for (char c : {' ', '=', '/', '['}) table[static_cast<unsigned char>(c)] |= classNameFollower;
  return table;
}

inline constexpr std::array<uint8_t, 128> kCharClass = MakeCharClassTable();

inline bool HasClass(char16_t c, uint8_t nBits) { return c < 128 && (kCharClass[c] & nBits) != 0; }

// Names are a few code units long: a plain loop beats a call to memcmp.
inline bool SameUnits(const char16_t* p, const char16_t* q, int32_t nCount) {
  for (int32_t n = 0; n < nCount; ++n) {
    if (p[n] != q[n]) return false;
  }
  return true;
}

// The scans below read whole aligned blocks, so a read never crosses into a
// page the text does not reach; the bytes it takes in beyond the terminating
// zero are never looked at. The sanitizer would still flag those bytes.
#if defined(__clang__) || defined(__GNUC__)
#define MARKUP_READS_WHOLE_BLOCKS __attribute__((no_sanitize_address))
#else
#define MARKUP_READS_WHOLE_BLOCKS
#endif

#if defined(__SSE2__)
// Eight code units at a time, from 16-byte aligned loads.
MARKUP_READS_WHOLE_BLOCKS
inline const char16_t* FindUnitOrZero(const char16_t* p, char16_t cTarget) {
  // Markup puts the next '<' a few units away more often than not.
  for (int n = 0; n < 4; ++n, ++p) {
    if (*p == cTarget || *p == 0) return p;
  }
  const __m128i target = _mm_set1_epi16(static_cast<short>(cTarget));
  const __m128i zero = _mm_setzero_si128();
  const uintptr_t nMisalign = reinterpret_cast<uintptr_t>(p) & 15u;
  const char16_t* pBlock = reinterpret_cast<const char16_t*>(reinterpret_cast<uintptr_t>(p) - nMisalign);
  if (nMisalign & 1u) {  // not even 2-byte aligned: no block view of it
    while (*p != cTarget && *p != 0) ++p;
    return p;
  }
  __m128i block = _mm_load_si128(reinterpret_cast<const __m128i*>(pBlock));
  unsigned nMask = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(block, target), _mm_cmpeq_epi16(block, zero))));
  nMask &= ~0u << nMisalign;  // ignore the units before p
  while (nMask == 0) {
    pBlock += 8;
    block = _mm_load_si128(reinterpret_cast<const __m128i*>(pBlock));
    nMask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(block, target), _mm_cmpeq_epi16(block, zero))));
  }
  return pBlock + (__builtin_ctz(nMask) >> 1);
}

// Two bits for each zero unit among the eight of the aligned block at pBlock.
MARKUP_READS_WHOLE_BLOCKS
inline unsigned ZeroUnitBits(const char16_t* pBlock) {
  const __m128i block = _mm_load_si128(reinterpret_cast<const __m128i*>(pBlock));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, _mm_setzero_si128())));
}

// True when one of the 32 units of the 64-byte line at pLine is zero.
MARKUP_READS_WHOLE_BLOCKS
inline bool LineHoldsZeroUnit(const char16_t* pLine) {
  const __m128i* p = reinterpret_cast<const __m128i*>(pLine);
  const __m128i zero = _mm_setzero_si128();
  const __m128i first =
      _mm_or_si128(_mm_cmpeq_epi16(_mm_load_si128(p), zero), _mm_cmpeq_epi16(_mm_load_si128(p + 1), zero));
  const __m128i second =
      _mm_or_si128(_mm_cmpeq_epi16(_mm_load_si128(p + 2), zero), _mm_cmpeq_epi16(_mm_load_si128(p + 3), zero));
  return _mm_movemask_epi8(_mm_or_si128(first, second)) != 0;
}

// Units before the first zero unit. A whole log passes through here before
// it is parsed, so the scan takes a cache line (32 units) per step once it
// has reached a line boundary.
MARKUP_READS_WHOLE_BLOCKS
inline size_t TextLength(const char16_t* pText) {
  const uintptr_t nMisalign = reinterpret_cast<uintptr_t>(pText) & 15u;
  if (nMisalign & 1u) return std::char_traits<char16_t>::length(pText);
  const char16_t* pBlock = reinterpret_cast<const char16_t*>(reinterpret_cast<uintptr_t>(pText) - nMisalign);
  unsigned nBits = ZeroUnitBits(pBlock) & (~0u << nMisalign);  // ignore the units before pText
  auto IsLineStart = [](const char16_t* p) { return (reinterpret_cast<uintptr_t>(p) & 63u) == 0; };
  while (nBits == 0 && !IsLineStart(pBlock + 8)) {
    pBlock += 8;
    nBits = ZeroUnitBits(pBlock);
  }
  if (nBits == 0) {
    pBlock += 8;
    while (!LineHoldsZeroUnit(pBlock)) pBlock += 32;
    while ((nBits = ZeroUnitBits(pBlock)) == 0) pBlock += 8;
  }
  return static_cast<size_t>((pBlock - pText) + (__builtin_ctz(nBits) >> 1));
}
#else
inline const char16_t* FindUnitOrZero(const char16_t* p, char16_t cTarget) {
  while (*p != cTarget && *p != 0) ++p;
  return p;
}

// Units before the first zero unit, four at a time from 8-byte aligned words
// (a zero unit makes its lane borrow in the subtraction). Text at an odd
// address never reaches a word boundary and is looked at unit by unit.
MARKUP_READS_WHOLE_BLOCKS
inline size_t TextLength(const char16_t* pText) {
  const char16_t* p = pText;
  for (; (reinterpret_cast<uintptr_t>(p) & 7u) != 0; ++p) {
    if (*p == 0) return static_cast<size_t>(p - pText);
  }
  for (;; p += 4) {
    uint64_t nWord;
    std::memcpy(&nWord, p, sizeof nWord);
    if (((nWord - 0x0001000100010001u) & ~nWord & 0x8000800080008000u) != 0) break;
  }
  while (*p != 0) ++p;
  return static_cast<size_t>(p - pText);
}
#endif

}  // namespace markup_scan

inline bool SkipWhitespace(int32_t& nPos, const char16_t* pText) {
  while (markup_scan::HasClass(pText[nPos], markup_scan::classWhitespace)) ++nPos;
  return pText[nPos] != 0;
}

inline bool ScanToChar(int32_t& nPos, const char16_t* pText, char16_t cTarget) {
  const char16_t* p = markup_scan::FindUnitOrZero(pText + nPos, cTarget);
  nPos = static_cast<int32_t>(p - pText);
  return *p == cTarget;
}

inline bool NextToken(TokenCursor& cursor) {
  const char16_t* pText = cursor.pText;
  cursor.bQuoted = false;
  int32_t nPos = cursor.nScanPos;
  if (!SkipWhitespace(nPos, pText)) {
    cursor.nTokenFirst = cursor.nTokenLast = cursor.nScanPos = nPos;
    return false;
  }
  const char16_t cQuote = pText[nPos];
  if (cQuote == u'"' || cQuote == u'\'') {
    cursor.bQuoted = true;
    cursor.nTokenFirst = ++nPos;
    while (pText[nPos] != cQuote && pText[nPos] != 0) ++nPos;
    cursor.nTokenLast = nPos - 1;
    if (pText[nPos] == cQuote) ++nPos;
    cursor.nScanPos = nPos;
    return true;
  }
  cursor.nTokenFirst = nPos;
  while (pText[nPos] != 0 && !markup_scan::HasClass(pText[nPos], markup_scan::classDelimiter)) ++nPos;
  if (nPos == cursor.nTokenFirst) ++nPos;  // a delimiter is a token of its own
  cursor.nScanPos = nPos;
  cursor.nTokenLast = nPos - 1;
  return true;
}
