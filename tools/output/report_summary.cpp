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

void CSpreadSample::Offer(size_t nOrder, const CLogRecord& record, size_t nRoom) {
  const size_t nSeen = m_nSeen++;
  if (nRoom == 0 || nSeen % m_nStride != 0) return;
  m_aHeld.push_back({nOrder, nSeen, record});
  m_aHeld.back().m_record.m_strMarkup.clear();  // the page shows the fields only
  if (m_aHeld.size() <= nRoom) return;
  m_nStride *= 2;
  const size_t nStride = m_nStride;
  m_aHeld.erase(std::remove_if(m_aHeld.begin(), m_aHeld.end(),
                               [nStride](const CHeld& held) { return held.m_nSeen % nStride != 0; }),
                m_aHeld.end());
}

std::vector<const CSpreadSample::CHeld*> CSpreadSample::Pick(size_t nRoom) const {
  std::vector<const CHeld*> aPicked;
  const size_t nHeld = m_aHeld.size();
  const size_t nCount = std::min(nHeld, nRoom);
  for (size_t i = 0; i < nCount; ++i) aPicked.push_back(&m_aHeld[i * nHeld / nCount]);
  return aPicked;
}

// Twice the table's room is held, so that the table is full whenever the
// period has enough records, however the stride fell.
void CReportSummary::Hold(CSpreadSample& aRows, const CLogRecord& record) {
  aRows.Offer(m_nRecords, record, 2 * m_nMaxRows);
}

std::vector<const CLogRecord*> CReportSummary::Rows() const {
  // Errors and warnings first; the room they leave goes to the others.
  std::vector<const CSpreadSample::CHeld*> aKept = m_aAttentionRows.Pick(AttentionRows());
  const std::vector<const CSpreadSample::CHeld*> aOthers = m_aOtherRows.Pick(OtherRows());
  aKept.insert(aKept.end(), aOthers.begin(), aOthers.end());
  std::sort(aKept.begin(), aKept.end(), [](const auto* a, const auto* b) { return a->m_nOrder < b->m_nOrder; });
  std::vector<const CLogRecord*> aRows;
  for (const auto* pRow : aKept) aRows.push_back(&pRow->m_record);
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
