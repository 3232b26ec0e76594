#include "reading/log_stats.h"

#include <algorithm>
#include <iomanip>
#include <iterator>

#include "base/display_text.h"
#include "base/display_width.h"
#include "base/paths.h"
#include "base/text_encoding.h"
#include "format/document_file.h"
#include "format/log_layout.h"
#include "markup/markup.h"
#include "platform/platform_files.h"
#include "reading/day_files.h"
#include "reading/log_file.h"
#include "reading/record_category.h"
#include "reading/record_scan.h"
#include "reading/waiting_records.h"

namespace {

const std::string kSettingsName = ToUtf8(kSettingsFileName);
const std::string kLogPrefix = ToUtf8(kLogFilePrefix);

// The data of "日志保留天数" found as the library finds it at load.
std::u16string ReadLogLifeData(std::u16string strText) {
  CXmlDocument doc;
  doc.SetDocument(std::move(strText));
  return FindLogLifeData(doc);
}

// Counts the records of each type as they are read, in order of first
// appearance.
class CTypeCounter : public CRecordSink {
 public:
  explicit CTypeCounter(std::vector<std::pair<std::string, size_t>>& aCounts) : m_aCounts(aCounts) {}
  void Take(const CRecordText& record) override {
    m_strType.clear();
    AppendFieldUtf8(m_strType, record.m_aData[fieldType], record.m_bEscaped);
    Count(m_strType);
  }
  void Count(const std::string& strType) {
    auto it =
        std::find_if(m_aCounts.begin(), m_aCounts.end(), [&](const auto& count) { return count.first == strType; });
    if (it == m_aCounts.end()) m_aCounts.emplace_back(strType, 1);
    else ++it->second;
  }

 private:
  std::vector<std::pair<std::string, size_t>>& m_aCounts;
  std::string m_strType;
};

CDayStats MeasureDay(const CFolderEntry& entry, const CDay& day) {
  CDayStats dayStats;
  dayStats.m_strName = entry.m_strName;
  dayStats.m_day = day;
  dayStats.m_nSize = entry.m_status.m_size;
  CTypeCounter counter(dayStats.m_aTypeCounts);
  CLogFile file = ReadLogFile(entry.m_strPath, counter);
  if (file.m_nOutcome != logFileRead) {
    dayStats.m_strProblem = file.m_strError;
  } else if (file.m_text.m_nOutcome == logTextMalformed) {
    dayStats.m_strProblem = DescribeDamage(file.m_text) + " (counted: the complete records)";
  } else if (file.m_text.m_nOutcome == logTextEmpty) {
    dayStats.m_strProblem = "empty";
  } else if (file.m_text.m_nOutcome == logTextNotLog) {
    dayStats.m_strProblem = "not a day's log (top element " + file.m_text.m_strTopElement + ")";
  }
  // Records waiting beside the file count for its day, after its own.
  const std::vector<CLogRecord> aWaiting = ReadWaitingRecords(entry.m_strPath);
  dayStats.m_nWaiting = aWaiting.size();
  dayStats.m_nRecords = file.m_text.m_nRecords + aWaiting.size();
  for (const auto& record : aWaiting) counter.Count(record.m_aField[fieldType]);
  return dayStats;
}

// The counts per type, then the errors and warnings among them as show
// --errors and --warnings select them (CategoryOfType).
std::string DescribeTypes(const CDayStats& day) {
  std::string strOut;
  size_t aCounts[2] = {0, 0};
  for (const auto& [strType, nCount] : day.m_aTypeCounts) {
    if (!strOut.empty()) strOut += ", ";
    strOut += (strType.empty() ? "(none)" : strType) + " " + std::to_string(nCount);
    const TypeCategory nCategory = CategoryOfType(strType);
    if (nCategory == categoryError || nCategory == categoryWarning) aCounts[nCategory] += nCount;
  }
  if (aCounts[0] + aCounts[1] == 0) return strOut;
  return strOut + " (errors " + std::to_string(aCounts[0]) + ", warnings " + std::to_string(aCounts[1]) + ")";
}

void WritePurge(const CFolderStats& stats, int64_t nNow, std::ostream& out) {
  out << "\nNext purge (runs when a host loads the library or sets the retention):\n";
  if (stats.m_aPurge.empty()) {
    out << "  no log files\n";
    return;
  }
  int nNameWidth = 0;
  for (const auto& candidate : stats.m_aPurge) {
    nNameWidth = std::max(nNameWidth, DisplayTextWidth(candidate.m_strName, false));
  }
  for (const auto& candidate : stats.m_aPurge) {
    out << "  " << PadToWidth(MakeDisplayText(candidate.m_strName, false), nNameWidth) << "  ";
    if (candidate.m_bExpired) {
      out << "deleted at the next purge (expired";
      if (stats.m_retention.m_nDays > 0) out << " since " << FormatLocalTime(candidate.m_nDue);
      out << ")\n";
    } else {
      out << "deleted from " << FormatLocalTime(candidate.m_nDue) << " (" << FormatDistance(nNow, candidate.m_nDue)
          << ")\n";
    }
  }
}

}  // namespace

CRetention ReadRetention(const std::string& strFolder) {
  CRetention retention;
  std::u16string strPath;
  FromUtf8(JoinPath(strFolder, kSettingsName), strPath);
  CFileStatus status;
  if (!CFile::GetStatus(strPath, status)) {
    retention.m_strSource = "default: there is no " + kSettingsName + " yet";
    return retention;
  }
  CFile file;
  if (!file.Open(strPath, CFile::modeReadAlongsideWriters)) {
    retention.m_strSource = "default: " + kSettingsName + " cannot be opened";
    return retention;
  }
  std::u16string strText;
  try {
    strText = ReadDocumentFile(file);
    file.Close();  // before the parse: the library may want to write it
  } catch (const CFileException&) {
    retention.m_strSource = "default: " + kSettingsName + " cannot be read";
    return retention;
  }
  std::u16string strData = ReadLogLifeData(std::move(strText));
  retention.m_nDays = ParseLogLife(strData);
  retention.m_strSource = kSettingsName + " holds \"" + ToUtf8(strData) + "\"";
  return retention;
}

int64_t PurgeDueTime(int64_t nCreated, int32_t nLogLife) {
  return nCreated + static_cast<int64_t>(std::max(nLogLife, 0)) * kSecondsPerDay;
}

std::string FormatDistance(int64_t nNow, int64_t nThen) {
  int64_t nSeconds = std::max<int64_t>(nThen - nNow, 0);
  int64_t nDays = nSeconds / 86400, nHours = nSeconds % 86400 / 3600, nMinutes = nSeconds % 3600 / 60;
  if (nDays > 0) return "in " + std::to_string(nDays) + " d " + std::to_string(nHours) + " h";
  if (nHours > 0) return "in " + std::to_string(nHours) + " h " + std::to_string(nMinutes) + " min";
  return "in " + std::to_string(std::max<int64_t>(nMinutes, 1)) + " min";
}

bool GatherFolderStats(const std::string& strFolder, int64_t nNow, CFolderStats& stats) {
  std::vector<CFolderEntry> aEntries;
  if (!ListFolder(strFolder, aEntries)) return false;
  stats = CFolderStats();
  stats.m_retention = ReadRetention(strFolder);
  for (const auto& entry : aEntries) {
    CDay day;
    if (ParseDayFileName(entry.m_strName, day)) stats.m_aDays.push_back(MeasureDay(entry, day));
    if (entry.m_strName.compare(0, kLogPrefix.size(), kLogPrefix) != 0 || !entry.m_bHasStatus) continue;
    CPurgeCandidate candidate;
    candidate.m_strName = entry.m_strName;
    candidate.m_nCreated = entry.m_status.m_ctime;
    candidate.m_nDue = PurgeDueTime(candidate.m_nCreated, stats.m_retention.m_nDays);
    candidate.m_bExpired = IsLogExpired(nNow, candidate.m_nCreated, stats.m_retention.m_nDays);
    stats.m_aPurge.push_back(candidate);
  }
  std::sort(stats.m_aDays.begin(), stats.m_aDays.end(),
            [](const CDayStats& a, const CDayStats& b) { return FormatDayStamp(a.m_day) < FormatDayStamp(b.m_day); });
  std::stable_sort(stats.m_aPurge.begin(), stats.m_aPurge.end(),
                   [](const CPurgeCandidate& a, const CPurgeCandidate& b) { return a.m_nDue < b.m_nDue; });
  return true;
}

void WriteFolderStats(const std::string& strFolder, const CFolderStats& stats, int64_t nNow, std::ostream& out) {
  out << "Folder     " << MakeDisplayText(strFolder, false) << "\n";
  out << "Retention  " << stats.m_retention.m_nDays << (stats.m_retention.m_nDays == 1 ? " day" : " days");
  if (stats.m_retention.m_nDays == 0) out << " (logging off)";
  out << " (" << stats.m_retention.m_strSource << ")\n\n";
  if (stats.m_aDays.empty()) {
    out << "No day logs.\n";
  } else {
    out << "DAY         RECORDS       BYTES  TYPES\n";
    for (const auto& day : stats.m_aDays) {
      out << FormatIsoDay(day.m_day) << std::setw(9) << day.m_nRecords << std::setw(12) << day.m_nSize << "  "
          << MakeDisplayText(day.m_strProblem.empty() ? DescribeTypes(day) : day.m_strProblem, false);
      if (day.m_nWaiting > 0) {
        out << " (" << day.m_nWaiting << " waiting for the file, held by another program)";
      }
      out << "\n";
    }
  }
  WritePurge(stats, nNow, out);
}
