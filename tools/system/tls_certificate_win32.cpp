// The certificates of a SChannel session (tls_certificate_win32.h).
//
// The server's certificate is checked here rather than by the handshake:
// SChannel is asked for manual validation so that a CA file can be the only
// trusted root (a chain engine with an exclusive root store), and the
// chain's own trust status is read, since the SSL policy alone lets a
// partial chain (a CA that is not in the file) through on some systems.
// The name is matched here too, DNS names only, so that every system gives
// the same answer for the same certificate.
#include "system/tls_certificate_win32.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/text_encoding.h"

namespace {

struct CStoreCloser {
  void operator()(HCERTSTORE hStore) const { CertCloseStore(hStore, 0 /* dwFlags */); }
};
using CStore = std::unique_ptr<void, CStoreCloser>;

struct CChainFreer {
  void operator()(PCCERT_CHAIN_CONTEXT pChain) const { CertFreeCertificateChain(pChain); }
};
using CChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, CChainFreer>;

struct CEngineFreer {
  void operator()(HCERTCHAINENGINE hEngine) const { CertFreeCertificateChainEngine(hEngine); }
};
using CEngine = std::unique_ptr<void, CEngineFreer>;

std::u16string Wide(const std::string& strText) {
  std::u16string strWide;
  FromUtf8(strText, strWide);
  return strWide;
}

const wchar_t* WidePointer(const std::u16string& strText) { return reinterpret_cast<const wchar_t*>(strText.c_str()); }

std::string Narrow(const wchar_t* pszText) {
  return pszText ? ToUtf8(reinterpret_cast<const char16_t*>(pszText)) : std::string();
}

// A memory store of the certificates of the PEM file.
CStore LoadCaFile(const std::string& strCaFile, std::string& strError) {
  std::string strText;
  if (!ReadWholeFile(strCaFile, strText, strError)) return nullptr;
  CStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0 /* encoding */, 0 /* provider */, 0 /* flags */, nullptr));
  size_t nAdded = 0;
  for (const std::string& strDer : DecodePemBlocks(strText, "CERTIFICATE"))
    if (CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(strDer.data()),
                                         static_cast<DWORD>(strDer.size()), CERT_STORE_ADD_USE_EXISTING,
                                         nullptr /* added context */))
      ++nAdded;
  if (nAdded == 0) {
    strError = strCaFile + " holds no PEM certificate";
    return nullptr;
  }
  return store;
}

// A chain engine that trusts the CA file's certificates and nothing else.
// The size stops before dwExclusiveFlags: the structure as Windows 7 knew
// it, which every later system accepts and some emulations require.
CEngine MakeExclusiveEngine(HCERTSTORE hRoots, std::string& strError) {
  CERT_CHAIN_ENGINE_CONFIG config{};
  config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
  config.hExclusiveRoot = hRoots;
  HCERTCHAINENGINE hEngine = nullptr;
  if (!CertCreateCertificateChainEngine(&config, &hEngine)) {
    strError = "cannot make a chain engine for the CA file (" + HexCode(static_cast<long>(GetLastError())) + ")";
    return nullptr;
  }
  return CEngine(hEngine);
}

// The first fault of the chain's trust status in words; empty when none.
std::string DescribeTrustError(DWORD nStatus) {
  if (nStatus & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
    return "the server's certificate is not signed by a trusted CA (unknown CA)";
  if (nStatus & CERT_TRUST_IS_NOT_TIME_VALID) return "the server's certificate has expired or is not yet valid";
  if (nStatus & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "the server's certificate chain has a bad signature";
  if (nStatus & CERT_TRUST_IS_REVOKED) return "the server's certificate has been revoked";
  if (nStatus & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "the server's certificate is not for a server";
  // Revocation that cannot be checked (a collector on a closed network)
  // does not fail the session: no revocation check is asked for.
  const DWORD nIgnored = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
  if (nStatus & ~nIgnored) return "the server's certificate chain is not trusted (status " + HexCode(nStatus) + ")";
  return std::string();
}

// The SSL policy's answer on the chain, the name left to MatchesCertificate.
std::string CheckSslPolicy(PCCERT_CHAIN_CONTEXT pChain) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA extra{};
  extra.cbSize = sizeof extra;
  extra.dwAuthType = AUTHTYPE_SERVER;
  extra.fdwChecks = 0x00001000;  // SECURITY_FLAG_IGNORE_CERT_CN_INVALID, which MinGW's headers lack
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &extra;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, pChain, &policy, &status))
    return "the server's certificate could not be checked (" + HexCode(static_cast<long>(GetLastError())) + ")";
  switch (static_cast<long>(status.dwError)) {
    case 0:
      return std::string();
    case static_cast<long>(CERT_E_EXPIRED):
      return "the server's certificate has expired or is not yet valid";
    case static_cast<long>(CERT_E_UNTRUSTEDROOT):
    case static_cast<long>(CERT_E_CHAINING):
      return "the server's certificate is not signed by a trusted CA (unknown CA)";
    case static_cast<long>(CERT_E_WRONG_USAGE):
      return "the server's certificate is not for a server";
    default:
      return "the server's certificate is refused (" + HexCode(static_cast<long>(status.dwError)) + ")";
  }
}

// The certificate's DNS names: those of its subject alternative names, or,
// where it has none, its subject's common name.
std::vector<std::string> ListDnsNames(PCCERT_CONTEXT pCertificate) {
  std::vector<std::string> aNames;
  const CERT_INFO& info = *pCertificate->pCertInfo;
  const PCERT_EXTENSION pExtension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
  CERT_ALT_NAME_INFO* pAltNames = nullptr;
  DWORD nSize = 0;
  if (pExtension &&
      CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, pExtension->Value.pbData, pExtension->Value.cbData,
                          CRYPT_DECODE_ALLOC_FLAG, nullptr /* para */, &pAltNames, &nSize)) {
    for (DWORD i = 0; i < pAltNames->cAltEntry; ++i)
      if (pAltNames->rgAltEntry[i].dwAltNameChoice == CERT_ALT_NAME_DNS_NAME)
        aNames.push_back(Narrow(pAltNames->rgAltEntry[i].pwszDNSName));
    LocalFree(pAltNames);
  }
  if (!aNames.empty()) return aNames;
  wchar_t szCommonName[256] = {};
  if (CertGetNameStringW(pCertificate, CERT_NAME_ATTR_TYPE, 0 /* flags */, const_cast<char*>(szOID_COMMON_NAME),
                         szCommonName, sizeof szCommonName / sizeof szCommonName[0]) > 1)
    aNames.push_back(Narrow(szCommonName));
  return aNames;
}

bool EqualsIgnoringCase(const std::string& strLeft, const std::string& strRight) {
  if (strLeft.size() != strRight.size()) return false;
  for (size_t i = 0; i < strLeft.size(); ++i) {
    const char cLeft = strLeft[i] >= 'A' && strLeft[i] <= 'Z' ? static_cast<char>(strLeft[i] + 32) : strLeft[i];
    const char cRight = strRight[i] >= 'A' && strRight[i] <= 'Z' ? static_cast<char>(strRight[i] + 32) : strRight[i];
    if (cLeft != cRight) return false;
  }
  return true;
}

// An IPv4 or IPv6 address, which no DNS name matches.
bool IsAddress(const std::string& strHost) {
  return strHost.find(':') != std::string::npos || strHost.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

bool ReadWholeFile(const std::string& strPath, std::string& strBytes, std::string& strError) {
  const HANDLE hFile =
      CreateFileW(WidePointer(Wide(strPath)), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr /* security */,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr /* template */);
  if (hFile == INVALID_HANDLE_VALUE) {
    strError = "cannot open " + strPath + " (" + HexCode(static_cast<long>(GetLastError())) + ")";
    return false;
  }
  strBytes.clear();
  char aChunk[16384];
  DWORD nRead = 0;
  while (ReadFile(hFile, aChunk, sizeof aChunk, &nRead, nullptr /* overlapped */) && nRead > 0)
    strBytes.append(aChunk, nRead);
  CloseHandle(hFile);
  return true;
}

std::vector<std::string> DecodePemBlocks(const std::string& strText, const std::string& strLabel) {
  std::vector<std::string> aBlocks;
  const std::string strBegin = "-----BEGIN " + strLabel + "-----";
  const std::string strEnd = "-----END " + strLabel + "-----";
  for (size_t nBegin = strText.find(strBegin); nBegin != std::string::npos;
       nBegin = strText.find(strBegin, nBegin + 1)) {
    const size_t nEnd = strText.find(strEnd, nBegin);
    if (nEnd == std::string::npos) break;
    const std::string strBlock = strText.substr(nBegin, nEnd + strEnd.size() - nBegin);
    DWORD nSize = 0;
    if (!CryptStringToBinaryA(strBlock.c_str(), static_cast<DWORD>(strBlock.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &nSize, nullptr /* skipped */, nullptr /* flags */))
      continue;
    std::string strDer(nSize, '\0');
    if (CryptStringToBinaryA(strBlock.c_str(), static_cast<DWORD>(strBlock.size()), CRYPT_STRING_BASE64HEADER,
                             reinterpret_cast<BYTE*>(&strDer[0]), &nSize, nullptr, nullptr))
      aBlocks.push_back(strDer.substr(0, nSize));
  }
  return aBlocks;
}

std::string HexCode(long nCode) {
  char szCode[16];
  std::snprintf(szCode, sizeof szCode, "0x%08lX", static_cast<unsigned long>(nCode));
  return szCode;
}

bool MatchesDnsName(const std::string& strPattern, const std::string& strHost) {
  if (strPattern.empty() || strHost.empty() || IsAddress(strHost)) return false;
  if (strPattern.compare(0, 2, "*.") != 0) {
    return strPattern.find('*') == std::string::npos && EqualsIgnoringCase(strPattern, strHost);
  }
  // The wildcard stands for one whole label, and at least two labels follow
  // it, so that "*.com" matches nothing.
  const std::string strRest = strPattern.substr(1);
  if (strRest.find('*') != std::string::npos || strRest.find('.', 1) == std::string::npos) return false;
  const size_t nDot = strHost.find('.');
  return nDot != std::string::npos && nDot > 0 && EqualsIgnoringCase(strHost.substr(nDot), strRest);
}

bool CheckServerCertificate(PCCERT_CONTEXT pCertificate, const std::string& strPeerName, const std::string& strCaFile,
                            std::string& strError) {
  CStore roots;
  CEngine engine;
  if (!strCaFile.empty()) {
    roots = LoadCaFile(strCaFile, strError);
    if (!roots || !(engine = MakeExclusiveEngine(roots.get(), strError))) return false;
  }
  LPSTR aUsages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = aUsages;
  PCCERT_CHAIN_CONTEXT pChain = nullptr;
  // The certificate's own store holds the intermediates the server sent.
  if (!CertGetCertificateChain(static_cast<HCERTCHAINENGINE>(engine.get()), pCertificate, nullptr /* now */,
                               pCertificate->hCertStore, &para, 0 /* no revocation check */, nullptr, &pChain)) {
    strError = "the server's certificate chain cannot be built (" + HexCode(static_cast<long>(GetLastError())) + ")";
    return false;
  }
  CChain chain(pChain);
  strError = DescribeTrustError(pChain->TrustStatus.dwErrorStatus);
  if (strError.empty()) strError = CheckSslPolicy(pChain);
  if (!strError.empty()) return false;
  for (const std::string& strName : ListDnsNames(pCertificate))
    if (MatchesDnsName(strName, strPeerName)) return true;
  strError = "the server's certificate does not carry the name " + strPeerName + " (name mismatch)";
  return false;
}
