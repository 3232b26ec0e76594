#include "service/purge.h"

#include "service/library_state.h"
#include "format/log_retention.h"

void PurgeExpiredLogs(FileWait nWait) { PurgeLogFolder(LogFolder(), g_nLogLife.load(), nWait); }
