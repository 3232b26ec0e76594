// The state of a SChannel session (tls_session.h), shared by its two
// halves: tls_handshake_win32.cpp makes the session, tls_session_win32.cpp
// moves the records. Windows only.
//
// SChannel only transforms bytes: the session moves them over the
// CNetSocket itself. Received bytes wait in m_strIncoming until they make a
// whole record, decrypted ones in m_strPlain until read; encrypted ones in
// m_strOutgoing until the socket takes them, so a write never waits. The
// handshake alone waits, up to the caller's time-out.
#pragma once

#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS  // SCH_CREDENTIALS
#include "system/tls_certificate_win32.h"
// After windows.h (through the header above), which must come first.
#include <security.h>
#include <subauth.h>
// After subauth.h, whose UNICODE_STRING it needs.
#include <schannel.h>

#include <string>

#include "system/network.h"
#include "system/tls_session.h"

// Socket bytes one read takes at most, whatever the peer sends, so that a
// flooding peer leaves the caller's signals and time-outs live.
constexpr size_t nTlsReadBound = 65536;
constexpr DWORD nTlsAllowedProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;

class CTlsSession::CState {
 public:
  ~CState() { Release(); }

  // Makes the session over the socket (tls_handshake_win32.cpp).
  bool Start(CNetSocket&& socket, const std::string& strTarget, const CTlsOptions& options, int nTimeout,
             std::string& strError);
  // Moves records as CTlsSession's calls of the same names say
  // (tls_session_win32.cpp); a broken session answers -1 from then on.
  long Read(char* pBytes, size_t nCount, std::string& strError);
  long Write(const char* pBytes, size_t nCount, std::string& strError);
  void SayGoodbye();
  void Release() noexcept;

  CNetSocket m_socket;
  std::string m_strOutgoing;     // encrypted, not yet taken by the socket
  std::string m_strDescription;  // protocol and cipher
  bool m_bOpen = false;

 private:
  bool AcquireCredentials(const CTlsOptions& options, std::string& strError);
  bool AcquireWith(void* pCredentials);
  bool Handshake(ULONGLONG nDeadline, std::string& strError);
  SECURITY_STATUS Step(bool bFirst);
  bool ReceiveMore(ULONGLONG nDeadline, std::string& strError);
  bool SendAll(const char* pBytes, size_t nCount, ULONGLONG nDeadline, std::string& strError);
  bool CheckProtocol(std::string& strError);
  bool CheckServer(const CTlsOptions& options, std::string& strError);
  bool Flush(std::string& strError);
  int Decrypt(std::string& strError);
  bool Renegotiate(std::string& strError);
  bool Encrypt(const char* pBytes, size_t nCount, std::string& strError);
  void KeepExtra(const SecBuffer* pBuffers, int nBuffers);
  long Break(std::string& strError);

  std::string m_strTarget;         // the server's name, UTF-8
  std::u16string m_strWideTarget;  // the same, as SSPI takes it
  CredHandle m_hCredentials{};
  CtxtHandle m_hContext{};
  bool m_bCredentials = false;
  bool m_bContext = false;
  PCCERT_CONTEXT m_pClientCertificate = nullptr;
  std::wstring m_strKeyContainer;  // where the key of a PEM client certificate lies for the session
  SecPkgContext_StreamSizes m_sizes{};
  std::string m_strIncoming;  // received, not yet a whole record
  std::string m_strPlain;     // decrypted, not yet read, from m_nPlainStart on
  size_t m_nPlainStart = 0;
  std::string m_strToken;            // the handshake's output, to be sent
  std::string m_strFlight;           // the server's first bytes, read again when the handshake fails
  bool m_bAskedCertificate = false;  // SChannel said the server asked for a client certificate
  std::string m_strBroken;           // why the session broke; empty while it works
};
