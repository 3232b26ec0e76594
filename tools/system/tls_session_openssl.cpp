// OpenSSL half of the tool's TLS seam (tls_session.h).
//
// OpenSSL never sees the socket's descriptor: a BIO of our own moves its
// bytes through CNetSocket's WriteSome and ReadSome, so the session is as
// non-blocking as the socket, and a read takes no more than one TLS record
// from the system whatever the peer sends.
//
// TLS 1.3 finishes the client's handshake before the server has checked the
// client's certificate; a server that demanded one and refuses it says so
// only after. Open therefore waits, when a certificate was asked for, until
// the server either sends its session ticket (it took the client) or its
// alert, so that a refused client hears why before anything is sent.
#include "system/tls_session.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// How long Open waits for a TLS 1.3 server's verdict on the client.
constexpr int kVerdictMilliseconds = 1000;
// What one HasBroken throws away at most.
constexpr size_t kMaxDiscardBytes = 64 * 1024;

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The first error OpenSSL queued, in words; the queue is emptied.
std::string TakeOpenSslError() {
  const unsigned long nError = ERR_get_error();
  ERR_clear_error();
  if (nError == 0) return std::string();
  const char* szReason = ERR_reason_error_string(nError);
  return szReason != nullptr ? szReason : "error " + std::to_string(ERR_GET_REASON(nError));
}

bool IsIpAddress(const std::string& strHost) {
  ASN1_OCTET_STRING* pAddress = a2i_IPADDRESS(strHost.c_str());
  if (pAddress == nullptr) return false;
  ASN1_OCTET_STRING_free(pAddress);
  return true;
}

}  // namespace

class CTlsSession::CState {
 public:
  CState() = default;
  ~CState() {
    SSL_free(m_pSsl);  // frees the BIO too
    SSL_CTX_free(m_pContext);
  }
  CState(const CState&) = delete;
  CState& operator=(const CState&) = delete;

  bool Prepare(const std::string& strHost, const CTlsOptions& options, std::string& strError);
  bool Handshake(int64_t nEnd, std::string& strError);
  bool AwaitVerdict(int64_t nEnd, std::string& strError);
  std::string Failure(int nResult, const std::string& strDuring);

  CNetSocket m_socket;
  SSL_CTX* m_pContext = nullptr;
  SSL* m_pSsl = nullptr;
  std::string m_strName;         // the name the certificate must carry
  std::string m_strCaFile;       // for the message of an unknown CA
  std::string m_strSocketError;  // why the socket failed, when it did
  bool m_bSocketClosed = false;  // the peer closed the connection
  bool m_bCertificateAsked = false;
  bool m_bHasCertificate = false;
  bool m_bVerify = true;
  bool m_bTicket = false;  // a TLS 1.3 server sent a session ticket

  static BIO_METHOD* SocketMethod();
  static int WriteToSocket(BIO* pBio, const char* pBytes, int nCount);
  static int ReadFromSocket(BIO* pBio, char* pBytes, int nCount);
  static long ControlSocket(BIO* pBio, int nCommand, long nNumber, void* pArgument);
  static int NoteTicket(SSL* pSsl, SSL_SESSION* pSession);
  static int NoteCertificateRequest(SSL* pSsl, void* pArgument);

 private:
  bool TrustCas(std::string& strError);
  bool UseClientCertificate(const CTlsOptions& options, std::string& strError);
  std::string VerifyFailure(long nResult) const;
  std::string AlertFailure(const std::string& strReason, int nReason) const;
};

int CTlsSession::CState::WriteToSocket(BIO* pBio, const char* pBytes, int nCount) {
  BIO_clear_retry_flags(pBio);
  auto* pState = static_cast<CState*>(BIO_get_data(pBio));
  const long nWritten = pState->m_socket.WriteSome(pBytes, static_cast<size_t>(nCount), pState->m_strSocketError);
  if (nWritten > 0) return static_cast<int>(nWritten);
  if (nWritten == 0) BIO_set_retry_write(pBio);
  return -1;
}

int CTlsSession::CState::ReadFromSocket(BIO* pBio, char* pBytes, int nCount) {
  BIO_clear_retry_flags(pBio);
  auto* pState = static_cast<CState*>(BIO_get_data(pBio));
  std::string strError;
  const long nRead = pState->m_socket.ReadSome(pBytes, static_cast<size_t>(nCount), strError);
  if (nRead > 0) return static_cast<int>(nRead);
  if (nRead == 0) {
    BIO_set_retry_read(pBio);
    return -1;
  }
  pState->m_strSocketError = strError;
  pState->m_bSocketClosed = true;
  return 0;
}

long CTlsSession::CState::ControlSocket(BIO*, int nCommand, long, void*) { return nCommand == BIO_CTRL_FLUSH ? 1 : 0; }

// A TLS 1.3 server sends its session ticket once it has taken the client.
int CTlsSession::CState::NoteTicket(SSL* pSsl, SSL_SESSION*) {
  auto* pState = static_cast<CState*>(SSL_get_app_data(pSsl));
  if (pState != nullptr) pState->m_bTicket = true;
  return 0;  // the session is not kept
}

// The server asked for a client certificate; the one set up, if any, goes.
int CTlsSession::CState::NoteCertificateRequest(SSL* pSsl, void*) {
  auto* pState = static_cast<CState*>(SSL_get_app_data(pSsl));
  if (pState != nullptr) pState->m_bCertificateAsked = true;
  return 1;
}

BIO_METHOD* CTlsSession::CState::SocketMethod() {
  static BIO_METHOD* pMethod = [] {
    BIO_METHOD* pNew = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vardlix socket");
    BIO_meth_set_write(pNew, WriteToSocket);
    BIO_meth_set_read(pNew, ReadFromSocket);
    BIO_meth_set_ctrl(pNew, ControlSocket);
    return pNew;
  }();
  return pMethod;
}

bool CTlsSession::CState::UseClientCertificate(const CTlsOptions& options, std::string& strError) {
  if (options.m_strCertFile.empty()) return true;
  const std::string& strKey = options.m_strKeyFile.empty() ? options.m_strCertFile : options.m_strKeyFile;
  if (SSL_CTX_use_certificate_chain_file(m_pContext, options.m_strCertFile.c_str()) != 1) {
    strError = "cannot use the certificate " + options.m_strCertFile + " (" + TakeOpenSslError() + ")";
    return false;
  }
  if (SSL_CTX_use_PrivateKey_file(m_pContext, strKey.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(m_pContext) != 1) {
    strError = "cannot use the key " + strKey + " (" + TakeOpenSslError() + ")";
    return false;
  }
  m_bHasCertificate = true;
  return true;
}

// The CAs that a server's certificate must come from, when it is checked.
bool CTlsSession::CState::TrustCas(std::string& strError) {
  if (!m_bVerify) return true;
  SSL_CTX_set_verify(m_pContext, SSL_VERIFY_PEER, nullptr);
  const bool bLoaded = m_strCaFile.empty()
                           ? SSL_CTX_set_default_verify_paths(m_pContext) == 1
                           : SSL_CTX_load_verify_locations(m_pContext, m_strCaFile.c_str(), nullptr) == 1;
  if (!bLoaded) strError = "cannot read the CA file " + m_strCaFile + " (" + TakeOpenSslError() + ")";
  return bLoaded;
}

bool CTlsSession::CState::Prepare(const std::string& strHost, const CTlsOptions& options, std::string& strError) {
  m_pContext = SSL_CTX_new(TLS_client_method());
  if (m_pContext == nullptr) {
    strError = "cannot set up TLS (" + TakeOpenSslError() + ")";
    return false;
  }
  SSL_CTX_set_min_proto_version(m_pContext, TLS1_2_VERSION);
  SSL_CTX_set_mode(m_pContext, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_session_cache_mode(m_pContext, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(m_pContext, NoteTicket);
  SSL_CTX_set_cert_cb(m_pContext, NoteCertificateRequest, nullptr);
  m_strCaFile = options.m_strCaFile;
  m_bVerify = options.m_bVerify;
  if (!TrustCas(strError) || !UseClientCertificate(options, strError)) return false;
  m_pSsl = SSL_new(m_pContext);
  BIO* pBio = BIO_new(SocketMethod());
  if (m_pSsl == nullptr || pBio == nullptr) {
    BIO_free(pBio);
    strError = "cannot set up TLS (" + TakeOpenSslError() + ")";
    return false;
  }
  BIO_set_data(pBio, this);
  BIO_set_init(pBio, 1);
  SSL_set_bio(m_pSsl, pBio, pBio);
  SSL_set_app_data(m_pSsl, this);
  m_strName = options.m_strPeerName.empty() ? strHost : options.m_strPeerName;
  if (!IsIpAddress(m_strName)) SSL_set_tlsext_host_name(m_pSsl, m_strName.c_str());
  if (options.m_bVerify) {
    // A wildcard stands for a whole left-most label, never part of one.
    X509_VERIFY_PARAM* pParam = SSL_get0_param(m_pSsl);
    X509_VERIFY_PARAM_set_hostflags(pParam, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const bool bNamed = IsIpAddress(m_strName) ? X509_VERIFY_PARAM_set1_ip_asc(pParam, m_strName.c_str()) == 1
                                               : X509_VERIFY_PARAM_set1_host(pParam, m_strName.c_str(), 0) == 1;
    if (!bNamed) {
      strError = "\"" + m_strName + "\" is no name a certificate can carry";
      return false;
    }
  }
  return true;
}

// Drives the handshake until it is done, fails, or nEnd passes. The socket
// is not waited on (CNetSocket keeps its descriptor): a short sleep stands
// between tries, and a handshake takes a few of them.
bool CTlsSession::CState::Handshake(int64_t nEnd, std::string& strError) {
  for (;;) {
    ERR_clear_error();
    const int nResult = SSL_connect(m_pSsl);
    if (nResult == 1) return true;
    const int nWhy = SSL_get_error(m_pSsl, nResult);
    if (nWhy != SSL_ERROR_WANT_READ && nWhy != SSL_ERROR_WANT_WRITE) {
      strError = Failure(nResult, "handshake");
      return false;
    }
    if (SteadyMilliseconds() >= nEnd) {
      strError = "TLS handshake with " + m_strName + " timed out";
      return false;
    }
    if (nWhy == SSL_ERROR_WANT_WRITE) m_socket.WaitWritable(1);
    else std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// TLS 1.3 with a client certificate asked for: waits for the server's ticket
// (it took the client) or its alert (it did not), until nEnd at most. A
// server that sends no ticket is taken as having taken the client.
bool CTlsSession::CState::AwaitVerdict(int64_t nEnd, std::string& strError) {
  if (!m_bCertificateAsked || SSL_version(m_pSsl) < TLS1_3_VERSION) return true;
  char cByte = 0;
  while (!m_bTicket && SteadyMilliseconds() < nEnd) {
    ERR_clear_error();
    const int nResult = SSL_peek(m_pSsl, &cByte, 1);
    if (nResult > 0) return true;  // application data: the server took the client
    const int nWhy = SSL_get_error(m_pSsl, nResult);
    if (nWhy != SSL_ERROR_WANT_READ && nWhy != SSL_ERROR_WANT_WRITE) {
      strError = Failure(nResult, "handshake");
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::string CTlsSession::CState::VerifyFailure(long nResult) const {
  const std::string strCertificate = "the collector's certificate ";
  switch (nResult) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return strCertificate + "is not for " + m_strName + " (name mismatch; --peer names another)";
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return strCertificate + "has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return strCertificate + "is not valid yet";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return strCertificate + "comes from an unknown CA (" +
             (m_strCaFile.empty() ? "none the system trusts" : "not one of " + m_strCaFile) + ")";
    default:
      break;
  }
  return strCertificate + "was refused (" + X509_verify_cert_error_string(nResult) + ")";
}

std::string CTlsSession::CState::AlertFailure(const std::string& strReason, int nReason) const {
  switch (nReason) {
    case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
      return "the collector demanded a client certificate (--cert, --key)";
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
      if (m_bCertificateAsked && !m_bHasCertificate) {
        return "the collector demanded a client certificate (--cert, --key)";
      }
      break;
    case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
    case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
    case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
      return "the collector refused the client certificate (" + strReason + ")";
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
      return "the collector does not speak TLS 1.2 or 1.3 (protocol: " + strReason + ")";
    default:
      break;
  }
  return "TLS failed (" + strReason + ")";
}

// Why an SSL call failed, in one line; the error queue is emptied.
std::string CTlsSession::CState::Failure(int nResult, const std::string& strDuring) {
  const int nWhy = SSL_get_error(m_pSsl, nResult);
  const unsigned long nError = ERR_peek_error();
  const std::string strReason = TakeOpenSslError();
  if (nWhy == SSL_ERROR_ZERO_RETURN) return "the collector ended the TLS session";
  const long nVerify = SSL_get_verify_result(m_pSsl);
  if (strDuring == "handshake" && m_bVerify && nVerify != X509_V_OK) return VerifyFailure(nVerify);
  if (nWhy == SSL_ERROR_SSL && nError != 0) return AlertFailure(strReason, ERR_GET_REASON(nError));
  // Some servers hang up on a client without a certificate rather than say why.
  if (strDuring == "handshake" && m_bCertificateAsked && !m_bHasCertificate) {
    return "the collector demanded a client certificate (--cert, --key)";
  }
  if (!m_strSocketError.empty()) {
    return strDuring == "handshake" ? "TLS handshake cut off (" + m_strSocketError + ")" : m_strSocketError;
  }
  return "TLS failed during the " + strDuring;
}

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
  auto pState = std::make_unique<CState>();
  pState->m_socket = std::move(socket);
  const int64_t nEnd = SteadyMilliseconds() + nTimeoutMilliseconds;
  if (!pState->Prepare(strHost, options, strError) || !pState->Handshake(nEnd, strError) ||
      !pState->AwaitVerdict(std::min(nEnd, SteadyMilliseconds() + kVerdictMilliseconds), strError)) {
    pState->m_socket.Close();
    return false;
  }
  m_pState = std::move(pState);
  return true;
}

bool CTlsSession::IsOpen() const noexcept { return m_pState != nullptr && m_pState->m_socket.IsOpen(); }

long CTlsSession::WriteSome(const char* pBytes, size_t nCount, std::string& strError) {
  if (!IsOpen()) {
    strError = "not connected";
    return -1;
  }
  if (nCount == 0) return 0;
  ERR_clear_error();
  size_t nWritten = 0;
  const int nResult = SSL_write_ex(m_pState->m_pSsl, pBytes, nCount, &nWritten);
  if (nResult == 1) return static_cast<long>(nWritten);
  const int nWhy = SSL_get_error(m_pState->m_pSsl, nResult);
  if (nWhy == SSL_ERROR_WANT_WRITE || nWhy == SSL_ERROR_WANT_READ) return 0;
  strError = m_pState->Failure(nResult, "write");
  return -1;
}

long CTlsSession::ReadSome(char* pBytes, size_t nCount, std::string& strError) {
  if (!IsOpen()) {
    strError = "not connected";
    return -1;
  }
  ERR_clear_error();
  size_t nRead = 0;
  const int nResult = SSL_read_ex(m_pState->m_pSsl, pBytes, nCount, &nRead);
  if (nResult == 1) return static_cast<long>(nRead);
  const int nWhy = SSL_get_error(m_pState->m_pSsl, nResult);
  if (nWhy == SSL_ERROR_WANT_READ || nWhy == SSL_ERROR_WANT_WRITE) return 0;
  strError = m_pState->Failure(nResult, "read");
  return -1;
}

bool CTlsSession::HasBroken(std::string& strError) {
  if (!IsOpen()) {
    strError = "not connected";
    return true;
  }
  char aDiscard[4096];
  for (size_t nDiscarded = 0; nDiscarded < kMaxDiscardBytes;) {
    const long nRead = ReadSome(aDiscard, sizeof aDiscard, strError);
    if (nRead == 0) return false;
    if (nRead < 0) return true;
    nDiscarded += static_cast<size_t>(nRead);
  }
  return false;
}

bool CTlsSession::CountUnacknowledged(uint64_t& nBytes) const {
  return IsOpen() && m_pState->m_socket.CountUnacknowledged(nBytes);
}

void CTlsSession::WaitWritable(int nMilliseconds) const {
  if (IsOpen()) m_pState->m_socket.WaitWritable(nMilliseconds);
}

std::string CTlsSession::Describe() const {
  if (!IsOpen()) return std::string();
  std::string strVersion = SSL_get_version(m_pState->m_pSsl);  // "TLSv1.3"
  if (strVersion.rfind("TLSv", 0) == 0) strVersion = "TLS " + strVersion.substr(4);
  return strVersion + ", " + SSL_get_cipher_name(m_pState->m_pSsl);
}

void CTlsSession::Close() noexcept {
  if (m_pState == nullptr) return;
  // close_notify goes only as far as the socket takes it now.
  if (m_pState->m_socket.IsOpen() && SSL_is_init_finished(m_pState->m_pSsl)) {
    ERR_clear_error();
    SSL_shutdown(m_pState->m_pSsl);
    ERR_clear_error();
  }
  m_pState->m_socket.Close();
  m_pState.reset();
}
