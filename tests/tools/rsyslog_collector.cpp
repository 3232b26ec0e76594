#include "rsyslog_collector.h"

#include "test_collector.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace {

// The app name of the datagrams that WaitForUdp sends; left out of Messages.
const char kProbeApp[] = "vardlix-probe";

bool IsProbe(const std::string& strLine) { return strLine.find(kProbeApp) != std::string::npos; }

// The message of a line of the output file. An rsyslogd killed while it
// wrote leaves a line cut short, and the next one started on the same file
// goes on with a whole line right behind it: that line begins at the last
// '{"' (inside a JSON string every quote is escaped). The cut message was
// never answered, so it counts as a message no more than a killed
// collector's unread bytes do. False when the line holds no whole message.
bool ParseLine(const std::string& strLine, nlohmann::json& object) {
  object = nlohmann::json::parse(strLine, nullptr, false);
  if (!object.is_discarded()) return true;
  const size_t nLast = strLine.rfind("{\"");
  if (nLast == 0 || nLast == std::string::npos) return false;
  object = nlohmann::json::parse(strLine.substr(nLast), nullptr, false);
  return !object.is_discarded();
}

// imrelp over TLS with OpenSSL, which takes a client without a certificate
// unless told to demand one (its GnuTLS side always demands one); imtcp
// with its OpenSSL driver, as the README configures them.
std::string TlsInputs(const int (&aPorts)[tlsInputCount]) {
  const CTestCertificates& certificates = TestCertificates();
  const std::string strPeer = std::string("[\"") + kTestClientName + "\"]";
  auto Relp = [&](TlsInput nInput, const std::string& strName, const std::string& strMore) {
    return "input(type=\"imrelp\" address=\"127.0.0.1\" port=\"" + std::to_string(aPorts[nInput]) +
           "\" maxDataSize=\"256k\" tls=\"on\" tls.caCert=\"" + certificates.Pem("ca") + "\" tls.myCert=\"" +
           certificates.Pem(strName) + "\" tls.myPrivKey=\"" + certificates.Key(strName) + "\"" + strMore +
           " ruleset=\"store\")\n";
  };
  auto Syslog = [&](TlsInput nInput, const std::string& strAuth) {
    return "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" + std::to_string(aPorts[nInput]) +
           "\" streamDriver.name=\"ossl\" streamDriver.mode=\"1\" streamDriver.authMode=\"" + strAuth +
           "\" streamDriver.CAFile=\"" + certificates.Pem("ca") + "\" streamDriver.CertFile=\"" +
           certificates.Pem("server") + "\" streamDriver.KeyFile=\"" + certificates.Key("server") + "\"" +
           (strAuth == "anon" ? std::string() : " permittedPeer=" + strPeer) + " ruleset=\"store\")\n";
  };
  return Relp(tlsRelp, "server", "") +
         Relp(tlsRelpDemandingClient, "server", " tls.authMode=\"name\" tls.permittedPeer=" + strPeer) +
         Relp(tlsRelpExpired, "expired", "") + Syslog(tlsSyslog, "anon") +
         Syslog(tlsSyslogDemandingClient, "x509/name");
}

// Each field of a message, JSON-escaped, so that line breaks and control
// characters arrive as they were sent. rsyslog's own messages stay out.
std::string Configuration(const std::string& strFolder, int nTcpPort, int nUdpPort, int nRelpPort,
                          const int (&aTlsPorts)[tlsInputCount], const std::string& strQueue) {
  const std::string strInputs = "module(load=\"imrelp\" tls.tlslib=\"openssl\")\n"
                                "input(type=\"imrelp\" address=\"127.0.0.1\" port=\"" +
                                std::to_string(nRelpPort) +
                                "\" maxDataSize=\"256k\" ruleset=\"store\")\n"
                                "module(load=\"imtcp\")\n"
                                "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" +
                                std::to_string(nTcpPort) + "\" listenPortFileName=\"" + strFolder +
                                "/tcp-port\" ruleset=\"store\")\n"
                                "module(load=\"imudp\")\n"
                                "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" +
                                std::to_string(nUdpPort) + "\" ruleset=\"store\")\n" + TlsInputs(aTlsPorts);
  const std::string strFields =
      "template(name=\"fields\" type=\"list\" option.jsonf=\"on\") {\n"
      "  property(outname=\"pri\" name=\"pri\" format=\"jsonf\")\n"
      "  property(outname=\"time\" name=\"timereported\" dateFormat=\"rfc3339\" format=\"jsonf\")\n"
      "  property(outname=\"host\" name=\"hostname\" format=\"jsonf\")\n"
      "  property(outname=\"app\" name=\"app-name\" format=\"jsonf\")\n"
      "  property(outname=\"procid\" name=\"procid\" format=\"jsonf\")\n"
      "  property(outname=\"msgid\" name=\"msgid\" format=\"jsonf\")\n"
      "  property(outname=\"sd\" name=\"structured-data\" format=\"jsonf\")\n"
      "  property(outname=\"msg\" name=\"msg\" format=\"jsonf\")\n"
      "  property(outname=\"raw\" name=\"rawmsg\" format=\"jsonf\")\n"
      "}\n";
  // The inputs feed a ruleset of their own (rsyslog's own messages stay
  // out) whose queue is direct unless told otherwise: a message is in the
  // file before the input answers for it, as the README asks of a collector.
  return "global(workDirectory=\"" + strFolder +
         "\" maxMessageSize=\"256k\"\n"
         "       parser.escapeControlCharactersOnReceive=\"off\" parser.dropTrailingLFOnReception=\"off\")\n" +
         strInputs + strFields + "ruleset(name=\"store\" " + strQueue +
         ") {\n"
         "  action(type=\"omfile\" file=\"" +
         strFolder +
         "/messages.jsonl\" template=\"fields\")\n"
         "}\n";
}

}  // namespace

// A port below the system's ephemeral range (32768 and up on Linux), free
// at this moment, at random: the ports that connections are given, and the
// system's choice for another test's port 0, never take it between this
// look and the collector's bind, and two tests running side by side are
// unlikely to pick the same one.
int FreePort(int nType) {
  static std::mt19937 random(static_cast<unsigned>(getpid()) * 7919u + static_cast<unsigned>(time(nullptr)));
  for (;;) {
    const int nPort = 20000 + static_cast<int>(random() % 12000);
    const int nSocket = socket(AF_INET, nType, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    const bool bFree = bind(nSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(nSocket);
    if (bFree) return nPort;
  }
}

pid_t StartRsyslogd(const std::string& strConf, const std::string& strPidFile, const std::string& strLog) {
  const pid_t nPid = fork();
  if (nPid != 0) return nPid;
  // A test that dies leaves no collector behind.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  int nLog = open(strLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  int nNull = open("/dev/null", O_RDONLY);
  dup2(nNull, 0);
  dup2(nLog, 1);
  dup2(nLog, 2);
  // Not every user has the system's folders in PATH.
  std::string strPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (strPath + ":/usr/sbin:/sbin").c_str(), 1);
  execlp("rsyslogd", "rsyslogd", "-n", "-f", strConf.c_str(), "-i", strPidFile.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

bool AcceptsConnection(int nPort) {
  int nSocket = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(nPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool bConnected = connect(nSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(nSocket);
  return bConnected;
}

CRsyslogCollector::CRsyslogCollector() {
  m_nUdpPort = FreePort(SOCK_DGRAM);
  m_nRelpPort = FreePort(SOCK_STREAM);
  for (int& nPort : m_aTlsPorts) nPort = FreePort(SOCK_STREAM);
  Launch(true);
}

std::string CRsyslogCollector::TlsTarget(TlsInput nInput) const {
  const bool bRelp = nInput == tlsRelp || nInput == tlsRelpDemandingClient || nInput == tlsRelpExpired;
  return std::string(bRelp ? "relps" : "tls") + "://127.0.0.1:" + std::to_string(m_aTlsPorts[nInput]);
}

std::string CRsyslogCollector::Target(const std::string& strScheme) const {
  if (strScheme == "relp") return RelpTarget();
  if (strScheme == "relps") return TlsTarget(tlsRelp);
  if (strScheme == "tls") return TlsTarget(tlsSyslog);
  return strScheme == "udp" ? UdpTarget() : TcpTarget();
}

CRsyslogCollector::~CRsyslogCollector() {
  if (m_nPid > 0) {
    kill(m_nPid, SIGKILL);
    waitpid(m_nPid, nullptr, 0);
  }
}

void CRsyslogCollector::Launch(bool bAnyTcpPort) {
  const std::string strPortFile = m_folder.Path("tcp-port");
  std::remove(strPortFile.c_str());
  WriteBytes(m_folder.Path("rsyslog.conf"), Configuration(m_folder.Path(), bAnyTcpPort ? 0 : m_nTcpPort, m_nUdpPort,
                                                          m_nRelpPort, m_aTlsPorts, m_strQueue));
  const std::string strLog = m_folder.Path("rsyslogd.log");
  m_nPid = StartRsyslogd(m_folder.Path("rsyslog.conf"), m_folder.Path("rsyslogd.pid"), strLog);
  // Ready once its TCP port takes a connection; a first start learns the
  // port that the system chose from the file rsyslogd writes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (bAnyTcpPort) {
      const std::string strPort = ReadBytes(strPortFile);
      if (!strPort.empty() && strPort.find_first_not_of("0123456789\n") == std::string::npos) {
        m_nTcpPort = std::stoi(strPort);
      }
    }
    if (m_nTcpPort != 0 && AcceptsConnection(m_nTcpPort) && AcceptsConnection(m_nRelpPort) &&
        AcceptsConnection(m_aTlsPorts[tlsRelp]) && AcceptsConnection(m_aTlsPorts[tlsSyslog])) {
      return;
    }
    int nStatus = 0;
    if (waitpid(m_nPid, &nStatus, WNOHANG) == m_nPid) {
      m_nPid = -1;
      throw std::runtime_error("rsyslogd ended at once (is it installed? scripts/setup.sh installs it): " +
                               ReadBytes(strLog));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
  throw std::runtime_error("rsyslogd opened no TCP or RELP port within 30 s: " + ReadBytes(strLog));
}

void CRsyslogCollector::Stop() {
  if (m_nPid <= 0) return;
  kill(m_nPid, SIGTERM);
  waitpid(m_nPid, nullptr, 0);
  m_nPid = -1;
}

void CRsyslogCollector::Kill() {
  if (m_nPid <= 0) return;
  kill(m_nPid, SIGKILL);
  waitpid(m_nPid, nullptr, 0);
  m_nPid = -1;
}

void CRsyslogCollector::Pause() {
  if (m_nPid > 0) kill(m_nPid, SIGSTOP);
}

void CRsyslogCollector::Resume() {
  if (m_nPid > 0) kill(m_nPid, SIGCONT);
}

void CRsyslogCollector::Start() { Launch(false); }

bool CRsyslogCollector::WaitForUdp() {
  int nSocket = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(m_nUdpPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string strProbe = std::string("<14>1 - probe ") + kProbeApp + " - - - ready?";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool bArrived = false;
  while (!bArrived && std::chrono::steady_clock::now() < deadline) {
    sendto(nSocket, strProbe.data(), strProbe.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    bArrived = IsProbe(ReadBytes(m_folder.Path("messages.jsonl")));
  }
  close(nSocket);
  return bArrived;
}

std::vector<CSyslogMessage> CRsyslogCollector::Messages() const {
  std::vector<CSyslogMessage> aMessages;
  for (const auto& strLine : SplitLines(ReadBytes(m_folder.Path("messages.jsonl")))) {
    nlohmann::json object;
    if (strLine.empty() || IsProbe(strLine) || !ParseLine(strLine, object)) continue;
    CSyslogMessage message;
    message.m_nPriority = std::stoi(object.at("pri").get<std::string>());
    message.m_strTime = object.at("time");
    message.m_strHost = object.at("host");
    message.m_strApp = object.at("app");
    message.m_strProcId = object.at("procid");
    message.m_strMsgId = object.at("msgid");
    message.m_strStructuredData = object.at("sd");
    message.m_strMessage = object.at("msg");
    message.m_strRaw = object.at("raw");
    ParseStructuredData(message.m_strStructuredData, message.m_strSdId, message.m_aParams);
    aMessages.push_back(std::move(message));
  }
  return aMessages;
}

size_t CRsyslogCollector::CountMessages() const {
  // Called often while thousands of messages arrive: lines are counted in
  // place, without splitting the text.
  const std::string strText = ReadBytes(m_folder.Path("messages.jsonl"));
  const std::string_view text(strText);
  size_t nCount = 0;
  for (size_t nStart = 0, nEnd; (nEnd = text.find('\n', nStart)) != std::string_view::npos; nStart = nEnd + 1) {
    if (text.substr(nStart, nEnd - nStart).find(kProbeApp) == std::string_view::npos) ++nCount;
  }
  return nCount;
}

size_t CRsyslogCollector::CountDistinctRecords() const {
  // In the JSON of a line the parameter reads operation=\"op-N\". The digits
  // are read here rather than by strtol, which under AddressSanitizer
  // measures the whole rest of the text at each call: quadratic, minutes
  // for 100,000 records.
  const std::string strText = ReadBytes(m_folder.Path("messages.jsonl"));
  const std::string strKey = "operation=\\\"op-";
  std::set<long> aNumbers;
  for (size_t nAt = strText.find(strKey); nAt != std::string::npos; nAt = strText.find(strKey, nAt + 1)) {
    long nNumber = 0;
    for (size_t i = nAt + strKey.size(); i < strText.size() && strText[i] >= '0' && strText[i] <= '9'; ++i) {
      nNumber = nNumber * 10 + (strText[i] - '0');
    }
    aNumbers.insert(nNumber);
  }
  return aNumbers.size();
}

size_t CRsyslogCollector::WaitForMessages(size_t nCount, std::chrono::seconds deadline) const {
  const auto end = std::chrono::steady_clock::now() + deadline;
  size_t nFound = CountMessages();
  while (nFound < nCount && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    nFound = CountMessages();
  }
  return nFound;
}

bool ParseStructuredData(const std::string& strData, std::string& strId, std::map<std::string, std::string>& aParams) {
  aParams.clear();
  if (strData.size() < 2 || strData.front() != '[' || strData.back() != ']') return false;
  size_t nPos = strData.find_first_of(" ]", 1);
  strId = strData.substr(1, nPos - 1);
  while (strData[nPos] == ' ') {
    const size_t nEquals = strData.find('=', nPos);
    if (nEquals == std::string::npos || nEquals + 1 >= strData.size() || strData[nEquals + 1] != '"') return false;
    const std::string strName = strData.substr(nPos + 1, nEquals - nPos - 1);
    std::string strValue;
    for (nPos = nEquals + 2; nPos < strData.size() && strData[nPos] != '"'; ++nPos) {
      if (strData[nPos] == '\\' && nPos + 1 < strData.size() &&
          std::string("\"\\]").find(strData[nPos + 1]) != std::string::npos) {
        ++nPos;
      }
      strValue += strData[nPos];
    }
    if (nPos >= strData.size()) return false;
    aParams[strName] = strValue;
    ++nPos;
  }
  return nPos == strData.size() - 1;
}
