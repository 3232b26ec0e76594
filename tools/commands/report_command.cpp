// vardlix report: the records of chosen days of a folder as one HTML page
// (html_report.h), read as show reads them, the records waiting beside a
// day's file included.
#include <sstream>

#include "base/paths.h"
#include "base/text_encoding.h"
#include "commands/commands.h"
#include "commands/show_reading.h"
#include "output/html_report.h"
#include "platform/platform_files.h"
#include "reading/day_files.h"
#include "reading/day_pool.h"
#include "reading/log_file.h"
#include "system/console.h"

namespace {

// A day's records packed into one text, each string of a record a stretch
// of it: a hundred thousand records cost no allocation each, as copies of
// CLogRecord would (more than the reading itself).
class CPackedRecords {
 public:
  void Add(const CLogRecord& record) {
    for (int i = 0; i < kFieldCount; ++i) Append(record.m_aField[i]);
    Append(record.m_strMarkup);
    Append(record.m_strFile);
    m_aOffsets.push_back(record.m_nUtcOffset);
  }
  size_t Count() const { return m_aOffsets.size(); }
  // Empty again, keeping the room for the next day.
  void Clear() {
    m_strText.clear();
    m_aEnds.clear();
    m_aOffsets.clear();
  }
  // Record i into record, whose strings keep their room from one to the next.
  void Get(size_t i, CLogRecord& record) const {
    const size_t nFirst = i * kStrings;
    for (int n = 0; n < kFieldCount; ++n) Assign(nFirst + n, record.m_aField[n]);
    Assign(nFirst + kFieldCount, record.m_strMarkup);
    Assign(nFirst + kFieldCount + 1, record.m_strFile);
    record.m_nUtcOffset = m_aOffsets[i];
  }

 private:
  static constexpr size_t kStrings = kFieldCount + 2;  // the fields, the markup and the file name

  void Append(const std::string& strText) {
    m_strText += strText;
    m_aEnds.push_back(m_strText.size());
  }
  void Assign(size_t nString, std::string& strOut) const {
    const size_t nStart = nString == 0 ? 0 : m_aEnds[nString - 1];
    strOut.assign(m_strText, nStart, m_aEnds[nString] - nStart);
  }

  std::string m_strText;
  std::vector<size_t> m_aEnds;  // where each string ends in m_strText, kStrings per record
  std::vector<int64_t> m_aOffsets;
};

// One day's records and what its reading warned of, gathered on a reading
// thread for the summary, which takes the days in order.
struct CDayRecords {
  CPackedRecords m_records;
  std::string m_strWarnings;
  bool m_bWhole = false;  // read, and not damaged
};

void ReadDayRecords(const CShowOptions& show, const std::string& strPath, CDayRecords& day) {
  const std::vector<std::string> aOne = {strPath};
  CShowReading reading(show, aOne);
  std::ostringstream warnings;
  day.m_records.Clear();
  const bool bRead = reading.Run([&day](const CLogRecord& record) { day.m_records.Add(record); }, true, warnings);
  day.m_bWhole = bRead && !reading.Damaged();
  day.m_strWarnings = warnings.str();
}

// Reads each file on its own, so that one that can't be used leaves the
// others in the report; a few at once (day_pool.h), taken into the summary
// in order. The days take turns in a few slots, whose room is used again
// rather than fresh memory for each day. What the reading warns of goes to
// err and to the page. False when a file was damaged or could not be read.
bool GatherRecords(const CShowOptions& show, const std::vector<std::string>& aPaths, CReportSummary& summary,
                   CReportPage& page, std::ostream& err) {
  bool bWhole = true;
  const unsigned nThreads = ReadingThreads();
  std::vector<CDayRecords> aSlots(DaySlots(nThreads));
  CLogRecord record;
  RunInDayOrder(
      aPaths.size(), nThreads, [&](size_t i) { ReadDayRecords(show, aPaths[i], aSlots[i % aSlots.size()]); },
      [&](size_t i) {
        const CDayRecords& day = aSlots[i % aSlots.size()];
        for (size_t n = 0; n < day.m_records.Count(); ++n) {
          day.m_records.Get(n, record);
          summary.Add(record);
        }
        bWhole = bWhole && day.m_bWhole;
        err << day.m_strWarnings;
        std::istringstream lines(day.m_strWarnings);
        for (std::string strLine; std::getline(lines, strLine);) {
          const std::string strPrefix = "vardlix: ";
          page.m_aNotes.push_back(strLine.rfind(strPrefix, 0) == 0 ? strLine.substr(strPrefix.size()) : strLine);
        }
        page.m_aFiles.push_back(FileNameOf(aPaths[i]));
        return true;
      });
  return bWhole;
}

// The page into a file of its own; a file cut short by a failed write is
// removed again.
bool WritePage(const std::string& strPath, const std::string& strPage, std::ostream& err) {
  std::u16string strWidePath;
  CFile file;
  if (!FromUtf8(strPath, strWidePath) || !file.Open(strWidePath, CFile::modeCreateExclusive)) {
    ReportError(err,
                strPath + ": cannot be written" + (file.GetOpenError() == causeNotFound ? " (no such folder)" : ""));
    return false;
  }
  try {
    file.Write(strPage.data(), strPage.size());
    file.Close();
  } catch (const CFileException& e) {
    file.Close();
    try {
      CFile::Remove(strWidePath);
    } catch (const CFileException&) {
    }
    ReportError(err, strPath + ": cannot be written (" + e.what() + ")");
    return false;
  }
  return true;
}

// A terminal is no place for a page: it goes into a file of the current
// folder named after its days, one not there yet.
std::string PageFileName(const std::vector<std::string>& aPaths) {
  auto DayOf = [](const std::string& strPath) {
    std::string strName = FileNameOf(strPath);
    const size_t nDot = strName.find('.');
    strName = strName.substr(0, nDot);
    return strName.rfind("Vardlix", 0) == 0 ? strName.substr(7) : strName;
  };
  std::string strStem = "vardlix-report";
  if (!aPaths.empty()) strStem += "-" + DayOf(aPaths.front());
  if (aPaths.size() > 1) strStem += "-" + DayOf(aPaths.back());
  for (int n = 1;; ++n) {
    const std::string strName = strStem + (n > 1 ? "-" + std::to_string(n) : std::string()) + ".html";
    std::u16string strWide;
    CFileStatus status;
    if (!FromUtf8(strName, strWide) || !CFile::GetStatus(strWide, status)) return strName;
  }
}

}  // namespace

int RunReport(const CReportOptions& options, std::ostream& out, std::ostream& err) {
  CShowOptions show;
  show.m_strFolder = options.m_strFolder;
  show.m_aDays = options.m_aDays;
  show.m_bAll = options.m_bAll;
  std::vector<std::string> aPaths;
  int nStatus = exitOk;
  if (!ResolveFiles(show, aPaths, nStatus, err)) return nStatus;

  CReportSummary summary(static_cast<size_t>(options.m_nMaxRows));
  CReportPage page;
  page.m_strFolder = options.m_strFolder;
  page.m_strMade = FormatLocalTime(ReadClock());
  const bool bWhole = GatherRecords(show, aPaths, summary, page, err);
  std::ostringstream html;
  WriteHtmlReport(summary, page, html);
  std::string strOutput = options.m_strOutput;
  if (strOutput.empty() && OutputIsTerminal()) {
    strOutput = PageFileName(aPaths);
    out << "report: written to " << strOutput << " (open it in a browser)\n";
  }
  if (strOutput.empty()) {
    out << html.str();
    out.flush();
  } else if (!WritePage(strOutput, html.str(), err)) {
    return exitFailure;
  }
  return bWhole ? exitOk : exitFailure;
}
