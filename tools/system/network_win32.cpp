// Windows half of the tool's network seam (network.h), on Winsock 2.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <memory>

#include "base/text_encoding.h"
#include "system/network.h"

static_assert(sizeof(SOCKET) <= sizeof(intptr_t), "a SOCKET fits the handle member");

namespace {

// Winsock is started once per process, when the first socket is made, and
// left to the system to end with the process.
bool StartWinsock() {
  static const bool bStarted = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return bStarted;
}

SOCKET Handle(intptr_t hSocket) { return static_cast<SOCKET>(hSocket); }

std::string ErrorText(int nError) {
  wchar_t* pszText = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr /* lpSource: the system's messages */, static_cast<DWORD>(nError),
                 0 /* language: the user's */, reinterpret_cast<wchar_t*>(&pszText), 0 /* nSize: allocated */,
                 nullptr /* Arguments */);
  std::string strText = pszText ? ToUtf8(reinterpret_cast<const char16_t*>(pszText)) : std::string();
  if (pszText) LocalFree(pszText);
  while (!strText.empty() && std::string("\r\n .").find(strText.back()) != std::string::npos) strText.pop_back();
  return "error " + std::to_string(nError) + (strText.empty() ? "" : ": " + strText);
}

bool IsWouldBlock(int nError) { return nError == WSAEWOULDBLOCK || nError == WSAEINTR; }

// Connects a fresh non-blocking socket to one address within the timeout.
SOCKET ConnectOne(const addrinfo& address, int nTimeoutMilliseconds, int& nError) {
  SOCKET hSocket = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (hSocket == INVALID_SOCKET) {
    nError = WSAGetLastError();
    return INVALID_SOCKET;
  }
  u_long nNonBlocking = 1;
  ioctlsocket(hSocket, FIONBIO, &nNonBlocking);
  if (connect(hSocket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return hSocket;
  nError = WSAGetLastError();
  if (nError == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(hSocket, &writable);
    FD_SET(hSocket, &failed);  // Winsock reports a refused connection here
    timeval timeout{nTimeoutMilliseconds / 1000, (nTimeoutMilliseconds % 1000) * 1000};
    const int nReady = select(0 /* ignored */, nullptr, &writable, &failed, &timeout);
    int nLength = sizeof nError;
    if (nReady > 0 && FD_ISSET(hSocket, &writable)) return hSocket;
    if (nReady > 0) getsockopt(hSocket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&nError), &nLength);
    if (nReady == 0) nError = WSAETIMEDOUT;
    if (nReady < 0) nError = WSAGetLastError();
  }
  closesocket(hSocket);
  return INVALID_SOCKET;
}

}  // namespace

bool CNetSocket::Connect(const std::string& strHost, int nPort, SocketKind nKind, int nTimeoutMilliseconds,
                         std::string& strError) {
  Close();
  if (!StartWinsock()) {
    strError = "the network (Winsock) cannot be started";
    return false;
  }
  std::u16string strWideHost;
  FromUtf8(strHost, strWideHost);
  const std::string strPort = std::to_string(nPort);
  const std::u16string strWidePort(strPort.begin(), strPort.end());
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = nKind == socketStream ? SOCK_STREAM : SOCK_DGRAM;
  ADDRINFOW* pFound = nullptr;
  if (GetAddrInfoW(reinterpret_cast<const wchar_t*>(strWideHost.c_str()),
                   reinterpret_cast<const wchar_t*>(strWidePort.c_str()), &hints, &pFound) != 0) {
    strError = "cannot resolve " + strHost + ": " + ErrorText(WSAGetLastError());
    return false;
  }
  std::unique_ptr<ADDRINFOW, decltype(&FreeAddrInfoW)> found(pFound, FreeAddrInfoW);
  int nError = 0;
  for (const ADDRINFOW* pAddress = pFound; pAddress != nullptr; pAddress = pAddress->ai_next) {
    addrinfo address{};
    address.ai_family = pAddress->ai_family;
    address.ai_socktype = pAddress->ai_socktype;
    address.ai_protocol = pAddress->ai_protocol;
    address.ai_addrlen = pAddress->ai_addrlen;
    address.ai_addr = pAddress->ai_addr;
    const SOCKET hSocket = ConnectOne(address, nTimeoutMilliseconds, nError);
    if (hSocket == INVALID_SOCKET) continue;
    if (nKind == socketStream) {
      BOOL bOn = TRUE;
      setsockopt(hSocket, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&bOn), sizeof bOn);
    }
    m_hSocket = static_cast<intptr_t>(hSocket);
    return true;
  }
  strError = ErrorText(nError);
  return false;
}

long CNetSocket::WriteSome(const char* pBytes, size_t nCount, std::string& strError) {
  const int nChunk = nCount > 1 << 20 ? 1 << 20 : static_cast<int>(nCount);
  const int nWritten = send(Handle(m_hSocket), pBytes, nChunk, 0 /* flags */);
  if (nWritten != SOCKET_ERROR) return nWritten;
  const int nError = WSAGetLastError();
  if (IsWouldBlock(nError)) return 0;
  strError = ErrorText(nError);
  return -1;
}

DatagramSend CNetSocket::SendDatagram(const char* pBytes, size_t nCount, std::string& strError) {
  const int nSent = send(Handle(m_hSocket), pBytes, static_cast<int>(nCount), 0 /* flags */);
  if (nSent == static_cast<int>(nCount)) return datagramSent;
  if (nSent != SOCKET_ERROR) {
    strError = "the datagram was cut";
    return datagramFailed;
  }
  const int nError = WSAGetLastError();
  strError = ErrorText(nError);
  if (IsWouldBlock(nError) || nError == WSAENOBUFS) return datagramLater;
  return nError == WSAEMSGSIZE ? datagramTooLong : datagramFailed;
}

long CNetSocket::ReadSome(char* pBytes, size_t nCount, std::string& strError) {
  if (m_hSocket == -1) {
    strError = "not connected";
    return -1;
  }
  const int nChunk = nCount > 1 << 20 ? 1 << 20 : static_cast<int>(nCount);
  const int nRead = recv(Handle(m_hSocket), pBytes, nChunk, 0 /* flags */);
  if (nRead > 0) return nRead;
  if (nRead == 0) {
    strError = "the collector closed the connection";
    return -1;
  }
  const int nError = WSAGetLastError();
  if (IsWouldBlock(nError)) return 0;
  strError = ErrorText(nError);
  return -1;
}

bool CNetSocket::CountUnacknowledged(uint64_t& /*nBytes*/) const { return false; }

bool CNetSocket::TellsUnacknowledged() { return false; }

void CNetSocket::WaitWritable(int nMilliseconds) const {
  if (m_hSocket == -1) return;
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(Handle(m_hSocket), &writable);
  timeval timeout{nMilliseconds / 1000, (nMilliseconds % 1000) * 1000};
  select(0 /* ignored */, nullptr, &writable, nullptr, &timeout);
}

void CNetSocket::Close() noexcept {
  if (m_hSocket == -1) return;
  closesocket(Handle(m_hSocket));
  m_hSocket = -1;
}

std::string LocalHostName() {
  wchar_t szName[256] = {};
  DWORD nLength = sizeof szName / sizeof szName[0];
  if (!GetComputerNameExW(ComputerNameDnsHostname, szName, &nLength)) return std::string();
  return ToUtf8(reinterpret_cast<const char16_t*>(szName));
}
