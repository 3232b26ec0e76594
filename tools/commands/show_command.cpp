#include <algorithm>

#include "commands.h"
#include "day_files.h"
#include "log_file.h"
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

// Adds the records of one file. False when the file can't be used at all;
// bDamaged tells that the file is damaged and only the records around the
// damage were added.
bool CollectRecords(const std::string& strPath, std::vector<CLogRecord>& aRecords, bool& bDamaged,
                    std::ostream& err) {
  CLogFile file = ReadLogFile(strPath);
  if (file.m_nOutcome != logFileRead) {
    ReportError(err, strPath + ": " + file.m_strError);
    return false;
  }
  CLogText& text = file.m_text;
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
      if (text.m_aRecords.empty()) {
        ReportError(err, strPath + ": " + DescribeDamage(text) + "; no complete record in it");
        return false;
      }
      ReportError(err, strPath + ": " + DescribeDamage(text) + "; showing the " +
                           std::to_string(text.m_aRecords.size()) + " complete records");
      bDamaged = true;
      break;
  }
  std::move(text.m_aRecords.begin(), text.m_aRecords.end(), std::back_inserter(aRecords));
  // Records that wait for the day's file while another program holds it
  // are the day's too, after the records in the file.
  std::vector<CLogRecord> aWaiting = ReadWaitingRecords(strPath);
  std::move(aWaiting.begin(), aWaiting.end(), std::back_inserter(aRecords));
  return true;
}

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
  std::vector<CLogRecord> aRecords;
  bool bDamaged = false;
  for (const auto& strPath : aPaths) {
    if (!CollectRecords(strPath, aRecords, bDamaged, err)) return exitFailure;
  }
  const size_t nRead = aRecords.size();
  SelectRecords(aRecords, options.m_filter, options.m_bReverse, options.m_nLimit);
  if (aRecords.empty() && nRead > 0 && options.m_nLimit != 0) ReportNoMatch(options.m_filter, nRead, err);
  switch (options.m_nFormat) {
    case formatTable: {
      CTableOptions table;
      table.m_nWidth = options.m_bWide ? 0 : OutputWidth();
      table.m_bColor = WantsColor(options.m_strColor);
      if (!aRecords.empty()) WriteTable(aRecords, table, out);
      break;
    }
    case formatJson:
      for (const auto& record : aRecords) WriteJsonLine(record, out);
      break;
    case formatCsv:
      if (options.m_bByteOrderMark) out << "\xEF\xBB\xBF";
      WriteCsvHeader(out);
      for (const auto& record : aRecords) WriteCsvRow(record, out);
      break;
    case formatXml:
      WriteXml(aRecords, out);
      break;
  }
  out.flush();
  return bDamaged ? exitFailure : exitOk;
}
