#include "purge.h"

#include "library_state.h"
#include "settings_file.h"

void PurgeExpiredLogs(FileWait nWait) { PurgeLogFolder(LogFolder(), g_nLogLife.load(), nWait); }
