#include "format/pending_log.h"

#include <algorithm>
#include <cstdio>

#include "format/log_layout.h"
#include "format/log_records.h"
#include "markup/markup.h"

namespace {

std::u16string FormatNumber(const char* pszFormat, unsigned long long n) {
  char buffer[32];
  const int nLength = std::snprintf(buffer, sizeof buffer, pszFormat, n);
  return std::u16string(buffer, buffer + (nLength > 0 ? nLength : 0));
}

// Digits only, in the given base, at most 19 decimal or 16 hexadecimal
// digits: a note is the library's own text, and anything else is no note.
bool ParseNumber(std::u16string_view strText, unsigned nBase, uint64_t& nValue) {
  const size_t nMaxDigits = nBase == 16 ? 16 : 18;
  if (strText.empty() || strText.size() > nMaxDigits) return false;
  nValue = 0;
  for (char16_t c : strText) {
    unsigned nDigit;
    if (c >= u'0' && c <= u'9') {
      nDigit = c - u'0';
    } else if (nBase == 16 && c >= u'a' && c <= u'f') {
      nDigit = c - u'a' + 10;
    } else {
      return false;
    }
    nValue = nValue * nBase + nDigit;
  }
  return true;
}

bool ReadNoteField(const CXmlDocument& doc, int32_t iNote, const char16_t* szName, unsigned nBase, uint64_t& nValue) {
  const int32_t iField = doc.LocateElement(iNote, 0, szName);
  return iField != 0 && ParseNumber(doc.GetElementData(iField), nBase, nValue);
}

}  // namespace

uint64_t ChecksumText(std::u16string_view strText) {
  uint64_t nHash = 0xcbf29ce484222325ULL;
  for (char16_t c : strText) {
    for (unsigned nByte : {c & 0xFFu, unsigned(c) >> 8}) {
      nHash ^= nByte;
      nHash *= 0x100000001b3ULL;
    }
  }
  return nHash;
}

CMoveNote MakeMoveNote(std::u16string_view strDayText, int64_t nRecords, int64_t nOffset, int64_t nLength) {
  CMoveNote note;
  note.m_nRecords = nRecords;
  note.m_nOffset = nOffset;
  note.m_nLength = nLength;
  note.m_nChecksum = ChecksumText(strDayText.substr(static_cast<size_t>(nOffset), static_cast<size_t>(nLength)));
  return note;
}

bool IsMoveDone(std::u16string_view strDayText, const CMoveNote& note) {
  if (note.m_nOffset < 0 || note.m_nLength <= 0) return false;
  const auto nOffset = static_cast<uint64_t>(note.m_nOffset), nLength = static_cast<uint64_t>(note.m_nLength);
  if (nOffset > strDayText.size() || nLength > strDayText.size() - nOffset) return false;
  return ChecksumText(strDayText.substr(nOffset, nLength)) == note.m_nChecksum;
}

bool HoldsMovedRecords(std::u16string_view strDayText, const CMoveNote& note, const CHostRecord* pWaiting,
                       size_t nWaiting) {
  if (note.m_nRecords <= 0 || static_cast<uint64_t>(note.m_nRecords) > nWaiting) return false;
  if (!IsMoveDone(strDayText, note)) return false;
  // The noted text as the children of a root of its own: records and the
  // white space between them, and nothing a root could not hold.
  std::u16string strRecords = std::u16string(u"<") + kLogRoot + u">";
  strRecords += strDayText.substr(static_cast<size_t>(note.m_nOffset), static_cast<size_t>(note.m_nLength));
  strRecords += std::u16string(u"</") + kLogRoot + u">";
  CXmlDocument doc;
  if (!doc.SetDocument(std::move(strRecords))) return false;
  const std::vector<CHostRecord> aNoted = ReadRecords(doc, u"");
  if (aNoted.size() != static_cast<size_t>(note.m_nRecords)) return false;
  for (size_t n = 0; n < aNoted.size(); ++n) {
    const CHostRecord &noted = aNoted[n], &waiting = pWaiting[n];
    if (noted.m_strTime != waiting.m_strTime || noted.m_strType != waiting.m_strType ||
        noted.m_strLocation != waiting.m_strLocation || noted.m_strOperation != waiting.m_strOperation ||
        noted.m_strParameters != waiting.m_strParameters || noted.m_strDescription != waiting.m_strDescription) {
      return false;
    }
  }
  return true;
}

size_t CountMovedRecords(std::u16string_view strDayText, const std::vector<CMoveNote>& aNotes,
                         const std::vector<CHostRecord>& aWaiting) {
  size_t nMoved = 0;
  // A note that is not believed is passed over: a later one, written when
  // the move was made again, may start at the same record.
  for (const CMoveNote& note : aNotes) {
    if (static_cast<uint64_t>(note.m_nFirst) != nMoved) continue;
    if (HoldsMovedRecords(strDayText, note, aWaiting.data() + nMoved, aWaiting.size() - nMoved)) {
      nMoved += static_cast<size_t>(note.m_nRecords);
    }
  }
  return nMoved;
}

std::vector<CMoveNote> ReadMoveNotes(CXmlDocument& doc) {
  std::vector<CMoveNote> aNotes;
  const int32_t iRoot = doc.LocateElement(0, 0, kLogRoot);
  for (int32_t iNote = iRoot == 0 ? 0 : doc.LocateElement(iRoot, 0, kMoveNoteElement); iNote != 0;
       iNote = doc.LocateElement(iRoot, iNote, kMoveNoteElement)) {
    uint64_t nFirst = 0, nRecords = 0, nOffset = 0, nLength = 0, nChecksum = 0;
    const bool bFirst =
        doc.LocateElement(iNote, 0, kMoveFirstElement) == 0 || ReadNoteField(doc, iNote, kMoveFirstElement, 10, nFirst);
    if (!bFirst || !ReadNoteField(doc, iNote, kMoveRecordsElement, 10, nRecords) ||
        !ReadNoteField(doc, iNote, kMoveOffsetElement, 10, nOffset) ||
        !ReadNoteField(doc, iNote, kMoveLengthElement, 10, nLength) ||
        !ReadNoteField(doc, iNote, kMoveChecksumElement, 16, nChecksum)) {
      continue;
    }
    aNotes.push_back({static_cast<int64_t>(nFirst), static_cast<int64_t>(nRecords), static_cast<int64_t>(nOffset),
                      static_cast<int64_t>(nLength), nChecksum});
  }
  return aNotes;
}

void AddMoveNote(CXmlDocument& doc, const CMoveNote& note) {
  doc.AddElement(kMoveNoteElement);
  doc.EnterElement();
  if (note.m_nFirst != 0) {
    doc.AddElement(kMoveFirstElement, FormatNumber("%llu", static_cast<unsigned long long>(note.m_nFirst)).c_str());
  }
  doc.AddElement(kMoveRecordsElement, FormatNumber("%llu", static_cast<unsigned long long>(note.m_nRecords)).c_str());
  doc.AddElement(kMoveOffsetElement, FormatNumber("%llu", static_cast<unsigned long long>(note.m_nOffset)).c_str());
  doc.AddElement(kMoveLengthElement, FormatNumber("%llu", static_cast<unsigned long long>(note.m_nLength)).c_str());
  doc.AddElement(kMoveChecksumElement, FormatNumber("%016llx", note.m_nChecksum).c_str());
  doc.LeaveElement();
}

bool RecoverPendingText(std::u16string_view strText, std::u16string& strWhole) {
  const std::u16string strRootStart = std::u16string(u"<") + kLogRoot + u">";
  const std::u16string strRootEnd = std::u16string(u"</") + kLogRoot + u">\r\n";
  if (strText.substr(0, g_strXmlDeclaration.size()) != g_strXmlDeclaration) return false;
  if (strText.substr(g_strXmlDeclaration.size(), strRootStart.size()) != strRootStart) return false;
  size_t nEnd = 0;
  for (const std::u16string& strEndTag :
       {std::u16string(u"</") + kRecordElement + u">\r\n", std::u16string(u"</") + kMoveNoteElement + u">\r\n"}) {
    const size_t nFound = strText.rfind(strEndTag);
    if (nFound != std::u16string_view::npos) nEnd = std::max(nEnd, nFound + strEndTag.size());
  }
  if (nEnd == 0) return false;
  strWhole.assign(strText.substr(0, nEnd));
  strWhole += strRootEnd;
  CXmlDocument doc;
  return doc.SetDocument(strWhole) && IsLogDocument(doc);
}
