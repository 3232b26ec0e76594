// Windows half of the tool's state files (state_file.h).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "state_file.h"
#include "text_encoding.h"

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

 private:
  HANDLE m_hFile;
};

bool WriteAll(HANDLE hFile, const std::string& strBytes) {
  DWORD nWritten = 0;
  return WriteFile(hFile, strBytes.data(), static_cast<DWORD>(strBytes.size()), &nWritten, nullptr /* lpOverlapped */) &&
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

}  // namespace

StateFileRead ReadStateFile(const std::string& strPath, std::string& strBytes, std::string& strError) {
  strBytes.clear();
  const DWORD nShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;  // never in the writer's way
  CHandle file(CreateFileW(Wide(strPath).c_str(), GENERIC_READ, nShare, nullptr /* lpSecurityAttributes */,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr /* hTemplateFile */));
  if (!file.IsValid()) {
    const DWORD nError = GetLastError();
    if (nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND) return stateFileMissing;
    strError = ErrorText(nError);
    return stateFileUnreadable;
  }
  char aBuffer[4096];
  DWORD nRead = 0;
  while (ReadFile(file.Get(), aBuffer, sizeof aBuffer, &nRead, nullptr /* lpOverlapped */) && nRead > 0) {
    strBytes.append(aBuffer, nRead);
  }
  return stateFileRead;
}

bool ReplaceStateFile(const std::string& strPath, const std::string& strBytes, std::string& strError) {
  const std::wstring strTemporary = Wide(strPath + ".tmp");
  DWORD nError = 0;
  bool bCreated = false;
  {
    CHandle file(CreateFileW(strTemporary.c_str(), GENERIC_WRITE, 0 /* exclusive */, nullptr /* lpSecurityAttributes */,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr /* hTemplateFile */));
    bCreated = file.IsValid();
    if (!bCreated || !WriteAll(file.Get(), strBytes) || !FlushFileBuffers(file.Get())) nError = GetLastError();
  }
  if (nError == 0 && MoveOver(strTemporary, Wide(strPath), nError)) return true;
  strError = ErrorText(nError);
  if (bCreated) DeleteFileW(strTemporary.c_str());
  return false;
}
