// The state of `vardlix follow` (and of forward's reading of today's file):
// which day's file is being watched, how many of its records have been
// passed on, where they end in the file, and when to move to the next day.
//
// The library adds a record by inserting it in front of "</日志>", so the
// bytes before the end of the last record passed on stay as they are. The
// follower remembers that place, with what tells that the bytes before it
// are unchanged: the file's identity and size, the 4 KiB before the place
// and a hash of everything before it. A poll then reads only what follows
// the place. A file that shrank below it, or whose bytes before it changed,
// is read again whole, and those of its records are passed on that were not
// passed on before (records are told by a hash of their text), so every
// record is passed on once; a file that the library replaced by a rename (a
// new identity) with those bytes unchanged counts as grown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reading/log_record.h"
#include "reading/record_filter.h"
#include "reading/time_stamp.h"
#include "system/file_identity.h"

class CLogFollower {
 public:
  explicit CLogFollower(std::string strFolder) : m_strFolder(std::move(strFolder)) {}

  // Starts on the file of `today`; returns the records it holds already from
  // the nFirst-th on (all by default), which count as passed on, as do those
  // before it.
  std::vector<CLogRecord> Start(const CDay& today, uint64_t nFirst = 0);
  // The same, returning only the last nLast records that pass the filter
  // (all that pass for a negative nLast), the others never held.
  std::vector<CLogRecord> StartWithBacklog(const CDay& today, const CRecordFilter& filter, long nLast);

  // Records added since the last call. When `today` is a later day than the
  // one being watched, the old file is read a last time (a record written
  // just before midnight is not lost) and the new day's file is watched from
  // its first record on.
  std::vector<CLogRecord> Poll(const CDay& today);

  // For each record the last Start or Poll returned, its index in its day
  // file from 0.
  const std::vector<uint64_t>& LastIndexes() const { return m_aIndexes; }
  // Records of the watched file passed on so far.
  uint64_t Passed() const { return m_nPassed; }

  // A message when the watched file has stayed unreadable over several polls
  // (empty otherwise); given once for each spell of trouble.
  std::string TakeWarning();

  const CDay& WatchedDay() const { return m_day; }

 private:
  enum AddedResult : int {
    addedRead,     // what was added is read (perhaps nothing)
    addedChanged,  // the bytes before the place changed: read the file whole, from its first record
    addedUnsure,   // the bytes before the place are as they were, but the rest needs a whole reading
  };

  // Reads the watched file when it changed since the last read and appends
  // its new records to aNew.
  void ReadChanges(std::vector<CLogRecord>& aNew, uint64_t nFirst = 0);
  AddedResult ReadAdded(std::vector<CLogRecord>& aNew);
  // Reads the file whole, passing on its records that were not passed on
  // before, and none before nKeepFrom.
  void ReadWhole(std::vector<CLogRecord>& aNew, uint64_t nKeepFrom);
  void Forget();
  std::string WatchedPath() const;

  std::string m_strFolder;         // folder being watched
  CDay m_day;                      // day whose file is watched
  uint64_t m_nPassed = 0;          // records of that file already passed on
  uint64_t m_nSeenSize = 0;        // size at the last successful read
  int64_t m_nSeenWrite = 0;        // last-write time at that read
  bool m_bSeen = false;            // whether the file has been read at all
  int m_nFailures = 0;             // consecutive polls whose read failed
  bool m_bWarned = false;          // the current spell of failures was reported
  bool m_bDamageReported = false;  // the watched file was reported damaged
  std::string m_strWarning;        // waiting for TakeWarning
  std::vector<uint64_t> m_aIndexes;
  std::vector<uint64_t> m_aPassed;                  // a hash of each record passed on, in file order
  const CRecordFilter* m_pBacklogFilter = nullptr;  // while StartWithBacklog reads
  long m_nBacklog = -1;

  // Where the records passed on end, and what tells the bytes before it.
  bool m_bHasPlace = false;
  uint64_t m_nPlace = 0;  // byte offset just past the last record passed on
  CFileIdentity m_identity;
  std::string m_strBefore;  // the bytes just before m_nPlace, up to 4 KiB
  uint64_t m_nHash = 0;     // of the bytes before m_nPlace
};
