// Windows half of the tool's TLS seam (tls_session.h), on SChannel through
// SSPI: the system's own TLS, so that vardlix.exe ships no TLS library and
// trusts the machine's certificate store. This file moves the records of
// an open session; tls_handshake_win32.cpp opens it, and
// tls_state_win32.h says where the bytes wait.
#include <algorithm>
#include <cstring>

#include "system/tls_state_win32.h"

namespace {

// Plain bytes one WriteSome takes at most: four records of the largest size.
constexpr size_t nWriteBound = 65536;

enum : int {
  decryptedSome,     // a record was read (its plain bytes may be none)
  decryptNeedsMore,  // no whole record has arrived
  decryptClosed,     // the peer said goodbye
  decryptFailed,
};

}  // namespace

long CTlsSession::CState::Break(std::string& strError) {
  m_strBroken = strError;
  return -1;
}

// Hands the socket what it takes now of the encrypted bytes.
bool CTlsSession::CState::Flush(std::string& strError) {
  while (!m_strOutgoing.empty()) {
    const long nWritten = m_socket.WriteSome(m_strOutgoing.data(), m_strOutgoing.size(), strError);
    if (nWritten < 0) return false;
    if (nWritten == 0) return true;
    m_strOutgoing.erase(0, static_cast<size_t>(nWritten));
  }
  return true;
}

// A handshake message after the handshake (a TLS 1.3 session ticket or key
// update) goes back through the handshake call; its answer, if any, is
// queued like a record.
bool CTlsSession::CState::Renegotiate(std::string& strError) {
  const SECURITY_STATUS nStatus = Step(false /* bFirst */);
  m_strOutgoing += m_strToken;
  m_strToken.clear();
  if (nStatus == SEC_E_OK || nStatus == SEC_E_INCOMPLETE_MESSAGE || nStatus == SEC_I_CONTINUE_NEEDED) return true;
  strError = "the server's renewal of the session failed (" + HexCode(nStatus) + ")";
  return false;
}

// Decrypts the first whole record of m_strIncoming into m_strPlain.
int CTlsSession::CState::Decrypt(std::string& strError) {
  if (m_strIncoming.empty()) return decryptNeedsMore;
  SecBuffer aBuffers[4] = {{static_cast<unsigned long>(m_strIncoming.size()), SECBUFFER_DATA, &m_strIncoming[0]},
                           {0, SECBUFFER_EMPTY, nullptr},
                           {0, SECBUFFER_EMPTY, nullptr},
                           {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc buffers{SECBUFFER_VERSION, 4, aBuffers};
  const SECURITY_STATUS nStatus = DecryptMessage(&m_hContext, &buffers, 0 /* sequence */, nullptr /* quality */);
  if (nStatus == SEC_E_INCOMPLETE_MESSAGE) return decryptNeedsMore;
  if (nStatus != SEC_E_OK && nStatus != SEC_I_RENEGOTIATE && nStatus != SEC_I_CONTEXT_EXPIRED) {
    strError = "a record from the server could not be decrypted (" + HexCode(nStatus) + ")";
    return decryptFailed;
  }
  // The plain bytes lie inside m_strIncoming: copied before it is cut.
  for (const SecBuffer& buffer : aBuffers)
    if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0)
      m_strPlain.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
  KeepExtra(aBuffers, 4);
  if (nStatus == SEC_I_CONTEXT_EXPIRED) {
    strError = "the collector closed the session";
    return decryptClosed;
  }
  if (nStatus == SEC_I_RENEGOTIATE && !Renegotiate(strError)) return decryptFailed;
  return decryptedSome;
}

long CTlsSession::CState::Read(char* pBytes, size_t nCount, std::string& strError) {
  if (!m_strBroken.empty()) {
    strError = m_strBroken;
    return -1;
  }
  if (!Flush(strError)) return Break(strError);
  char aChunk[16384];
  size_t nFromSocket = 0;
  while (m_nPlainStart == m_strPlain.size()) {
    const int nResult = Decrypt(strError);
    if (nResult == decryptClosed || nResult == decryptFailed) return Break(strError);
    if (nResult == decryptedSome) continue;
    if (nFromSocket >= nTlsReadBound) return 0;
    const long nRead = m_socket.ReadSome(aChunk, sizeof aChunk, strError);
    if (nRead < 0) return Break(strError);
    if (nRead == 0) return 0;
    nFromSocket += static_cast<size_t>(nRead);
    m_strIncoming.append(aChunk, static_cast<size_t>(nRead));
  }
  const size_t nTake = std::min(nCount, m_strPlain.size() - m_nPlainStart);
  std::memcpy(pBytes, m_strPlain.data() + m_nPlainStart, nTake);
  m_nPlainStart += nTake;
  if (m_nPlainStart == m_strPlain.size()) {
    m_strPlain.clear();
    m_nPlainStart = 0;
  }
  return static_cast<long>(nTake);
}

// Appends the bytes to m_strOutgoing as records.
bool CTlsSession::CState::Encrypt(const char* pBytes, size_t nCount, std::string& strError) {
  for (size_t nDone = 0; nDone < nCount;) {
    const size_t nChunk = std::min<size_t>(nCount - nDone, m_sizes.cbMaximumMessage);
    std::string strRecord(m_sizes.cbHeader + nChunk + m_sizes.cbTrailer, '\0');
    std::memcpy(&strRecord[m_sizes.cbHeader], pBytes + nDone, nChunk);
    SecBuffer aBuffers[4] = {{m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, &strRecord[0]},
                             {static_cast<unsigned long>(nChunk), SECBUFFER_DATA, &strRecord[m_sizes.cbHeader]},
                             {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, &strRecord[m_sizes.cbHeader + nChunk]},
                             {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc buffers{SECBUFFER_VERSION, 4, aBuffers};
    const SECURITY_STATUS nStatus = EncryptMessage(&m_hContext, 0 /* quality */, &buffers, 0 /* sequence */);
    if (nStatus != SEC_E_OK) {
      strError = "bytes could not be encrypted (" + HexCode(nStatus) + ")";
      return false;
    }
    m_strOutgoing.append(strRecord.data(), aBuffers[0].cbBuffer + aBuffers[1].cbBuffer + aBuffers[2].cbBuffer);
    nDone += nChunk;
  }
  return true;
}

// Takes new bytes only once the socket has taken every record before
// them, so that at most one round of records waits here.
long CTlsSession::CState::Write(const char* pBytes, size_t nCount, std::string& strError) {
  if (!m_strBroken.empty()) {
    strError = m_strBroken;
    return -1;
  }
  if (!Flush(strError)) return Break(strError);
  if (!m_strOutgoing.empty() || nCount == 0) return 0;
  const size_t nTake = std::min(nCount, nWriteBound);
  if (!Encrypt(pBytes, nTake, strError) || !Flush(strError)) return Break(strError);
  return static_cast<long>(nTake);
}

// close_notify, handed to the socket if it takes it now.
void CTlsSession::CState::SayGoodbye() {
  if (!m_bOpen || !m_strBroken.empty()) return;
  DWORD nType = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof nType, SECBUFFER_TOKEN, &nType};
  SecBufferDesc controls{SECBUFFER_VERSION, 1, &control};
  if (ApplyControlToken(&m_hContext, &controls) != SEC_E_OK) return;
  m_strIncoming.clear();
  Step(false /* bFirst */);
  m_strOutgoing += m_strToken;
  std::string strIgnored;
  Flush(strIgnored);
}

void CTlsSession::CState::Release() noexcept {
  if (m_bContext) DeleteSecurityContext(&m_hContext);
  if (m_bCredentials) FreeCredentialsHandle(&m_hCredentials);
  if (m_pClientCertificate) CertFreeCertificateContext(m_pClientCertificate);
  DeleteKeyContainer(m_strKeyContainer);
  m_bContext = m_bCredentials = m_bOpen = false;
  m_pClientCertificate = nullptr;
  m_socket.Close();
}

// ---- The session's calls ----------------------------------------------------

CTlsSession::CTlsSession() = default;

CTlsSession::~CTlsSession() { Close(); }

CTlsSession::CTlsSession(CTlsSession&& other) noexcept = default;

CTlsSession& CTlsSession::operator=(CTlsSession&& other) noexcept {
  if (this != &other) {
    Close();
    m_pState = std::move(other.m_pState);
  }
  return *this;
}

bool CTlsSession::Open(CNetSocket&& socket, const std::string& strHost, const CTlsOptions& options,
                       int nTimeoutMilliseconds, std::string& strError) {
  Close();
  m_pState = std::make_unique<CState>();
  const std::string& strTarget = options.m_strPeerName.empty() ? strHost : options.m_strPeerName;
  if (m_pState->Start(std::move(socket), strTarget, options, nTimeoutMilliseconds, strError)) return true;
  m_pState.reset();  // closes the socket: nothing is ever sent in clear
  return false;
}

bool CTlsSession::IsOpen() const noexcept { return m_pState && m_pState->m_bOpen; }

long CTlsSession::WriteSome(const char* pBytes, size_t nCount, std::string& strError) {
  if (!IsOpen()) {
    strError = "the TLS session is not open";
    return -1;
  }
  return m_pState->Write(pBytes, nCount, strError);
}

long CTlsSession::ReadSome(char* pBytes, size_t nCount, std::string& strError) {
  if (!IsOpen()) {
    strError = "the TLS session is not open";
    return -1;
  }
  return m_pState->Read(pBytes, nCount, strError);
}

bool CTlsSession::HasBroken(std::string& strError) {
  char aDiscard[4096];
  for (size_t nDiscarded = 0; nDiscarded < nTlsReadBound;) {
    const long nRead = ReadSome(aDiscard, sizeof aDiscard, strError);
    if (nRead < 0) return true;
    if (nRead == 0) return false;
    nDiscarded += static_cast<size_t>(nRead);
  }
  return false;
}

bool CTlsSession::CountUnacknowledged(uint64_t& nBytes) const {
  if (!IsOpen() || !m_pState->m_socket.CountUnacknowledged(nBytes)) return false;
  nBytes += m_pState->m_strOutgoing.size();
  return true;
}

void CTlsSession::WaitWritable(int nMilliseconds) const {
  if (IsOpen()) m_pState->m_socket.WaitWritable(nMilliseconds);
}

std::string CTlsSession::Describe() const { return IsOpen() ? m_pState->m_strDescription : std::string(); }

void CTlsSession::Close() noexcept {
  if (!m_pState) return;
  try {
    m_pState->SayGoodbye();
  } catch (...) {
    // Out of memory for the goodbye: the socket is closed without it.
  }
  m_pState.reset();
}
