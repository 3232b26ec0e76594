// The settings file "SettingInfo.xml" in the log folder and the retention it
// holds: read or created at load, rewritten by SetLogLife.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "format/log_layout.h"
#include "format/log_retention.h"
#include "platform/platform_files.h"

// Derives and creates the log folder (LogFolder()), then reads the
// retention from the settings file into g_nLogLife, or creates the file with
// the default of 7 days when there is none. Returns false when a settings
// file is there but could not be read: g_nLogLife then keeps its value and
// stands for no decision of the host's. The file is opened for reading with
// read sharing, so a viewer that reads it too is no obstacle; nWait tells
// whether a writer or an exclusive holder is waited for.
bool LoadSettings(FileWait nWait = waitForHolder);

// Reads the settings that the load had to leave (m_bSettingsDeferred of the
// library's state), and then purges as the load would have; true when the
// retention is known (at once when nothing was left). The caller holds
// LockFileOperations.
bool LoadDeferredSettings(FileWait nWait);

// Writes nDays into the settings file of the log folder (log_retention.h).
// False when the file cannot be written. The caller holds
// LockFileOperations.
bool RewriteSettingsFile(int32_t nDays);
