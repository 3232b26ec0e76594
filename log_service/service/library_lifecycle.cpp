#include "service/library_lifecycle.h"

#include "service/daily_log.h"
#include "service/library_state.h"
#include "service/log_repair.h"
#include "service/purge.h"
#include "service/settings.h"

void RunLoadSequence() noexcept {
  try {
    auto lock = LockFileOperations();
    // The load runs under the system's loader lock, which every other thread
    // of the host needs to load a library or to start: nothing here waits
    // for another program. Settings that cannot be read at once (a viewer or
    // a backup tool holds the file) are read by the first call of an export,
    // and the purge and the moves wait for them: purging on a default
    // retention would delete logs the host asked to keep, and a retention of
    // 0 wants the waiting records gone. What interrupted updates left in the
    // folder's files is cut by the first call (log_repair.h), which may take
    // a pass over every file, and so are the records that ended processes
    // left in pending files moved: however many there are, none of it
    // happens under the loader lock.
    CLibraryState& state = LibraryState();
    state.m_bSettingsDeferred = !LoadSettings(waitNever);
    NoteInterruptedUpdatesToCut();
    state.m_bMovesDue = true;
    if (state.m_bSettingsDeferred) return;
    PurgeExpiredLogs(waitNever);
  } catch (...) {
    // No file and no shortage of memory may fail the host's load: the
    // library then runs with whatever retention it had reached.
  }
}

void RunUnloadSequence(bool bRelease) noexcept {
  {
    std::unique_lock<std::mutex> lock(LibraryState().m_fileOperations, std::try_to_lock);
    if (lock.owns_lock() && !LibraryState().m_bReleased && !LibraryState().m_aHeldRecords.empty()) {
      try {
        MoveHeldRecords();
      } catch (...) {
        // What cannot be written now is lost with the process.
      }
    }
  }
  if (bRelease) ReleaseLibraryState();
}
