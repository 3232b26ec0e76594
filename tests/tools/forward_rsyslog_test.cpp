// `vardlix forward` against a real rsyslogd that each test starts for itself
// (rsyslog_collector.h): every field of every record arrives, once, in
// order, across a day change and a killed forwarder, over RELP and TCP; over
// RELP every record arrives whatever becomes of the collector (stopped,
// killed, stalled and then killed), while TCP says what it knows; a record
// too long for the transport travels cut and says so, and never stops the
// records behind it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <signal.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>

#include "base/text_encoding.h"
#include "format/record_text.h"
#include "forward/forwarder.h"
#include "forward/syslog_message.h"
#include "forward_test_support.h"
#include "reading/day_files.h"
#include "rsyslog_collector.h"
#include "test_collector.h"
#include "tool_process.h"

namespace {

using namespace std::chrono_literals;

std::string MachineName() {
  char szName[256] = {};
  gethostname(szName, sizeof szName - 1);
  return szName;
}

// Every field of a message against record n, as the forwarder must have
// sent it; written through the library, its texts carry the stand-ins of the
// characters XML forbids.
void ExpectRecordFields(const CSyslogMessage& message, size_t n, const std::string& strFile,
                        bool bThroughLibrary = false) {
  std::vector<std::string> aFields = RecordFields(n);
  for (std::string& strField : aFields) {
    std::u16string strText;
    if (bThroughLibrary && FromUtf8(strField, strText)) strField = ToUtf8(MakeXmlText(strText));
  }
  const CTypeCase& type = kTypes[n % kTypeCount];
  SCOPED_TRACE("record " + std::to_string(n));
  EXPECT_EQ(message.m_nPriority, 8 + type.nSeverity);  // facility user
  EXPECT_EQ(message.m_strHost, MachineName());
  EXPECT_EQ(message.m_strApp, "host");
  EXPECT_EQ(message.m_strProcId, "-");
  EXPECT_EQ(message.m_strMsgId, type.bIsMessageId ? type.szType : "-");
  EXPECT_EQ(message.m_strSdId, kDefaultStructuredDataId);
  const std::map<std::string, std::string> aExpected = {{"type", aFields[0]},
                                                        {"location", aFields[1]},
                                                        {"operation", aFields[2]},
                                                        {"parameters", aFields[3]},
                                                        {"file", strFile}};
  std::map<std::string, std::string> aParams = message.m_aParams;
  aParams.erase("record");  // the record's day and number: ForwardService checks it
  EXPECT_EQ(aParams, aExpected);
  EXPECT_EQ(message.m_strMessage, aFields[4]);
}

// The record numbers of the messages, in the order they were written.
std::vector<long> NumbersOf(const std::vector<CSyslogMessage>& aMessages) {
  std::vector<long> aNumbers;
  for (const auto& message : aMessages) aNumbers.push_back(RecordNumberOfMessage(message.m_strRaw));
  return aNumbers;
}

// The words a summary uses for what the transport knows.
std::string DoneWords(const std::string& strScheme) {
  if (strScheme == "relp" || strScheme == "relps") return " delivered, ";
  if (strScheme == "udp") return " sent, ";
  return " sent and acknowledged by the collector's system, ";
}

class ForwardToRsyslog : public ::testing::Test {
 protected:
  // Writes the records (six fields each) as the day file of 8 April 2011,
  // forwards it from its start to strTarget until the collector has them
  // all, and ends the forwarder with Ctrl-C; returns what it said on
  // standard error.
  std::string ForwardDayFile(const std::vector<std::vector<std::string>>& aRecords, const std::string& strTarget,
                             const std::vector<std::string>& aMoreArgs = {}) {
    WriteUtf16File(m_folder.LogFolder() + "/Vardlix20110408.xml", MakeLogText(aRecords));
    std::vector<std::string> aArgs = m_folder.ForwardArgs(strTarget);
    aArgs.push_back("--from-start");
    aArgs.insert(aArgs.end(), aMoreArgs.begin(), aMoreArgs.end());
    CToolProcess forward(aArgs, m_folder.Path("forward.out"));
    EXPECT_EQ(m_collector.WaitForMessages(aRecords.size(), 30s), aRecords.size());
    forward.Interrupt();
    EXPECT_EQ(forward.Wait(), 0);
    return ReadBytes(m_folder.Path("forward.out.err"));
  }

  CForwardFolder m_folder;
  CRsyslogCollector m_collector;
};

// Rows of one test, one for each transport named.
class ForwardOver : public ForwardToRsyslog, public ::testing::WithParamInterface<std::string> {};
INSTANTIATE_TEST_SUITE_P(Transports, ForwardOver, ::testing::Values("relp", "tcp", "relps", "tls"),
                         [](const auto& info) { return info.param; });

TEST_P(ForwardOver, TenThousandRecordsOverADayChangeArriveOnceInOrderFieldForField) {
  // A zone ahead of UTC, so that the offset and the local day both show.
  setenv("TZ", "CST-8", 1);
  tzset();
  // Record n is stamped 500 s before local midnight plus n / 10 seconds:
  // records 0 to 4999 land in the file of 8 April, the rest in that of 9 April.
  std::tm midnight{};
  midnight.tm_year = 2011 - 1900;
  midnight.tm_mon = 3;
  midnight.tm_mday = 9;
  const int64_t nMidnight = timegm(&midnight) - 8 * 3600;
  auto StampOf = [nMidnight](size_t n) { return nMidnight - 500 + static_cast<int64_t>(n / 10); };

  CForwardOptions options;
  options.m_strFolder = m_folder.LogFolder();
  options.m_strState = m_folder.StatePath();
  options.m_tls.m_strCaFile = TestCertificates().Pem("ca");
  CSyslogTarget target;
  std::string strError;
  ASSERT_TRUE(ParseSyslogTarget(m_collector.Target(GetParam()), target, strError));
  CForwarder forwarder(options, target);
  SetClockForTesting(StampOf(0));
  ASSERT_TRUE(forwarder.Start(Today(), strError)) << strError;

  constexpr size_t kRecords = 10000;
  // Rounds of the forwarder every 300 records: the round after midnight
  // finds the last records of the old day's file and the first of the new.
  for (size_t n = 0; n < kRecords; ++n) {
    SetClockForTesting(StampOf(n));
    WriteRecord(RecordFields(n));
    if (n % 300 == 299) forwarder.Step(Today(), SteadyMilliseconds());
  }
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (forwarder.Counts().m_nDone < kRecords && std::chrono::steady_clock::now() < deadline) {
    if (forwarder.Step(Today(), SteadyMilliseconds())) std::this_thread::sleep_for(2ms);
    else std::this_thread::sleep_for(20ms);
  }
  forwarder.Finish(SteadyMilliseconds());
  ASSERT_EQ(forwarder.Counts().m_nDone, kRecords);
  EXPECT_EQ(forwarder.Counts().m_nResent, 0u);
  EXPECT_EQ(m_collector.WaitForMessages(kRecords, 60s), kRecords);
  m_collector.Stop();  // everything it took is written, and nothing comes later

  const std::vector<CSyslogMessage> aMessages = m_collector.Messages();
  ASSERT_EQ(aMessages.size(), kRecords);
  for (size_t n = 0; n < kRecords; ++n) {
    ExpectRecordFields(aMessages[n], n, n < 5000 ? "Vardlix20110408.xml" : "Vardlix20110409.xml", true);
    std::tm local{};
    const time_t nLocal = static_cast<time_t>(StampOf(n) + 8 * 3600);
    gmtime_r(&nLocal, &local);
    char szTime[40];
    std::strftime(szTime, sizeof szTime, "%Y-%m-%dT%H:%M:%S+08:00", &local);
    EXPECT_EQ(aMessages[n].m_strTime, szTime) << n;
    if (HasFailure()) break;  // one record's report says enough
  }
  const nlohmann::json checkpoint = nlohmann::json::parse(ReadBytes(m_folder.StatePath()));
  EXPECT_EQ(checkpoint["file"], "Vardlix20110409.xml");
  EXPECT_EQ(checkpoint["records"], 5000);
}

TEST_P(ForwardOver, KilledForwarderResumesAfterItsCheckpointWithinTheBound) {
  // Two earlier days' files of 50,000 records each, read from the first.
  // The collector writes what it has received well after the forwarder
  // handed it over, and a busy machine may leave the test's own counting
  // behind the forwarder: the forwarder is held to a pace at which the
  // records after the second kill take 3.3 s more, so that no kill comes
  // after the last record unless the counting lags that far.
  constexpr size_t kPerDay = 50000, kRecords = 2 * kPerDay;
  constexpr long kPace = 25000;  // records a second
  WriteBacklog(m_folder.LogFolder(), kPerDay, 0, "20110408");
  WriteBacklog(m_folder.LogFolder(), kPerDay, kPerDay, "20110409");
  std::vector<std::string> aArgs = m_folder.ForwardArgs(m_collector.Target(GetParam()));
  aArgs.insert(aArgs.end(), {"--rate", std::to_string(kPace)});
  aArgs.push_back("--from-start");
  std::optional<CToolProcess> forward;
  forward.emplace(aArgs, m_folder.Path("forward.out"));
  aArgs.pop_back();  // later starts go on from the checkpoint
  // Killed twice while records stream, each time started again.
  size_t nKills = 0;
  for (size_t nKillAt : {4000u, 17000u}) {
    const size_t nArrived = m_collector.WaitForMessages(nKillAt, 60s);
    forward.reset();  // SIGKILL
    ++nKills;
    ASSERT_GE(nArrived, nKillAt);
    ASSERT_LT(m_collector.CountMessages(), kRecords) << "the kill came after the last record";
    forward.emplace(aArgs, m_folder.Path("forward.out"));
  }

  WaitUntilSettled([this] { return m_collector.CountDistinctRecords(); }, kRecords, 90s, 90s);
  forward.reset();
  m_collector.Stop();
  const std::vector<long> aNumbers = NumbersOf(m_collector.Messages());
  long nLastNew = -1;
  std::set<long> aSeen;
  for (long n : aNumbers) {
    // A record seen for the first time comes right after the one before.
    if (aSeen.insert(n).second) {
      EXPECT_EQ(n, nLastNew + 1) << "out of order";
    }
    nLastNew = std::max(nLastNew, n);
  }
  const CArrivals arrivals = CountArrivals(aNumbers);
  EXPECT_EQ(arrivals.MissingOf(kRecords), 0u) << "records missing";
  RecordProperty("duplicates", static_cast<int>(arrivals.Duplicates()));
  std::cout << "duplicates after " << nKills << " kills: " << arrivals.Duplicates() << "\n";
  EXPECT_LE(arrivals.Duplicates(), nKills * kForwardWindow);
}

// TLS collectors that the forwarder must not trust, or that demand a
// certificate it has not got: it says why in one line and keeps trying, and
// no record goes, in clear or otherwise. And the client certificate that
// one of them demands, taken. Rows name the input (-1: the plain RELP
// input, spoken to in TLS), the CA file, --peer, --cert and what is said.
struct CTlsCase {
  const char* szName;
  int nInput;
  const char* szCa;
  const char* szPeer;
  const char* szCert;
  const char* szSaid;  // in the line that says why; nullptr: the records are delivered
};
void PrintTo(const CTlsCase& row, std::ostream* pOut) { *pOut << row.szName; }
class ForwardTls : public ForwardToRsyslog, public ::testing::WithParamInterface<CTlsCase> {};
INSTANTIATE_TEST_SUITE_P(
    Rows, ForwardTls,
    ::testing::Values(
        CTlsCase{"UnknownCaIsRefused", tlsRelp, "other-ca", "", "", "comes from an unknown CA (not one of "},
        CTlsCase{"AnotherNameIsRefused", tlsRelp, "ca", "collector.example", "",
                 "is not for collector.example (name mismatch"},
        CTlsCase{"ExpiredCertificateIsRefused", tlsRelpExpired, "ca", "", "", "certificate has expired"},
        CTlsCase{"RelpDemandingAClientCertificateIsTold", tlsRelpDemandingClient, "ca", "", "",
                 "demanded a client certificate"},
        CTlsCase{"SyslogDemandingAClientCertificateIsTold", tlsSyslogDemandingClient, "ca", "", "",
                 "demanded a client certificate"},
        CTlsCase{"PlainRelpGetsNoClearText", -1, "ca", "", "", "TLS"},
        CTlsCase{"RelpTakesTheClientCertificateItDemands", tlsRelpDemandingClient, "ca", "", "client", nullptr},
        CTlsCase{"SyslogTakesTheClientCertificateItDemands", tlsSyslogDemandingClient, "ca", "", "client", nullptr}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST_P(ForwardTls, RefusalSaysWhyAndSendsNothing) {
  const CTlsCase& row = GetParam();
  constexpr size_t kRecords = 20;
  WriteBacklog(m_folder.LogFolder(), kRecords);
  const std::string strTarget = row.nInput < 0 ? "relps://127.0.0.1:" + std::to_string(m_collector.RelpPort())
                                               : m_collector.TlsTarget(static_cast<TlsInput>(row.nInput));
  std::vector<std::string> aArgs = m_folder.ForwardArgs(strTarget);
  const CTestCertificates& certificates = TestCertificates();
  *(std::find(aArgs.begin(), aArgs.end(), "--ca") + 1) = certificates.Pem(row.szCa);
  if (*row.szPeer != '\0') aArgs.insert(aArgs.end(), {"--peer", row.szPeer});
  if (*row.szCert != '\0') {
    aArgs.insert(aArgs.end(), {"--cert", certificates.Pem(row.szCert), "--key", certificates.Key(row.szCert)});
  }
  aArgs.push_back("--from-start");
  CToolProcess forward(aArgs, m_folder.Path("forward.out"));
  const std::string strErrPath = m_folder.Path("forward.out.err");
  if (row.szSaid == nullptr) {
    EXPECT_EQ(m_collector.WaitForMessages(kRecords, 30s), kRecords);
  } else {
    // The first attempt fails within the connection's timeout of 5 s.
    for (int i = 0; i < 300 && ReadBytes(strErrPath).find("cannot connect") == std::string::npos; ++i) {
      std::this_thread::sleep_for(50ms);
    }
  }
  forward.Interrupt();
  EXPECT_EQ(forward.Wait(), 0);
  m_collector.Stop();
  const std::string strErr = ReadBytes(strErrPath);
  const std::string strSummary = "forward: " + std::to_string(row.szSaid == nullptr ? kRecords : 0) + " records to " +
                                 strTarget + DoneWords(strTarget.substr(0, strTarget.find(':')));
  EXPECT_NE(strErr.find(strSummary), std::string::npos) << strErr;
  if (row.szSaid == nullptr) return;
  EXPECT_EQ(m_collector.CountDistinctRecords(), 0u) << "a record reached the collector";
  std::string strWhy;
  for (const auto& strLine : SplitLines(strErr)) {
    if (strLine.find("cannot connect to " + strTarget) != std::string::npos) strWhy = strLine;
  }
  EXPECT_NE(strWhy.find(row.szSaid), std::string::npos) << strErr;
}

// What becomes of the collector while records stream: stopped as a service
// manager stops it (SIGTERM), killed (SIGKILL), or stalled (SIGSTOP: its
// system goes on taking TCP bytes) and then killed; each time it is started
// again a few seconds later, while the host goes on writing. kill_disk_queue
// kills one whose ruleset has the README's disk queue, which answers once a
// message is in its files and writes the file behind.
struct CTroubleCase {
  const char* szScheme;
  const char* szTrouble;  // "stop", "kill", "stall" or "kill_disk_queue"
};

// The README's disk queue: the parameters of its ruleset(name="vardlix"
// queue.type="Disk" ...); empty when it has none.
std::string ReadmeDiskQueue() {
  const std::string strReadme = ReadBytes(VARDLIX_README);
  const std::string strStart = "ruleset(name=\"vardlix\" ";
  const size_t nAt = strReadme.find(strStart + "queue.type=\"Disk\"");
  if (nAt == std::string::npos) return std::string();
  const size_t nEnd = strReadme.find(") {", nAt);
  return strReadme.substr(nAt + strStart.size(), nEnd - nAt - strStart.size());
}
void PrintTo(const CTroubleCase& row, std::ostream* pOut) { *pOut << row.szScheme << ", " << row.szTrouble; }
class ForwardCollectorTrouble : public ForwardToRsyslog, public ::testing::WithParamInterface<CTroubleCase> {};
INSTANTIATE_TEST_SUITE_P(Rows, ForwardCollectorTrouble,
                         ::testing::Values(CTroubleCase{"relp", "stop"}, CTroubleCase{"relp", "kill"},
                                           CTroubleCase{"relp", "stall"}, CTroubleCase{"relps", "stop"},
                                           CTroubleCase{"relps", "kill"}, CTroubleCase{"relps", "stall"},
                                           CTroubleCase{"tcp", "stop"}, CTroubleCase{"tcp", "kill"},
                                           CTroubleCase{"tcp", "stall"}, CTroubleCase{"relp", "kill_disk_queue"}),
                         [](const auto& info) {
                           return std::string(info.param.szScheme) + "_" + info.param.szTrouble;
                         });

// Over RELP every record arrives; over TCP the forwarder says what it knows:
// records acknowledged by the collector's system, and that those the
// collector had not read are lost.
TEST_P(ForwardCollectorTrouble, RelpLosesNoRecordAndTcpSaysWhatItKnows) {
  const std::string strScheme = GetParam().szScheme, strTrouble = GetParam().szTrouble;
  const bool bRelp = strScheme == "relp" || strScheme == "relps";
  // An earlier day's backlog keeps the connection busy when trouble comes,
  // so that records are on their way at that moment; the host goes on
  // writing today's records meanwhile. The forwarder is held to a pace at
  // which the backlog takes 4 s: the trouble comes after 3,000 records, and
  // the 17,000 behind them take 3.4 s more, so they cannot all arrive first
  // unless a busy machine keeps the test from noticing the 3,000 that long.
  // A disk queue that syncs its files takes a few hundred messages a second
  // here: its row has a backlog that it takes within the test's waits, and
  // the RELP window keeps records on their way all the same. Its pace holds
  // the 3,000 records behind the trouble to 3 s at least, however fast the
  // queue's disk.
  const bool bDiskQueue = strTrouble == "kill_disk_queue";
  const size_t kBacklog = bDiskQueue ? 4000 : 20000, kTroubleAt = bDiskQueue ? 1000 : 3000;
  constexpr size_t kFirstOfToday = 100000;
  const long kPace = bDiskQueue ? 1000 : 5000;  // records a second
  if (bDiskQueue) {
    const std::string strQueue = ReadmeDiskQueue();
    ASSERT_FALSE(strQueue.empty()) << "no disk queue in the README";
    m_collector.UseQueue(strQueue);
    m_collector.Stop();
    m_collector.Start();
  }
  WriteBacklog(m_folder.LogFolder(), kBacklog);
  std::vector<std::string> aArgs = m_folder.ForwardArgs(m_collector.Target(strScheme));
  aArgs.insert(aArgs.end(), {"--rate", std::to_string(kPace), "--from-start"});
  CToolProcess forward(aArgs, m_folder.Path("forward.out"));

  size_t nToday = 0;
  auto WriteToday = [&nToday](size_t nCount) {
    for (size_t i = 0; i < nCount; ++i) {
      WriteRecord(RecordFields(kFirstOfToday + nToday++));
      std::this_thread::sleep_for(10ms);  // a host's pace, not a synchronisation
    }
  };
  ASSERT_GE(m_collector.WaitForMessages(kTroubleAt, 60s), kTroubleAt);
  if (strTrouble == "stop") m_collector.Stop();
  if (strTrouble == "kill" || strTrouble == "kill_disk_queue") m_collector.Kill();
  if (strTrouble == "stall") m_collector.Pause();
  ASSERT_LT(m_collector.CountMessages(), kBacklog) << "the trouble came after the backlog";
  WriteToday(250);  // about three seconds without a collector
  if (strTrouble == "stall") m_collector.Kill();
  m_collector.Start();
  WriteToday(100);

  const size_t nRecords = kBacklog + nToday;
  WaitUntilSettled([this] { return m_collector.CountDistinctRecords(); }, nRecords, 60s, bRelp ? 60s : 5s);
  forward.Interrupt();
  EXPECT_EQ(forward.Wait(), 0);
  m_collector.Stop();
  std::vector<long> aNumbers = NumbersOf(m_collector.Messages());
  const CArrivals arrivals = CountArrivals(aNumbers);
  const size_t nMissing = arrivals.Distinct() < nRecords ? nRecords - arrivals.Distinct() : 0;
  RecordProperty("lost", static_cast<int>(nMissing));
  RecordProperty("duplicates", static_cast<int>(arrivals.Duplicates()));
  std::cout << strScheme << ", collector " << strTrouble << ": " << nMissing << " of " << nRecords << " records lost, "
            << arrivals.Duplicates() << " came twice\n";
  const std::string strErr = ReadBytes(m_folder.Path("forward.out.err"));
  EXPECT_NE(strErr.find("lost ("), std::string::npos) << strErr;
  EXPECT_NE(strErr.find("again"), std::string::npos) << strErr;
  EXPECT_NE(strErr.find("forward: "), std::string::npos) << strErr;
  EXPECT_NE(strErr.find(DoneWords(strScheme)), std::string::npos) << strErr;
  EXPECT_EQ(strErr.find("confirmed"), std::string::npos) << strErr;
  if (bRelp) {
    EXPECT_EQ(nMissing, 0u) << "records lost";
    EXPECT_LE(arrivals.Duplicates(), kRelpWindow);
    EXPECT_NE(strErr.find("forward: " + std::to_string(nRecords) + " records to "), std::string::npos) << strErr;
  } else {
    EXPECT_NE(strErr.find("the collector had not read are lost (relp:// keeps them)"), std::string::npos) << strErr;
  }
}

TEST_F(ForwardToRsyslog, DatagramsCarryWhatFitsAndCutTheRestAtACharacter) {
  ASSERT_TRUE(m_collector.WaitForUdp());
  std::vector<std::vector<std::string>> aRecords;
  for (size_t n = 0; n < 20; ++n) {
    aRecords.push_back(DayFileFields(n));
  }
  std::string strChinese;
  for (int i = 0; i < 1000; ++i) strChinese += "报表";  // 6,000 octets of three-octet characters
  const std::string strAscii(5000, 'x');
  const std::string strQuotes(1500, '"');  // twice as long once escaped
  aRecords.push_back({"2011.04.08 10:00:00", "Info", "Main", "op-20", "", strChinese});
  aRecords.push_back({"2011.04.08 10:00:00", "Info", "Main", "op-21", "", "x" + strChinese});
  aRecords.push_back({"2011.04.08 10:00:00", "Info", "Main", "op-22", "", strAscii});
  aRecords.push_back({"2011.04.08 10:00:00", "Info", "Main", "op-23", strQuotes, "short"});
  const std::string strErr = ForwardDayFile(aRecords, m_collector.UdpTarget());
  EXPECT_NE(strErr.find("forward: 24 records to " + m_collector.UdpTarget() +
                        " sent, 0 behind; 4 cut to fit the "
                        "message size"),
            std::string::npos)
      << strErr;
  EXPECT_EQ(strErr.find("confirmed"), std::string::npos) << strErr;
  m_collector.Stop();

  std::map<long, CSyslogMessage> aByNumber;
  for (const auto& message : m_collector.Messages()) {
    aByNumber[RecordNumberOfMessage(message.m_strRaw)] = message;
  }
  ASSERT_EQ(aByNumber.size(), aRecords.size());
  for (size_t n = 0; n < 20; ++n) {
    ExpectRecordFields(aByNumber[static_cast<long>(n)], n, "Vardlix20110408.xml");
    EXPECT_EQ(aByNumber[static_cast<long>(n)].m_aParams.count("truncated"), 0u);
  }
  const std::pair<long, std::string> kCut[] = {
      {20, strChinese}, {21, "x" + strChinese}, {22, strAscii}, {23, strQuotes}};
  for (const auto& [n, strWhole] : kCut) {
    const CSyslogMessage& message = aByNumber[n];
    SCOPED_TRACE("record " + std::to_string(n));
    EXPECT_LE(message.m_strRaw.size(), kDefaultDatagramSize);
    EXPECT_GE(message.m_strRaw.size(), kDefaultDatagramSize - 3);  // cut no further than a character needs
    ASSERT_EQ(message.m_aParams.count("truncated"), 1u);
    EXPECT_GT(std::stoul(message.m_aParams.at("truncated")), kDefaultDatagramSize);
    const std::string& strCut = n == 23 ? message.m_aParams.at("parameters") : message.m_strMessage;
    EXPECT_EQ(strWhole.compare(0, strCut.size(), strCut), 0) << "not a beginning of the text";
    std::u16string strDecoded;
    EXPECT_TRUE(FromUtf8(strCut, strDecoded)) << "cut inside a character";
  }
}

// A record far longer than the transport takes travels cut to its limit,
// whichever of its fields is long (a stamp that does not read included),
// and the records behind it follow.
class ForwardBadRecord : public ForwardToRsyslog, public ::testing::WithParamInterface<std::string> {};
INSTANTIATE_TEST_SUITE_P(Transports, ForwardBadRecord, ::testing::Values("relp", "tcp", "udp"),
                         [](const auto& info) { return info.param; });

TEST_P(ForwardBadRecord, TravelsCutToTheLimitAndNeverStopsTheStream) {
  const std::string strScheme = GetParam();
  if (strScheme == "udp") {
    ASSERT_TRUE(m_collector.WaitForUdp());
  }
  const size_t nLimit = strScheme == "udp" ? kDefaultDatagramSize : kDefaultStreamMessageSize;
  const std::string strLongTime(70000, '9');
  const std::string strLongText(70000, 'x');
  const std::string strQuotes(35000, '"');
  std::vector<std::vector<std::string>> aRecords;
  for (size_t n = 0; n < 10; ++n) aRecords.push_back(DayFileFields(n));
  aRecords[3] = {strLongTime, "Info", "Main", "op-3", "k=v", "the stamp does not read"};
  aRecords[4] = {"2011.04.08 10:00:00", "Info", "Main", "op-4", "k=v", strLongText};
  aRecords[5] = {"2011.04.08 10:00:00", "Info", "Main", "op-5", strQuotes, "short"};
  const std::string strErr = ForwardDayFile(aRecords, m_collector.Target(strScheme));
  EXPECT_NE(strErr.find("forward: 10 records to " + m_collector.Target(strScheme) + DoneWords(strScheme) +
                        "0 behind; 3 cut to fit the message size"),
            std::string::npos)
      << strErr;
  m_collector.Stop();

  std::map<long, CSyslogMessage> aByNumber;
  for (const auto& message : m_collector.Messages()) aByNumber[RecordNumberOfMessage(message.m_strRaw)] = message;
  ASSERT_EQ(aByNumber.size(), aRecords.size());
  for (long n : {0L, 1L, 2L, 6L, 7L, 8L, 9L}) {
    ExpectRecordFields(aByNumber[n], static_cast<size_t>(n), "Vardlix20110408.xml");
  }
  const std::pair<long, std::string> kCut[] = {{3, strLongTime}, {4, strLongText}, {5, strQuotes}};
  for (const auto& [n, strWhole] : kCut) {
    const CSyslogMessage& message = aByNumber[n];
    SCOPED_TRACE("record " + std::to_string(n));
    EXPECT_LE(message.m_strRaw.size(), nLimit);
    EXPECT_GE(message.m_strRaw.size(), nLimit - 1);  // an escaped quote is cut whole
    ASSERT_EQ(message.m_aParams.count("truncated"), 1u);
    EXPECT_GT(std::stoul(message.m_aParams.at("truncated")), 70000u);
    const std::string& strCut = n == 3   ? message.m_aParams.at("time")
                                : n == 5 ? message.m_aParams.at("parameters")
                                         : message.m_strMessage;
    EXPECT_GT(strCut.size(), nLimit / 3);
    EXPECT_EQ(strWhole.compare(0, strCut.size(), strCut), 0) << "not a beginning of the text";
  }
  EXPECT_EQ(aByNumber[3].m_strRaw.rfind("<14>1 - ", 0), 0u) << "TIMESTAMP is not the NILVALUE";
}

// --framing lf: a line feed ends each message, and the line breaks inside a
// message are written as rsyslog shows them, #015 and #012.
TEST_F(ForwardToRsyslog, LineFramingWritesLineBreaksAsRsyslogShowsThem) {
  std::vector<std::vector<std::string>> aRecords;
  for (size_t n = 0; n < 20; ++n) aRecords.push_back(DayFileFields(n));
  aRecords.push_back({"2011.04.08 10:00:00", "Info", "Main\r\nSecond", "op-20", "a=1\nb=2", "one\ntwo\r\nthree\r"});
  ForwardDayFile(aRecords, m_collector.TcpTarget(), {"--framing", "lf"});
  m_collector.Stop();
  const std::vector<CSyslogMessage> aMessages = m_collector.Messages();
  ASSERT_EQ(aMessages.size(), aRecords.size());
  auto AsRsyslogShows = [](std::string strText) {
    std::string strOut;
    for (char c : strText) strOut += c == '\r' ? "#015" : c == '\n' ? "#012" : std::string(1, c);
    return strOut;
  };
  for (size_t n = 0; n < 20; ++n) {
    const std::vector<std::string> aFields = RecordFields(n);
    SCOPED_TRACE("record " + std::to_string(n));
    EXPECT_EQ(aMessages[n].m_aParams.at("operation"), aFields[2]);
    EXPECT_EQ(aMessages[n].m_aParams.at("parameters"), aFields[3]);
    EXPECT_EQ(aMessages[n].m_strMessage, AsRsyslogShows(aFields[4]));
  }
  EXPECT_EQ(aMessages[20].m_aParams.at("location"), "Main#015#012Second");
  EXPECT_EQ(aMessages[20].m_aParams.at("parameters"), "a=1#012b=2");
  EXPECT_EQ(aMessages[20].m_strMessage, "one#012two#015#012three#015");
}

// A record whose message cannot be made to fit the limit at all (here a
// header too long for it) is skipped with one line and counted; the records
// around it go on.
TEST_F(ForwardToRsyslog, ARecordThatCannotFitIsSkippedWithOneLine) {
  ASSERT_TRUE(m_collector.WaitForUdp());
  // A type of 32 printable characters travels in the header (MSGID), where
  // no cutting shortens it: the smallest limit that takes the other records
  // is too small for it.
  const std::string strLongType = "Type-of-exactly-thirty-two-chars";
  CLogRecord normal, skipped;
  normal.m_aField = {"2011.04.08 10:00:00", "Info", "Main", "op-0", "k=v", "text"};
  normal.m_strFile = skipped.m_strFile = "Vardlix20110408.xml";
  skipped.m_aField = {"2011.04.08 10:00:00", strLongType, "Main", "op-0", "k=v", "text"};
  CSyslogSettings settings;
  settings.m_strHostName = HeaderValue(MachineName(), kMaxHostNameLength);
  settings.m_strAppName = "host";
  bool bCut = false;
  settings.m_nMaxSize = FormatSyslogMessage(normal, settings, bCut, 1).size();
  const size_t nLimit = settings.m_nMaxSize;
  ASSERT_FALSE(FormatSyslogMessage(normal, settings, bCut, 1).empty());
  ASSERT_TRUE(FormatSyslogMessage(skipped, settings, bCut, 1).empty());

  std::vector<std::vector<std::string>> aRecords;
  for (size_t n = 0; n < 6; ++n) {
    aRecords.push_back(
        {"2011.04.08 10:00:00", n == 3 ? strLongType : "Info", "Main", "op-" + std::to_string(n), "k=v", "text"});
  }
  WriteUtf16File(m_folder.LogFolder() + "/Vardlix20110408.xml", MakeLogText(aRecords));
  CForwardOptions options;
  options.m_strFolder = m_folder.LogFolder();
  options.m_strState = m_folder.StatePath();
  options.m_nMaxSize = nLimit;
  CSyslogTarget target;
  std::string strError;
  ASSERT_TRUE(ParseSyslogTarget(m_collector.UdpTarget(), target, strError));
  CForwarder forwarder(options, target);
  ASSERT_TRUE(forwarder.Start(Today(), strError)) << strError;
  std::vector<std::string> aTold;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (forwarder.Counts().m_nDone < aRecords.size() && std::chrono::steady_clock::now() < deadline) {
    forwarder.Step(Today(), SteadyMilliseconds());
    for (auto& strMessage : forwarder.TakeMessages()) aTold.push_back(strMessage);
    std::this_thread::sleep_for(5ms);
  }
  forwarder.Finish(SteadyMilliseconds());
  EXPECT_EQ(forwarder.Counts().m_nDone, aRecords.size());
  EXPECT_EQ(forwarder.Counts().m_nSkipped, 1u);
  ASSERT_EQ(aTold.size(), 1u);
  EXPECT_EQ(aTold[0].rfind("record 4 of Vardlix20110408.xml skipped: its message cannot be made to fit " +
                               std::to_string(nLimit) + " octets",
                           0),
            0u)
      << aTold[0];
  EXPECT_EQ(m_collector.WaitForMessages(5, 30s), 5u);
  m_collector.Stop();
  std::set<long> aNumbers;
  for (const auto& message : m_collector.Messages()) aNumbers.insert(RecordNumberOfMessage(message.m_strRaw));
  EXPECT_EQ(aNumbers, (std::set<long>{0, 1, 2, 4, 5}));
  EXPECT_EQ(nlohmann::json::parse(ReadBytes(m_folder.StatePath()))["records"], 6);
}

// What the options change, each against the whole message.
TEST(SyslogMessage, OptionsChangeOnlyWhatTheyName) {
  CLogRecord record;
  record.m_aField = {"2011.04.08 09:05:03", "Audit", "Main", "Open", "a=1", "已打开"};
  record.m_strFile = "Vardlix20110408.xml";
  auto Settings = [] {
    CSyslogSettings settings;
    settings.m_strHostName = "desk-042";
    settings.m_strAppName = "Viewer";
    return settings;
  };
  const std::string strData = "[vardlix@32473 type=\"Audit\" location=\"Main\" operation=\"Open\" parameters=\"a=1\" "
                              "file=\"Vardlix20110408.xml\"]";
  CSyslogSettings severity = Settings();  // a type of the site's own, a facility of its own
  severity.m_aSeverities = {{"audit", severityCritical}};
  severity.m_nFacility = 19;
  CSyslogSettings identity = Settings();  // its enterprise number, and the byte-order mark
  identity.m_strStructuredDataId = "vardlix@99999";
  identity.m_bByteOrderMark = true;
  CLogRecord unread = record;  // a stamp that does not read, and no description
  unread.m_aField[fieldTime] = "   0.00.00 -1:-1:-1";
  unread.m_aField[fieldDescription].clear();
  const struct {
    CSyslogSettings settings;
    const CLogRecord& record;
    std::string strMessage;
  } kCases[] = {
      {Settings(), record, "<13>1 2011-04-08T09:05:03+00:00 desk-042 Viewer - Audit " + strData + " 已打开"},
      {severity, record, "<154>1 2011-04-08T09:05:03+00:00 desk-042 Viewer - Audit " + strData + " 已打开"},
      {identity, record,
       "<13>1 2011-04-08T09:05:03+00:00 desk-042 Viewer - Audit [vardlix@99999" + strData.substr(14) +
           " \xEF\xBB\xBF已打开"},
      {Settings(), unread,
       "<13>1 - desk-042 Viewer - Audit " + strData.substr(0, strData.size() - 1) + " time=\"   0.00.00 -1:-1:-1\"]"},
  };
  for (const auto& c : kCases) {
    bool bCut = true;
    EXPECT_EQ(FormatSyslogMessage(c.record, c.settings, bCut), c.strMessage);
    EXPECT_FALSE(bCut);
  }
}

// The offset belongs to the record's own moment: a winter record and a
// summer record of one zone differ, whatever the season of the run.
TEST(SyslogTime, CarriesTheOffsetOfTheRecordsOwnMoment) {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  const std::pair<const char*, const char*> kCases[] = {
      {"2011.01.15 12:00:00", "2011-01-15T12:00:00+01:00"},
      {"2011.07.15 23:59:59", "2011-07-15T23:59:59+02:00"},
      {"2011.03.27 03:30:00", "2011-03-27T03:30:00+02:00"},  // the first hour of summer time
      {"2011.10.30 03:00:00", "2011-10-30T03:00:00+01:00"},  // the first hour after it
      {"   0.00.00 -1:-1:-1", "-"},                          // the stamp of a clock that failed
  };
  for (const auto& [szStamp, szExpected] : kCases) EXPECT_EQ(FormatSyslogTime(szStamp), szExpected) << szStamp;
  setenv("TZ", "UTC", 1);
  tzset();
}

// --- A forwarder run as a service -------------------------------------------

// A day file that a row writes: its day (yyyymmdd, or "today") and the
// time of each record ("hh:mm:ss" of that day, or a whole stamp), or
// nCount records at 10:00:00.
struct CServiceDay {
  std::string strDay;
  size_t nCount;
  std::vector<std::string> aTimes;
};

// What happens to the forwarder after its first nActAt messages arrived.
enum ServiceAction : int {
  serviceNothing,
  serviceRestart,      // SIGTERM, the aLater days written, started again without a checkpoint being removed
  serviceHangUp,       // SIGHUP mid-stream
  serviceFolderLater,  // no log folder at the start; it comes (with the days) once the wait is said
  // SIGTERM, then the purge takes the aDays files before the rest of them
  // is sent, the aLater days come, and it is started again: the records
  // after its checkpoint's are lost, and "{lost}" in aSaid is their number
  servicePurgeWhileStopped,
  // started with a --config file of two folders: the row's, and "otherLog"
  // with the same days, sent as app "other" and both as host "desk-17"
  serviceTwoFolders,
  // started with a --config file of the row's folder alone; after nActAt
  // messages the file names "otherLog" too, and SIGHUP has it read again
  serviceConfigGrows,
};

// One life of a forwarder in a service: where it starts, what it is told
// on the way, and what the collector must hold at the end, in order: each
// message's record="DAY-N" (nothing lost, nothing twice), and its time
// where a row gives them.
struct CServiceCase {
  const char* szName;
  std::string strZone;  // TZ of the forwarder
  std::vector<CServiceDay> aDays;
  std::string strCheckpoint;  // written before the first start; empty: none
  std::vector<std::string> aArgs;
  ServiceAction nAction;
  size_t nActAt;
  std::vector<CServiceDay> aLater;  // written while it is stopped (serviceRestart)
  std::vector<std::string> aKeys;
  std::vector<std::string> aTimes;
  std::vector<std::string> aSaid;  // on standard error, in this order
};
void PrintTo(const CServiceCase& row, std::ostream* pOut) { *pOut << row.szName; }

// "DAY-1" to "DAY-nCount".
std::vector<std::string> RecordKeys(const std::string& strDay, size_t nFirst, size_t nLast) {
  std::vector<std::string> aKeys;
  for (size_t n = nFirst; n <= nLast; ++n) aKeys.push_back(strDay + "-" + std::to_string(n));
  return aKeys;
}
std::vector<std::string> Joined(std::vector<std::string> aFirst, const std::vector<std::string>& aSecond) {
  aFirst.insert(aFirst.end(), aSecond.begin(), aSecond.end());
  return aFirst;
}

// "today" in a row's day, key or checkpoint as the day of the run, in the
// zone of the test process (the row's).
std::string Resolved(std::string strText) {
  for (size_t nAt = strText.find("today"); nAt != std::string::npos; nAt = strText.find("today")) {
    strText.replace(nAt, 5, FormatDayStamp(Today()));
  }
  return strText;
}

void WriteServiceDays(const std::string& strFolder, const std::vector<CServiceDay>& aDays) {
  for (const auto& stated : aDays) {
    CServiceDay day = stated;
    day.strDay = Resolved(day.strDay);
    const size_t nCount = day.aTimes.empty() ? day.nCount : day.aTimes.size();
    std::vector<std::vector<std::string>> aRecords;
    for (size_t i = 0; i < nCount; ++i) {
      const std::string strTime = day.aTimes.empty() ? "10:00:00" : day.aTimes[i];
      const std::string strDate =
          day.strDay.substr(0, 4) + "." + day.strDay.substr(4, 2) + "." + day.strDay.substr(6, 2) + " ";
      // A full stamp stands as it is.
      aRecords.push_back(
          {strTime.size() > 8 ? strTime : strDate + strTime, "Info", "Main", "op-" + std::to_string(i), "k=v", "text"});
    }
    WriteUtf16File(strFolder + "/Vardlix" + day.strDay + ".xml", MakeLogText(aRecords));
  }
}

const std::string kCheckpointOf8April = "{\"file\":\"Vardlix20110408.xml\",\"records\":2,\"read\":10}\n";

class ForwardService : public ForwardToRsyslog, public ::testing::WithParamInterface<CServiceCase> {
 protected:
  bool ForwardsTwoFolders() const {
    return GetParam().nAction == serviceTwoFolders || GetParam().nAction == serviceConfigGrows;
  }
  // The forwarder's command line: the row's options, or its configuration
  // file of nFolders folders, the row's options as its keys.
  std::vector<std::string> ForwardArgs(size_t nFolders = 2) const {
    if (ForwardsTwoFolders()) {
      nlohmann::json config = {
          {"to", m_collector.RelpTarget()},
          {"hostname", "desk-17"},
          {"interval", 20},
          {"folders",
           {{{"folder", m_folder.LogFolder()}, {"state", m_folder.StatePath()}},
            {{"folder", m_folder.Path("otherLog")}, {"app", "other"}, {"state", m_folder.Path("other.json")}}}}};
      if (nFolders < 2) config["folders"].erase(1);
      for (size_t i = 0; i + 1 < GetParam().aArgs.size(); i += 2) {
        config[GetParam().aArgs[i].substr(2)] = std::stol(GetParam().aArgs[i + 1]);
      }
      WriteBytes(m_folder.Path("forward.conf"), config.dump(2));
      return {"forward", "--config", m_folder.Path("forward.conf")};
    }
    std::vector<std::string> aArgs = m_folder.ForwardArgs(m_collector.RelpTarget());
    aArgs.insert(aArgs.end(), GetParam().aArgs.begin(), GetParam().aArgs.end());
    return aArgs;
  }
  // Starts a forwarder in the row's zone; its output goes to forward-N.
  void StartForwarder(std::optional<CToolProcess>& forward, int nRun) {
    setenv("TZ", GetParam().strZone.c_str(), 1);
    forward.emplace(ForwardArgs(GetParam().nAction == serviceConfigGrows ? 1 : 2),
                    m_folder.Path("forward-" + std::to_string(nRun)));
  }
  // What --status says once the forwarder has ended: one line a folder,
  // not running, its last record sent and its checkpoint both the last
  // one expected, nothing waiting.
  void ExpectStatus(const std::string& strLast, size_t nFolders) const {
    std::vector<std::string> aArgs = ForwardArgs();
    aArgs.push_back("--status");
    const CToolResult result = RunTool(aArgs);
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    const std::vector<std::string> aLines = SplitLines(result.m_strOut);
    ASSERT_EQ(aLines.size(), nFolders) << result.m_strOut;
    for (const auto& strLine : aLines) {
      const nlohmann::json status = nlohmann::json::parse(strLine);
      EXPECT_EQ(status["running"], false) << strLine;
      EXPECT_EQ(status["last_sent"], strLast) << strLine;
      EXPECT_EQ(status["checkpoint"]["file"], "Vardlix" + strLast.substr(0, 8) + ".xml") << strLine;
      EXPECT_EQ(status["checkpoint"]["records"], std::stoul(strLast.substr(9))) << strLine;
      EXPECT_EQ(status["waiting"], 0) << strLine;
      EXPECT_EQ(status["connected_since"], nullptr) << strLine;
    }
  }
  // Waits for what a row's action waits for, then does it.
  void Act(std::optional<CToolProcess>& forward) {
    const CServiceCase& row = GetParam();
    if (row.nAction == serviceFolderLater) {
      ASSERT_TRUE(WaitForSaid(m_folder.Path("forward-1.err"), "waiting for it"));
      std::filesystem::create_directory(m_folder.LogFolder());
      WriteServiceDays(m_folder.LogFolder(), row.aDays);
      return;
    }
    if (row.nAction == serviceNothing || row.nAction == serviceTwoFolders) return;
    ASSERT_GE(m_collector.WaitForMessages(row.nActAt, 30s), row.nActAt);
    if (row.nAction == serviceConfigGrows) ForwardArgs(2);
    if (row.nAction == serviceHangUp || row.nAction == serviceConfigGrows) {
      forward->Signal(SIGHUP);
      return;
    }
    forward->Signal(SIGTERM);
    EXPECT_EQ(forward->Wait(), 0);
    if (row.nAction == servicePurgeWhileStopped) {
      m_nSentBeforePurge = nlohmann::json::parse(ReadBytes(m_folder.StatePath()))["records"].get<size_t>();
      for (const auto& day : row.aDays) std::remove((m_folder.LogFolder() + "/Vardlix" + day.strDay + ".xml").c_str());
    }
    WriteServiceDays(m_folder.LogFolder(), row.aLater);
    StartForwarder(forward, 2);
  }
  // The row's keys and words, less what the purge took.
  std::vector<std::string> ExpectedKeys() const {
    const CServiceCase& row = GetParam();
    if (row.nAction != servicePurgeWhileStopped) {
      std::vector<std::string> aKeys;
      for (const auto& strKey : row.aKeys) aKeys.push_back(Resolved(strKey));
      return aKeys;
    }
    std::vector<std::string> aKeys;
    for (const auto& strKey : row.aKeys) {
      const bool bPurged =
          strKey.substr(0, 8) == row.aDays[0].strDay && std::stoul(strKey.substr(9)) > m_nSentBeforePurge;
      if (!bPurged) aKeys.push_back(strKey);
    }
    return aKeys;
  }
  std::string ExpectedWords(std::string strWords) const {
    const size_t nAt = strWords.find("{lost}");
    if (nAt == std::string::npos) return strWords;
    return strWords.replace(nAt, 6, std::to_string(GetParam().aDays[0].nCount - m_nSentBeforePurge));
  }
  // What the row's runs said on standard error holds its words, in order.
  void ExpectSaid() const {
    const CServiceCase& row = GetParam();
    std::string strSaid = ReadBytes(m_folder.Path("forward-1.err"));
    if (row.nAction == serviceRestart || row.nAction == servicePurgeWhileStopped) {
      strSaid += ReadBytes(m_folder.Path("forward-2.err"));
    }
    size_t nAt = 0;
    for (const auto& strWords : row.aSaid) {
      nAt = strSaid.find(ExpectedWords(strWords), nAt);
      ASSERT_NE(nAt, std::string::npos) << ExpectedWords(strWords) << " not said, in order, in:\n" << strSaid;
    }
  }
  size_t m_nSentBeforePurge = 0;
  static bool WaitForSaid(const std::string& strFile, const std::string& strWords) {
    for (int i = 0; i < 1500; ++i) {
      if (ReadBytes(strFile).find(strWords) != std::string::npos) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
};

INSTANTIATE_TEST_SUITE_P(
    Rows, ForwardService,
    ::testing::Values(
        CServiceCase{
            "first_run_sends_the_days_kept_and_a_restart_goes_on_from_the_checkpoint",
            "UTC",
            {{"20110408", 5, {}}, {"20110409", 5, {}}},
            "",
            {},
            serviceRestart,
            10,
            {{"20110410", 3, {}}},
            Joined(Joined(RecordKeys("20110408", 1, 5), RecordKeys("20110409", 1, 5)), RecordKeys("20110410", 1, 3)),
            {},
            {"forward: 10 records to ", "forward: 3 records to "}},
        CServiceCase{"from_start_is_what_a_first_run_does",
                     "UTC",
                     {{"20110408", 4, {}}},
                     "",
                     {"--from-start"},
                     serviceNothing,
                     0,
                     {},
                     RecordKeys("20110408", 1, 4),
                     {},
                     {"forward: 4 records to "}},
        CServiceCase{"a_purged_checkpoint_day_is_said_with_the_records_and_days_lost",
                     "UTC",
                     {{"20110410", 4, {}}, {"20110411", 3, {}}},
                     kCheckpointOf8April,
                     {},
                     serviceNothing,
                     0,
                     {},
                     Joined(RecordKeys("20110410", 1, 4), RecordKeys("20110411", 1, 3)),
                     {},
                     {"the checkpoint's day file Vardlix20110408.xml is gone (purged before forward sent it all): 8 "
                      "records of it after the checkpoint, and any of 2011-04-09 (whose files are gone too), can no "
                      "longer be sent\n",
                      "forward: 7 records to ", "; 8 purged before they were sent (their day file is gone)"}},
        CServiceCase{"sighup_mid_stream_reopens_and_loses_or_repeats_nothing",
                     "UTC",
                     {{"20110408", 400, {}}},
                     "",
                     {"--rate", "100"},
                     serviceHangUp,
                     50,
                     {},
                     RecordKeys("20110408", 1, 400),
                     {},
                     {"reopening: reading ", "forward: 400 records to "}},
        CServiceCase{"the_repeated_hour_takes_its_offsets_from_the_record_order",
                     "Europe/Berlin",
                     {{"20261025", 0, {"01:50:00", "02:10:00", "02:50:00", "02:20:00", "03:10:00"}}},
                     "",
                     {},
                     serviceNothing,
                     0,
                     {},
                     RecordKeys("20261025", 1, 5),
                     {"2026-10-25T01:50:00+02:00", "2026-10-25T02:10:00+02:00", "2026-10-25T02:50:00+02:00",
                      "2026-10-25T02:20:00+01:00", "2026-10-25T03:10:00+01:00"},
                     {"forward: 5 records to "}},
        CServiceCase{"tz_gives_the_zone_of_the_folders_host",
                     "UTC",
                     {{"20261025", 0, {"02:10:00", "02:50:00", "02:20:00"}}},
                     "",
                     {"--tz", "Europe/Berlin"},
                     serviceNothing,
                     0,
                     {},
                     RecordKeys("20261025", 1, 3),
                     {"2026-10-25T02:10:00+02:00", "2026-10-25T02:50:00+02:00", "2026-10-25T02:20:00+01:00"},
                     {"forward: 3 records to "}},
        CServiceCase{"a_missing_folder_is_waited_for",
                     "UTC",
                     {{"20110408", 3, {}}},
                     "",
                     {},
                     serviceFolderLater,
                     0,
                     {},
                     RecordKeys("20110408", 1, 3),
                     {},
                     {"no such folder: ", "is there now", "forward: 3 records to "}},
        CServiceCase{"a_purge_while_stopped_is_said_with_the_records_read_and_not_sent",
                     "UTC",
                     {{"20110408", 600, {}}},
                     "",
                     {"--rate", "100"},
                     servicePurgeWhileStopped,
                     50,
                     {{"20110409", 3, {}}},
                     Joined(RecordKeys("20110408", 1, 600), RecordKeys("20110409", 1, 3)),
                     {},
                     {"the checkpoint's day file Vardlix20110408.xml is gone (purged before forward sent it all): "
                      "{lost} records of it after the checkpoint can no longer be sent\n",
                      "forward: 3 records to ", "; {lost} purged before they were sent"}},
        CServiceCase{"a_restart_inside_the_repeated_hour_keeps_the_second_pass",
                     "Europe/Berlin",
                     {{"20261025", 0, {"01:50:00", "02:10:00", "02:50:00", "02:20:00", "03:10:00"}}},
                     "{\"file\":\"Vardlix20261025.xml\",\"records\":3}\n",
                     {},
                     serviceNothing,
                     0,
                     {},
                     RecordKeys("20261025", 4, 5),
                     {"2026-10-25T02:20:00+01:00", "2026-10-25T03:10:00+01:00"},
                     {"forward: 2 records to "}},
        // Today's file (whatever its stamps say) is followed, not read as
        // an earlier day's: the records before the checkpoint are read
        // for their order all the same.
        CServiceCase{"a_restart_inside_the_repeated_hour_of_todays_file_keeps_the_second_pass",
                     "Europe/Berlin",
                     {{"today",
                       0,
                       {"2026.10.25 01:50:00", "2026.10.25 02:10:00", "2026.10.25 02:50:00", "2026.10.25 02:20:00",
                        "2026.10.25 03:10:00"}}},
                     "{\"file\":\"Vardlixtoday.xml\",\"records\":3}\n",
                     {},
                     serviceNothing,
                     0,
                     {},
                     RecordKeys("today", 4, 5),
                     {"2026-10-25T02:20:00+01:00", "2026-10-25T03:10:00+01:00"},
                     {"forward: 2 records to "}},
        CServiceCase{"a_configuration_file_forwards_two_folders_each_under_its_names",
                     "UTC",
                     {{"20110408", 5, {}}, {"20110409", 5, {}}},
                     "",
                     {},
                     serviceTwoFolders,
                     0,
                     {},
                     Joined(RecordKeys("20110408", 1, 5), RecordKeys("20110409", 1, 5)),
                     {},
                     {"forward: 10 records to ", "forward: 10 records to "}},
        CServiceCase{"sighup_rereads_the_configuration_and_sends_nothing_twice",
                     "UTC",
                     {{"20110408", 300, {}}},
                     "",
                     {"--rate", "100"},
                     serviceConfigGrows,
                     50,
                     {},
                     RecordKeys("20110408", 1, 300),
                     {},
                     {"forward: ", "read ", " again: 2 folders", "forward: 300 records to "}}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST_P(ForwardService, CollectorGetsEachRecordOnceInOrderWithItsKeyAndTime) {
  const CServiceCase& row = GetParam();
  setenv("TZ", row.strZone.c_str(), 1);
  tzset();
  if (row.nAction == serviceFolderLater) {
    std::filesystem::remove_all(m_folder.LogFolder());
  } else {
    WriteServiceDays(m_folder.LogFolder(), row.aDays);
  }
  const bool bTwo = ForwardsTwoFolders();
  if (bTwo) {
    std::filesystem::create_directory(m_folder.Path("otherLog"));
    WriteServiceDays(m_folder.Path("otherLog"), row.aDays);
  }
  if (!row.strCheckpoint.empty()) WriteBytes(m_folder.StatePath(), Resolved(row.strCheckpoint));
  std::optional<CToolProcess> forward;
  StartForwarder(forward, 1);
  Act(forward);
  const std::vector<std::string> aExpected = ExpectedKeys();
  const size_t nMessages = aExpected.size() * (bTwo ? 2 : 1);
  EXPECT_EQ(m_collector.WaitForMessages(nMessages, 60s), nMessages);
  // SIGTERM ends it with a summary and a last checkpoint.
  forward->Signal(SIGTERM);
  EXPECT_EQ(forward->Wait(), 0);
  m_collector.Stop();
  // Each folder's records in order, the two folders' side by side.
  std::vector<std::string> aKeys, aTimes, aOtherKeys;
  for (const auto& message : m_collector.Messages()) {
    const std::string strKey = message.m_aParams.count("record") != 0 ? message.m_aParams.at("record") : "none";
    if (bTwo) {
      EXPECT_EQ(message.m_strHost, "desk-17");
    }
    if (message.m_strApp == "other") {
      aOtherKeys.push_back(strKey);
      continue;
    }
    EXPECT_EQ(message.m_strApp, "host");
    aKeys.push_back(strKey);
    aTimes.push_back(message.m_strTime);
  }
  EXPECT_EQ(aKeys, aExpected);
  if (bTwo) {
    EXPECT_EQ(aOtherKeys, aExpected);
  }
  if (!row.aTimes.empty()) {
    EXPECT_EQ(aTimes, row.aTimes);
  }
  ExpectSaid();
  const nlohmann::json checkpoint = nlohmann::json::parse(ReadBytes(m_folder.StatePath()));
  const std::string& strLast = aExpected.back();
  EXPECT_EQ(checkpoint["file"], "Vardlix" + strLast.substr(0, 8) + ".xml");
  EXPECT_EQ(checkpoint["records"], std::stoul(strLast.substr(9)));
  ExpectStatus(strLast, bTwo ? 2 : 1);
}

}  // namespace
