// The records `vardlix forward` sends, in the order they were written: the
// rest of the day's file it stopped in, the day files after it, then today's
// file as it grows and, after midnight, the next day's (CLogFollower). Each
// record comes with the UTC offset of its stamp, given in file order
// (CRecordClock), so that the hour repeated when clocks go back reads as
// show reads it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "reading/local_time.h"
#include "reading/log_follow.h"
#include "reading/log_record.h"
#include "reading/time_stamp.h"

// The most records of an earlier day that one Read appends.
constexpr size_t kPastDayBatch = 10000;

struct CQueuedRecord {
  CLogRecord m_record;
  uint64_t m_nIndex = 0;  // of the record in its day file (m_record.m_strFile), from 0
};

class CRecordSource {
 public:
  explicit CRecordSource(const std::string& strFolder) : m_strFolder(strFolder), m_follower(strFolder) {}

  // Begins after the first nSkip records of the day file strFile. A file
  // that now holds fewer records than that was replaced, and is read from
  // its first record again, as follow does.
  void BeginAfter(const std::string& strFile, uint64_t nSkip, const CDay& today);
  // Begins with the first record of the oldest day file; returns its name
  // (today's when there is none yet).
  std::string BeginAtOldest(const CDay& today);
  // Begins after the records that today's file holds now; returns their
  // number.
  uint64_t BeginNow(const CDay& today);

  // The day file the next Read begins with: the first earlier day's file
  // still to read, else today's.
  std::string NextFile(const CDay& today) const;

  // Appends what comes next: the records of an earlier day's file (at most
  // kPastDayBatch) while there are any, then what today's file gained since
  // the last call.
  void Read(const CDay& today, std::deque<CQueuedRecord>& aQueue);

  // A message about a file that can't be read, once for each spell of
  // trouble; empty otherwise.
  std::string TakeWarning();

 private:
  void ReadPastDay(std::deque<CQueuedRecord>& aQueue);
  void TakeFollowed(std::vector<CLogRecord>&& aRecords, std::deque<CQueuedRecord>& aQueue);
  void Append(std::vector<CLogRecord>&& aRecords, uint64_t nFirstIndex, std::deque<CQueuedRecord>& aQueue);
  void RestartClock();
  // The clock learns the order of the records of today's file that were
  // sent before (m_nSkip): in the hour repeated when clocks go back, they
  // decide whether the next record is of the first pass or the second.
  // Costs one more reading of the file, once a start.
  void LearnOrder(const CDay& today);

  std::string m_strFolder;
  std::vector<std::string> m_aPastFiles;  // day files before today still to read, oldest first
  uint64_t m_nSkip = 0;                   // records of the first of them, or of today's, already sent
  bool m_bFollowing = false;              // the past files are done; today's is followed
  CLogFollower m_follower;
  std::string m_strFollowedFile;  // day file of the last record the follower gave
  uint64_t m_nFollowedIndex = 0;  // index of the next record of that file
  std::string m_strWarning;
  CRecordClock m_clock;        // offsets of today's records, in file order
  std::string m_strClockFile;  // the file m_clock has seen records of
};
