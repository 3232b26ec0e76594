// The connection of `vardlix forward` to its collector: TCP with octet
// counting (RFC 6587) or UDP with one datagram per message, reconnected
// after a growing, bounded wait, and the count of messages the collector
// has confirmed.
//
// A message is confirmed when it can no longer be lost on the way:
//  - TCP, where the system tells (Linux): once the collector's system has
//    acknowledged its last byte. A collector that stops reads what it has
//    been given before it closes, so an acknowledged message is the
//    collector's; any other message of a connection that breaks is handed
//    over again on the next one.
//  - TCP elsewhere (Windows): once written, and the connection has stayed
//    up for kSettleMilliseconds since.
//  - UDP: once sent; a datagram the network loses is lost.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "network.h"

struct CSyslogTarget {
  SocketKind m_nKind = socketStream;
  std::string m_strHost;  // without the brackets of an IPv6 address
  int m_nPort = 514;

  std::string Scheme() const { return m_nKind == socketStream ? "tcp" : "udp"; }
  std::string Text() const;  // "tcp://HOST:PORT"
};

// "tcp://HOST:PORT" or "udp://HOST:PORT"; HOST may be a name, an IPv4
// address or an IPv6 address in brackets; PORT defaults to 514. False, with
// a message, for anything else.
bool ParseSyslogTarget(const std::string& strText, CSyslogTarget& target, std::string& strError);

// Waits between attempts to connect: the first after kFirstRetryMilliseconds,
// each one twice the one before, up to kLastRetryMilliseconds. A connection
// that lasted kSteadyMilliseconds starts the count again when it breaks, so
// a collector that accepts and drops at once is not hammered.
constexpr int64_t kFirstRetryMilliseconds = 250;
constexpr int64_t kLastRetryMilliseconds = 30000;
constexpr int64_t kSteadyMilliseconds = 10000;
constexpr int kConnectTimeoutMilliseconds = 5000;
constexpr int64_t kSettleMilliseconds = 1000;

struct CLinkReport {
  size_t m_nConfirmed = 0;  // messages newly confirmed, the oldest first
  bool m_bBroke = false;    // the connection broke: the messages handed over
                            // and not confirmed are gone, and the link is down
};

class CSyslogLink {
 public:
  explicit CSyslogLink(CSyslogTarget target) : m_target(std::move(target)) {}

  const CSyslogTarget& Target() const { return m_target; }
  bool IsUp() const { return m_socket.IsOpen(); }

  // When down, connects if the wait since the last attempt is over. True
  // when up. nNow: milliseconds of a steady clock.
  bool Connect(int64_t nNow);

  // Hands one message over. TCP: its length, a space and the message, written
  // as far as the socket takes them now; the rest waits in the link, which
  // takes no more while over kMaxWaitingBytes wait. UDP: one datagram. False
  // when the message was not taken: the link is down, full, or the send
  // failed (the link is then down).
  bool Send(const std::string& strMessage, int64_t nNow);

  // Writes what waits, looks whether the connection broke and counts the
  // messages confirmed since the last call.
  CLinkReport Poll(int64_t nNow);

  // Messages handed over and not confirmed yet, and whether bytes still
  // wait to be written.
  size_t Unconfirmed() const { return m_aInFlight.size(); }
  bool HasWaitingBytes() const { return m_nOutputStart < m_strOutput.size(); }

  // Waits up to nMilliseconds for the socket to take more bytes.
  void WaitWritable(int nMilliseconds) const { m_socket.WaitWritable(nMilliseconds); }

  // What happened to the connection, for the user; empty when nothing new.
  std::string TakeEvent() { return std::move(m_strEvent); }

 private:
  static constexpr size_t kMaxWaitingBytes = 1 << 20;

  struct CInFlight {
    uint64_t m_nEnd = 0;      // byte of the connection just past the message
    int64_t m_nWritten = -1;  // when its last byte was written; -1 not yet
  };

  bool Flush(int64_t nNow, std::string& strError);
  void Break(int64_t nNow, const std::string& strReason);
  void Failed(int64_t nNow, const std::string& strReason);

  CSyslogTarget m_target;
  CNetSocket m_socket;
  std::string m_strOutput;          // framed bytes not yet written
  size_t m_nOutputStart = 0;        // of m_strOutput, the first not written
  uint64_t m_nHandedOver = 0;       // bytes of this connection handed over
  uint64_t m_nWritten = 0;          // of those, written to the socket
  std::deque<CInFlight> m_aInFlight;
  size_t m_nDatagramsSent = 0;      // UDP: sent since the last Poll
  bool m_bBroken = false;           // a break that Poll has not reported yet
  int64_t m_nRetryAt = 0;           // no attempt to connect before this
  int64_t m_nBackoff = kFirstRetryMilliseconds;
  int64_t m_nConnectedAt = 0;
  bool m_bTroubleReported = false;  // the current spell of trouble was told
  std::string m_strEvent;
};
