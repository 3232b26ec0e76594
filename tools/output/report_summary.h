// What `vardlix report` shows of the records of some days, gathered one
// record at a time: how many of each type came in each hour, which types,
// locations and operations had the errors and warnings, and the records
// for the page's table, as many as it holds. When the period has more
// records than the table holds, the table takes its rows from the whole
// period, not from its end: the errors and warnings first, the others
// spread evenly over the rest of the room.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

// An evenly spread sample of at most a given number of the records offered
// to it, kept in one pass: every m_nStride-th record, the stride doubling
// (and every other kept record going) whenever the sample outgrows its
// room. What it keeps is thus spread over all the records offered so far,
// and once the room is full, at least half of it is used.
class CSpreadSample {
 public:
  struct CHeld {
    size_t m_nOrder;  // the record's place among all the records of the report
    size_t m_nSeen;   // its place among the records offered here
    CLogRecord m_record;
  };

  void Offer(size_t nOrder, const CLogRecord& record, size_t nRoom);
  size_t Seen() const { return m_nSeen; }
  size_t Held() const { return m_aHeld.size(); }
  // At most nRoom of the held records, evenly spread over them.
  std::vector<const CHeld*> Pick(size_t nRoom) const;

 private:
  std::vector<CHeld> m_aHeld;
  size_t m_nSeen = 0;
  size_t m_nStride = 1;
};

class CReportSummary {
 public:
  // The table keeps at most nMaxRows records: every error and warning
  // first (spread evenly over them when there are more), then as many of
  // the others as room is left, spread evenly over the whole period.
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
  // How many errors and warnings, and how many other records, Rows() holds.
  size_t AttentionRows() const { return std::min(m_aAttentionRows.Held(), m_nMaxRows); }
  size_t OtherRows() const { return std::min(m_aOtherRows.Held(), m_nMaxRows - AttentionRows()); }

 private:
  using CAttentionMap = std::unordered_map<std::string, std::pair<size_t, size_t>>;

  static std::vector<CAttentionCount> Top(const CAttentionMap& counts, size_t nCount);
  size_t TypeIndex(const std::string& strType);
  void Hold(CSpreadSample& aRows, const CLogRecord& record);

  size_t m_nMaxRows;
  size_t m_nRecords = 0;
  size_t m_nUntimed = 0;
  size_t m_nErrors = 0;
  size_t m_nWarnings = 0;
  std::vector<std::pair<std::string, size_t>> m_aTypes;
  std::unordered_map<std::string, size_t> m_aTypeIndex;
  std::map<int64_t, std::vector<size_t>> m_aHours;
  CAttentionMap m_aByType, m_aByLocation, m_aByOperation;  // name -> (errors, warnings)
  CSpreadSample m_aAttentionRows;                          // errors and warnings, at most m_nMaxRows
  CSpreadSample m_aOtherRows;                              // the other records, at most m_nMaxRows
};
