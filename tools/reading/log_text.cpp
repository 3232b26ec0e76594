#include "reading/log_text.h"

#include <algorithm>
#include <cstddef>

#include "platform/unicode_text.h"

namespace {

constexpr size_t npos = std::u16string::npos;

}  // namespace

CTextPlace CPlaceFinder::At(size_t nOffset) {
  const size_t nEnd = std::min(nOffset, m_strText.size());
  size_t i = static_cast<size_t>(m_place.m_nOffset);
  if (i < nEnd) {
    // Whole lines are passed over by their line feeds alone.
    const size_t nLastFeed = m_strText.substr(0, nEnd).rfind(u'\n');
    if (nLastFeed != npos && nLastFeed >= i) {
      m_place.m_nLine += static_cast<int>(CountUnit(m_strText.substr(i, nLastFeed + 1 - i), u'\n'));
      m_place.m_nColumn = 1;
      i = nLastFeed + 1;
    }
  }
  for (; i < nEnd; ++i) {
    const char16_t c = m_strText[i];
    if (c == u'\n') {
      ++m_place.m_nLine;
      m_place.m_nColumn = 1;
    } else if (!EndsSurrogatePair(m_strText, i)) {
      ++m_place.m_nColumn;  // the low half of a pair belongs to the column of its high half
    }
  }
  m_place.m_nOffset = static_cast<int32_t>(std::max(nEnd, static_cast<size_t>(m_place.m_nOffset)));
  CTextPlace place = m_place;
  place.m_nOffset = static_cast<int32_t>(nOffset);
  return place;
}

CTextPlace PlaceAt(std::u16string_view strText, int32_t nOffset) {
  return CPlaceFinder(strText).At(static_cast<size_t>(std::max<int32_t>(nOffset, 0)));
}

void LocateOffset(std::u16string_view strText, int32_t nOffset, int& nLine, int& nColumn) {
  const CTextPlace place = PlaceAt(strText, nOffset);
  nLine = place.m_nLine;
  nColumn = place.m_nColumn;
}

std::string FormatPlace(const CTextPlace& place) {
  return std::to_string(place.m_nLine) + ":" + std::to_string(place.m_nColumn);
}
