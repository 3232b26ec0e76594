#include "purge.h"

#include <string>
#include <string_view>

#include "library_state.h"
#include "log_layout.h"
#include "platform_files.h"

namespace {

// Deletes the entry the listing stands on when it is an expired log file.
void PurgeEntry(const CFileFind& find, int64_t nNow, FileWait nWait) {
  if (find.IsDots() || find.IsDirectory()) return;
  if (!IsLogFileName(find.GetFileName())) return;
  // An entry whose time cannot be had (it vanished) is not aged by the
  // times of the entry before it.
  int64_t nCreated = 0;
  if (!find.GetCreationTime(nCreated)) return;
  if (!IsLogExpired(nNow, nCreated, g_nLogLife.load())) return;
  try {
    CFile::Remove(find.GetFilePath(), nWait);
  } catch (const CFileException&) {
    // Held open by another process, or not ours to delete: the next purge
    // tries again, and the files after it are still looked at.
  }
}

}  // namespace

void PurgeExpiredLogs(FileWait nWait) {
  const int64_t nNow = ReadClock();
  CFileFind find;
  if (!find.FindFile(LogFolder())) return;
  bool bMore = true;
  while (bMore) {
    bMore = find.FindNextEntry();
    PurgeEntry(find, nNow, nWait);
  }
}
