#include "forward/syslog_relp.h"

namespace {

constexpr size_t kMaxNumberDigits = 9;
constexpr size_t kMaxCommandLength = 32;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A number of 1 to 9 digits at nPos, which moves past it.
enum NumberRead : int { numberRead, numberIncomplete, numberBad };
NumberRead ReadNumber(const std::string& strBytes, size_t& nPos, uint32_t& nValue) {
  nValue = 0;
  size_t nDigits = 0;
  while (nPos < strBytes.size() && IsDigit(strBytes[nPos])) {
    if (++nDigits > kMaxNumberDigits) return numberBad;
    nValue = nValue * 10 + static_cast<uint32_t>(strBytes[nPos++] - '0');
  }
  if (nPos == strBytes.size()) return numberIncomplete;
  return nDigits == 0 ? numberBad : numberRead;
}

// The code of an answer's data ("200 OK..." is 200); -1 when it has none.
int AnswerCode(const std::string& strData) {
  if (strData.size() < 3 || !IsDigit(strData[0]) || !IsDigit(strData[1]) || !IsDigit(strData[2])) return -1;
  if (strData.size() > 3 && strData[3] != ' ' && strData[3] != '\n') return -1;
  return (strData[0] - '0') * 100 + (strData[1] - '0') * 10 + (strData[2] - '0');
}

// The first line of an answer, for a message.
std::string FirstLine(const std::string& strData) {
  const std::string strLine = strData.substr(0, strData.find('\n'));
  return strLine.size() > 200 ? strLine.substr(0, 200) + "..." : strLine;
}

// Whether the offers of an answer to open ("200 OK\nrelp_version=0\n
// commands=syslog,...") include the syslog command.
bool OffersSyslog(const std::string& strData) {
  size_t nLine = strData.find('\n');
  while (nLine != std::string::npos) {
    const size_t nStart = nLine + 1;
    nLine = strData.find('\n', nStart);
    const std::string strOffer = strData.substr(nStart, nLine == std::string::npos ? nLine : nLine - nStart);
    if (strOffer.rfind("commands=", 0) != 0) continue;
    const std::string strList = "," + strOffer.substr(9) + ",";
    if (strList.find(",syslog,") != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::string RelpFrame(uint32_t nTxnr, const std::string& strCommand, const std::string& strData) {
  std::string strFrame = std::to_string(nTxnr) + ' ' + strCommand + ' ' + std::to_string(strData.size());
  if (!strData.empty()) {
    strFrame += ' ';
    strFrame += strData;
  }
  strFrame += '\n';
  return strFrame;
}

RelpParse ParseRelpFrame(const std::string& strBytes, size_t& nStart, CRelpFrame& frame, std::string& strError) {
  size_t nPos = nStart;
  uint32_t nLength = 0;
  switch (ReadNumber(strBytes, nPos, frame.m_nTxnr)) {
    case numberIncomplete:
      return relpNeedMore;
    case numberBad:
      strError = "no transaction number";
      return relpMalformed;
    case numberRead:
      break;
  }
  if (strBytes[nPos++] != ' ') {
    strError = "no space after the transaction number";
    return relpMalformed;
  }
  const size_t nCommand = nPos;
  while (nPos < strBytes.size() && IsLetter(strBytes[nPos]) && nPos - nCommand < kMaxCommandLength) ++nPos;
  if (nPos == strBytes.size()) return relpNeedMore;
  if (nPos == nCommand || strBytes[nPos] != ' ') {
    strError = "no command";
    return relpMalformed;
  }
  frame.m_strCommand = strBytes.substr(nCommand, nPos - nCommand);
  ++nPos;
  switch (ReadNumber(strBytes, nPos, nLength)) {
    case numberIncomplete:
      return relpNeedMore;
    case numberBad:
      strError = "no data length";
      return relpMalformed;
    case numberRead:
      break;
  }
  if (nLength > kRelpMaxAnswerBytes) {
    strError = "a frame of " + std::to_string(nLength) + " octets";
    return relpMalformed;
  }
  if (nLength > 0) {
    if (strBytes[nPos++] != ' ') {
      strError = "no space before the data";
      return relpMalformed;
    }
    if (strBytes.size() - nPos < static_cast<size_t>(nLength) + 1) return relpNeedMore;
    frame.m_strData = strBytes.substr(nPos, nLength);
    nPos += nLength;
  } else {
    frame.m_strData.clear();
  }
  if (strBytes[nPos++] != '\n') {
    strError = "no line feed at the end of a frame";
    return relpMalformed;
  }
  nStart = nPos;
  return relpFrameRead;
}

std::string RelpOpenOffers() { return "relp_version=0\nrelp_software=vardlix\ncommands=syslog"; }

void CRelpSession::Begin() {
  m_nNextTxnr = 1;
  m_nOpenTxnr = m_nCloseTxnr = 0;
  m_aUnanswered.clear();
  m_nAnswered = 0;
  m_strInput.clear();
  m_bOpen = m_bClosed = false;
}

std::string CRelpSession::OpenFrame() {
  m_nOpenTxnr = m_nNextTxnr;
  m_nNextTxnr = m_nNextTxnr >= kRelpLastTxnr ? 1 : m_nNextTxnr + 1;
  return RelpFrame(m_nOpenTxnr, "open", RelpOpenOffers());
}

std::string CRelpSession::MessageFrame(const std::string& strMessage) {
  const uint32_t nTxnr = m_nNextTxnr;
  m_nNextTxnr = m_nNextTxnr >= kRelpLastTxnr ? 1 : m_nNextTxnr + 1;
  m_aUnanswered.push_back({nTxnr, false});
  return RelpFrame(nTxnr, "syslog", strMessage);
}

std::string CRelpSession::CloseFrame() {
  m_nCloseTxnr = m_nNextTxnr;
  m_nNextTxnr = m_nNextTxnr >= kRelpLastTxnr ? 1 : m_nNextTxnr + 1;
  return RelpFrame(m_nCloseTxnr, "close", std::string());
}

bool CRelpSession::Receive(const char* pBytes, size_t nCount, std::string& strError) {
  m_strInput.append(pBytes, nCount);
  size_t nStart = 0;
  bool bGoesOn = true;
  while (bGoesOn) {
    CRelpFrame frame;
    const RelpParse nParse = ParseRelpFrame(m_strInput, nStart, frame, strError);
    if (nParse == relpNeedMore) break;
    if (nParse == relpMalformed) {
      strError = "not a RELP answer: " + strError;
      bGoesOn = false;
      break;
    }
    bGoesOn = Take(frame, strError);
  }
  m_strInput.erase(0, nStart);
  return bGoesOn;
}

bool CRelpSession::Take(const CRelpFrame& frame, std::string& strError) {
  if (frame.m_strCommand == "serverclose") {
    strError = "the collector ended the RELP session (serverclose)";
    return false;
  }
  if (frame.m_strCommand != "rsp") return true;  // a command of a later RELP: not for this client
  const int nCode = AnswerCode(frame.m_strData);
  if (m_nCloseTxnr != 0 && frame.m_nTxnr == m_nCloseTxnr) {
    m_bClosed = true;
    strError = "the RELP session was closed";
    return false;
  }
  if (m_nOpenTxnr != 0 && frame.m_nTxnr == m_nOpenTxnr) {
    m_nOpenTxnr = 0;
    if (nCode != 200) {
      strError = "the collector refused the RELP session: " + FirstLine(frame.m_strData);
      return false;
    }
    if (!OffersSyslog(frame.m_strData)) {
      strError = "the collector's RELP session does not take syslog messages";
      return false;
    }
    m_bOpen = true;
    return true;
  }
  for (size_t i = m_nAnswered; i < m_aUnanswered.size(); ++i) {
    CSent& sent = m_aUnanswered[i];
    if (sent.m_nTxnr != frame.m_nTxnr || sent.m_bAnswered) continue;
    if (nCode != 200) {
      strError = "the collector did not take a message: " + FirstLine(frame.m_strData);
      return false;
    }
    sent.m_bAnswered = true;
    // Answers come in order; one that overtook another waits for it.
    while (m_nAnswered < m_aUnanswered.size() && m_aUnanswered[m_nAnswered].m_bAnswered) ++m_nAnswered;
    return true;
  }
  strError = "an answer to transaction " + std::to_string(frame.m_nTxnr) + ", which is not waiting";
  return false;
}

size_t CRelpSession::TakeAnswered() {
  const size_t nAnswered = m_nAnswered;
  m_aUnanswered.erase(m_aUnanswered.begin(), m_aUnanswered.begin() + static_cast<std::ptrdiff_t>(nAnswered));
  m_nAnswered = 0;
  return nAnswered;
}
