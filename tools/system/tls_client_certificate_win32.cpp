// The client certificate of a SChannel session (tls_certificate_win32.h):
// a PKCS#12 file as the system imports it, its key kept in memory where the
// system can; or a PEM certificate and its PEM RSA key, whose key goes into
// a key container for the session's time.
#include <atomic>
#include <memory>

#include "system/tls_certificate_win32.h"

namespace {

struct CStoreCloser {
  void operator()(HCERTSTORE hStore) const { CertCloseStore(hStore, 0 /* dwFlags */); }
};
using CStore = std::unique_ptr<void, CStoreCloser>;

// Whether SChannel can reach the certificate's private key.
bool HasPrivateKey(PCCERT_CONTEXT pCertificate) {
  DWORD nSize = 0;
  for (DWORD nProperty : {CERT_KEY_PROV_INFO_PROP_ID, CERT_KEY_CONTEXT_PROP_ID, CERT_NCRYPT_KEY_HANDLE_PROP_ID})
    if (CertGetCertificateContextProperty(pCertificate, nProperty, nullptr, &nSize)) return true;
  return false;
}

// The PKCS#12 file's certificate that has its key, without a password.
// The key is kept in memory only where the system can (no key container is
// left behind at each connection); elsewhere in a container of the user.
PCCERT_CONTEXT ImportPkcs12(const std::string& strPath, const std::string& strBytes, std::string& strError) {
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(strBytes.size()),
                       reinterpret_cast<BYTE*>(const_cast<char*>(strBytes.data()))};
  if (!PFXIsPFXBlob(&blob)) {
    strError = strPath + " is no PKCS#12 file (give a PEM certificate with --key, or a .pfx)";
    return nullptr;
  }
  HCERTSTORE hStore = PFXImportCertStore(&blob, L"", PKCS12_NO_PERSIST_KEY | CRYPT_EXPORTABLE);
  if (!hStore) hStore = PFXImportCertStore(&blob, L"", CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
  if (!hStore)
    hStore = PFXImportCertStore(&blob, nullptr /* no password at all */, CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
  if (!hStore) {
    strError = "cannot read " + strPath + " as PKCS#12 without a password (" +
               HexCode(static_cast<long>(GetLastError())) + ")";
    return nullptr;
  }
  CStore store(hStore);
  for (PCCERT_CONTEXT pFound = CertEnumCertificatesInStore(hStore, nullptr); pFound != nullptr;
       pFound = CertEnumCertificatesInStore(hStore, pFound)) {
    if (HasPrivateKey(pFound)) return pFound;  // the enumeration's reference is the caller's
  }
  strError = strPath + " holds no certificate with its private key";
  return nullptr;
}

// Reads the header of the DER element at nPos: its tag, and the length of
// its content, which follows at the new nPos.
bool ReadDerHeader(const std::string& strDer, size_t& nPos, unsigned char& nTag, size_t& nLength) {
  if (nPos + 2 > strDer.size()) return false;
  nTag = static_cast<unsigned char>(strDer[nPos++]);
  nLength = static_cast<unsigned char>(strDer[nPos++]);
  if (nLength & 0x80) {
    size_t nBytes = nLength & 0x7f;
    if (nBytes == 0 || nBytes > 4 || nPos + nBytes > strDer.size()) return false;
    for (nLength = 0; nBytes > 0; --nBytes) nLength = nLength << 8 | static_cast<unsigned char>(strDer[nPos++]);
  }
  return nLength <= strDer.size() - nPos;
}

// The PKCS#1 key inside a PKCS#8 one (a sequence of version, algorithm
// and key), read here since not every system's CryptoAPI decodes PKCS#8;
// empty when it is no RSA key.
std::string UnwrapPkcs8(const std::string& strDer) {
  static const char aRsaOid[] = "\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01";  // rsaEncryption
  size_t nPos = 0, nLength = 0;
  unsigned char nTag = 0;
  if (!ReadDerHeader(strDer, nPos, nTag, nLength) || nTag != 0x30) return std::string();
  if (!ReadDerHeader(strDer, nPos, nTag, nLength) || nTag != 0x02) return std::string();
  nPos += nLength;
  if (!ReadDerHeader(strDer, nPos, nTag, nLength) || nTag != 0x30 ||
      strDer.compare(nPos, sizeof aRsaOid - 1, aRsaOid, sizeof aRsaOid - 1) != 0)
    return std::string();
  nPos += nLength;
  if (!ReadDerHeader(strDer, nPos, nTag, nLength) || nTag != 0x04) return std::string();
  return strDer.substr(nPos, nLength);
}

// The RSA key of a PEM file (PKCS#8 or PKCS#1) as CryptoAPI imports it.
bool DecodeRsaKey(const std::string& strText, std::string& strBlob) {
  std::string strRsa;
  std::vector<std::string> aKeys = DecodePemBlocks(strText, "PRIVATE KEY");
  if (!aKeys.empty()) strRsa = UnwrapPkcs8(aKeys[0]);
  else if (!(aKeys = DecodePemBlocks(strText, "RSA PRIVATE KEY")).empty()) strRsa = aKeys[0];
  BYTE* pBlob = nullptr;
  DWORD nSize = 0;
  if (strRsa.empty() ||
      !CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY,
                           reinterpret_cast<const BYTE*>(strRsa.data()), static_cast<DWORD>(strRsa.size()),
                           CRYPT_DECODE_ALLOC_FLAG, nullptr /* para */, &pBlob, &nSize))
    return false;
  strBlob.assign(reinterpret_cast<const char*>(pBlob), nSize);
  LocalFree(pBlob);
  return true;
}

// Puts the key into a key container of its own, named for this process
// and session, which the certificate names as its key's home; SChannel
// finds the key there. The session deletes the container when it ends.
bool ImportKey(const std::string& strBlob, PCCERT_CONTEXT pCertificate, std::wstring& strContainer) {
  static std::atomic<unsigned long> nSessions{0};
  const std::wstring strName = L"vardlix-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++nSessions);
  HCRYPTPROV hProvider = 0;
  if (!CryptAcquireContextW(&hProvider, strName.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_NEWKEYSET))
    return false;
  strContainer = strName;
  HCRYPTKEY hKey = 0;
  const bool bImported = CryptImportKey(hProvider, reinterpret_cast<const BYTE*>(strBlob.data()),
                                        static_cast<DWORD>(strBlob.size()), 0 /* not wrapped */, 0 /* flags */, &hKey);
  if (bImported) CryptDestroyKey(hKey);
  CryptReleaseContext(hProvider, 0 /* flags */);
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = const_cast<wchar_t*>(strName.c_str());
  info.pwszProvName = const_cast<wchar_t*>(MS_ENH_RSA_AES_PROV_W);
  info.dwProvType = PROV_RSA_AES;
  info.dwKeySpec = AT_KEYEXCHANGE;
  return bImported && CertSetCertificateContextProperty(pCertificate, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
}

// The PEM certificate with its PEM RSA key.
PCCERT_CONTEXT LoadPemPair(const std::string& strCertFile, const std::string& strCertText,
                           const std::string& strKeyFile, std::wstring& strContainer, std::string& strError) {
  std::string strKeyText, strBlob;
  if (!ReadWholeFile(strKeyFile, strKeyText, strError)) return nullptr;
  const std::vector<std::string> aCertificates = DecodePemBlocks(strCertText, "CERTIFICATE");
  if (aCertificates.empty()) {
    strError = strCertFile + " holds no PEM certificate";
    return nullptr;
  }
  if (!DecodeRsaKey(strKeyText, strBlob)) {
    strError = strKeyFile + " holds no PEM RSA key without a password (or give a .pfx)";
    return nullptr;
  }
  PCCERT_CONTEXT pCertificate =
      CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(aCertificates[0].data()),
                                   static_cast<DWORD>(aCertificates[0].size()));
  if (pCertificate && ImportKey(strBlob, pCertificate, strContainer)) return pCertificate;
  strError = "cannot take " + strCertFile + " with the key " + strKeyFile + " as a client certificate (" +
             HexCode(static_cast<long>(GetLastError())) + ")";
  if (pCertificate) CertFreeCertificateContext(pCertificate);
  DeleteKeyContainer(strContainer);
  return nullptr;
}

}  // namespace

PCCERT_CONTEXT LoadClientCertificate(const std::string& strCertFile, const std::string& strKeyFile,
                                     std::wstring& strKeyContainer, std::string& strError) {
  std::string strBytes;
  if (!ReadWholeFile(strCertFile, strBytes, strError)) return nullptr;
  if (strKeyFile.empty()) return ImportPkcs12(strCertFile, strBytes, strError);
  return LoadPemPair(strCertFile, strBytes, strKeyFile, strKeyContainer, strError);
}

void DeleteKeyContainer(std::wstring& strKeyContainer) {
  if (strKeyContainer.empty()) return;
  HCRYPTPROV hDeleted = 0;
  CryptAcquireContextW(&hDeleted, strKeyContainer.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_DELETEKEYSET);
  strKeyContainer.clear();
}
