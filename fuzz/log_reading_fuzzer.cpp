// The tool's reading of a day's log, damaged or not, held against the
// engine: whatever the text,
//  - the reading ends (and, run with -timeout, in time: it is linear);
//  - every record read straight from the text (the fast path of
//    record_scan.h) has exactly the fields the engine reads from that
//    record's XML, all six of them;
//  - a text the engine parses whole gives its outcome, top element and the
//    engine's own records, field for field and XML for XML; one it does not
//    gives the engine's message at the engine's place, and the same records,
//    damaged stretches and root flags as the recovery from the start of the
//    text;
//  - the damaged stretches lie in order inside the text, and every record's
//    XML is one that XML 1.0 parsers accept (no forbidden character, nothing
//    the check of xml_conformance.h names);
//  - that check of the whole text ends, in time;
//  - whether the library adds records to the file is what the engine says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "markup/markup.h"
#include "reading/log_document.h"
#include "reading/record_recovery.h"
#include "reading/record_scan.h"
#include "reading/xml_conformance.h"

namespace {

void Check(bool bHolds) {
  if (!bHolds) std::abort();
}

// A UTF-8 text free of what XML 1.0 forbids: C0 controls other than tab,
// line feed and carriage return, U+FFFE and U+FFFF. (ToUtf8 turns a lone
// surrogate into U+FFFD, so none can remain.)
bool IsPortable(const std::string& strText) {
  for (size_t nPos = 0; nPos < strText.size();) {
    const char32_t c = NextCodePoint(strText, nPos);
    if ((c < 0x20 && c != U'\t' && c != U'\n' && c != U'\r') || c == 0xFFFE || c == 0xFFFF) return false;
  }
  return true;
}

// Collects the records, and checks each one the fast path read against the
// engine's reading of its XML alone.
class CCheckingSink : public CRecordSink {
 public:
  void Take(const CRecordText& record) override {
    if (record.m_bEscaped) {
      CXmlDocument doc;
      Check(doc.SetDocument(std::u16string(record.m_markup)) && doc.FindNextElement(kRecordElement));
      CEngineRecord engine;
      const std::string strFile = "f.xml";
      ReadEngineRecord(doc, strFile, engine);
      Check(engine.m_nFields == kFieldCount);
      for (int i = 0; i < kFieldCount; ++i) {
        std::u16string strDecoded;
        AppendFieldUtf16(strDecoded, record.m_aData[i], true);
        Check(strDecoded == engine.m_aData[i]);
      }
      const CLogRecord fast = MakeLogRecord(record);
      const CLogRecord slow = MakeLogRecord(engine.m_text);
      Check(fast.m_aField == slow.m_aField && fast.m_strMarkup == slow.m_strMarkup);
    }
    m_aRecords.push_back(MakeLogRecord(record));
  }
  std::vector<CLogRecord> m_aRecords;
};

class CCollectingSink : public CRecordSink {
 public:
  void Take(const CRecordText& record) override { m_aRecords.push_back(MakeLogRecord(record)); }
  std::vector<CLogRecord> m_aRecords;
};

bool SameRecords(const std::vector<CLogRecord>& a, const std::vector<CLogRecord>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].m_aField != b[i].m_aField || a[i].m_strMarkup != b[i].m_strMarkup) return false;
  }
  return true;
}

bool SamePlace(const CTextPlace& a, const CTextPlace& b) {
  return a.m_nOffset == b.m_nOffset && a.m_nLine == b.m_nLine && a.m_nColumn == b.m_nColumn;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  // The input is UTF-16LE text; its first zero unit, when there is one,
  // splits it into the library's text and what lies beyond, as in a file.
  std::u16string strWhole(nSize / 2, u'\0');
  for (size_t i = 0; i < strWhole.size(); ++i)
    strWhole[i] = static_cast<char16_t>(pData[2 * i] | pData[2 * i + 1] << 8);
  const size_t nZero = strWhole.find(u'\0');
  const size_t nLibrary = nZero == std::u16string::npos ? strWhole.size() : nZero;
  const bool bBeyond =
      nZero != std::u16string::npos && strWhole.find_first_not_of(u'\0', nZero) != std::u16string::npos;
  if (!bBeyond) strWhole.resize(nLibrary);  // a file's zeros at its end are never read
  const std::u16string strLibrary = strWhole.substr(0, nLibrary);

  std::u16string strText = strWhole;
  CCheckingSink sink;
  const CLogText text = ScanLogText(strText, nLibrary, "f.xml", true, sink);
  Check(strText == strWhole);
  Check(text.m_nRecords == sink.m_aRecords.size());

  // The engine's reading of the whole text.
  CXmlDocument doc;
  const bool bParsed = doc.SetDocument(strLibrary);
  const bool bBlank = strLibrary.find_first_not_of(u" \t\r\n") == std::u16string::npos;
  if (!bBeyond && bBlank) {
    Check(text.m_nOutcome == logTextEmpty && text.m_nRecords == 0);
  } else if (bParsed) {
    doc.FindNextElement();
    const std::u16string strTop = doc.GetTagName(doc.GetCurrentElement());
    Check(text.m_strTopElement == ToUtf8(strTop));
    std::vector<CLogRecord> aEngine;
    CEngineRecord record;
    const std::string strFile = "f.xml";
    if (strTop == kRecordElement) {
      ReadEngineRecord(doc, strFile, record);
      aEngine.push_back(MakeLogRecord(record.m_text));
    } else if (strTop == kLogRoot) {
      doc.EnterElement();
      while (doc.FindNextElement(kRecordElement)) {
        ReadEngineRecord(doc, strFile, record);
        aEngine.push_back(MakeLogRecord(record.m_text));
      }
    }
    Check(text.m_nOutcome == (strTop == kRecordElement || strTop == kLogRoot ? logTextRead : logTextNotLog));
    Check(SameRecords(sink.m_aRecords, aEngine));
  } else {
    Check(text.m_nOutcome == logTextMalformed);
    std::string strMessage = ToUtf8(doc.GetParseError());
    int32_t nStop = doc.GetParseErrorOffset();
    if (strMessage.empty()) {
      strMessage = "the text begins with an end tag";
      nStop = static_cast<int32_t>(strWhole.find(u'<'));
    }
    Check(text.m_stop.m_strMessage == strMessage);
    Check(SamePlace(text.m_stop.m_place, PlaceAt(strWhole, nStop)));
    // The recovery from the start of the text finds the same.
    CLogText recovered;
    CCollectingSink all;
    RecoverRecords(strWhole, "f.xml", recovered, all);
    Check(SameRecords(sink.m_aRecords, all.m_aRecords));
    Check(text.m_bRootOpened == recovered.m_bRootOpened && text.m_bRootClosed == recovered.m_bRootClosed);
    Check(SamePlace(text.m_lastRecordEnd, recovered.m_lastRecordEnd));
    Check(text.m_aDamage.size() == recovered.m_aDamage.size());
    for (size_t i = 0; i < text.m_aDamage.size(); ++i) {
      Check(SamePlace(text.m_aDamage[i].m_begin, recovered.m_aDamage[i].m_begin));
      Check(SamePlace(text.m_aDamage[i].m_end, recovered.m_aDamage[i].m_end));
      Check(text.m_aDamage[i].m_nRecordsBefore == recovered.m_aDamage[i].m_nRecordsBefore);
    }
    DescribeDamage(text);
  }

  for (const CLogRecord& record : sink.m_aRecords) {
    Check(IsPortable(record.m_strMarkup));
    std::u16string strMarkup;
    Check(FromUtf8(record.m_strMarkup, strMarkup) && !FindXmlProblems(strMarkup).Any());
  }
  FindXmlProblems(strLibrary);
  int32_t nPrevious = -1;
  for (const CDamagedStretch& stretch : text.m_aDamage) {
    Check(stretch.m_begin.m_nOffset > nPrevious && stretch.m_end.m_nOffset >= stretch.m_begin.m_nOffset &&
          static_cast<size_t>(stretch.m_end.m_nOffset) < strWhole.size() &&
          stretch.m_nRecordsBefore <= text.m_nRecords);
    nPrevious = stretch.m_end.m_nOffset;
  }

  // The library's own answer: a record goes into the root of a text that
  // parses, into a fresh start where it does not, unless data hides behind
  // the zero unit.
  bool bAdds = true;
  if (!strLibrary.empty()) {
    CXmlDocument library;
    library.SetDocument(strLibrary);
    if (bBeyond && !IsLogDocument(library)) {
      bAdds = false;
    } else {
      library.FindNextElement(kLogRoot);
      library.EnterElement();
      bAdds = library.AddElement(kRecordElement);
    }
  }
  Check(LibraryAddsRecords(text, nLibrary, bBeyond) == bAdds);
  return 0;
}
