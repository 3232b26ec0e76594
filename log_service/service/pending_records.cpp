#include "service/pending_records.h"

#include <algorithm>
#include <string>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "service/library_state.h"
#include "service/log_folder.h"

namespace {

// What became of a record given to one pending file.
enum FileOutcome {
  fileAppended,
  fileHeld,      // another program keeps it
  fileUnusable,  // no file the library may write: a folder, a link, a pipe,
                 // or text that is no log
  fileFailed,    // it cannot be written (no right, no room, full)
};

bool IsPlainFile(const CFileStatus& status) {
  return (status.m_attribute & (attributeDirectory | attributeNotRegular)) == 0;
}

// The first record of a pending file comes into being with the file, which
// appears whole or not at all.
CreateDocumentResult CreatePendingFile(const std::u16string& strPath, const CHostRecord& record, FileWait nWait) {
  CXmlDocument doc;
  doc.SetDocument(BuildEmptyLogText());
  AddRecords(doc, &record, 1);
  return CreateDocumentFile(strPath, doc.ViewDocument(), nWait);
}

FileOutcome AppendToOpenPendingFile(CFile& file, const std::u16string& strPath, const CHostRecord& record) {
  COpenLog log(file, strPath);
  if (!log.Read() || !IsLogDocument(log.Document())) return fileUnusable;
  if (log.CountOldUnits() >= kMaxPendingUnits) return fileFailed;
  if (!AddRecords(log.Document(), &record, 1)) return fileUnusable;
  log.Write();
  return fileAppended;
}

FileOutcome AppendToPendingFile(const std::u16string& strPath, const CHostRecord& record, FileWait nWait) {
  try {
    // A second round follows a file that a mover removed, or another writer
    // created, between our look and our own attempt, or a folder made again.
    for (int nRound = 0; nRound < 2; ++nRound) {
      CFileStatus status;
      if (!CFile::GetStatus(strPath, status)) {
        switch (CreatePendingFile(strPath, record, nWait)) {
          case documentCreated:
            return fileAppended;
          case documentExists:
            break;
          case documentNotCreated:
            if (RecreateLogFolder()) continue;
            return fileFailed;
          case documentHeld:
            return fileHeld;
        }
        if (!CFile::GetStatus(strPath, status)) continue;
      }
      if (!IsPlainFile(status)) return fileUnusable;
      CFile file;
      if (file.Open(strPath, CFile::modeReadWriteRemovable, nWait))
        return AppendToOpenPendingFile(file, strPath, record);
      if (file.GetOpenError() == causeSharingViolation) return fileHeld;
      if (file.GetOpenError() != causeNotFound) return fileFailed;
    }
  } catch (const CFileException& error) {
    return error.m_nCause == causeSharingViolation ? fileHeld : fileFailed;
  }
  return fileFailed;
}

}  // namespace

std::u16string DayPendingPath(const std::u16string& strDate) { return MakeLogPath(MakePendingLogName(strDate)); }

std::u16string OwnPendingPath(const std::u16string& strDate) {
  return MakeLogPath(MakeOwnPendingLogName(strDate, GetProcessNumber()));
}

PendingOutcome AppendPendingRecord(const CHostRecord& record, bool bSkipDayPending, FileWait nWait) {
  const std::u16string strOwnPath = OwnPendingPath(record.m_strDate);
  CFileStatus status;
  const bool bOwnWaiting = CFile::GetStatus(strOwnPath, status);
  if (!bOwnWaiting && !bSkipDayPending) {
    switch (AppendToPendingFile(DayPendingPath(record.m_strDate), record, nWait)) {
      case fileAppended:
        return pendingKept;
      case fileFailed:
        return pendingLost;
      case fileHeld:
      case fileUnusable:
        break;
    }
  }
  // The day's pending file is held, or is no file to write: the process's
  // own takes the record, and keeps the next ones until it is moved.
  switch (AppendToPendingFile(strOwnPath, record, nWait)) {
    case fileAppended:
      return pendingKept;
    case fileHeld:
      return pendingBlocked;
    case fileUnusable:
    case fileFailed:
      break;
  }
  return pendingLost;
}

size_t g_nMovePieceUnits = kMaxPendingUnits / 4;

CPendingRecords::CPendingRecords(const std::u16string& strDate, const std::u16string& strPath)
    : m_strDate(strDate), m_strPath(strPath) {}

CPendingRecords::TakeResult CPendingRecords::Take(FileWait nWait) {
  if (!m_file.Open(m_strPath, CFile::modeReadWriteRemovable, nWait)) {
    if (m_file.GetOpenError() == causeNotFound) return pendingNone;
    // A folder, a link, a pipe or a device at that name holds no records.
    // A file that cannot be opened may hold some, which no later record may
    // overtake.
    CFileStatus status;
    const bool bPlain = !CFile::GetStatus(m_strPath, status) || IsPlainFile(status);
    return bPlain ? pendingHeld : pendingForeign;
  }
  if (m_file.GetLength() > 2 * uint64_t{g_nMovePieceUnits} && OpenInPieces()) return pendingTaken;
  // A file under this name whose text is no log is no one's to empty,
  // unless it is a pending file that breaks off.
  if ((!m_log.Read() || !IsLogDocument(m_log.Document())) && !RecoverBrokenFile()) {
    m_file.Close();
    return pendingForeign;
  }
  m_aRecords = ReadRecords(m_log.Document(), m_strDate);
  m_aNotes = ReadMoveNotes(m_log.Document());
  return pendingTaken;
}

bool CPendingRecords::OpenInPieces() {
  if (!m_pieces.Open()) return false;
  // Every piece must read as records before the first moves: a file damaged
  // in the middle is read whole, as any broken one.
  // Its notes are those among the records and those behind them.
  std::vector<CHostRecord> aPiece;
  m_aNotes.clear();
  for (uint64_t nFrom = m_pieces.RecordsStart(); nFrom < m_pieces.RecordsEnd();) {
    if (!m_pieces.ReadPiece(nFrom, g_nMovePieceUnits, SIZE_MAX, m_strDate, aPiece, nFrom, &m_aNotes)) return false;
  }
  m_aNotes.insert(m_aNotes.end(), m_pieces.Notes().begin(), m_pieces.Notes().end());
  m_bPieces = true;
  m_nNextPiece = m_pieces.RecordsStart();
  return true;
}

bool CPendingRecords::RecoverBrokenFile() {
  const std::u16string strText = ReadDocumentFile(m_file);
  std::u16string strWhole;
  if (!RecoverPendingText(strText, strWhole)) return false;
  // The whole text goes aside first, under a name the purge ages out like
  // any log file's and no reader takes for waiting records; the file then
  // holds its complete records, which move as any others do.
  const std::string strStamp = std::to_string(GetProcessNumber()) + "." + std::to_string(ReadClock());
  const std::u16string strAside = m_strPath + u"." + std::u16string(strStamp.begin(), strStamp.end()) + u".damaged";
  if (CreateDocumentFile(strAside, strText, waitNever) != documentCreated) return false;
  m_log.Replace(std::move(strWhole));
  return true;
}

void CPendingRecords::SettleNote(std::u16string_view strDayText) {
  if (m_bPieces) return SettlePieces(strDayText);
  const size_t nMoved = CountMovedRecords(strDayText, m_aNotes, m_aRecords);
  if (nMoved == 0) return;
  m_aRecords.erase(m_aRecords.begin(), m_aRecords.begin() + static_cast<std::ptrdiff_t>(nMoved));
  m_bSettled = true;
}

// The notes in order, as CountMovedRecords reads them, each checked against
// the records it names, read a piece at a time.
void CPendingRecords::SettlePieces(std::u16string_view strDayText) {
  for (const CMoveNote& note : m_aNotes) {
    if (note.m_nFirst != m_nMoved || note.m_nRecords <= 0) continue;
    // The noted text is about as long as the records in this file.
    const size_t nUnits = std::max<size_t>(g_nMovePieceUnits, 2 * static_cast<size_t>(note.m_nLength));
    std::vector<CHostRecord> aNoted;
    uint64_t nEnd = 0;
    if (!m_pieces.ReadPiece(m_nNextPiece, nUnits, static_cast<size_t>(note.m_nRecords), m_strDate, aNoted, nEnd)) {
      continue;
    }
    if (!HoldsMovedRecords(strDayText, note, aNoted.data(), aNoted.size())) continue;
    m_nMoved += note.m_nRecords;
    m_nNextPiece = nEnd;
  }
}

bool CPendingRecords::TakePiece() {
  if (!m_bPieces) {
    const bool bFirst = !m_bPieceTaken;
    m_bPieceTaken = true;
    return bFirst && !m_aRecords.empty();
  }
  m_aRecords.clear();
  if (m_nNextPiece >= m_pieces.RecordsEnd()) return false;
  // Every piece read as records when the file was taken: one that no longer
  // does was changed by another program, and nothing of it may be removed.
  if (!m_pieces.ReadPiece(m_nNextPiece, g_nMovePieceUnits, SIZE_MAX, m_strDate, m_aRecords, m_nPieceEnd)) {
    throw CFileException(causeIoError, m_strPath);
  }
  return true;
}

bool CPendingRecords::HasMorePieces() const { return m_bPieces && m_nPieceEnd < m_pieces.RecordsEnd(); }

void CPendingRecords::WriteNote(std::u16string_view strDayText, size_t nOffset, size_t nLength) {
  if (m_bPieces) return WritePieceNote(strDayText, nOffset, nLength);
  const CMoveNote note = MakeMoveNote(strDayText, static_cast<int64_t>(m_aRecords.size()),
                                      static_cast<int64_t>(nOffset), static_cast<int64_t>(nLength));
  CXmlDocument& doc = m_log.Document();
  if (m_aNotes.empty() && !m_bSettled) {
    // The usual case: the note goes behind the records, a change at the end
    // of the file like any added record.
    doc.FindNextElement(kLogRoot);
    doc.EnterElement();
    AddMoveNote(doc, note);
    m_log.Write();
    return;
  }
  // A move that was stopped before: the file is made again of the records
  // still to move and the new note.
  CXmlDocument fresh;
  fresh.SetDocument(BuildEmptyLogText());
  AddRecords(fresh, m_aRecords.data(), m_aRecords.size());
  AddMoveNote(fresh, note);  // behind the last record

  UpdateDocumentFile(m_file, m_strPath, m_log.CountOldUnits(), 0, fresh.ViewDocument());
}

// The piece's note goes behind the notes before it; the file's records stay
// as they are until the last piece has moved and the file is removed.
void CPendingRecords::WritePieceNote(std::u16string_view strDayText, size_t nOffset, size_t nLength) {
  CMoveNote note = MakeMoveNote(strDayText, static_cast<int64_t>(m_aRecords.size()), static_cast<int64_t>(nOffset),
                                static_cast<int64_t>(nLength));
  note.m_nFirst = m_nMoved;
  m_pieces.AppendNote(note);
  m_nMoved += note.m_nRecords;
  m_nNextPiece = m_nPieceEnd;
}

void CPendingRecords::Remove() noexcept {
  if (!m_file.IsOpen()) return;
  try {
    m_file.RemoveAndClose();
  } catch (...) {
    m_file.Close();
  }
}
