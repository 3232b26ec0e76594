#include "reading/waiting_records.h"

#include <algorithm>

#include "base/paths.h"
#include "base/text_encoding.h"
#include "format/log_layout.h"
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

std::vector<CLogRecord> ReadWaitingRecords(const std::string& strDayPath) {
  const std::string strPendingPath = PendingPathFor(strDayPath);
  if (strPendingPath.empty()) return {};
  CLogFile pending = ReadLogFile(strPendingPath, 5, true);
  if (pending.m_nOutcome != logFileRead || pending.m_text.m_nOutcome != logTextRead) return {};
  std::vector<CLogRecord> aRecords = std::move(pending.m_text.m_aRecords);
  CXmlDocument doc;
  doc.SetDocument(pending.m_strText.substr(0, pending.m_nZeroUnit));
  CMoveNote note;
  if (ReadMoveNote(doc, note)) {
    const CLogFile day = ReadLogFile(strDayPath, 5, true);
    const std::u16string strDayText = day.m_strText.substr(0, day.m_nZeroUnit);
    if (day.m_nOutcome == logFileRead && IsMoveDone(strDayText, note)) {
      aRecords.erase(aRecords.begin(), aRecords.begin() + std::min<size_t>(aRecords.size(), note.m_nRecords));
    }
  }
  const std::string strName = FileNameOf(strPendingPath);
  for (CLogRecord& record : aRecords) record.m_strFile = strName;
  return aRecords;
}
