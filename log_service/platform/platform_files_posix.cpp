// POSIX half of the platform seam (see platform_files.h for the contracts).
//
// Windows share modes have no POSIX counterpart, so every open of the library
// takes an exclusive flock() on its own open file description: that excludes
// other openers in this process (other threads) and in other processes alike,
// which record locks (fcntl) would not. The hidden attribute is kept where
// Wine keeps it, in the extended attribute "user.DOSATTRIB" as hex text, so a
// folder shared with the Windows build reads the same on both sides.
//
// Paths travel as UTF-16 and reach the system as UTF-8. A byte of a file name
// that is not valid UTF-8 comes back as the lone surrogate U+DC80..U+DCFF and
// goes out again as that byte, so every name that a listing returns can be
// handed back to Remove and names the same file.

#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "platform/platform_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file_faults.h"
#include "platform/platform_shared.h"
#include "platform/unicode_text.h"

const char16_t kPathSeparator[] = u"/";
const char16_t kFallbackFolder[] = u"/";

namespace {

// ---------------------------------------------------------------------------
// Text: UTF-16 <-> UTF-8
// ---------------------------------------------------------------------------

// Escapes for bytes that are not part of valid UTF-8; see the file comment.
// The byte b travels as kEscapeBase + b, a lone low surrogate.
constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kEscapeFirst = kEscapeBase + 0x80;
constexpr char16_t kEscapeLast = kEscapeBase + 0xFF;

// Lone surrogates other than the byte escapes cannot name a file that a
// listing returned; they are written in the three-byte form so that two
// different paths never collapse into one.
std::string ToSystemPath(const std::u16string& strPath) {
  std::string strOut;
  strOut.reserve(strPath.size());
  for (size_t i = 0; i < strPath.size();) {
    const char16_t c = strPath[i];
    if (c >= kEscapeFirst && c <= kEscapeLast) {
      strOut += static_cast<char>(c - kEscapeBase);
      ++i;
    } else {
      AppendUtf8(strOut, NextUtf16CodePoint(strPath, i));
    }
  }
  return strOut;
}

std::u16string FromSystemPath(const char* pBytes, size_t nCount) {
  const std::string_view strBytes(pBytes, nCount);
  std::u16string strOut;
  strOut.reserve(nCount);
  for (size_t i = 0; i < nCount;) {
    char32_t cPoint = 0;
    const size_t nLength = ReadUtf8Sequence(strBytes, i, cPoint);
    if (nLength == 0) {
      strOut += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(strBytes[i]));
      ++i;
    } else {
      AppendUtf16(strOut, cPoint);
      i += nLength;
    }
  }
  return strOut;
}

std::u16string FromSystemPath(const std::string& strBytes) { return FromSystemPath(strBytes.data(), strBytes.size()); }

// ---------------------------------------------------------------------------
// Errors: the one place where errno becomes a cause
// ---------------------------------------------------------------------------

FileErrorCause TranslateError(int nError) {
  switch (nError) {
    case 0:
      return causeNone;
    case ENOENT:
    case ENOTDIR:
      return causeNotFound;
    case EEXIST:
      return causeAlreadyExists;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ELOOP:  // O_NOFOLLOW met a symbolic link
    case EROFS:
    case ETXTBSY:
      return causeAccessDenied;
    case EWOULDBLOCK:
      return causeSharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:  // the file size limit stops a write as a full disk would
      return causeDiskFull;
    case EIO:
      return causeIoError;
    default:
      return causeOther;
  }
}

[[noreturn]] void RaiseError(int nError, const std::u16string& strPath) {
  throw CFileException(TranslateError(nError), strPath);
}

// ---------------------------------------------------------------------------
// Fault injection: the one place where file calls are counted
// ---------------------------------------------------------------------------

int ErrorNumberFor(FileErrorCause nCause) {
  switch (nCause) {
    case causeNotFound:
      return ENOENT;
    case causeAlreadyExists:
      return EEXIST;
    case causeAccessDenied:
      return EACCES;
    case causeSharingViolation:
      return EWOULDBLOCK;
    case causeDiskFull:
      return ENOSPC;
    case causeIoError:
      return EIO;
    case causeNone:
    case causeOther:
      break;
  }
  return EINVAL;
}

// Counts one call of a file operation. Returns the errno with which the call
// is to fail, or 0 when it is to run; pFailing then receives the plan, which
// tells a write how much to send before failing.
int CountFileCall(CFileFaultPlan* pFailing = nullptr) {
  CFileFaultPlan failing;
  if (!CountFileCallForFaults(failing)) return 0;
  if (pFailing != nullptr) *pFailing = failing;
  return ErrorNumberFor(failing.m_nCause);
}

// ---------------------------------------------------------------------------
// Locks standing in for share modes
// ---------------------------------------------------------------------------

// What a waiter can see of a holder's work: a holder that writes changes the
// file's size or times, and one that replaces the file leaves another file
// under the path.
struct FileProgress {
  dev_t m_nDevice = 0;    // file under the path ...
  ino_t m_nInode = 0;     // ... by its identity
  off_t m_nSize = 0;      // length in bytes
  timespec m_modified{};  // last write of the content
  timespec m_changed{};   // last change of content or status
};

FileProgress ReadProgress(const std::string& strPath) {
  FileProgress progress;
  struct stat status {};
  if (lstat(strPath.c_str(), &status) != 0) return progress;
  progress.m_nDevice = status.st_dev;
  progress.m_nInode = status.st_ino;
  progress.m_nSize = status.st_size;
  progress.m_modified = status.st_mtim;
  progress.m_changed = status.st_ctim;
  return progress;
}

bool operator==(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
bool operator==(const FileProgress& a, const FileProgress& b) {
  return a.m_nDevice == b.m_nDevice && a.m_nInode == b.m_nInode && a.m_nSize == b.m_nSize &&
         a.m_modified == b.m_modified && a.m_changed == b.m_changed;
}

// Takes the lock nLock (LOCK_EX, or LOCK_SH for a reader that lets other
// readers in) on nFile, open as strPath, waiting for another opener as
// RetryWhileHeld does unless nWait is waitNever. Returns 0 or the errno that
// stopped it.
int LockWithWait(int nFile, const std::string& strPath, int nLock, FileWait nWait) {
  int nError = 0;
  const bool bLocked = RetryWhileHeld(
      nWait,
      [&] {
        do {
          nError = flock(nFile, nLock | LOCK_NB) == 0 ? 0 : errno;
        } while (nError == EINTR);
        return nError == 0;
      },
      [&] { return nError == EWOULDBLOCK; }, [&] { return ReadProgress(strPath); });
  return bLocked ? 0 : nError;
}

// True when strPath still names the file open as nFile. A waiter can win the
// lock on a file that its holder removed or replaced meanwhile; writing to
// that orphan would lose the data, so such an open starts over.
bool StillNamesFile(int nFile, const std::string& strPath) {
  struct stat opened {
  }, named{};
  if (fstat(nFile, &opened) != 0 || lstat(strPath.c_str(), &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

int OpenFlags(CFile::OpenMode nMode) {
  // O_NONBLOCK keeps a FIFO of the same name from stalling the open; the
  // file-type check below then refuses it. It has no effect on regular files.
  const int nCommon = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  switch (nMode) {
    case CFile::modeReadExclusive:
    case CFile::modeReadShared:
    case CFile::modeReadAlongsideWriters:
      return nCommon | O_RDONLY;
    case CFile::modeCreateExclusive:
      return nCommon | O_WRONLY | O_CREAT;
    case CFile::modeCreateNewExclusive:
      return nCommon | O_WRONLY | O_CREAT | O_EXCL;
    case CFile::modeReadWriteDenyWrite:
    case CFile::modeReadWriteRemovable:
      return nCommon | O_RDWR;
  }
  return nCommon | O_RDONLY;
}

int OpenRetryingInterrupts(const std::string& strPath, int nFlags) {
  int nFile;
  do {
    nFile = open(strPath.c_str(), nFlags, 0666);
  } while (nFile < 0 && errno == EINTR);
  return nFile;
}

void CloseDescriptor(int nFile) {
  // No retry on EINTR: on Linux the descriptor is released either way.
  if (nFile >= 0) close(nFile);
}

// One attempt of CFile::Open: the opened, locked, regular file, or -1 with
// nError set. bReplaced tells the caller to start over.
int OpenLocked(const std::string& strPath, CFile::OpenMode nMode, FileWait nWait, int& nError, bool& bReplaced) {
  bReplaced = false;
  const int nFile = OpenRetryingInterrupts(strPath, OpenFlags(nMode));
  if (nFile < 0) {
    nError = errno;
    return -1;
  }
  struct stat status {};
  if (fstat(nFile, &status) != 0 || !S_ISREG(status.st_mode)) {
    nError = S_ISDIR(status.st_mode) ? EISDIR : EACCES;
    CloseDescriptor(nFile);
    return -1;
  }
  const bool bShared = nMode == CFile::modeReadShared || nMode == CFile::modeReadAlongsideWriters;
  nError = LockWithWait(nFile, strPath, bShared ? LOCK_SH : LOCK_EX, nWait);
  if (nError == 0 && !StillNamesFile(nFile, strPath)) bReplaced = true;
  if (nError != 0 || bReplaced) {
    CloseDescriptor(nFile);
    return -1;
  }
  // Emptying waits for the lock so that a holder's content is never cut.
  if (nMode == CFile::modeCreateExclusive && ftruncate(nFile, 0) != 0) {
    nError = errno;
    CloseDescriptor(nFile);
    return -1;
  }
  // Back to blocking transfers for the file's lifetime.
  fcntl(nFile, F_SETFL, fcntl(nFile, F_GETFL) & ~O_NONBLOCK);
  return nFile;
}

// ---------------------------------------------------------------------------
// Status: hidden attribute and creation time
// ---------------------------------------------------------------------------

constexpr char kDosAttributeName[] = "user.DOSATTRIB";
constexpr unsigned kDosHidden = 0x2;

// The DOS attribute bits stored for the file, 0 when none are. The value is
// hex text ("0x2"); Samba appends binary data after a zero byte, which is
// skipped.
unsigned ReadDosAttributes(const std::string& strPath) {
#if defined(__linux__)
  char buffer[64] = {};
  const ssize_t nLength = lgetxattr(strPath.c_str(), kDosAttributeName, buffer, sizeof buffer - 1);
  if (nLength <= 0) return 0;
  return static_cast<unsigned>(std::strtoul(buffer, nullptr, 16));
#else
  (void)strPath;
  return 0;
#endif
}

// Sets or clears the hidden bit, keeping any other stored bits. A file system
// without user extended attributes has no hidden attribute to set: that is
// not a failure, as leaving the file visible is the only thing it allows.
int WriteHidden(const std::string& strPath, bool bHidden) {
#if defined(__linux__)
  const unsigned nOld = ReadDosAttributes(strPath);
  const unsigned nNew = bHidden ? (nOld | kDosHidden) : (nOld & ~kDosHidden);
  if (nNew == nOld) return 0;
  int nResult;
  if (nNew == 0) {
    nResult = lremovexattr(strPath.c_str(), kDosAttributeName);
    if (nResult != 0 && errno == ENODATA) return 0;
  } else {
    char text[16];
    const int nLength = std::snprintf(text, sizeof text, "0x%x", nNew);
    nResult = lsetxattr(strPath.c_str(), kDosAttributeName, text, nLength, 0);
  }
  if (nResult == 0) return 0;
  return errno == ENOTSUP ? 0 : errno;
#else
  (void)strPath, (void)bHidden;
  return 0;
#endif
}

bool HasDotName(const std::string& strPath) {
  const size_t nSlash = strPath.find_last_of('/');
  const std::string strName = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
  return strName.size() > 1 && strName[0] == '.' && strName != "..";
}

// Birth time where the file system records one, else the last write.
int64_t ReadCreationTime(const std::string& strPath, const struct stat& status) {
#if defined(__linux__) && defined(STATX_BTIME)
  struct statx extended {};
  if (statx(AT_FDCWD, strPath.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &extended) == 0 &&
      (extended.stx_mask & STATX_BTIME) != 0) {
    return extended.stx_btime.tv_sec;
  }
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__NetBSD__)
  (void)strPath;
  return status.st_birthtime;
#else
  (void)strPath;
#endif
  return status.st_mtime;
}

uint8_t ComposeAttribute(const std::string& strPath, const struct stat& status) {
  uint8_t nAttribute = attributeNormal;
  if (S_ISDIR(status.st_mode)) nAttribute |= attributeDirectory;
  if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode)) nAttribute |= attributeNotRegular;
  if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) nAttribute |= attributeReadOnly;
  if (HasDotName(strPath) || (ReadDosAttributes(strPath) & kDosHidden) != 0) {
    nAttribute |= attributeHidden;
  }
  return nAttribute;
}

timespec ToTimespec(int64_t nTime) {
  timespec time{};
  if (nTime == 0) {
    time.tv_nsec = UTIME_OMIT;
  } else {
    time.tv_sec = static_cast<time_t>(nTime);
  }
  return time;
}

// ---------------------------------------------------------------------------
// The host's executable
// ---------------------------------------------------------------------------

bool ReadRealExecutablePath(std::u16string& strPath) {
#if defined(__linux__)
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t nLength = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (nLength < 0) return false;
    if (static_cast<size_t>(nLength) < buffer.size()) {
      strPath = FromSystemPath(buffer.data(), static_cast<size_t>(nLength));
      return true;
    }
    // readlink cuts silently: a full buffer may be a cut path.
    if (buffer.size() >= 65536) return false;
    buffer.resize(buffer.size() * 2);
  }
#else
  (void)strPath;
  return false;
#endif
}

}  // namespace

// ---------------------------------------------------------------------------
// CFile
// ---------------------------------------------------------------------------

CFile::~CFile() { Close(); }

CFile::CFile(CFile&& other) noexcept
    : m_hFile(other.m_hFile), m_strPath(std::move(other.m_strPath)), m_nOpenError(other.m_nOpenError) {
  other.m_hFile = -1;
}

CFile& CFile::operator=(CFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_hFile = other.m_hFile;
    m_strPath = std::move(other.m_strPath);
    m_nOpenError = other.m_nOpenError;
    other.m_hFile = -1;
  }
  return *this;
}

bool CFile::Open(const std::u16string& strPath, OpenMode nMode, FileWait nWait) {
  Close();
  m_strPath = strPath;
  m_nOpenError = causeNone;
  if (const int nInjected = CountFileCall()) {
    m_nOpenError = TranslateError(nInjected);
    return false;
  }
  const std::string strSystemPath = ToSystemPath(strPath);
  // A replaced file is met at most once per holder; the bound only guards
  // against a peer that keeps replacing the file.
  for (int nAttempt = 0; nAttempt < 16; ++nAttempt) {
    int nError = 0;
    bool bReplaced = false;
    const int nFile = OpenLocked(strSystemPath, nMode, nWait, nError, bReplaced);
    if (nFile >= 0) {
      m_hFile = nFile;
      return true;
    }
    if (!bReplaced) {
      m_nOpenError = TranslateError(nError);
      return false;
    }
  }
  m_nOpenError = causeSharingViolation;
  return false;
}

bool CFile::IsOpen() const noexcept { return m_hFile != -1; }

uint64_t CFile::GetLength() const {
  if (const int nInjected = CountFileCall()) RaiseError(nInjected, m_strPath);
  struct stat status {};
  if (fstat(static_cast<int>(m_hFile), &status) != 0) RaiseError(errno, m_strPath);
  return static_cast<uint64_t>(status.st_size);
}

uint32_t CFile::GetLinkCount() const noexcept {
  struct stat status {};
  if (m_hFile < 0 || fstat(static_cast<int>(m_hFile), &status) != 0) return 0;
  return static_cast<uint32_t>(status.st_nlink);
}

void CFile::SeekToBegin() { Seek(0); }

void CFile::Seek(uint64_t nOffset) {
  if (const int nInjected = CountFileCall()) RaiseError(nInjected, m_strPath);
  if (nOffset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
    RaiseError(EINVAL, m_strPath);
  }
  if (lseek(static_cast<int>(m_hFile), static_cast<off_t>(nOffset), SEEK_SET) < 0) {
    RaiseError(errno, m_strPath);
  }
}

size_t CFile::Read(void* pBuffer, size_t nCount) {
  if (const int nInjected = CountFileCall()) RaiseError(nInjected, m_strPath);
  auto* pBytes = static_cast<char*>(pBuffer);
  size_t nDone = 0;
  while (nDone < nCount) {
    const ssize_t nRead = read(static_cast<int>(m_hFile), pBytes + nDone, nCount - nDone);
    if (nRead < 0) {
      if (errno == EINTR) continue;
      RaiseError(errno, m_strPath);
    }
    if (nRead == 0) break;
    nDone += static_cast<size_t>(nRead);
  }
  return nDone;
}

void CFile::Write(const void* pBuffer, size_t nCount) {
  const auto* pBytes = static_cast<const char*>(pBuffer);
  CFileFaultPlan failing;
  const int nInjected = CountFileCall(&failing);
  size_t nEnd = nCount;
  if (nInjected != 0) {
    // A short write sends the first half, as a full disk does part-way
    // through a write; a cut one stops where a kill could stop it.
    const off_t nAt = lseek(static_cast<int>(m_hFile), 0, SEEK_CUR);
    const size_t nToPage = nAt < 0 ? 0 : static_cast<size_t>(4096 - nAt % 4096);
    nEnd = failing.m_bShortWrite ? nCount / 2 : failing.m_bCutAtPage && nToPage < nCount ? nToPage : 0;
  }
  size_t nDone = 0;
  while (nDone < nEnd) {
    const ssize_t nWritten = write(static_cast<int>(m_hFile), pBytes + nDone, nEnd - nDone);
    if (nWritten < 0) {
      if (errno == EINTR) continue;
      RaiseError(errno, m_strPath);
    }
    if (nWritten == 0) RaiseError(EIO, m_strPath);
    nDone += static_cast<size_t>(nWritten);
  }
  if (nInjected != 0) RaiseError(nInjected, m_strPath);
}

void CFile::SetLength(uint64_t nLength) {
  if (const int nInjected = CountFileCall()) RaiseError(nInjected, m_strPath);
  if (nLength > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
    RaiseError(EINVAL, m_strPath);
  }
  if (ftruncate(static_cast<int>(m_hFile), static_cast<off_t>(nLength)) != 0) {
    RaiseError(errno, m_strPath);
  }
}

void CFile::Close() noexcept {
  if (m_hFile == -1) return;
  CloseDescriptor(static_cast<int>(m_hFile));  // releases the lock too
  m_hFile = -1;
}

// The name goes while the lock is held: a waiter that wins the lock after
// the close sees that the path no longer names its file and starts over.
void CFile::RemoveAndClose() {
  if (const int nInjected = CountFileCall()) RaiseError(nInjected, m_strPath);
  const std::string strSystemPath = ToSystemPath(m_strPath);
  const int nFile = static_cast<int>(m_hFile);
  if (StillNamesFile(nFile, strSystemPath) && unlink(strSystemPath.c_str()) != 0) RaiseError(errno, m_strPath);
  Close();
}

bool CFile::GetStatus(const std::u16string& strPath, CFileStatus& status) {
  if (CountFileCall() != 0) return false;
  const std::string strSystemPath = ToSystemPath(strPath);
  struct stat info {};
  if (lstat(strSystemPath.c_str(), &info) != 0) return false;
  status.m_ctime = ReadCreationTime(strSystemPath, info);
  status.m_mtime = info.st_mtime;
  status.m_atime = info.st_atime;
  status.m_size = S_ISDIR(info.st_mode) ? 0 : static_cast<uint64_t>(info.st_size);
  status.m_attribute = ComposeAttribute(strSystemPath, info);
  return true;
}

// The creation time cannot be set on POSIX file systems and is left as it is.
// The read-only bit is not applied either: permissions are the owner's to
// set, and an unwritable file makes the next open fail, which callers handle.
void CFile::SetStatus(const std::u16string& strPath, const CFileStatus& status) {
  if (const int nInjected = CountFileCall()) RaiseError(nInjected, strPath);
  const std::string strSystemPath = ToSystemPath(strPath);
  struct stat info {};
  if (lstat(strSystemPath.c_str(), &info) != 0) RaiseError(errno, strPath);
  const int nError = WriteHidden(strSystemPath, (status.m_attribute & attributeHidden) != 0);
  if (nError != 0) RaiseError(nError, strPath);
  if (status.m_atime == 0 && status.m_mtime == 0) return;
  const timespec times[2] = {ToTimespec(status.m_atime), ToTimespec(status.m_mtime)};
  if (utimensat(AT_FDCWD, strSystemPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    RaiseError(errno, strPath);
  }
}

// unlink() would succeed under an open file, unlike the Windows deletion the
// callers are written for. Taking the file's lock first lets an update in
// progress finish, and a holder that keeps the file past the share wait makes
// the removal fail as it would on Windows.
void CFile::Remove(const std::u16string& strPath, FileWait nWait) {
  if (const int nInjected = CountFileCall()) RaiseError(nInjected, strPath);
  const std::string strSystemPath = ToSystemPath(strPath);
  const int nFile = OpenRetryingInterrupts(strSystemPath, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (nFile >= 0) {
    const int nError = LockWithWait(nFile, strSystemPath, LOCK_EX, nWait);
    if (nError != 0) {
      CloseDescriptor(nFile);
      RaiseError(nError, strPath);
    }
  }
  // Without a descriptor (a link, an unreadable file) there is no lock of the
  // library to respect, and unlink() decides alone.
  const int nResult = unlink(strSystemPath.c_str());
  const int nError = errno;
  CloseDescriptor(nFile);
  if (nResult != 0) RaiseError(nError, strPath);
}

// No scanner can hold a name here: a rename never meets an opener.
void CFile::Rename(const std::u16string& strFrom, const std::u16string& strTo, bool bReplace, FileWait /* nWait */) {
  if (const int nInjected = CountFileCall()) RaiseError(nInjected, strTo);
  const std::string strSystemFrom = ToSystemPath(strFrom);
  const std::string strSystemTo = ToSystemPath(strTo);
  if (bReplace) {
    if (rename(strSystemFrom.c_str(), strSystemTo.c_str()) != 0) RaiseError(errno, strTo);
    return;
  }
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (renameat2(AT_FDCWD, strSystemFrom.c_str(), AT_FDCWD, strSystemTo.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) RaiseError(errno, strTo);
#endif
  // A file system without the flag: a hard link refuses an existing name in
  // one step just the same, and the old name then goes.
  if (link(strSystemFrom.c_str(), strSystemTo.c_str()) != 0) RaiseError(errno, strTo);
  unlink(strSystemFrom.c_str());
}

// ---------------------------------------------------------------------------
// CFileFind
// ---------------------------------------------------------------------------

struct CFileFind::Listing {
  struct Entry {
    std::string m_strName;  // name as the system gave it
    bool m_bDirectory;      // a folder itself, not a link to one
  };
  std::u16string m_strFolder;     // as passed to FindFile
  std::vector<Entry> m_aEntries;  // sorted by name
  size_t m_nNext = 0;             // index of the entry FindNextEntry moves to
};

CFileFind::~CFileFind() { Close(); }

// The entries are read whole before the caller sees any: the purge removes
// entries while it walks them, and a snapshot is unaffected by that.
bool CFileFind::FindFile(const std::u16string& strFolder) {
  Close();
  if (CountFileCall() != 0) return false;
  // Owned from the start, so that a failing allocation closes it again.
  std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(ToSystemPath(strFolder).c_str()), closedir);
  if (directory == nullptr) return false;
  DIR* pDirectory = directory.get();
  std::unique_ptr<Listing> pListing(new Listing);
  pListing->m_strFolder = strFolder;
  while (const dirent* pEntry = readdir(pDirectory)) {
    bool bDirectory = pEntry->d_type == DT_DIR;
    if (pEntry->d_type == DT_UNKNOWN) {
      struct stat info {};
      bDirectory = fstatat(dirfd(pDirectory), pEntry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
    }
    pListing->m_aEntries.push_back({pEntry->d_name, bDirectory});
  }
  directory.reset();
  if (pListing->m_aEntries.empty()) return false;
  std::sort(pListing->m_aEntries.begin(), pListing->m_aEntries.end(),
            [](const Listing::Entry& a, const Listing::Entry& b) { return a.m_strName < b.m_strName; });
  m_pListing = pListing.release();
  return true;
}

bool CFileFind::FindNextEntry() {
  if (m_pListing == nullptr || m_pListing->m_nNext >= m_pListing->m_aEntries.size()) return false;
  ++m_pListing->m_nNext;
  return m_pListing->m_nNext < m_pListing->m_aEntries.size();
}

bool CFileFind::IsDots() const {
  if (m_pListing == nullptr || m_pListing->m_nNext == 0) return false;
  const std::string& strName = m_pListing->m_aEntries[m_pListing->m_nNext - 1].m_strName;
  return strName == "." || strName == "..";
}

bool CFileFind::IsDirectory() const {
  if (m_pListing == nullptr || m_pListing->m_nNext == 0) return false;
  return m_pListing->m_aEntries[m_pListing->m_nNext - 1].m_bDirectory;
}

std::u16string CFileFind::GetFileName() const {
  if (m_pListing == nullptr || m_pListing->m_nNext == 0) return {};
  return FromSystemPath(m_pListing->m_aEntries[m_pListing->m_nNext - 1].m_strName);
}

std::u16string CFileFind::GetFilePath() const {
  if (m_pListing == nullptr || m_pListing->m_nNext == 0) return {};
  return m_pListing->m_strFolder + kPathSeparator + GetFileName();
}

bool CFileFind::GetCreationTime(int64_t& nTime) const {
  if (m_pListing == nullptr || m_pListing->m_nNext == 0) return false;
  const std::string strPath = ToSystemPath(GetFilePath());
  struct stat status {};
  if (lstat(strPath.c_str(), &status) != 0) return false;
  nTime = ReadCreationTime(strPath, status);
  return true;
}

void CFileFind::Close() noexcept {
  delete m_pListing;
  m_pListing = nullptr;
}

// ---------------------------------------------------------------------------
// Folders, host path, clock, text
// ---------------------------------------------------------------------------

bool GetHostExecutablePath(std::u16string& strPath) {
  bool bAvailable = false;
  if (ReadHostPathOverride(strPath, bAvailable)) return bAvailable;
  return ReadRealExecutablePath(strPath);
}

CreateFolderResult CreateFolder(const std::u16string& strPath) {
  if (CountFileCall() != 0) return folderFailed;
  if (mkdir(ToSystemPath(strPath).c_str(), 0777) == 0) return folderCreated;
  return errno == EEXIST ? folderAlreadyExists : folderFailed;
}

bool IsWriteAllOrNothing(uint64_t nOffset, size_t nCount) {
  // 4 KiB is the smallest page Linux uses; larger pages only cut less often.
  constexpr uint64_t kPageBytes = 4096;
  return nCount == 0 || nOffset / kPageBytes == (nOffset + nCount - 1) / kPageBytes;
}

uint32_t GetProcessNumber() { return static_cast<uint32_t>(getpid()); }

int64_t ReadClock() {
  int64_t nTime = 0;
  if (ReadClockOverride(nTime)) return nTime;
  return static_cast<int64_t>(std::time(nullptr));
}

bool ConvertToLocalTime(int64_t nTime, std::tm& local) {
  const auto nSystemTime = static_cast<time_t>(nTime);
  if (static_cast<int64_t>(nSystemTime) != nTime) return false;
  // localtime_r need not look at TZ again; tzset makes a changed zone count.
  tzset();
  return localtime_r(&nSystemTime, &local) != nullptr;
}

std::u16string DecodeNarrowText(const char* pBytes, size_t nCount) {
  std::u16string strText;
  if (!DecodeUtf8(std::string_view(pBytes, nCount), strText)) {
    const auto* pUnsigned = reinterpret_cast<const unsigned char*>(pBytes);
    strText.assign(pUnsigned, pUnsigned + nCount);
  }
  return strText;
}
