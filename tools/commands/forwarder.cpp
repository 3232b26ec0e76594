#include "forwarder.h"

#include "day_files.h"
#include "log_file.h"
#include "network.h"
#include "platform_files.h"
#include "time_stamp.h"

namespace {

// The host program's name from its log folder: "/opt/app/bin/serverLog" is
// the folder of "server".
std::string AppNameOfFolder(std::string strFolder) {
  while (strFolder.size() > 1 && (strFolder.back() == '/' || strFolder.back() == kPathSeparator[0])) {
    strFolder.pop_back();
  }
  std::string strName = FileNameOf(strFolder);
  if (strName.size() > 3 && strName.compare(strName.size() - 3, 3, "Log") == 0) strName.resize(strName.size() - 3);
  if (strName == "." || strName == "..") return "-";
  return HeaderValue(strName, kMaxAppNameLength);
}

}  // namespace

CForwarder::CForwarder(const CForwardOptions& options, const CSyslogTarget& target)
    : m_options(options), m_link(target), m_source(options.m_strFolder) {
  CSyslogSettings& syslog = m_options.m_syslog;
  syslog.m_strHostName = HeaderValue(LocalHostName(), kMaxHostNameLength);
  syslog.m_strAppName = options.m_strAppName.empty() ? AppNameOfFolder(options.m_strFolder)
                                                     : HeaderValue(options.m_strAppName, kMaxAppNameLength);
  syslog.m_nMaxSize = target.m_nKind == socketDatagram ? options.m_nDatagramSize : 0;
  m_strStatePath = options.m_strState.empty()
                       ? DefaultCheckpointPath(options.m_strFolder, target.Scheme(), target.m_strHost, target.m_nPort)
                       : options.m_strState;
  m_confirmed.m_strFolder = options.m_strFolder;
  m_confirmed.m_strTarget = target.Text();
}

bool CForwarder::Start(const CDay& today, std::string& strError) {
  if (m_options.m_bFromStart) {
    m_confirmed.m_strFile = m_source.BeginAtOldest(today);
    m_confirmed.m_nRecords = 0;
    return WriteConfirmed(strError);
  }
  CForwardCheckpoint checkpoint;
  switch (ReadCheckpoint(m_strStatePath, checkpoint, strError)) {
    case checkpointRead:
      m_source.BeginAfter(checkpoint.m_strFile, checkpoint.m_nRecords, today);
      m_confirmed.m_strFile = checkpoint.m_strFile;
      m_confirmed.m_nRecords = checkpoint.m_nRecords;
      m_confirmed.m_strTime = checkpoint.m_strTime;
      return true;
    case checkpointMissing:
      // Written at once: records that arrive before the first is confirmed
      // are then not skipped by a new start.
      m_confirmed.m_nRecords = m_source.BeginNow(today);
      m_confirmed.m_strFile = DayFileName(today);
      return WriteConfirmed(strError);
    case checkpointBad:
      strError = m_strStatePath + ": " + strError + " (remove it, or give --from-start)";
      return false;
  }
  return false;
}

bool CForwarder::Step(const CDay& today, int64_t nNow) {
  if (m_aQueue.size() < kReadAhead) m_source.Read(today, m_aQueue);
  const CLinkReport report = m_link.Poll(nNow);
  Confirm(report.m_nConfirmed);
  // What was handed over on a broken connection and not confirmed goes again.
  if (report.m_bBroke) m_nHandedOver = 0;
  const bool bWindowFull = m_nPastCheckpoint + m_nEverSent >= kForwardWindow;
  if (m_nPastCheckpoint > 0 &&
      (bWindowFull || m_aQueue.empty() || nNow - m_nCheckpointAt >= kCheckpointMilliseconds)) {
    SaveCheckpoint(nNow);
  }
  if (m_link.Connect(nNow)) HandOver(nNow);
  for (std::string strMessage : {m_link.TakeEvent(), m_source.TakeWarning()}) {
    if (!strMessage.empty()) m_aMessages.push_back(std::move(strMessage));
  }
  m_counts.m_nBehind = m_aQueue.size();
  return m_link.IsUp() && (m_link.Unconfirmed() > 0 || m_nHandedOver < m_aQueue.size());
}

void CForwarder::Confirm(size_t nCount) {
  for (size_t i = 0; i < nCount && !m_aQueue.empty(); ++i) {
    const CQueuedRecord& queued = m_aQueue.front();
    m_confirmed.m_strFile = queued.m_record.m_strFile;
    m_confirmed.m_nRecords = queued.m_nIndex + 1;
    m_confirmed.m_strTime = FormatIsoTime(queued.m_record.m_aField[fieldTime]);
    m_aQueue.pop_front();
    --m_nHandedOver;
    --m_nEverSent;
    ++m_nPastCheckpoint;
    ++m_counts.m_nConfirmed;
  }
}

void CForwarder::HandOver(int64_t nNow) {
  while (m_nHandedOver < m_aQueue.size()) {
    const bool bAgain = m_nHandedOver < m_nEverSent;
    if (!bAgain && m_nPastCheckpoint + m_nEverSent >= kForwardWindow) break;
    bool bCut = false;
    const std::string strMessage = FormatSyslogMessage(m_aQueue[m_nHandedOver].m_record, m_options.m_syslog, bCut);
    if (!m_link.Send(strMessage, nNow)) break;
    ++m_nHandedOver;
    ++m_counts.m_nSent;
    if (bAgain) {
      ++m_counts.m_nResent;
    } else {
      ++m_nEverSent;
      if (bCut) ++m_counts.m_nCut;
    }
  }
}

void CForwarder::SaveCheckpoint(int64_t nNow) {
  if (m_nPastCheckpoint == 0) return;
  m_nCheckpointAt = nNow;
  std::string strError;
  if (!WriteConfirmed(strError)) {
    // The window stays full until it can be written: sending on would let a
    // crash send more records again than the bound allows.
    if (!m_bCheckpointFailed) m_aMessages.push_back(strError);
    m_bCheckpointFailed = true;
    return;
  }
  m_bCheckpointFailed = false;
  m_nPastCheckpoint = 0;
}

bool CForwarder::WriteConfirmed(std::string& strError) {
  if (WriteCheckpoint(m_strStatePath, m_confirmed, strError)) return true;
  strError = "cannot write the checkpoint " + m_strStatePath + ": " + strError;
  return false;
}

std::vector<std::string> CForwarder::TakeMessages() { return std::move(m_aMessages); }
