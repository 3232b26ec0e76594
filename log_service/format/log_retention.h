// A log folder's retention: the settings file that holds it, and the purge
// that applies it. What SetLogLife does to its own folder, for any folder:
// the library calls these for the host's folder, the vardlix tool for the
// folder of another program (vardlix life --host).
#pragma once

#include <cstdint>
#include <string>

#include "format/document_file.h"
#include "platform/platform_files.h"

// The settings file's text for a retention: declaration, "配置信息" holding
// "日志保留天数" with the number in decimal.
std::u16string BuildSettingsText(int32_t nDays);

// Creates the hidden settings file strPath holding nDays where there is
// none. The file appears whole or not at all, so a reader never takes a
// half-written one for a file without a value; one that another process
// made in the meantime is left as it is (documentExists).
CreateDocumentResult CreateSettingsFile(const std::u16string& strPath, int32_t nDays, FileWait nWait = waitForHolder);

// Writes nDays into the settings file strPath, which holds the old value or
// the new one at every moment and stays hidden with its times as they were;
// a settings file that has disappeared is created afresh. False when the
// file cannot be written. Within one process the caller serialises the
// calls; other processes are kept out by the file's share mode.
bool RewriteSettingsFile(const std::u16string& strPath, int32_t nDays);

// Deletes every file of strFolder whose name begins with "Vardlix"
// (case-sensitive) and whose age, in whole days since its creation, is at
// least nDays: with a retention of N days a file goes once N * 86400
// seconds have passed; with 0, every log file created in the past or less
// than a day ahead of the clock goes. Directories and subfolders are never
// touched. An entry whose status cannot be read, or that cannot be deleted,
// is left for the next purge and the others are still looked at. The
// creation times come from the listing itself. nWait tells whether a file
// that another program holds is waited for (see CFile::Remove).
void PurgeLogFolder(const std::u16string& strFolder, int32_t nDays, FileWait nWait);
