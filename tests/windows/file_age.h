// Making a file look old to the purge, as the Windows host tests need it.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

// Sets all three times of a file nDays back. Wine keeps no creation time of
// its own and reports the last write instead, so on Wine the last write has
// to go back too for the file to look that old; Windows would need the
// creation time alone.
inline void AgeFile(const std::filesystem::path& path, int nDays) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER nTicks;
  nTicks.LowPart = now.dwLowDateTime;
  nTicks.HighPart = now.dwHighDateTime;
  nTicks.QuadPart -= static_cast<ULONGLONG>(nDays) * 86400 * 10000000;
  const FILETIME then{nTicks.LowPart, nTicks.HighPart};
  HANDLE hFile = CreateFileW(path.wstring().c_str(), FILE_WRITE_ATTRIBUTES, 0 /* no sharing */, nullptr /* security */,
                             OPEN_EXISTING, 0, nullptr /* template */);
  ASSERT_NE(hFile, INVALID_HANDLE_VALUE) << path;
  EXPECT_TRUE(SetFileTime(hFile, &then, &then, &then));
  CloseHandle(hFile);
}
