#include "reading/record_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "platform/unicode_text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr size_t npos = std::u16string_view::npos;

// "<记录>", "</记录>", "<日志>", "</日志>".
const std::u16string kRecordOpen = u"<" + std::u16string(kRecordElement) + u">";
const std::u16string kRecordClose = u"</" + std::u16string(kRecordElement) + u">";
const std::u16string kRootOpen = u"<" + std::u16string(kLogRoot) + u">";
const std::u16string kRootClose = u"</" + std::u16string(kLogRoot) + u">";

// The first '<' or zero unit from nPos on, or the text's size.
size_t FindMarkupOrZero(std::u16string_view strText, size_t nPos) {
  const char16_t* p = strText.data();
  const size_t nSize = strText.size();
#if defined(__SSE2__)
  const __m128i lt = _mm_set1_epi16(u'<');
  const __m128i zero = _mm_setzero_si128();
  for (; nPos + 8 <= nSize; nPos += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + nPos));
    const int nMask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(units, lt), _mm_cmpeq_epi16(units, zero)));
    if (nMask != 0) return nPos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(nMask))) / 2;
  }
#endif
  for (; nPos < nSize; ++nPos) {
    if (p[nPos] == u'<' || p[nPos] == 0) return nPos;
  }
  return nSize;
}

// A field at nPos: "<name>data</name>" or "<name/>". The offset past it.
size_t ScanField(std::u16string_view strText, size_t nPos, const char16_t* szName, std::u16string_view& data) {
  const size_t nName = std::char_traits<char16_t>::length(szName);
  const size_t nSize = strText.size();
  // "<" name then ">" or "/>"
  if (nPos + nName + 3 > nSize || strText[nPos] != u'<' ||
      !IsTextAt(strText, nPos + 1, std::u16string_view(szName, nName))) {
    return npos;
  }
  size_t nAfterName = nPos + 1 + nName;
  if (strText[nAfterName] == u'/') {
    if (strText[nAfterName + 1] != u'>') return npos;
    data = std::u16string_view();
    return nAfterName + 2;
  }
  if (strText[nAfterName] != u'>') return npos;
  const size_t nDataBegin = nAfterName + 1;
  const size_t nDataEnd = FindMarkupOrZero(strText, nDataBegin);
  // "</" name ">"
  if (nDataEnd + nName + 3 > nSize || strText[nDataEnd] != u'<' || strText[nDataEnd + 1] != u'/' ||
      !IsTextAt(strText, nDataEnd + 2, std::u16string_view(szName, nName)) || strText[nDataEnd + 2 + nName] != u'>') {
    return npos;
  }
  data = strText.substr(nDataBegin, nDataEnd - nDataBegin);
  return nDataEnd + nName + 3;
}

struct CEntity {
  std::u16string_view m_strName;  // what follows the '&', ';' included
  char16_t m_cUnit;
};
// The engine's references, in the engine's order.
constexpr CEntity kEntities[] = {
    {u"lt;", u'<'}, {u"amp;", u'&'}, {u"gt;", u'>'}, {u"apos;", u'\''}, {u"quot;", u'"'},
};

// Calls take(unit) for each unit of the decoded data.
template <typename Take>
void DecodeUnits(std::u16string_view strData, bool bEscaped, Take&& take) {
  for (size_t i = 0; i < strData.size(); ++i) {
    const char16_t c = strData[i];
    if (c != u'&' || !bEscaped) {
      take(c);
      continue;
    }
    bool bReplaced = false;
    for (const CEntity& entity : kEntities) {
      if (strData.size() - i - 1 >= entity.m_strName.size() &&
          strData.compare(i + 1, entity.m_strName.size(), entity.m_strName) == 0) {
        take(entity.m_cUnit);
        i += entity.m_strName.size();
        bReplaced = true;
        break;
      }
    }
    if (!bReplaced) take(u'&');
  }
}

}  // namespace

size_t FindUnit(std::u16string_view strText, char16_t c, size_t nPos) {
  const char16_t* p = strText.data();
  const size_t nSize = strText.size();
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi16(static_cast<short>(c));
  for (; nPos + 8 <= nSize; nPos += 8) {
    const int nMask =
        _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + nPos)), wanted));
    if (nMask != 0) return nPos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(nMask))) / 2;
  }
#endif
  for (; nPos < nSize; ++nPos) {
    if (p[nPos] == c) return nPos;
  }
  return nSize;
}

size_t FindZeroUnit(std::u16string_view strText, size_t nPos) {
  const char16_t* p = strText.data();
  const size_t nSize = strText.size();
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; nPos + 32 <= nSize; nPos += 32) {
    const __m128i* pBlock = reinterpret_cast<const __m128i*>(p + nPos);
    const __m128i first = _mm_or_si128(_mm_cmpeq_epi16(_mm_loadu_si128(pBlock), zero),
                                       _mm_cmpeq_epi16(_mm_loadu_si128(pBlock + 1), zero));
    const __m128i second = _mm_or_si128(_mm_cmpeq_epi16(_mm_loadu_si128(pBlock + 2), zero),
                                        _mm_cmpeq_epi16(_mm_loadu_si128(pBlock + 3), zero));
    if (_mm_movemask_epi8(_mm_or_si128(first, second)) != 0) break;
  }
#endif
  for (; nPos < nSize; ++nPos) {
    if (p[nPos] == 0) return nPos;
  }
  return nSize;
}

size_t CountUnit(std::u16string_view strText, char16_t c) {
  const char16_t* p = strText.data();
  const size_t nSize = strText.size();
  size_t nPos = 0, nCount = 0;
#if defined(__SSE2__)
  // Eight counters, one per lane: a match compares as -1, so subtracting
  // it counts one. A lane counts at most 0xFFFF before it is added up.
  const __m128i wanted = _mm_set1_epi16(static_cast<short>(c));
  while (nPos + 8 <= nSize) {
    __m128i counts = _mm_setzero_si128();
    const size_t nBlockEnd = nPos + std::min<size_t>((nSize - nPos) / 8, 0xFFFF) * 8;
    for (; nPos < nBlockEnd; nPos += 8) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + nPos));
      counts = _mm_sub_epi16(counts, _mm_cmpeq_epi16(units, wanted));
    }
    alignas(16) uint16_t aLanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(aLanes), counts);
    for (uint16_t nLane : aLanes) nCount += nLane;
  }
#endif
  for (; nPos < nSize; ++nPos) nCount += p[nPos] == c ? 1 : 0;
  return nCount;
}

size_t SkipBlanks(std::u16string_view strText, size_t nPos) {
  while (nPos < strText.size() && IsBlankUnit(strText[nPos])) ++nPos;
  return nPos;
}

size_t ScanStandardRecord(std::u16string_view strText, size_t nPos, CRecordText& record) {
  if (!IsTextAt(strText, nPos, kRecordOpen)) return npos;
  const size_t nBegin = nPos;
  nPos += kRecordOpen.size();
  for (int i = 0; i < kFieldCount; ++i) {
    nPos = ScanField(strText, SkipBlanks(strText, nPos), kFieldElementNames[i], record.m_aData[i]);
    if (nPos == npos) return npos;
  }
  nPos = SkipBlanks(strText, nPos);
  if (!IsTextAt(strText, nPos, kRecordClose)) return npos;
  nPos += kRecordClose.size();
  record.m_markup = strText.substr(nBegin, nPos - nBegin);
  record.m_bEscaped = true;
  return nPos;
}

size_t ScanStandardProlog(std::u16string_view strText) {
  size_t nPos = SkipBlanks(strText, 0);
  if (IsTextAt(strText, nPos, u"<?xml")) {
    const size_t nEnd = strText.find(u"?>", nPos);
    if (nEnd == npos) return npos;
    nPos = SkipBlanks(strText, nEnd + 2);
  }
  if (!IsTextAt(strText, nPos, kRootOpen)) return npos;
  return nPos + kRootOpen.size();
}

bool IsRootEndAt(std::u16string_view strText, size_t nPos) { return IsTextAt(strText, nPos, kRootClose); }

void AppendFieldUtf8(std::string& strOut, std::u16string_view strData, bool bEscaped) {
  // At most three bytes per unit; the string is cut to what was written.
  const size_t nStart = strOut.size();
  strOut.resize(nStart + 3 * strData.size());
  char* p = strOut.data() + nStart;
  const size_t nSize = strData.size();
  for (size_t i = 0; i < nSize; ++i) {
    const char32_t c = strData[i];
    if (c < 0x80) {
      if (c == u'&' && bEscaped) {
        char cUnit = '&';
        for (const CEntity& entity : kEntities) {
          if (nSize - i - 1 >= entity.m_strName.size() &&
              strData.compare(i + 1, entity.m_strName.size(), entity.m_strName) == 0) {
            cUnit = static_cast<char>(entity.m_cUnit);
            i += entity.m_strName.size();
            break;
          }
        }
        *p++ = cUnit;
      } else {
        *p++ = static_cast<char>(c);
      }
    } else if (!IsSurrogate(c)) {
      p = WriteUtf8(p, c);  // the common case first: one test for every other unit
    } else if (StartsSurrogatePair(strData, i)) {
      p = WriteUtf8(p, CombineSurrogates(c, strData[i + 1]));  // four bytes for the pair's two units
      ++i;
    } else {
      p = WriteUtf8(p, kReplacementCharacter);
    }
  }
  strOut.resize(static_cast<size_t>(p - strOut.data()));
}

void AppendFieldUtf16(std::u16string& strOut, std::u16string_view strData, bool bEscaped) {
  if (!bEscaped || strData.find(u'&') == npos) {
    strOut.append(strData);
    return;
  }
  DecodeUnits(strData, bEscaped, [&](char16_t c) { strOut += c; });
}
