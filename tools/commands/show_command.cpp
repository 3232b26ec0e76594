#include <algorithm>
#include <functional>
#include <sstream>

#include "commands.h"
#include "day_files.h"
#include "log_file.h"
#include "log_layout.h"
#include "record_scan.h"
#include "terminal.h"
#include "text_encoding.h"
#include "waiting_records.h"

namespace {

// The files to read, in the order given; false after reporting why not,
// with the exit status that goes with it.
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

// The records show prints, in its order, given to a consumer one at a time.
// Files are read one after the other, each as it is read only once in its
// turn (twice for the table, whose columns are measured first), so memory
// holds one file's text, and with --reverse one file's selected records.
class CShowReading {
 public:
  using Consumer = std::function<void(const CLogRecord&)>;
  using TextConsumer = std::function<void(const CRecordText&)>;

  CShowReading(const CShowOptions& options, const std::vector<std::string>& aPaths)
      : m_options(options), m_aPaths(aPaths), m_matcher(options.m_filter), m_aReadCounts(aPaths.size(), 0) {}

  // Gives every selected record to take. With bFirst, problems are reported
  // and the records read per file counted; a later pass reads no more of
  // each file than the first one did, so that both see the same records.
  // False, after reporting, when a file can't be used at all.
  bool Run(const Consumer& take, bool bFirst, std::ostream& err, const TextConsumer* pTakeText = nullptr) {
    m_nTaken = 0;
    m_pTakeText = CanTakeText() ? pTakeText : nullptr;
    for (size_t n = 0; n < m_aPaths.size() && !LimitReached(); ++n) {
      const size_t i = m_options.m_bReverse ? m_aPaths.size() - 1 - n : n;
      if (!ReadFile(i, take, bFirst, err)) return false;
    }
    return true;
  }

  size_t Read() const { return m_nRead; }
  // Whether every record read is taken, in file order: its text can then
  // be given as it stands, not decoded.
  bool CanTakeText() const {
    const CRecordFilter& filter = m_options.m_filter;
    return !m_options.m_bReverse && filter.m_aTypes.empty() && !filter.m_since.m_bSet && !filter.m_until.m_bSet &&
           filter.m_strGrep.empty();
  }
  bool Damaged() const { return m_bDamaged; }

 private:
  class CFileSink : public CRecordSink {
   public:
    CFileSink(CShowReading& reading, const Consumer& take, size_t nMax) : m_reading(reading), m_take(take), m_nMax(nMax) {}
    void Take(const CRecordText& text) override {
      if (m_nSeen == m_nMax || m_reading.LimitReached()) return;
      ++m_nSeen;
      const CShowReading& r = m_reading;
      if (r.m_pTakeText != nullptr) {
        ++m_reading.m_nTaken;
        (*r.m_pTakeText)(text);
        return;
      }
      if (!r.m_matcher.MayMatch(text)) return;
      for (int i = 0; i < kFieldCount; ++i) {
        m_record.m_aField[i].clear();
        AppendFieldUtf8(m_record.m_aField[i], text.m_aData[i], text.m_bEscaped);
      }
      if (!r.m_matcher.Matches(m_record)) return;
      m_record.m_strFile = *text.m_pFile;
      if (r.m_options.m_nFormat == formatXml) m_record.m_strMarkup = MakeLogRecord(text, true).m_strMarkup;
      if (r.m_options.m_bReverse) {
        m_aHeld.push_back(m_record);
      } else {
        ++m_reading.m_nTaken;
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

  bool LimitReached() const { return m_options.m_nLimit >= 0 && m_nTaken >= static_cast<size_t>(m_options.m_nLimit); }

  bool ReadFile(size_t i, const Consumer& take, bool bFirst, std::ostream& err) {
    const std::string& strPath = m_aPaths[i];
    CFileSink sink(*this, take, bFirst ? std::string::npos : m_aReadCounts[i]);
    CLogFile file = ReadLogFile(strPath, sink);
    if (bFirst) m_aReadCounts[i] = sink.Seen();
    if (file.m_nOutcome != logFileRead) {
      ReportError(err, strPath + ": " + file.m_strError);
      return false;
    }
    const CLogText& text = file.m_text;
    switch (text.m_nOutcome) {
      case logTextRead:
        break;
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
          ReportError(err, strPath + ": " + DescribeDamage(text) + "; showing the " +
                               std::to_string(text.m_nRecords) + " complete records");
        }
        m_bDamaged = true;
        break;
    }
    if (bFirst) m_nRead += sink.Seen();
    // Records that wait for the day's file while another program holds it
    // are the day's too, after the records in the file.
    for (CLogRecord& record : ReadWaitingRecords(strPath)) {
      if (LimitReached()) break;
      if (bFirst) ++m_nRead;
      if (!m_matcher.Matches(record)) continue;
      if (m_options.m_bReverse) {
        sink.Held().push_back(std::move(record));
      } else {
        ++m_nTaken;
        take(record);
      }
    }
    std::vector<CLogRecord>& aHeld = sink.Held();
    for (auto it = aHeld.rbegin(); it != aHeld.rend() && !LimitReached(); ++it) {
      ++m_nTaken;
      take(*it);
    }
    return true;
  }

  const CShowOptions& m_options;
  const std::vector<std::string>& m_aPaths;
  CRecordMatcher m_matcher;
  std::vector<size_t> m_aReadCounts;  // records read of each file by the first pass
  size_t m_nRead = 0;                 // records read, selected or not
  size_t m_nTaken = 0;                // records given to the consumer in this pass
  const TextConsumer* m_pTakeText = nullptr;
  bool m_bDamaged = false;
};

// Filters that leave nothing say so, since no output at all looks the same
// as an empty log; types are compared exactly, which is worth a reminder.
void ReportNoMatch(const CRecordFilter& filter, size_t nRead, std::ostream& err) {
  std::string strMessage = "none of the " + std::to_string(nRead) + " records read matches the filters";
  if (!filter.m_aTypes.empty()) strMessage += " (--type compares the whole type exactly, case included)";
  ReportError(err, strMessage);
}

}  // namespace

void ReportError(std::ostream& err, const std::string& strMessage) { err << "vardlix: " << strMessage << std::endl; }

int RunShow(const CShowOptions& options, std::ostream& out, std::ostream& err) {
  if (options.m_bByteOrderMark && options.m_nFormat != formatCsv) {
    ReportError(err, "--bom goes with --format csv only");
    return exitUsage;
  }
  std::vector<std::string> aPaths;
  int nStatus = exitOk;
  if (!ResolveFiles(options, aPaths, nStatus, err)) return nStatus;
  CShowReading reading(options, aPaths);
  // Lines are gathered in a buffer and written a block at a time.
  std::string strBuffer;
  bool bFlushed = false;
  auto Flush = [&] {
    bFlushed = bFlushed || !strBuffer.empty();
    out.write(strBuffer.data(), static_cast<std::streamsize>(strBuffer.size()));
    strBuffer.clear();
  };
  auto FlushWhenFull = [&] {
    if (strBuffer.size() >= 256 * 1024) Flush();
  };
  bool bRead = true;
  size_t nShown = 0;
  switch (options.m_nFormat) {
    case formatTable: {
      CTableOptions table;
      table.m_nWidth = options.m_bWide ? 0 : OutputWidth();
      table.m_bColor = WantsColor(options.m_strColor);
      // The columns are measured on the records to be shown, then the
      // records are read again and written.
      CTableLayout natural = MeasureColumns({});
      const CShowReading::TextConsumer measureText = [&](const CRecordText& record) {
        ++nShown;
        for (int i = 0; i < kFieldCount; ++i) {
          natural[i] =
              std::max(natural[i], FieldTextWidth(record.m_aData[i], record.m_bEscaped, i == fieldDescription));
        }
      };
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            ++nShown;
            for (int i = 0; i < kFieldCount; ++i) {
              natural[i] = std::max(natural[i], DisplayTextWidth(record.m_aField[i], i == fieldDescription));
            }
          },
          true, err, &measureText);
      if (!bRead || nShown == 0) break;
      const CTableLayout layout = FitColumns(natural, table.m_nWidth);
      WriteTableHeader(layout, table, out);
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            AppendTableRow(strBuffer, record, layout, table);
            FlushWhenFull();
          },
          false, err);
      break;
    }
    case formatJson:
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            ++nShown;
            AppendJsonLine(strBuffer, record);
            FlushWhenFull();
          },
          true, err);
      break;
    case formatCsv:
      if (options.m_bByteOrderMark) strBuffer += "\xEF\xBB\xBF";
      strBuffer += "time,type,location,operation,parameters,description,file\r\n";
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            ++nShown;
            AppendCsvRow(strBuffer, record);
            FlushWhenFull();
          },
          true, err);
      break;
    case formatXml: {
      std::ostringstream head;
      WriteXmlHead(head);
      strBuffer = head.str();
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            ++nShown;
            strBuffer += record.m_strMarkup;
            strBuffer += "\r\n";
            FlushWhenFull();
          },
          true, err);
      if (bRead) {
        std::ostringstream tail;
        WriteXmlTail(tail);
        strBuffer += tail.str();
      }
      break;
    }
  }
  // A file that can't be read at all leaves no output, unless records of
  // earlier files have gone out already.
  if (!bRead && !bFlushed) strBuffer.clear();
  Flush();
  out.flush();
  if (!bRead) return exitFailure;
  if (nShown == 0 && reading.Read() > 0 && options.m_nLimit != 0) ReportNoMatch(options.m_filter, reading.Read(), err);
  return reading.Damaged() ? exitFailure : exitOk;
}
