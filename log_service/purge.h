// Deletion of expired daily log files.
#pragma once

#include <cstdint>

#include "platform_files.h"

// Deletes every file of the log folder whose name begins with "Vardlix"
// (case-sensitive) and whose age, in whole days since its creation, is at
// least g_nLogLife: with a retention of N days a file goes once N * 86400
// seconds have passed; with 0, every log file created in the past or less
// than a day ahead of the clock goes. Directories and subfolders are never
// touched. An entry whose status cannot be read, or that cannot be deleted,
// is left for the next purge and the others are still looked at. The
// creation times come from the listing itself. nWait tells whether a file
// that another program holds is waited for (see CFile::Remove).
void PurgeExpiredLogs(FileWait nWait = waitForHolder);
