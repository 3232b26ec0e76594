// What a socket's ownership is made of, the same on every platform: the
// handle moves with the object and is closed with it (Close is each
// platform's own); and what is built on the platform's reads.
#include "system/network.h"

CNetSocket::~CNetSocket() { Close(); }

CNetSocket::CNetSocket(CNetSocket&& other) noexcept : m_hSocket(other.m_hSocket) { other.m_hSocket = -1; }

CNetSocket& CNetSocket::operator=(CNetSocket&& other) noexcept {
  if (this != &other) {
    Close();
    m_hSocket = other.m_hSocket;
    other.m_hSocket = -1;
  }
  return *this;
}

// A peer that sends without end is read a bounded amount a call, so that
// the caller gets back to its timeouts and signals whatever it sends.
bool CNetSocket::HasBroken(std::string& strError) {
  constexpr size_t kMaxDiscardBytes = 64 * 1024;
  char aDiscard[4096];
  for (size_t nDiscarded = 0; nDiscarded < kMaxDiscardBytes;) {
    const long nRead = ReadSome(aDiscard, sizeof aDiscard, strError);
    if (nRead == 0) return false;
    if (nRead < 0) return true;
    nDiscarded += static_cast<size_t>(nRead);
  }
  return false;
}
