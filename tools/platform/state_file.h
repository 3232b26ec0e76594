// Small files that the tool keeps for itself, such as the checkpoint of
// `vardlix forward`: read whole, and replaced whole so that no crash leaves
// one half-written. state_file_posix.cpp and state_file_win32.cpp implement
// it. Paths are UTF-8.
#pragma once

#include <string>

enum StateFileRead : int {
  stateFileRead,
  stateFileMissing,     // no such file
  stateFileUnreadable,  // there, but it could not be read (strError says why)
};

StateFileRead ReadStateFile(const std::string& strPath, std::string& strBytes, std::string& strError);

// Replaces the file's content in one step: the bytes go to strPath + ".tmp",
// which is flushed to the disk and then renamed over strPath. A crash of the
// tool or of the machine leaves the old content or the new, never a mix.
// False, with the system's reason, when that failed; the old content stays.
bool ReplaceStateFile(const std::string& strPath, const std::string& strBytes, std::string& strError);
