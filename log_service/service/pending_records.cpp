#include "service/pending_records.h"

#include <algorithm>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "service/library_state.h"
#include "service/log_folder.h"

namespace {

std::u16string PendingPath(const std::u16string& strDate) { return MakeLogPath(MakePendingLogName(strDate)); }

// The first record of a day's pending file comes into being with the file,
// which appears whole or not at all.
CreateDocumentResult CreatePendingFile(const std::u16string& strPath, const CHostRecord& record) {
  CXmlDocument doc;
  doc.SetDocument(BuildEmptyLogText());
  AddRecords(doc, &record, 1);
  return CreateDocumentFile(strPath, doc.ViewDocument());
}

bool AppendToOpenPendingFile(CFile& file, const std::u16string& strPath, const CHostRecord& record) {
  COpenLog log(file, strPath);
  if (!log.Read() || log.CountOldUnits() >= kMaxPendingUnits) return false;
  if (!AddRecords(log.Document(), &record, 1)) return false;
  log.Write();
  return true;
}

}  // namespace

bool AppendPendingRecord(const CHostRecord& record) {
  const std::u16string strPath = PendingPath(record.m_strDate);
  try {
    // A second round follows a file that a mover removed, or another writer
    // created, between our look and our own attempt, or a folder made again.
    for (int nRound = 0; nRound < 2; ++nRound) {
      CFileStatus status;
      if (!CFile::GetStatus(strPath, status)) {
        switch (CreatePendingFile(strPath, record)) {
          case documentCreated:
            return true;
          case documentExists:
            break;
          case documentNotCreated:
            if (RecreateLogFolder()) continue;
            return false;
          case documentHeld:
            return false;
        }
      }
      CFile file;
      if (file.Open(strPath, CFile::modeReadWriteRemovable)) return AppendToOpenPendingFile(file, strPath, record);
      if (file.GetOpenError() != causeNotFound) return false;
    }
  } catch (const CFileException&) {
  }
  return false;
}

CPendingRecords::CPendingRecords(const std::u16string& strDate) : m_strDate(strDate), m_strPath(PendingPath(strDate)) {}

CPendingRecords::TakeResult CPendingRecords::Take(FileWait nWait) {
  if (!m_file.Open(m_strPath, CFile::modeReadWriteRemovable, nWait)) {
    if (m_file.GetOpenError() == causeNotFound) return pendingNone;
    // A folder of that name holds no records. Anything else that cannot be
    // opened may hold some, which no later record may overtake.
    CFileStatus status;
    const bool bFolder = CFile::GetStatus(m_strPath, status) && (status.m_attribute & attributeDirectory) != 0;
    return bFolder ? pendingForeign : pendingHeld;
  }
  // A file under this name whose text is no log is no one's to empty.
  if (!m_log.Read() || !IsLogDocument(m_log.Document())) {
    m_file.Close();
    return pendingForeign;
  }
  m_aRecords = ReadRecords(m_log.Document(), m_strDate);
  m_bNote = ReadMoveNote(m_log.Document(), m_note);
  return pendingTaken;
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
