// A real rsyslogd for the tests of `vardlix forward`, started by the test on
// 127.0.0.1 with a configuration of its own: imrelp, imtcp and imudp on free
// ports, TLS inputs beside them (below), and an omfile action whose template writes each field of every
// message it takes as one JSON object per line, so that a test compares
// field by field.
//
// The inputs feed a ruleset whose queue is direct: a message is written to
// the file before the input takes the next, so that a message imrelp has
// answered is in the file and survives SIGKILL (the setting the README asks
// of a collector that must keep what it answered).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tool_process.h"

// The TLS inputs, each on a port of its own, with the certificates of
// TestCertificates() (test_collector.h): RELP over TLS (imrelp, OpenSSL)
// and syslog over TLS (imtcp, its OpenSSL driver), each once taking any
// client and once demanding the client certificate of kTestClientName; and
// RELP over TLS with a server certificate that has expired.
enum TlsInput : int {
  tlsRelp,
  tlsRelpDemandingClient,
  tlsRelpExpired,
  tlsSyslog,
  tlsSyslogDemandingClient,
  tlsInputCount,
};

// One message as rsyslog parsed it.
struct CSyslogMessage {
  int m_nPriority = -1;
  std::string m_strTime;  // TIMESTAMP, RFC 3339 with its offset
  std::string m_strHost;
  std::string m_strApp;
  std::string m_strProcId;
  std::string m_strMsgId;
  std::string m_strStructuredData;
  std::string m_strMessage;                      // MSG
  std::string m_strRaw;                          // the message as received
  std::string m_strSdId;                         // parsed from m_strStructuredData
  std::map<std::string, std::string> m_aParams;  // its parameters, unescaped
};

class CRsyslogCollector {
 public:
  // Starts rsyslogd and waits until its TCP port is open.
  CRsyslogCollector();
  ~CRsyslogCollector();
  CRsyslogCollector(const CRsyslogCollector&) = delete;
  CRsyslogCollector& operator=(const CRsyslogCollector&) = delete;

  int TcpPort() const { return m_nTcpPort; }
  int UdpPort() const { return m_nUdpPort; }
  int RelpPort() const { return m_nRelpPort; }
  std::string TcpTarget() const { return "tcp://127.0.0.1:" + std::to_string(m_nTcpPort); }
  std::string UdpTarget() const { return "udp://127.0.0.1:" + std::to_string(m_nUdpPort); }
  std::string RelpTarget() const { return "relp://127.0.0.1:" + std::to_string(m_nRelpPort); }
  // "tcp", "udp", "relp", "relps" or "tls" (tlsRelp, tlsSyslog).
  std::string Target(const std::string& strScheme) const;
  // "relps://127.0.0.1:PORT" or "tls://..." of one TLS input.
  std::string TlsTarget(TlsInput nInput) const;

  // Ends rsyslogd the way a service manager does (SIGTERM) and waits for it
  // to exit; what it has taken is then in its output file.
  void Stop();
  // Ends it at once (SIGKILL), as a crash does.
  void Kill();
  // Stops it in its tracks (SIGSTOP), and lets it go on (SIGCONT): while it
  // stands still, its system still takes and acknowledges TCP bytes.
  void Pause();
  void Resume();
  // Starts it again on the same ports.
  void Start();
  // The queue of the ruleset that the inputs feed, from the next Start on:
  // its rsyslog parameters, such as queue.type="Disk" and what goes with it
  // (the queue's files go to the collector's work folder).
  void UseQueue(const std::string& strQueue) { m_strQueue = strQueue; }

  // Sends datagrams of its own until one reaches the output file, which
  // shows that the UDP input is open. False when none did by the deadline.
  bool WaitForUdp();

  // Every message written so far, and the number of them, in file order.
  std::vector<CSyslogMessage> Messages() const;
  size_t CountMessages() const;
  // How many different records the messages written so far carry (by the
  // number in their operation "op-N"), counted without parsing them.
  size_t CountDistinctRecords() const;
  // Waits until at least nCount messages are written or the deadline
  // passes; returns how many there are.
  size_t WaitForMessages(size_t nCount, std::chrono::seconds deadline) const;

 private:
  void Launch(bool bAnyTcpPort);

  CScratchFolder m_folder;
  pid_t m_nPid = -1;
  int m_nTcpPort = 0;
  int m_nUdpPort = 0;
  int m_nRelpPort = 0;
  std::string m_strQueue = "queue.type=\"Direct\"";
  int m_aTlsPorts[tlsInputCount] = {};
};

// Starts rsyslogd -n with the configuration strConf, its standard streams on
// strLog; it is killed when the test process ends. Returns its process id.
pid_t StartRsyslogd(const std::string& strConf, const std::string& strPidFile, const std::string& strLog);
// A port of 127.0.0.1 that nothing uses at this moment (SOCK_STREAM or
// SOCK_DGRAM), and whether a TCP port takes connections.
int FreePort(int nType);
bool AcceptsConnection(int nPort);

// Splits "[ID name=\"value\" ...]" into the SD-ID and its parameters, undoing
// the escapes of '"', '\' and ']'. False for anything else.
bool ParseStructuredData(const std::string& strData, std::string& strId, std::map<std::string, std::string>& aParams);
