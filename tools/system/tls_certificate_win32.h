// The certificates of a SChannel session (tls_session_win32.cpp): the
// server's, checked after the handshake, since SChannel is asked to leave
// that to the caller; and the client's own, loaded from its files. Windows
// only; nothing here raises.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which must come first.
#include <wincrypt.h>

#include <string>
#include <vector>

// Whether the server's certificate (with the intermediates it sent, in its
// store) chains up to a CA of the PEM file strCaFile (the machine's store
// when empty), is valid now and for a server, and carries strPeerName as a
// DNS name. False with the reason in one line in strError.
bool CheckServerCertificate(PCCERT_CONTEXT pCertificate, const std::string& strPeerName, const std::string& strCaFile,
                            std::string& strError);

// Whether strHost matches the certificate's DNS name strPattern: equal but
// for the case of ASCII letters, or a pattern whose whole left-most label is
// "*" standing for exactly one non-empty label of strHost.
bool MatchesDnsName(const std::string& strPattern, const std::string& strHost);

// The client certificate with its private key: a PKCS#12 file without a
// password (any file given without a key file), or a PEM certificate with
// its PEM RSA key, which is put in a key container of the system named in
// strKeyContainer. Null with the reason in strError; the caller frees what
// it gets with CertFreeCertificateContext and, when the session is over,
// the container with DeleteKeyContainer.
PCCERT_CONTEXT LoadClientCertificate(const std::string& strCertFile, const std::string& strKeyFile,
                                     std::wstring& strKeyContainer, std::string& strError);
// Deletes the key container (nothing when the name is empty) and forgets
// its name.
void DeleteKeyContainer(std::wstring& strKeyContainer);

// A system error code as "0x80090325".
std::string HexCode(long nCode);

// The whole file; false with the reason in strError when it cannot be read.
bool ReadWholeFile(const std::string& strPath, std::string& strBytes, std::string& strError);

// The DER bytes of each PEM block of the label ("CERTIFICATE") in the text.
std::vector<std::string> DecodePemBlocks(const std::string& strText, const std::string& strLabel);
