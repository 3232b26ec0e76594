// POSIX half of the tool's state files (state_file.h).
#include "system/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "base/paths.h"

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

// What a file is when it is not a regular file, in words.
std::string KindOf(mode_t nMode) {
  if (S_ISLNK(nMode)) return "a symbolic link";
  if (S_ISDIR(nMode)) return "a folder";
  if (S_ISCHR(nMode) || S_ISBLK(nMode)) return "a device";
  if (S_ISFIFO(nMode)) return "a pipe";
  if (S_ISSOCK(nMode)) return "a socket";
  return "not a regular file";
}

std::string NotRegular(mode_t nMode) {
  const std::string strKind = KindOf(nMode);
  return strKind.rfind("not ", 0) == 0 ? strKind : strKind + ", not a regular file";
}

// Opens a name without following a link at its end and without waiting on a
// pipe, and accepts it only as a regular file; -1 otherwise, bMissing
// telling whether there was no such file.
int OpenRegular(const std::string& strPath, int nFlags, mode_t nMode, std::string& strError, bool& bMissing) {
  bMissing = false;
  const int nFile = open(strPath.c_str(), nFlags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, nMode);
  if (nFile < 0) {
    bMissing = errno == ENOENT;
    strError = errno == ELOOP ? "a symbolic link, not a regular file" : ErrorText();
    return -1;
  }
  struct stat info {};
  const bool bKnown = fstat(nFile, &info) == 0;
  if (bKnown && S_ISREG(info.st_mode)) return nFile;
  strError = bKnown ? NotRegular(info.st_mode) : ErrorText();
  close(nFile);
  return -1;
}

// A name beside strPath that no one can guess: "FILE.tmp-" and 16 hex digits.
std::string TemporaryNameFor(const std::string& strPath) {
  static std::random_device device;
  static std::mt19937_64 generator((static_cast<uint64_t>(device()) << 32) ^ device() ^
                                   static_cast<uint64_t>(getpid()));
  char szSuffix[24];
  std::snprintf(szSuffix, sizeof szSuffix, "%016llx", static_cast<unsigned long long>(generator()));
  return strPath + ".tmp-" + szSuffix;
}

}  // namespace

StateFileRead ReadStateFile(const std::string& strPath, std::string& strBytes, std::string& strError) {
  strBytes.clear();
  bool bMissing = false;
  const int nFile = OpenRegular(strPath, O_RDONLY, 0, strError, bMissing);
  if (nFile < 0) return bMissing ? stateFileMissing : stateFileUnreadable;
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
    if (strBytes.size() > kMaxStateFileBytes) {
      strError = "larger than " + std::to_string(kMaxStateFileBytes / 1024) + " KiB";
      close(nFile);
      return stateFileUnreadable;
    }
  }
  close(nFile);
  return stateFileRead;
}

bool IsStateFilePath(const std::string& strPath, std::string& strError) {
  struct stat info {};
  if (lstat(strPath.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    strError = ErrorText();
    return false;
  }
  if (S_ISREG(info.st_mode)) return true;
  strError = NotRegular(info.st_mode);
  return false;
}

bool ReplaceStateFile(const std::string& strPath, const std::string& strBytes, std::string& strError) {
  // A name that someone else made (a link, a file of theirs) is never
  // opened: O_EXCL fails on it, and another name is drawn.
  std::string strTemporary;
  int nFile = -1;
  for (int nAttempt = 0; nAttempt < 16 && nFile < 0; ++nAttempt) {
    strTemporary = TemporaryNameFor(strPath);
    nFile = open(strTemporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (nFile < 0 && errno != EEXIST) break;
  }
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

CStateLock::~CStateLock() {
  if (m_hFile != -1) close(static_cast<int>(m_hFile));
}

CStateLock::Result CStateLock::Take(const std::string& strStatePath, std::string& strError) {
  const std::string strLockPath = LockPathOf(strStatePath);
  bool bMissing = false;
  const int nFile = OpenRegular(strLockPath, O_RDWR | O_CREAT, 0644, strError, bMissing);
  if (nFile < 0) {
    strError = strLockPath + ": " + strError;
    return lockFailed;
  }
  // flock belongs to this open file, not to the process: it stays with the
  // object, and ends with it or with the process.
  while (flock(nFile, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const bool bHeld = errno == EWOULDBLOCK;
    strError = strLockPath + ": " + ErrorText();
    close(nFile);
    return bHeld ? lockHeld : lockFailed;
  }
  if (m_hFile != -1) close(static_cast<int>(m_hFile));
  m_hFile = nFile;
  return lockTaken;
}
