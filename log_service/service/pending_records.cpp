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
      if (file.Open(strPath, CFile::modeReadWriteRemovable, nWait)) return AppendToOpenPendingFile(file, strPath, record);
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
  // A file under this name whose text is no log is no one's to empty,
  // unless it is a pending file that breaks off.
  if ((!m_log.Read() || !IsLogDocument(m_log.Document())) && !RecoverBrokenFile()) {
    m_file.Close();
    return pendingForeign;
  }
  m_aRecords = ReadRecords(m_log.Document(), m_strDate);
  m_bNote = ReadMoveNote(m_log.Document(), m_note);
  return pendingTaken;
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
  if (!m_bNote || !HoldsMovedRecords(strDayText, m_note, m_aRecords)) return;
  const size_t nMoved = static_cast<size_t>(m_note.m_nRecords);
  m_aRecords.erase(m_aRecords.begin(), m_aRecords.begin() + static_cast<std::ptrdiff_t>(nMoved));
  m_bSettled = true;
}

void CPendingRecords::WriteNote(std::u16string_view strDayText, size_t nOffset, size_t nLength) {
  const CMoveNote note = MakeMoveNote(strDayText, static_cast<int64_t>(m_aRecords.size()),
                                      static_cast<int64_t>(nOffset), static_cast<int64_t>(nLength));
  CXmlDocument& doc = m_log.Document();
  if (!m_bNote && !m_bSettled) {
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

void CPendingRecords::Remove() noexcept {
  if (!m_file.IsOpen()) return;
  try {
    m_file.RemoveAndClose();
  } catch (...) {
    m_file.Close();
  }
}
