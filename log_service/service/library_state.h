// What the library keeps for its whole life, beyond its files: the log
// folder, the retention, the lock that serialises every operation on its
// files, and the work the load had to leave for the calls.
//
// A host thread may still call an export while the process ends, after the
// runtime has destroyed the library's static objects (for a library loaded
// with dlopen they go before its own unload runs). So the state is one
// object made on first use in storage of its own that is never destroyed,
// and the retention an atomic, which has nothing to destroy. The unload
// gives back the memory the state holds (a host that loads and unloads the
// library again and again must not lose it), and calls that come after it
// do nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "format/host_record.h"

struct CLibraryState {
  // Held by every operation on the library's files for its whole length, so
  // that the calls of one process never compete for a file lock; the file
  // locks of the platform layer then only have other processes to wait for.
  std::mutex m_fileOperations;

  // Everything below is guarded by m_fileOperations.

  // Log folder without a trailing separator once derived; the platform's
  // fallback folder until then. Written only by the load sequence.
  std::u16string m_strLogFolder;
  // The settings file was there at load but could not be read without
  // waiting: the retention in g_nLogLife is no decision of the host's yet.
  bool m_bSettingsDeferred = false;
  // Files still to be looked at for what an interrupted update left
  // (log_repair.h): the log folder itself stands for all of its files.
  std::vector<std::u16string> m_aUncheckedLogs;
  // The load found the settings and left the move of the records that ended
  // processes left in pending files to the first call (MoveAllPendingRecords).
  bool m_bMovesDue = false;
  // Date stamps of the days whose pending files this process has added
  // records to; each call moves them once it can.
  std::vector<std::u16string> m_aWaitingDays;
  // Records that no file could take when their call came, because other
  // programs held the day's file and the pending file they had to go to;
  // oldest first. Each call, the unload and the end of the process give
  // them to their files again (MoveHeldRecords). A vector, which holds no
  // memory while empty: the unload of a DLL whose state is unmapped with it
  // must leave nothing allocated behind.
  std::vector<CHostRecord> m_aHeldRecords;
  // Code units of text they hold, bounded as a pending file is.
  size_t m_nHeldUnits = 0;
  // The library has been unloaded (ReleaseLibraryState): a call that comes
  // even so, from a thread of a process that is ending, does nothing.
  bool m_bReleased = false;
};

// The one state object. Safe to call from any thread at any time, also
// before the library's static objects are constructed and after they are
// destroyed.
CLibraryState& LibraryState();
// Shorthand for LibraryState().m_strLogFolder.
inline std::u16string& LogFolder() { return LibraryState().m_strLogFolder; }

// Retention in days. Written by the load and by SetLogLife while other
// threads read it; each reader only needs the latest whole value. Constant
// initialised, so the load may read it before any dynamic initialiser runs.
extern std::atomic<int32_t> g_nLogLife;

std::unique_lock<std::mutex> LockFileOperations();

// The unload: gives back what the state holds and marks it released. A
// thread that is inside the library at that moment (only possible when the
// process ends) keeps the state as it is. Never raises.
void ReleaseLibraryState() noexcept;

// Puts the state back as a fresh load found it, with strLogFolder as the log
// folder: for tests, which run many "loads" in one process.
void ResetLibraryStateForTesting(const std::u16string& strLogFolder);
