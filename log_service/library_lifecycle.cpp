#include "library_lifecycle.h"

#include "daily_log.h"
#include "library_state.h"
#include "purge.h"
#include "settings.h"

void RunLoadSequence() noexcept {
  try {
    auto lock = LockFileOperations();
    // The load runs under the system's loader lock, which every other thread
    // of the host needs to load a library or to start: nothing here waits
    // for another program. Settings that cannot be read at once (a viewer or
    // a backup tool holds the file) are read by the first call of an export,
    // and the purge waits for them: purging on a default retention would
    // delete logs the host asked to keep. A day's file held elsewhere is
    // looked at for what an interrupted update left by the calls that follow.
    g_bSettingsDeferred = !LoadSettings(waitNever);
    CutInterruptedUpdates();
    if (!g_bSettingsDeferred) PurgeExpiredLogs(waitNever);
  } catch (...) {
    // No file and no shortage of memory may fail the host's load: the
    // library then runs with whatever retention it had reached.
  }
}

void RunUnloadSequence(bool bProcessEnding) noexcept {
  // A process that is ending has had its other threads stopped wherever
  // they were, perhaps inside this library or the heap: nothing is touched.
  if (bProcessEnding) return;
  try {
    // A host that unloads the library while another of its threads is
    // still inside it has nothing to gain from a wait here.
    auto lock = TryLockFileOperations();
    if (lock.owns_lock()) WritePendingRecords(waitNever);
  } catch (...) {
  }
}
