// Which file a path names at the moment: the same name can come to stand
// for another file (the library replaces a day's file by renaming a new one
// over it now and then), and follow has to tell the two apart.
#pragma once

#include <cstdint>
#include <string>

struct CFileIdentity {
  uint64_t m_nVolume = 0;  // device (POSIX) or volume serial number (Windows)
  uint64_t m_nFile = 0;    // inode (POSIX) or file index (Windows)

  bool operator==(const CFileIdentity& other) const { return m_nVolume == other.m_nVolume && m_nFile == other.m_nFile; }
  bool operator!=(const CFileIdentity& other) const { return !(*this == other); }
};

// The identity of the file strPath (UTF-8) names; false when there is none
// or it can't be had. Never keeps the file open, and on Windows opens it
// with every share mode, so no writer waits for it.
bool ReadFileIdentity(const std::string& strPath, CFileIdentity& identity);
