#include "reading/record_recovery.h"

#include <array>

#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "markup/markup.h"
#include "reading/xml_characters.h"

namespace {

const std::u16string kRecordEnd = u"</" + std::u16string(kRecordElement) + u">";
const std::u16string kRootEnd = u"</" + std::u16string(kLogRoot) + u">";
constexpr std::u16string_view kRecordName = kRecordElement;
constexpr std::u16string_view kRootName = kLogRoot;
constexpr size_t npos = std::u16string::npos;

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

size_t SkipSpace(const std::u16string& strText, size_t nPos) {
  while (nPos < strText.size() && IsSpace(strText[nPos])) ++nPos;
  return nPos;
}

// Whether the text holds the start tag "<name" at nPos: the name ends there.
bool IsStartTagAt(std::u16string_view strText, size_t nPos, std::u16string_view strName) {
  if (strText.size() - nPos < strName.size() + 2 || strText[nPos] != u'<' || !IsTextAt(strText, nPos + 1, strName)) {
    return false;
  }
  const char16_t cAfter = strText[nPos + 1 + strName.size()];
  return cAfter == u'>' || cAfter == u'/' || IsSpace(cAfter);
}

size_t FindRecordStart(std::u16string_view strText, size_t nFrom) {
  // From one '<' to the next, several units at a time.
  for (size_t nPos = FindUnit(strText, u'<', nFrom); nPos < strText.size(); nPos = FindUnit(strText, u'<', nPos + 1)) {
    if (IsStartTagAt(strText, nPos, kRecordName)) return nPos;
  }
  return npos;
}

// The first strTag from nFrom on, found from one '<' to the next; npos when
// there is none. (A search of the whole text for a tag stops at every '<',
// and a damaged text may hold little else.)
size_t FindTag(std::u16string_view strText, std::u16string_view strTag, size_t nFrom) {
  for (size_t nPos = FindUnit(strText, u'<', nFrom); nPos < strText.size(); nPos = FindUnit(strText, u'<', nPos + 1)) {
    if (IsTextAt(strText, nPos, strTag)) return nPos;
  }
  return npos;
}

// The fewest units a record with every field takes: "<记录>", each field as
// "<name/>", "</记录>". A stretch shorter than that between two start tags
// holds no record, and is passed over without a search for its end tag (a
// file of nothing but start tags is made of such stretches).
size_t ShortestRecord() {
  size_t nUnits = kRecordName.size() + 2 + kRecordEnd.size();
  for (int i = 0; i < kFieldCount; ++i) nUnits += std::char_traits<char16_t>::length(kFieldElementNames[i]) + 3;
  return nUnits;
}
const size_t kShortestRecord = ShortestRecord();

// Past the declaration and the root's start tag, where they stand at the
// start of the text as the library writes them.
size_t SkipProlog(const std::u16string& strText, CLogText& result) {
  size_t nPos = SkipSpace(strText, 0);
  if (strText.compare(nPos, 5, u"<?xml") == 0) {
    const size_t nEnd = strText.find(u"?>", nPos);
    if (nEnd != npos) nPos = SkipSpace(strText, nEnd + 2);
  }
  if (!IsStartTagAt(strText, nPos, kRootName)) return nPos;
  const size_t nClose = strText.find(u'>', nPos);
  if (nClose == npos || strText[nClose - 1] == u'/') return nPos;
  result.m_bRootOpened = true;
  return nClose + 1;
}

// The record in strText[nBegin, nEnd), when it parses on its own and has
// every field. A zero unit is no part of any record the library wrote (a
// host's strings end at theirs): a record holding one is damaged.
bool ReadRecordAt(const std::u16string& strText, size_t nBegin, size_t nEnd, const std::string& strFile,
                  CXmlDocument& doc, CEngineRecord& record) {
  const std::u16string_view strRecord = std::u16string_view(strText).substr(nBegin, nEnd - nBegin);
  if (strRecord.find(u'\0') != npos) return false;
  if (!doc.SetDocument(std::u16string(strRecord)) || !doc.FindNextElement(kRecordElement)) return false;
  ReadEngineRecord(doc, strFile, record);
  return record.m_nFields == kFieldCount;
}

// Walks the text record by record, noting what lies between as damage.
class CRecovery {
 public:
  CRecovery(const std::u16string& strText, const std::string& strFile, CLogText& result, CRecordSink& sink,
            size_t nSkip)
      : m_strText(strText), m_strFile(strFile), m_result(result), m_sink(sink), m_nSkip(nSkip) {}

  void Run(size_t nFrom) {
    size_t nLastRecordEnd = npos;
    if (nFrom == 0) {
      m_nGap = SkipProlog(m_strText, m_result);
    } else {
      m_nGap = nFrom;
      m_result.m_bRootOpened = true;
      if (m_result.m_nRecords > 0) nLastRecordEnd = nFrom;
    }
    CRecordText record;
    record.m_pFile = &m_strFile;
    CXmlDocument doc;
    CEngineRecord engineRecord;
    for (size_t nStart = FindRecordStart(m_strText, m_nGap); nStart != npos;) {
      const size_t nNext = FindRecordStart(m_strText, nStart + 1);
      const size_t nLimit = nNext == npos ? m_strText.size() : nNext;
      if (nLimit - nStart < kShortestRecord) {
        nStart = nNext;
        continue;
      }
      // A record in the library's form is read as it stands; any other goes
      // to the engine, its end tag looked for up to the next record's start.
      size_t nEnd = ScanStandardRecord(m_strText, nStart, record);
      const CRecordText* pRecord = &record;
      if (nEnd == npos || nEnd > nLimit) {
        const size_t nEndTag = FindTag(std::u16string_view(m_strText).substr(0, nLimit), kRecordEnd, nStart);
        nEnd = nEndTag == npos ? npos : nEndTag + kRecordEnd.size();
        if (nEnd != npos && nEnd <= nLimit && ReadRecordAt(m_strText, nStart, nEnd, m_strFile, doc, engineRecord)) {
          pRecord = &engineRecord.m_text;
        } else {
          nEnd = npos;
        }
      }
      if (nEnd != npos) {
        NoteGap(nStart);
        if (m_result.m_nRecords++ >= m_nSkip) m_sink.Take(*pRecord);
        m_result.m_nRecordsEnd = nEnd;
        m_nGap = nEnd;
        nLastRecordEnd = m_nGap;
      }
      nStart = nNext;
    }
    FinishTail();
    if (nLastRecordEnd != npos) m_result.m_lastRecordEnd = PlaceAt(m_strText, static_cast<int32_t>(nLastRecordEnd));
  }

 private:
  // The text from the end of the last piece to nEnd should be white space.
  void NoteGap(size_t nEnd) {
    size_t nBegin = SkipSpace(m_strText, m_nGap);
    while (nEnd > nBegin && IsSpace(m_strText[nEnd - 1])) --nEnd;
    if (nBegin >= nEnd) return;
    CDamagedStretch stretch;
    stretch.m_begin = m_places.At(nBegin);
    stretch.m_end = m_places.At(nEnd - 1);
    stretch.m_nRecordsBefore = m_result.m_nRecords;
    m_result.m_aDamage.push_back(stretch);
  }

  // After the last record: the root's end tag. What follows that is the
  // rest of an interrupted update when it lies behind a zero unit.
  void FinishTail() {
    const size_t nRootEnd = m_result.m_bRootOpened ? FindTag(m_strText, kRootEnd, m_nGap) : npos;
    if (nRootEnd == npos) {
      NoteGap(m_strText.size());
      return;
    }
    NoteGap(nRootEnd);
    m_result.m_bRootClosed = true;
    m_nGap = nRootEnd + kRootEnd.size();
    const size_t nAfter = SkipSpace(m_strText, m_nGap);
    if (nAfter < m_strText.size() && m_strText[nAfter] != u'\0') NoteGap(m_strText.size());
  }

  const std::u16string& m_strText;
  const std::string& m_strFile;
  CLogText& m_result;
  CRecordSink& m_sink;
  size_t m_nSkip;
  size_t m_nGap = 0;  // where the text not yet accounted for begins
  CPlaceFinder m_places{m_strText};
};

}  // namespace

void ReadEngineRecord(CXmlDocument& doc, const std::string& strFile, CEngineRecord& record) {
  const ElemPos& pos = doc.ElemPosAt(doc.GetCurrentElement());
  record.m_text.m_markup =
      std::u16string_view(doc.ViewDocument()).substr(pos.nStartOpen, pos.nEndClose - pos.nStartOpen + 1);
  std::array<bool, kFieldCount> aFound{};
  for (auto& strData : record.m_aData) strData.clear();
  doc.EnterElement();
  while (doc.FindNextElement()) {
    std::u16string strName = doc.GetTagName(doc.GetCurrentElement());
    for (int i = 0; i < kFieldCount; ++i) {
      if (strName != kFieldElementNames[i]) continue;
      record.m_aData[i] = doc.GetCurrentData();
      aFound[i] = true;
    }
  }
  doc.LeaveElement();
  record.m_nFields = 0;
  for (bool bFound : aFound) record.m_nFields += bFound ? 1 : 0;
  for (int i = 0; i < kFieldCount; ++i) record.m_text.m_aData[i] = record.m_aData[i];
  record.m_text.m_bEscaped = false;
  record.m_text.m_pFile = &strFile;
}

void RecoverRecords(const std::u16string& strText, const std::string& strFile, CLogText& result, CRecordSink& sink,
                    size_t nSkip, size_t nFrom) {
  CRecovery(strText, strFile, result, sink, nSkip).Run(nFrom);
}
