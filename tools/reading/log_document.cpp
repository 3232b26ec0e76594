#include "reading/log_document.h"

#include <algorithm>

#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "markup/markup.h"
#include "reading/record_recovery.h"

namespace {

constexpr size_t npos = std::u16string::npos;

bool IsBlank(std::u16string_view strText) {
  return std::all_of(strText.begin(), strText.end(), [](char16_t c) { return IsBlankUnit(c); });
}

// The engine with a way to hand its text back: a text moved in for a parse
// comes out again without a copy once the parse has been read.
//
// The engine's own fast path reads the same forms as the tool's (and gives
// up at anything else, parsing the whole text again by its general rules);
// what reaches the engine here is text where the tool's fast path met
// something else, mostly damage, so it goes to the general rules at once.
// Both fill the index alike, and only the general rules word errors.
class CReadingDocument : public CXmlDocument {
 public:
  bool Parse(std::u16string strText) { return InstallDocument(std::move(strText), false); }
  std::u16string TakeText() { return std::move(m_strDocument); }
};

// Passes records on to the sink after the first nSkip, and counts them.
class CCountingSink {
 public:
  CCountingSink(CRecordSink& sink, const size_t& nSkip, CLogText& result)
      : m_sink(sink), m_nSkip(nSkip), m_result(result) {}
  void Take(const CRecordText& record, size_t nEnd) {
    if (m_result.m_nRecords++ >= m_nSkip) m_sink.Take(record);
    m_result.m_nRecordsEnd = nEnd;
  }

 private:
  CRecordSink& m_sink;
  const size_t& m_nSkip;
  CLogText& m_result;
};

// The "记录" children of the element the document stands in, to the sink;
// nShift turns the document's offsets into the text's.
void TakeEngineRecords(CXmlDocument& doc, const std::string& strFile, int64_t nShift, CCountingSink& sink) {
  CEngineRecord record;
  while (doc.FindNextElement(kRecordElement)) {
    ReadEngineRecord(doc, strFile, record);
    sink.Take(record.m_text, static_cast<size_t>(doc.ElemPosAt(doc.GetCurrentElement()).nEndClose + 1 + nShift));
  }
}

// Reads the parsed whole text as a day's log: fills the outcome, top
// element and records.
void TakeParsedLog(CXmlDocument& doc, const std::string& strFile, CLogText& result, CCountingSink& sink) {
  doc.FindNextElement();
  std::u16string strTop = doc.GetTagName(doc.GetCurrentElement());
  result.m_strTopElement = ToUtf8(strTop);
  if (strTop == kRecordElement) {
    // The library turns an empty day file into one holding a single record
    // as its top element; that record is as real as any other.
    CEngineRecord record;
    ReadEngineRecord(doc, strFile, record);
    sink.Take(record.m_text, static_cast<size_t>(doc.ElemPosAt(doc.GetCurrentElement()).nEndClose + 1));
    result.m_nOutcome = logTextRead;
  } else if (strTop == kLogRoot) {
    doc.EnterElement();
    TakeEngineRecords(doc, strFile, 0, sink);
    result.m_nOutcome = logTextRead;
  } else {
    result.m_nOutcome = logTextNotLog;
  }
}

std::string Plural(size_t nCount, const char* szOne, const char* szMany) {
  return std::to_string(nCount) + " " + (nCount == 1 ? szOne : szMany);
}

}  // namespace

CLogText ScanLogText(std::u16string& strText, size_t nLibraryUnits, const std::string& strFile, bool bRecover,
                     CRecordSink& sink, size_t nSkip) {
  CLogText result;
  nLibraryUnits = std::min(nLibraryUnits, strText.size());
  const bool bBeyond = nLibraryUnits < strText.size();
  const std::u16string_view strLibrary = std::u16string_view(strText).substr(0, nLibraryUnits);
  if (!bBeyond && IsBlank(strLibrary)) return result;
  CCountingSink counting(sink, nSkip, result);  // nSkip may grow below

  // The fast path: records in the library's own form, as far as they go.
  size_t nStop = 0;  // where the engine takes over; 0: the whole text
  size_t nPos = ScanStandardProlog(strLibrary);
  if (nPos != npos) {
    result.m_strTopElement = ToUtf8(kLogRoot);
    CRecordText record;
    record.m_pFile = &strFile;
    for (;;) {
      const size_t nNext = SkipBlanks(strLibrary, nPos);
      // The engine reads no further than the top element's end tag.
      if (IsRootEndAt(strLibrary, nNext)) {
        result.m_nOutcome = logTextRead;
        return result;
      }
      const size_t nEnd = ScanStandardRecord(strLibrary, nNext, record);
      if (nEnd == npos) break;
      counting.Take(record, nEnd);
      nPos = nEnd;
    }
    nStop = nPos;
  }
  if (nStop > 0 && nStop < strLibrary.size() / 2) {
    // Most of the text is still to be read: the engine takes it whole
    // rather than a copy of the rest, and the records read so far are not
    // given again.
    nSkip = std::max(nSkip, result.m_nRecords);
    result.m_nRecords = 0;
    result.m_nRecordsEnd = npos;
    nStop = 0;
  }

  CReadingDocument doc;
  int64_t nShift = 0;  // from the document's offsets to the text's
  bool bParsed = false;
  if (nStop > 0) {
    // The rest of the text as the content of the root: the engine's parse of
    // the whole text is in the same state after the records read so far.
    const std::u16string strRootOpen = u"<" + std::u16string(kLogRoot) + u">";
    nShift = static_cast<int64_t>(nStop) - static_cast<int64_t>(strRootOpen.size());
    std::u16string strRest;
    strRest.reserve(strRootOpen.size() + strLibrary.size() - nStop);
    strRest += strRootOpen;
    strRest += strLibrary.substr(nStop);
    bParsed = doc.Parse(std::move(strRest));
    if (bParsed) {
      doc.FindNextElement();
      doc.EnterElement();
      TakeEngineRecords(doc, strFile, nShift, counting);
      result.m_nOutcome = logTextRead;
      return result;
    }
  } else {
    // The text goes into the engine without a copy, and comes back; what
    // lies behind its zero unit waits aside, and goes back where it was,
    // within the string's room.
    std::u16string strBeyond = strText.substr(nLibraryUnits);
    strText.resize(nLibraryUnits);
    bParsed = doc.Parse(std::move(strText));
    if (bParsed) TakeParsedLog(doc, strFile, result, counting);
    strText = doc.TakeText();
    strText += strBeyond;
    if (bParsed) return result;
  }
  result.m_nOutcome = logTextMalformed;
  result.m_stop.m_strMessage = ToUtf8(doc.GetParseError());
  int64_t nStopOffset = doc.GetParseErrorOffset();
  if (nStopOffset >= 0) nStopOffset += nShift;
  doc.SetDocument();  // the index is no longer needed
  if (result.m_stop.m_strMessage.empty()) {
    // The engine gives no message when the first tag is an end tag.
    result.m_stop.m_strMessage = "the text begins with an end tag";
    nStopOffset = static_cast<int64_t>(strText.find(u'<', nStop));
  }
  result.m_nRecoverFrom = nStop;
  result.m_nStopOffset = nStopOffset;
  if (bRecover) RecoverLogText(strText, strFile, result, sink, nSkip);
  return result;
}

void RecoverLogText(const std::u16string& strText, const std::string& strFile, CLogText& result, CRecordSink& sink,
                    size_t nSkip) {
  result.m_stop.m_place = PlaceAt(strText, static_cast<int32_t>(std::max<int64_t>(result.m_nStopOffset, 0)));
  RecoverRecords(strText, strFile, result, sink, nSkip, result.m_nRecoverFrom);
}

CLogText ReadLogText(std::u16string strText, const std::string& strFile, const std::u16string* pBeyond, bool bRecover) {
  const size_t nLibraryUnits = strText.size();
  if (pBeyond != nullptr) {
    strText += u'\0';
    strText += *pBeyond;
  }
  std::vector<CLogRecord> aRecords;
  CRecordCollector collector(aRecords);
  CLogText result = ScanLogText(strText, nLibraryUnits, strFile, bRecover, collector);
  result.m_aRecords = std::move(aRecords);
  return result;
}

bool LibraryAddsRecords(const CLogText& text, size_t nTextUnits, bool bDataBeyondZero) {
  if (nTextUnits == 0) return true;  // the library starts such a file afresh
  // A text the engine parses takes a record only into the root "日志" (any
  // other top element would get a second one); one it does not parse is
  // started afresh, unless content hides behind its zero unit.
  if (text.m_nOutcome == logTextRead || text.m_nOutcome == logTextNotLog)
    return text.m_strTopElement == ToUtf8(kLogRoot);
  return !bDataBeyondZero;
}

std::string DescribeDamage(const CLogText& text) {
  constexpr size_t kStretchesNamed = 5;
  std::string strOut;
  auto Add = [&strOut](const std::string& strPart) { strOut += (strOut.empty() ? "" : "; ") + strPart; };
  const size_t nRecords = text.m_nRecords;
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
