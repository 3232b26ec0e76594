#include "settings.h"

#include <string>

#include "document_file.h"
#include "library_state.h"
#include "log_folder.h"
#include "log_layout.h"
#include "markup.h"
#include "platform_files.h"
#include "purge.h"

namespace {

std::u16string FormatDecimal(int32_t n) {
  const std::string str = std::to_string(n);
  return std::u16string(str.begin(), str.end());
}

// Marks a settings file that the library has just written as hidden. A file
// system that refuses is no reason to give up a setting already written.
void HideSettingsFile(const std::u16string& strPath, CFileStatus status) {
  status.m_attribute = attributeHidden;
  try {
    CFile::SetStatus(strPath, status);
  } catch (const CFileException&) {
  }
}

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

// Creates a hidden settings file holding nDays where there is none. The file
// appears whole or not at all, so a reader never takes a half-written one
// for a file without a value; one that another process made in the meantime
// is left as it is (documentExists).
CreateDocumentResult CreateSettingsFile(const std::u16string& strPath, int32_t nDays,
                                        FileWait nWait = waitForHolder) {
  const CreateDocumentResult nResult = CreateDocumentFile(strPath, BuildSettingsText(nDays), nWait);
  CFileStatus status;
  if (nResult == documentCreated && CFile::GetStatus(strPath, status)) HideSettingsFile(strPath, status);
  return nResult;
}

}  // namespace

// Writes nDays into the settings file. An existing file is updated in place,
// so that it holds the old value or the new one at every moment and keeps
// its hidden attribute throughout (nothing is re-created, which Windows
// would refuse over a hidden file); it gets back the times it had before. A
// settings file deleted since the load is created afresh.
bool RewriteSettingsFile(int32_t nDays) {
  const std::u16string strPath = MakeLogPath(kSettingsFileName);
  // A second round follows a file that another process created, or removed,
  // between our look and our own attempt.
  for (int nRound = 0; nRound < 2; ++nRound) {
    CFileStatus status;
    if (!CFile::GetStatus(strPath, status)) {
      const CreateDocumentResult nResult = CreateSettingsFile(strPath, nDays);
      if (nResult != documentExists) return nResult == documentCreated;
      if (!CFile::GetStatus(strPath, status)) return false;
    }
    CFile file;
    if (!file.Open(strPath, CFile::modeReadWriteDenyWrite)) {
      if (file.GetOpenError() == causeNotFound) continue;
      return false;
    }
    const size_t nOldUnits = ReadDocumentFile(file).size();
    UpdateDocumentFile(file, strPath, nOldUnits, 0, BuildSettingsText(nDays));
    file.Close();
    HideSettingsFile(strPath, status);
    return true;
  }
  return false;
}

std::u16string BuildSettingsText(int32_t nDays) {
  CXmlDocument doc;
  doc.SetDocument(std::u16string(g_strXmlDeclaration));
  doc.AddElement(kSettingsRoot);
  doc.EnterElement();
  doc.AddElement(kLogLifeElement, FormatDecimal(nDays).c_str());
  doc.LeaveElement();
  return doc.GetDocument();
}

namespace {

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
