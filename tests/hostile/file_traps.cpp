#include "file_traps.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform_files.h"

CLockHolder::CLockHolder(const std::u16string& strPath) {
  int aReady[2];
  int aRelease[2];
  if (pipe(aReady) != 0) return;
  if (pipe(aRelease) != 0) {
    close(aReady[0]);
    close(aReady[1]);
    return;
  }
  m_nChild = fork();
  if (m_nChild == 0) {
    // Only its own two pipes stay open: a copy of an earlier holder's
    // release pipe would keep that holder from ever seeing it close.
    for (int nFd = 3; nFd < 1024; ++nFd) {
      if (nFd != aReady[1] && nFd != aRelease[0]) close(nFd);
    }
    CFile file;
    const char cOpened = file.Open(strPath, CFile::modeReadWriteDenyWrite) ? '1' : '0';
    (void)!write(aReady[1], &cOpened, 1);
    char c;
    while (read(aRelease[0], &c, 1) > 0) {
    }
    _exit(0);  // no test machinery of the parent's may run in the child
  }
  close(aReady[1]);
  close(aRelease[0]);
  m_nReleaseFd = aRelease[1];
  char cOpened = '0';
  m_bHolding = m_nChild > 0 && read(aReady[0], &cOpened, 1) == 1 && cOpened == '1';
  close(aReady[0]);
}

CLockHolder::~CLockHolder() { Release(); }

void CLockHolder::Release() {
  if (m_nReleaseFd >= 0) close(m_nReleaseFd);
  m_nReleaseFd = -1;
  if (m_nChild > 0) waitpid(m_nChild, nullptr, 0);
  m_nChild = -1;
  m_bHolding = false;
}

namespace {

bool CanOpenForWriting(const std::string& strPath) {
  const int nFile = open(strPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (nFile < 0) return false;
  close(nFile);
  return true;
}

bool SetImmutable(const std::string& strPath, bool bImmutable) {
  const int nFile = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (nFile < 0) return false;
  int nFlags = 0;
  bool bDone = ioctl(nFile, FS_IOC_GETFLAGS, &nFlags) == 0;
  if (bDone) {
    nFlags = bImmutable ? (nFlags | FS_IMMUTABLE_FL) : (nFlags & ~FS_IMMUTABLE_FL);
    bDone = ioctl(nFile, FS_IOC_SETFLAGS, &nFlags) == 0;
  }
  close(nFile);
  return bDone;
}

}  // namespace

CUnwritable::CUnwritable(const std::string& strPath) : m_strPath(strPath) {
  struct stat info {};
  if (stat(strPath.c_str(), &info) != 0) return;
  m_nOldMode = info.st_mode & 07777;
  chmod(strPath.c_str(), m_nOldMode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
  if (CanOpenForWriting(strPath)) m_bImmutable = SetImmutable(strPath, true);
  m_bEffective = !CanOpenForWriting(strPath);
}

CUnwritable::~CUnwritable() {
  // An immutable file could not even be deleted with its test folder.
  if (m_bImmutable) SetImmutable(m_strPath, false);
  chmod(m_strPath.c_str(), m_nOldMode);
}
