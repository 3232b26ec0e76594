#include "output/report_summary.h"

#include <algorithm>

#include "reading/local_time.h"
#include "reading/time_stamp.h"

void CReportSummary::Add(const CLogRecord& record) {
  ++m_nRecords;
  const std::string& strType = record.m_aField[fieldType];
  const size_t iType = TypeIndex(strType);
  ++m_aTypes[iType].second;
  CStamp stamp;
  if (ParseRecordStamp(record.m_aField[fieldTime], stamp)) {
    const int64_t nLocal = LocalSeconds(stamp);
    std::vector<size_t>& aCounts = m_aHours[(nLocal - (nLocal % 3600 + 3600) % 3600) / 3600];
    if (aCounts.size() <= iType) aCounts.resize(iType + 1, 0);
    ++aCounts[iType];
  } else {
    ++m_nUntimed;
  }
  const TypeCategory nCategory = CategoryOfType(strType);
  if (nCategory != categoryError && nCategory != categoryWarning) {
    Hold(m_aOtherRows, record);
    return;
  }
  const bool bError = nCategory == categoryError;
  ++(bError ? m_nErrors : m_nWarnings);
  for (auto [pMap, iField] : {std::pair{&m_aByType, fieldType}, std::pair{&m_aByLocation, fieldLocation},
                              std::pair{&m_aByOperation, fieldOperation}}) {
    auto& counts = (*pMap)[record.m_aField[iField]];
    ++(bError ? counts.first : counts.second);
  }
  Hold(m_aAttentionRows, record);
}

size_t CReportSummary::TypeIndex(const std::string& strType) {
  const auto found = m_aTypeIndex.find(strType);
  if (found != m_aTypeIndex.end()) return found->second;
  m_aTypes.emplace_back(strType, 0);
  return m_aTypeIndex[strType] = m_aTypes.size() - 1;
}

void CReportSummary::Hold(CHeldRows& aRows, const CLogRecord& record) {
  if (m_nMaxRows == 0) return;
  if (aRows.size() == m_nMaxRows) aRows.pop_front();
  aRows.emplace_back(m_nRecords, record);
  aRows.back().second.m_strMarkup.clear();  // the page shows the fields only
}

std::vector<const CLogRecord*> CReportSummary::Rows() const {
  // Errors and warnings first; the room they leave goes to the latest others.
  const size_t nOthers = std::min(m_aOtherRows.size(), m_nMaxRows - m_aAttentionRows.size());
  std::vector<const std::pair<size_t, CLogRecord>*> aKept;
  for (const auto& row : m_aAttentionRows) aKept.push_back(&row);
  for (auto it = m_aOtherRows.end() - static_cast<std::ptrdiff_t>(nOthers); it != m_aOtherRows.end(); ++it) {
    aKept.push_back(&*it);
  }
  std::sort(aKept.begin(), aKept.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
  std::vector<const CLogRecord*> aRows;
  for (const auto* pRow : aKept) aRows.push_back(&pRow->second);
  return aRows;
}

std::vector<CAttentionCount> CReportSummary::Top(const CAttentionMap& counts, size_t nCount) {
  std::vector<CAttentionCount> aTop;
  for (const auto& [strName, pair] : counts) aTop.push_back({strName, pair.first, pair.second});
  std::sort(aTop.begin(), aTop.end(), [](const CAttentionCount& a, const CAttentionCount& b) {
    const size_t nA = a.m_nErrors + a.m_nWarnings, nB = b.m_nErrors + b.m_nWarnings;
    if (nA != nB) return nA > nB;
    if (a.m_nErrors != b.m_nErrors) return a.m_nErrors > b.m_nErrors;
    return a.m_strName < b.m_strName;
  });
  if (aTop.size() > nCount) aTop.resize(nCount);
  return aTop;
}
