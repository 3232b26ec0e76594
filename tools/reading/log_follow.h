// The state of `vardlix follow`: which day's file is being watched, how many
// of its records have been passed on, and when to move to the next day.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log_record.h"
#include "time_stamp.h"

class CLogFollower {
 public:
  explicit CLogFollower(std::string strFolder) : m_strFolder(std::move(strFolder)) {}

  // Starts on the file of `today`; returns the records it holds already,
  // which count as passed on.
  std::vector<CLogRecord> Start(const CDay& today);

  // Records appended since the last call. When `today` is a later day than the
  // one being watched, the old file is read a last time (a record written
  // just before midnight is not lost) and the new day's file is watched from
  // its first record on.
  std::vector<CLogRecord> Poll(const CDay& today);

  // A message when the watched file has stayed unreadable over several polls
  // (empty otherwise); given once for each spell of trouble.
  std::string TakeWarning();

  const CDay& WatchedDay() const { return m_day; }

 private:
  // Reads the watched file when it changed since the last read and appends
  // its records after the first m_nPassed to aNew.
  void ReadChanges(std::vector<CLogRecord>& aNew);
  std::string WatchedPath() const;

  std::string m_strFolder;       // folder being watched
  CDay m_day;                    // day whose file is watched
  size_t m_nPassed = 0;          // records of that file already passed on
  uint64_t m_nSeenSize = 0;      // size at the last successful read
  int64_t m_nSeenWrite = 0;      // last-write time at that read
  bool m_bSeen = false;          // whether the file has been read at all
  int m_nFailures = 0;           // consecutive polls whose read failed
  bool m_bWarned = false;        // the current spell of failures was reported
  bool m_bDamageReported = false;  // the watched file was reported damaged
  std::string m_strWarning;      // waiting for TakeWarning
};
