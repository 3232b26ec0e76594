#include "forward_source.h"

#include "day_files.h"
#include "log_file.h"

namespace {

// Names of the day files of the folder from strFirst on (name order is day
// order) and before today's.
std::vector<std::string> DayFilesBetween(const std::string& strFolder, const std::string& strFirst,
                                         const CDay& today) {
  std::vector<CFolderEntry> aEntries;
  ListFolder(strFolder, aEntries);
  const std::string strToday = DayFileName(today);
  std::vector<std::string> aFiles;
  CDay day;
  for (const auto& entry : aEntries) {
    if (ParseDayFileName(entry.m_strName, day) && entry.m_strName >= strFirst && entry.m_strName < strToday) {
      aFiles.push_back(entry.m_strName);
    }
  }
  return aFiles;
}

}  // namespace

void CRecordSource::BeginAfter(const std::string& strFile, uint64_t nSkip, const CDay& today) {
  m_aPastFiles = DayFilesBetween(m_strFolder, strFile, today);
  const bool bSkipsPastFile = !m_aPastFiles.empty() && m_aPastFiles.front() == strFile;
  m_nSkip = bSkipsPastFile || strFile == DayFileName(today) ? nSkip : 0;
  m_bFollowing = false;
}

std::string CRecordSource::BeginAtOldest(const CDay& today) {
  m_aPastFiles = DayFilesBetween(m_strFolder, std::string(), today);
  m_nSkip = 0;
  m_bFollowing = false;
  return m_aPastFiles.empty() ? DayFileName(today) : m_aPastFiles.front();
}

uint64_t CRecordSource::BeginNow(const CDay& today) {
  m_aPastFiles.clear();
  const uint64_t nHeld = m_follower.Start(today).size();
  m_bFollowing = true;
  m_strFollowedFile = DayFileName(today);
  m_nFollowedIndex = nHeld;
  return nHeld;
}

void CRecordSource::Read(const CDay& today, std::deque<CQueuedRecord>& aQueue) {
  if (!m_aPastFiles.empty()) {
    ReadPastDay(aQueue);
    return;
  }
  if (!m_bFollowing) {
    std::vector<CLogRecord> aRecords = m_follower.Start(today);
    m_bFollowing = true;
    m_strFollowedFile = DayFileName(today);
    const uint64_t nSkip = m_nSkip <= aRecords.size() ? m_nSkip : 0;
    aRecords.erase(aRecords.begin(), aRecords.begin() + static_cast<std::ptrdiff_t>(nSkip));
    m_nFollowedIndex = nSkip + aRecords.size();
    Append(std::move(aRecords), nSkip, aQueue);
    return;
  }
  for (auto& record : m_follower.Poll(today)) {
    // The follower moved to the next day's file, which it reads from its
    // first record.
    if (record.m_strFile != m_strFollowedFile) {
      m_strFollowedFile = record.m_strFile;
      m_nFollowedIndex = 0;
    }
    aQueue.push_back({std::move(record), m_nFollowedIndex++});
  }
  std::string strWarning = m_follower.TakeWarning();
  if (!strWarning.empty()) m_strWarning = strWarning;
}

void CRecordSource::ReadPastDay(std::deque<CQueuedRecord>& aQueue) {
  const std::string strName = m_aPastFiles.front();
  m_aPastFiles.erase(m_aPastFiles.begin());
  const uint64_t nSkip = m_nSkip;
  m_nSkip = 0;
  CLogFile file = ReadLogFile(JoinPath(m_strFolder, strName));
  if (file.m_nOutcome != logFileRead) {
    // Gone since the listing (the purge) is no news; anything else is.
    if (file.m_nOutcome != logFileMissing) m_strWarning = strName + " cannot be read: " + file.m_strError;
    return;
  }
  std::vector<CLogRecord>& aRecords = file.m_text.m_aRecords;
  const uint64_t nFrom = nSkip <= aRecords.size() ? nSkip : 0;
  aRecords.erase(aRecords.begin(), aRecords.begin() + static_cast<std::ptrdiff_t>(nFrom));
  Append(std::move(aRecords), nFrom, aQueue);
}

void CRecordSource::Append(std::vector<CLogRecord>&& aRecords, uint64_t nFirstIndex,
                           std::deque<CQueuedRecord>& aQueue) {
  for (auto& record : aRecords) aQueue.push_back({std::move(record), nFirstIndex++});
}

std::string CRecordSource::TakeWarning() { return std::move(m_strWarning); }
