// Reading the records of a daily log out of its text with the project's own
// XML engine, and every complete record out of a damaged one.
#pragma once

#include <cstdint>
#include <string>
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
  CTextPlace m_end;           // its last character
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
  bool m_bRootOpened = false;  // the text has the root's start tag
  bool m_bRootClosed = false;  // ...and its end tag after the last record
  CTextPlace m_lastRecordEnd;  // just past the last complete record, if any
  size_t m_nRecoverFrom = 0;   // where the records read so far end: the recovery goes on from there
  int64_t m_nStopOffset = -1;  // where the engine stopped, in code units of the text
};

// Takes the records of a text one at a time, in file order, while it is
// read: nothing is collected unless the sink collects it.
class CRecordSink {
 public:
  virtual ~CRecordSink() = default;
  virtual void Take(const CRecordText& record) = 0;
};

// Reads a day's log text: what the library reads of a file, up to its first
// zero code unit (nLibraryUnits of strText; npos or the size when the file
// holds no zero unit), and behind it, when the file goes on with data, the
// zero unit and that data. The text before the zero unit decides whether the
// file is whole; only a damaged one is searched further, through the zero
// unit and beyond, for records, and its places count from the start of
// strText. strFile names the records' day file. Without bRecover a damaged
// text gives no records after the damage: for a reader that will look again
// anyway. The first nSkip records are read but not given to the sink (an
// earlier reading gave them already).
//
// Records in the library's own form are read straight from the text
// (record_scan.h); the engine parses only what is not in that form, from the
// first such place on, so a log that is whole is read once, and a damaged
// one once more from its damage on. strText stays as it was, but may be
// moved through the engine on the way.
CLogText ScanLogText(std::u16string& strText, size_t nLibraryUnits, const std::string& strFile, bool bRecover,
                     CRecordSink& sink, size_t nSkip = 0);

// Goes on with a reading of a damaged text that ScanLogText made without
// bRecover: the records after the damage, and its places.
void RecoverLogText(const std::u16string& strText, const std::string& strFile, CLogText& result, CRecordSink& sink,
                    size_t nSkip = 0);

// The same, collecting the records in m_aRecords. pBeyond, when the file
// holds a zero unit, is the text behind it.
CLogText ReadLogText(std::u16string strText, const std::string& strFile, const std::u16string* pBeyond = nullptr,
                     bool bRecover = true);

// Collects records as CLogRecord, with their XML when bMarkup.
class CRecordCollector : public CRecordSink {
 public:
  explicit CRecordCollector(std::vector<CLogRecord>& aRecords, bool bMarkup = true)
      : m_aRecords(aRecords), m_bMarkup(bMarkup) {}
  void Take(const CRecordText& record) override { m_aRecords.push_back(MakeLogRecord(record, m_bMarkup)); }

 private:
  std::vector<CLogRecord>& m_aRecords;
  bool m_bMarkup;
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

// Whether a record given to the library now would be added to the file, from
// what the reading found: the text's outcome and top element, its length
// before the zero unit, and whether data follows that unit. The fuzzer holds
// it against the engine's own answer.
bool LibraryAddsRecords(const CLogText& text, size_t nTextUnits, bool bDataBeyondZero);

// One line on what is wrong with a damaged text and what was recovered:
// "damaged text at 11:1-17:26 (1 record before it, 3 after); ..."
std::string DescribeDamage(const CLogText& text);
