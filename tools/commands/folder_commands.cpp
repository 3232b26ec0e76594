#include "commands.h"
#include "day_files.h"
#include "log_file.h"
#include "log_stats.h"
#include "platform_files.h"
#include "text_encoding.h"

int RunStats(const std::string& strFolder, std::ostream& out, std::ostream& err) {
  CFolderStats stats;
  int64_t nNow = ReadClock();
  if (!IsFolder(strFolder) || !GatherFolderStats(strFolder, nNow, stats)) {
    ReportError(err, "no such folder: " + strFolder);
    return exitFailure;
  }
  WriteFolderStats(strFolder, stats, nNow, out);
  return exitOk;
}

int RunCheck(const std::string& strPath, std::ostream& out, std::ostream& err) {
  CLogFile file = ReadLogFile(strPath);
  if (file.m_nOutcome != logFileRead) {
    ReportError(err, strPath + ": " + file.m_strError);
    return exitFailure;
  }
  const CLogText& text = file.m_text;
  switch (text.m_nOutcome) {
    case logTextRead:
      out << strPath << ": well-formed day's log, " << text.m_aRecords.size()
          << (text.m_aRecords.size() == 1 ? " record\n" : " records\n");
      return exitOk;
    case logTextEmpty:
      out << strPath << ": not well-formed: the file holds no element\n";
      return exitFailure;
    case logTextNotLog:
      out << strPath << ": well-formed, but not a day's log: its top element is <" << text.m_strTopElement
          << ">, not <" << ToUtf8(kLogRoot) << ">\n";
      return exitFailure;
    case logTextMalformed:
      break;
  }
  out << strPath << ":" << text.m_stop.m_nLine << ":" << text.m_stop.m_nColumn
      << ": not well-formed: " << text.m_stop.m_strMessage << "\n";
  return exitFailure;
}
