#include "test_collector.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "forward/syslog_relp.h"

namespace {

constexpr int kPollMilliseconds = 5;
constexpr size_t kSlowBytes = 300;  // a round's read of a slow collector
constexpr int kSlowRoundMilliseconds = 20;

void SendAll(int nSocket, const std::string& strBytes) {
  for (size_t nDone = 0; nDone < strBytes.size();) {
    const ssize_t nSent = send(nSocket, strBytes.data() + nDone, strBytes.size() - nDone, MSG_NOSIGNAL);
    if (nSent <= 0) return;  // the forwarder went away; it hears nothing more
    nDone += static_cast<size_t>(nSent);
  }
}

void CloseSocket(int nSocket, bool bReset) {
  if (bReset) {
    linger hard{1, 0};  // close at once with a reset, unsent and unread bytes gone
    setsockopt(nSocket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  close(nSocket);
}

}  // namespace

CTestCollector::CTestCollector(bool bRelp) : m_bRelp(bRelp) {
  m_nListener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int nOn = 1;
  setsockopt(m_nListener, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t nLength = sizeof address;
  if (bind(m_nListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_nListener, 16) != 0 ||
      getsockname(m_nListener, reinterpret_cast<sockaddr*>(&address), &nLength) != 0) {
    throw std::runtime_error("the test collector cannot listen");
  }
  m_nPort = ntohs(address.sin_port);
  m_thread = std::thread([this] { Serve(); });
}

CTestCollector::~CTestCollector() {
  m_bStop = true;
  m_thread.join();
  for (auto& connection : m_aConnections) CloseSocket(connection.m_nSocket, true);
  close(m_nListener);
}

std::string CTestCollector::Target() const {
  return std::string(m_bRelp ? "relp" : "tcp") + "://127.0.0.1:" + std::to_string(m_nPort);
}

void CTestCollector::Behave(CollectorBehaviour nBehaviour, size_t nResetBytes) {
  m_nResetBytes = nResetBytes;
  m_nBehaviour = nBehaviour;
}

void CTestCollector::Kill() {
  m_nEndAll = 2;
  while (m_nEndAll != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void CTestCollector::CloseAll() {
  m_nEndAll = 1;
  while (m_nEndAll != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::vector<std::string> CTestCollector::Messages() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_aMessages;
}

size_t CTestCollector::CountMessages() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_aMessages.size();
}

size_t CTestCollector::WaitForMessages(size_t nCount, std::chrono::seconds deadline) const {
  const auto end = std::chrono::steady_clock::now() + deadline;
  size_t nFound = CountMessages();
  while (nFound < nCount && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    nFound = CountMessages();
  }
  return nFound;
}

bool CTestCollector::WaitForUnreadBytes(std::chrono::seconds deadline) const {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (m_nUnreadBytes == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return m_nUnreadBytes != 0;
}

void CTestCollector::Serve() {
  auto nNextSlowRound = std::chrono::steady_clock::now();
  while (!m_bStop) {
    if (m_nEndAll != 0) {
      EndAll(m_nEndAll == 2);
      m_nBehaviour = collectorWell;
      m_nEndAll = 0;
    }
    const int nBehaviour = m_nBehaviour;
    std::vector<pollfd> aWait{{m_nListener, POLLIN, 0}};
    if (nBehaviour != collectorNeverRead) {
      for (const auto& connection : m_aConnections) aWait.push_back({connection.m_nSocket, POLLIN, 0});
    }
    poll(aWait.data(), aWait.size(), kPollMilliseconds);
    if (aWait[0].revents & POLLIN) Accept();
    if (nBehaviour == collectorNeverRead) {
      m_nUnreadBytes = CountUnreadBytes();
      continue;
    }
    const bool bSlow = nBehaviour == collectorReadSlowly;
    if (bSlow) {
      if (std::chrono::steady_clock::now() < nNextSlowRound) continue;
      nNextSlowRound = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSlowRoundMilliseconds);
    }
    for (size_t i = 0; i < m_aConnections.size();) {
      if (ReadFrom(m_aConnections[i])) {
        ++i;
        continue;
      }
      m_aConnections.erase(m_aConnections.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

void CTestCollector::Accept() {
  for (;;) {
    const int nSocket = accept4(m_nListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (nSocket < 0) return;
    if (m_nBehaviour == collectorAcceptAndClose) {
      close(nSocket);
      continue;
    }
    // Answers go out as they are written, as a collector's should.
    int nOn = 1;
    setsockopt(nSocket, IPPROTO_TCP, TCP_NODELAY, &nOn, sizeof nOn);
    m_aConnections.push_back({nSocket, std::string(), 0});
  }
}

bool CTestCollector::ReadFrom(CConnection& connection) {
  const bool bSlow = m_nBehaviour == collectorReadSlowly;
  char aBuffer[65536];
  for (;;) {
    const size_t nWanted = bSlow ? kSlowBytes : sizeof aBuffer;
    const ssize_t nRead = recv(connection.m_nSocket, aBuffer, nWanted, MSG_DONTWAIT);
    if (nRead == 0 || (nRead < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      CloseSocket(connection.m_nSocket, false);
      return false;
    }
    if (nRead < 0) return true;
    connection.m_strInput.append(aBuffer, static_cast<size_t>(nRead));
    connection.m_nBytesRead += static_cast<size_t>(nRead);
    if (!TakeFrames(connection)) {
      CloseSocket(connection.m_nSocket, false);
      return false;
    }
    if (m_nBehaviour == collectorResetAfter && connection.m_nBytesRead >= m_nResetBytes) {
      CloseSocket(connection.m_nSocket, true);
      return false;
    }
    if (bSlow) return true;
  }
}

bool CTestCollector::TakeFrames(CConnection& connection) {
  size_t nStart = 0;
  bool bGoesOn = true;
  std::string strAnswers;  // all at once: one segment, not one per message
  while (bGoesOn) {
    if (!m_bRelp) {
      // Octet counting: "LENGTH SP MESSAGE".
      const size_t nSpace = connection.m_strInput.find(' ', nStart);
      if (nSpace == std::string::npos) break;
      const size_t nLength = std::stoul(connection.m_strInput.substr(nStart, nSpace - nStart));
      if (connection.m_strInput.size() - nSpace - 1 < nLength) break;
      Keep(connection.m_strInput.substr(nSpace + 1, nLength));
      nStart = nSpace + 1 + nLength;
      continue;
    }
    CRelpFrame frame;
    std::string strError;
    const RelpParse nParse = ParseRelpFrame(connection.m_strInput, nStart, frame, strError);
    if (nParse == relpNeedMore) break;
    if (nParse == relpMalformed) return false;
    if (frame.m_strCommand == "open") {
      strAnswers += RelpFrame(frame.m_nTxnr, "rsp", "200 OK\nrelp_version=0\nrelp_software=test\ncommands=syslog");
    } else if (frame.m_strCommand == "syslog") {
      Keep(frame.m_strData);
      strAnswers += RelpFrame(frame.m_nTxnr, "rsp", "200 OK");
    } else if (frame.m_strCommand == "close") {
      strAnswers += RelpFrame(frame.m_nTxnr, "rsp", "");
      bGoesOn = false;
    }
  }
  SendAll(connection.m_nSocket, strAnswers);
  connection.m_strInput.erase(0, nStart);
  return bGoesOn;
}

void CTestCollector::Keep(const std::string& strMessage) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_aMessages.push_back(strMessage);
}

void CTestCollector::EndAll(bool bReset) {
  for (auto& connection : m_aConnections) CloseSocket(connection.m_nSocket, bReset);
  m_aConnections.clear();
}

size_t CTestCollector::CountUnreadBytes() const {
  size_t nUnread = 0;
  for (const auto& connection : m_aConnections) {
    int nWaiting = 0;
    if (ioctl(connection.m_nSocket, FIONREAD, &nWaiting) == 0 && nWaiting > 0) nUnread += static_cast<size_t>(nWaiting);
  }
  return nUnread;
}
