#include "purge.h"

#include "library_state.h"
#include "log_retention.h"

void PurgeExpiredLogs(FileWait nWait) { PurgeLogFolder(LogFolder(), g_nLogLife.load(), nWait); }
