// POSIX half of file_identity.h: the device and inode.
#include <sys/stat.h>

#include "system/file_identity.h"

bool ReadFileIdentity(const std::string& strPath, CFileIdentity& identity) {
  struct stat status {};
  if (stat(strPath.c_str(), &status) != 0) return false;
  identity.m_nVolume = static_cast<uint64_t>(status.st_dev);
  identity.m_nFile = static_cast<uint64_t>(status.st_ino);
  return true;
}
