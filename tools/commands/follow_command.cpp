#include <algorithm>

#include "commands/commands.h"
#include "output/terminal.h"
#include "reading/day_files.h"
#include "reading/log_follow.h"
#include "system/console.h"

namespace {

// Widths of the table when records arrive one by one and can't be measured
// ahead: room for typical values, the description taking what is left.
CTableLayout StreamingLayout(int nWidth) {
  CTableLayout layout = {19, 8, 16, 16, 20, 40};
  if (nWidth <= 0) return layout;
  return FitColumns({19, 8, 16, 16, 20, 1000}, nWidth);
}

// The last nCount records of today that pass the filter.
std::vector<CLogRecord> TakeBacklog(std::vector<CLogRecord> aRecords, const CRecordFilter& filter, long nCount) {
  SelectRecords(aRecords, filter, true, nCount);
  std::reverse(aRecords.begin(), aRecords.end());
  return aRecords;
}

// The offsets of the records' times, from the records of each file in the
// order they arrive.
class CFollowClock {
 public:
  void Give(CLogRecord& record) {
    if (record.m_strFile != m_strFile) {
      m_clock.StartFile();
      m_strFile = record.m_strFile;
    }
    record.m_nUtcOffset = m_clock.OffsetOf(record.m_aField[fieldTime]);
  }

 private:
  CRecordClock m_clock;
  std::string m_strFile;
};

void WriteRecords(std::vector<CLogRecord> aRecords, const CFollowOptions& options, const CTableLayout& layout,
                  const CTableOptions& table, CFollowClock& clock, std::ostream& out) {
  for (auto& record : aRecords) {
    if (options.m_nFormat != formatTable) clock.Give(record);
    if (!options.m_filter.Matches(record)) continue;
    if (options.m_nFormat == formatJson) WriteJsonLine(record, out);
    else if (options.m_nFormat == formatCsv) WriteCsvRow(record, out, options.m_bKeepFormulas);
    else WriteTableRow(record, layout, table, out);
  }
  out.flush();
}

}  // namespace

int RunFollow(const CFollowOptions& options, std::ostream& out, std::ostream& err) {
  if (!IsFolder(options.m_strFolder)) {
    ReportError(err, "no such folder: " + options.m_strFolder);
    return exitFailure;
  }
  if (options.m_nFormat == formatXml) {
    ReportError(err, "follow writes table, json or csv");
    return exitUsage;
  }
  CatchInterrupts();
  CTableOptions table;
  table.m_nWidth = options.m_bWide ? 0 : OutputWidth();
  table.m_bColor = WantsColor(options.m_strColor);
  CTableLayout layout = StreamingLayout(table.m_nWidth);
  if (options.m_nFormat == formatTable) WriteTableHeader(layout, table, out);
  if (options.m_nFormat == formatCsv) WriteCsvHeader(out);

  CLogFollower follower(options.m_strFolder);
  CFollowClock clock;
  WriteRecords(TakeBacklog(follower.StartWithBacklog(Today(), options.m_filter, options.m_nBacklog), options.m_filter,
                           options.m_nBacklog),
               options, layout, table, clock, out);
  while (!WasInterrupted() && out.good()) {
    SleepUnlessInterrupted(options.m_nPollMilliseconds);
    WriteRecords(follower.Poll(Today()), options, layout, table, clock, out);
    std::string strWarning = follower.TakeWarning();
    if (!strWarning.empty()) ReportError(err, strWarning);
  }
  return exitOk;
}
