#include "daily_log.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "document_file.h"
#include "library_state.h"
#include "log_folder.h"
#include "log_layout.h"
#include "markup.h"
#include "pending_records.h"
#include "platform_files.h"
#include "settings.h"
#include "time_stamps.h"

namespace {

// Guarded by LockFileOperations.
CPendingRecords g_pendingRecords;
// Day files that the load could not look at for the remains of an
// interrupted update, because another program held them. Guarded by
// LockFileOperations. Made on first use: the load that fills it may run
// before the dynamic initialisers of this file (see library_state.cpp).
std::vector<std::u16string>& UncheckedLogs() {
  static std::vector<std::u16string> aUnchecked;
  return aUnchecked;
}

// What became of the records given to one file.
enum WriteOutcome {
  recordsWritten,
  recordsHeld,     // another program held the file: worth another try
  recordsDropped,  // a lasting failure: trying again would not help
};

// The records of one day, [m_nFirst, m_nFirst + m_nCount) of the queue.
struct DayRun {
  const CPendingRecords& m_records;
  size_t m_nFirst;
  size_t m_nCount;
};

// The text of a day's file that has no record yet.
std::u16string BuildEmptyLogText() {
  CXmlDocument doc;
  doc.SetDocument(std::u16string(g_strXmlDeclaration));
  doc.AddElement(kLogRoot);
  return doc.GetDocument();
}

// Adds the records after the last child of the root "日志". Each record is
// left again for its parent, where it stays the current element, so the next
// one follows it. Where no record can be added (a document whose top
// element is not "日志"), none of the fields is either.
void AddRecords(CXmlDocument& doc, const DayRun& run) {
  doc.FindNextElement(kLogRoot);
  doc.EnterElement();
  for (size_t i = run.m_nFirst; i < run.m_nFirst + run.m_nCount; ++i) {
    const CHostRecord& record = run.m_records.At(i);
    if (!doc.AddElement(kRecordElement)) return;
    doc.EnterElement();
    const std::u16string* aFields[kRecordFieldCount] = {&record.m_strTime,       &record.m_strType,
                                                        &record.m_strLocation,   &record.m_strOperation,
                                                        &record.m_strParameters, &record.m_strDescription};
    for (size_t nField = 0; nField < kRecordFieldCount; ++nField) {
      doc.AddElement(kRecordFields[nField], aFields[nField]->c_str());
    }
    doc.LeaveElement();
  }
}


// The first records of a day come into being with their file: the file
// appears whole, or not at all when the records cannot be written.
CreateDocumentResult CreateLogWithRecords(const std::u16string& strPath, const DayRun& run, FileWait nWait) {
  CXmlDocument doc;
  doc.SetDocument(BuildEmptyLogText());
  AddRecords(doc, run);
  return CreateDocumentFile(strPath, doc.ViewDocument(), nWait);
}

WriteOutcome AppendToOpenLog(CFile& file, const std::u16string& strPath, const DayRun& run) {
  bool bUnreadData = false;
  std::u16string strText = ReadDocumentFile(file, &bUnreadData);
  const size_t nOldUnits = strText.size();
  // No text at all (zero bytes, a lone byte-order mark, or a mark and a zero
  // unit ahead of what an interrupted first write left) means a creator
  // stopped before its first content was whole: start it afresh rather than
  // leave a document without its root, to which no later record of the day
  // could be added.
  const bool bStartAfresh = strText.empty();
  if (bStartAfresh) strText = BuildEmptyLogText();

  CXmlDocument doc;
  doc.SetDocument(std::move(strText));
  // UTF-16 text that stops at a zero unit with more behind it. Behind a log's
  // root that is what an interrupted update left, and the update cuts it;
  // after any other text (a zero inside the root) it is content that could
  // not be read, and writing would destroy it: the file is left as it is and
  // the records dropped.
  if (bUnreadData && !bStartAfresh && !IsLogDocument(doc)) return recordsDropped;
  const size_t nUnitsBefore = doc.ViewDocument().size();
  AddRecords(doc, run);
  // A document whose top element is not "日志" takes no record. Writing its
  // text back would change nothing but the encoding of a narrow file (GBK
  // text read in another code page, say), which is no one's to change.
  if (doc.ViewDocument().size() == nUnitsBefore) return recordsDropped;
  const size_t nUnchanged = bStartAfresh ? 0 : static_cast<size_t>(doc.GetFirstChangedOffset());
  UpdateDocumentFile(file, strPath, nOldUnits, nUnchanged, doc.ViewDocument());
  return recordsWritten;
}

// A log folder that a cleanup tool removed while the host runs is made
// again; only the folder itself, as at load.
bool RecreateLogFolder() {
  CFileStatus status;
  if (CFile::GetStatus(g_strLogFolder, status)) return false;
  return CreateFolder(g_strLogFolder) == folderCreated;
}

WriteOutcome WriteDayRun(const DayRun& run, FileWait nWait) {
  const std::u16string strPath = MakeLogPath(MakeDailyLogName(run.m_records.At(run.m_nFirst).m_strDate));
  // A second round follows a file that another process created, or removed,
  // between our look and our own attempt, or a folder made again.
  for (int nRound = 0; nRound < 2; ++nRound) {
    CFileStatus status;
    if (!CFile::GetStatus(strPath, status)) {
      switch (CreateLogWithRecords(strPath, run, nWait)) {
        case documentCreated: return recordsWritten;
        case documentHeld: return recordsHeld;
        case documentNotCreated:
          if (RecreateLogFolder()) continue;
          return recordsDropped;
        case documentExists: break;
      }
    }
    CFile file;
    if (file.Open(strPath, CFile::modeReadWriteDenyWrite, nWait)) return AppendToOpenLog(file, strPath, run);
    if (file.GetOpenError() == causeSharingViolation) return recordsHeld;
    if (file.GetOpenError() != causeNotFound) return recordsDropped;
  }
  return recordsDropped;
}

// A failure of reading or writing the open file is as lasting as a failed
// create, except a sharing violation, which a later call may not meet.
WriteOutcome WriteDayRunSafely(const DayRun& run, FileWait nWait) {
  try {
    return WriteDayRun(run, nWait);
  } catch (const CFileException& error) {
    return error.m_nCause == causeSharingViolation ? recordsHeld : recordsDropped;
  } catch (const std::exception&) {
    return recordsDropped;
  }
}

// Cuts the day's file at strPath where a zero unit ends the text of a whole
// log. False when another program holds the file, so that it is still to be
// looked at; true once it has been, or cannot be for a lasting reason.
bool CutBehindLogText(const std::u16string& strPath) {
  try {
    CFile file;
    if (!file.Open(strPath, CFile::modeReadWriteDenyWrite, waitNever)) {
      return file.GetOpenError() != causeSharingViolation;
    }
    const uint64_t nUnread = LocateUnreadBytes(file);
    if (nUnread == 0) return true;
    CXmlDocument doc;
    if (doc.SetDocument(ReadDocumentFile(file)) && IsLogDocument(doc)) file.SetLength(nUnread);
  } catch (const CFileException& error) {
    return error.m_nCause != causeSharingViolation;
  } catch (const std::exception&) {
    // A text too long for memory stays as it is.
  }
  return true;
}

}  // namespace

CHostRecord MakeHostRecord(int64_t nTime, const char16_t* szType, const char16_t* szLocation,
                         const char16_t* szOperation, const char16_t* szParameters, const char16_t* szDescription) {
  auto Text = [](const char16_t* sz) { return std::u16string(sz != nullptr ? sz : u""); };
  return CHostRecord{FormatDateStamp(nTime), FormatTimeStamp(nTime), Text(szType), Text(szLocation),
                    Text(szOperation),      Text(szParameters),      Text(szDescription)};
}

bool EnsureDailyLogFile(const std::u16string& strPath) {
  CFileStatus status;
  if (CFile::GetStatus(strPath, status)) return true;
  // Another caller that created it a moment ago leaves theirs in place.
  const CreateDocumentResult nResult = CreateDocumentFile(strPath, BuildEmptyLogText());
  return nResult == documentCreated || nResult == documentExists;
}

void WritePendingRecords(FileWait nWait) {
  while (!g_pendingRecords.IsEmpty()) {
    const DayRun run{g_pendingRecords, 0, g_pendingRecords.CountFrontDay()};
    if (WriteDayRunSafely(run, nWait) == recordsHeld) return;
    g_pendingRecords.RemoveFront(run.m_nCount);
  }
}

void CutInterruptedUpdates() {
  const int64_t nNow = ReadClock();
  UncheckedLogs() = {MakeLogPath(MakeDailyLogName(FormatDateStamp(nNow))),
                      MakeLogPath(MakeDailyLogName(FormatPreviousDateStamp(nNow)))};
  CutDeferredInterruptedUpdates();
}

void CutDeferredInterruptedUpdates() {
  std::vector<std::u16string>& aUnchecked = UncheckedLogs();
  aUnchecked.erase(std::remove_if(aUnchecked.begin(), aUnchecked.end(), CutBehindLogText), aUnchecked.end());
}

void DiscardPendingRecords() { g_pendingRecords.Clear(); }

size_t CountPendingRecords() { return g_pendingRecords.GetCount(); }

void AppendLogRecord(CHostRecord&& record) {
  auto lock = LockFileOperations();
  CutDeferredInterruptedUpdates();
  // Once a call has found the file held and kept its record, the holder is
  // not waited for again: the following calls try once and return.
  const FileWait nWait = g_pendingRecords.IsEmpty() ? waitForHolder : waitNever;
  g_pendingRecords.Add(std::move(record));
  // Until the settings are read it is not known whether to write at all.
  if (LoadDeferredSettings(nWait)) {
    if (g_nLogLife.load() == 0) g_pendingRecords.Clear();
    WritePendingRecords(nWait);
  }
  g_pendingRecords.DropPastBound();
}

void AppendLogRecord(const char16_t* szType, const char16_t* szLocation, const char16_t* szOperation,
                     const char16_t* szParameters, const char16_t* szDescription) {
  AppendLogRecord(MakeHostRecord(ReadClock(), szType, szLocation, szOperation, szParameters, szDescription));
}
