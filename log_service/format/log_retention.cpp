#include "format/log_retention.h"

#include <string>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "markup/markup.h"
#include "platform/platform_files.h"

namespace {

std::u16string FormatDecimal(int32_t n) {
  const std::string str = std::to_string(n);
  return std::u16string(str.begin(), str.end());
}

// Marks a settings file that has just been written as hidden. A file
// system that refuses is no reason to give up a setting already written.
void HideSettingsFile(const std::u16string& strPath, CFileStatus status) {
  status.m_attribute = attributeHidden;
  try {
    CFile::SetStatus(strPath, status);
  } catch (const CFileException&) {
  }
}

// Deletes the entry the listing stands on when it is an expired log file.
void PurgeEntry(const CFileFind& find, int64_t nNow, int32_t nDays, FileWait nWait) {
  if (find.IsDots() || find.IsDirectory()) return;
  if (!IsLogFileName(find.GetFileName())) return;
  // An entry whose time cannot be had (it vanished) is not aged by the
  // times of the entry before it.
  int64_t nCreated = 0;
  if (!find.GetCreationTime(nCreated)) return;
  if (!IsLogExpired(nNow, nCreated, nDays)) return;
  try {
    CFile::Remove(find.GetFilePath(), nWait);
  } catch (const CFileException&) {
    // Held open by another process, or not ours to delete: the next purge
    // tries again, and the files after it are still looked at.
  }
}

}  // namespace

std::u16string BuildSettingsText(int32_t nDays) {
  CXmlDocument doc;
  doc.SetDocument(std::u16string(g_strXmlDeclaration));
  doc.AddElement(kSettingsRoot);
  doc.EnterElement();
  doc.AddElement(kLogLifeElement, FormatDecimal(nDays).c_str());
  doc.LeaveElement();
  return doc.GetDocument();
}

CreateDocumentResult CreateSettingsFile(const std::u16string& strPath, int32_t nDays, FileWait nWait) {
  const CreateDocumentResult nResult = CreateDocumentFile(strPath, BuildSettingsText(nDays), nWait);
  CFileStatus status;
  if (nResult == documentCreated && CFile::GetStatus(strPath, status)) HideSettingsFile(strPath, status);
  return nResult;
}

// An existing file is updated in place, so that it holds the old value or
// the new one at every moment and keeps its hidden attribute throughout
// (nothing is re-created, which Windows would refuse over a hidden file); it
// gets back the times it had before.
bool RewriteSettingsFile(const std::u16string& strPath, int32_t nDays) {
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

void PurgeLogFolder(const std::u16string& strFolder, int32_t nDays, FileWait nWait) {
  const int64_t nNow = ReadClock();
  CFileFind find;
  if (!find.FindFile(strFolder)) return;
  bool bMore = true;
  while (bMore) {
    bMore = find.FindNextEntry();
    PurgeEntry(find, nNow, nDays, nWait);
  }
}
