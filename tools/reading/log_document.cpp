#include "log_document.h"

#include <algorithm>

#include "log_layout.h"
#include "markup.h"
#include "record_recovery.h"
#include "text_encoding.h"

namespace {

bool IsBlank(const std::u16string& strText) {
  return std::all_of(strText.begin(), strText.end(),
                     [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; });
}

// Parses strText; on success fills the outcome, top element and records.
bool ParseRecords(std::u16string strText, const std::string& strFile, CLogText& result, CXmlDocument& doc) {
  if (!doc.SetDocument(std::move(strText))) return false;
  doc.FindNextElement();
  std::u16string strTop = doc.GetTagName(doc.GetCurrentElement());
  result.m_strTopElement = ToUtf8(strTop);
  if (strTop == kRecordElement) {
    // The library turns an empty day file into one holding a single record
    // as its top element; that record is as real as any other.
    result.m_aRecords.push_back(ReadCurrentRecord(doc, strFile).m_record);
    result.m_nOutcome = logTextRead;
  } else if (strTop == kLogRoot) {
    doc.EnterElement();
    while (doc.FindNextElement(kRecordElement)) result.m_aRecords.push_back(ReadCurrentRecord(doc, strFile).m_record);
    result.m_nOutcome = logTextRead;
  } else {
    result.m_nOutcome = logTextNotLog;
  }
  return true;
}

std::string Plural(size_t nCount, const char* szOne, const char* szMany) {
  return std::to_string(nCount) + " " + (nCount == 1 ? szOne : szMany);
}

}  // namespace

CTextPlace CPlaceFinder::At(size_t nOffset) {
  const size_t nEnd = std::min(nOffset, m_strText.size());
  for (size_t i = static_cast<size_t>(m_place.m_nOffset); i < nEnd; ++i) {
    const char16_t c = m_strText[i];
    if (c == u'\n') {
      ++m_place.m_nLine;
      m_place.m_nColumn = 1;
    } else if (!(c >= 0xDC00 && c <= 0xDFFF && i > 0 && m_strText[i - 1] >= 0xD800 && m_strText[i - 1] <= 0xDBFF)) {
      ++m_place.m_nColumn;  // the low half of a pair belongs to the column of its high half
    }
  }
  m_place.m_nOffset = static_cast<int32_t>(std::max(nEnd, static_cast<size_t>(m_place.m_nOffset)));
  CTextPlace place = m_place;
  place.m_nOffset = static_cast<int32_t>(nOffset);
  return place;
}

CTextPlace PlaceAt(const std::u16string& strText, int32_t nOffset) {
  return CPlaceFinder(strText).At(static_cast<size_t>(std::max<int32_t>(nOffset, 0)));
}

void LocateOffset(const std::u16string& strText, int32_t nOffset, int& nLine, int& nColumn) {
  const CTextPlace place = PlaceAt(strText, nOffset);
  nLine = place.m_nLine;
  nColumn = place.m_nColumn;
}

std::string FormatPlace(const CTextPlace& place) {
  return std::to_string(place.m_nLine) + ":" + std::to_string(place.m_nColumn);
}

CLogText ReadLogText(std::u16string strText, const std::string& strFile, const std::u16string* pBeyond,
                     bool bRecover) {
  CLogText result;
  if (pBeyond == nullptr && IsBlank(strText)) return result;
  CXmlDocument doc;
  // The text goes into the engine without a copy; only a damaged one, rare,
  // is copied back out to be searched.
  if (ParseRecords(std::move(strText), strFile, result, doc)) return result;
  result.m_nOutcome = logTextMalformed;
  if (!bRecover) return result;
  std::u16string strWhole = doc.GetDocument();
  if (pBeyond != nullptr) strWhole += u'\0' + *pBeyond;
  result.m_stop.m_strMessage = ToUtf8(doc.GetParseError());
  int32_t nStop = doc.GetParseErrorOffset();
  if (result.m_stop.m_strMessage.empty()) {
    // The engine gives no message when the first tag is an end tag.
    result.m_stop.m_strMessage = "the text begins with an end tag";
    nStop = static_cast<int32_t>(strWhole.find(u'<'));
  }
  result.m_stop.m_place = PlaceAt(strWhole, nStop);
  RecoverRecords(strWhole, strFile, result);
  return result;
}

std::string DescribeDamage(const CLogText& text) {
  constexpr size_t kStretchesNamed = 5;
  std::string strOut;
  auto Add = [&strOut](const std::string& strPart) { strOut += (strOut.empty() ? "" : "; ") + strPart; };
  const size_t nRecords = text.m_aRecords.size();
  for (size_t i = 0; i < text.m_aDamage.size() && i < kStretchesNamed; ++i) {
    const CDamagedStretch& stretch = text.m_aDamage[i];
    Add("damaged text at " + FormatPlace(stretch.m_begin) + "-" + FormatPlace(stretch.m_end) + " (" +
        Plural(stretch.m_nRecordsBefore, "record", "records") + " before it, " +
        std::to_string(nRecords - stretch.m_nRecordsBefore) + " after)");
  }
  if (text.m_aDamage.size() > kStretchesNamed) {
    Add(Plural(text.m_aDamage.size() - kStretchesNamed, "more damaged stretch", "more damaged stretches"));
  }
  const std::string strRoot = ToUtf8(kLogRoot);
  if (!text.m_bRootOpened) {
    Add("no <" + strRoot + "> element");
  } else if (!text.m_bRootClosed) {
    Add("cut short: no </" + strRoot + "> after the last record");
  }
  if (strOut.empty()) Add(text.m_stop.m_strMessage + " at " + FormatPlace(text.m_stop.m_place));
  return strOut;
}
