// A collector of the test's own, for the ways a collector misbehaves that a
// real rsyslogd cannot be made to show on cue: one that accepts connections
// and closes them at once, resets each connection after so many bytes,
// never reads, or reads slowly, floods the forwarder or answers what it has
// not had. It speaks RELP (answering each message once it has it) or plain
// TCP syslog with octet counting, either of them in clear or inside TLS
// (OpenSSL, with the certificates below), on a free port of 127.0.0.1,
// served by a thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/ssl.h>

// Certificates made once a test process with the openssl command, in a
// folder of their own: a CA, and signed by it a server certificate for
// localhost and 127.0.0.1, one for the same names that has expired, and a
// client certificate (CN client.vardlix.test); another CA, and a server
// certificate for localhost signed by that one. Each NAME has NAME.pem and
// NAME.key.
struct CTestCertificates {
  std::string m_strFolder;
  std::string Pem(const std::string& strName) const { return m_strFolder + "/" + strName + ".pem"; }
  std::string Key(const std::string& strName) const { return m_strFolder + "/" + strName + ".key"; }
};
const CTestCertificates& TestCertificates();
constexpr char kTestClientName[] = "client.vardlix.test";

enum CollectorBehaviour : int {
  collectorWell,            // reads, keeps and (RELP) answers every message
  collectorAcceptAndClose,  // closes each connection as soon as it is made
  collectorResetAfter,      // resets each connection once it has read so many bytes of it
  collectorNeverRead,       // leaves every connection unread
  collectorReadSlowly,      // reads a few hundred bytes a connection every 20 ms
  collectorFlood,           // behaves well, and sends the forwarder all its socket takes, all the time
                            // (RELP: frames of a command it does not know)
  collectorAnswerBlindly,   // RELP: on the first connection, stops reading with open answered, a second
                            // later answers transactions it never read (more than are sent), then reads
                            // the connection to its end; behaves well after
};

class CTestCollector {
 public:
  // bRelp: RELP; else TCP with octet counting. bTls: inside TLS, with the
  // server certificate of TestCertificates().
  explicit CTestCollector(bool bRelp, bool bTls = false);
  ~CTestCollector();
  CTestCollector(const CTestCollector&) = delete;
  CTestCollector& operator=(const CTestCollector&) = delete;

  std::string Target() const;  // "relp://127.0.0.1:PORT", "relps://...", "tcp://..." or "tls://..."

  void Behave(CollectorBehaviour nBehaviour, size_t nResetBytes = 50 * 1024);
  // Ends every connection at once, as the system of a collector that was
  // killed does (a reset: what it had not read is gone), and behaves well
  // from then on.
  void Kill();
  // Closes every connection the ordinary way (what it had not read is gone
  // all the same), and behaves well from then on.
  void CloseAll();

  // The messages it has kept (RELP: the ones it answered), in order.
  std::vector<std::string> Messages() const;
  size_t CountMessages() const;
  size_t WaitForMessages(size_t nCount, std::chrono::seconds deadline) const;
  // Waits until a collector that never reads holds bytes unread on its
  // connections, that is, until records are on their way and stuck there;
  // false when none came by the deadline.
  bool WaitForUnreadBytes(std::chrono::seconds deadline) const;

 private:
  struct CConnection {
    int m_nSocket = -1;
    std::string m_strInput;
    size_t m_nBytesRead = 0;
    SSL* m_pSsl = nullptr;     // TLS: the session; nullptr in clear
    size_t m_nFloodSent = 0;   // of the flood chunk under way, the bytes sent
    size_t m_nAnswerSent = 0;  // of the answers under way, the bytes sent
    bool m_bBlind = false;     // collectorAnswerBlindly's connection
    bool m_bMute = false;      // reads and keeps, answers nothing more
    std::chrono::steady_clock::time_point m_openedAt;
  };

  void Serve();
  void Accept();
  // Reads what the behaviour allows; false when the connection is over.
  bool ReadFrom(CConnection& connection);
  // Takes the whole frames of the input; false when the connection is over.
  bool TakeFrames(CConnection& connection);
  // recv or SSL_read, send or SSL_write: what was moved, 0 when nothing can
  // be now, -1 when the connection is over.
  long Receive(CConnection& connection, char* pBytes, size_t nCount);
  long SendSome(CConnection& connection, const char* pBytes, size_t nCount);
  void SendAll(CConnection& connection, const std::string& strBytes);
  const std::string& FloodChunk() const;
  void Flood(CConnection& connection);
  bool AnswerBlindly(CConnection& connection);
  void Keep(const std::string& strMessage);
  void End(CConnection& connection, bool bReset);
  void EndAll(bool bReset);
  size_t CountUnreadBytes() const;

  bool m_bRelp;
  SSL_CTX* m_pContext = nullptr;  // TLS: the server's
  bool m_bBlindDone = false;      // the thread's own: collectorAnswerBlindly had its connection
  int m_nListener = -1;
  int m_nPort = 0;
  std::atomic<int> m_nBehaviour{collectorWell};
  std::atomic<size_t> m_nResetBytes{50 * 1024};
  std::atomic<int> m_nEndAll{0};  // 1 close, 2 reset: asked of the thread
  std::atomic<bool> m_bStop{false};
  std::atomic<size_t> m_nUnreadBytes{0};    // on the connections at the last round of collectorNeverRead
  std::vector<CConnection> m_aConnections;  // the thread's own
  mutable std::mutex m_mutex;
  std::vector<std::string> m_aMessages;
  std::thread m_thread;
};
