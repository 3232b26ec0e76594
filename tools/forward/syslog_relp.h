// The client side of RELP, the Reliable Event Logging Protocol that rsyslog's
// imrelp speaks, for `vardlix forward --to relp://HOST:PORT`: the frames and
// the state of one session, without the socket (syslog_link.h moves the
// bytes).
//
// Every frame, either way, is
//
//   TXNR SP COMMAND SP DATALEN [SP DATA] LF
//
// TXNR a transaction number of 1 to 9 digits, DATALEN the octets of DATA
// (0: no SP and no DATA). The client numbers its commands 1, 2, 3, ...
// (after 999999999 comes 1 again) and the server answers each with
// "TXNR rsp DATALEN CODE TEXT", CODE 200 when it has taken the command. A
// session starts with "open" (the offers relp_version, relp_software and
// commands=syslog, which the answer must offer too), carries one message per
// "syslog" command, and ends with "close". The server may end it at any
// time with "0 serverclose 0".
//
// A syslog message counts as delivered only once the server has answered it
// with 200. Messages are answered in the order they were sent; a message
// left unanswered when a session breaks is sent again on the next one (the
// server may have taken it: a duplicate, never a loss).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

constexpr uint32_t kRelpLastTxnr = 999999999;
// The longest answer data taken from a server; a longer frame is a protocol
// error (the server is not a RELP server, or a broken one).
constexpr size_t kRelpMaxAnswerBytes = 64 * 1024;

// One frame as it travels.
std::string RelpFrame(uint32_t nTxnr, const std::string& strCommand, const std::string& strData);

struct CRelpFrame {
  uint32_t m_nTxnr = 0;
  std::string m_strCommand;
  std::string m_strData;
};

enum RelpParse : int {
  relpNeedMore,   // the bytes end inside a frame
  relpFrameRead,  // one frame taken from the front of the bytes
  relpMalformed,  // not a RELP frame (strError says what is wrong)
};

// Takes the frame that starts at nStart of strBytes; on relpFrameRead,
// nStart moves past it.
RelpParse ParseRelpFrame(const std::string& strBytes, size_t& nStart, CRelpFrame& frame, std::string& strError);

// The data of the client's "open": what it offers.
std::string RelpOpenOffers();

class CRelpSession {
 public:
  // A new connection: numbering starts again, nothing is unanswered.
  void Begin();

  // The frames the client sends. MessageFrame numbers the message and counts
  // it as unanswered.
  std::string OpenFrame();
  std::string MessageFrame(const std::string& strMessage);
  std::string CloseFrame();

  // Takes the bytes the server sent. False, with the reason, when the
  // session is over: a malformed frame, a refusal (an answer other than
  // 200), an open without syslog, the server's "serverclose", or an answer
  // to close.
  bool Receive(const char* pBytes, size_t nCount, std::string& strError);

  bool IsOpen() const { return m_bOpen; }
  bool IsClosed() const { return m_bClosed; }
  // Messages sent and not yet answered.
  size_t Unanswered() const { return m_aUnanswered.size(); }
  // Messages answered with 200 since the last call, the oldest first.
  size_t TakeAnswered();

 private:
  bool Take(const CRelpFrame& frame, std::string& strError);

  uint32_t m_nNextTxnr = 1;
  uint32_t m_nOpenTxnr = 0;
  uint32_t m_nCloseTxnr = 0;
  struct CSent {
    uint32_t m_nTxnr = 0;
    bool m_bAnswered = false;
  };
  std::deque<CSent> m_aUnanswered;  // in the order sent
  size_t m_nAnswered = 0;           // answered, not yet taken
  std::string m_strInput;           // bytes received, not yet a whole frame
  bool m_bOpen = false;
  bool m_bClosed = false;
};
