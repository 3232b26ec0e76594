// The records that show prints, and report gathers: the day files an
// argument list names, read in the order shown (a few at once, handed on in
// that order), with the records that wait beside each day's file after its
// own.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "reading/log_document.h"
#include "reading/record_filter.h"

// The files to read, in the order given (the days of the folder for
// options.m_bAll; without days, those that --since and --until cover, today
// when they are not full dates); times of day in the filter are anchored to
// the first and last of the days (AnchorTimeBounds). False after reporting
// why not, with the exit status that goes with it.
bool ResolveFiles(CShowOptions& options, std::vector<std::string>& aPaths, int& nStatus, std::ostream& err);

// The selected records, given to a consumer one at a time. Each file is
// read once in its turn (twice for the table, whose columns are measured
// first). Run reads the files one after the other, so that memory holds one
// file's text, and with --reverse one file's selected records. RunDays reads
// a few days at once (ReadingThreads, day_pool.h), each into a taker of its
// own, and hands the takers back in the order of the files: memory holds a
// few days' texts and takers. With bOffsets, each record gets the UTC offset
// of its time (CRecordClock, from the records of its file in file order,
// selected or not).
class CShowReading {
 public:
  using Consumer = std::function<void(const CLogRecord&)>;

  // What one day's selected records become (a piece of output, widths of
  // columns), made on the thread that reads the day.
  class CDayTaker {
   public:
    virtual ~CDayTaker() = default;
    virtual void Take(const CLogRecord& record) = 0;
    // Whether it takes the records as they stand in the file, through
    // TakeText, when CanTakeText(): nothing need be decoded then.
    virtual bool TakesText() const { return false; }
    virtual void TakeText(const CRecordText&) {}
  };
  // Called on the reading threads, at the same time for different days.
  using MakeTaker = std::function<std::unique_ptr<CDayTaker>()>;
  // Called on the calling thread, in the order of the files.
  using FinishDay = std::function<void(CDayTaker&)>;

  CShowReading(const CShowOptions& options, const std::vector<std::string>& aPaths, bool bOffsets = false)
      : m_options(options),
        m_aPaths(aPaths),
        m_matcher(options.m_filter),
        m_aReadCounts(aPaths.size(), 0),
        m_bOffsets(bOffsets) {}

  // Gives every selected record to take, on the calling thread. With
  // bFirst, problems are reported and the records read per file counted; a
  // later pass reads no more of each file than the first one did, so that
  // both see the same records. False, after reporting, when a file can't be
  // used at all.
  bool Run(const Consumer& take, bool bFirst, std::ostream& err);
  // The same through a taker per day. What a day warns of goes to err at
  // its turn, once the day is finished. With --limit the days are read
  // one after the other, since how many a day may give depends on the days
  // before it.
  bool RunDays(const MakeTaker& make, const FinishDay& finish, bool bFirst, std::ostream& err);

  size_t Read() const { return m_nRead; }
  // Records taken by the last pass.
  size_t Taken() const { return m_nTaken; }
  // Whether every record read is taken, in file order: its text can then
  // be given as it stands, not decoded.
  bool CanTakeText() const;
  bool Damaged() const { return m_bDamaged; }

 private:
  class CFileSink;
  struct CDayRead;

  // With nTakenInDay taken by the day being read. m_nTaken is looked at
  // only under a limit, and a limit reads the days one at a time on the
  // calling thread: no reading thread reads it while it changes.
  bool LimitReached(size_t nTakenInDay = 0) const {
    return m_options.m_nLimit >= 0 && m_nTaken + nTakenInDay >= static_cast<size_t>(m_options.m_nLimit);
  }
  bool ReadDays(const MakeTaker& make, const FinishDay& finish, bool bFirst, std::ostream& err, unsigned nThreads);
  void ReadDay(bool bFirst, CDayRead& day) const;
  bool DeliverDay(CDayRead& day, const FinishDay& finish);
  // False, after reporting, for a file that gives no record at all.
  bool ReportOutcome(const std::string& strPath, const CLogText& text, bool bFirst, CDayRead& day) const;
  void TakeWaitingRecords(const std::string& strPath, bool bFirst, CDayRead& day, std::vector<CLogRecord>& aHeld) const;

  const CShowOptions& m_options;
  const std::vector<std::string>& m_aPaths;
  CRecordMatcher m_matcher;
  std::vector<size_t> m_aReadCounts;  // records read of each file by the first pass
  size_t m_nRead = 0;                 // records read, selected or not
  size_t m_nTaken = 0;                // records taken in this pass, of the days handed back
  bool m_bDamaged = false;
  bool m_bOffsets = false;
};
