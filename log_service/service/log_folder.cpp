#include "service/log_folder.h"

#include "format/log_layout.h"
#include "platform/platform_files.h"
#include "service/library_state.h"

std::u16string LocateLogFolder() {
  std::u16string strExePath;
  if (!GetHostExecutablePath(strExePath)) return kFallbackFolder;
  std::u16string strFolder = DeriveLogFolder(strExePath);
  if (CreateFolder(strFolder) != folderFailed) return strFolder;
  // A creation that failed for a passing reason (an I/O error, say) while
  // the folder is there already must not send every file of this run to the
  // root of the disk: a folder that exists is used.
  CFileStatus status;
  const bool bFolderThere = CFile::GetStatus(strFolder, status) && (status.m_attribute & attributeDirectory) != 0;
  return bFolderThere ? strFolder : kFallbackFolder;
}

std::u16string MakeLogPath(std::u16string_view strName) {
  std::u16string strPath = LogFolder();
  // The fallback folder is a root that already ends in a separator.
  if (strPath.empty() || strPath.back() != kPathSeparator[0]) strPath += kPathSeparator;
  strPath += strName;
  return strPath;
}

bool RecreateLogFolder() {
  CFileStatus status;
  if (CFile::GetStatus(LogFolder(), status)) return false;
  return CreateFolder(LogFolder()) == folderCreated;
}
