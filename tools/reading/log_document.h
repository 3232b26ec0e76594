// Reading the records of a daily log out of its text with the project's own
// XML engine, and every complete record out of a damaged one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reading/log_record.h"
#include "reading/log_text.h"
#include "reading/record_export.h"

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

// Whether a record given to the library now would be added to the file, from
// what the reading found: the text's outcome and top element, its length
// before the zero unit, and whether data follows that unit. The fuzzer holds
// it against the engine's own answer.
bool LibraryAddsRecords(const CLogText& text, size_t nTextUnits, bool bDataBeyondZero);

// One line on what is wrong with a damaged text and what was recovered:
// "damaged text at 11:1-17:26 (1 record before it, 3 after); ..."
std::string DescribeDamage(const CLogText& text);
