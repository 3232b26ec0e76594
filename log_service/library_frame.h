// The frame every operation of the log service runs in: the library-wide
// values, the log folder, the time stamps, and the two steps by which every
// document file is read into text and written back.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

// Retention in days before the settings file says otherwise.
constexpr int32_t kDefaultLogLife = 7;

// Log folder without a trailing separator once derived; the platform's
// fallback folder until then. Written only by the load sequence.
extern std::u16string g_strLogFolder;
// The XML declaration every document file starts with, CR LF included.
constexpr std::u16string_view g_strXmlDeclaration = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n";
// Retention in days. Written by the load and by SetLogLife while other
// threads read it; each reader only needs the latest whole value.
extern std::atomic<int32_t> g_nLogLife;

// Held by every operation on the library's files for its whole length, so
// that the calls of one process never compete for a file lock; the file
// locks of the platform layer then only have other processes to wait for.
std::unique_lock<std::mutex> LockFileOperations();
// The same lock when it is free at this moment; an empty lock otherwise.
std::unique_lock<std::mutex> TryLockFileOperations();

// Log folder for a host executable path, Windows rule: everything before the
// last "." of the whole path, then "Log" (no "." at all gives "Log").
std::u16string DeriveLogFolderWindows(std::u16string_view strExePath);
// POSIX rule: only the file name's extension is cut, so a path without one
// keeps its full name: "/opt/app/bin/server" gives "/opt/app/bin/serverLog".
// A name's leading "." starts a hidden name, not an extension.
std::u16string DeriveLogFolderPosix(std::u16string_view strExePath);
// The rule of the platform the library runs on.
std::u16string DeriveLogFolder(std::u16string_view strExePath);
// Derives the log folder from the host's executable and creates it; the
// fallback folder when the path cannot be had or the folder cannot be made.
std::u16string LocateLogFolder();

// g_strLogFolder + separator + strName.
std::u16string MakeLogPath(std::u16string_view strName);

// Local date "%4d%02d%02d" and local time "%4d.%02d.%02d %02d:%02d:%02d" of
// the clock's current value. When the time cannot be converted the date
// fields print as 0 and the time fields as -1: "   00000" and
// "   0.00.00 -1:-1:-1".
std::u16string FormatDateStamp();
std::u16string FormatTimeStamp();
// The same stamps of a given time, in seconds since 1970 UTC.
std::u16string FormatDateStamp(int64_t nTime);
std::u16string FormatTimeStamp(int64_t nTime);

// Every document file starts with the byte-order mark FF FE and holds its
// text as UTF-16LE; a big-endian build swaps each code unit on the way.
constexpr unsigned char kByteOrderMark[2] = {0xFF, 0xFE};
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kLittleEndian = false;
#else
constexpr bool kLittleEndian = true;
#endif

class CFile;
// Whole content of an open file as text, read from its first byte: UTF-16LE
// after the byte-order mark FF FE (an odd last byte is ignored), otherwise
// narrow text decoded by the platform. Either way the text ends at its first
// zero. The file stays open. Raises CFileException when reading fails.
// *pbUnreadData, when given, tells whether in a UTF-16 file a byte other than
// zero follows that first zero unit: content the text does not show. (Narrow
// text is not looked at: behind its first zero byte an interrupted rewrite
// into UTF-16 leaves its own bytes, which the next update replaces.)
std::u16string ReadDocumentFile(CFile& file, bool* pbUnreadData = nullptr);
// Writes FF FE and the text as UTF-16LE from the file's first byte, cuts the
// file at the end of what was written when it was longer, and closes it.
// Raises CFileException when writing fails.
void WriteDocumentFile(CFile& file, std::u16string_view strText);

// What runs when the library is loaded and unloaded. The load reads or
// creates the settings and purges expired logs; no exception leaves it, and
// no file can make it fail. Called by the platform's load notification.
void RunLoadSequence() noexcept;
// bProcessEnding: the whole process is ending (exit), rather than the host
// unloading the library while it goes on running.
void RunUnloadSequence(bool bProcessEnding) noexcept;
