#include "service/purge.h"

#include "format/log_retention.h"
#include "service/library_state.h"

void PurgeExpiredLogs(FileWait nWait) { PurgeLogFolder(LogFolder(), g_nLogLife.load(), nWait); }
