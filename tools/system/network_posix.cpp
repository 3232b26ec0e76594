// POSIX half of the tool's network seam (network.h).
#include "system/network.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#if defined(__linux__)
#include <linux/sockios.h>  // SIOCOUTQ
#endif

namespace {

std::string ErrorText(int nError) { return std::strerror(nError); }

int Descriptor(intptr_t hSocket) { return static_cast<int>(hSocket); }

// Connects a fresh non-blocking socket to one address within the timeout;
// the descriptor on success, -1 with nError set otherwise.
int ConnectOne(const addrinfo& address, int nTimeoutMilliseconds, int& nError) {
  int nSocket = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
  if (nSocket < 0) {
    nError = errno;
    return -1;
  }
  fcntl(nSocket, F_SETFL, fcntl(nSocket, F_GETFL) | O_NONBLOCK);
  if (connect(nSocket, address.ai_addr, address.ai_addrlen) == 0) return nSocket;
  nError = errno;
  if (nError == EINPROGRESS) {
    pollfd wait{nSocket, POLLOUT, 0};
    const int nReady = poll(&wait, 1, nTimeoutMilliseconds);
    socklen_t nLength = sizeof nError;
    if (nReady == 1 && getsockopt(nSocket, SOL_SOCKET, SO_ERROR, &nError, &nLength) == 0 && nError == 0) {
      return nSocket;
    }
    if (nReady == 0) nError = ETIMEDOUT;
    if (nReady < 0) nError = errno;
  }
  close(nSocket);
  return -1;
}

}  // namespace

bool CNetSocket::Connect(const std::string& strHost, int nPort, SocketKind nKind, int nTimeoutMilliseconds,
                         std::string& strError) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = nKind == socketStream ? SOCK_STREAM : SOCK_DGRAM;
  addrinfo* pFound = nullptr;
  const int nLookup = getaddrinfo(strHost.c_str(), std::to_string(nPort).c_str(), &hints, &pFound);
  if (nLookup != 0) {
    strError = "cannot resolve " + strHost + ": " + gai_strerror(nLookup);
    return false;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> found(pFound, freeaddrinfo);
  int nError = 0;
  for (const addrinfo* pAddress = pFound; pAddress != nullptr; pAddress = pAddress->ai_next) {
    const int nSocket = ConnectOne(*pAddress, nTimeoutMilliseconds, nError);
    if (nSocket < 0) continue;
    if (nKind == socketStream) {
      // A collector that vanishes without a word (a machine switched off)
      // is noticed at last, rather than never.
      int nOn = 1;
      setsockopt(nSocket, SOL_SOCKET, SO_KEEPALIVE, &nOn, sizeof nOn);
    }
    m_hSocket = nSocket;
    return true;
  }
  strError = ErrorText(nError);
  return false;
}

long CNetSocket::WriteSome(const char* pBytes, size_t nCount, std::string& strError) {
  // MSG_NOSIGNAL: a closed connection is an error to handle, not SIGPIPE.
  const ssize_t nWritten = send(Descriptor(m_hSocket), pBytes, nCount, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (nWritten >= 0) return static_cast<long>(nWritten);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  strError = ErrorText(errno);
  return -1;
}

DatagramSend CNetSocket::SendDatagram(const char* pBytes, size_t nCount, std::string& strError) {
  const ssize_t nSent = send(Descriptor(m_hSocket), pBytes, nCount, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (nSent == static_cast<ssize_t>(nCount)) return datagramSent;
  if (nSent >= 0) {
    strError = "the datagram was cut";
    return datagramFailed;
  }
  const int nError = errno;
  strError = ErrorText(nError);
  if (nError == EAGAIN || nError == EWOULDBLOCK || nError == EINTR || nError == ENOBUFS) return datagramLater;
  return nError == EMSGSIZE ? datagramTooLong : datagramFailed;
}

long CNetSocket::ReadSome(char* pBytes, size_t nCount, std::string& strError) {
  if (m_hSocket == -1) {
    strError = "not connected";
    return -1;
  }
  const ssize_t nRead = recv(Descriptor(m_hSocket), pBytes, nCount, MSG_DONTWAIT);
  if (nRead > 0) return static_cast<long>(nRead);
  if (nRead == 0) {
    strError = "the collector closed the connection";
    return -1;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  strError = ErrorText(errno);
  return -1;
}

bool CNetSocket::CountUnacknowledged(uint64_t& nBytes) const {
#if defined(__linux__)
  // SIOCOUTQ counts what the socket holds that the peer has not yet
  // acknowledged, whether it has been sent or not.
  int nQueued = 0;
  if (m_hSocket == -1 || ioctl(Descriptor(m_hSocket), SIOCOUTQ, &nQueued) != 0 || nQueued < 0) return false;
  nBytes = static_cast<uint64_t>(nQueued);
  return true;
#else
  (void)nBytes;
  return false;
#endif
}

bool CNetSocket::TellsUnacknowledged() {
#if defined(__linux__)
  return true;
#else
  return false;
#endif
}

void CNetSocket::WaitWritable(int nMilliseconds) const {
  if (m_hSocket == -1) return;
  pollfd wait{Descriptor(m_hSocket), POLLOUT, 0};
  poll(&wait, 1, nMilliseconds);
}

void CNetSocket::Close() noexcept {
  if (m_hSocket == -1) return;
  close(Descriptor(m_hSocket));
  m_hSocket = -1;
}

std::string LocalHostName() {
  char szName[256] = {};
  if (gethostname(szName, sizeof szName - 1) != 0) return std::string();
  return szName;
}
