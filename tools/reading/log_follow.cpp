#include "log_follow.h"

#include "day_files.h"
#include "log_file.h"
#include "platform_files.h"
#include "text_encoding.h"

namespace {

// Polls whose reads failed before the trouble is reported; a write in
// progress clears well within this.
constexpr int kFailuresBeforeWarning = 5;

bool IsLaterDay(const CDay& a, const CDay& b) { return FormatDayStamp(a) > FormatDayStamp(b); }

}  // namespace

std::string CLogFollower::WatchedPath() const { return JoinPath(m_strFolder, DayFileName(m_day)); }

std::vector<CLogRecord> CLogFollower::Start(const CDay& today) {
  m_day = today;
  std::vector<CLogRecord> aRecords;
  ReadChanges(aRecords);
  return aRecords;
}

std::vector<CLogRecord> CLogFollower::Poll(const CDay& today) {
  std::vector<CLogRecord> aNew;
  ReadChanges(aNew);
  if (IsLaterDay(today, m_day)) {
    m_day = today;
    m_nPassed = 0;
    m_bSeen = false;
    m_nFailures = 0;
    m_bDamageReported = false;
    ReadChanges(aNew);
  }
  return aNew;
}

std::string CLogFollower::TakeWarning() { return std::move(m_strWarning); }

void CLogFollower::ReadChanges(std::vector<CLogRecord>& aNew) {
  std::u16string strPath;
  FromUtf8(WatchedPath(), strPath);
  CFileStatus status;
  if (!CFile::GetStatus(strPath, status)) return;  // not written yet today
  if (m_bSeen && status.m_size == m_nSeenSize && status.m_mtime == m_nSeenWrite) return;
  CLogFile file = ReadLogFile(WatchedPath(), 2);
  // A damaged file that no write is about to mend gives its complete
  // records, and the library goes on appending behind the damage.
  const bool bDamaged = file.m_nOutcome == logFileRead && file.m_text.m_nOutcome == logTextMalformed;
  if (file.m_nOutcome != logFileRead || (bDamaged && file.m_text.m_aRecords.empty())) {
    if (++m_nFailures >= kFailuresBeforeWarning && !m_bWarned) {
      m_bWarned = true;
      m_strWarning = DayFileName(m_day) + " cannot be read: " +
                     (file.m_nOutcome != logFileRead ? file.m_strError : DescribeDamage(file.m_text));
    }
    return;
  }
  if (bDamaged && !m_bDamageReported) {
    m_bDamageReported = true;
    m_strWarning = DayFileName(m_day) + ": " + DescribeDamage(file.m_text) + "; following its complete records";
  }
  m_nFailures = 0;
  m_bWarned = false;
  m_bSeen = true;
  m_nSeenSize = status.m_size;
  m_nSeenWrite = status.m_mtime;
  auto& aRecords = file.m_text.m_aRecords;
  // Fewer records than were passed on: the file was replaced; start over.
  // A damaged read may be one that overlapped a write, and is not trusted
  // with that.
  if (aRecords.size() < m_nPassed) {
    if (bDamaged) return;
    m_nPassed = 0;
  }
  for (size_t i = m_nPassed; i < aRecords.size(); ++i) aNew.push_back(std::move(aRecords[i]));
  m_nPassed = aRecords.size();
}
