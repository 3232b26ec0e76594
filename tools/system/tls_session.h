// The tool's seam to the system's TLS, for `vardlix forward` to relps:// and
// tls:// collectors: a client session over one connected stream socket.
// tls_session_openssl.cpp implements it with OpenSSL (Linux),
// tls_session_win32.cpp with SChannel (Windows, whose certificate store it
// trusts); no other file of the tool includes a TLS header.
//
// A session is a client only, TLS 1.2 or 1.3, and verifies the server by
// default: its certificate chain against the CA file (or the system's store
// where none is given) and its name against the peer name (DNS names of the
// certificate, a wildcard only as the whole left-most label). Nothing is
// ever sent in clear: a session that failed is closed, never downgraded.
//
// Like CNetSocket, a session never blocks once open, errors come back as
// results with the reason in one line, and nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "system/network.h"

struct CTlsOptions {
  std::string m_strCaFile;    // PEM file of the CAs to trust; empty: the system's store
  std::string m_strPeerName;  // the name the server's certificate must carry; empty: the host
  std::string m_strCertFile;  // client certificate, PEM; on Windows also a PKCS#12 (.pfx, .p12) holding the key
  std::string m_strKeyFile;   // the client certificate's key, PEM; empty with a PKCS#12 file
  bool m_bVerify = true;      // false only when the user asked by the loudly named option
};

class CTlsSession {
 public:
  CTlsSession();
  ~CTlsSession();
  CTlsSession(CTlsSession&& other) noexcept;
  CTlsSession& operator=(CTlsSession&& other) noexcept;
  CTlsSession(const CTlsSession&) = delete;
  CTlsSession& operator=(const CTlsSession&) = delete;

  // Takes over the connected stream socket, makes the handshake with the
  // server strHost, waiting at most nTimeoutMilliseconds, and checks the
  // server's certificate as the options say. False, with the socket closed
  // and the reason in strError (an unknown CA, a name that does not match,
  // an expired certificate, a protocol the peer does not speak, a
  // certificate the server demanded), when the session could not be had.
  bool Open(CNetSocket&& socket, const std::string& strHost, const CTlsOptions& options, int nTimeoutMilliseconds,
            std::string& strError);
  bool IsOpen() const noexcept;

  // Takes as many of the nCount bytes as the session can encrypt and hand
  // to the system now; returns that number (0 when it can take none now),
  // or -1 when the session is broken (strError says how). Bytes once taken
  // are sent in order without further calls being needed beyond later
  // WriteSome, ReadSome or HasBroken calls. After a 0, the next call must
  // offer at least the same bytes again, first.
  long WriteSome(const char* pBytes, size_t nCount, std::string& strError);

  // Reads up to nCount bytes that have arrived and been decrypted; returns
  // their number (0 when none is there now), or -1 when the peer closed or
  // reset the session or it failed (strError says which). Reads at most a
  // bounded amount from the socket in one call, whatever the peer sends.
  long ReadSome(char* pBytes, size_t nCount, std::string& strError);

  // Whether the peer has closed or reset the session, or it failed; looks
  // without waiting. Application bytes the peer sends are thrown away, at
  // most a bounded amount per call.
  bool HasBroken(std::string& strError);

  // Bytes written that the peer's system has not acknowledged yet, as the
  // socket counts them (encrypted bytes). False where the system does not
  // tell.
  bool CountUnacknowledged(uint64_t& nBytes) const;

  // Waits up to nMilliseconds until the session can take more bytes, the
  // connection breaks, or the process is interrupted.
  void WaitWritable(int nMilliseconds) const;

  // The protocol and cipher agreed, as "TLS 1.3, TLS_AES_256_GCM_SHA384";
  // empty when not open.
  std::string Describe() const;

  // Says goodbye to the peer (close_notify) when that can be done without
  // waiting, then closes the socket; closing a closed session does nothing.
  void Close() noexcept;

 private:
  class CState;  // the system's TLS objects
  std::unique_ptr<CState> m_pState;
};
