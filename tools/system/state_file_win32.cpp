// Windows half of the tool's state files (state_file.h).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <random>

#include "base/text_encoding.h"
#include "system/state_file.h"

namespace {

std::wstring Wide(const std::string& strPath) {
  std::u16string strWide;
  FromUtf8(strPath, strWide);
  return std::wstring(strWide.begin(), strWide.end());
}

std::string ErrorText(DWORD nError) { return "error " + std::to_string(nError); }

// Owns a file handle and closes it on every path.
class CHandle {
 public:
  explicit CHandle(HANDLE hFile) : m_hFile(hFile) {}
  ~CHandle() {
    if (IsValid()) CloseHandle(m_hFile);
  }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  bool IsValid() const { return m_hFile != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return m_hFile; }
  HANDLE Release() {
    HANDLE hFile = m_hFile;
    m_hFile = INVALID_HANDLE_VALUE;
    return hFile;
  }

 private:
  HANDLE m_hFile;
};

bool WriteAll(HANDLE hFile, const std::string& strBytes) {
  DWORD nWritten = 0;
  return WriteFile(hFile, strBytes.data(), static_cast<DWORD>(strBytes.size()), &nWritten,
                   nullptr /* lpOverlapped */) &&
         nWritten == strBytes.size();
}

// A virus scanner or an indexer opens a file the moment it is closed, which
// fails a rename with a sharing violation or access denied for a moment.
bool MoveOver(const std::wstring& strFrom, const std::wstring& strTo, DWORD& nError) {
  constexpr int kAttempts = 10;
  for (int nAttempt = 0; nAttempt < kAttempts; ++nAttempt) {
    if (MoveFileExW(strFrom.c_str(), strTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    nError = GetLastError();
    if (nError != ERROR_SHARING_VIOLATION && nError != ERROR_ACCESS_DENIED) return false;
    Sleep(25);
  }
  return false;
}

// Opens an existing name as it is, a link or junction included, never what
// it points to (FILE_FLAG_OPEN_REPARSE_POINT).
HANDLE OpenAsItIs(const std::wstring& strPath, DWORD nAccess, DWORD nShare, DWORD nCreation) {
  return CreateFileW(strPath.c_str(), nAccess, nShare, nullptr /* lpSecurityAttributes */, nCreation,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr /* hTemplateFile */);
}

// Empty when the handle is a regular file on a disk; else what it is.
std::string NotRegular(HANDLE hFile) {
  if (GetFileType(hFile) != FILE_TYPE_DISK) return "a device, not a regular file";
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(hFile, &info)) return ErrorText(GetLastError());
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a symbolic link, not a regular file";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder, not a regular file";
  return std::string();
}

// A name beside strPath that no one can guess: "FILE.tmp-" and 16 hex digits.
std::string TemporaryNameFor(const std::string& strPath) {
  static std::random_device device;
  static std::mt19937_64 generator((static_cast<uint64_t>(device()) << 32) ^ device() ^
                                   static_cast<uint64_t>(GetCurrentProcessId()) ^ GetTickCount64());
  char szSuffix[24];
  std::snprintf(szSuffix, sizeof szSuffix, "%016llx", static_cast<unsigned long long>(generator()));
  return strPath + ".tmp-" + szSuffix;
}

}  // namespace

StateFileRead ReadStateFile(const std::string& strPath, std::string& strBytes, std::string& strError) {
  strBytes.clear();
  const DWORD nShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;  // never in the writer's way
  CHandle file(OpenAsItIs(Wide(strPath), GENERIC_READ, nShare, OPEN_EXISTING));
  if (!file.IsValid()) {
    const DWORD nError = GetLastError();
    if (nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND) return stateFileMissing;
    strError = ErrorText(nError);
    return stateFileUnreadable;
  }
  strError = NotRegular(file.Get());
  if (!strError.empty()) return stateFileUnreadable;
  char aBuffer[4096];
  DWORD nRead = 0;
  while (ReadFile(file.Get(), aBuffer, sizeof aBuffer, &nRead, nullptr /* lpOverlapped */) && nRead > 0) {
    strBytes.append(aBuffer, nRead);
    if (strBytes.size() > kMaxStateFileBytes) {
      strError = "larger than " + std::to_string(kMaxStateFileBytes / 1024) + " KiB";
      return stateFileUnreadable;
    }
  }
  return stateFileRead;
}

bool IsStateFilePath(const std::string& strPath, std::string& strError) {
  const DWORD nAttributes = GetFileAttributesW(Wide(strPath).c_str());
  if (nAttributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD nError = GetLastError();
    if (nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND) return true;
    strError = ErrorText(nError);
    return false;
  }
  if (nAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    strError = "a symbolic link, not a regular file";
    return false;
  }
  if (nAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    strError = "a folder, not a regular file";
    return false;
  }
  const DWORD nShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  CHandle file(OpenAsItIs(Wide(strPath), 0 /* no access: attributes only */, nShare, OPEN_EXISTING));
  if (!file.IsValid()) return true;  // in use by a writer at this moment: the write will tell
  strError = NotRegular(file.Get());
  return strError.empty();
}

bool ReplaceStateFile(const std::string& strPath, const std::string& strBytes, std::string& strError) {
  // CREATE_NEW fails on any existing name, a link included: a name that
  // someone else made is never opened, and another is drawn.
  std::wstring strTemporary;
  DWORD nError = 0;
  bool bCreated = false;
  {
    HANDLE hFile = INVALID_HANDLE_VALUE;
    for (int nAttempt = 0; nAttempt < 16 && hFile == INVALID_HANDLE_VALUE; ++nAttempt) {
      strTemporary = Wide(TemporaryNameFor(strPath));
      hFile = OpenAsItIs(strTemporary, GENERIC_WRITE, 0 /* exclusive */, CREATE_NEW);
      nError = hFile == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      if (nError != 0 && nError != ERROR_FILE_EXISTS && nError != ERROR_ALREADY_EXISTS) break;
    }
    CHandle file(hFile);
    bCreated = file.IsValid();
    if (bCreated && (!WriteAll(file.Get(), strBytes) || !FlushFileBuffers(file.Get()))) nError = GetLastError();
  }
  if (nError == 0 && MoveOver(strTemporary, Wide(strPath), nError)) return true;
  strError = ErrorText(nError);
  if (bCreated) DeleteFileW(strTemporary.c_str());
  return false;
}

CStateLock::~CStateLock() {
  if (m_hFile != -1) CloseHandle(reinterpret_cast<HANDLE>(m_hFile));
}

CStateLock::Result CStateLock::Take(const std::string& strStatePath, std::string& strError) {
  const std::string strLockPath = LockPathOf(strStatePath);
  // Shared with no one: a second open, by any process, fails with a sharing
  // violation while this handle lives.
  CHandle file(OpenAsItIs(Wide(strLockPath), GENERIC_READ | GENERIC_WRITE, 0 /* no sharing */, OPEN_ALWAYS));
  if (!file.IsValid()) {
    const DWORD nError = GetLastError();
    strError = strLockPath + ": " + ErrorText(nError);
    return nError == ERROR_SHARING_VIOLATION || nError == ERROR_LOCK_VIOLATION ? lockHeld : lockFailed;
  }
  const std::string strNotRegular = NotRegular(file.Get());
  if (!strNotRegular.empty()) {
    strError = strLockPath + ": " + strNotRegular;
    return lockFailed;
  }
  if (m_hFile != -1) CloseHandle(reinterpret_cast<HANDLE>(m_hFile));
  m_hFile = reinterpret_cast<intptr_t>(file.Release());
  return lockTaken;
}
