// Windows half of file_identity.h: the volume serial number and file index.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "base/text_encoding.h"
#include "system/file_identity.h"

bool ReadFileIdentity(const std::string& strPath, CFileIdentity& identity) {
  std::u16string strWide;
  if (!FromUtf8(strPath, strWide)) return false;
  const std::wstring strName(strWide.begin(), strWide.end());
  // No access to the data at all: only its attributes, shared every way.
  HANDLE hFile = CreateFileW(strName.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr /* lpSecurityAttributes */,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr /* hTemplateFile */);
  if (hFile == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool bRead = GetFileInformationByHandle(hFile, &info) != 0;
  CloseHandle(hFile);
  if (!bRead) return false;
  identity.m_nVolume = info.dwVolumeSerialNumber;
  identity.m_nFile = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}
