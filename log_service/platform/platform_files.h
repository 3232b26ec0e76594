// The log service's one seam to the operating system.
//
// Everything the log service needs from the platform (files and their
// status, folder listing, folder creation, the host's executable path, the
// clock and local time, narrow-text decoding) is declared here and nowhere
// else. platform_files_posix.cpp and platform_files_win32.cpp implement it;
// no other file of the log service includes a system header.
//
// Paths are strings of UTF-16 code units. Failures that callers are expected
// to handle are results; failures of an operation on a file that is already
// open, and of the static status and remove calls, raise CFileException.
//
// One contract, two halves. What both share is written once, in
// platform_shared.h (the wait for another opener, the test overrides, the
// text of CFileException) and file_faults.h (the fault plan). Where they
// differ, they do so on purpose:
//  - Share modes: Windows passes them to the system, so every program meets
//    them. POSIX has none; the library's own opens take flock() locks
//    (exclusive, shared for the two read modes that let others read), which
//    other programs ignore.
//  - Remove: Windows refuses to delete a file that is open; on POSIX unlink
//    would succeed, so Remove first takes the file's lock. Both then fail
//    with causeSharingViolation on a holder that outlasts the wait.
//  - Rename: on Windows a scanner holding either file fails it for a moment,
//    so it is tried again; on POSIX nothing can hold a name.
//  - Paths: Windows passes paths of 248 characters or more in the "\\?\"
//    form; POSIX names that are not UTF-8 round-trip through lone surrogates.
//  - The hidden attribute is the system's on Windows, the extended attribute
//    "user.DOSATTRIB" on POSIX; the creation time is the birth time where
//    the file system keeps one, the last write elsewhere.
//  - Narrow text is the ANSI code page on Windows, UTF-8 (else Latin-1) on
//    POSIX; IsWriteAllOrNothing differs as it says.
#pragma once

#include <cstdint>
#include <ctime>
#include <exception>
#include <string>

// Separator put between the log folder and every name appended to it.
extern const char16_t kPathSeparator[];
// Folder used when the host's path cannot be had or its log folder cannot be
// created: "C:\" on Windows, "/" on POSIX.
extern const char16_t kFallbackFolder[];

// How long an open waits for a conflicting opener of the same file while
// nothing happens to the file (its size, its times and the file under its
// name all stay the same) before it gives up. Another writer of the library
// changes the file within a few milliseconds (an update of a day's file of
// 100,000 records takes about 30), so behind a busy queue a waiter keeps
// waiting as long as the holders keep changing the file. A holder that makes
// no progress (a viewer that keeps the file open, a process hanging with it)
// costs a call at most this long.
constexpr int kShareWaitMilliseconds = 250;

// Whether an operation may wait for another opener of the file.
enum FileWait : int32_t {
  waitForHolder,  // up to kShareWaitMilliseconds without progress
  waitNever,      // one attempt: a file held elsewhere fails at once
};

enum FileAttribute : uint8_t {
  attributeNormal = 0x00,
  attributeReadOnly = 0x01,
  attributeHidden = 0x02,
  attributeDirectory = 0x10,
  // Neither a plain file nor a folder: a symbolic link (never followed), a
  // named pipe, a device; on Windows any reparse point or device.
  attributeNotRegular = 0x40,
};

// Status of a file. Times are whole seconds since 1 January 1970 UTC.
struct CFileStatus {
  int64_t m_ctime = 0;      // creation (birth time; last write where none is recorded)
  int64_t m_mtime = 0;      // last write
  int64_t m_atime = 0;      // last access
  uint64_t m_size = 0;      // length in bytes
  uint8_t m_attribute = 0;  // FileAttribute bits
};

enum FileErrorCause : int32_t {
  causeNone = 0,
  causeNotFound,          // the file or a folder on its path does not exist
  causeAlreadyExists,     // create-new found the file there
  causeAccessDenied,      // permissions, a read-only file, a directory, a link
  causeSharingViolation,  // another opener held the file past the share wait
  causeDiskFull,
  causeIoError,
  causeOther,
};

// Raised by the operations documented to raise. Carries the cause and path.
class CFileException : public std::exception {
 public:
  CFileException(FileErrorCause nCause, std::u16string strPath);
  const char* what() const noexcept override { return m_strWhat.c_str(); }

  FileErrorCause m_nCause;   // translated system error
  std::u16string m_strPath;  // file the failing operation was about

 private:
  std::string m_strWhat;
};

// An open file. Move-only; the destructor closes it on every path.
class CFile {
 public:
  enum OpenMode : int32_t {
    // Existing file, read only. No other opener of the library meanwhile.
    modeReadExclusive,
    // Existing file, read only. Others may read it meanwhile, not write it.
    modeReadShared,
    // Creates the file or empties an existing one; write only, exclusive.
    // The file is emptied only once the lock is held.
    modeCreateExclusive,
    // Creates the file only when it does not exist (fails with
    // causeAlreadyExists otherwise); write only, exclusive.
    modeCreateNewExclusive,
    // Existing file, read and write, never created or truncated. No other
    // writer meanwhile; on Windows other readers may share it.
    modeReadWriteDenyWrite,
    // Existing file, read only, for a reader outside the library (the
    // vardlix tool) that must never keep a writer out. Windows: others may
    // read and write it meanwhile, so the library's modeReadWriteDenyWrite
    // opens alongside it in either order; the reader may therefore meet a
    // write in progress and has to check what it read. POSIX: the same
    // shared lock as modeReadShared, which the library's writers wait for
    // as long as the read lasts.
    modeReadAlongsideWriters,
    // As modeReadWriteDenyWrite, and the holder may remove the file while
    // it has it open (RemoveAndClose). Windows: an opener that does not
    // share deletion (a viewer opening with read sharing only) keeps it out
    // as a writer would.
    modeReadWriteRemovable,
  };

  CFile() = default;
  ~CFile();
  CFile(CFile&& other) noexcept;
  CFile& operator=(CFile&& other) noexcept;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Opens strPath in nMode. With waitForHolder, waits for another opener
  // that holds the file in a conflicting mode until the file has shown no
  // progress for kShareWaitMilliseconds; with waitNever, such an opener
  // fails the open at once with causeSharingViolation. Windows: a create
  // mode that meets a file pending deletion (left by a scanner or another
  // process) waits for it the same way. Returns false on any failure
  // (GetOpenError tells which) and never raises.
  bool Open(const std::u16string& strPath, OpenMode nMode, FileWait nWait = waitForHolder);
  FileErrorCause GetOpenError() const noexcept { return m_nOpenError; }
  bool IsOpen() const noexcept;
  // The path the file was opened under; empty when none was.
  const std::u16string& GetPath() const noexcept { return m_strPath; }

  // The following raise CFileException on failure. Read transfers up to
  // nCount bytes and returns fewer only at the end of the file; Write
  // transfers all nCount bytes or raises.
  uint64_t GetLength() const;
  void SeekToBegin();
  void Seek(uint64_t nOffset);
  size_t Read(void* pBuffer, size_t nCount);
  void Write(const void* pBuffer, size_t nCount);
  void SetLength(uint64_t nLength);

  // How many names the open file has: 1 for a file of its own, more for one
  // that is also hard-linked elsewhere, whose content an update in place
  // would change there too. 0 when it cannot be had. Never raises, and is
  // not counted by the fault plan.
  uint32_t GetLinkCount() const noexcept;

  // Closes the file; closing a closed file does nothing. Never raises.
  void Close() noexcept;
  // Removes the file, opened with modeReadWriteRemovable, from its folder
  // and closes it, so that no other opener can take the file between the
  // two: one that waited for it finds the name gone (causeNotFound), or on
  // Windows pending deletion until the last reader closes it. Raises on
  // failure, with the file still open.
  void RemoveAndClose();

  // True when strPath exists; fills status (a directory has
  // attributeDirectory set, and whatever is neither a file nor a directory
  // attributeNotRegular; a symbolic link is described, not followed). Never
  // raises.
  static bool GetStatus(const std::u16string& strPath, CFileStatus& status);
  // Applies the attribute byte (hidden or normal) and the access and write
  // times; a time of 0 is left unchanged, and the creation time is applied
  // only where the platform allows it. Raises on failure.
  static void SetStatus(const std::u16string& strPath, const CFileStatus& status);
  // Deletes a file. A file that another opener holds fails it with
  // causeSharingViolation, after waiting for the holder as Open does when
  // nWait allows. Raises on failure.
  static void Remove(const std::u16string& strPath, FileWait nWait = waitForHolder);
  // Gives the file strFrom the name strTo, in one step. With bReplace a file
  // already called strTo is replaced, and there is no moment at which strTo
  // names neither file (POSIX allows strTo to be open meanwhile; Windows
  // does not). Without bReplace an existing strTo fails the call with
  // causeAlreadyExists and changes nothing. strFrom must not be open.
  // Windows: a virus scanner or an indexer opens a file the moment it is
  // closed, which fails the rename with a sharing violation or access
  // denied; with waitForHolder both are tried again for up to
  // kShareWaitMilliseconds. Raises on failure.
  static void Rename(const std::u16string& strFrom, const std::u16string& strTo, bool bReplace,
                     FileWait nWait = waitForHolder);

 private:
  intptr_t m_hFile = -1;     // descriptor or handle; -1 when closed
  std::u16string m_strPath;  // for exceptions
  FileErrorCause m_nOpenError = causeNone;
};

// Listing of one folder's entries (the folder itself, not its subfolders).
class CFileFind {
 public:
  CFileFind() = default;
  ~CFileFind();
  CFileFind(const CFileFind&) = delete;
  CFileFind& operator=(const CFileFind&) = delete;

  // Starts listing strFolder. False when nothing can be listed (a missing
  // folder, or not a folder).
  bool FindFile(const std::u16string& strFolder);
  // Moves to the next entry; returns whether another entry follows it, like
  // the framework's listing, so the caller loops "while (more)" after a first
  // call. Must not be called once it has returned false.
  bool FindNextEntry();
  bool IsDots() const;
  bool IsDirectory() const;
  std::u16string GetFilePath() const;  // folder + separator + name
  std::u16string GetFileName() const;
  // Creation time of the entry, in seconds since 1970 UTC, as for
  // CFileStatus::m_ctime; false when it cannot be had (the entry vanished).
  // Windows takes it from the listing itself: no call per entry, which on a
  // network share would cost a round trip each.
  bool GetCreationTime(int64_t& nTime) const;
  void Close() noexcept;

 private:
  struct Listing;
  Listing* m_pListing = nullptr;
};

enum CreateFolderResult : int32_t {
  folderCreated,
  folderAlreadyExists,  // a folder or a plain file of that name is there
  folderFailed,
};

// Full path of the host process's executable; false when it can't be had.
bool GetHostExecutablePath(std::u16string& strPath);
// Creates one folder; missing parents are not created.
CreateFolderResult CreateFolder(const std::u16string& strPath);

// True when a process killed during one Write of nCount bytes at offset
// nOffset leaves either all of those bytes in the file or none of them: an
// update made of one such write needs no other step to survive a kill.
// POSIX: only when they lie within one 4 KiB page, since Linux copies a write
// into the file a page at a time and checks for a fatal signal before each
// page. Windows: whenever Write hands them to the system in one WriteFile
// (up to 1 GiB), whatever their offset, since the system ends a thread only
// after its call into the file system has returned. (Wine writes through
// write(2), so there the POSIX rule holds; the crash tests run on Linux.)
bool IsWriteAllOrNothing(uint64_t nOffset, size_t nCount);

// The system's number for this process. Temporary files carry it in their
// names, so that two processes never write the same one.
uint32_t GetProcessNumber();

// Seconds since 1970 UTC, and the broken-down local time of such a value
// (false when it cannot be converted).
int64_t ReadClock();
bool ConvertToLocalTime(int64_t nTime, std::tm& local);

// Text of a file without byte-order mark. POSIX: UTF-8 when the bytes are
// valid UTF-8, otherwise Latin-1 byte by byte. Windows: the ANSI code page.
std::u16string DecodeNarrowText(const char* pBytes, size_t nCount);

// Test hooks. The shipped library never calls these; a test sets a fixed
// clock or a made-up executable path and resets it afterwards.
void SetClockForTesting(int64_t nTime);
void ResetClockForTesting();
void SetHostPathForTesting(const std::u16string& strPath, bool bAvailable = true);
void ResetHostPathForTesting();

// Fault injection, for tests that fail every file operation in turn. While a
// plan is set, each call of a file operation of this seam counts one:
// CFile::Open, Read, Write, Seek (SeekToBegin), GetLength, SetLength,
// RemoveAndClose, GetStatus, SetStatus, Remove and Rename, CFileFind::FindFile and
// CreateFolder; closing cannot fail and is not counted. The call numbered
// m_nFailAt fails with m_nCause the way the platform reports that error:
// Open and FindFile return false (GetOpenError tells the cause), GetStatus
// returns false, CreateFolder returns folderFailed, and the others raise
// CFileException. The shipped library never sets a plan.
struct CFileFaultPlan {
  int64_t m_nFailAt = 0;                   // call to fail, counted from 1; 0 only counts
  FileErrorCause m_nCause = causeIoError;  // error it fails with
  bool m_bPersistent = false;              // every later call fails the same way
  bool m_bShortWrite = false;              // a failing Write first writes half its bytes
  // A failing Write first writes what a process killed part-way through it
  // can leave (see IsWriteAllOrNothing): on POSIX its bytes up to the first
  // 4 KiB page boundary it crosses, or none; on Windows none.
  bool m_bCutAtPage = false;
};
void SetFileFaultsForTesting(const CFileFaultPlan& plan);
// Ends the plan: calls are no longer counted or failed, and both counts
// below are 0 again.
void ResetFileFaultsForTesting();
// Calls counted since the plan was set, and how many of them were failed.
int64_t CountFileCallsForTesting();
int64_t CountFileFaultsForTesting();
