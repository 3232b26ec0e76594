#include "test_collector.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include <stdexcept>

#include "forward/syslog_relp.h"
#include "support/shell_command.h"
#include "tool_process.h"

namespace {

constexpr int kPollMilliseconds = 5;
constexpr size_t kSlowBytes = 300;  // a round's read of a slow collector
constexpr int kSlowRoundMilliseconds = 20;
// collectorAnswerBlindly: how long its connection goes unread after open,
// and how many transactions it then answers: more than the forwarder has
// sent (it cannot know), and few enough to go in one TLS record, so that
// the forwarder reads them all at once and its close is no reset (which
// would throw away what it wrote whole and the collector has yet to read).
constexpr auto kBlindPause = std::chrono::seconds(1);
constexpr uint32_t kBlindAnswers = 999;
// collectorFlood: what it sends a round at most, in chunks of this.
constexpr size_t kFloodChunkBytes = 60000;
constexpr size_t kFloodRoundBytes = 4 << 20;

void CloseSocket(int nSocket, bool bReset) {
  if (bReset) {
    linger hard{1, 0};  // close at once with a reset, unsent and unread bytes gone
    setsockopt(nSocket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  close(nSocket);
}

// EC keys: made in milliseconds, where RSA keys take a while.
const char kMakeCertificates[] = R"(set -e
key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout $1.key -out $1.csr -subj "/CN=$2"; }
ca() { openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout $1.key -out $1.pem -days 30 -subj "/CN=$2"; }
sign() { openssl x509 -req -in $1.csr -CA $2.pem -CAkey $2.key -CAcreateserial -out $3.pem -days $4 -extfile $5.ext; }
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1
extendedKeyUsage=serverAuth
' > server.ext
printf 'extendedKeyUsage=clientAuth
' > client.ext
ca ca "Vardlix Test CA"; ca other-ca "Another Test CA"
key server localhost; sign server ca server 30 server
cp server.key expired.key; sign server ca expired -1 server
key stranger localhost; sign stranger other-ca stranger 30 server
key client client.vardlix.test; sign client ca client 30 client
)";

}  // namespace

const CTestCertificates& TestCertificates() {
  static CScratchFolder folder;
  static const CTestCertificates certificates = [] {
    std::string strOutput;
    if (!RunCommand("cd '" + folder.Path() + "' && { " + kMakeCertificates + "} 2>&1", strOutput)) {
      throw std::runtime_error("the test certificates could not be made: " + strOutput);
    }
    return CTestCertificates{folder.Path()};
  }();
  return certificates;
}

CTestCollector::CTestCollector(bool bRelp, bool bTls) : m_bRelp(bRelp) {
  if (bTls) {
    // OpenSSL writes to a socket the forwarder may have closed: an error
    // to see, not a signal that ends the test.
    signal(SIGPIPE, SIG_IGN);
    const CTestCertificates& certificates = TestCertificates();
    m_pContext = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_mode(m_pContext, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (SSL_CTX_use_certificate_chain_file(m_pContext, certificates.Pem("server").c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(m_pContext, certificates.Key("server").c_str(), SSL_FILETYPE_PEM) != 1) {
      throw std::runtime_error("the test collector cannot use its certificate");
    }
  }
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
  EndAll(true);
  close(m_nListener);
  SSL_CTX_free(m_pContext);
}

std::string CTestCollector::Target() const {
  const bool bTls = m_pContext != nullptr;
  return std::string(m_bRelp ? (bTls ? "relps" : "relp") : (bTls ? "tls" : "tcp")) +
         "://127.0.0.1:" + std::to_string(m_nPort);
}

void CTestCollector::Behave(CollectorBehaviour nBehaviour, size_t nResetBytes) {
  if (nBehaviour == collectorAnswerBlindly) {
    // A small receive buffer fills soon: the forwarder then holds messages
    // it has numbered and not written, the ones an early answer must not count.
    int nBytes = 4096;
    setsockopt(m_nListener, SOL_SOCKET, SO_RCVBUF, &nBytes, sizeof nBytes);
  }
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
      const short nEvents = nBehaviour == collectorFlood ? POLLIN | POLLOUT : POLLIN;
      for (const auto& connection : m_aConnections) {
        const bool bPaused = connection.m_bBlind && connection.m_openedAt.time_since_epoch().count() != 0;
        if (!bPaused) aWait.push_back({connection.m_nSocket, nEvents, 0});
      }
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
      if (nBehaviour == collectorFlood) Flood(m_aConnections[i]);
      if (m_aConnections[i].m_bBlind ? AnswerBlindly(m_aConnections[i]) : ReadFrom(m_aConnections[i])) {
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
    fcntl(nSocket, F_SETFL, fcntl(nSocket, F_GETFL) | O_NONBLOCK);
    CConnection connection;
    connection.m_nSocket = nSocket;
    connection.m_bBlind = m_nBehaviour == collectorAnswerBlindly && !m_bBlindDone;
    m_bBlindDone = m_bBlindDone || connection.m_bBlind;
    if (m_pContext != nullptr) {
      connection.m_pSsl = SSL_new(m_pContext);
      SSL_set_fd(connection.m_pSsl, nSocket);
      SSL_set_accept_state(connection.m_pSsl);
    }
    m_aConnections.push_back(connection);
  }
}

long CTestCollector::Receive(CConnection& connection, char* pBytes, size_t nCount) {
  if (connection.m_pSsl == nullptr) {
    const ssize_t nRead = recv(connection.m_nSocket, pBytes, nCount, MSG_DONTWAIT);
    if (nRead > 0) return static_cast<long>(nRead);
    return nRead < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
  }
  size_t nRead = 0;
  const int nResult = SSL_read_ex(connection.m_pSsl, pBytes, nCount, &nRead);
  if (nResult == 1) return static_cast<long>(nRead);
  const int nWhy = SSL_get_error(connection.m_pSsl, nResult);
  ERR_clear_error();
  return nWhy == SSL_ERROR_WANT_READ || nWhy == SSL_ERROR_WANT_WRITE ? 0 : -1;
}

long CTestCollector::SendSome(CConnection& connection, const char* pBytes, size_t nCount) {
  if (connection.m_pSsl == nullptr) {
    const ssize_t nSent = send(connection.m_nSocket, pBytes, nCount, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (nSent >= 0) return static_cast<long>(nSent);
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
  }
  size_t nSent = 0;
  const int nResult = SSL_write_ex(connection.m_pSsl, pBytes, nCount, &nSent);
  if (nResult == 1) return static_cast<long>(nSent);
  const int nWhy = SSL_get_error(connection.m_pSsl, nResult);
  ERR_clear_error();
  return nWhy == SSL_ERROR_WANT_READ || nWhy == SSL_ERROR_WANT_WRITE ? 0 : -1;
}

// Waits for room as long as it takes: answers are never dropped while the
// forwarder is there. A flood chunk begun is finished first, so that frames
// never interleave.
void CTestCollector::SendAll(CConnection& connection, const std::string& strBytes) {
  const std::string& strFlood = FloodChunk();
  for (;;) {
    const bool bFlood = connection.m_nFloodSent > 0;
    const std::string& strNow = bFlood ? strFlood : strBytes;
    size_t& nDone = bFlood ? connection.m_nFloodSent : connection.m_nAnswerSent;
    if (nDone >= strNow.size()) {
      nDone = 0;
      if (bFlood) continue;
      return;
    }
    const long nSent = SendSome(connection, strNow.data() + nDone, strNow.size() - nDone);
    if (nSent < 0 || m_bStop) {
      connection.m_nFloodSent = connection.m_nAnswerSent = 0;
      return;  // the forwarder went away; it hears nothing more
    }
    nDone += static_cast<size_t>(nSent);
    if (nSent == 0) {
      pollfd wait{connection.m_nSocket, POLLOUT, 0};
      poll(&wait, 1, kPollMilliseconds);
    }
  }
}

// RELP: the shortest frames of a command the forwarder does not know, so
// that reading them costs the forwarder more than sending them costs the
// collector; TCP: any bytes.
const std::string& CTestCollector::FloodChunk() const {
  static const std::string strRelp = [] {
    std::string strFrames;
    while (strFrames.size() < kFloodChunkBytes) strFrames += RelpFrame(0, "x", std::string());
    return strFrames;
  }();
  static const std::string strTcp(kFloodChunkBytes, 'x');
  return m_bRelp ? strRelp : strTcp;
}

void CTestCollector::Flood(CConnection& connection) {
  const std::string& strFlood = FloodChunk();
  for (size_t nRound = 0; nRound < kFloodRoundBytes;) {
    const long nSent =
        SendSome(connection, strFlood.data() + connection.m_nFloodSent, strFlood.size() - connection.m_nFloodSent);
    if (nSent <= 0) return;
    nRound += static_cast<size_t>(nSent);
    connection.m_nFloodSent = (connection.m_nFloodSent + static_cast<size_t>(nSent)) % strFlood.size();
  }
}

// The first connection of collectorAnswerBlindly: open answered as usual;
// then a pause without reading, while the forwarder fills what the systems
// hold; then answers to transactions it never read; then everything the
// forwarder wrote is read and kept, to the connection's end, and nothing
// more is answered (an answer to a forwarder that has closed brings a reset
// back, and the reset throws away what was not read yet).
bool CTestCollector::AnswerBlindly(CConnection& connection) {
  const bool bStarted = connection.m_openedAt.time_since_epoch().count() != 0;
  if (!bStarted) {
    const bool bGoesOn = ReadFrom(connection);
    if (bGoesOn && connection.m_nBytesRead > 0) connection.m_openedAt = std::chrono::steady_clock::now();
    return bGoesOn;
  }
  if (std::chrono::steady_clock::now() - connection.m_openedAt < kBlindPause) return true;
  std::string strAnswers;
  for (uint32_t nTxnr = 2; nTxnr < 2 + kBlindAnswers; ++nTxnr) strAnswers += RelpFrame(nTxnr, "rsp", "200 OK");
  SendAll(connection, strAnswers);
  connection.m_bBlind = false;
  connection.m_bMute = true;
  return ReadFrom(connection);
}

bool CTestCollector::ReadFrom(CConnection& connection) {
  const bool bSlow = m_nBehaviour == collectorReadSlowly;
  char aBuffer[65536];
  for (;;) {
    const size_t nWanted = bSlow ? kSlowBytes : sizeof aBuffer;
    const long nRead = Receive(connection, aBuffer, nWanted);
    if (nRead < 0) {
      End(connection, false);
      return false;
    }
    if (nRead == 0) return true;
    connection.m_strInput.append(aBuffer, static_cast<size_t>(nRead));
    connection.m_nBytesRead += static_cast<size_t>(nRead);
    if (!TakeFrames(connection)) {
      End(connection, false);
      return false;
    }
    if (m_nBehaviour == collectorResetAfter && connection.m_nBytesRead >= m_nResetBytes) {
      End(connection, true);
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
  if (!strAnswers.empty() && !connection.m_bMute) SendAll(connection, strAnswers);
  connection.m_strInput.erase(0, nStart);
  return bGoesOn;
}

void CTestCollector::Keep(const std::string& strMessage) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_aMessages.push_back(strMessage);
}

void CTestCollector::End(CConnection& connection, bool bReset) {
  SSL_free(connection.m_pSsl);  // no close_notify: a collector that stops says nothing
  connection.m_pSsl = nullptr;
  CloseSocket(connection.m_nSocket, bReset);
}

void CTestCollector::EndAll(bool bReset) {
  for (auto& connection : m_aConnections) End(connection, bReset);
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
