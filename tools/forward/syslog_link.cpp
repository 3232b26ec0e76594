#include "forward/syslog_link.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// A port: 1 to 65535, digits only.
bool ParsePort(const std::string& strText, int& nPort) {
  if (strText.empty() || strText.size() > 5 || strText.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  nPort = std::stoi(strText);
  return nPort >= 1 && nPort <= 65535;
}

// "N records" with the right word for one.
std::string Records(size_t nCount) { return std::to_string(nCount) + (nCount == 1 ? " record" : " records"); }

}  // namespace

std::string CSyslogTarget::Scheme() const {
  switch (m_nTransport) {
    case transportUdp:
      return "udp";
    case transportRelp:
      return m_bTls ? "relps" : "relp";
    case transportTcp:
      break;
  }
  return m_bTls ? "tls" : "tcp";
}

std::string CSyslogTarget::Text() const {
  const bool bIpv6 = m_strHost.find(':') != std::string::npos;
  return Scheme() + "://" + (bIpv6 ? "[" + m_strHost + "]" : m_strHost) + ":" + std::to_string(m_nPort);
}

bool ParseSyslogTarget(const std::string& strText, CSyslogTarget& target, std::string& strError) {
  strError = "\"" + strText + "\" is not relp://, relps://, tcp://, tls:// or udp:// followed by HOST:PORT";
  const size_t nSchemeEnd = strText.find("://");
  if (nSchemeEnd == std::string::npos) return false;
  const std::string strScheme = strText.substr(0, nSchemeEnd);
  target.m_bTls = strScheme == "relps" || strScheme == "tls";
  if (strScheme == "tcp" || strScheme == "tls") target.m_nTransport = transportTcp;
  else if (strScheme == "udp") target.m_nTransport = transportUdp;
  else if (strScheme == "relp" || strScheme == "relps") target.m_nTransport = transportRelp;
  else return false;
  const std::string strRest = strText.substr(nSchemeEnd + 3);
  size_t nHostEnd = strRest.find(':');
  if (!strRest.empty() && strRest[0] == '[') {
    nHostEnd = strRest.find(']');
    if (nHostEnd == std::string::npos) return false;
    target.m_strHost = strRest.substr(1, nHostEnd - 1);
    ++nHostEnd;
  } else {
    target.m_strHost = strRest.substr(0, nHostEnd);
  }
  if (target.m_strHost.empty() || target.m_strHost.find_first_of("/ []") != std::string::npos) return false;
  target.m_nPort = target.m_bTls ? 6514 : 514;
  if (nHostEnd < strRest.size()) {
    // An IPv6 address without brackets fails here, at its second colon.
    if (strRest[nHostEnd] != ':' || !ParsePort(strRest.substr(nHostEnd + 1), target.m_nPort)) return false;
  } else if (target.m_nTransport == transportRelp) {
    strError = "\"" + strText + "\" has no port: RELP has no standard one (imrelp's input names it)";
    return false;
  }
  strError.clear();
  return true;
}

bool CSyslogLink::Connect(int64_t nNow) {
  if (IsUp()) return true;
  if (nNow < m_nRetryAt) return false;
  std::string strError;
  if (!m_socket.Connect(m_target.m_strHost, m_target.m_nPort, m_target.Kind(), kConnectTimeoutMilliseconds, strError)) {
    Failed(nNow, "cannot connect to " + m_target.Text() + " (" + strError + ")");
    return false;
  }
  if (m_target.m_bTls && !OpenTls(nNow)) return false;
  m_nConnectedAt = m_nLastAnswerAt = nNow;
  m_bProgress = false;
  m_strOutput.clear();
  m_nOutputStart = 0;
  m_nHandedOver = m_nWritten = 0;
  m_aPending.clear();
  if (m_target.m_nTransport == transportRelp) {
    m_relp.Begin();
    Queue(m_relp.OpenFrame());
    if (!Flush(nNow, strError)) Break(nNow, strError);
    return IsUp();
  }
  if (m_bTroubleReported) m_aEvents.push_back("connected to " + m_target.Text() + " again");
  m_bTroubleReported = false;
  return true;
}

// A failed handshake is told and retried as a refused connection is.
bool CSyslogLink::OpenTls(int64_t nNow) {
  std::string strError;
  if (!m_tls.Open(std::move(m_socket), m_target.m_strHost, m_tlsOptions, kConnectTimeoutMilliseconds, strError)) {
    Failed(nNow, "cannot connect to " + m_target.Text() + " (" + strError + ")");
    return false;
  }
  if (!m_bTlsTold) {
    m_aEvents.push_back("connected to " + m_target.Text() + " over " + m_tls.Describe() +
                        (m_tlsOptions.m_bVerify ? "" : ", its certificate NOT verified"));
    m_bTlsTold = true;
  }
  return true;
}

long CSyslogLink::WriteBytes(const char* pBytes, size_t nCount, std::string& strError) {
  return m_target.m_bTls ? m_tls.WriteSome(pBytes, nCount, strError) : m_socket.WriteSome(pBytes, nCount, strError);
}

long CSyslogLink::ReadBytes(char* pBytes, size_t nCount, std::string& strError) {
  return m_target.m_bTls ? m_tls.ReadSome(pBytes, nCount, strError) : m_socket.ReadSome(pBytes, nCount, strError);
}

bool CSyslogLink::HasBroken(std::string& strError) {
  return m_target.m_bTls ? m_tls.HasBroken(strError) : m_socket.HasBroken(strError);
}

bool CSyslogLink::CountUnacknowledged(uint64_t& nBytes) const {
  return m_target.m_bTls ? m_tls.CountUnacknowledged(nBytes) : m_socket.CountUnacknowledged(nBytes);
}

// What the collector sent and was not read is read first (a bounded amount):
// a close with unread bytes is a reset, and a reset throws away what was
// written and the collector had not read yet, answered ones among them.
void CSyslogLink::CloseConnection() {
  std::string strIgnored;
  if (IsUp() && m_target.Kind() == socketStream) HasBroken(strIgnored);
  m_tls.Close();
  m_socket.Close();
}

LinkSend CSyslogLink::Send(const std::string& strMessage, int64_t nNow) {
  if (!IsReady()) return linkLater;
  std::string strError;
  if (m_target.m_nTransport == transportUdp) {
    switch (m_socket.SendDatagram(strMessage.data(), strMessage.size(), strError)) {
      case datagramSent:
        ++m_nDoneSinceLastPoll;
        return linkTaken;
      case datagramLater:
        return linkLater;
      case datagramTooLong:
        return linkTooLong;
      case datagramFailed:
        break;
    }
    // The system refuses a datagram after the collector's port refused the
    // one before: the collector is away, and this one waits for it.
    m_socket.Close();
    Failed(nNow, "cannot send to " + m_target.Text() + " (" + strError + ")");
    return linkLater;
  }
  if (m_strOutput.size() - m_nOutputStart > kMaxWaitingBytes) return linkLater;
  if (m_target.m_nTransport == transportRelp) {
    if (m_relp.Unanswered() >= kRelpWindow || !m_strWriteError.empty()) return linkLater;
    if (m_relp.Unanswered() == 0) m_nLastAnswerAt = nNow;  // the wait for an answer starts now
    Queue(m_relp.MessageFrame(strMessage));
    m_aPending.push_back({m_nHandedOver, -1, false});
    // A write that fails leaves the answers that came before it to be read
    // (Poll), before the connection is given up.
    if (!Flush(nNow, strError)) m_strWriteError = strError;
    return linkTaken;
  }
  Queue(m_nFraming == framingLineFeed ? strMessage + '\n' : std::to_string(strMessage.size()) + ' ' + strMessage);
  m_aPending.push_back({m_nHandedOver, -1, false});
  if (!Flush(nNow, strError)) Break(nNow, strError);
  return linkTaken;
}

void CSyslogLink::Skip() {
  if (m_aPending.empty()) {
    ++m_nDoneSinceLastPoll;
    return;
  }
  m_aPending.push_back({m_nHandedOver, 0, true});
}

void CSyslogLink::Queue(const std::string& strBytes) {
  m_strOutput += strBytes;
  m_nHandedOver += strBytes.size();
}

bool CSyslogLink::Flush(int64_t nNow, std::string& strError) {
  while (m_nOutputStart < m_strOutput.size()) {
    const long nWritten =
        WriteBytes(m_strOutput.data() + m_nOutputStart, m_strOutput.size() - m_nOutputStart, strError);
    if (nWritten < 0) return false;
    if (nWritten == 0) break;
    m_nOutputStart += static_cast<size_t>(nWritten);
    m_nWritten += static_cast<uint64_t>(nWritten);
  }
  if (m_nOutputStart == m_strOutput.size()) {
    m_strOutput.clear();
    m_nOutputStart = 0;
  } else if (m_nOutputStart > kMaxWaitingBytes) {
    m_strOutput.erase(0, m_nOutputStart);
    m_nOutputStart = 0;
  }
  // The newest messages are the ones whose writing may have ended just now.
  for (auto it = m_aPending.rbegin(); it != m_aPending.rend() && it->m_nWritten < 0; ++it) {
    if (it->m_nEnd <= m_nWritten) it->m_nWritten = nNow;
  }
  return true;
}

bool CSyslogLink::ReadAnswers(std::string& strError) {
  char aBuffer[16384];
  for (size_t nTaken = 0; nTaken < kMaxReadBytesPerRound;) {
    const long nRead = ReadBytes(aBuffer, sizeof aBuffer, strError);
    if (nRead < 0) return false;
    if (nRead == 0) break;
    if (!m_relp.Receive(aBuffer, static_cast<size_t>(nRead), strError)) return false;
    nTaken += static_cast<size_t>(nRead);
  }
  return true;
}

// RELP: the messages answered, in order, and whether the session is over.
size_t CSyslogLink::CountAnswered(int64_t nNow, std::string& strError, bool& bBroken) {
  size_t nDone = 0;
  const bool bWasOpen = m_relp.IsOpen();
  if (!ReadAnswers(strError)) {
    bBroken = true;
    // What was answered before the break is the collector's.
  }
  size_t nAnswered = m_relp.TakeAnswered();
  if (nAnswered > 0 || m_relp.IsOpen() != bWasOpen) m_nLastAnswerAt = nNow;
  if (!bWasOpen && m_relp.IsOpen()) {
    if (m_bTroubleReported) m_aEvents.push_back("connected to " + m_target.Text() + " again");
    m_bTroubleReported = false;
  }
  while (!m_aPending.empty() && (m_aPending.front().m_bSkipped || nAnswered > 0)) {
    if (!m_aPending.front().m_bSkipped) {
      // An answer to a frame not yet written whole answers nothing the
      // collector can have had: the session is given up and the message
      // sent again on the next one.
      if (m_aPending.front().m_nEnd > m_nWritten) {
        strError = "the collector answered a message it had not been sent whole";
        bBroken = true;
        break;
      }
      --nAnswered;
    }
    m_aPending.pop_front();
    ++nDone;
  }
  const bool bWaiting = !m_relp.IsOpen() || m_relp.Unanswered() > 0;
  if (!bBroken && bWaiting && nNow - m_nLastAnswerAt >= kRelpAnswerTimeoutMilliseconds) {
    strError = "no answer for " + std::to_string(kRelpAnswerTimeoutMilliseconds / 1000) + " s";
    bBroken = true;
  }
  return nDone;
}

size_t CSyslogLink::CountDone(int64_t nNow, std::string& strError, bool& bBroken) {
  size_t nDone = 0;
  bBroken = false;
  if (m_target.m_nTransport == transportRelp) return CountAnswered(nNow, strError, bBroken);
  // TCP. Asked before looking for a break: a reset empties the system's
  // queue, which would then read as everything acknowledged.
  uint64_t nUnacknowledged = 0;
  const bool bKnown = CountUnacknowledged(nUnacknowledged);
  m_bSettleOnly = !bKnown;
  if (HasBroken(strError)) {
    bBroken = true;
    return 0;
  }
  // TLS: the system counts encrypted bytes, which do not line up with the
  // messages' bytes; all that was written is safe once none is unacknowledged.
  const uint64_t nSafe = !bKnown           ? m_nWritten
                         : m_target.m_bTls ? (nUnacknowledged == 0 ? m_nWritten : 0)
                                           : m_nWritten - std::min(nUnacknowledged, m_nWritten);
  while (!m_aPending.empty()) {
    const CPending& front = m_aPending.front();
    const bool bDone =
        front.m_bSkipped || (front.m_nEnd <= nSafe &&
                             (bKnown || (front.m_nWritten >= 0 && nNow - front.m_nWritten >= kSettleMilliseconds)));
    if (!bDone) break;
    m_aPending.pop_front();
    ++nDone;
  }
  return nDone;
}

CLinkReport CSyslogLink::Poll(int64_t nNow) {
  CLinkReport report;
  report.m_nDone = m_nDoneSinceLastPoll;
  m_nDoneSinceLastPoll = 0;
  std::string strError;
  if (IsUp() && m_target.m_nTransport == transportTcp && !Flush(nNow, strError)) Break(nNow, strError);
  report.m_bBroke = m_bBroken;
  m_bBroken = false;
  if (!IsUp() || m_target.m_nTransport == transportUdp) return report;
  std::string strWriteError = m_strWriteError;
  if (m_target.m_nTransport == transportRelp && strWriteError.empty() && !Flush(nNow, strWriteError)) {
    m_strWriteError = strWriteError;
  }
  bool bBroken = false;
  const size_t nDone = CountDone(nNow, strError, bBroken);
  report.m_nDone += nDone;
  if (nDone > 0) m_bProgress = true;
  if (bBroken || !m_strWriteError.empty()) {
    // The write's error says more: a reset reads as a close once it told.
    Break(nNow, m_strWriteError.empty() ? strError : m_strWriteError);
    report.m_bBroke = true;
    m_bBroken = false;
  }
  return report;
}

CLinkReport CSyslogLink::Shutdown(int nMilliseconds) {
  CLinkReport report;
  report.m_nDone = m_nDoneSinceLastPoll;
  m_nDoneSinceLastPoll = 0;
  if (!IsUp() || m_target.m_nTransport == transportUdp) {
    CloseConnection();
    return report;
  }
  const auto Now = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  const int64_t nEnd = Now() + nMilliseconds;
  std::string strError;
  bool bBroken = !Flush(Now(), strError);
  if (!bBroken && m_target.m_nTransport == transportRelp && m_relp.IsOpen()) {
    // The collector answers what it has taken before it answers close.
    Queue(m_relp.CloseFrame());
    while (!bBroken && !m_relp.IsClosed() && Now() < nEnd) {
      bBroken = !Flush(Now(), strError);
      if (!bBroken) report.m_nDone += CountDone(Now(), strError, bBroken);
      if (!bBroken) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  } else if (!bBroken) {
    report.m_nDone += CountDone(Now(), strError, bBroken);
  }
  CloseConnection();
  m_aPending.clear();
  return report;
}

std::string CSyslogLink::DoneWords() const {
  switch (m_target.m_nTransport) {
    case transportRelp:
      return "delivered";
    case transportUdp:
      return "sent";
    case transportTcp:
      break;
  }
  return CNetSocket::TellsUnacknowledged() ? "sent and acknowledged by the collector's system" : "sent";
}

void CSyslogLink::Break(int64_t nNow, std::string strReason) {
  m_strWriteError.clear();
  size_t nWaiting = 0;
  for (const auto& pending : m_aPending) nWaiting += pending.m_bSkipped ? 0 : 1;
  CloseConnection();
  m_bBroken = true;
  m_aPending.clear();
  m_strOutput.clear();
  m_nOutputStart = 0;
  // A connection that lasted, or that the collector took messages on, is
  // followed by a new one at once; one that it dropped at once, after a
  // growing wait.
  const bool bWasSteady = nNow - m_nConnectedAt >= kSteadyMilliseconds || m_bProgress;
  if (bWasSteady) m_nBackoff = kFirstRetryMilliseconds;
  if (bWasSteady || m_nBackoff == kFirstRetryMilliseconds) {
    m_nRetryAt = nNow;  // the first attempt at once: most breaks are a restart
  } else {
    // A collector that takes connections and drops them is not hammered.
    m_nRetryAt = nNow + m_nBackoff;
  }
  m_nBackoff = std::min(m_nBackoff * 2, kLastRetryMilliseconds);
  if (m_bTroubleReported) return;
  m_bTroubleReported = true;
  const std::string strLost = "connection to " + m_target.Text() + " lost (" + strReason + "); ";
  const std::string strAgain = (nWaiting == 1 ? " is" : " are") + std::string(" sent again once it is back");
  if (m_target.m_nTransport == transportRelp) {
    m_aEvents.push_back(strLost + "the " + Records(nWaiting) + " it had not answered" + strAgain);
  } else if (CNetSocket::TellsUnacknowledged()) {
    m_aEvents.push_back(strLost + "the " + Records(nWaiting) + " its system had not acknowledged" + strAgain +
                        "; any that its system acknowledged and the collector had not read are lost (relp:// keeps "
                        "them)");
  } else {
    m_aEvents.push_back(strLost + "the " + Records(nWaiting) + " written in the last second" + strAgain +
                        "; any written before and not read by the collector are lost (relp:// keeps them)");
  }
}

void CSyslogLink::Failed(int64_t nNow, const std::string& strReason) {
  m_nRetryAt = nNow + m_nBackoff;
  m_nBackoff = std::min(m_nBackoff * 2, kLastRetryMilliseconds);
  if (!m_bTroubleReported) {
    m_aEvents.push_back(strReason + "; trying again, at least every " + std::to_string(kLastRetryMilliseconds / 1000) +
                        " s; the records wait in the log files until then");
    m_bTroubleReported = true;
  }
}
