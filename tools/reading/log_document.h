// Reading the records of a daily log out of its text with the project's own
// XML engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log_record.h"

enum LogTextOutcome : int {
  logTextRead,       // a day's log; every record was read
  logTextEmpty,      // nothing at all, or only white space
  logTextNotLog,     // well-formed, but its top element is neither "日志" nor "记录"
  logTextMalformed,  // the engine stopped with a parse error
};

// Where and why the engine stopped, as a line and a column (both from 1,
// columns counted in characters) of the decoded text.
struct CParseStop {
  std::string m_strMessage;   // the engine's message, UTF-8
  int32_t m_nOffset = -1;     // code units from the start of the text
  int m_nLine = 0;
  int m_nColumn = 0;
};

struct CLogText {
  LogTextOutcome m_nOutcome = logTextEmpty;
  std::vector<CLogRecord> m_aRecords;  // in file order
  std::string m_strTopElement;         // name of the top element, when one was parsed
  CParseStop m_stop;                   // for logTextMalformed
  // For logTextMalformed: the records that stand complete before the point
  // where the parse stopped, so that a damaged file still shows what it holds.
  std::vector<CLogRecord> m_aSalvaged;
};

// Parses a day's log text. strFile names the records' day file.
CLogText ReadLogText(std::u16string strText, const std::string& strFile);

// Line and column of a code-unit offset; a surrogate pair counts as one
// column, and an offset past the end is put at the end.
void LocateOffset(const std::u16string& strText, int32_t nOffset, int& nLine, int& nColumn);
