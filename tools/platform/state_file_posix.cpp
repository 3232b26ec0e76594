// POSIX half of the tool's state files (state_file.h).
#include "state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log_file.h"

namespace {

std::string ErrorText() { return std::strerror(errno); }

bool WriteAll(int nFile, const std::string& strBytes) {
  for (size_t nDone = 0; nDone < strBytes.size();) {
    const ssize_t nWritten = write(nFile, strBytes.data() + nDone, strBytes.size() - nDone);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten <= 0) return false;
    nDone += static_cast<size_t>(nWritten);
  }
  return true;
}

// The rename itself is only on the disk once the folder is.
void FlushFolderOf(const std::string& strPath) {
  std::string strFolder = FolderOf(strPath);
  const int nFolder = open(strFolder.empty() ? "." : strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (nFolder < 0) return;
  fsync(nFolder);
  close(nFolder);
}

}  // namespace

StateFileRead ReadStateFile(const std::string& strPath, std::string& strBytes, std::string& strError) {
  strBytes.clear();
  const int nFile = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (nFile < 0) {
    if (errno == ENOENT) return stateFileMissing;
    strError = ErrorText();
    return stateFileUnreadable;
  }
  char aBuffer[4096];
  for (;;) {
    const ssize_t nRead = read(nFile, aBuffer, sizeof aBuffer);
    if (nRead < 0 && errno == EINTR) continue;
    if (nRead < 0) {
      strError = ErrorText();
      close(nFile);
      return stateFileUnreadable;
    }
    if (nRead == 0) break;
    strBytes.append(aBuffer, static_cast<size_t>(nRead));
  }
  close(nFile);
  return stateFileRead;
}

bool ReplaceStateFile(const std::string& strPath, const std::string& strBytes, std::string& strError) {
  const std::string strTemporary = strPath + ".tmp";
  const int nFile = open(strTemporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (nFile < 0) {
    strError = ErrorText();
    return false;
  }
  const bool bWritten = WriteAll(nFile, strBytes) && fsync(nFile) == 0;
  if (!bWritten) strError = ErrorText();
  close(nFile);
  if (bWritten && rename(strTemporary.c_str(), strPath.c_str()) == 0) {
    FlushFolderOf(strPath);
    return true;
  }
  if (bWritten) strError = ErrorText();
  unlink(strTemporary.c_str());
  return false;
}
