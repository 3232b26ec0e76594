// What `vardlix report` shows of the records of some days, gathered one
// record at a time: how many of each type came in each hour, which types,
// locations and operations had the errors and warnings, and the records
// for the page's table, as many as it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "output/record_output.h"
#include "reading/log_record.h"

// Records with errors and warnings, by the name of a type, location or
// operation.
struct CAttentionCount {
  std::string m_strName;
  size_t m_nErrors = 0;
  size_t m_nWarnings = 0;
};

class CReportSummary {
 public:
  // The table keeps at most nMaxRows records: every error and warning
  // first (the latest, when there are more), then the latest of the others.
  explicit CReportSummary(size_t nMaxRows) : m_nMaxRows(nMaxRows) {}

  void Add(const CLogRecord& record);

  size_t Records() const { return m_nRecords; }
  size_t Untimed() const { return m_nUntimed; }  // records whose time does not read: in no hour
  // Each type and its count, in the order types were first met.
  const std::vector<std::pair<std::string, size_t>>& Types() const { return m_aTypes; }
  // Per local hour (seconds since 1970 as if UTC, / 3600): the count of
  // each type, by its index in Types().
  const std::map<int64_t, std::vector<size_t>>& Hours() const { return m_aHours; }
  size_t Errors() const { return m_nErrors; }
  size_t Warnings() const { return m_nWarnings; }

  // The names with the most errors and warnings together (then the most
  // errors, then by name), at most nCount.
  std::vector<CAttentionCount> TopTypes(size_t nCount) const { return Top(m_aByType, nCount); }
  std::vector<CAttentionCount> TopLocations(size_t nCount) const { return Top(m_aByLocation, nCount); }
  std::vector<CAttentionCount> TopOperations(size_t nCount) const { return Top(m_aByOperation, nCount); }

  // The table's records, in the order they were given.
  std::vector<const CLogRecord*> Rows() const;
  size_t MaxRows() const { return m_nMaxRows; }

 private:
  using CAttentionMap = std::unordered_map<std::string, std::pair<size_t, size_t>>;
  using CHeldRows = std::deque<std::pair<size_t, CLogRecord>>;  // by order of arrival

  static std::vector<CAttentionCount> Top(const CAttentionMap& counts, size_t nCount);
  size_t TypeIndex(const std::string& strType);
  void Hold(CHeldRows& aRows, const CLogRecord& record);

  size_t m_nMaxRows;
  size_t m_nRecords = 0;
  size_t m_nUntimed = 0;
  size_t m_nErrors = 0;
  size_t m_nWarnings = 0;
  std::vector<std::pair<std::string, size_t>> m_aTypes;
  std::unordered_map<std::string, size_t> m_aTypeIndex;
  std::map<int64_t, std::vector<size_t>> m_aHours;
  CAttentionMap m_aByType, m_aByLocation, m_aByOperation;  // name -> (errors, warnings)
  CHeldRows m_aAttentionRows;                              // the latest errors and warnings, at most m_nMaxRows
  CHeldRows m_aOtherRows;                                  // the latest other records, at most m_nMaxRows
};
