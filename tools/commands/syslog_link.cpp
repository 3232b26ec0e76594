#include "syslog_link.h"

#include <algorithm>

namespace {

// A port: 1 to 65535, digits only.
bool ParsePort(const std::string& strText, int& nPort) {
  if (strText.empty() || strText.size() > 5 || strText.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  nPort = std::stoi(strText);
  return nPort >= 1 && nPort <= 65535;
}

}  // namespace

std::string CSyslogTarget::Text() const {
  const bool bIpv6 = m_strHost.find(':') != std::string::npos;
  return Scheme() + "://" + (bIpv6 ? "[" + m_strHost + "]" : m_strHost) + ":" + std::to_string(m_nPort);
}

bool ParseSyslogTarget(const std::string& strText, CSyslogTarget& target, std::string& strError) {
  strError = "\"" + strText + "\" is not tcp://HOST:PORT or udp://HOST:PORT";
  const size_t nSchemeEnd = strText.find("://");
  if (nSchemeEnd == std::string::npos) return false;
  const std::string strScheme = strText.substr(0, nSchemeEnd);
  if (strScheme != "tcp" && strScheme != "udp") return false;
  target.m_nKind = strScheme == "tcp" ? socketStream : socketDatagram;
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
  target.m_nPort = 514;
  if (nHostEnd < strRest.size()) {
    // An IPv6 address without brackets fails here, at its second colon.
    if (strRest[nHostEnd] != ':' || !ParsePort(strRest.substr(nHostEnd + 1), target.m_nPort)) return false;
  }
  strError.clear();
  return true;
}

bool CSyslogLink::Connect(int64_t nNow) {
  if (IsUp()) return true;
  if (nNow < m_nRetryAt) return false;
  std::string strError;
  if (!m_socket.Connect(m_target.m_strHost, m_target.m_nPort, m_target.m_nKind, kConnectTimeoutMilliseconds,
                        strError)) {
    Failed(nNow, "cannot connect to " + m_target.Text() + " (" + strError + ")");
    return false;
  }
  if (m_bTroubleReported) m_strEvent = "connected to " + m_target.Text() + " again";
  m_bTroubleReported = false;
  m_nConnectedAt = nNow;
  m_strOutput.clear();
  m_nOutputStart = 0;
  m_nHandedOver = m_nWritten = 0;
  m_aInFlight.clear();
  return true;
}

bool CSyslogLink::Send(const std::string& strMessage, int64_t nNow) {
  if (!IsUp()) return false;
  std::string strError;
  if (m_target.m_nKind == socketDatagram) {
    if (!m_socket.SendDatagram(strMessage.data(), strMessage.size(), strError)) {
      // The system refuses a datagram after the collector's port refused the
      // one before: the collector is away, and this one waits for it.
      m_socket.Close();
      Failed(nNow, "cannot send to " + m_target.Text() + " (" + strError + ")");
      return false;
    }
    ++m_nDatagramsSent;
    return true;
  }
  if (m_strOutput.size() - m_nOutputStart > kMaxWaitingBytes) return false;
  m_strOutput += std::to_string(strMessage.size());
  m_strOutput += ' ';
  m_strOutput += strMessage;
  m_nHandedOver += std::to_string(strMessage.size()).size() + 1 + strMessage.size();
  m_aInFlight.push_back({m_nHandedOver, -1});
  if (!Flush(nNow, strError)) Break(nNow, strError);
  return true;
}

bool CSyslogLink::Flush(int64_t nNow, std::string& strError) {
  while (m_nOutputStart < m_strOutput.size()) {
    const long nWritten =
        m_socket.WriteSome(m_strOutput.data() + m_nOutputStart, m_strOutput.size() - m_nOutputStart, strError);
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
  for (auto it = m_aInFlight.rbegin(); it != m_aInFlight.rend() && it->m_nWritten < 0; ++it) {
    if (it->m_nEnd <= m_nWritten) it->m_nWritten = nNow;
  }
  return true;
}

CLinkReport CSyslogLink::Poll(int64_t nNow) {
  CLinkReport report;
  report.m_nConfirmed = m_nDatagramsSent;
  m_nDatagramsSent = 0;
  std::string strError;
  if (IsUp() && m_target.m_nKind == socketStream && !Flush(nNow, strError)) Break(nNow, strError);
  report.m_bBroke = m_bBroken;
  m_bBroken = false;
  if (!IsUp() || m_target.m_nKind == socketDatagram) return report;
  // Asked before looking for a break: a reset empties the system's queue,
  // which would then read as everything acknowledged.
  uint64_t nUnacknowledged = 0;
  const bool bKnown = m_socket.CountUnacknowledged(nUnacknowledged);
  if (m_socket.HasBroken(strError)) {
    Break(nNow, strError);
    report.m_bBroke = true;
    m_bBroken = false;
    return report;
  }
  const uint64_t nSafe = bKnown ? m_nWritten - std::min(nUnacknowledged, m_nWritten) : m_nWritten;
  while (!m_aInFlight.empty() && m_aInFlight.front().m_nEnd <= nSafe &&
         (bKnown || (m_aInFlight.front().m_nWritten >= 0 &&
                     nNow - m_aInFlight.front().m_nWritten >= kSettleMilliseconds))) {
    m_aInFlight.pop_front();
    ++report.m_nConfirmed;
  }
  return report;
}

void CSyslogLink::Break(int64_t nNow, const std::string& strReason) {
  m_socket.Close();
  m_bBroken = true;
  m_aInFlight.clear();
  m_strOutput.clear();
  m_nOutputStart = 0;
  if (nNow - m_nConnectedAt >= kSteadyMilliseconds) m_nBackoff = kFirstRetryMilliseconds;
  m_nRetryAt = nNow;  // the first attempt at once: most breaks are a restart
  if (!m_bTroubleReported) {
    m_strEvent = "connection to " + m_target.Text() + " lost (" + strReason +
                 "); its records are kept and sent again once it is back";
    m_bTroubleReported = true;
  }
}

void CSyslogLink::Failed(int64_t nNow, const std::string& strReason) {
  m_nRetryAt = nNow + m_nBackoff;
  m_nBackoff = std::min(m_nBackoff * 2, kLastRetryMilliseconds);
  if (!m_bTroubleReported) {
    m_strEvent = strReason + "; trying again, at least every " + std::to_string(kLastRetryMilliseconds / 1000) +
                 " s, and keeping the records until then";
    m_bTroubleReported = true;
  }
}
