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
#include "reading/log_file.h"
#include "system/console.h"

namespace {

// Reads each file on its own, so that one that can't be used leaves the
// others in the report. What the reading warns of goes to err and to the
// page. False when a file was damaged or could not be read.
bool GatherRecords(const CShowOptions& show, const std::vector<std::string>& aPaths, CReportSummary& summary,
                   CReportPage& page, std::ostream& err) {
  bool bWhole = true;
  for (const std::string& strPath : aPaths) {
    const std::vector<std::string> aOne = {strPath};
    CShowReading reading(show, aOne);
    std::ostringstream warnings;
    const bool bRead = reading.Run([&summary](const CLogRecord& record) { summary.Add(record); }, true, warnings);
    bWhole = bWhole && bRead && !reading.Damaged();
    err << warnings.str();
    std::istringstream lines(warnings.str());
    for (std::string strLine; std::getline(lines, strLine);) {
      const std::string strPrefix = "vardlix: ";
      page.m_aNotes.push_back(strLine.rfind(strPrefix, 0) == 0 ? strLine.substr(strPrefix.size()) : strLine);
    }
    page.m_aFiles.push_back(FileNameOf(strPath));
  }
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
