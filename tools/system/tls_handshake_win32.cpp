// How a SChannel session is made (tls_state_win32.h): the credentials, TLS
// 1.2 and 1.3 only, with the client certificate if one is given; the
// handshake, the only part of a session that waits, polling the
// non-blocking socket up to the caller's time-out; and the checks before
// the session is open. SChannel is told to leave the server's certificate
// to the caller: tls_certificate_win32.cpp checks it after the handshake,
// before one byte of the caller's is encrypted.
#include <algorithm>

#include "base/text_encoding.h"
#include "system/tls_state_win32.h"

namespace {

constexpr DWORD nContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

const char* DescribeExchange(ALG_ID nAlgorithm) {
  switch (nAlgorithm) {
    case CALG_ECDH_EPHEM:
      return "ECDHE";
    case CALG_DH_EPHEM:
      return "DHE";
    case CALG_RSA_KEYX:
      return "RSA";
    default:
      return "";
  }
}

const char* DescribeCipher(ALG_ID nAlgorithm) {
  switch (nAlgorithm) {
    case CALG_AES_128:
      return "AES-128";
    case CALG_AES_256:
      return "AES-256";
    default:
      return "";
  }
}

const char* DescribeHash(ALG_ID nAlgorithm) {
  switch (nAlgorithm) {
    case CALG_SHA_256:
      return "SHA256";
    case CALG_SHA_384:
      return "SHA384";
    default:
      return "";
  }
}

// What the server's bytes say in clear before its ChangeCipherSpec (all of
// a TLS 1.2 server's first flight): the version of its ServerHello, a
// protocol_version alert, a CertificateRequest. SChannel's errors do not
// always tell these apart, the reason given to the user does.
struct CServerFlight {
  bool bOldProtocol = false;       // a ServerHello below TLS 1.2, or a protocol_version alert
  bool bAskedCertificate = false;  // a CertificateRequest
};

CServerFlight ReadServerFlight(const std::string& strBytes) {
  CServerFlight flight;
  std::string strHandshake;  // the handshake records' contents, whose messages may span records
  for (size_t nPos = 0; nPos + 5 <= strBytes.size();) {
    const unsigned char nType = static_cast<unsigned char>(strBytes[nPos]);
    const size_t nLength =
        static_cast<unsigned char>(strBytes[nPos + 3]) << 8 | static_cast<unsigned char>(strBytes[nPos + 4]);
    if (nType == 20 || nPos + 5 + nLength > strBytes.size()) break;  // ChangeCipherSpec: the rest is encrypted
    if (nType == 21 && nLength >= 2 && strBytes[nPos + 6] == 70) flight.bOldProtocol = true;
    if (nType == 22) strHandshake.append(strBytes, nPos + 5, nLength);
    nPos += 5 + nLength;
  }
  for (size_t nPos = 0; nPos + 4 <= strHandshake.size();) {
    const unsigned char nType = static_cast<unsigned char>(strHandshake[nPos]);
    const size_t nLength = static_cast<unsigned char>(strHandshake[nPos + 1]) << 16 |
                           static_cast<unsigned char>(strHandshake[nPos + 2]) << 8 |
                           static_cast<unsigned char>(strHandshake[nPos + 3]);
    if (nType == 2 && nPos + 6 <= strHandshake.size())  // ServerHello: its version first
      flight.bOldProtocol |= (static_cast<unsigned char>(strHandshake[nPos + 4]) << 8 |
                              static_cast<unsigned char>(strHandshake[nPos + 5])) < 0x0303;
    if (nType == 13) flight.bAskedCertificate = true;
    nPos += 4 + nLength;
  }
  return flight;
}

// Why a handshake failed, in one line.
std::string DescribeHandshakeError(SECURITY_STATUS nStatus, const CServerFlight& flight, bool bClientCertificate) {
  const std::string strCode = " (" + HexCode(nStatus) + ")";
  if (nStatus == SEC_E_ALGORITHM_MISMATCH || nStatus == SEC_E_UNSUPPORTED_FUNCTION || flight.bOldProtocol)
    return "the server speaks no protocol this client allows, TLS 1.2 or 1.3 (protocol)" + strCode;
  if (flight.bAskedCertificate && !bClientCertificate)
    return "the server demanded a client certificate, and none was given (--cert)" + strCode;
  if (flight.bAskedCertificate) return "the server refused the client certificate" + strCode;
  return "the server ended the handshake" + strCode;
}

}  // namespace

// ---- Credentials ----------------------------------------------------------

bool CTlsSession::CState::AcquireWith(void* pCredentials) {
  TimeStamp expiry;
  const SECURITY_STATUS nStatus = AcquireCredentialsHandleW(
      nullptr /* principal */, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr /* logon id */,
      pCredentials, nullptr /* get key */, nullptr /* its argument */, &m_hCredentials, &expiry);
  m_bCredentials = nStatus == SEC_E_OK;
  return m_bCredentials;
}

// TLS 1.2 and 1.3 only. SCHANNEL_CRED's protocol list is the limit every
// system honours; systems that refuse 1.3 in that form get the newer
// SCH_CREDENTIALS, which excludes the others instead; the oldest get 1.2
// alone. CheckProtocol holds the line after the handshake whatever happens.
bool CTlsSession::CState::AcquireCredentials(const CTlsOptions& options, std::string& strError) {
  if (!options.m_strCertFile.empty()) {
    m_pClientCertificate =
        LoadClientCertificate(options.m_strCertFile, options.m_strKeyFile, m_strKeyContainer, strError);
    if (!m_pClientCertificate) return false;
  }
  const DWORD nFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  SCHANNEL_CRED credentials{};
  credentials.dwVersion = SCHANNEL_CRED_VERSION;
  credentials.grbitEnabledProtocols = nTlsAllowedProtocols;
  credentials.dwFlags = nFlags;
  credentials.cCreds = m_pClientCertificate ? 1 : 0;
  credentials.paCred = m_pClientCertificate ? &m_pClientCertificate : nullptr;
  if (AcquireWith(&credentials)) return true;
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = ~nTlsAllowedProtocols;
  SCH_CREDENTIALS newer{};
  newer.dwVersion = SCH_CREDENTIALS_VERSION;
  newer.dwFlags = nFlags;
  newer.cCreds = credentials.cCreds;
  newer.paCred = credentials.paCred;
  newer.cTlsParameters = 1;
  newer.pTlsParameters = &parameters;
  if (AcquireWith(&newer)) return true;
  credentials.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  if (AcquireWith(&credentials)) return true;
  strError = "the system's TLS (SChannel) gives no TLS 1.2 or 1.3 client" +
             (m_pClientCertificate ? std::string(" with this client certificate") : std::string());
  return false;
}

// ---- Handshake ------------------------------------------------------------

// One call of the handshake: takes m_strIncoming, leaves what it did not
// use there, and what is to be sent in m_strToken.
SECURITY_STATUS CTlsSession::CState::Step(bool bFirst) {
  SecBuffer aIn[2] = {{static_cast<unsigned long>(m_strIncoming.size()), SECBUFFER_TOKEN, &m_strIncoming[0]},
                      {0, SECBUFFER_EMPTY, nullptr}};
  SecBuffer aOut[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc in{SECBUFFER_VERSION, 2, aIn};
  SecBufferDesc out{SECBUFFER_VERSION, 1, aOut};
  unsigned long nAttributes = 0;
  const SECURITY_STATUS nStatus =
      InitializeSecurityContextW(&m_hCredentials, bFirst ? nullptr : &m_hContext,
                                 const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(m_strWideTarget.c_str())),
                                 nContextFlags, 0 /* reserved */, 0 /* data representation */, bFirst ? nullptr : &in,
                                 0 /* reserved */, &m_hContext, &out, &nAttributes, nullptr /* expiry */);
  if (bFirst && !FAILED(nStatus)) m_bContext = true;
  if (aOut[0].pvBuffer) {
    m_strToken.assign(static_cast<const char*>(aOut[0].pvBuffer), aOut[0].cbBuffer);
    FreeContextBuffer(aOut[0].pvBuffer);
  }
  // Input waits whole for more bytes (incomplete message), or to be read
  // again without a certificate (incomplete credentials).
  if (!bFirst && nStatus != SEC_E_INCOMPLETE_MESSAGE && nStatus != SEC_I_INCOMPLETE_CREDENTIALS) KeepExtra(aIn, 2);
  return nStatus;
}

// Keeps the bytes an SSPI call did not use (its EXTRA buffer, the tail of
// m_strIncoming); all were used when there is none.
void CTlsSession::CState::KeepExtra(const SecBuffer* pBuffers, int nBuffers) {
  for (int i = 0; i < nBuffers; ++i) {
    if (pBuffers[i].BufferType == SECBUFFER_EXTRA && pBuffers[i].cbBuffer <= m_strIncoming.size()) {
      m_strIncoming.erase(0, m_strIncoming.size() - pBuffers[i].cbBuffer);
      return;
    }
  }
  m_strIncoming.clear();
}

bool CTlsSession::CState::Handshake(ULONGLONG nDeadline, std::string& strError) {
  bool bFirst = true;
  for (;;) {
    const SECURITY_STATUS nStatus = Step(bFirst);
    bFirst = false;
    // A failure's token is the alert that tells the server why: sent if it
    // can be, at once.
    if (!m_strToken.empty() && !SendAll(m_strToken.data(), m_strToken.size(), nDeadline, strError)) return false;
    m_strToken.clear();
    if (nStatus == SEC_E_OK) return true;
    // Asked for a certificate where none was given: once without one, as
    // a server that only asks allows; a second time is a refusal.
    if (nStatus == SEC_I_INCOMPLETE_CREDENTIALS && !m_bAskedCertificate) {
      m_bAskedCertificate = true;
      continue;
    }
    if (nStatus == SEC_E_INCOMPLETE_MESSAGE || (nStatus == SEC_I_CONTINUE_NEEDED && m_strIncoming.empty())) {
      if (!ReceiveMore(nDeadline, strError)) return false;
      continue;
    }
    if (nStatus == SEC_I_CONTINUE_NEEDED) continue;
    CServerFlight flight = ReadServerFlight(m_strFlight);
    flight.bAskedCertificate |= m_bAskedCertificate;
    strError = DescribeHandshakeError(nStatus, flight, m_pClientCertificate != nullptr);
    return false;
  }
}

// Waits for more of the server's bytes, polling: the socket is
// non-blocking, and the handshake is the only place that waits.
bool CTlsSession::CState::ReceiveMore(ULONGLONG nDeadline, std::string& strError) {
  char aChunk[16384];
  DWORD nPause = 1;
  for (;;) {
    const long nRead = m_socket.ReadSome(aChunk, sizeof aChunk, strError);
    if (nRead < 0) {
      strError = "the handshake broke off: " + strError;
      return false;
    }
    if (nRead > 0) {
      m_strIncoming.append(aChunk, static_cast<size_t>(nRead));
      if (m_strFlight.size() < nTlsReadBound) m_strFlight.append(aChunk, static_cast<size_t>(nRead));
      return true;
    }
    if (GetTickCount64() >= nDeadline) {
      strError = "the server did not complete the handshake in time";
      return false;
    }
    Sleep(nPause);
    nPause = std::min<DWORD>(nPause * 2, 20);
  }
}

bool CTlsSession::CState::SendAll(const char* pBytes, size_t nCount, ULONGLONG nDeadline, std::string& strError) {
  while (nCount > 0) {
    const long nWritten = m_socket.WriteSome(pBytes, nCount, strError);
    if (nWritten < 0) {
      strError = "the handshake broke off: " + strError;
      return false;
    }
    pBytes += nWritten;
    nCount -= static_cast<size_t>(nWritten);
    const ULONGLONG nNow = GetTickCount64();
    if (nCount > 0 && nNow >= nDeadline) {
      strError = "the server did not take the handshake in time";
      return false;
    }
    if (nCount > 0) m_socket.WaitWritable(static_cast<int>(std::min<ULONGLONG>(nDeadline - nNow, 100)));
  }
  return true;
}

// The protocol agreed is 1.2 or 1.3, whatever the system offered; the
// description names it and the cipher.
bool CTlsSession::CState::CheckProtocol(std::string& strError) {
  SecPkgContext_ConnectionInfo info{};
  if (QueryContextAttributesW(&m_hContext, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) {
    strError = "the system's TLS does not tell the protocol agreed";
    return false;
  }
  if (!(info.dwProtocol & nTlsAllowedProtocols)) {
    strError = "the server agreed to a protocol older than TLS 1.2 (protocol)";
    return false;
  }
  m_strDescription = info.dwProtocol & SP_PROT_TLS1_3_CLIENT ? "TLS 1.3" : "TLS 1.2";
  std::string strCipher;
  for (const char* pszPart : {DescribeExchange(info.aiExch), DescribeCipher(info.aiCipher), DescribeHash(info.aiHash)})
    if (*pszPart) strCipher += (strCipher.empty() ? "" : " ") + std::string(pszPart);
  if (!strCipher.empty()) m_strDescription += ", " + strCipher;
  return true;
}

bool CTlsSession::CState::CheckServer(const CTlsOptions& options, std::string& strError) {
  PCCERT_CONTEXT pServer = nullptr;
  if (QueryContextAttributesW(&m_hContext, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &pServer) != SEC_E_OK || !pServer) {
    strError = "the server showed no certificate";
    return false;
  }
  const bool bTrusted = CheckServerCertificate(pServer, m_strTarget, options.m_strCaFile, strError);
  CertFreeCertificateContext(pServer);
  return bTrusted;
}

bool CTlsSession::CState::Start(CNetSocket&& socket, const std::string& strTarget, const CTlsOptions& options,
                                int nTimeout, std::string& strError) {
  m_socket = std::move(socket);
  m_strTarget = strTarget;
  FromUtf8(strTarget, m_strWideTarget);
  const ULONGLONG nDeadline = GetTickCount64() + static_cast<ULONGLONG>(nTimeout > 0 ? nTimeout : 0);
  if (!AcquireCredentials(options, strError) || !Handshake(nDeadline, strError)) return false;
  if (QueryContextAttributesW(&m_hContext, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK) {
    strError = "the system's TLS does not tell its record sizes";
    return false;
  }
  if (!CheckProtocol(strError) || (options.m_bVerify && !CheckServer(options, strError))) return false;
  m_bOpen = true;
  return true;
}
