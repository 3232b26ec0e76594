#include "format/pending_pieces.h"

#include <algorithm>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "format/log_records.h"
#include "markup/markup.h"

namespace {

constexpr uint64_t kTailBytes = 64 * 1024;

const std::u16string& RootStart() {
  static const std::u16string str = std::u16string(u"<") + kLogRoot + u">";
  return str;
}
const std::u16string& RootEnd() {
  static const std::u16string str = std::u16string(u"</") + kLogRoot + u">";
  return str;
}
const std::u16string& RecordEnd() {
  static const std::u16string str = std::u16string(u"</") + kRecordElement + u">\r\n";
  return str;
}

// Text of a root holding the given children, to parse a piece on its own.
std::u16string WrapInRoot(std::u16string_view strChildren) {
  std::u16string strText = RootStart();
  strText += strChildren;
  return strText += RootEnd();
}

// The note as AddMoveNote writes it behind the last record, CR LF included.
std::u16string BuildNoteText(const CMoveNote& note) {
  CXmlDocument doc;
  doc.SetDocument(BuildEmptyLogText());
  doc.FindNextElement(kLogRoot);
  doc.EnterElement();
  AddMoveNote(doc, note);
  const std::u16string& strText = doc.ViewDocument();
  const size_t nStart = strText.find(std::u16string(u"<") + kMoveNoteElement + u">");
  return strText.substr(nStart, strText.rfind(RootEnd()) - nStart);
}

void SwapToFileOrder(std::u16string& strText) {
  if (kLittleEndian) return;
  for (char16_t& c : strText) c = static_cast<char16_t>((c >> 8) | (c << 8));
}

}  // namespace

std::u16string CPendingPieces::ReadText(uint64_t nFrom, uint64_t nTo) {
  std::u16string strText(static_cast<size_t>((nTo - nFrom) / 2), u'\0');
  m_file.Seek(nFrom);
  const size_t nRead = m_file.Read(strText.data(), strText.size() * 2);
  strText.resize(nRead / 2);
  SwapToFileOrder(strText);
  return strText;
}

bool CPendingPieces::Open() {
  const std::u16string strHead = std::u16string(1, u'\xFEFF') + std::u16string(g_strXmlDeclaration) + RootStart();
  const uint64_t nLength = m_file.GetLength();
  if (nLength < 2 * strHead.size() || ReadText(0, 2 * strHead.size()) != strHead) return false;
  m_nRecordsStart = 2 * strHead.size();
  return ReadTail();
}

bool CPendingPieces::ReadTail() {
  const uint64_t nLength = m_file.GetLength() & ~uint64_t{1};
  const uint64_t nFrom = std::max(m_nRecordsStart, nLength > kTailBytes ? nLength - kTailBytes : 0);
  const std::u16string strTail = ReadText(nFrom, nLength);
  const size_t nRecordsEnd = strTail.rfind(RecordEnd());
  if (nRecordsEnd == std::u16string::npos) return false;
  size_t i = nRecordsEnd + RecordEnd().size();
  m_nRecordsEnd = nFrom + 2 * i;
  // The notes behind the records, each whole with its CR LF; the first one
  // that is not marks where a note's write was cut short.
  const std::u16string strNoteStart = std::u16string(u"<") + kMoveNoteElement + u">";
  const std::u16string strNoteEnd = std::u16string(u"</") + kMoveNoteElement + u">\r\n";
  m_aNotes.clear();
  while (strTail.compare(i, strNoteStart.size(), strNoteStart) == 0) {
    const size_t nEnd = strTail.find(strNoteEnd, i);
    if (nEnd == std::u16string::npos) break;
    CXmlDocument doc;
    doc.SetDocument(WrapInRoot(std::u16string_view(strTail).substr(i, nEnd + strNoteEnd.size() - i)));
    const std::vector<CMoveNote> aNotes = ReadMoveNotes(doc);
    if (aNotes.size() != 1) break;
    m_aNotes.push_back(aNotes.front());
    i = nEnd + strNoteEnd.size();
  }
  m_nNotesEnd = nFrom + 2 * i;
  // Behind them only the root's end tag, or what a cut write left: no
  // record, and no journal of an update (which a whole reading handles).
  const std::u16string_view strRest = std::u16string_view(strTail).substr(i);
  return strRest.find(std::u16string(u"<") + kRecordElement) == std::u16string_view::npos &&
         strRest.find(u'\0') == std::u16string_view::npos;
}

bool CPendingPieces::ReadPiece(uint64_t nFrom, size_t nMaxUnits, size_t nMaxRecords, const std::u16string& strDate,
                               std::vector<CHostRecord>& aRecords, uint64_t& nEnd, std::vector<CMoveNote>* pNotes) {
  for (uint64_t nWindow = 2 * std::max<uint64_t>(nMaxUnits, 1);; nWindow *= 2) {
    const uint64_t nTo = std::min(m_nRecordsEnd, nFrom + nWindow);
    const std::u16string strText = ReadText(nFrom, nTo);
    size_t nCount = 0, nCut = 0;
    for (size_t nFound = strText.find(RecordEnd()); nFound != std::u16string::npos && nCount < nMaxRecords;
         nFound = strText.find(RecordEnd(), nCut)) {
      nCut = nFound + RecordEnd().size();
      ++nCount;
    }
    if (nCount == 0) {
      if (nTo == m_nRecordsEnd) return false;
      continue;  // one record longer than the window
    }
    CXmlDocument doc;
    if (!doc.SetDocument(WrapInRoot(std::u16string_view(strText).substr(0, nCut)))) return false;
    aRecords = ReadRecords(doc, strDate);
    if (pNotes != nullptr) {
      const std::vector<CMoveNote> aNotes = ReadMoveNotes(doc);
      pNotes->insert(pNotes->end(), aNotes.begin(), aNotes.end());
    }
    nEnd = nFrom + 2 * nCut;
    return aRecords.size() == nCount;
  }
}

void CPendingPieces::AppendNote(const CMoveNote& note) {
  const std::u16string strNote = BuildNoteText(note);
  std::u16string strText = strNote + RootEnd() + u"\r\n";
  SwapToFileOrder(strText);
  const uint64_t nOldLength = m_file.GetLength();
  std::u16string strOld = ReadText(m_nNotesEnd, nOldLength & ~uint64_t{1});
  try {
    m_file.Seek(m_nNotesEnd);
    m_file.Write(strText.data(), strText.size() * 2);
    if (nOldLength > m_nNotesEnd + strText.size() * 2) m_file.SetLength(m_nNotesEnd + strText.size() * 2);
  } catch (const CFileException&) {
    // A write that failed part-way: the old bytes go back, so that readers
    // find the file as it was.
    try {
      SwapToFileOrder(strOld);
      m_file.Seek(m_nNotesEnd);
      m_file.Write(strOld.data(), strOld.size() * 2);
      m_file.SetLength(nOldLength);
    } catch (const CFileException&) {
    }
    throw;
  }
  m_nNotesEnd += strNote.size() * 2;
  m_aNotes.push_back(note);
}
