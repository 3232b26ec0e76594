#include "service/library_calls.h"

#include "format/log_layout.h"
#include "platform/platform_files.h"
#include "service/daily_log.h"
#include "service/library_state.h"
#include "service/log_repair.h"
#include "service/purge.h"
#include "service/settings.h"

namespace {

// The moves that the load left to the first call of an export that may
// write: the records that ended processes left in pending files.
void MoveDuePendingRecords() {
  CLibraryState& state = LibraryState();
  if (!state.m_bMovesDue) return;
  state.m_bMovesDue = false;
  MoveAllPendingRecords();
}

}  // namespace

void WriteHostRecord(const CHostRecord& record) {
  auto lock = LockFileOperations();
  if (LibraryState().m_bReleased) return;
  CutDeferredInterruptedUpdates();
  // While records of the day wait, the holder of the day's file is not
  // waited for again: each call tries once and returns.
  const FileWait nWait = HasPendingRecords(record.m_strDate) ? waitNever : waitForHolder;
  // Until the settings are read it is not known whether to write at all.
  if (!LoadDeferredSettings(nWait)) {
    KeepPendingRecord(record);
    return;
  }
  if (g_nLogLife.load() == 0) return;
  MoveDuePendingRecords();
  MoveOwnPendingRecords(record.m_strDate, waitNever);
  AppendLogRecord(record, nWait);
}

void WriteHostRecord(const char16_t* szType, const char16_t* szLocation, const char16_t* szOperation,
                     const char16_t* szParameters, const char16_t* szDescription) {
  WriteHostRecord(MakeHostRecord(ReadClock(), szType, szLocation, szOperation, szParameters, szDescription));
}

int ChangeLogLife(uint32_t nDays) {
  if (nDays > kMaxLogLife) return 0;
  auto lock = LockFileOperations();
  if (LibraryState().m_bReleased) return 0;
  CutDeferredInterruptedUpdates();
  if (!RewriteSettingsFile(static_cast<int32_t>(nDays))) return 0;
  g_nLogLife.store(static_cast<int32_t>(nDays));
  // The host has decided: whatever the load could not read no longer counts.
  LibraryState().m_bSettingsDeferred = false;
  try {
    PurgeExpiredLogs();
    if (nDays != 0) MoveDuePendingRecords();
  } catch (...) {
    // The new retention is written and in force; whatever the purge could
    // not delete now, the next purge deletes, and what could not be moved
    // waits for the next call that gets its day's file.
  }
  return 1;
}
