// The client certificate of a SChannel session (tls_certificate_win32.h):
// a PKCS#12 file as the system imports it, or a PEM certificate and its PEM
// RSA key, which are made into PKCS#12 in memory and imported the same way,
// so that both keep the key out of the user's key containers where the
// system can.
#include <cstring>
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
  if (!hStore) hStore = PFXImportCertStore(&blob, nullptr /* no password at all */, CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
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


// The RSA key of a PEM file (PKCS#8 or PKCS#1) as CryptoAPI imports it.
bool DecodeRsaKey(const std::string& strText, std::string& strBlob, std::string& strError) {
  std::string strRsa;
  std::vector<std::string> aKeys = DecodePemBlocks(strText, "PRIVATE KEY");
  if (!aKeys.empty()) {
    CRYPT_PRIVATE_KEY_INFO* pInfo = nullptr;
    DWORD nSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_PRIVATE_KEY_INFO,
                             reinterpret_cast<const BYTE*>(aKeys[0].data()), static_cast<DWORD>(aKeys[0].size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr /* para */, &pInfo, &nSize))
      return false;
    if (std::strcmp(pInfo->Algorithm.pszObjId, szOID_RSA_RSA) == 0)
      strRsa.assign(reinterpret_cast<const char*>(pInfo->PrivateKey.pbData), pInfo->PrivateKey.cbData);
    LocalFree(pInfo);
    if (strRsa.empty()) strError = "only an RSA key can go with a PEM certificate here (or give a .pfx)";
  } else if (!(aKeys = DecodePemBlocks(strText, "RSA PRIVATE KEY")).empty()) {
    strRsa = aKeys[0];
  }
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

// A key container of this process for the moment of the conversion,
// deleted with the object.
class CKeyContainer {
 public:
  CKeyContainer() {
    wsprintfW(m_szName, L"vardlix-%lu-%lu", GetCurrentProcessId(), static_cast<unsigned long>(GetTickCount()));
    m_bMade = CryptAcquireContextW(&m_hProvider, m_szName, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_NEWKEYSET);
  }
  ~CKeyContainer() {
    if (!m_bMade) return;
    CryptReleaseContext(m_hProvider, 0 /* flags */);
    HCRYPTPROV hDeleted = 0;
    CryptAcquireContextW(&hDeleted, m_szName, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_DELETEKEYSET);
  }
  CKeyContainer(const CKeyContainer&) = delete;
  CKeyContainer& operator=(const CKeyContainer&) = delete;

  // Imports the key and names it as the certificate's.
  bool TakeKey(const std::string& strBlob, PCCERT_CONTEXT pCertificate) {
    HCRYPTKEY hKey = 0;
    if (!m_bMade || !CryptImportKey(m_hProvider, reinterpret_cast<const BYTE*>(strBlob.data()),
                                    static_cast<DWORD>(strBlob.size()), 0 /* not wrapped */, CRYPT_EXPORTABLE, &hKey))
      return false;
    CryptDestroyKey(hKey);
    CRYPT_KEY_PROV_INFO info{m_szName, const_cast<wchar_t*>(MS_ENH_RSA_AES_PROV_W), PROV_RSA_AES, 0, 0, nullptr,
                             AT_KEYEXCHANGE};
    return CertSetCertificateContextProperty(pCertificate, CERT_KEY_PROV_INFO_PROP_ID, 0 /* flags */, &info);
  }

 private:
  wchar_t m_szName[64] = {};
  HCRYPTPROV m_hProvider = 0;
  BOOL m_bMade = FALSE;
};

// The PEM certificate with its PEM key, as the bytes of a PKCS#12 file
// without a password. False, with strError set where the files say why.
bool ConvertPemPair(const std::string& strCertText, const std::string& strKeyText, std::string& strPkcs12,
                    std::string& strError) {
  const std::vector<std::string> aCertificates = DecodePemBlocks(strCertText, "CERTIFICATE");
  std::string strBlob;
  if (aCertificates.empty()) strError = "the certificate file holds no PEM certificate";
  if (aCertificates.empty() || !DecodeRsaKey(strKeyText, strBlob, strError)) return false;
  CStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0 /* encoding */, 0 /* provider */, 0 /* flags */, nullptr));
  PCCERT_CONTEXT pCertificate = nullptr;
  if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING,
                                        reinterpret_cast<const BYTE*>(aCertificates[0].data()),
                                        static_cast<DWORD>(aCertificates[0].size()), CERT_STORE_ADD_NEW, &pCertificate))
    return false;
  CKeyContainer container;
  const bool bKeyed = container.TakeKey(strBlob, pCertificate);
  CertFreeCertificateContext(pCertificate);
  CRYPT_DATA_BLOB pkcs12{};
  if (!bKeyed || !PFXExportCertStoreEx(store.get(), &pkcs12, L"", nullptr, EXPORT_PRIVATE_KEYS)) return false;
  strPkcs12.assign(pkcs12.cbData, '\0');
  pkcs12.pbData = reinterpret_cast<BYTE*>(&strPkcs12[0]);
  return PFXExportCertStoreEx(store.get(), &pkcs12, L"", nullptr, EXPORT_PRIVATE_KEYS);
}

}  // namespace

PCCERT_CONTEXT LoadClientCertificate(const std::string& strCertFile, const std::string& strKeyFile,
                                     std::string& strError) {
  std::string strBytes;
  if (!ReadWholeFile(strCertFile, strBytes, strError)) return nullptr;
  if (strKeyFile.empty()) return ImportPkcs12(strCertFile, strBytes, strError);
  std::string strKeyText, strPkcs12;
  if (!ReadWholeFile(strKeyFile, strKeyText, strError)) return nullptr;
  strError.clear();
  if (!ConvertPemPair(strBytes, strKeyText, strPkcs12, strError)) {
    if (strError.empty())
      strError = "cannot take " + strCertFile + " with the RSA key " + strKeyFile +
               " as a client certificate (" + HexCode(static_cast<long>(GetLastError())) + ")";
    return nullptr;
  }
  return ImportPkcs12(strCertFile, strPkcs12, strError);
}
