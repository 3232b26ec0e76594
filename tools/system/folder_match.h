// The folders a pattern names, for the configuration file of
// `vardlix forward` ("/opt/*/bin/*Log"): folder_match_posix.cpp (glob),
// folder_match_win32.cpp (FindFirstFileEx).
#pragma once

#include <string>
#include <vector>

// Whether strPath holds a wildcard: *, ? or [.
bool IsFolderPattern(const std::string& strPath);

// The folders that strPattern (UTF-8; *, ? and [...] as the shell takes
// them; on Windows only in its last part) matches now, sorted; files are
// left out. Empty when none does.
std::vector<std::string> MatchFolders(const std::string& strPattern);
