#include <glob.h>
#include <sys/stat.h>

#include <algorithm>

#include "system/folder_match.h"

bool IsFolderPattern(const std::string& strPath) { return strPath.find_first_of("*?[") != std::string::npos; }

std::vector<std::string> MatchFolders(const std::string& strPattern) {
  std::vector<std::string> aFolders;
  glob_t matches{};
  if (glob(strPattern.c_str(), 0, nullptr, &matches) == 0) {
    for (size_t i = 0; i < matches.gl_pathc; ++i) {
      struct stat status {};
      if (stat(matches.gl_pathv[i], &status) == 0 && S_ISDIR(status.st_mode)) aFolders.push_back(matches.gl_pathv[i]);
    }
  }
  globfree(&matches);
  std::sort(aFolders.begin(), aFolders.end());
  return aFolders;
}
