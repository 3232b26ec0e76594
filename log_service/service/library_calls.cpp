#include "service/library_calls.h"

#include "format/log_layout.h"
#include "platform/platform_files.h"
#include "service/daily_log.h"
#include "service/library_state.h"
#include "service/log_repair.h"
#include "service/purge.h"
#include "service/settings.h"

void WriteHostRecord(const CHostRecord& record) {
  auto lock = LockFileOperations();
  if (LibraryState().m_bReleased) return;
  CutDeferredInterruptedUpdates();
  // While records of the day wait, the holder of the day's file is not
  // waited for again: each call tries once and returns.
  const FileWait nWait = HasPendingRecords(record.m_strDate) ? waitNever : waitForHolder;
  // Until the settings are read it is not known whether to write at all.
  const bool bSettingsDeferred = LibraryState().m_bSettingsDeferred;
  if (!LoadDeferredSettings(nWait)) {
    KeepPendingRecord(record);
    return;
  }
  if (g_nLogLife.load() == 0) return;
  // The moves that the load left with the settings.
  if (bSettingsDeferred) MoveAllPendingRecords();
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
  } catch (...) {
    // The new retention is written and in force; whatever the purge could
    // not delete now, the next purge deletes.
  }
  return 1;
}
