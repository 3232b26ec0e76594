#include "commands/show_reading.h"

#include <algorithm>
#include <sstream>

#include "base/paths.h"
#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "reading/day_files.h"
#include "reading/day_pool.h"
#include "reading/log_file.h"
#include "reading/record_export.h"
#include "reading/waiting_records.h"

namespace {

bool ParseDayWord(const std::string& strText, const CDay& today, CDay& day) {
  if (strText == "today" || strText == "yesterday") {
    day = strText == "today" ? today : PreviousDay(today);
    return true;
  }
  return ParseDay(strText, day);
}

// "2026-12-01..2026-12-03", either end also today or yesterday.
bool ParseDayRange(const std::string& strText, const CDay& today, CDay& first, CDay& last) {
  const size_t nPos = strText.find("..");
  return nPos != std::string::npos && ParseDayWord(strText.substr(0, nPos), today, first) &&
         ParseDayWord(strText.substr(nPos + 2), today, last);
}

// The logs of the days from first to last that the folder holds, in order.
// False, after reporting, when it holds none of them.
bool AddDaysBetween(const std::string& strFolder, CDay first, const CDay& last, std::vector<std::string>& aPaths,
                    std::ostream& err) {
  const size_t nBefore = aPaths.size();
  const CDay from = first;
  for (int n = 0; DayKey(first) <= DayKey(last) && n < 40000; ++n, first = NextDay(first)) {
    std::string strPath, strError;
    if (ResolveDayArgument(FormatDayStamp(first), strFolder, first, strPath, strError) == dayArgumentFound) {
      aPaths.push_back(strPath);
    }
  }
  if (aPaths.size() > nBefore) return true;
  ReportError(err, "no log from " + FormatIsoDay(from) + " to " + FormatIsoDay(last) + " in " + strFolder);
  return false;
}

// The days a window covers when no day is given: from the day of --since to
// that of --until, today standing for a bound that is not a full stamp. Times
// of day whose start is later than their end run from yesterday into today.
void FindWindowDays(const CRecordFilter& filter, const CDay& today, CDay& first, CDay& last) {
  const CTimeBound& since = filter.m_since;
  const CTimeBound& until = filter.m_until;
  last = until.m_bSet && !until.m_bTimeOfDay ? DayOfStamp(until.m_stamp) : today;
  first = DayKey(last) < DayKey(today) ? last : today;
  if (since.m_bSet && !since.m_bTimeOfDay) first = DayOfStamp(since.m_stamp);
  if (since.m_bSet && since.m_bTimeOfDay && until.m_bSet && until.m_bTimeOfDay &&
      since.m_stamp.TimeOfDayKey() > until.m_stamp.TimeOfDayKey()) {
    first = PreviousDay(today);
  }
}

// The earliest and latest day of the files, by their names; false when a
// file's name is not a day's.
bool FindFileDays(const std::vector<std::string>& aPaths, CDay& first, CDay& last) {
  for (size_t i = 0; i < aPaths.size(); ++i) {
    CDay day;
    if (!ParseDayFileName(FileNameOf(aPaths[i]), day)) return false;
    if (i == 0 || DayKey(day) < DayKey(first)) first = day;
    if (i == 0 || DayKey(day) > DayKey(last)) last = day;
  }
  return !aPaths.empty();
}

// The files the day arguments name, ranges of days included.
bool ResolveDayArguments(const CShowOptions& options, std::vector<std::string>& aPaths, int& nStatus,
                         std::ostream& err) {
  const CDay today = Today();
  for (const auto& strDay : options.m_aDays) {
    CDay first, last;
    if (ParseDayRange(strDay, today, first, last)) {
      if (!AddDaysBetween(options.m_strFolder, first, last, aPaths, err)) return false;
      continue;
    }
    std::string strPath, strError;
    const DayArgument nFound = ResolveDayArgument(strDay, options.m_strFolder, today, strPath, strError);
    if (nFound != dayArgumentFound) {
      ReportError(err, strError);
      nStatus = nFound == dayArgumentBadDate ? exitUsage : exitFailure;
      return false;
    }
    aPaths.push_back(strPath);
  }
  return true;
}

bool ResolveAllDays(const CShowOptions& options, std::vector<std::string>& aPaths, std::ostream& err) {
  std::vector<CFolderEntry> aEntries;
  ListFolder(options.m_strFolder, aEntries);
  CDay day;
  for (const auto& entry : aEntries) {
    if (ParseDayFileName(entry.m_strName, day)) aPaths.push_back(entry.m_strPath);
  }
  if (aPaths.empty()) ReportError(err, "no day logs in " + options.m_strFolder);
  return !aPaths.empty();
}

// Without days, the window's days are read: today's log alone must exist,
// of a longer period any of them.
bool ResolveWindowDays(CShowOptions& options, std::vector<std::string>& aPaths, int& nStatus, std::ostream& err) {
  const CDay today = Today();
  CDay first, last;
  FindWindowDays(options.m_filter, today, first, last);
  AnchorTimeBounds(options.m_filter.m_since, options.m_filter.m_until, first, last);
  if (DayKey(first) != DayKey(last)) return AddDaysBetween(options.m_strFolder, first, last, aPaths, err);
  options.m_aDays = {FormatIsoDay(first)};
  return ResolveDayArguments(options, aPaths, nStatus, err);
}

}  // namespace

bool ResolveFiles(CShowOptions& options, std::vector<std::string>& aPaths, int& nStatus, std::ostream& err) {
  nStatus = exitFailure;
  bool bNeedsFolder = options.m_bAll || options.m_aDays.empty() ||
                      std::any_of(options.m_aDays.begin(), options.m_aDays.end(), [](const std::string& strDay) {
                        CDay day, other;
                        return ParseDayWord(strDay, day, day) || ParseDayRange(strDay, day, day, other);
                      });
  if (bNeedsFolder && !IsFolder(options.m_strFolder)) {
    ReportError(err, "no such folder: " + options.m_strFolder);
    return false;
  }
  if (!options.m_bAll && options.m_aDays.empty()) return ResolveWindowDays(options, aPaths, nStatus, err);
  const bool bFound =
      options.m_bAll ? ResolveAllDays(options, aPaths, err) : ResolveDayArguments(options, aPaths, nStatus, err);
  CDay first, last;
  if (bFound && FindFileDays(aPaths, first, last)) {
    AnchorTimeBounds(options.m_filter.m_since, options.m_filter.m_until, first, last);
  }
  return bFound;
}

// What the reading of one day leaves for its turn: the taker, what it
// warns of, and the counts. Filled on a reading thread, handed back on the
// calling one.
struct CShowReading::CDayRead {
  size_t m_nFile = 0;  // index into m_aPaths
  std::unique_ptr<CDayTaker> m_pTaker;
  std::ostringstream m_warnings;
  CRecordClock m_clock;  // the offsets of the day's records, in file order
  bool m_bText = false;  // the taker gets the records as they stand
  bool m_bUsable = false;
  bool m_bDamaged = false;
  size_t m_nSeen = 0;   // records of the file read, selected or not
  size_t m_nRead = 0;   // the same, with those waiting beside it, for the first pass
  size_t m_nTaken = 0;  // records given to the taker
};

class CShowReading::CFileSink : public CRecordSink {
 public:
  CFileSink(const CShowReading& reading, CDayRead& day, size_t nMax) : m_reading(reading), m_day(day), m_nMax(nMax) {}
  void Take(const CRecordText& text) override {
    const CShowReading& r = m_reading;
    if (m_nSeen == m_nMax || r.LimitReached(m_day.m_nTaken)) return;
    ++m_nSeen;
    if (m_day.m_bText) {
      ++m_day.m_nTaken;
      m_day.m_pTaker->TakeText(text);
      return;
    }
    // Every record of the file counts for the order of the offsets.
    const int64_t nOffset = r.m_bOffsets ? m_day.m_clock.OffsetOf(text.m_aData[fieldTime]) : kNoUtcOffset;
    if (!r.m_matcher.MayMatch(text)) return;
    for (int i = 0; i < kFieldCount; ++i) {
      m_record.m_aField[i].clear();
      AppendFieldUtf8(m_record.m_aField[i], text.m_aData[i], text.m_bEscaped);
    }
    if (!r.m_matcher.Matches(m_record)) return;
    m_record.m_strFile = *text.m_pFile;
    m_record.m_nUtcOffset = nOffset;
    if (r.m_options.m_nFormat == formatXml) m_record.m_strMarkup = MakeLogRecord(text, true).m_strMarkup;
    if (r.m_options.m_bReverse) {
      m_aHeld.push_back(m_record);
    } else {
      ++m_day.m_nTaken;
      m_day.m_pTaker->Take(m_record);
    }
  }
  size_t Seen() const { return m_nSeen; }
  std::vector<CLogRecord>& Held() { return m_aHeld; }

 private:
  const CShowReading& m_reading;
  CDayRead& m_day;
  size_t m_nMax;
  size_t m_nSeen = 0;
  CLogRecord m_record;
  std::vector<CLogRecord> m_aHeld;
};

namespace {

// Hands each record to the consumer as it is read: for reading on the
// calling thread alone.
class CConsumerTaker : public CShowReading::CDayTaker {
 public:
  explicit CConsumerTaker(const CShowReading::Consumer& take) : m_take(take) {}
  void Take(const CLogRecord& record) override { m_take(record); }

 private:
  const CShowReading::Consumer& m_take;
};

}  // namespace

bool CShowReading::Run(const Consumer& take, bool bFirst, std::ostream& err) {
  return ReadDays([&take] { return std::make_unique<CConsumerTaker>(take); }, [](CDayTaker&) {}, bFirst, err, 1);
}

bool CShowReading::RunDays(const MakeTaker& make, const FinishDay& finish, bool bFirst, std::ostream& err) {
  return ReadDays(make, finish, bFirst, err, m_options.m_nLimit >= 0 ? 1 : ReadingThreads());
}

bool CShowReading::ReadDays(const MakeTaker& make, const FinishDay& finish, bool bFirst, std::ostream& err,
                            unsigned nThreads) {
  m_nTaken = 0;
  // One slot per day; a day's slot is emptied once it is handed back.
  std::vector<std::unique_ptr<CDayRead>> aDays(m_aPaths.size());
  bool bWhole = true;
  RunInDayOrder(
      m_aPaths.size(), nThreads,
      [&](size_t n) {
        aDays[n] = std::make_unique<CDayRead>();
        aDays[n]->m_nFile = m_options.m_bReverse ? m_aPaths.size() - 1 - n : n;
        aDays[n]->m_pTaker = make();
        ReadDay(bFirst, *aDays[n]);
      },
      [&](size_t n) {
        std::unique_ptr<CDayRead> pDay = std::move(aDays[n]);
        if (bFirst) m_aReadCounts[pDay->m_nFile] = pDay->m_nSeen;
        // The day's records, then what it warns of, as when it was read
        // in its turn: a damaged day's warning follows its records.
        bWhole = DeliverDay(*pDay, finish);
        err << pDay->m_warnings.str();
        return bWhole && !LimitReached();
      });
  return bWhole;
}

bool CShowReading::CanTakeText() const {
  const CRecordFilter& filter = m_options.m_filter;
  return !m_options.m_bReverse && !filter.HasFilters();
}

// Reads one day into its taker; what the calling thread must do with it is
// left in day. Runs on a reading thread: it changes nothing but day.
void CShowReading::ReadDay(bool bFirst, CDayRead& day) const {
  const std::string& strPath = m_aPaths[day.m_nFile];
  day.m_bText = CanTakeText() && day.m_pTaker->TakesText();
  CFileSink sink(*this, day, bFirst ? std::string::npos : m_aReadCounts[day.m_nFile]);
  CLogFile file = ReadLogFile(strPath, sink);
  day.m_nSeen = sink.Seen();
  if (file.m_nOutcome != logFileRead) {
    ReportError(day.m_warnings, strPath + ": " + file.m_strError);
    return;
  }
  if (!ReportOutcome(strPath, file.m_text, bFirst, day)) return;
  day.m_bUsable = true;
  if (bFirst) day.m_nRead = sink.Seen();
  std::vector<CLogRecord>& aHeld = sink.Held();
  TakeWaitingRecords(strPath, bFirst, day, aHeld);
  for (auto it = aHeld.rbegin(); it != aHeld.rend() && !LimitReached(day.m_nTaken); ++it) {
    ++day.m_nTaken;
    day.m_pTaker->Take(*it);
  }
}

// A day's turn on the calling thread. False when its file could not be used.
bool CShowReading::DeliverDay(CDayRead& day, const FinishDay& finish) {
  if (!day.m_bUsable) return false;
  m_bDamaged = m_bDamaged || day.m_bDamaged;
  m_nRead += day.m_nRead;
  m_nTaken += day.m_nTaken;
  finish(*day.m_pTaker);
  return true;
}

bool CShowReading::ReportOutcome(const std::string& strPath, const CLogText& text, bool bFirst, CDayRead& day) const {
  std::ostream& err = day.m_warnings;
  switch (text.m_nOutcome) {
    case logTextRead:
      return true;
    case logTextEmpty:
      ReportError(err, strPath + ": the file is empty, not a day's log");
      return false;
    case logTextNotLog:
      ReportError(err, strPath + ": not a day's log (its top element is <" + text.m_strTopElement + ">, not <" +
                           ToUtf8(kLogRoot) + ">)");
      return false;
    case logTextMalformed:
      // Neither the log's top element nor any element at all: other text,
      // such as /etc/passwd, rather than a log that was damaged.
      if (text.m_nRecords == 0 && !text.m_bRootOpened && text.m_strTopElement.empty()) {
        ReportError(err, strPath + ": not a Vardlix log (no <" + ToUtf8(kLogRoot) +
                             "> element and no record: " + DescribeDamage(text) + ")");
        return false;
      }
      if (text.m_nRecords == 0) {
        ReportError(err, strPath + ": " + DescribeDamage(text) + "; no complete record in it");
        return false;
      }
      if (bFirst) {
        ReportError(err, strPath + ": " + DescribeDamage(text) + "; showing the " + std::to_string(text.m_nRecords) +
                             " complete records");
      }
      day.m_bDamaged = true;
      return true;
  }
  return true;
}

// Records that wait for the day's file while another program holds it are
// the day's too, after the records in the file.
void CShowReading::TakeWaitingRecords(const std::string& strPath, bool bFirst, CDayRead& day,
                                      std::vector<CLogRecord>& aHeld) const {
  for (CLogRecord& record : ReadWaitingRecords(strPath)) {
    if (LimitReached(day.m_nTaken)) break;
    if (bFirst) ++day.m_nRead;
    if (m_bOffsets) record.m_nUtcOffset = day.m_clock.OffsetOf(record.m_aField[fieldTime]);
    if (!m_matcher.Matches(record)) continue;
    if (m_options.m_bReverse) {
      aHeld.push_back(std::move(record));
    } else {
      ++day.m_nTaken;
      day.m_pTaker->Take(record);
    }
  }
}
