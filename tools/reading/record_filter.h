// Selection of records: the filters of show and follow, which all have to
// hold for a record to be printed, and the ordering options of show.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "reading/log_record.h"
#include "reading/record_scan.h"
#include "reading/time_stamp.h"

struct CRecordFilter {
  std::vector<std::string> m_aTypes;  // any of these, compared exactly; empty: every type
  CTimeBound m_since;                 // inclusive
  CTimeBound m_until;                 // inclusive
  std::string m_strGrep;              // substring of any field; empty: no text filter
  bool m_bIgnoreCase = false;         // --grep compares without regard to case
  std::string m_strLocation;          // the whole location; "~text": a location holding text; empty: any
  std::string m_strOperation;         // the same for the operation
  std::string m_strRegex;             // ECMAScript expression found in any field; empty: none
  bool m_bErrors = false;             // with m_bWarnings: only errors, warnings or both (CategoryOfType)
  bool m_bWarnings = false;

  bool Matches(const CLogRecord& record) const;
  // Whether any filter is given: without one, every record is shown.
  bool HasFilters() const;
};

// Whether a field passes --location or --operation: equal to the pattern,
// or holding it when the pattern starts with '~'. An empty pattern passes
// every field.
bool MatchesNamePattern(const std::string& strField, const std::string& strPattern);

// Checks an expression for --regex: empty when std::regex takes it,
// otherwise why not.
std::string CheckRegex(const std::string& strExpression);

// A filter made ready for many records: the needle folded once, and a look
// at a record's text in the file that rules most records out before any of
// their fields is decoded.
class CRecordMatcher {
 public:
  explicit CRecordMatcher(const CRecordFilter& filter);

  // False only for a record that cannot match --grep: its text in the file
  // holds no place where the needle's longest stretch without '&', '<',
  // '>', quotes and characters outside the Basic Multilingual Plane can
  // stand, case folded as --grep -i folds it. Every decoded field is a
  // stretch of that text with only those characters replaced, so a field
  // that holds the needle holds that stretch in the text too.
  bool MayMatch(const CRecordText& record) const;
  // The filter itself, on the decoded record.
  bool Matches(const CLogRecord& record) const;
  bool HasTextFilter() const { return !m_filter.m_strGrep.empty(); }

 private:
  const CRecordFilter& m_filter;
  std::string m_strNeedle;            // the needle, folded for -i
  std::u16string m_strPiece;          // the stretch looked for in the text; empty: no look
  const char16_t* m_pFold = nullptr;  // -i: the folded form of each code unit
  std::u16string m_strFirstUnits;     // -i: the units that fold to the stretch's first one
  struct CCompiledRegex;
  std::shared_ptr<const CCompiledRegex> m_pRegex;  // --regex, compiled once; null: none
};

// Lower-case form of a UTF-8 text for case-insensitive comparison: simple
// one-to-one case mapping of every code point the runtime's Unicode tables
// know.
std::string FoldCase(std::string_view strText);

// Keeps the records that pass the filter, reversed when asked, and at most
// nLimit of them (a negative limit keeps all).
void SelectRecords(std::vector<CLogRecord>& aRecords, const CRecordFilter& filter, bool bReverse, long nLimit);
