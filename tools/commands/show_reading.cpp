#include "commands/show_reading.h"

#include <algorithm>

#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "reading/day_files.h"
#include "reading/log_file.h"
#include "reading/record_export.h"
#include "reading/waiting_records.h"

bool ResolveFiles(const CShowOptions& options, std::vector<std::string>& aPaths, int& nStatus, std::ostream& err) {
  nStatus = exitFailure;
  bool bNeedsFolder = options.m_bAll || options.m_aDays.empty() ||
                      std::any_of(options.m_aDays.begin(), options.m_aDays.end(), [](const std::string& strDay) {
                        CDay day;
                        return ParseDay(strDay, day) || strDay == "today" || strDay == "yesterday";
                      });
  if (bNeedsFolder && !IsFolder(options.m_strFolder)) {
    ReportError(err, "no such folder: " + options.m_strFolder);
    return false;
  }
  if (options.m_bAll) {
    std::vector<CFolderEntry> aEntries;
    ListFolder(options.m_strFolder, aEntries);
    CDay day;
    for (const auto& entry : aEntries) {
      if (ParseDayFileName(entry.m_strName, day)) aPaths.push_back(entry.m_strPath);
    }
    if (aPaths.empty()) ReportError(err, "no day logs in " + options.m_strFolder);
    return !aPaths.empty();
  }
  std::vector<std::string> aDays = options.m_aDays;
  if (aDays.empty()) aDays.push_back("today");
  CDay today = Today();
  for (const auto& strDay : aDays) {
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

class CShowReading::CFileSink : public CRecordSink {
 public:
  CFileSink(CShowReading& reading, const Consumer& take, size_t nMax)
      : m_reading(reading), m_take(take), m_nMax(nMax) {}
  void Take(const CRecordText& text) override {
    CShowReading& r = m_reading;
    if (m_nSeen == m_nMax || r.LimitReached()) return;
    ++m_nSeen;
    if (r.m_pTakeText != nullptr) {
      ++r.m_nTaken;
      (*r.m_pTakeText)(text);
      return;
    }
    // Every record of the file counts for the order of the offsets.
    const int64_t nOffset = r.m_bOffsets ? r.m_clock.OffsetOf(text.m_aData[fieldTime]) : kNoUtcOffset;
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
      ++r.m_nTaken;
      m_take(m_record);
    }
  }
  size_t Seen() const { return m_nSeen; }
  std::vector<CLogRecord>& Held() { return m_aHeld; }

 private:
  CShowReading& m_reading;
  const Consumer& m_take;
  size_t m_nMax;
  size_t m_nSeen = 0;
  CLogRecord m_record;
  std::vector<CLogRecord> m_aHeld;
};

bool CShowReading::Run(const Consumer& take, bool bFirst, std::ostream& err, const TextConsumer* pTakeText) {
  m_nTaken = 0;
  m_pTakeText = CanTakeText() ? pTakeText : nullptr;
  for (size_t n = 0; n < m_aPaths.size() && !LimitReached(); ++n) {
    const size_t i = m_options.m_bReverse ? m_aPaths.size() - 1 - n : n;
    if (!ReadFile(i, take, bFirst, err)) return false;
  }
  return true;
}

bool CShowReading::CanTakeText() const {
  const CRecordFilter& filter = m_options.m_filter;
  return !m_options.m_bReverse && filter.m_aTypes.empty() && !filter.m_since.m_bSet && !filter.m_until.m_bSet &&
         filter.m_strGrep.empty();
}

bool CShowReading::ReadFile(size_t i, const Consumer& take, bool bFirst, std::ostream& err) {
  const std::string& strPath = m_aPaths[i];
  m_clock.StartFile();
  CFileSink sink(*this, take, bFirst ? std::string::npos : m_aReadCounts[i]);
  CLogFile file = ReadLogFile(strPath, sink);
  if (bFirst) m_aReadCounts[i] = sink.Seen();
  if (file.m_nOutcome != logFileRead) {
    ReportError(err, strPath + ": " + file.m_strError);
    return false;
  }
  if (!ReportOutcome(strPath, file.m_text, bFirst, err)) return false;
  if (bFirst) m_nRead += sink.Seen();
  TakeWaitingRecords(strPath, take, bFirst, sink.Held());
  std::vector<CLogRecord>& aHeld = sink.Held();
  for (auto it = aHeld.rbegin(); it != aHeld.rend() && !LimitReached(); ++it) {
    ++m_nTaken;
    take(*it);
  }
  return true;
}

bool CShowReading::ReportOutcome(const std::string& strPath, const CLogText& text, bool bFirst, std::ostream& err) {
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
      if (text.m_nRecords == 0) {
        ReportError(err, strPath + ": " + DescribeDamage(text) + "; no complete record in it");
        return false;
      }
      if (bFirst) {
        ReportError(err, strPath + ": " + DescribeDamage(text) + "; showing the " + std::to_string(text.m_nRecords) +
                             " complete records");
      }
      m_bDamaged = true;
      return true;
  }
  return true;
}

// Records that wait for the day's file while another program holds it are
// the day's too, after the records in the file.
void CShowReading::TakeWaitingRecords(const std::string& strPath, const Consumer& take, bool bFirst,
                                      std::vector<CLogRecord>& aHeld) {
  for (CLogRecord& record : ReadWaitingRecords(strPath)) {
    if (LimitReached()) break;
    if (bFirst) ++m_nRead;
    if (m_bOffsets) record.m_nUtcOffset = m_clock.OffsetOf(record.m_aField[fieldTime]);
    if (!m_matcher.Matches(record)) continue;
    if (m_options.m_bReverse) {
      aHeld.push_back(std::move(record));
    } else {
      ++m_nTaken;
      take(record);
    }
  }
}
