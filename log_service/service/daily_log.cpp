#include "service/daily_log.h"

#include <algorithm>
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
  recordsFailed,   // it could not be written (no room, no right)
  recordsDropped,  // no file can take them now: the day's file is no log,
                   // or its pending file is kept by another program
  recordsRetry,    // the day's file appeared meanwhile, or the folder was made again
};

// Adds to doc, a day's text, the records waiting in the day's pending file
// and then the call's own record (none when only waiting records move), and
// notes in the pending file where its records go. False when the document
// takes no record (its top element is not "日志"), and when waiting records
// cannot be taken: a record never overtakes those that wait before it.
bool AddDayRecords(CXmlDocument& doc, CPendingRecords& pending, CPendingRecords::TakeResult nTaken,
                   const CHostRecord* pRecord) {
  if (nTaken == CPendingRecords::pendingHeld) return false;
  if (nTaken == CPendingRecords::pendingTaken) {
    pending.SettleNote(doc.ViewDocument());
    const std::vector<CHostRecord>& aWaiting = pending.Records();
    if (!aWaiting.empty()) {
      const size_t nBefore = doc.ViewDocument().size();
      if (!AddRecords(doc, aWaiting.data(), aWaiting.size())) return false;
      pending.WriteNote(doc.ViewDocument(), static_cast<size_t>(doc.GetFirstChangedOffset()),
                        doc.ViewDocument().size() - nBefore);
    }
  }
  return pRecord == nullptr || AddRecords(doc, pRecord, 1);
}

WriteOutcome AppendToOpenLog(CFile& file, const std::u16string& strPath, const std::u16string& strDate,
                             const CHostRecord* pRecord, FileWait nPendingWait) {
  COpenLog log(file, strPath);
  if (!log.Read()) return recordsDropped;
  CPendingRecords pending(strDate);
  const CPendingRecords::TakeResult nTaken = pending.Take(nPendingWait);
  if (!AddDayRecords(log.Document(), pending, nTaken, pRecord)) return recordsDropped;
  if (log.HasChanged()) log.Write();
  pending.Remove();
  return recordsWritten;
}

// The first records of a day come into being with their file: the file
// appears whole, or not at all when the records cannot be written.
WriteOutcome CreateLogWithRecords(const std::u16string& strPath, const std::u16string& strDate,
                                  const CHostRecord* pRecord, FileWait nWait, FileWait nPendingWait) {
  CPendingRecords pending(strDate);
  const CPendingRecords::TakeResult nTaken = pending.Take(nPendingWait);
  // Once the pending file is ours, no one else can move its records. A day's
  // file that is there now (a look that failed, or a mover that made it and
  // stopped before removing the pending file) is the one to settle its note
  // against: the note must not be written over before that.
  CFileStatus status;
  if (CFile::GetStatus(strPath, status)) return recordsRetry;
  CXmlDocument doc;
  doc.SetDocument(BuildEmptyLogText());
  if (!AddDayRecords(doc, pending, nTaken, pRecord)) return recordsDropped;
  if (doc.GetFirstChangedOffset() == static_cast<int32_t>(doc.ViewDocument().size())) return recordsWritten;
  switch (CreateDocumentFile(strPath, doc.ViewDocument(), nWait)) {
    case documentCreated:
      pending.Remove();
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

WriteOutcome WriteDay(const std::u16string& strDate, const CHostRecord* pRecord, FileWait nWait) {
  const std::u16string strPath = MakeLogPath(MakeDailyLogName(strDate));
  // A call with a record of its own waits for another writer of the library
  // that has the pending file (it appends a record and lets go): moving on
  // without it would put the record ahead of older ones. A move alone, as at
  // load, waits for nothing it does not have to.
  const FileWait nPendingWait = pRecord != nullptr ? waitForHolder : nWait;
  // A second round follows a file that another process created, or removed,
  // between our look and our own attempt, or a folder made again.
  for (int nRound = 0; nRound < 2; ++nRound) {
    CFileStatus status;
    if (!CFile::GetStatus(strPath, status)) {
      const WriteOutcome nOutcome = CreateLogWithRecords(strPath, strDate, pRecord, nWait, nPendingWait);
      if (nOutcome != recordsRetry) return nOutcome;
      if (!CFile::GetStatus(strPath, status)) continue;
    }
    CFile file;
    if (file.Open(strPath, CFile::modeReadWriteDenyWrite, nWait)) {
      return AppendToOpenLog(file, strPath, strDate, pRecord, nPendingWait);
    }
    if (file.GetOpenError() == causeSharingViolation) return recordsHeld;
    if (file.GetOpenError() != causeNotFound) return recordsFailed;
  }
  return recordsFailed;
}

// A failure of reading or writing an open file is as lasting as a failed
// create, except a sharing violation, which a later call may not meet.
WriteOutcome WriteDaySafely(const std::u16string& strDate, const CHostRecord* pRecord, FileWait nWait) {
  try {
    return WriteDay(strDate, pRecord, nWait);
  } catch (const CFileException& error) {
    return error.m_nCause == causeSharingViolation ? recordsHeld : recordsFailed;
  }
}

void RememberPendingDay(const std::u16string& strDate) {
  std::vector<std::u16string>& aDays = LibraryState().m_aWaitingDays;
  if (std::find(aDays.begin(), aDays.end(), strDate) == aDays.end()) aDays.push_back(strDate);
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
  const WriteOutcome nOutcome = WriteDaySafely(record.m_strDate, &record, nWait);
  if (nOutcome == recordsHeld || nOutcome == recordsFailed) KeepPendingRecord(record);
}

void KeepPendingRecord(const CHostRecord& record) {
  if (AppendPendingRecord(record)) RememberPendingDay(record.m_strDate);
}

bool HasPendingRecords(const std::u16string& strDate) {
  CFileStatus status;
  return CFile::GetStatus(MakeLogPath(MakePendingLogName(strDate)), status) &&
         (status.m_attribute & attributeDirectory) == 0;
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
  std::vector<std::u16string> aDates;
  CFileFind find;
  if (!find.FindFile(LogFolder())) return;
  for (bool bMore = true; bMore;) {
    bMore = find.FindNextEntry();
    std::u16string strDate;
    if (!find.IsDirectory() && ParsePendingLogName(find.GetFileName(), strDate)) aDates.push_back(strDate);
  }
  find.Close();
  for (const std::u16string& strDate : aDates) WriteDaySafely(strDate, nullptr, waitNever);
}
