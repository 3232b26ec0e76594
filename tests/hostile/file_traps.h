// Things put in the place of a file the library keeps: a process that holds
// the library's lock on it, and a file that even the super-user cannot
// write.
#pragma once

#include <sys/types.h>
#include <string>

// A child process that opens strPath as the library's writer does and holds
// it, with the library's lock, until Release or destruction.
class CLockHolder {
 public:
  explicit CLockHolder(const std::u16string& strPath);
  ~CLockHolder();
  CLockHolder(const CLockHolder&) = delete;
  CLockHolder& operator=(const CLockHolder&) = delete;

  // True once the child holds the file.
  bool IsHolding() const { return m_bHolding; }
  // Lets the child close the file and waits for it to end.
  void Release();

 private:
  pid_t m_nChild = -1;      // the holder, -1 once it has ended
  int m_nReleaseFd = -1;    // closing it tells the child to let go
  bool m_bHolding = false;  // the child reported the file open
};

// Makes a file unwritable: its write permissions are taken away, and where
// that does not stop the process (the super-user), the file is also marked
// immutable. Everything is put back on destruction.
class CUnwritable {
 public:
  explicit CUnwritable(const std::string& strPath);
  ~CUnwritable();
  CUnwritable(const CUnwritable&) = delete;
  CUnwritable& operator=(const CUnwritable&) = delete;

  // False when the file system offers no way to deny this process writing.
  bool IsEffective() const { return m_bEffective; }

 private:
  std::string m_strPath;      // the file
  unsigned m_nOldMode = 0;    // permissions to put back
  bool m_bImmutable = false;  // the immutable flag was set and must be cleared
  bool m_bEffective = false;  // an open for writing now fails
};
