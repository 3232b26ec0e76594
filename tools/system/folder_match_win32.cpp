#include <windows.h>

#include <algorithm>

#include "base/text_encoding.h"
#include "system/folder_match.h"

bool IsFolderPattern(const std::string& strPath) { return strPath.find_first_of("*?") != std::string::npos; }

std::vector<std::string> MatchFolders(const std::string& strPattern) {
  std::vector<std::string> aFolders;
  std::u16string strWide;
  if (!FromUtf8(strPattern, strWide)) return aFolders;
  // The matches stand in the pattern's folder, which has no wildcard.
  const size_t nSeparator = strPattern.find_last_of("\\/");
  const std::string strParent = nSeparator == std::string::npos ? std::string() : strPattern.substr(0, nSeparator + 1);
  WIN32_FIND_DATAW found{};
  HANDLE hFind = FindFirstFileExW(reinterpret_cast<const wchar_t*>(strWide.c_str()), FindExInfoBasic, &found,
                                  FindExSearchLimitToDirectories, nullptr, 0);
  if (hFind == INVALID_HANDLE_VALUE) return aFolders;
  do {
    const std::u16string strName(reinterpret_cast<const char16_t*>(found.cFileName));
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || strName == u"." || strName == u"..") continue;
    aFolders.push_back(strParent + ToUtf8(strName));
  } while (FindNextFileW(hFind, &found));
  FindClose(hFind);
  std::sort(aFolders.begin(), aFolders.end());
  return aFolders;
}
