#include "service/daily_log.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <vector>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "format/log_records.h"
#include "format/time_stamps.h"
#include "markup/markup.h"
#include "platform/platform_files.h"
#include "service/library_state.h"
#include "service/log_folder.h"
#include "service/pending_records.h"

namespace {

// What became of the records given to a day's file.
enum WriteOutcome {
  recordsWritten,
  recordsHeld,     // another program held the file: worth another try
  recordsBlocked,  // a pending file of the day is held: no record may go in
                   // ahead of those it may hold
  recordsFailed,   // it could not be written (no room, no right)
  recordsDropped,  // no file can take them: the day's file is no log
  recordsRetry,    // the day's file appeared meanwhile, or the folder was made again
};

// The pending files whose records go into a day's file ahead of a call's
// own record, in the order they move: the day's, then this process's own,
// then those that other processes left (only the load looks for them).
using PendingFiles = std::vector<std::unique_ptr<CPendingRecords>>;

PendingFiles ListPendingFiles(const std::u16string& strDate, const std::vector<std::u16string>& aOtherPaths) {
  PendingFiles aFiles;
  aFiles.push_back(std::make_unique<CPendingRecords>(strDate, DayPendingPath(strDate)));
  aFiles.push_back(std::make_unique<CPendingRecords>(strDate, OwnPendingPath(strDate)));
  for (const std::u16string& strPath : aOtherPaths) {
    if (strPath != OwnPendingPath(strDate)) aFiles.push_back(std::make_unique<CPendingRecords>(strDate, strPath));
  }
  return aFiles;
}

// Takes every pending file of the day, in order. False when one is held.
bool TakePendingFiles(PendingFiles& aFiles, FileWait nWait) {
  for (const std::unique_ptr<CPendingRecords>& pFile : aFiles) {
    if (pFile->Take(nWait) == CPendingRecords::pendingHeld) return false;
  }
  return true;
}

void RemovePendingFiles(PendingFiles& aFiles) {
  for (const std::unique_ptr<CPendingRecords>& pFile : aFiles) pFile->Remove();
}

// Adds to doc, a day's text, the records waiting in the taken pending files
// and then the call's own record (none when only waiting records move), and
// notes in each pending file where its records go. A large pending file goes
// in pieces: pLog, the open day's file of doc, commits each piece but the
// last before the next is read. False when the document takes no record
// (its top element is not "日志").
bool AddDayRecords(CXmlDocument& doc, PendingFiles& aFiles, const CHostRecord* pRecord, COpenLog* pLog) {
  // Every note is read against the text as it was, before anything is added.
  for (const std::unique_ptr<CPendingRecords>& pFile : aFiles) pFile->SettleNote(doc.ViewDocument());
  // Each piece stands right behind the one before: the first since the text
  // was read or committed starts where the text first changes, the next
  // where the last one ended.
  bool bAdded = false;
  size_t nNext = 0;
  for (const std::unique_ptr<CPendingRecords>& pFile : aFiles) {
    while (pFile->TakePiece()) {
      const std::vector<CHostRecord>& aWaiting = pFile->Records();
      const size_t nBefore = doc.ViewDocument().size();
      if (!AddRecords(doc, aWaiting.data(), aWaiting.size())) return false;
      const size_t nOffset = bAdded ? nNext : static_cast<size_t>(doc.GetFirstChangedOffset());
      const size_t nLength = doc.ViewDocument().size() - nBefore;
      pFile->WriteNote(doc.ViewDocument(), nOffset, nLength);
      bAdded = true;
      nNext = nOffset + nLength;
      if (pFile->HasMorePieces() && pLog != nullptr) {
        pLog->Commit();
        bAdded = false;
      }
    }
  }
  return pRecord == nullptr || AddRecords(doc, pRecord, 1);
}

WriteOutcome AppendToOpenLog(CFile& file, const std::u16string& strPath, PendingFiles& aFiles,
                             const CHostRecord* pRecord, FileWait nPendingWait) {
  COpenLog log(file, strPath);
  if (!log.Read()) return recordsDropped;
  if (!TakePendingFiles(aFiles, nPendingWait)) return recordsBlocked;
  if (!AddDayRecords(log.Document(), aFiles, pRecord, &log)) return recordsDropped;
  if (log.HasChanged()) log.Write();
  RemovePendingFiles(aFiles);
  return recordsWritten;
}

// The first records of a day come into being with their file: the file
// appears whole, or not at all when the records cannot be written.
WriteOutcome CreateLogWithRecords(const std::u16string& strPath, PendingFiles& aFiles, const CHostRecord* pRecord,
                                  FileWait nWait, FileWait nPendingWait) {
  if (!TakePendingFiles(aFiles, nPendingWait)) return recordsBlocked;
  // Once the pending files are ours, no one else can move their records. A
  // day's file that is there now (a look that failed, or a mover that made
  // it and stopped before removing a pending file) is the one to settle
  // their notes against: no note may be written over before that.
  CFileStatus status;
  if (CFile::GetStatus(strPath, status)) return recordsRetry;
  // A file that moves in pieces needs a day's file to commit them to.
  for (const std::unique_ptr<CPendingRecords>& pFile : aFiles) {
    if (pFile->InPieces()) return EnsureDailyLogFile(strPath) ? recordsRetry : recordsFailed;
  }
  CXmlDocument doc;
  doc.SetDocument(BuildEmptyLogText());
  if (!AddDayRecords(doc, aFiles, pRecord, nullptr)) return recordsDropped;
  if (doc.GetFirstChangedOffset() == static_cast<int32_t>(doc.ViewDocument().size())) return recordsWritten;
  switch (CreateDocumentFile(strPath, doc.ViewDocument(), nWait)) {
    case documentCreated:
      RemovePendingFiles(aFiles);
      return recordsWritten;
    case documentHeld:
      return recordsHeld;
    case documentExists:
      return recordsRetry;
    case documentNotCreated:
      break;
  }
  return RecreateLogFolder() ? recordsRetry : recordsFailed;
}

// nWait tells whether other openers of the day's file and of its pending
// files are waited for; aOtherPaths names pending files of the day that
// other processes left, to move as well.
WriteOutcome WriteDay(const std::u16string& strDate, const CHostRecord* pRecord, FileWait nWait,
                      const std::vector<std::u16string>& aOtherPaths = {}) {
  const std::u16string strPath = MakeLogPath(MakeDailyLogName(strDate));
  // A second round follows a file that another process created, or removed,
  // between our look and our own attempt, or a folder made again.
  for (int nRound = 0; nRound < 2; ++nRound) {
    PendingFiles aFiles = ListPendingFiles(strDate, aOtherPaths);
    CFileStatus status;
    if (!CFile::GetStatus(strPath, status)) {
      const WriteOutcome nOutcome = CreateLogWithRecords(strPath, aFiles, pRecord, nWait, nWait);
      if (nOutcome != recordsRetry) return nOutcome;
      if (!CFile::GetStatus(strPath, status)) continue;
      aFiles = ListPendingFiles(strDate, aOtherPaths);
    }
    CFile file;
    if (file.Open(strPath, CFile::modeReadWriteDenyWrite, nWait)) {
      return AppendToOpenLog(file, strPath, aFiles, pRecord, nWait);
    }
    if (file.GetOpenError() == causeSharingViolation) return recordsHeld;
    if (file.GetOpenError() != causeNotFound) return recordsFailed;
  }
  return recordsFailed;
}

// A failure of reading or writing an open file is as lasting as a failed
// create, except a sharing violation, which a later call may not meet.
WriteOutcome WriteDaySafely(const std::u16string& strDate, const CHostRecord* pRecord, FileWait nWait,
                            const std::vector<std::u16string>& aOtherPaths = {}) {
  try {
    return WriteDay(strDate, pRecord, nWait, aOtherPaths);
  } catch (const CFileException& error) {
    return error.m_nCause == causeSharingViolation ? recordsHeld : recordsFailed;
  }
}

void RememberPendingDay(const std::u16string& strDate) {
  std::vector<std::u16string>& aDays = LibraryState().m_aWaitingDays;
  if (std::find(aDays.begin(), aDays.end(), strDate) == aDays.end()) aDays.push_back(strDate);
}

// Puts a record that its day's file did not take into a pending file. False
// when every pending file it may go to is held: it has to wait in memory.
bool KeepOnDisk(const CHostRecord& record, bool bSkipDayPending, FileWait nWait) {
  switch (AppendPendingRecord(record, bSkipDayPending, nWait)) {
    case pendingKept:
      RememberPendingDay(record.m_strDate);
      return true;
    case pendingBlocked:
      return false;
    case pendingLost:
      break;
  }
  return true;
}

// Gives the record to its day's file, or else to a pending file. False when
// it could go into neither because other programs hold them.
bool PlaceRecord(const CHostRecord& record, FileWait nWait) {
  const WriteOutcome nOutcome = WriteDaySafely(record.m_strDate, &record, nWait);
  if (nOutcome == recordsWritten || nOutcome == recordsDropped) return true;
  return KeepOnDisk(record, nOutcome == recordsBlocked, nWait);
}

size_t CountRecordUnits(const CHostRecord& record) {
  return record.m_strTime.size() + record.m_strType.size() + record.m_strLocation.size() +
         record.m_strOperation.size() + record.m_strParameters.size() + record.m_strDescription.size();
}

// Keeps a record in memory, behind those already there, while their files
// are held; past the bound of a pending file it is lost.
void HoldRecord(const CHostRecord& record) {
  CLibraryState& state = LibraryState();
  const size_t nUnits = CountRecordUnits(record);
  if (state.m_nHeldUnits + nUnits > kMaxPendingUnits) return;
  state.m_aHeldRecords.push_back(record);
  state.m_nHeldUnits += nUnits;
}

}  // namespace

CHostRecord MakeHostRecord(int64_t nTime, const char16_t* szType, const char16_t* szLocation,
                           const char16_t* szOperation, const char16_t* szParameters, const char16_t* szDescription) {
  auto Text = [](const char16_t* sz) { return std::u16string(sz != nullptr ? sz : u""); };
  return CHostRecord{FormatDateStamp(nTime), FormatTimeStamp(nTime), Text(szType),       Text(szLocation),
                     Text(szOperation),      Text(szParameters),     Text(szDescription)};
}

bool EnsureDailyLogFile(const std::u16string& strPath) {
  CFileStatus status;
  if (CFile::GetStatus(strPath, status)) return true;
  // Another caller that created it a moment ago leaves theirs in place.
  const CreateDocumentResult nResult = CreateDocumentFile(strPath, BuildEmptyLogText());
  return nResult == documentCreated || nResult == documentExists;
}

void AppendLogRecord(const CHostRecord& record, FileWait nWait) {
  MoveHeldRecords();
  if (!LibraryState().m_aHeldRecords.empty() || !PlaceRecord(record, nWait)) HoldRecord(record);
}

void KeepPendingRecord(const CHostRecord& record) {
  MoveHeldRecords();
  if (!LibraryState().m_aHeldRecords.empty() || !KeepOnDisk(record, false, waitForHolder)) HoldRecord(record);
}

void MoveHeldRecords() {
  CLibraryState& state = LibraryState();
  std::vector<CHostRecord>& aHeld = state.m_aHeldRecords;
  size_t nPlaced = 0;
  // The records placed go from memory on every way out, so that none is
  // placed twice.
  auto ForgetPlaced = [&] { aHeld.erase(aHeld.begin(), aHeld.begin() + static_cast<std::ptrdiff_t>(nPlaced)); };
  try {
    for (; nPlaced < aHeld.size() && PlaceRecord(aHeld[nPlaced], waitNever); ++nPlaced) {
      state.m_nHeldUnits -= CountRecordUnits(aHeld[nPlaced]);
    }
  } catch (...) {
    ForgetPlaced();
    throw;
  }
  ForgetPlaced();
}

bool HasPendingRecords(const std::u16string& strDate) {
  auto IsFileThere = [](const std::u16string& strPath) {
    CFileStatus status;
    return CFile::GetStatus(strPath, status) && (status.m_attribute & (attributeDirectory | attributeNotRegular)) == 0;
  };
  return !LibraryState().m_aHeldRecords.empty() || IsFileThere(DayPendingPath(strDate)) ||
         IsFileThere(OwnPendingPath(strDate));
}

void MoveOwnPendingRecords(const std::u16string& strSkipDate, FileWait nWait) {
  std::vector<std::u16string>& aDays = LibraryState().m_aWaitingDays;
  aDays.erase(std::remove_if(aDays.begin(), aDays.end(),
                             [&](const std::u16string& strDate) {
                               if (strDate == strSkipDate) return false;
                               const WriteOutcome nOutcome = WriteDaySafely(strDate, nullptr, nWait);
                               return nOutcome == recordsWritten || !HasPendingRecords(strDate);
                             }),
              aDays.end());
}

void MoveAllPendingRecords() {
  // Each day with its pending files other than its own and this process's.
  std::map<std::u16string, std::vector<std::u16string>> aDays;
  CFileFind find;
  if (!find.FindFile(LogFolder())) return;
  for (bool bMore = true; bMore;) {
    bMore = find.FindNextEntry();
    std::u16string strDate;
    uint32_t nProcess = 0;
    if (find.IsDirectory() || !ParsePendingLogName(find.GetFileName(), strDate, &nProcess)) continue;
    std::vector<std::u16string>& aPaths = aDays[strDate];
    if (nProcess != 0) aPaths.push_back(find.GetFilePath());
  }
  find.Close();
  for (const auto& [strDate, aPaths] : aDays) WriteDaySafely(strDate, nullptr, waitNever, aPaths);
}
