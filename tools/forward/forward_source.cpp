#include "forward/forward_source.h"

#include "base/paths.h"
#include "reading/day_files.h"
#include "reading/log_file.h"
#include "reading/record_export.h"
#include "reading/record_scan.h"

namespace {

// Names of the day files of the folder from strFirst on (name order is day
// order) and before today's.
std::vector<std::string> DayFilesBetween(const std::string& strFolder, const std::string& strFirst, const CDay& today) {
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

// Keeps the records of a day file from the nFrom-th on, at most nKeep of
// them, without their XML, each with the offset of its stamp. The records
// before nFrom go through the clock too: their order decides the offsets
// in the hour repeated when clocks go back.
class CPastDaySink : public CRecordSink {
 public:
  CPastDaySink(std::vector<CLogRecord>& aRecords, uint64_t nFrom, size_t nKeep)
      : m_aRecords(aRecords), m_nFrom(nFrom), m_nKeep(nKeep) {}
  void Take(const CRecordText& record) override {
    if (m_aRecords.size() >= m_nKeep) return;
    const int64_t nOffset = m_clock.OffsetOf(record.m_aData[fieldTime]);
    if (m_nIndex++ < m_nFrom) return;
    m_aRecords.push_back(MakeLogRecord(record, false));
    m_aRecords.back().m_nUtcOffset = nOffset;
  }

 private:
  std::vector<CLogRecord>& m_aRecords;
  uint64_t m_nFrom;
  size_t m_nKeep;
  uint64_t m_nIndex = 0;
  CRecordClock m_clock;
};

// Gives a clock the stamps of the first nCount records of a file, in order.
class CClockSink : public CRecordSink {
 public:
  CClockSink(CRecordClock& clock, uint64_t nCount) : m_clock(clock), m_nCount(nCount) {}
  void Take(const CRecordText& record) override {
    if (m_nSeen++ < m_nCount) m_clock.OffsetOf(record.m_aData[fieldTime]);
  }

 private:
  CRecordClock& m_clock;
  uint64_t m_nCount;
  uint64_t m_nSeen = 0;
};

}  // namespace

void CRecordSource::BeginAfter(const std::string& strFile, uint64_t nSkip, const CDay& today) {
  m_aPastFiles = DayFilesBetween(m_strFolder, strFile, today);
  const bool bSkipsPastFile = !m_aPastFiles.empty() && m_aPastFiles.front() == strFile;
  m_nSkip = bSkipsPastFile || strFile == DayFileName(today) ? nSkip : 0;
  m_bFollowing = false;
  RestartClock();
}

std::string CRecordSource::BeginAtOldest(const CDay& today) {
  m_aPastFiles = DayFilesBetween(m_strFolder, std::string(), today);
  m_nSkip = 0;
  m_bFollowing = false;
  RestartClock();
  return NextFile(today);
}

std::string CRecordSource::NextFile(const CDay& today) const {
  return m_aPastFiles.empty() ? DayFileName(today) : m_aPastFiles.front();
}

void CRecordSource::LearnOrder(const CDay& today) {
  RestartClock();
  m_strClockFile = DayFileName(today);
  CClockSink sink(m_clock, m_nSkip);
  ReadLogFile(JoinPath(m_strFolder, m_strClockFile), sink);
}

void CRecordSource::RestartClock() {
  m_clock.StartFile();
  m_strClockFile.clear();
}

uint64_t CRecordSource::BeginNow(const CDay& today) {
  m_aPastFiles.clear();
  // Counted, none kept.
  m_follower.Start(today, UINT64_MAX);
  const uint64_t nHeld = m_follower.Passed();
  m_bFollowing = true;
  m_strFollowedFile = DayFileName(today);
  m_nFollowedIndex = nHeld;
  RestartClock();
  return nHeld;
}

void CRecordSource::Read(const CDay& today, std::deque<CQueuedRecord>& aQueue) {
  if (!m_aPastFiles.empty()) {
    ReadPastDay(aQueue);
    return;
  }
  if (!m_bFollowing) {
    // Only the records after those already sent are kept; a file that now
    // holds fewer than that was replaced, and is sent from its first record.
    if (m_nSkip > 0) LearnOrder(today);
    std::vector<CLogRecord> aRecords = m_follower.Start(today, m_nSkip);
    if (m_follower.Passed() < m_nSkip) aRecords = m_follower.Start(today);
    m_bFollowing = true;
    m_strFollowedFile = DayFileName(today);
    TakeFollowed(std::move(aRecords), aQueue);
    return;
  }
  TakeFollowed(m_follower.Poll(today), aQueue);
  std::string strWarning = m_follower.TakeWarning();
  if (!strWarning.empty()) m_strWarning = strWarning;
}

void CRecordSource::TakeFollowed(std::vector<CLogRecord>&& aRecords, std::deque<CQueuedRecord>& aQueue) {
  // The follower gives each record's index in its file: a file it read
  // whole again, or the next day's, starts again at 0.
  const std::vector<uint64_t>& aIndexes = m_follower.LastIndexes();
  for (size_t i = 0; i < aRecords.size(); ++i) {
    if (aRecords[i].m_strFile != m_strClockFile || aIndexes[i] == 0) {
      m_clock.StartFile();
      m_strClockFile = aRecords[i].m_strFile;
    }
    aRecords[i].m_nUtcOffset = m_clock.OffsetOf(aRecords[i].m_aField[fieldTime]);
    m_strFollowedFile = aRecords[i].m_strFile;
    m_nFollowedIndex = aIndexes[i] + 1;
    aQueue.push_back({std::move(aRecords[i]), aIndexes[i]});
  }
}

void CRecordSource::ReadPastDay(std::deque<CQueuedRecord>& aQueue) {
  const std::string strName = m_aPastFiles.front();
  m_aPastFiles.erase(m_aPastFiles.begin());
  const uint64_t nSkip = m_nSkip;
  m_nSkip = 0;
  // The records after those already sent, without their XML, one batch at a
  // time; a file that holds fewer than that was replaced, and is sent from
  // its first record.
  std::vector<CLogRecord> aRecords;
  CPastDaySink sink(aRecords, nSkip, kPastDayBatch);
  CLogFile file = ReadLogFile(JoinPath(m_strFolder, strName), sink);
  if (file.m_nOutcome != logFileRead) {
    // Gone since the listing (the purge) is no news; anything else is.
    if (file.m_nOutcome != logFileMissing) m_strWarning = strName + " cannot be read: " + file.m_strError;
    return;
  }
  uint64_t nFrom = nSkip;
  if (file.m_text.m_nRecords < nSkip) {
    CPastDaySink all(aRecords, 0, kPastDayBatch);
    file = ReadLogFile(JoinPath(m_strFolder, strName), all);
    nFrom = 0;
  }
  // The rest of a long day comes with the next read: a whole day's records
  // held at once would take several times the file's size.
  if (file.m_text.m_nRecords > nFrom + aRecords.size()) {
    m_aPastFiles.insert(m_aPastFiles.begin(), strName);
    m_nSkip = nFrom + aRecords.size();
  }
  Append(std::move(aRecords), nFrom, aQueue);
}

void CRecordSource::Append(std::vector<CLogRecord>&& aRecords, uint64_t nFirstIndex,
                           std::deque<CQueuedRecord>& aQueue) {
  for (auto& record : aRecords) aQueue.push_back({std::move(record), nFirstIndex++});
}

std::string CRecordSource::TakeWarning() { return std::move(m_strWarning); }
