// The smallest SSPI client that shows a fault of Wine 8.0's SChannel,
// outside this project: with a few RSA keys in a hundred that OpenSSL
// makes, a client certificate cannot sign (GnuTLS underneath says "Public
// key signing has failed", and the handshake ends with 0x80090304), or the
// credentials cannot be had (seen once: "The scanning of a large integer
// has failed"); with the other keys the same program succeeds, 32- and
// 64-bit alike.
// tls_wine_test.sh makes another key when it meets this. Not built by the
// project; by hand:
//   x86_64-w64-mingw32-gcc -o repro.exe schannel_key_repro.c -lsecur32 -lcrypt32 -lws2_32
//   openssl pkcs12 -export -passout pass: -in client.pem -inkey client.key -out client.pfx
//   openssl s_server -accept 127.0.0.1:4433 -rev -Verify 1 -CAfile ca.pem -cert server.pem -key server.key &
//   wine repro.exe client.pfx 4433   # repeat with new client keys until one fails
// It imports the PKCS#12 file (no password), takes its certificate as
// SChannel client credentials, and makes one TLS 1.2 handshake with
// 127.0.0.1:PORT, printing each step's status.
#define SECURITY_WIN32
#include <winsock2.h>
// The order of these headers matters: each needs the ones before it.
#include <windows.h>
//
#include <wincrypt.h>
//
#include <security.h>
//
#include <schannel.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  static char data[65536], in[65536];
  FILE* f = fopen(argv[1], "rb");
  CRYPT_DATA_BLOB blob = {(DWORD)fread(data, 1, sizeof data, f), (BYTE*)data};
  HCERTSTORE store = PFXImportCertStore(&blob, L"", CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
  PCCERT_CONTEXT cert = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_ANY, NULL, NULL);
  printf("import: store %p certificate %p\n", store, (void*)cert);
  SCHANNEL_CRED cred = {0};
  cred.dwVersion = SCHANNEL_CRED_VERSION;
  cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  cred.cCreds = 1;
  cred.paCred = &cert;
  CredHandle hCred;
  SECURITY_STATUS s = AcquireCredentialsHandleW(NULL, (wchar_t*)UNISP_NAME_W, SECPKG_CRED_OUTBOUND, NULL, &cred, NULL,
                                                NULL, &hCred, NULL);
  printf("AcquireCredentialsHandleW: 0x%08lx\n", (unsigned long)s);
  if (s != SEC_E_OK || argc < 3) return 1;
  WSADATA w;
  WSAStartup(MAKEWORD(2, 2), &w);
  SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a = {0};
  a.sin_family = AF_INET;
  a.sin_port = htons((u_short)atoi(argv[2]));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(sock, (struct sockaddr*)&a, sizeof a) != 0) return 2;
  CtxtHandle ctx;
  int first = 1, have = 0;
  for (;;) {
    SecBuffer ib[2] = {{(unsigned long)have, SECBUFFER_TOKEN, in}, {0, SECBUFFER_EMPTY, NULL}};
    SecBuffer ob[1] = {{0, SECBUFFER_TOKEN, NULL}};
    SecBufferDesc id = {SECBUFFER_VERSION, 2, ib}, od = {SECBUFFER_VERSION, 1, ob};
    unsigned long attr;
    s = InitializeSecurityContextW(&hCred, first ? NULL : &ctx, L"localhost",
                                   ISC_REQ_STREAM | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONFIDENTIALITY, 0, 0,
                                   first ? NULL : &id, 0, &ctx, &od, &attr, NULL);
    first = 0;
    if (ob[0].pvBuffer && ob[0].cbBuffer) send(sock, ob[0].pvBuffer, (int)ob[0].cbBuffer, 0);
    if (s == SEC_E_INCOMPLETE_MESSAGE || (s == SEC_I_CONTINUE_NEEDED && ib[1].BufferType != SECBUFFER_EXTRA)) {
      if (s == SEC_I_CONTINUE_NEEDED) have = 0;
      int n = recv(sock, in + have, (int)(sizeof in - have), 0);
      if (n <= 0) {
        printf("recv: %d\n", n);
        return 3;
      }
      have += n;
      continue;
    }
    if (s == SEC_I_CONTINUE_NEEDED) {
      memmove(in, in + have - ib[1].cbBuffer, ib[1].cbBuffer);
      have = (int)ib[1].cbBuffer;
      continue;
    }
    printf("InitializeSecurityContextW: 0x%08lx\n", (unsigned long)s);
    return s == SEC_E_OK ? 0 : 4;
  }
}
