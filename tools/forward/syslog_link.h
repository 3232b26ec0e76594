// The connection of `vardlix forward` to its collector, reconnected after a
// growing, bounded wait, and the count of messages it is done with:
//
//  - RELP (relp://): each message is a RELP "syslog" command (syslog_relp.h)
//    and is done once the collector has answered it: delivered. Messages
//    left unanswered when the session breaks are handed over again on the
//    next one.
//  - TCP (tcp://), framed by octet counting or by a line feed (RFC 6587): a
//    message is done once the collector's system has acknowledged its last
//    byte, where the system tells (Linux, SIOCOUTQ), or once it has been
//    written and the connection has stayed up for kSettleMilliseconds since
//    (Windows). That is all plain TCP syslog can know: bytes the collector's
//    system acknowledged and the collector never read are lost when it
//    stops, resets or dies. Messages not acknowledged when the connection
//    breaks are handed over again.
//  - UDP (udp://): one datagram per message, done once sent; a datagram that
//    the network or a full receive buffer loses is lost.
//  - relps:// and tls:// are RELP and octet-counted TCP (RFC 5425) inside a
//    TLS session (system/tls_session.h), verified unless the user turned
//    that off. A failed handshake is a failed connection: its reason is told
//    and the link tries again as after a refusal; nothing goes in clear.
//    Over tls:// a message is done once its encrypted bytes are written and
//    the collector's system has acknowledged everything written.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "forward/syslog_relp.h"
#include "system/network.h"
#include "system/tls_session.h"

enum SyslogTransport : int {
  transportTcp,
  transportUdp,
  transportRelp,
};

// How TCP separates messages (RFC 6587).
enum SyslogFraming : int {
  framingOctetCounting,  // "LENGTH SP MESSAGE"
  framingLineFeed,       // "MESSAGE LF"; line breaks inside are written as #015 and #012
};

struct CSyslogTarget {
  SyslogTransport m_nTransport = transportTcp;
  std::string m_strHost;  // without the brackets of an IPv6 address
  int m_nPort = 514;
  bool m_bTls = false;  // relps:// or tls://

  SocketKind Kind() const { return m_nTransport == transportUdp ? socketDatagram : socketStream; }
  std::string Scheme() const;  // "tcp", "udp", "relp", "relps" or "tls"
  std::string Text() const;    // "tcp://HOST:PORT"
};

// "relp://HOST:PORT", "relps://HOST:PORT", "tcp://HOST:PORT",
// "tls://HOST:PORT" or "udp://HOST:PORT"; HOST may be a name, an IPv4
// address or an IPv6 address in brackets; PORT defaults to 514 for TCP and
// UDP and to 6514 for TLS (RFC 5425), and must be given for RELP, which has
// no standard port. False, with a message, for anything else.
bool ParseSyslogTarget(const std::string& strText, CSyslogTarget& target, std::string& strError);

// Waits between attempts to connect: the first after kFirstRetryMilliseconds,
// each one twice the one before, up to kLastRetryMilliseconds. A connection
// that lasted kSteadyMilliseconds, or on which messages were done, starts
// the count again when it breaks, so a collector that accepts and drops at
// once is not hammered, and one that drops a busy connection now and then
// is not left waiting.
constexpr int64_t kFirstRetryMilliseconds = 250;
constexpr int64_t kLastRetryMilliseconds = 30000;
constexpr int64_t kSteadyMilliseconds = 10000;
constexpr int kConnectTimeoutMilliseconds = 5000;
constexpr int64_t kSettleMilliseconds = 1000;
// RELP: messages sent and not yet answered, at most; and how long a session
// may go without an answer while it waits for one before it is given up
// (and its unanswered messages sent again on a new one).
constexpr size_t kRelpWindow = 512;
constexpr int64_t kRelpAnswerTimeoutMilliseconds = 60000;
// What one round reads from the collector at most, whatever it sends, so
// that a collector that floods the link cannot keep the forwarder from its
// timeouts and its signals.
constexpr size_t kMaxReadBytesPerRound = 256 * 1024;

struct CLinkReport {
  size_t m_nDone = 0;     // messages newly done (see above), the oldest first
  bool m_bBroke = false;  // the connection broke: the messages handed over
                          // and not done must be handed over again
};

enum LinkSend : int {
  linkTaken,    // handed over
  linkLater,    // not now: the link is down, opening, or full
  linkTooLong,  // UDP: larger than the system sends as one datagram
};

class CSyslogLink {
 public:
  CSyslogLink(CSyslogTarget target, SyslogFraming nFraming, CTlsOptions tls = CTlsOptions())
      : m_target(std::move(target)), m_nFraming(nFraming), m_tlsOptions(std::move(tls)) {}

  const CSyslogTarget& Target() const { return m_target; }
  bool IsUp() const { return m_socket.IsOpen() || m_tls.IsOpen(); }
  // Up and ready for messages (RELP: the session is open).
  bool IsReady() const { return IsUp() && (m_target.m_nTransport != transportRelp || m_relp.IsOpen()); }

  // When down, connects if the wait since the last attempt is over (RELP:
  // and asks to open a session). True when up. nNow: milliseconds of a
  // steady clock.
  bool Connect(int64_t nNow);

  // Hands one message over. TCP: framed, and written as far as the socket
  // takes it now; the rest waits in the link, which takes no more while over
  // kMaxWaitingBytes wait. RELP: the same, as a syslog command, while fewer
  // than kRelpWindow are unanswered. UDP: one datagram.
  LinkSend Send(const std::string& strMessage, int64_t nNow);

  // A message that is not sent at all: counted as done in its turn, after
  // the messages handed over before it.
  void Skip();

  // Writes what waits, reads the collector's answers, looks whether the
  // connection broke and counts the messages done since the last call.
  CLinkReport Poll(int64_t nNow);

  // Ends the connection the way its protocol asks (RELP: close, and waits up
  // to nMilliseconds for the answer), counting what was done meanwhile.
  CLinkReport Shutdown(int nMilliseconds);

  // Messages handed over (or skipped) and not done yet.
  size_t Pending() const { return m_aPending.size(); }

  // What the link is done with, in words: "delivered", "acknowledged by the
  // collector's system", "sent".
  std::string DoneWords() const;

  // What happened to the connection since the last call, for the user, one
  // line each.
  std::vector<std::string> TakeEvents() { return std::move(m_aEvents); }

 private:
  static constexpr size_t kMaxWaitingBytes = 1 << 20;

  struct CPending {
    uint64_t m_nEnd = 0;      // TCP: byte of the connection just past the message
    int64_t m_nWritten = -1;  // TCP: when its last byte was written; -1 not yet
    bool m_bSkipped = false;  // not sent: done once those before it are
  };

  bool OpenTls(int64_t nNow);
  // The connection's bytes, through TLS or straight to the socket.
  long WriteBytes(const char* pBytes, size_t nCount, std::string& strError);
  long ReadBytes(char* pBytes, size_t nCount, std::string& strError);
  bool HasBroken(std::string& strError);
  bool CountUnacknowledged(uint64_t& nBytes) const;
  void CloseConnection();
  void Queue(const std::string& strBytes);
  bool Flush(int64_t nNow, std::string& strError);
  bool ReadAnswers(std::string& strError);
  size_t CountDone(int64_t nNow, std::string& strError, bool& bBroken);
  size_t CountAnswered(int64_t nNow, std::string& strError, bool& bBroken);
  void Break(int64_t nNow, std::string strReason);  // by value: it may be m_strWriteError, which it clears
  void Failed(int64_t nNow, const std::string& strReason);

  CSyslogTarget m_target;
  SyslogFraming m_nFraming;
  CTlsOptions m_tlsOptions;
  CNetSocket m_socket;      // the connection, when not TLS
  CTlsSession m_tls;        // the connection, when TLS
  bool m_bTlsTold = false;  // the TLS session's terms were told
  CRelpSession m_relp;
  std::string m_strOutput;          // bytes not yet written
  size_t m_nOutputStart = 0;        // of m_strOutput, the first not written
  uint64_t m_nHandedOver = 0;       // bytes of this connection handed over
  uint64_t m_nWritten = 0;          // of those, written to the socket
  std::deque<CPending> m_aPending;  // handed over or skipped, not done, oldest first
  size_t m_nDoneSinceLastPoll = 0;  // UDP datagrams sent, and skips when nothing was pending
  bool m_bBroken = false;           // a break that Poll has not reported yet
  int64_t m_nRetryAt = 0;           // no attempt to connect before this
  int64_t m_nBackoff = kFirstRetryMilliseconds;
  int64_t m_nConnectedAt = 0;
  bool m_bProgress = false;         // messages were done on this connection
  int64_t m_nLastAnswerAt = 0;      // RELP: when the session last moved
  bool m_bTroubleReported = false;  // the current spell of trouble was told
  bool m_bSettleOnly = false;       // TCP: the system does not count acknowledged bytes
  std::string m_strWriteError;      // RELP: a write failed; the answers before it are read first
  std::vector<std::string> m_aEvents;
};
