// The Win32 half of the platform seam (platform_files.h).
//
// Files are opened with real share modes: the open modes of the library map
// to share 0 (exclusive) or FILE_SHARE_READ (others may read, not write), the
// tool's reader adds FILE_SHARE_WRITE, and the system enforces them between
// threads and processes alike. Every system
// error is translated in TranslateError and nowhere else.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/file_faults.h"
#include "platform/platform_files.h"
#include "platform/platform_shared.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 code units");

const char16_t kPathSeparator[] = u"\\";
const char16_t kFallbackFolder[] = u"C:\\";

namespace {

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

const wchar_t* Wide(const std::u16string& str) { return reinterpret_cast<const wchar_t*>(str.c_str()); }

// Without the "\\?\" prefix the file calls refuse a path of MAX_PATH (260)
// characters or more, and CreateDirectoryW one of 248 or more: a log folder
// deep in a tree then gets no day's file, whose temporary name is about 30
// characters longer than the folder. The prefixed form has no such limit,
// but the system takes it as it stands ("/", "." and ".." are not resolved),
// so it is made from the full path. Shorter paths go as they are.
std::wstring SystemPath(const std::u16string& strPath) {
  constexpr size_t kShortLimit = MAX_PATH - 12;  // CreateDirectoryW's limit
  std::wstring strWide(Wide(strPath));
  if (strWide.size() < kShortLimit || strWide.compare(0, 4, L"\\\\?\\") == 0) return strWide;
  const DWORD nNeeded =
      GetFullPathNameW(strWide.c_str(), 0, nullptr /* lpBuffer: size only */, nullptr /* lpFilePart */);
  if (nNeeded == 0) return strWide;
  std::wstring strFull(nNeeded, L'\0');
  const DWORD nLength = GetFullPathNameW(strWide.c_str(), nNeeded, &strFull[0], nullptr /* lpFilePart */);
  if (nLength == 0 || nLength >= nNeeded) return strWide;
  strFull.resize(nLength);
  if (strFull.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + strFull.substr(2);  // \\server\share
  return L"\\\\?\\" + strFull;
}

// Most bytes handed to one ReadFile or WriteFile; a longer transfer takes
// several calls.
constexpr size_t kMostBytesPerCall = size_t{1} << 30;

// FILETIME counts 100-nanosecond ticks since 1 January 1601 UTC.
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

int64_t SecondsSince1970(const FILETIME& time) {
  const int64_t nTicks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return nTicks / kTicksPerSecond - kSecondsFrom1601To1970;
}

FILETIME FileTimeFromSeconds(int64_t nSeconds) {
  const uint64_t nTicks = static_cast<uint64_t>(nSeconds + kSecondsFrom1601To1970) * kTicksPerSecond;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(nTicks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(nTicks >> 32);
  return time;
}

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

FileErrorCause TranslateError(DWORD nError) {
  switch (nError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
      return causeNotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return causeAlreadyExists;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_CANNOT_MAKE:
      return causeAccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return causeSharingViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return causeDiskFull;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
      return causeIoError;
    default:
      return causeOther;
  }
}

[[noreturn]] void RaiseLastError(const std::u16string& strPath) {
  throw CFileException(TranslateError(GetLastError()), strPath);
}

bool IsSharingConflict(DWORD nError) { return nError == ERROR_SHARING_VIOLATION || nError == ERROR_LOCK_VIOLATION; }

// ---------------------------------------------------------------------------
// Fault injection: the one place where file calls are counted
// ---------------------------------------------------------------------------

DWORD ErrorCodeFor(FileErrorCause nCause) {
  switch (nCause) {
    case causeNotFound:
      return ERROR_FILE_NOT_FOUND;
    case causeAlreadyExists:
      return ERROR_FILE_EXISTS;
    case causeAccessDenied:
      return ERROR_ACCESS_DENIED;
    case causeSharingViolation:
      return ERROR_SHARING_VIOLATION;
    case causeDiskFull:
      return ERROR_DISK_FULL;
    case causeIoError:
      return ERROR_IO_DEVICE;
    case causeNone:
    case causeOther:
      break;
  }
  return ERROR_INVALID_FUNCTION;
}

// Counts one call of a file operation. Returns the system error with which
// the call is to fail (also left in GetLastError), or ERROR_SUCCESS when it
// is to run; pFailing then receives the plan, which tells a write how much
// to send before failing.
DWORD CountFileCall(CFileFaultPlan* pFailing = nullptr) {
  CFileFaultPlan failing;
  if (!CountFileCallForFaults(failing)) return ERROR_SUCCESS;
  if (pFailing != nullptr) *pFailing = failing;
  const DWORD nError = ErrorCodeFor(failing.m_nCause);
  SetLastError(nError);
  return nError;
}

// ---------------------------------------------------------------------------
// Handle owners
// ---------------------------------------------------------------------------

// Owns a handle from CreateFileW; closes it on every path.
class CHandle {
 public:
  explicit CHandle(HANDLE hHandle) noexcept : m_hHandle(hHandle) {}
  ~CHandle() {
    if (IsValid()) CloseHandle(m_hHandle);
  }
  CHandle(CHandle&& other) noexcept : m_hHandle(std::exchange(other.m_hHandle, INVALID_HANDLE_VALUE)) {}
  CHandle& operator=(CHandle&& other) noexcept {
    std::swap(m_hHandle, other.m_hHandle);
    return *this;
  }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;

  bool IsValid() const noexcept { return m_hHandle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const noexcept { return m_hHandle; }
  HANDLE Release() noexcept { return std::exchange(m_hHandle, INVALID_HANDLE_VALUE); }

 private:
  HANDLE m_hHandle;  // INVALID_HANDLE_VALUE when empty
};

// Owns a listing handle from FindFirstFileW, which FindClose ends instead of
// CloseHandle.
class CFindHandle {
 public:
  explicit CFindHandle(HANDLE hFind) noexcept : m_hFind(hFind) {}
  ~CFindHandle() {
    if (IsValid()) FindClose(m_hFind);
  }
  CFindHandle(CFindHandle&& other) noexcept : m_hFind(std::exchange(other.m_hFind, INVALID_HANDLE_VALUE)) {}
  CFindHandle& operator=(CFindHandle&&) = delete;
  CFindHandle(const CFindHandle&) = delete;
  CFindHandle& operator=(const CFindHandle&) = delete;

  bool IsValid() const noexcept { return m_hFind != INVALID_HANDLE_VALUE; }
  HANDLE Get() const noexcept { return m_hFind; }

 private:
  HANDLE m_hFind;  // INVALID_HANDLE_VALUE when empty
};

// The handle of an open CFile. A closed one holds -1, which Windows would take
// for the current process's pseudo-handle, so it is refused here.
HANDLE HandleOf(intptr_t hFile, const std::u16string& strPath) {
  if (hFile == -1) throw CFileException(causeOther, strPath);
  return reinterpret_cast<HANDLE>(hFile);
}

void MoveFilePointer(HANDLE hFile, uint64_t nOffset, const std::u16string& strPath) {
  LARGE_INTEGER nTo;
  nTo.QuadPart = static_cast<LONGLONG>(nOffset);
  if (!SetFilePointerEx(hFile, nTo, nullptr /* lpNewFilePointer */, FILE_BEGIN)) {
    RaiseLastError(strPath);
  }
}

// ---------------------------------------------------------------------------
// Opening with share modes
// ---------------------------------------------------------------------------

struct OpenRequest {
  DWORD nAccess;       // GENERIC_READ / GENERIC_WRITE / DELETE
  DWORD nShareMode;    // what other openers may do meanwhile
  DWORD nDisposition;  // OPEN_EXISTING, CREATE_ALWAYS or CREATE_NEW
};

OpenRequest RequestFor(CFile::OpenMode nMode) {
  // No other opener at all, for reading or writing.
  const DWORD nShareExclusive = 0;
  // Others may read the file meanwhile but not write it.
  const DWORD nShareDenyWrite = FILE_SHARE_READ;
  switch (nMode) {
    case CFile::modeReadExclusive:
      return {GENERIC_READ, nShareExclusive, OPEN_EXISTING};
    case CFile::modeReadShared:
      // A viewer that has the file open for reading (with read sharing, as
      // office programs and .NET's File.OpenRead do) does not stop this one.
      return {GENERIC_READ, nShareDenyWrite, OPEN_EXISTING};
    case CFile::modeCreateExclusive:
      // CREATE_ALWAYS empties an existing file only after the share check
      // has passed, so a file held by another opener is never emptied.
      // Windows refuses it over a hidden file (Wine does not); the library
      // re-creates only its own temporary files, which are never hidden.
      return {GENERIC_WRITE, nShareExclusive, CREATE_ALWAYS};
    case CFile::modeCreateNewExclusive:
      return {GENERIC_WRITE, nShareExclusive, CREATE_NEW};
    case CFile::modeReadAlongsideWriters:
      // Write sharing lets the library's writer, which holds the day's file
      // with GENERIC_WRITE, open before or while this reader has it; delete
      // sharing lets it remove a pending file that this reader has open.
      return {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING};
    case CFile::modeReadWriteRemovable:
      // DELETE access, for RemoveAndClose; every other opener must then
      // share deletion, which the library's own readers do.
      return {GENERIC_READ | GENERIC_WRITE | DELETE, nShareDenyWrite, OPEN_EXISTING};
    case CFile::modeReadWriteDenyWrite:
    default:
      return {GENERIC_READ | GENERIC_WRITE, nShareDenyWrite, OPEN_EXISTING};
  }
}

// What a waiter can see of a holder's work: a holder that writes changes the
// file's size or last-write time, and one that replaces the file leaves a
// file of another creation time under the name.
struct FileProgress {
  bool m_bPresent = false;  // the name could be looked up
  FILETIME m_created{};     // creation time of the file under the name
  FILETIME m_written{};     // its last write
  ULONGLONG m_nSize = 0;    // its length in bytes
};

FileProgress ReadProgress(const std::u16string& strPath) {
  FileProgress progress;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(SystemPath(strPath).c_str(), GetFileExInfoStandard, &data)) return progress;
  progress.m_bPresent = true;
  progress.m_created = data.ftCreationTime;
  progress.m_written = data.ftLastWriteTime;
  progress.m_nSize = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return progress;
}

bool operator==(const FileProgress& a, const FileProgress& b) {
  return a.m_bPresent == b.m_bPresent && CompareFileTime(&a.m_created, &b.m_created) == 0 &&
         CompareFileTime(&a.m_written, &b.m_written) == 0 && a.m_nSize == b.m_nSize;
}

// A call that meets another opener is tried again (RetryWhileHeld): another
// writer of the library, a virus scanner or a search indexer that has just
// opened the file lets go of it a moment later. attempt(nFailure) returns
// true on success, or false with the system error in nFailure; bHeld tells
// which errors mean "held".
template <typename Attempt, typename Held>
bool RetryWhileHeld(const std::u16string& strPath, FileWait nWait, DWORD& nError, Attempt attempt, Held bHeld) {
  return RetryWhileHeld(
      nWait, [&] { return attempt(nError); }, [&] { return bHeld(nError); }, [&] { return ReadProgress(strPath); });
}

// A create that finds the name taken by a file pending deletion (a scanner
// still has it open while another process deletes it) is denied access
// until the last handle goes. Where the name is free, access denied is the
// folder's permission, which no wait changes.
bool IsHeldForCreate(DWORD nError, const std::u16string& strPath) {
  if (IsSharingConflict(nError)) return true;
  return nError == ERROR_ACCESS_DENIED && GetFileAttributesW(SystemPath(strPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

HANDLE OpenWaitingForSharers(const std::u16string& strPath, const OpenRequest& request, FileWait nWait, DWORD& nError) {
  const std::wstring strSystemPath = SystemPath(strPath);
  const bool bCreates = request.nDisposition != OPEN_EXISTING;
  HANDLE hFile = INVALID_HANDLE_VALUE;
  RetryWhileHeld(
      strPath, nWait, nError,
      [&](DWORD& nFailure) {
        hFile = CreateFileW(strSystemPath.c_str(), request.nAccess, request.nShareMode,
                            nullptr /* lpSecurityAttributes: default */, request.nDisposition, FILE_ATTRIBUTE_NORMAL,
                            nullptr /* hTemplateFile */);
        nFailure = hFile == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        return hFile != INVALID_HANDLE_VALUE;
      },
      [&](DWORD nFailure) {
        // A file that a holder of DELETE access has just removed stays,
        // pending deletion, until its readers close it: a create meets it,
        // and so does an opener that wants to remove the file too.
        const bool bMeetsDeletion = bCreates || (request.nAccess & DELETE) != 0;
        return bMeetsDeletion ? IsHeldForCreate(nFailure, strPath) : IsSharingConflict(nFailure);
      });
  return hFile;
}

}  // namespace

// ---------------------------------------------------------------------------
// CFile
// ---------------------------------------------------------------------------

CFile::~CFile() { Close(); }

CFile::CFile(CFile&& other) noexcept
    : m_hFile(std::exchange(other.m_hFile, -1)),
      m_strPath(std::move(other.m_strPath)),
      m_nOpenError(other.m_nOpenError) {}

CFile& CFile::operator=(CFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_hFile = std::exchange(other.m_hFile, -1);
    m_strPath = std::move(other.m_strPath);
    m_nOpenError = other.m_nOpenError;
  }
  return *this;
}

bool CFile::Open(const std::u16string& strPath, OpenMode nMode, FileWait nWait) {
  Close();
  m_strPath = strPath;
  if (const DWORD nInjected = CountFileCall()) {
    m_nOpenError = TranslateError(nInjected);
    return false;
  }
  DWORD nError = ERROR_SUCCESS;
  CHandle file(OpenWaitingForSharers(strPath, RequestFor(nMode), nWait, nError));
  if (!file.IsValid()) {
    m_nOpenError = TranslateError(nError);
    return false;
  }
  m_hFile = reinterpret_cast<intptr_t>(file.Release());
  m_nOpenError = causeNone;
  return true;
}

bool CFile::IsOpen() const noexcept { return m_hFile != -1; }

uint64_t CFile::GetLength() const {
  if (CountFileCall() != ERROR_SUCCESS) RaiseLastError(m_strPath);
  LARGE_INTEGER nSize;
  if (!GetFileSizeEx(HandleOf(m_hFile, m_strPath), &nSize)) RaiseLastError(m_strPath);
  return static_cast<uint64_t>(nSize.QuadPart);
}

uint32_t CFile::GetLinkCount() const noexcept {
  BY_HANDLE_FILE_INFORMATION info;
  if (m_hFile == -1 || !GetFileInformationByHandle(reinterpret_cast<HANDLE>(m_hFile), &info)) return 0;
  return static_cast<uint32_t>(info.nNumberOfLinks);
}

void CFile::SeekToBegin() { Seek(0); }

void CFile::Seek(uint64_t nOffset) {
  if (CountFileCall() != ERROR_SUCCESS) RaiseLastError(m_strPath);
  MoveFilePointer(HandleOf(m_hFile, m_strPath), nOffset, m_strPath);
}

size_t CFile::Read(void* pBuffer, size_t nCount) {
  if (CountFileCall() != ERROR_SUCCESS) RaiseLastError(m_strPath);
  auto* pTo = static_cast<char*>(pBuffer);
  size_t nDone = 0;
  while (nDone < nCount) {
    const DWORD nAsk = static_cast<DWORD>(std::min<size_t>(nCount - nDone, kMostBytesPerCall));
    DWORD nGot = 0;
    if (!ReadFile(HandleOf(m_hFile, m_strPath), pTo + nDone, nAsk, &nGot, nullptr /* lpOverlapped */)) {
      RaiseLastError(m_strPath);
    }
    if (nGot == 0) break;  // end of file
    nDone += nGot;
  }
  return nDone;
}

void CFile::Write(const void* pBuffer, size_t nCount) {
  const auto* pFrom = static_cast<const char*>(pBuffer);
  CFileFaultPlan failing;
  const DWORD nInjected = CountFileCall(&failing);
  // A short write sends the first half, as a full disk does part-way
  // through a write. A kill never cuts a WriteFile (IsWriteAllOrNothing),
  // so a cut one sends nothing.
  const size_t nEnd = nInjected == ERROR_SUCCESS ? nCount : failing.m_bShortWrite ? nCount / 2 : 0;
  size_t nDone = 0;
  while (nDone < nEnd) {
    const DWORD nGive = static_cast<DWORD>(std::min<size_t>(nEnd - nDone, kMostBytesPerCall));
    DWORD nPut = 0;
    if (!WriteFile(HandleOf(m_hFile, m_strPath), pFrom + nDone, nGive, &nPut, nullptr /* lpOverlapped */)) {
      RaiseLastError(m_strPath);
    }
    if (nPut == 0) throw CFileException(causeIoError, m_strPath);
    nDone += nPut;
  }
  if (nInjected != ERROR_SUCCESS) throw CFileException(TranslateError(nInjected), m_strPath);
}

void CFile::SetLength(uint64_t nLength) {
  if (CountFileCall() != ERROR_SUCCESS) RaiseLastError(m_strPath);
  // SetEndOfFile cuts at the file pointer; the caller's position is kept.
  const HANDLE hFile = HandleOf(m_hFile, m_strPath);
  LARGE_INTEGER nZero;
  nZero.QuadPart = 0;
  LARGE_INTEGER nPosition;
  if (!SetFilePointerEx(hFile, nZero, &nPosition, FILE_CURRENT)) {
    RaiseLastError(m_strPath);
  }
  MoveFilePointer(hFile, nLength, m_strPath);
  if (!SetEndOfFile(hFile)) RaiseLastError(m_strPath);
  MoveFilePointer(hFile, static_cast<uint64_t>(nPosition.QuadPart), m_strPath);
}

void CFile::Close() noexcept {
  if (m_hFile == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(m_hFile));
  m_hFile = -1;
}

// The deletion is marked on the open handle, so the name stays ours until
// the close; a reader that shares deletion keeps the file alive, nameless
// to new openers, until it closes it too.
void CFile::RemoveAndClose() {
  if (CountFileCall() != ERROR_SUCCESS) RaiseLastError(m_strPath);
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(HandleOf(m_hFile, m_strPath), FileDispositionInfo, &disposition,
                                  sizeof disposition)) {
    RaiseLastError(m_strPath);
  }
  Close();
}

bool CFile::GetStatus(const std::u16string& strPath, CFileStatus& status) {
  if (CountFileCall() != ERROR_SUCCESS) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(SystemPath(strPath).c_str(), GetFileExInfoStandard, &data)) {
    return false;
  }
  status.m_ctime = SecondsSince1970(data.ftCreationTime);
  status.m_mtime = SecondsSince1970(data.ftLastWriteTime);
  status.m_atime = SecondsSince1970(data.ftLastAccessTime);
  status.m_size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  // Only the bits the library knows: a fresh Windows file also carries the
  // archive bit, which would make a normal file look otherwise.
  status.m_attribute =
      static_cast<uint8_t>(data.dwFileAttributes & (attributeReadOnly | attributeHidden | attributeDirectory));
  // A symbolic link or junction is a reparse point: described, never
  // followed by the library's own files.
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
    status.m_attribute |= attributeNotRegular;
  }
  return true;
}

void CFile::SetStatus(const std::u16string& strPath, const CFileStatus& status) {
  if (CountFileCall() != ERROR_SUCCESS) RaiseLastError(strPath);
  const DWORD nCurrent = GetFileAttributesW(SystemPath(strPath).c_str());
  if (nCurrent == INVALID_FILE_ATTRIBUTES) RaiseLastError(strPath);

  if (status.m_ctime != 0 || status.m_mtime != 0 || status.m_atime != 0) {
    // Attribute access only: it passes every share mode, so a file that
    // another caller holds open still gets its times.
    const DWORD nShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    CHandle file(CreateFileW(SystemPath(strPath).c_str(), FILE_WRITE_ATTRIBUTES, nShareAll,
                             nullptr /* lpSecurityAttributes: default */, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                             nullptr /* hTemplateFile */));
    if (!file.IsValid()) RaiseLastError(strPath);
    const FILETIME created = FileTimeFromSeconds(status.m_ctime);
    const FILETIME accessed = FileTimeFromSeconds(status.m_atime);
    const FILETIME written = FileTimeFromSeconds(status.m_mtime);
    // A null time is left as it is.
    if (!SetFileTime(file.Get(), status.m_ctime != 0 ? &created : nullptr, status.m_atime != 0 ? &accessed : nullptr,
                     status.m_mtime != 0 ? &written : nullptr)) {
      RaiseLastError(strPath);
    }
  }

  // The hidden and read-only bits come from the record; the file keeps every
  // other attribute it has (archive, system, ...).
  const DWORD nOurs = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
  DWORD nWanted = (nCurrent & ~(nOurs | FILE_ATTRIBUTE_DIRECTORY)) | (status.m_attribute & nOurs);
  if (nWanted == 0) nWanted = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileAttributesW(SystemPath(strPath).c_str(), nWanted)) RaiseLastError(strPath);
}

void CFile::Remove(const std::u16string& strPath, FileWait nWait) {
  if (CountFileCall() != ERROR_SUCCESS) RaiseLastError(strPath);
  const std::wstring strSystemPath = SystemPath(strPath);
  DWORD nError = ERROR_SUCCESS;
  const bool bRemoved = RetryWhileHeld(
      strPath, nWait, nError,
      [&](DWORD& nFailure) {
        const bool bDone = DeleteFileW(strSystemPath.c_str()) != 0;
        nFailure = bDone ? ERROR_SUCCESS : GetLastError();
        return bDone;
      },
      IsSharingConflict);
  if (!bRemoved) throw CFileException(TranslateError(nError), strPath);
}

void CFile::Rename(const std::u16string& strFrom, const std::u16string& strTo, bool bReplace, FileWait nWait) {
  if (CountFileCall() != ERROR_SUCCESS) RaiseLastError(strTo);
  // Without MOVEFILE_REPLACE_EXISTING an existing strTo fails the move with
  // ERROR_ALREADY_EXISTS and stays as it is.
  const DWORD nFlags = bReplace ? MOVEFILE_REPLACE_EXISTING : 0;
  const std::wstring strSystemFrom = SystemPath(strFrom), strSystemTo = SystemPath(strTo);
  DWORD nError = ERROR_SUCCESS;
  // A scanner that opened the file just written (or the file being
  // replaced) denies the move its access for a moment: sharing violation, or
  // access denied while a file is pending deletion. The caller has just
  // written strFrom in this folder, so access denied is no lasting refusal.
  const bool bMoved = RetryWhileHeld(
      strFrom, nWait, nError,
      [&](DWORD& nFailure) {
        const bool bDone = MoveFileExW(strSystemFrom.c_str(), strSystemTo.c_str(), nFlags) != 0;
        nFailure = bDone ? ERROR_SUCCESS : GetLastError();
        return bDone;
      },
      [](DWORD nFailure) { return IsSharingConflict(nFailure) || nFailure == ERROR_ACCESS_DENIED; });
  if (!bMoved) throw CFileException(TranslateError(nError), strTo);
}

// ---------------------------------------------------------------------------
// CFileFind
// ---------------------------------------------------------------------------

struct CFileFind::Listing {
  explicit Listing(CFindHandle&& find) : m_find(std::move(find)) {}

  CFindHandle m_find;            // the system's listing
  std::u16string m_strFolder;    // folder as given, for GetFilePath
  WIN32_FIND_DATAW m_current{};  // entry the caller moved to
  WIN32_FIND_DATAW m_ahead{};    // entry read one ahead
  bool m_bAhead = false;         // m_ahead holds an entry
};

CFileFind::~CFileFind() { Close(); }

bool CFileFind::FindFile(const std::u16string& strFolder) {
  Close();
  if (CountFileCall() != ERROR_SUCCESS) return false;
  std::u16string strPattern = strFolder;
  if (!strPattern.empty() && strPattern.back() != u'\\' && strPattern.back() != u'/') {
    strPattern += kPathSeparator;
  }
  strPattern += u"*.*";
  WIN32_FIND_DATAW first;
  // Owned from the start, so that a failing allocation of the listing
  // closes it again.
  CFindHandle find(FindFirstFileW(SystemPath(strPattern).c_str(), &first));
  if (!find.IsValid()) return false;
  m_pListing = new Listing(std::move(find));
  m_pListing->m_strFolder = strFolder;
  m_pListing->m_ahead = first;
  m_pListing->m_bAhead = true;
  return true;
}

bool CFileFind::FindNextEntry() {
  if (m_pListing == nullptr) return false;
  Listing& listing = *m_pListing;
  listing.m_current = listing.m_ahead;
  // Any failure other than the end of the list also ends it: the entries
  // already seen stay valid, and nothing further can be read.
  listing.m_bAhead = FindNextFileW(listing.m_find.Get(), &listing.m_ahead) != 0;
  return listing.m_bAhead;
}

bool CFileFind::IsDots() const {
  if (m_pListing == nullptr) return false;
  const wchar_t* pName = m_pListing->m_current.cFileName;
  return std::wcscmp(pName, L".") == 0 || std::wcscmp(pName, L"..") == 0;
}

bool CFileFind::IsDirectory() const {
  if (m_pListing == nullptr) return false;
  return (m_pListing->m_current.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::u16string CFileFind::GetFilePath() const {
  if (m_pListing == nullptr) return {};
  std::u16string strPath = m_pListing->m_strFolder;
  if (!strPath.empty() && strPath.back() != u'\\' && strPath.back() != u'/') {
    strPath += kPathSeparator;
  }
  return strPath + GetFileName();
}

std::u16string CFileFind::GetFileName() const {
  if (m_pListing == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(m_pListing->m_current.cFileName));
}

bool CFileFind::GetCreationTime(int64_t& nTime) const {
  if (m_pListing == nullptr) return false;
  nTime = SecondsSince1970(m_pListing->m_current.ftCreationTime);
  return true;
}

void CFileFind::Close() noexcept {
  delete m_pListing;
  m_pListing = nullptr;
}

// ---------------------------------------------------------------------------
// Host path, folders, clock, narrow text
// ---------------------------------------------------------------------------

bool GetHostExecutablePath(std::u16string& strPath) {
  bool bAvailable = false;
  if (ReadHostPathOverride(strPath, bAvailable)) return bAvailable;
  constexpr DWORD kBufferLength = 520;
  wchar_t aBuffer[kBufferLength];
  const DWORD nLength =
      GetModuleFileNameW(nullptr /* hModule: the host's executable, not this library */, aBuffer, kBufferLength);
  // A cut path fills the whole buffer, and Wine leaves it without its
  // terminating zero: treat it as no path at all.
  if (nLength == 0 || nLength >= kBufferLength) return false;
  strPath.assign(reinterpret_cast<const char16_t*>(aBuffer), nLength);
  return true;
}

CreateFolderResult CreateFolder(const std::u16string& strPath) {
  if (CountFileCall() != ERROR_SUCCESS) return folderFailed;
  if (CreateDirectoryW(SystemPath(strPath).c_str(), nullptr /* lpSecurityAttributes: default */)) {
    return folderCreated;
  }
  // A plain file of that name answers ERROR_ALREADY_EXISTS too.
  return GetLastError() == ERROR_ALREADY_EXISTS ? folderAlreadyExists : folderFailed;
}

bool IsWriteAllOrNothing(uint64_t /* nOffset */, size_t nCount) { return nCount <= kMostBytesPerCall; }

uint32_t GetProcessNumber() { return static_cast<uint32_t>(GetCurrentProcessId()); }

int64_t ReadClock() {
  int64_t nTime = 0;
  if (ReadClockOverride(nTime)) return nTime;
  return static_cast<int64_t>(_time64(nullptr /* result only returned */));
}

bool ConvertToLocalTime(int64_t nTime, std::tm& local) {
  const __time64_t nValue = nTime;
  return _localtime64_s(&local, &nValue) == 0;
}

std::u16string DecodeNarrowText(const char* pBytes, size_t nCount) {
  if (nCount == 0) return std::u16string();
  // A 32-bit process cannot hold a file this large in memory anyway.
  if (nCount > static_cast<size_t>(INT_MAX)) {
    throw std::length_error("narrow text too long");
  }
  const int nBytes = static_cast<int>(nCount);
  const int nUnits = MultiByteToWideChar(CP_ACP, 0, pBytes, nBytes, nullptr /* lpWideCharStr: size only */, 0);
  std::u16string strText(static_cast<size_t>(nUnits > 0 ? nUnits : 0), u'\0');
  if (nUnits > 0) {
    MultiByteToWideChar(CP_ACP, 0, pBytes, nBytes, reinterpret_cast<wchar_t*>(&strText[0]), nUnits);
  }
  return strText;
}
