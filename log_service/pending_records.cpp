#include "pending_records.h"

#include <utility>

namespace {

size_t CountUnits(const CHostRecord& record) {
  return record.m_strDate.size() + record.m_strTime.size() + record.m_strType.size() + record.m_strLocation.size() +
         record.m_strOperation.size() + record.m_strParameters.size() + record.m_strDescription.size();
}

}  // namespace

void CPendingRecords::Add(CHostRecord&& record) {
  m_nUnits += CountUnits(record);
  m_aRecords.push_back(std::move(record));
}

void CPendingRecords::DropPastBound() {
  while (!m_aRecords.empty() && (m_aRecords.size() > kMaxPendingRecords || m_nUnits > kMaxPendingUnits)) {
    m_nUnits -= CountUnits(m_aRecords.back());
    m_aRecords.pop_back();
    ++m_nDropped;
  }
}

size_t CPendingRecords::CountFrontDay() const {
  size_t nCount = 0;
  while (nCount < m_aRecords.size() && m_aRecords[nCount].m_strDate == m_aRecords.front().m_strDate) ++nCount;
  return nCount;
}

void CPendingRecords::RemoveFront(size_t nCount) {
  for (; nCount > 0 && !m_aRecords.empty(); --nCount) {
    m_nUnits -= CountUnits(m_aRecords.front());
    m_aRecords.pop_front();
  }
}

void CPendingRecords::Clear() {
  m_aRecords.clear();
  m_nUnits = 0;
}
