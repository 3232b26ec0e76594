// Deletion of expired daily log files.
#pragma once

#include <cstdint>

#include "platform/platform_files.h"

// Deletes the expired log files of the log folder, for the retention in
// g_nLogLife (PurgeLogFolder in log_retention.h says which go). nWait tells
// whether a file that another program holds is waited for.
void PurgeExpiredLogs(FileWait nWait = waitForHolder);
