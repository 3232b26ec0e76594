#include "reading/waiting_records.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "base/paths.h"
#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "format/log_records.h"
#include "format/pending_log.h"
#include "markup/markup.h"
#include "reading/day_files.h"
#include "reading/log_file.h"

std::string PendingPathFor(const std::string& strDayPath) {
  CDay day;
  if (!ParseDayFileName(FileNameOf(strDayPath), day)) return {};
  std::u16string strDate;
  FromUtf8(FormatDayStamp(day), strDate);
  const std::string strName = ToUtf8(MakePendingLogName(strDate));
  return HasFolderPart(strDayPath) ? JoinPath(FolderOf(strDayPath), strName) : strName;
}

namespace {

// The pending files of the day at strDayPath in the order their records
// move: the day's own, then those of processes, by name.
std::vector<std::string> PendingPathsFor(const std::string& strDayPath) {
  std::vector<std::string> aPaths;
  const std::string strDayPending = PendingPathFor(strDayPath);
  if (strDayPending.empty()) return aPaths;
  aPaths.push_back(strDayPending);
  std::u16string strDayName;
  std::u16string strDayDate;
  FromUtf8(FileNameOf(strDayPending), strDayName);
  ParsePendingLogName(strDayName, strDayDate);
  std::vector<CFolderEntry> aEntries;
  ListFolder(HasFolderPart(strDayPath) ? FolderOf(strDayPath) : ".", aEntries);
  for (const CFolderEntry& entry : aEntries) {
    std::u16string strName;
    std::u16string strDate;
    uint32_t nProcess = 0;
    if (FromUtf8(entry.m_strName, strName) && ParsePendingLogName(strName, strDate, &nProcess) && nProcess != 0 &&
        strDate == strDayDate) {
      aPaths.push_back(HasFolderPart(strDayPath) ? entry.m_strPath : entry.m_strName);
    }
  }
  return aPaths;
}

// The records of one pending file that still wait.
std::vector<CLogRecord> ReadPendingFile(const std::string& strPendingPath, const std::string& strDayPath) {
  CLogFile pending = ReadLogFile(strPendingPath, 5, true);
  if (pending.m_nOutcome != logFileRead || pending.m_text.m_nOutcome != logTextRead) return {};
  std::vector<CLogRecord> aRecords = std::move(pending.m_text.m_aRecords);
  CXmlDocument doc;
  doc.SetDocument(pending.m_strText.substr(0, pending.m_nZeroUnit));
  const std::vector<CMoveNote> aNotes = ReadMoveNotes(doc);
  if (!aNotes.empty()) {
    const CLogFile day = ReadLogFile(strDayPath, 5, true);
    const std::u16string strDayText = day.m_strText.substr(0, day.m_nZeroUnit);
    if (day.m_nOutcome == logFileRead) {
      const size_t nMoved = CountMovedRecords(strDayText, aNotes, ReadRecords(doc, u""));
      aRecords.erase(aRecords.begin(),
                     aRecords.begin() + static_cast<std::ptrdiff_t>(std::min(aRecords.size(), nMoved)));
    }
  }
  const std::string strName = FileNameOf(strPendingPath);
  for (CLogRecord& record : aRecords) record.m_strFile = strName;
  return aRecords;
}

}  // namespace

std::vector<CLogRecord> ReadWaitingRecords(const std::string& strDayPath) {
  std::vector<CLogRecord> aRecords;
  for (const std::string& strPath : PendingPathsFor(strDayPath)) {
    std::vector<CLogRecord> aWaiting = ReadPendingFile(strPath, strDayPath);
    aRecords.insert(aRecords.end(), std::make_move_iterator(aWaiting.begin()), std::make_move_iterator(aWaiting.end()));
  }
  return aRecords;
}
