#include "forward/forwarder.h"

#include <algorithm>

#include "base/paths.h"
#include "platform/platform_files.h"
#include "reading/day_files.h"
#include "reading/log_file.h"
#include "reading/time_stamp.h"
#include "system/network.h"

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
    : m_options(options),
      m_link(target, options.m_bLineFraming ? framingLineFeed : framingOctetCounting, options.m_tls),
      m_source(options.m_strFolder) {
  CSyslogSettings& syslog = m_options.m_syslog;
  syslog.m_strHostName =
      HeaderValue(options.m_strHostName.empty() ? LocalHostName() : options.m_strHostName, kMaxHostNameLength);
  syslog.m_strAppName = options.m_strAppName.empty() ? AppNameOfFolder(options.m_strFolder)
                                                     : HeaderValue(options.m_strAppName, kMaxAppNameLength);
  const bool bDatagrams = target.m_nTransport == transportUdp;
  syslog.m_nMaxSize = options.m_nMaxSize != 0 ? options.m_nMaxSize
                      : bDatagrams            ? kDefaultDatagramSize
                                              : kDefaultStreamMessageSize;
  syslog.m_bEscapeLineBreaks = options.m_bLineFraming && target.m_nTransport == transportTcp;
  if (m_options.m_nRate < 0) m_options.m_nRate = bDatagrams ? kDefaultDatagramRate : 0;
  m_strStatePath = options.m_strState.empty()
                       ? DefaultCheckpointPath(options.m_strFolder, target.Scheme(), target.m_strHost, target.m_nPort)
                       : options.m_strState;
  m_done.m_strFolder = options.m_strFolder;
  m_done.m_strTarget = target.Text();
  m_status.m_strFolder = options.m_strFolder;
  m_status.m_strTarget = target.Text();
}

bool CForwarder::Start(const CDay& today, std::string& strError) {
  if (!IsStateFilePath(m_strStatePath, strError)) {
    strError = "the checkpoint " + m_strStatePath + " is " + strError;
    return false;
  }
  switch (m_lock.Take(m_strStatePath, strError)) {
    case CStateLock::lockTaken:
      break;
    case CStateLock::lockHeld:
      strError = "another vardlix forward is using the checkpoint " + m_strStatePath + " (it holds " +
                 CStateLock::LockPathOf(m_strStatePath) + "); one forwarder a checkpoint";
      return false;
    case CStateLock::lockFailed:
      strError = "cannot lock the checkpoint: " + strError;
      return false;
  }
  CForwardCheckpoint checkpoint;
  switch (ReadCheckpoint(m_strStatePath, checkpoint, strError)) {
    case checkpointRead:
      BeginAtCheckpoint(checkpoint, today);
      return true;
    case checkpointMissing:
      // Written at once: records that arrive before the first is done are
      // then not skipped by a new start.
      if (m_options.m_bFromNow) {
        m_done.m_nRecords = m_source.BeginNow(today);
        m_done.m_strFile = DayFileName(today);
      } else {
        m_done.m_strFile = m_source.BeginAtOldest(today);
        m_done.m_nRecords = 0;
      }
      return WriteDone(strError);
    case checkpointBad:
      strError = m_strStatePath + ": " + strError +
                 " (remove it: forward then starts at the oldest day file, or with --from-now after today's records)";
      return false;
  }
  return false;
}

void CForwarder::BeginAtCheckpoint(const CForwardCheckpoint& checkpoint, const CDay& today) {
  m_source.BeginAfter(checkpoint.m_strFile, checkpoint.m_nRecords, today);
  m_done.m_strFile = checkpoint.m_strFile;
  m_done.m_nRecords = checkpoint.m_nRecords;
  m_done.m_strTime = checkpoint.m_strTime;
  m_aReadCounts[checkpoint.m_strFile] = std::max(checkpoint.m_nRead, checkpoint.m_nRecords);
  TellPurgedDays(checkpoint, today);
}

void CForwarder::TellPurgedDays(const CForwardCheckpoint& checkpoint, const CDay& today) {
  // The source begins with the checkpoint's file while it is there; today's
  // file is read whenever it comes.
  const std::string strNext = m_source.NextFile(today);
  CDay day, next;
  if (strNext == checkpoint.m_strFile || checkpoint.m_strFile >= DayFileName(today) ||
      !ParseDayFileName(checkpoint.m_strFile, day) || !ParseDayFileName(strNext, next)) {
    return;
  }
  // Records of the checkpoint's day that were read and not sent are known;
  // what the days between it and the next file held is not.
  const uint64_t nLost = checkpoint.m_nRead > checkpoint.m_nRecords ? checkpoint.m_nRead - checkpoint.m_nRecords : 0;
  const CDay lastGone = PreviousDay(next);
  const bool bDaysGone = FormatDayStamp(lastGone) > FormatDayStamp(day);
  if (nLost == 0 && !bDaysGone) return;
  m_counts.m_nPurged = nLost;
  std::string strText =
      "the checkpoint's day file " + checkpoint.m_strFile + " is gone (purged before forward sent it all): ";
  strText += nLost > 0 ? std::to_string(nLost) + " records of it after the checkpoint"
                       : "any records of it after the checkpoint";
  if (bDaysGone) {
    const CDay firstGone = NextDay(day);
    strText += ", and any of " + FormatIsoDay(firstGone);
    if (FormatDayStamp(firstGone) != FormatDayStamp(lastGone)) strText += " to " + FormatIsoDay(lastGone);
    strText += " (whose files are gone too),";
  }
  m_aMessages.push_back(strText + " can no longer be sent");
}

bool CForwarder::Step(const CDay& today, int64_t nNow) {
  if (m_aQueue.size() < kReadAhead) {
    const size_t nBefore = m_aQueue.size();
    m_source.Read(today, m_aQueue);
    NoteRead(nBefore);
  }
  const CLinkReport report = m_link.Poll(nNow);
  Done(report.m_nDone);
  // What was handed over on a broken connection and is not done goes again.
  if (report.m_bBroke) m_nHandedOver = 0;
  WatchConnection(report, nNow);
  const bool bWindowFull = m_nPastCheckpoint + m_nEverSent >= kForwardWindow;
  if (m_nPastCheckpoint > 0 && (bWindowFull || m_aQueue.empty() || nNow - m_nCheckpointAt >= kCheckpointMilliseconds)) {
    SaveCheckpoint(nNow);
  }
  if (m_link.Connect(nNow)) {
    if (m_nConnectedAt < 0) {
      m_nConnectedAt = nNow;
      m_status.m_nConnectedSince = WallSeconds();
    }
    HandOver(nNow);
  }
  for (auto& strEvent : m_link.TakeEvents()) {
    const bool bBack = strEvent.rfind("connected to ", 0) == 0;
    Note(std::move(strEvent), !bBack);
  }
  std::string strWarning = m_source.TakeWarning();
  if (!strWarning.empty()) Note(std::move(strWarning), true);
  m_counts.m_nBehind = m_aQueue.size();
  if (m_nStatusAt < 0 || nNow - m_nStatusAt >= kStatusMilliseconds) WriteStatus(nNow, true);
  return m_link.IsUp() && (m_link.Pending() > 0 || m_nHandedOver < m_aQueue.size());
}

// A collector that closes each connection soon after messages came on it,
// twice in a row, while a line feed ends each message: syslog-ng's syslog()
// source does that, since it reads the start of a message as a bad length.
// TCP acknowledged those messages, so nothing else would tell.
void CForwarder::WatchConnection(const CLinkReport& report, int64_t nNow) {
  if (!report.m_bBroke || m_nConnectedAt < 0) return;
  const bool bEarly = m_nSentOnConnection > 0 && nNow - m_nConnectedAt < kSteadyMilliseconds;
  m_nShortBreaks = bEarly ? m_nShortBreaks + 1 : 0;
  if (m_options.m_bLineFraming && m_nShortBreaks >= 2 && !m_bFramingTold) {
    m_bFramingTold = true;
    Note("the collector closed the connection after " + std::to_string(m_nSentOnConnection) +
             (m_nSentOnConnection == 1 ? " message" : " messages") +
             ": is it expecting octet-counted framing? (--framing octet sends that, as syslog-ng's syslog() source "
             "needs)",
         true);
  }
  m_nConnectedAt = -1;
  m_nSentOnConnection = 0;
  m_status.m_nConnectedSince = -1;
}

void CForwarder::Note(std::string strMessage, bool bError) {
  if (bError) {
    m_status.m_strLastError = strMessage;
    m_status.m_nLastErrorAt = WallSeconds();
  }
  m_aMessages.push_back(std::move(strMessage));
}

void CForwarder::WriteStatus(int64_t nNow, bool bRunning) {
  m_nStatusAt = nNow;
  m_status.m_bRunning = bRunning;
  m_status.m_nWaiting = m_aQueue.size();
  m_status.m_nDone = m_counts.m_nDone;
  std::string strError;
  if (WriteForwardStatus(StatusPath(), m_status, strError) || m_bStatusTroubleTold) return;
  // Told once: monitoring goes without it, forwarding does not.
  m_bStatusTroubleTold = true;
  Note("cannot write the status file " + StatusPath() + ": " + strError, true);
}

void CForwarder::NoteRead(size_t nFrom) {
  for (size_t i = nFrom; i < m_aQueue.size(); ++i) {
    // A file's records come in order: the last of each run counts.
    const bool bLastOfRun =
        i + 1 == m_aQueue.size() || m_aQueue[i + 1].m_record.m_strFile != m_aQueue[i].m_record.m_strFile;
    if (!bLastOfRun) continue;
    uint64_t& nRead = m_aReadCounts[m_aQueue[i].m_record.m_strFile];
    nRead = std::max(nRead, m_aQueue[i].m_nIndex + 1);
  }
}

bool CForwarder::Settle(int64_t nNow) {
  const CLinkReport report = m_link.Poll(nNow);
  Done(report.m_nDone);
  if (report.m_bBroke) m_nHandedOver = 0;
  return m_link.IsUp() && m_link.Pending() > 0;
}

void CForwarder::Reopen(const CDay& today, int64_t nNow) {
  const CLinkReport report = m_link.Shutdown(kReopenMilliseconds);
  Done(report.m_nDone);
  SaveCheckpoint(nNow);
  // What was read and not done is read again, from the checkpoint on.
  m_aQueue.clear();
  m_nHandedOver = m_nEverSent = 0;
  m_source.BeginAfter(m_done.m_strFile, m_done.m_nRecords, today);
  m_nConnectedAt = -1;
  m_nSentOnConnection = 0;
  m_status.m_nConnectedSince = -1;
  m_aMessages.push_back("reopening: reading " + m_options.m_strFolder + " again after the first " +
                        std::to_string(m_done.m_nRecords) + " records of " + m_done.m_strFile + ", and connecting to " +
                        m_link.Target().Text() + " again");
}

void CForwarder::Done(size_t nCount) {
  for (size_t i = 0; i < nCount && !m_aQueue.empty(); ++i) {
    const CQueuedRecord& queued = m_aQueue.front();
    m_done.m_strFile = queued.m_record.m_strFile;
    m_done.m_nRecords = queued.m_nIndex + 1;
    m_done.m_strTime = FormatIsoTime(queued.m_record.m_aField[fieldTime]);
    m_aQueue.pop_front();
    --m_nHandedOver;
    --m_nEverSent;
    ++m_nPastCheckpoint;
    ++m_counts.m_nDone;
  }
}

bool CForwarder::TakeToken(int64_t nNow) {
  if (m_options.m_nRate <= 0) return true;
  // A burst of at most 20 ms of the pace, so that a stalled loop does not
  // send a flood when it wakes.
  const double dBurst = std::max(1.0, static_cast<double>(m_options.m_nRate) / 50);
  const double dGained = static_cast<double>(m_options.m_nRate) * static_cast<double>(nNow - m_nTokensAt) / 1000;
  m_dTokens = m_nTokensAt < 0 ? dBurst : std::min(dBurst, m_dTokens + dGained);
  m_nTokensAt = nNow;
  if (m_dTokens < 1) return false;
  m_dTokens -= 1;
  return true;
}

void CForwarder::HandOver(int64_t nNow) {
  while (m_nHandedOver < m_aQueue.size()) {
    const bool bAgain = m_nHandedOver < m_nEverSent;
    if (!bAgain && m_nPastCheckpoint + m_nEverSent >= kForwardWindow) break;
    if (!m_link.IsReady()) break;
    const CQueuedRecord& queued = m_aQueue[m_nHandedOver];
    bool bCut = false;
    const std::string strMessage = FormatSyslogMessage(queued.m_record, m_options.m_syslog, bCut, queued.m_nIndex + 1);
    if (strMessage.empty()) {
      SkipRecord(queued, bAgain,
                 "its message cannot be made to fit " + std::to_string(m_options.m_syslog.m_nMaxSize) +
                     " octets (--max-size)");
      continue;
    }
    if (!TakeToken(nNow)) break;
    const LinkSend nSend = m_link.Send(strMessage, nNow);
    if (nSend == linkLater) {
      m_dTokens += 1;  // the pace's share goes back: nothing was sent
      break;
    }
    if (nSend == linkTooLong) {
      SkipRecord(queued, bAgain,
                 "its message of " + std::to_string(strMessage.size()) +
                     " octets is more than the system sends as one datagram (give a smaller --max-size)");
      continue;
    }
    ++m_nHandedOver;
    ++m_counts.m_nSent;
    ++m_nSentOnConnection;
    m_status.m_strLastSent = RecordKey(queued.m_record.m_strFile, queued.m_nIndex + 1);
    m_status.m_strLastSentTime = FormatIsoTime(queued.m_record.m_aField[fieldTime]);
    if (bAgain) {
      ++m_counts.m_nResent;
    } else {
      ++m_nEverSent;
      if (bCut) ++m_counts.m_nCut;
    }
  }
}

void CForwarder::SkipRecord(const CQueuedRecord& queued, bool bAgain, const std::string& strWhy) {
  m_link.Skip();
  ++m_nHandedOver;
  if (bAgain) return;  // told the first time
  ++m_nEverSent;
  ++m_counts.m_nSkipped;
  Note("record " + std::to_string(queued.m_nIndex + 1) + " of " + queued.m_record.m_strFile + " skipped: " + strWhy,
       true);
}

void CForwarder::SaveCheckpoint(int64_t nNow) {
  if (m_nPastCheckpoint == 0) return;
  m_nCheckpointAt = nNow;
  std::string strError;
  if (!WriteDone(strError)) {
    // The window stays full until it can be written: sending on would let a
    // crash send more records again than the bound allows.
    if (m_strCheckpointTrouble.empty()) Note(strError, true);
    m_strCheckpointTrouble = strError;
    return;
  }
  m_strCheckpointTrouble.clear();
  m_nPastCheckpoint = 0;
}

void CForwarder::Finish(int64_t nNow) {
  const CLinkReport report = m_link.Shutdown(kShutdownMilliseconds);
  Done(report.m_nDone);
  SaveCheckpoint(nNow);
  m_status.m_nConnectedSince = -1;
  WriteStatus(nNow, false);
}

bool CForwarder::WriteDone(std::string& strError) {
  // Days before the checkpoint's are of no more use.
  m_aReadCounts.erase(m_aReadCounts.begin(), m_aReadCounts.lower_bound(m_done.m_strFile));
  const auto found = m_aReadCounts.find(m_done.m_strFile);
  m_done.m_nRead = found == m_aReadCounts.end() ? m_done.m_nRecords : found->second;
  if (WriteCheckpoint(m_strStatePath, m_done, strError)) {
    m_status.m_checkpoint = m_done;
    return true;
  }
  strError = "cannot write the checkpoint " + m_strStatePath + ": " + strError;
  return false;
}

std::vector<std::string> CForwarder::TakeMessages() { return std::move(m_aMessages); }
