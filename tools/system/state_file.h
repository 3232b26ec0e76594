// Small files that the tool keeps for itself, such as the checkpoint of
// `vardlix forward`: read whole, and replaced whole so that no crash leaves
// one half-written. state_file_posix.cpp and state_file_win32.cpp implement
// it. Paths are UTF-8.
//
// The folder of such a file may be writable by others than the user who
// runs the tool (the log folder of a host program, for a forwarder run as
// root or SYSTEM), so nothing here follows a symbolic link or opens a name
// that someone else may have put there: a state file is a regular file, the
// temporary file of a replacement gets a name of its own that is created
// exclusively, and reading takes at most kMaxStateFileBytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kMaxStateFileBytes = 64 * 1024;

enum StateFileRead : int {
  stateFileRead,
  stateFileMissing,     // no such file
  stateFileUnreadable,  // there, but it could not be read, or it is not a
                        // regular file of at most kMaxStateFileBytes
                        // (strError says why)
};

StateFileRead ReadStateFile(const std::string& strPath, std::string& strBytes, std::string& strError);

// Whether strPath can be a state file: absent, or a regular file (not a
// symbolic link, a folder or a device). False, with the reason, otherwise.
bool IsStateFilePath(const std::string& strPath, std::string& strError);

// Replaces the file's content in one step: the bytes go to a new file beside
// it, "FILE.tmp-" and a random name, created exclusively (never an existing
// file or link), flushed to the disk and then renamed over strPath. A crash
// of the tool or of the machine leaves the old content or the new, never a
// mix. False, with the system's reason, when that failed; the old content
// stays.
bool ReplaceStateFile(const std::string& strPath, const std::string& strBytes, std::string& strError);

// An exclusive lock on "FILE.lock" beside a state file, held while the object
// lives, so that two processes never write one state file. The lock is on a
// file of its own because the state file itself is replaced at each write;
// the lock file is left in place, empty, and never written.
class CStateLock {
 public:
  CStateLock() = default;
  ~CStateLock();
  CStateLock(const CStateLock&) = delete;
  CStateLock& operator=(const CStateLock&) = delete;

  enum Result : int {
    lockTaken,
    lockHeld,    // another process holds it
    lockFailed,  // the lock file cannot be made or opened (strError says why)
  };
  Result Take(const std::string& strStatePath, std::string& strError);
  static std::string LockPathOf(const std::string& strStatePath) { return strStatePath + ".lock"; }

 private:
  intptr_t m_hFile = -1;  // descriptor or HANDLE; -1 when not held
};
