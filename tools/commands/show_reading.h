// The records that show prints, and report gathers: the day files an
// argument list names, read one at a time in the order shown, with the
// records that wait beside each day's file after its own.
#pragma once

#include <functional>
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

// The selected records, given to a consumer one at a time. Files are read
// one after the other, each only once in its turn (twice for the table,
// whose columns are measured first), so memory holds one file's text, and
// with --reverse one file's selected records. With bOffsets, each record
// gets the UTC offset of its time (CRecordClock, from the records of its
// file in file order, selected or not).
class CShowReading {
 public:
  using Consumer = std::function<void(const CLogRecord&)>;
  using TextConsumer = std::function<void(const CRecordText&)>;

  CShowReading(const CShowOptions& options, const std::vector<std::string>& aPaths, bool bOffsets = false)
      : m_options(options),
        m_aPaths(aPaths),
        m_matcher(options.m_filter),
        m_aReadCounts(aPaths.size(), 0),
        m_bOffsets(bOffsets) {}

  // Gives every selected record to take. With bFirst, problems are reported
  // and the records read per file counted; a later pass reads no more of
  // each file than the first one did, so that both see the same records.
  // False, after reporting, when a file can't be used at all. pTakeText,
  // when CanTakeText(), gets the records as they stand instead.
  bool Run(const Consumer& take, bool bFirst, std::ostream& err, const TextConsumer* pTakeText = nullptr);

  size_t Read() const { return m_nRead; }
  // Whether every record read is taken, in file order: its text can then
  // be given as it stands, not decoded.
  bool CanTakeText() const;
  bool Damaged() const { return m_bDamaged; }

 private:
  class CFileSink;

  bool LimitReached() const { return m_options.m_nLimit >= 0 && m_nTaken >= static_cast<size_t>(m_options.m_nLimit); }
  bool ReadFile(size_t i, const Consumer& take, bool bFirst, std::ostream& err);
  // False, after reporting, for a file that gives no record at all.
  bool ReportOutcome(const std::string& strPath, const CLogText& text, bool bFirst, std::ostream& err);
  void TakeWaitingRecords(const std::string& strPath, const Consumer& take, bool bFirst,
                          std::vector<CLogRecord>& aHeld);

  const CShowOptions& m_options;
  const std::vector<std::string>& m_aPaths;
  CRecordMatcher m_matcher;
  std::vector<size_t> m_aReadCounts;  // records read of each file by the first pass
  size_t m_nRead = 0;                 // records read, selected or not
  size_t m_nTaken = 0;                // records given to the consumer in this pass
  const TextConsumer* m_pTakeText = nullptr;
  bool m_bDamaged = false;
  bool m_bOffsets = false;
  CRecordClock m_clock;
};
