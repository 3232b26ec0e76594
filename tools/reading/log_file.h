// Reading a daily log file from disk through the library's own file reading
// (byte-order mark or narrow text), with the retries that a file being
// written at the same moment needs.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform_files.h"
#include "reading/log_document.h"

enum LogFileOutcome : int {
  logFileRead,        // the text was read; see m_text for what it holds
  logFileMissing,     // no such file
  logFileNotFile,     // a folder, or something else that is not a plain file
  logFileUnreadable,  // it could not be opened or read
};

struct CLogFile {
  LogFileOutcome m_nOutcome = logFileMissing;
  CLogText m_text;         // for logFileRead
  uint64_t m_nSize = 0;    // bytes, as read
  std::string m_strError;  // for the other outcomes: why, in a few words
  bool m_bWide = false;    // UTF-16 with its byte-order mark, as the library writes
  // A UTF-16 file holds a zero code unit where the library's reading stops:
  // its position in the text, and whether anything but zeros follows it.
  size_t m_nZeroUnit = std::u16string::npos;
  bool m_bDataBeyondZero = false;
  size_t m_nTextUnits = 0;  // units of the text the library reads, before any zero unit
  // The file ends in the journal of a commit that a kill may have cut
  // (format/commit_journal.h): the text is read with the bytes it saved, as
  // the library reads it, and the journal itself is left out of m_strText.
  bool m_bJournal = false;
  // When asked for: the decoded text, and when data follows the zero unit,
  // the zero unit and that data (zeros at the end of the file are never
  // kept, however many).
  std::u16string m_strText;
};

// Reads and parses one file, collecting its records in m_text.m_aRecords.
// The library rewrites a day's log in place, so a read that overlaps a write
// can see a mix of old and new bytes: a size that changed during the read,
// or a parse failure while the end of the file changed under the read, is
// taken as a write in progress and the file is read again, up to nAttempts
// times. A file that stays damaged is read once.
CLogFile ReadLogFile(const std::string& strPath, int nAttempts = 5, bool bKeepText = false);
// The same, giving the records to a sink as they are read, each once even
// when the file is read again. Only one file's text is held at a time.
CLogFile ReadLogFile(const std::string& strPath, CRecordSink& sink, int nAttempts = 5, bool bKeepText = false);

// The text of an open file from nByteOffset (even, past the byte-order mark
// of a UTF-16 file) up to its first zero unit, decoded as UTF-16LE; sets
// bZero when a zero unit ends it and bDataBeyond when a byte other than zero
// follows that unit. Reads a piece at a time: zeros at the end are never
// held. pBeyond, when given, receives the units after the zero unit, without
// the zeros that end the file. strRoom, when given, is a string whose room
// the text is read into.
std::u16string ReadWideTextFrom(CFile& file, uint64_t nByteOffset, bool& bZero, bool& bDataBeyond,
                                std::u16string* pBeyond = nullptr, std::u16string strRoom = {});

// Whether a record given to the library now would be added to this file,
// as the library decides it: into the root "日志",
// and only when no content hides behind a zero unit inside the text.
bool LibraryAddsRecords(const CLogFile& file);
// (The same from what the reading found is in log_document.h.)
