#include "log_document.h"

#include <algorithm>

#include "log_layout.h"
#include "markup.h"
#include "text_encoding.h"

namespace {

const std::u16string kRecordEnd = u"</" + std::u16string(kRecordElement) + u">";

bool IsBlank(const std::u16string& strText) {
  return std::all_of(strText.begin(), strText.end(),
                     [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; });
}

// Reads the record the document stands on. Children are matched by name, so
// a record whose elements are missing or out of order still reads; unknown
// children are passed over.
CLogRecord ReadCurrentRecord(CXmlDocument& doc, const std::string& strFile) {
  CLogRecord record;
  record.m_strFile = strFile;
  const ElemPos& pos = doc.ElemPosAt(doc.GetCurrentElement());
  const std::u16string& strText = doc.ViewDocument();
  record.m_strMarkup = ToUtf8(std::u16string_view(strText).substr(pos.nStartOpen, pos.nEndClose - pos.nStartOpen + 1));
  doc.EnterElement();
  while (doc.FindNextElement()) {
    std::u16string strName = doc.GetTagName(doc.GetCurrentElement());
    for (int i = 0; i < kFieldCount; ++i) {
      if (strName == kFieldElementNames[i]) record.m_aField[i] = ToUtf8(doc.GetCurrentData());
    }
  }
  doc.LeaveElement();
  return record;
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
    result.m_aRecords.push_back(ReadCurrentRecord(doc, strFile));
    result.m_nOutcome = logTextRead;
  } else if (strTop == kLogRoot) {
    doc.EnterElement();
    while (doc.FindNextElement(kRecordElement)) result.m_aRecords.push_back(ReadCurrentRecord(doc, strFile));
    result.m_nOutcome = logTextRead;
  } else {
    result.m_nOutcome = logTextNotLog;
  }
  return true;
}

// The text up to the end of the last record that closes before nOffset, with
// the root closed after it; empty when no record closes there.
std::u16string CutAfterLastRecord(const std::u16string& strText, int32_t nOffset) {
  if (nOffset < 0) nOffset = static_cast<int32_t>(strText.size());
  size_t nEnd = strText.rfind(kRecordEnd, static_cast<size_t>(nOffset));
  if (nEnd == std::u16string::npos) return std::u16string();
  return strText.substr(0, nEnd + kRecordEnd.size()) + u"\r\n</" + kLogRoot + u">\r\n";
}

void Salvage(const std::u16string& strText, const std::string& strFile, CLogText& result) {
  std::u16string strCut = CutAfterLastRecord(strText, result.m_stop.m_nOffset);
  if (strCut.empty()) return;
  CLogText salvaged;
  CXmlDocument doc;
  if (ParseRecords(std::move(strCut), strFile, salvaged, doc) && salvaged.m_nOutcome == logTextRead) {
    result.m_aSalvaged = std::move(salvaged.m_aRecords);
  }
}

}  // namespace

void LocateOffset(const std::u16string& strText, int32_t nOffset, int& nLine, int& nColumn) {
  size_t nEnd = std::min(strText.size(), static_cast<size_t>(std::max<int32_t>(nOffset, 0)));
  nLine = 1;
  nColumn = 1;
  for (size_t i = 0; i < nEnd; ++i) {
    char16_t c = strText[i];
    if (c == u'\n') {
      ++nLine;
      nColumn = 1;
    } else if (!(c >= 0xDC00 && c <= 0xDFFF && i > 0 && strText[i - 1] >= 0xD800 && strText[i - 1] <= 0xDBFF)) {
      ++nColumn;  // the low half of a pair belongs to the column of its high half
    }
  }
}

CLogText ReadLogText(std::u16string strText, const std::string& strFile) {
  CLogText result;
  if (IsBlank(strText)) return result;
  CXmlDocument doc;
  if (ParseRecords(strText, strFile, result, doc)) return result;
  result.m_nOutcome = logTextMalformed;
  result.m_stop.m_strMessage = ToUtf8(doc.GetParseError());
  result.m_stop.m_nOffset = doc.GetParseErrorOffset();
  if (result.m_stop.m_strMessage.empty()) {
    // The engine gives no message when the first tag is an end tag.
    result.m_stop.m_strMessage = "the text begins with an end tag";
    result.m_stop.m_nOffset = static_cast<int32_t>(strText.find(u'<'));
  }
  LocateOffset(strText, result.m_stop.m_nOffset, result.m_stop.m_nLine, result.m_stop.m_nColumn);
  Salvage(strText, strFile, result);
  return result;
}
