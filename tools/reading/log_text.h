// What a reading of a day's log text finds: its outcome, its records and
// the places of its damage, and the sink that takes its records as they are
// read. Shared by the reading (log_document.h) and the recovery of damaged
// text (record_recovery.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reading/log_record.h"
#include "reading/record_scan.h"

enum LogTextOutcome : int {
  logTextRead,       // a day's log; every record was read
  logTextEmpty,      // nothing at all, or only white space
  logTextNotLog,     // well-formed, but its top element is neither "日志" nor "记录"
  logTextMalformed,  // the engine stopped with a parse error; the records are
                     // those recovered around the damage
};

// A place in the decoded text: code units from its start, and the line and
// column there (both from 1, columns counted in characters).
struct CTextPlace {
  int32_t m_nOffset = -1;
  int m_nLine = 0;
  int m_nColumn = 0;
};

// Where and why the engine stopped.
struct CParseStop {
  std::string m_strMessage;  // the engine's message, UTF-8
  CTextPlace m_place;
};

// A stretch of text that is no part of a day's log: [m_begin, m_end], both
// places inside it, white space around it left out.
struct CDamagedStretch {
  CTextPlace m_begin;
  CTextPlace m_end;             // its last character
  size_t m_nRecordsBefore = 0;  // complete records read ahead of it
};

struct CLogText {
  LogTextOutcome m_nOutcome = logTextEmpty;
  std::vector<CLogRecord> m_aRecords;  // in file order, when the reading collects them
  size_t m_nRecords = 0;               // records read, collected or not
  std::string m_strTopElement;         // name of the top element, when one was parsed
  // Just past the "</记录>" of the last record read, in code units from the
  // start of the text; npos when none was read.
  size_t m_nRecordsEnd = std::u16string::npos;

  // For logTextMalformed:
  CParseStop m_stop;
  std::vector<CDamagedStretch> m_aDamage;  // in file order
  bool m_bRootOpened = false;              // the text has the root's start tag
  bool m_bRootClosed = false;              // ...and its end tag after the last record
  CTextPlace m_lastRecordEnd;              // just past the last complete record, if any
  size_t m_nRecoverFrom = 0;               // where the records read so far end: the recovery goes on from there
  int64_t m_nStopOffset = -1;              // where the engine stopped, in code units of the text
};

// Takes the records of a text one at a time, in file order, while it is
// read: nothing is collected unless the sink collects it.
class CRecordSink {
 public:
  virtual ~CRecordSink() = default;
  virtual void Take(const CRecordText& record) = 0;
};

// Line and column of a code-unit offset; a surrogate pair counts as one
// column, and an offset past the end is put at the end.
void LocateOffset(std::u16string_view strText, int32_t nOffset, int& nLine, int& nColumn);
CTextPlace PlaceAt(std::u16string_view strText, int32_t nOffset);
// "line:column".
std::string FormatPlace(const CTextPlace& place);

// Places in one text for offsets that only grow, found in one pass over it.
class CPlaceFinder {
 public:
  explicit CPlaceFinder(std::u16string_view strText) : m_strText(strText) {}
  CTextPlace At(size_t nOffset);

 private:
  std::u16string_view m_strText;
  CTextPlace m_place{0, 1, 1};
};
