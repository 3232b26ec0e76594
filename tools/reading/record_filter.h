// Selection of records: the filters of show and follow, which all have to
// hold for a record to be printed, and the ordering options of show.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "log_record.h"
#include "time_stamp.h"

struct CRecordFilter {
  std::vector<std::string> m_aTypes;  // any of these, compared exactly; empty: every type
  CTimeBound m_since;                 // inclusive
  CTimeBound m_until;                 // inclusive
  std::string m_strGrep;              // substring of any field; empty: no text filter
  bool m_bIgnoreCase = false;         // --grep compares without regard to case

  bool Matches(const CLogRecord& record) const;
};

// Lower-case form of a UTF-8 text for case-insensitive comparison: simple
// one-to-one case mapping of every code point the runtime's Unicode tables
// know.
std::string FoldCase(std::string_view strText);

// Keeps the records that pass the filter, reversed when asked, and at most
// nLimit of them (a negative limit keeps all).
void SelectRecords(std::vector<CLogRecord>& aRecords, const CRecordFilter& filter, bool bReverse, long nLimit);
