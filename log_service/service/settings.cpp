#include "service/settings.h"

#include <string>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "format/log_retention.h"
#include "markup/markup.h"
#include "platform/platform_files.h"
#include "service/library_state.h"
#include "service/log_folder.h"
#include "service/purge.h"

namespace {

// Reads the retention from an existing settings file. False when the file
// cannot be opened, even after waiting for another opener as nWait allows.
bool ReadSettingsFile(const std::u16string& strPath, FileWait nWait) {
  CFile file;
  if (!file.Open(strPath, CFile::modeReadShared, nWait)) return false;
  std::u16string strText = ReadDocumentFile(file);
  file.Close();
  CXmlDocument doc;
  doc.SetDocument(std::move(strText));
  g_nLogLife.store(ParseLogLife(FindLogLifeData(doc)));
  return true;
}

// Reads the settings file of the log folder, or creates it with the default.
bool ReadOrCreateSettings(FileWait nWait) {
  const std::u16string strPath = MakeLogPath(kSettingsFileName);
  // A second round reads a file that another process created between our
  // look and our own attempt to create it.
  for (int nRound = 0; nRound < 2; ++nRound) {
    CFileStatus status;
    if (CFile::GetStatus(strPath, status)) return ReadSettingsFile(strPath, nWait);
    switch (CreateSettingsFile(strPath, kDefaultLogLife, nWait)) {
      case documentCreated:
        g_nLogLife.store(kDefaultLogLife);
        return true;
      case documentNotCreated:
      case documentHeld:
        // No settings file and none can be made (a read-only folder, say):
        // the default stands, and the next load tries again.
        return true;
      case documentExists:
        break;
    }
  }
  return false;
}

}  // namespace

bool LoadSettings(FileWait nWait) {
  LogFolder() = LocateLogFolder();
  return ReadOrCreateSettings(nWait);
}

bool LoadDeferredSettings(FileWait nWait) {
  CLibraryState& state = LibraryState();
  if (!state.m_bSettingsDeferred) return true;
  if (!ReadOrCreateSettings(nWait)) return false;
  state.m_bSettingsDeferred = false;
  try {
    PurgeExpiredLogs(nWait);
  } catch (...) {
    // What the purge could not delete now, the next purge deletes.
  }
  return true;
}

bool RewriteSettingsFile(int32_t nDays) { return RewriteSettingsFile(MakeLogPath(kSettingsFileName), nDays); }
