// The tool's seam to the network, for `vardlix forward`: one socket to a
// collector, and the machine's name. network_posix.cpp and
// network_win32.cpp implement it; no other file of the tool includes a
// socket header.
//
// A socket never blocks once connected: writes take what the system takes
// at that moment, and reads what has arrived, so that the forwarder keeps
// reading the log and answering Ctrl-C while a collector is slow or away.
// Errors come back as results with the system's reason in words; nothing
// here raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum SocketKind : int {
  socketStream,    // TCP
  socketDatagram,  // UDP
};

// What became of one datagram.
enum DatagramSend : int {
  datagramSent,
  datagramLater,    // the system's buffer is full for now: send it again later
  datagramTooLong,  // larger than the system sends as one datagram: it never will
  datagramFailed,   // refused (no route, a port that refused the one before)
};

class CNetSocket {
 public:
  CNetSocket() = default;
  ~CNetSocket();
  CNetSocket(CNetSocket&& other) noexcept;
  CNetSocket& operator=(CNetSocket&& other) noexcept;
  CNetSocket(const CNetSocket&) = delete;
  CNetSocket& operator=(const CNetSocket&) = delete;

  // Resolves strHost (a name, an IPv4 address or an IPv6 address without
  // brackets) and connects to the first of its addresses that answers on
  // nPort, waiting at most nTimeoutMilliseconds for each. A datagram socket
  // is connected too: it sends to that address only, and the system reports
  // a port that refused an earlier datagram on a later send. False, with the
  // reason in strError, when no address could be reached.
  bool Connect(const std::string& strHost, int nPort, SocketKind nKind, int nTimeoutMilliseconds,
               std::string& strError);
  bool IsOpen() const noexcept { return m_hSocket != -1; }

  // Stream: writes as many of the nCount bytes as the system takes now;
  // returns that number (0 when its buffer is full), or -1 when the
  // connection is broken (strError says how).
  long WriteSome(const char* pBytes, size_t nCount, std::string& strError);
  // Datagram: sends the nCount bytes as one datagram; strError says why
  // when it was not sent.
  DatagramSend SendDatagram(const char* pBytes, size_t nCount, std::string& strError);

  // Stream: reads up to nCount bytes that have arrived; returns their number
  // (0 when none is there now), or -1 when the peer closed or reset the
  // connection or it failed (strError says which).
  long ReadSome(char* pBytes, size_t nCount, std::string& strError);

  // Stream: whether the peer has closed or reset the connection, or it
  // failed; looks without waiting. Bytes the peer sends are read and thrown
  // away, at most 64 KiB a call: a plain syslog collector has nothing to say.
  bool HasBroken(std::string& strError);

  // Stream: bytes written that the peer's system has not acknowledged yet.
  // False where the system does not tell (Windows), and on a socket that is
  // not a connected stream.
  bool CountUnacknowledged(uint64_t& nBytes) const;
  // Whether this system tells that (Linux).
  static bool TellsUnacknowledged();

  // Waits up to nMilliseconds until the socket takes more bytes, the
  // connection breaks, or the process is interrupted.
  void WaitWritable(int nMilliseconds) const;

  // Closes the socket; closing a closed socket does nothing.
  void Close() noexcept;

 private:
  intptr_t m_hSocket = -1;  // descriptor or SOCKET; -1 when closed
};

// The machine's name as the network knows it (POSIX gethostname, Windows
// the DNS host name); empty when it can't be had.
std::string LocalHostName();
