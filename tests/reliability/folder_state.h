// What the reliability tests look at around one operation of the library:
// the files of a folder, byte for byte, and the process's open handles.
#pragma once

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

// Name and bytes of every plain file in a folder (not its subfolders).
using CFolderFiles = std::map<std::string, std::string>;

inline CFolderFiles ReadFolderFiles(const std::filesystem::path& folder) {
  CFolderFiles files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().filename().string()] = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  return files;
}

inline bool IsTemporaryName(const std::string& strName) {
  return strName.size() > 4 && strName.compare(strName.size() - 4, 4, ".tmp") == 0;
}

// The files without the temporary ones, which the tests count apart.
inline CFolderFiles WithoutTemporaryFiles(CFolderFiles files) {
  for (auto it = files.begin(); it != files.end();) it = IsTemporaryName(it->first) ? files.erase(it) : std::next(it);
  return files;
}

inline int CountTemporaryFiles(const CFolderFiles& files) {
  int nCount = 0;
  for (const auto& file : files) nCount += IsTemporaryName(file.first);
  return nCount;
}

// Files and other handles this process holds open.
inline int CountOpenHandles() {
#ifdef _WIN32
  DWORD nHandles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &nHandles);
  return static_cast<int>(nHandles);
#else
  int nCount = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++nCount;
  }
  return nCount;
#endif
}
