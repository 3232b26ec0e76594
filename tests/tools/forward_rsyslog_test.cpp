// `vardlix forward` against a real rsyslogd that each test starts for itself
// (rsyslog_collector.h): every field of every record arrives, once, in
// order, across a day change, a killed forwarder and a stopped collector;
// over UDP what does not fit a datagram is cut and says so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>

#include "day_files.h"
#include "forwarder.h"
#include "library_state.h"
#include "platform_files.h"
#include "rsyslog_collector.h"
#include "syslog_message.h"
#include "text_encoding.h"
#include "tool_process.h"
#include "vardlix.h"

namespace {

using namespace std::chrono_literals;

// Types and the severity each must get: the built-in pairs (Latin letters in
// any case), and notice for anything else. MSGID carries the type only when
// it is printable ASCII of at most 32 characters.
struct CTypeCase {
  const char* szType;
  int nSeverity;
  bool bIsMessageId;
};
const CTypeCase kTypes[] = {
    {"Error", 3, true},   {"错误", 3, false},  {"Warning", 4, true}, {"警告", 4, false},
    {"Info", 6, true},    {"信息", 6, false},  {"Debug", 7, true},   {"调试", 7, false},
    {"ERROR", 3, true},   {"Audit", 5, true},  {"审计事件", 5, false},
    {"A-type-name-longer-than-thirty-two-chars", 5, false},
};
constexpr size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];

// The five texts of record n: its number in the operation, and in the other
// fields what the message format must carry unchanged (Chinese, control
// characters, line breaks, the three characters that structured data
// escapes, markup, an empty text).
std::vector<std::string> RecordFields(size_t n) {
  const std::string strNumber = std::to_string(n);
  static const char* const kDescriptions[] = {
      "已打开报表，共 12 页",
      "bell\x07 escape\x1b[31m tab\t end",
      "Connection refused\r\nretried 3 times\r\n",
      "",
      "<tag> & \"quotes\" [brackets] back\\slash",
  };
  return {kTypes[n % kTypeCount].szType, n % 3 == 0 ? "主窗口" : "Net]work",
          "op-" + strNumber, "路径=C:\\报表\\" + strNumber + ".xlsx \"q\" a<b&c>d ]",
          kDescriptions[n % (sizeof kDescriptions / sizeof kDescriptions[0])]};
}

// The number in an operation "op-N", or -1.
long RecordNumber(const std::string& strOperation) {
  return strOperation.rfind("op-", 0) == 0 ? std::stol(strOperation.substr(3)) : -1;
}

// Appends one record through the library's export, as a host does.
void WriteRecord(const std::vector<std::string>& aFields) {
  std::u16string aText[5];
  for (size_t i = 0; i < 5; ++i) FromUtf8(aFields[i], aText[i]);
  CVardlixString aArgs[5];
  for (size_t i = 0; i < 5; ++i) aArgs[i].m_pszData = aText[i].c_str();
  WriteVardlix(aArgs[0], aArgs[1], aArgs[2], aArgs[3], aArgs[4]);
}

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string MachineName() {
  char szName[256] = {};
  gethostname(szName, sizeof szName - 1);
  return szName;
}

// Every field of a message against record n, as the forwarder must have
// sent it.
void ExpectRecordFields(const CSyslogMessage& message, size_t n, const std::string& strFile) {
  const std::vector<std::string> aFields = RecordFields(n);
  const CTypeCase& type = kTypes[n % kTypeCount];
  SCOPED_TRACE("record " + std::to_string(n));
  EXPECT_EQ(message.m_nPriority, 8 + type.nSeverity);  // facility user
  EXPECT_EQ(message.m_strHost, MachineName());
  EXPECT_EQ(message.m_strApp, "host");
  EXPECT_EQ(message.m_strProcId, "-");
  EXPECT_EQ(message.m_strMsgId, type.bIsMessageId ? type.szType : "-");
  EXPECT_EQ(message.m_strSdId, kDefaultStructuredDataId);
  const std::map<std::string, std::string> aExpected = {
      {"type", aFields[0]}, {"location", aFields[1]}, {"operation", aFields[2]}, {"parameters", aFields[3]},
      {"file", strFile}};
  EXPECT_EQ(message.m_aParams, aExpected);
  EXPECT_EQ(message.m_strMessage, aFields[4]);
}

class ForwardToRsyslog : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strSavedFolder = LibraryState().m_strLogFolder;
    std::filesystem::create_directory(LogFolder());
    FromUtf8(LogFolder(), LibraryState().m_strLogFolder);
  }
  void TearDown() override {
    LibraryState().m_strLogFolder = m_strSavedFolder;
    ResetClockForTesting();
    setenv("TZ", "UTC", 1);  // as CTest runs every suite
    tzset();
  }

  std::string LogFolder() const { return m_folder.Path("hostLog"); }
  std::string StatePath() const { return m_folder.Path("forward.json"); }
  std::vector<std::string> ForwardArgs(const std::string& strTarget) const {
    return {"forward", "-d", LogFolder(), "--to", strTarget, "--state", StatePath(), "--interval", "20"};
  }

  CScratchFolder m_folder;
  CRsyslogCollector m_collector;
  std::u16string m_strSavedFolder;
};

TEST_F(ForwardToRsyslog, TenThousandRecordsOverADayChangeArriveOnceInOrderFieldForField) {
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
  options.m_strFolder = LogFolder();
  options.m_strState = StatePath();
  CSyslogTarget target;
  std::string strError;
  ASSERT_TRUE(ParseSyslogTarget(m_collector.TcpTarget(), target, strError));
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
  while (forwarder.Counts().m_nConfirmed < kRecords && std::chrono::steady_clock::now() < deadline) {
    if (forwarder.Step(Today(), SteadyMilliseconds())) std::this_thread::sleep_for(2ms);
    else std::this_thread::sleep_for(20ms);
  }
  forwarder.SaveCheckpoint(SteadyMilliseconds());
  ASSERT_EQ(forwarder.Counts().m_nConfirmed, kRecords);
  EXPECT_EQ(forwarder.Counts().m_nResent, 0u);
  EXPECT_EQ(m_collector.WaitForMessages(kRecords, 60s), kRecords);
  m_collector.Stop();  // everything it took is written, and nothing comes later

  const std::vector<CSyslogMessage> aMessages = m_collector.Messages();
  ASSERT_EQ(aMessages.size(), kRecords);
  for (size_t n = 0; n < kRecords; ++n) {
    ExpectRecordFields(aMessages[n], n, n < 5000 ? "Vardlix20110408.xml" : "Vardlix20110409.xml");
    std::tm local{};
    const time_t nLocal = static_cast<time_t>(StampOf(n) + 8 * 3600);
    gmtime_r(&nLocal, &local);
    char szTime[40];
    std::strftime(szTime, sizeof szTime, "%Y-%m-%dT%H:%M:%S+08:00", &local);
    EXPECT_EQ(aMessages[n].m_strTime, szTime) << n;
    if (HasFailure()) break;  // one record's report says enough
  }
  const nlohmann::json checkpoint = nlohmann::json::parse(ReadBytes(StatePath()));
  EXPECT_EQ(checkpoint["file"], "Vardlix20110409.xml");
  EXPECT_EQ(checkpoint["records"], 5000);
}

TEST_F(ForwardToRsyslog, KilledForwarderResumesAfterItsCheckpointWithinTheBound) {
  // Two earlier days' files of 50,000 records each, read from the first.
  // The collector writes what it has received well after the forwarder
  // handed it over, so the files are long enough that no kill can come
  // after their last record, however slow the machine (or a sanitizer)
  // makes the test's own counting.
  constexpr size_t kPerDay = 50000, kRecords = 2 * kPerDay;
  for (size_t nDay = 0; nDay < 2; ++nDay) {
    std::vector<std::vector<std::string>> aRecords;
    for (size_t n = nDay * kPerDay; n < (nDay + 1) * kPerDay; ++n) {
      aRecords.push_back({"2011.04.0" + std::to_string(8 + nDay) + " 10:00:00", kTypes[n % kTypeCount].szType,
                          "主窗口", "op-" + std::to_string(n), "k=v", "记录 " + std::to_string(n)});
    }
    WriteUtf16File(LogFolder() + "/Vardlix2011040" + std::to_string(8 + nDay) + ".xml", MakeLogText(aRecords));
  }
  std::vector<std::string> aArgs = ForwardArgs(m_collector.TcpTarget());
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

  std::set<long> aSeen;
  const auto deadline = std::chrono::steady_clock::now() + 90s;
  while (aSeen.size() < kRecords && std::chrono::steady_clock::now() < deadline) {
    m_collector.WaitForMessages(kRecords, 1s);
    aSeen.clear();
    for (const auto& message : m_collector.Messages()) aSeen.insert(RecordNumber(message.m_aParams.at("operation")));
  }
  forward.reset();
  m_collector.Stop();
  const std::vector<CSyslogMessage> aMessages = m_collector.Messages();
  std::map<long, size_t> aCounts;
  long nLastNew = -1;
  for (const auto& message : aMessages) {
    const long n = RecordNumber(message.m_aParams.at("operation"));
    // A record seen for the first time comes right after the one before.
    if (aCounts[n]++ == 0) {
      EXPECT_EQ(n, nLastNew + 1) << "out of order";
    }
    nLastNew = std::max(nLastNew, n);
  }
  EXPECT_EQ(aCounts.size(), kRecords) << "records missing";
  const size_t nDuplicates = aMessages.size() - aCounts.size();
  RecordProperty("duplicates", static_cast<int>(nDuplicates));
  std::cout << "duplicates after " << nKills << " kills: " << nDuplicates << "\n";
  EXPECT_LE(nDuplicates, nKills * kForwardWindow);
}

TEST_F(ForwardToRsyslog, CollectorStoppedMidStreamDelaysRecordsAndLosesNone) {
  // An earlier day's backlog keeps the connection busy when the collector
  // stops, so that records are on their way at that moment; the host goes
  // on writing today's records meanwhile.
  constexpr size_t kBacklog = 20000, kFirstOfToday = 100000;
  std::vector<std::vector<std::string>> aBacklog;
  for (size_t n = 0; n < kBacklog; ++n) {
    aBacklog.push_back({"2011.04.08 10:00:00", "Info", "主窗口", "op-" + std::to_string(n), "k=v", "backlog"});
  }
  WriteUtf16File(LogFolder() + "/Vardlix20110408.xml", MakeLogText(aBacklog));
  std::vector<std::string> aArgs = ForwardArgs(m_collector.TcpTarget());
  aArgs.push_back("--from-start");
  CToolProcess forward(aArgs, m_folder.Path("forward.out"));

  size_t nToday = 0;
  auto WriteToday = [&nToday](size_t nCount) {
    for (size_t i = 0; i < nCount; ++i) {
      WriteRecord(RecordFields(kFirstOfToday + nToday++));
      std::this_thread::sleep_for(10ms);  // a host's pace, not a synchronisation
    }
  };
  ASSERT_GE(m_collector.WaitForMessages(3000, 60s), 3000u);
  m_collector.Stop();
  ASSERT_LT(m_collector.CountMessages(), kBacklog) << "the collector stopped after the backlog";
  WriteToday(250);  // about three seconds without a collector
  m_collector.Start();
  WriteToday(100);

  const size_t nRecords = kBacklog + nToday;
  std::set<long> aSeen;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (aSeen.size() < nRecords && std::chrono::steady_clock::now() < deadline) {
    m_collector.WaitForMessages(nRecords, 1s);
    aSeen.clear();
    for (const auto& message : m_collector.Messages()) aSeen.insert(RecordNumber(message.m_aParams.at("operation")));
  }
  forward.Interrupt();
  EXPECT_EQ(forward.Wait(), 0);
  m_collector.Stop();
  EXPECT_EQ(aSeen.size(), nRecords) << "records lost";
  const size_t nDuplicates = m_collector.CountMessages() - aSeen.size();
  RecordProperty("duplicates", static_cast<int>(nDuplicates));
  std::cout << "duplicates after a collector restart: " << nDuplicates << "\n";
  EXPECT_LE(nDuplicates, kForwardWindow);
  const std::string strErr = ReadBytes(m_folder.Path("forward.out.err"));
  EXPECT_NE(strErr.find("lost"), std::string::npos) << strErr;
  EXPECT_NE(strErr.find(" again"), std::string::npos) << strErr;
  EXPECT_NE(strErr.find("forward: " + std::to_string(nRecords) + " records to "), std::string::npos) << strErr;
}

TEST_F(ForwardToRsyslog, DatagramsCarryWhatFitsAndCutTheRestAtACharacter) {
  ASSERT_TRUE(m_collector.WaitForUdp());
  std::vector<std::vector<std::string>> aRecords;
  for (size_t n = 0; n < 20; ++n) {
    std::vector<std::string> aFields = RecordFields(n);
    // Markup characters are written escaped, as the library writes them.
    for (auto& strField : aFields) {
      std::string strEscaped;
      for (char c : strField) strEscaped += c == '<' ? "&lt;" : c == '&' ? "&amp;" : c == '>' ? "&gt;" : std::string(1, c);
      strField = strEscaped;
    }
    aFields.insert(aFields.begin(), "2011.04.08 10:00:00");
    aRecords.push_back(aFields);
  }
  std::string strChinese;
  for (int i = 0; i < 1000; ++i) strChinese += "报表";  // 6,000 octets of three-octet characters
  const std::string strAscii(5000, 'x');
  const std::string strQuotes(1500, '"');  // twice as long once escaped
  aRecords.push_back({"2011.04.08 10:00:00", "Info", "Main", "op-20", "", strChinese});
  aRecords.push_back({"2011.04.08 10:00:00", "Info", "Main", "op-21", "", "x" + strChinese});
  aRecords.push_back({"2011.04.08 10:00:00", "Info", "Main", "op-22", "", strAscii});
  aRecords.push_back({"2011.04.08 10:00:00", "Info", "Main", "op-23", strQuotes, "short"});
  WriteUtf16File(LogFolder() + "/Vardlix20110408.xml", MakeLogText(aRecords));

  std::vector<std::string> aArgs = ForwardArgs(m_collector.UdpTarget());
  aArgs.push_back("--from-start");
  CToolProcess forward(aArgs, m_folder.Path("forward.out"));
  EXPECT_EQ(m_collector.WaitForMessages(aRecords.size(), 30s), aRecords.size());
  forward.Interrupt();
  EXPECT_EQ(forward.Wait(), 0);
  EXPECT_NE(ReadBytes(m_folder.Path("forward.out.err")).find("4 cut to fit a datagram"), std::string::npos)
      << ReadBytes(m_folder.Path("forward.out.err"));
  m_collector.Stop();

  std::map<long, CSyslogMessage> aByNumber;
  for (const auto& message : m_collector.Messages()) {
    aByNumber[RecordNumber(message.m_aParams.at("operation"))] = message;
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
  const std::string strData =
      "[vardlix@32473 type=\"Audit\" location=\"Main\" operation=\"Open\" parameters=\"a=1\" "
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
       "<13>1 - desk-042 Viewer - Audit " + strData.substr(0, strData.size() - 1) +
           " time=\"   0.00.00 -1:-1:-1\"]"},
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
      {"   0.00.00 -1:-1:-1", "-"},                           // the stamp of a clock that failed
  };
  for (const auto& [szStamp, szExpected] : kCases) EXPECT_EQ(FormatSyslogTime(szStamp), szExpected) << szStamp;
  setenv("TZ", "UTC", 1);
  tzset();
}

}  // namespace
