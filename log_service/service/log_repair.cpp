#include "service/log_repair.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "format/commit_journal.h"
#include "format/document_file.h"
#include "format/log_layout.h"
#include "markup/markup.h"
#include "platform/platform_files.h"
#include "service/library_state.h"
#include "service/log_folder.h"

namespace {

bool EndsWith(std::u16string_view strName, std::u16string_view strEnd) {
  return strName.size() >= strEnd.size() && strName.substr(strName.size() - strEnd.size()) == strEnd;
}

// The root element of the document files the library keeps under strName;
// nullptr for any other name.
const char16_t* LocateDocumentRoot(std::u16string_view strName) {
  std::u16string strDate;
  if (strName == kSettingsFileName) return kSettingsRoot;
  if (ParsePendingLogName(strName, strDate)) return kLogRoot;
  const bool bDayName = strName.substr(0, kLogFilePrefix.size()) == kLogFilePrefix;
  return bDayName && EndsWith(strName, kLogFileExtension) ? kLogRoot : nullptr;
}

// The paths of the folder's document files, for the list of files still to
// be looked at; in the list, the folder itself stands for all of them.
void AddFolderFiles(std::vector<std::u16string>& aPaths) {
  CFileFind find;
  if (!find.FindFile(LogFolder())) return;
  for (bool bMore = true; bMore;) {
    bMore = find.FindNextEntry();
    const std::u16string strName = find.GetFileName();
    if (!find.IsDirectory() && LocateDocumentRoot(strName) != nullptr) aPaths.push_back(MakeLogPath(strName));
  }
}

// Cuts the file at strPath where a zero unit ends the text of a whole
// document with its own root. False when another program holds the file, so
// that it is still to be looked at; true once it has been, or cannot be for
// a lasting reason.
bool CutBehindDocumentText(const std::u16string& strPath) {
  const std::u16string strName = strPath.substr(strPath.rfind(kPathSeparator[0]) + 1);
  const char16_t* szRoot = LocateDocumentRoot(strName);
  std::u16string strDate;
  // A pending file is opened as its movers open it, who may remove it.
  const bool bPending = ParsePendingLogName(strName, strDate);
  try {
    CFile file;
    if (!file.Open(strPath, bPending ? CFile::modeReadWriteRemovable : CFile::modeReadWriteDenyWrite, waitNever)) {
      return file.GetOpenError() != causeSharingViolation;
    }
    uint64_t nUnread = LocateUnreadBytes(file);
    if (nUnread == 0 || szRoot == nullptr) return true;
    if (RollBackCommit(file)) {
      nUnread = LocateUnreadBytes(file);
      // A rolled-back shrinking update leaves the old text whole up to the
      // file's end: nothing more to cut.
      if (nUnread == 0) return true;
    }
    CXmlDocument doc;
    if (doc.SetDocument(ReadDocumentFile(file)) && doc.LocateElement(0, 0, szRoot) != 0) file.SetLength(nUnread);
  } catch (const CFileException& error) {
    return error.m_nCause != causeSharingViolation;
  } catch (const std::exception&) {
    // A text too long for memory stays as it is.
  }
  return true;
}

}  // namespace

void NoteInterruptedUpdatesToCut() { LibraryState().m_aUncheckedLogs = {LogFolder()}; }

void CutDeferredInterruptedUpdates() {
  std::vector<std::u16string>& aUnchecked = LibraryState().m_aUncheckedLogs;
  const auto itFolder = std::find(aUnchecked.begin(), aUnchecked.end(), LogFolder());
  if (itFolder != aUnchecked.end()) {
    aUnchecked.erase(itFolder);
    AddFolderFiles(aUnchecked);
  }
  aUnchecked.erase(std::remove_if(aUnchecked.begin(), aUnchecked.end(), CutBehindDocumentText), aUnchecked.end());
}
