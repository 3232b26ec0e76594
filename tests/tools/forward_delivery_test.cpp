// What `vardlix forward` promises about delivery, against collectors that
// misbehave as real ones do (test_collector.h stands in for the ones rsyslog
// cannot be made to play): over RELP every record arrives, over TCP the
// forwarder says what it knows. Then the checkpoint, which no planted name
// redirects and no second forwarder moves back; the RELP frames and session
// on their own; and the README's collector configurations, checked by
// rsyslogd itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>

#include "forward/forwarder.h"
#include "forward/syslog_relp.h"
#include "forward_test_support.h"
#include "rsyslog_collector.h"
#include "system/network.h"
#include "test_collector.h"
#include "tool_process.h"

namespace {

using namespace std::chrono_literals;

// --- Misbehaving collectors -------------------------------------------------

struct CMisbehaviour {
  const char* szScheme;
  const char* szName;
};

void PrintTo(const CMisbehaviour& row, std::ostream* pOut) { *pOut << row.szScheme << ", " << row.szName; }
class ForwardMisbehavingCollector : public ::testing::TestWithParam<CMisbehaviour> {};
INSTANTIATE_TEST_SUITE_P(
    Rows, ForwardMisbehavingCollector,
    ::testing::Values(
        CMisbehaviour{"relp", "accepts_and_closes_for_6_s"}, CMisbehaviour{"relp", "resets_after_50_KB"},
        CMisbehaviour{"relp", "never_reads_then_is_killed"}, CMisbehaviour{"relp", "reads_slowly_then_closes"},
        CMisbehaviour{"relp", "floods_the_forwarder"}, CMisbehaviour{"relp", "answers_what_it_never_read"},
        CMisbehaviour{"relps", "accepts_and_closes_for_6_s"}, CMisbehaviour{"relps", "resets_after_50_KB"},
        CMisbehaviour{"relps", "never_reads_then_is_killed"}, CMisbehaviour{"relps", "reads_slowly_then_closes"},
        CMisbehaviour{"relps", "floods_the_forwarder"}, CMisbehaviour{"relps", "answers_what_it_never_read"},
        CMisbehaviour{"tcp", "accepts_and_closes_for_6_s"}, CMisbehaviour{"tcp", "resets_after_50_KB"},
        CMisbehaviour{"tcp", "never_reads_then_is_killed"}, CMisbehaviour{"tcp", "reads_slowly_then_closes"}),
    [](const auto& info) { return std::string(info.param.szScheme) + "_" + info.param.szName; });

// 3,000 records of an earlier day to a collector that misbehaves, then
// behaves: over RELP every one arrives; over TCP the summary and the break
// message say what TCP knows (acknowledged by the collector's system, and
// lost what it had not read). relps:// and tls:// are the same inside TLS.
// A collector that floods the forwarder never stops: the records arrive
// and Ctrl-C ends the forwarder all the same.
TEST_P(ForwardMisbehavingCollector, RelpLosesNoRecordAndTcpSaysWhatItKnows) {
  const std::string strScheme = GetParam().szScheme, strName = GetParam().szName;
  const bool bRelp = strScheme == "relp" || strScheme == "relps";
  const bool bTls = strScheme == "relps" || strScheme == "tls";
  // A collector that answers what it never read is given messages of
  // 20 KB: the forwarder then numbers more than the systems of both ends
  // hold, and holds some unwritten when the answers come.
  const bool bBlind = strName == "answers_what_it_never_read";
  const size_t nRecords = bBlind ? 400 : 3000;
  CForwardFolder folder;
  WriteBacklog(folder.LogFolder(), nRecords, 0, "20110408", bBlind ? 20000 : 0);
  CTestCollector collector(bRelp, bTls);
  if (strName == "accepts_and_closes_for_6_s") collector.Behave(collectorAcceptAndClose);
  if (strName == "resets_after_50_KB") collector.Behave(collectorResetAfter, 50 * 1024);
  if (strName == "never_reads_then_is_killed") collector.Behave(collectorNeverRead);
  if (strName == "reads_slowly_then_closes") collector.Behave(collectorReadSlowly);
  if (strName == "floods_the_forwarder") collector.Behave(collectorFlood);
  if (strName == "answers_what_it_never_read") collector.Behave(collectorAnswerBlindly);
  std::vector<std::string> aArgs = folder.ForwardArgs(collector.Target());
  aArgs.push_back("--from-start");
  if (bBlind) aArgs.insert(aArgs.end(), {"--max-size", "30000"});
  CToolProcess forward(aArgs, folder.Path("forward.out"));
  if (strName == "accepts_and_closes_for_6_s") {
    std::this_thread::sleep_for(6s);
    collector.Behave(collectorWell);
  }
  // The faults come while records are on their way: once the collector
  // holds some unread (it never reads, so the forwarder cannot finish), or
  // once it has read a first message (at its pace the 3,000 take over a minute).
  if (strName == "never_reads_then_is_killed") {
    ASSERT_TRUE(collector.WaitForUnreadBytes(60s)) << "no record reached the collector";
    std::this_thread::sleep_for(3s);
    collector.Kill();
  }
  if (strName == "reads_slowly_then_closes") {
    ASSERT_GE(collector.WaitForMessages(1, 60s), 1u) << "no record reached the collector";
    std::this_thread::sleep_for(3s);
    collector.CloseAll();
  }
  auto Distinct = [&collector] {
    std::vector<long> aNumbers;
    for (const auto& strMessage : collector.Messages()) aNumbers.push_back(RecordNumberOfMessage(strMessage));
    return CountArrivals(aNumbers).Distinct();
  };
  WaitUntilSettled(Distinct, nRecords, 60s, bRelp ? 60s : 5s);
  forward.Interrupt();
  EXPECT_EQ(forward.Wait(), 0);

  std::vector<long> aNumbers;
  for (const auto& strMessage : collector.Messages()) aNumbers.push_back(RecordNumberOfMessage(strMessage));
  const CArrivals arrivals = CountArrivals(aNumbers);
  const size_t nMissing = arrivals.MissingOf(nRecords);
  RecordProperty("lost", static_cast<int>(nMissing));
  RecordProperty("duplicates", static_cast<int>(arrivals.Duplicates()));
  std::cout << strScheme << ", collector " << strName << ": " << nMissing << " of " << nRecords << " records lost, "
            << arrivals.Duplicates() << " came twice\n";
  const std::string strErr = ReadBytes(folder.Path("forward.out.err"));
  EXPECT_EQ(strErr.find("confirmed"), std::string::npos) << strErr;
  // Each misbehaviour but a flood broke a connection, which the forwarder
  // made again: a row whose trouble never came proves nothing.
  if (strName != "floods_the_forwarder") {
    EXPECT_NE(strErr.find("again"), std::string::npos) << strErr;
  }
  if (bRelp) {
    EXPECT_EQ(nMissing, 0u) << "records lost";
    EXPECT_NE(strErr.find("forward: " + std::to_string(nRecords) + " records to " + collector.Target() +
                          " delivered, 0 behind"),
              std::string::npos)
        << strErr;
  } else {
    EXPECT_NE(strErr.find(" records to " + collector.Target() + " sent and acknowledged by the collector's system"),
              std::string::npos)
        << strErr;
    if (strName != "accepts_and_closes_for_6_s") {
      // A connection that carried records broke.
      EXPECT_NE(strErr.find("the collector had not read are lost (relp:// keeps them)"), std::string::npos) << strErr;
    }
  }
}

// --- The checkpoint -----------------------------------------------------------

// A RELP port where nothing listens: the forwarder starts, writes its
// checkpoint and waits for a collector.
const char kNoCollector[] = "relp://127.0.0.1:1";

// Runs the tool, ended after 20 s at most whatever it does.
CToolResult RunBounded(const std::vector<std::string>& aArgs) {
  std::vector<std::string> aTimed = {"20", VARDLIX_TOOL_PATH};
  aTimed.insert(aTimed.end(), aArgs.begin(), aArgs.end());
  return RunTool(aTimed, {}, "/usr/bin/timeout");
}

bool Exists(const std::string& strPath) {
  struct stat info {};
  return lstat(strPath.c_str(), &info) == 0;
}

// Starts a forwarder to kNoCollector and waits until it has written its
// checkpoint.
void StartAndWaitForCheckpoint(std::optional<CToolProcess>& forward, const CForwardFolder& folder,
                               const std::vector<std::string>& aArgs) {
  std::remove(folder.StatePath().c_str());
  forward.emplace(aArgs, folder.Path("forward.out"));
  for (int i = 0; i < 500 && !Exists(folder.StatePath()); ++i) std::this_thread::sleep_for(20ms);
}

// A user who can write the log folder plants links where the forwarder
// writes: at the temporary name earlier versions used, at the lock file, and
// at the checkpoint itself. None makes it write anywhere else.
TEST(ForwardCheckpoint, PlantedLinksRedirectNothing) {
  CForwardFolder folder;
  const std::string strVictim = folder.Path("victim");
  WriteBytes(strVictim, "root's own file\n");
  chmod(strVictim.c_str(), 0600);
  std::vector<std::string> aArgs = folder.ForwardArgs(kNoCollector);
  aArgs.push_back("--from-start");

  std::filesystem::create_symlink(strVictim, folder.StatePath() + ".tmp");
  std::optional<CToolProcess> forward;
  StartAndWaitForCheckpoint(forward, folder, aArgs);
  forward->Interrupt();
  EXPECT_EQ(forward->Wait(), 0) << ReadBytes(folder.Path("forward.out.err"));
  forward.reset();
  EXPECT_EQ(ReadBytes(strVictim), "root's own file\n");
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(folder.StatePath())));
  EXPECT_EQ(nlohmann::json::parse(ReadBytes(folder.StatePath()))["records"], 0);
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path(""))) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path() << " left behind";
  }

  std::remove((folder.StatePath() + ".lock").c_str());
  std::filesystem::create_symlink(strVictim, folder.StatePath() + ".lock");
  CToolResult result = RunBounded(aArgs);
  EXPECT_EQ(result.m_nStatus, 1);
  EXPECT_NE(result.m_strErr.find(".lock: a symbolic link, not a regular file"), std::string::npos) << result.m_strErr;
  std::remove((folder.StatePath() + ".lock").c_str());

  std::remove(folder.StatePath().c_str());
  std::filesystem::create_symlink(strVictim, folder.StatePath());
  result = RunBounded(aArgs);
  EXPECT_EQ(result.m_nStatus, 1);
  EXPECT_NE(result.m_strErr.find("is a symbolic link, not a regular file"), std::string::npos) << result.m_strErr;
  EXPECT_EQ(ReadBytes(strVictim), "root's own file\n");
  struct stat info {};
  ASSERT_EQ(stat(strVictim.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A device, a pipe or a folder is no checkpoint, nor is a file larger than a
// checkpoint can be: each is refused at once, and nothing is written there.
TEST(ForwardCheckpoint, OnlyARegularFileOfBoundedSizeIsOne) {
  CForwardFolder folder;
  const std::string strPipe = folder.Path("pipe"), strFolder = folder.Path("folder"), strLarge = folder.Path("large");
  ASSERT_EQ(mkfifo(strPipe.c_str(), 0600), 0);
  std::filesystem::create_directory(strFolder);
  WriteBytes(strLarge, std::string(100 * 1024, ' '));
  const std::pair<std::string, std::string> kCases[] = {
      {"/dev/zero", "is a device, not a regular file"},
      {strPipe, "is a pipe, not a regular file"},
      {strFolder, "is a folder, not a regular file"},
      {strLarge, "larger than 64 KiB"},
  };
  for (const auto& [strState, strWords] : kCases) {
    SCOPED_TRACE(strState);
    const auto start = std::chrono::steady_clock::now();
    const CToolResult result =
        RunBounded({"forward", "-d", folder.LogFolder(), "--to", kNoCollector, "--state", strState});
    EXPECT_EQ(result.m_nStatus, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(result.m_strErr.find(strWords), std::string::npos) << result.m_strErr;
  }
  EXPECT_FALSE(Exists("/dev/zero.lock"));
}

// A second forwarder on the checkpoint of a running one says so and ends
// with 1, leaving the checkpoint alone; once the first has ended, a new one
// runs.
TEST(ForwardCheckpoint, SecondForwarderOnOneCheckpointSaysSoAndEnds) {
  CForwardFolder folder;
  const std::vector<std::string> aArgs = folder.ForwardArgs(kNoCollector);
  std::optional<CToolProcess> first;
  StartAndWaitForCheckpoint(first, folder, aArgs);
  const std::string strCheckpoint = ReadBytes(folder.StatePath());
  ASSERT_FALSE(strCheckpoint.empty());
  std::vector<std::string> aFromStart = aArgs;
  aFromStart.push_back("--from-start");
  const CToolResult second = RunBounded(aFromStart);
  EXPECT_EQ(second.m_nStatus, 1);
  EXPECT_NE(second.m_strErr.find("another vardlix forward is using the checkpoint " + folder.StatePath()),
            std::string::npos)
      << second.m_strErr;
  EXPECT_EQ(ReadBytes(folder.StatePath()), strCheckpoint);
  first->Interrupt();
  EXPECT_EQ(first->Wait(), 0);
  first.reset();
  std::optional<CToolProcess> third;
  StartAndWaitForCheckpoint(third, folder, aFromStart);
  third->Interrupt();
  EXPECT_EQ(third->Wait(), 0) << ReadBytes(folder.Path("forward.out.err"));
}

// When the last checkpoint cannot be written (here its folder is gone), the
// summary says that the checkpoint is stale.
TEST(ForwardCheckpoint, FailedLastWriteMakesTheSummarySayItIsStale) {
  CForwardFolder folder;
  CTestCollector collector(true);
  const std::string strStateFolder = folder.Path("state");
  std::filesystem::create_directory(strStateFolder);
  std::vector<std::string> aArgs = folder.ForwardArgs(collector.Target());
  aArgs[6] = strStateFolder + "/forward.json";  // --state
  CToolProcess forward(aArgs, folder.Path("forward.out"));
  for (int i = 0; i < 500 && !Exists(aArgs[6]); ++i) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(Exists(aArgs[6]));
  std::filesystem::remove_all(strStateFolder);
  for (size_t n = 0; n < 5; ++n) WriteRecord(RecordFields(n));
  EXPECT_EQ(collector.WaitForMessages(5, 30s), 5u);
  forward.Interrupt();
  EXPECT_EQ(forward.Wait(), 0);
  const std::string strErr = ReadBytes(folder.Path("forward.out.err"));
  EXPECT_NE(strErr.find("cannot write the checkpoint " + aArgs[6]), std::string::npos) << strErr;
  EXPECT_NE(strErr.find("forward: 5 records to " + collector.Target() + " delivered, 0 behind; the checkpoint " +
                        aArgs[6] + " is stale"),
            std::string::npos)
      << strErr;
}

// A checkpoint as earlier versions wrote it, beside the temporary file they
// left, is read: forwarding goes on after it.
TEST(ForwardCheckpoint, ACheckpointOfEarlierVersionsIsRead) {
  CForwardFolder folder;
  CTestCollector collector(true);
  WriteBacklog(folder.LogFolder(), 10);
  WriteBytes(folder.StatePath(),
             "{\"file\":\"Vardlix20110408.xml\",\"records\":4,\"time\":\"2011-04-08T10:00:00\",\"folder\":\"" +
                 folder.LogFolder() + "\",\"to\":\"tcp://logs.example:514\"}\n");
  WriteBytes(folder.StatePath() + ".tmp", "{\"file\":");
  CToolProcess forward(folder.ForwardArgs(collector.Target()), folder.Path("forward.out"));
  EXPECT_EQ(collector.WaitForMessages(6, 30s), 6u);
  forward.Interrupt();
  EXPECT_EQ(forward.Wait(), 0);
  std::vector<long> aNumbers;
  for (const auto& strMessage : collector.Messages()) aNumbers.push_back(RecordNumberOfMessage(strMessage));
  EXPECT_EQ(aNumbers, (std::vector<long>{4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(nlohmann::json::parse(ReadBytes(folder.StatePath()))["records"], 10);
}

// --- RELP on its own ----------------------------------------------------------

TEST(SyslogRelp, FramesAreWrittenAndReadAsTheProtocolSays) {
  EXPECT_EQ(RelpFrame(1, "open", "relp_version=0\nrelp_software=vardlix\ncommands=syslog"),
            "1 open 52 relp_version=0\nrelp_software=vardlix\ncommands=syslog\n");
  EXPECT_EQ(RelpFrame(999999999, "close", ""), "999999999 close 0\n");
  const std::string strAnswers = "2 rsp 6 200 OK\n3 rsp 0\n0 serverclose 0\n";
  // Read whole, and one byte at a time: a frame split anywhere waits for the rest.
  std::vector<CRelpFrame> aFrames;
  std::string strSoFar;
  size_t nStart = 0;
  for (char c : strAnswers) {
    strSoFar += c;
    CRelpFrame frame;
    std::string strError;
    const RelpParse nParse = ParseRelpFrame(strSoFar, nStart, frame, strError);
    ASSERT_NE(nParse, relpMalformed) << strError;
    if (nParse == relpFrameRead) aFrames.push_back(frame);
  }
  ASSERT_EQ(aFrames.size(), 3u);
  EXPECT_EQ(aFrames[0].m_nTxnr, 2u);
  EXPECT_EQ(aFrames[0].m_strCommand, "rsp");
  EXPECT_EQ(aFrames[0].m_strData, "200 OK");
  EXPECT_EQ(aFrames[1].m_strData, "");
  EXPECT_EQ(aFrames[2].m_nTxnr, 0u);
  EXPECT_EQ(aFrames[2].m_strCommand, "serverclose");
  for (const char* szBad : {"x rsp 0\n", "1rsp 0\n", "1 rsp x\n", "1 rsp 3 abcX", "1 rsp 0 \n", "1234567890 rsp 0\n",
                            "1 rsp 99999999 x\n"}) {
    CRelpFrame frame;
    std::string strError;
    size_t nAt = 0;
    EXPECT_EQ(ParseRelpFrame(szBad, nAt, frame, strError), relpMalformed) << szBad;
  }
}

TEST(SyslogRelp, SessionCountsAnswersInOrderAndEndsOnRefusalOrServerclose) {
  CRelpSession session;
  session.Begin();
  EXPECT_EQ(session.OpenFrame(), "1 open 52 relp_version=0\nrelp_software=vardlix\ncommands=syslog\n");
  EXPECT_EQ(session.MessageFrame("<14>1 - - - - - - a"), "2 syslog 19 <14>1 - - - - - - a\n");
  EXPECT_EQ(session.MessageFrame(""), "3 syslog 0\n");
  EXPECT_EQ(session.MessageFrame("b"), "4 syslog 1 b\n");
  std::string strError;
  const std::string strOpen = RelpFrame(1, "rsp", "200 OK\nrelp_version=0\nrelp_software=x\ncommands=syslog");
  ASSERT_TRUE(session.Receive(strOpen.data(), strOpen.size(), strError)) << strError;
  EXPECT_TRUE(session.IsOpen());
  // 3 answered before 2: nothing counts until 2 is answered too.
  const std::string strThree = RelpFrame(3, "rsp", "200 OK");
  ASSERT_TRUE(session.Receive(strThree.data(), strThree.size(), strError)) << strError;
  EXPECT_EQ(session.TakeAnswered(), 0u);
  const std::string strTwo = RelpFrame(2, "rsp", "200 OK");
  ASSERT_TRUE(session.Receive(strTwo.data(), strTwo.size(), strError)) << strError;
  EXPECT_EQ(session.TakeAnswered(), 2u);
  EXPECT_EQ(session.Unanswered(), 1u);
  const std::string strRefused = RelpFrame(4, "rsp", "500 queue is full");
  EXPECT_FALSE(session.Receive(strRefused.data(), strRefused.size(), strError));
  EXPECT_EQ(strError, "the collector did not take a message: 500 queue is full");

  session.Begin();
  session.OpenFrame();
  const std::string strNoSyslog = RelpFrame(1, "rsp", "200 OK\nrelp_version=0\ncommands=something");
  EXPECT_FALSE(session.Receive(strNoSyslog.data(), strNoSyslog.size(), strError));
  EXPECT_FALSE(session.IsOpen());

  session.Begin();
  session.OpenFrame();
  ASSERT_TRUE(session.Receive(strOpen.data(), strOpen.size(), strError)) << strError;
  session.MessageFrame("a");
  const std::string strServerClose = "0 serverclose 0\n";
  EXPECT_FALSE(session.Receive(strServerClose.data(), strServerClose.size(), strError));
  EXPECT_NE(strError.find("serverclose"), std::string::npos);
  EXPECT_EQ(session.TakeAnswered(), 0u);
}

// --- The README's collector configurations ------------------------------------

// The code blocks of the README's "Forwarding to syslog", without their fences.
std::vector<std::string> ReadmeForwardingBlocks() {
  std::ifstream readme(VARDLIX_README);
  std::stringstream text;
  text << readme.rdbuf();
  const std::string strText = text.str();
  const size_t nSection = strText.find("\n## Forwarding to syslog");
  if (nSection == std::string::npos) return {};
  const size_t nEnd = strText.find("\n## ", nSection + 1);
  std::vector<std::string> aBlocks;
  std::string strBlock, strLine;
  bool bInBlock = false;
  std::istringstream lines(strText.substr(nSection, nEnd - nSection));
  while (std::getline(lines, strLine)) {
    const size_t nIndent = strLine.find_first_not_of(' ');
    if (nIndent != std::string::npos && strLine.compare(nIndent, 3, "```") == 0) {
      if (bInBlock) aBlocks.push_back(strBlock);
      bInBlock = !bInBlock;
      strBlock.clear();
      continue;
    }
    if (bInBlock) strBlock += strLine + "\n";
  }
  return aBlocks;
}

bool IsRsyslogConfiguration(const std::string& strBlock) {
  return strBlock.rfind("global(", 0) == 0 || strBlock.rfind("module(", 0) == 0;
}

// Every rsyslog configuration that the README's "Forwarding to syslog" gives
// (a block that begins with global() or module()) is one that rsyslogd
// accepts.
TEST(ForwardReadme, EveryCollectorConfigurationIsAcceptedByRsyslogd) {
  CScratchFolder scratch;
  size_t nChecked = 0;
  bool bRelp = false, bRelpTls = false, bSyslogTls = false;
  for (std::string strConfiguration : ReadmeForwardingBlocks()) {
    if (!IsRsyslogConfiguration(strConfiguration)) continue;
    bRelp = bRelp || strConfiguration.find("module(load=\"imrelp\")") != std::string::npos;
    bRelpTls = bRelpTls || strConfiguration.find("type=\"imrelp\" port=\"2515\" tls=\"on\"") != std::string::npos;
    bSyslogTls = bSyslogTls || strConfiguration.find("streamDriver.name=\"ossl\"") != std::string::npos;
    // rsyslogd -N1 opens the certificates: the tests' own stand in.
    for (size_t nAt; (nAt = strConfiguration.find("/etc/vardlix-tls")) != std::string::npos;) {
      strConfiguration.replace(nAt, 16, TestCertificates().m_strFolder);
    }
    const std::string strFile = scratch.Path("rsyslog-" + std::to_string(nChecked++) + ".conf");
    WriteBytes(strFile, strConfiguration);
    const std::string strCommand =
        "PATH=\"$PATH:/usr/sbin:/sbin\" rsyslogd -N1 -f '" + strFile + "' > '" + strFile + ".out' 2>&1";
    const int nStatus = std::system(strCommand.c_str());
    const std::string strOut = ReadBytes(strFile + ".out");
    EXPECT_EQ(nStatus, 0) << strConfiguration << strOut;
    EXPECT_EQ(strOut.find("error"), std::string::npos) << strConfiguration << strOut;
  }
  EXPECT_GE(nChecked, 2u);
  EXPECT_TRUE(bRelp) << "no imrelp configuration";
  EXPECT_TRUE(bRelpTls) << "no imrelp configuration with TLS";
  EXPECT_TRUE(bSyslogTls) << "no imtcp configuration with the OpenSSL driver";
}

// Replaces the one place of strOld in strText; false when it is not there.
bool ReplaceOnce(std::string& strText, const std::string& strOld, const std::string& strNew) {
  const size_t nAt = strText.find(strOld);
  if (nAt == std::string::npos) return false;
  strText.replace(nAt, strOld.size(), strNew);
  return true;
}

// The README's relay as it stands there, with ports and folders of the
// test's own, between a forwarder and a second rsyslogd as the store: each
// message reaches the store as the desktop sent it (no line feed added on
// the way), and lands in the relay's file of the record's own day.
TEST(ForwardReadme, RelayPassesEachMessageOnAsSentAndFilesItByItsOwnDay) {
  std::string strRelay;
  for (const auto& strBlock : ReadmeForwardingBlocks()) {
    if (IsRsyslogConfiguration(strBlock) && strBlock.find("store.example") != std::string::npos) strRelay = strBlock;
  }
  ASSERT_FALSE(strRelay.empty()) << "no relay configuration in the README";
  CForwardFolder folder;
  CRsyslogCollector store;
  CScratchFolder relay;
  std::filesystem::create_directory(relay.Path("spool"));
  const int nRelayPort = FreePort(SOCK_STREAM);
  ASSERT_TRUE(ReplaceOnce(strRelay, "input(type=\"imrelp\" port=\"2514\"",
                          "input(type=\"imrelp\" address=\"127.0.0.1\" port=\"" + std::to_string(nRelayPort) + "\""));
  ASSERT_TRUE(ReplaceOnce(strRelay, "target=\"store.example\" port=\"6514\"",
                          "target=\"127.0.0.1\" port=\"" + std::to_string(store.TcpPort()) + "\""));
  ASSERT_TRUE(ReplaceOnce(strRelay, "/var/log/vardlix/", relay.Path("files") + "/"));
  ASSERT_TRUE(ReplaceOnce(strRelay, "/var/spool/rsyslog", relay.Path("spool")));
  WriteBytes(relay.Path("relay.conf"), strRelay);
  const pid_t nRelay = StartRsyslogd(relay.Path("relay.conf"), relay.Path("relay.pid"), relay.Path("relay.log"));
  for (int i = 0; i < 1500 && !AcceptsConnection(nRelayPort); ++i) std::this_thread::sleep_for(20ms);

  constexpr size_t kRecords = 10;
  std::vector<std::vector<std::string>> aRecords;
  for (size_t n = 0; n < kRecords; ++n) aRecords.push_back(DayFileFields(n));
  WriteUtf16File(folder.LogFolder() + "/Vardlix20110408.xml", MakeLogText(aRecords));
  std::vector<std::string> aArgs = folder.ForwardArgs("relp://127.0.0.1:" + std::to_string(nRelayPort));
  aArgs.push_back("--from-start");
  CToolProcess forward(aArgs, folder.Path("forward.out"));
  EXPECT_EQ(store.WaitForMessages(kRecords, 30s), kRecords) << ReadBytes(relay.Path("relay.log"));
  forward.Interrupt();
  EXPECT_EQ(forward.Wait(), 0);
  kill(nRelay, SIGTERM);
  waitpid(nRelay, nullptr, 0);
  store.Stop();

  CSyslogSettings settings;
  settings.m_strHostName = HeaderValue(LocalHostName(), kMaxHostNameLength);
  settings.m_strAppName = "host";
  const std::vector<CSyslogMessage> aMessages = store.Messages();
  ASSERT_EQ(aMessages.size(), kRecords);
  for (size_t n = 0; n < kRecords; ++n) {
    CLogRecord record;
    std::vector<std::string> aFields = RecordFields(n);
    aFields.insert(aFields.begin(), "2011.04.08 10:00:00");
    std::copy(aFields.begin(), aFields.end(), record.m_aField.begin());
    record.m_strFile = "Vardlix20110408.xml";
    bool bCut = false;
    EXPECT_EQ(aMessages[n].m_strRaw, FormatSyslogMessage(record, settings, bCut, n + 1)) << "record " << n;
  }
  const std::string strDayFile = relay.Path("files/" + settings.m_strHostName + "/host-20110408.log");
  EXPECT_EQ(SplitLines(ReadBytes(strDayFile)).size(), kRecords) << strDayFile;
}

// Starts rsyslogd with the README's duplicate rule on nPort of 127.0.0.1:
// what it keeps goes to kept.log of the folder, every message it is given
// to all.log. Returns its process id, or -1 when the README has no rule.
pid_t StartDuplicateRule(const CScratchFolder& collector, int nPort) {
  std::string strRule;
  for (const auto& strBlock : ReadmeForwardingBlocks()) {
    if (IsRsyslogConfiguration(strBlock) && strBlock.find("mmpstrucdata") != std::string::npos) strRule = strBlock;
  }
  if (!ReplaceOnce(strRule, "input(type=\"imrelp\" port=\"2514\"",
                   "input(type=\"imrelp\" address=\"127.0.0.1\" port=\"" + std::to_string(nPort) + "\"") ||
      !ReplaceOnce(strRule, "/var/log/vardlix.log", collector.Path("kept.log")) ||
      !ReplaceOnce(strRule, "  action(type=\"mmpstrucdata\")",
                   "  action(type=\"omfile\" file=\"" + collector.Path("all.log") +
                       "\" template=\"line\")\n  action(type=\"mmpstrucdata\")")) {
    return -1;
  }
  WriteBytes(collector.Path("rsyslog.conf"), "global(workDirectory=\"" + collector.Path("") + "\")\n" + strRule);
  const pid_t nCollector =
      StartRsyslogd(collector.Path("rsyslog.conf"), collector.Path("rsyslog.pid"), collector.Path("rsyslog.log"));
  for (int i = 0; i < 1500 && !AcceptsConnection(nPort); ++i) std::this_thread::sleep_for(20ms);
  return nCollector;
}

// The README's rule that drops duplicates, as it stands there with a port
// and a file of the test's own, and an omfile before it that keeps every
// message it was given: a forwarder killed mid-stream and started again,
// then one whose checkpoint was lost (it sends every record again), and
// each record is in the rule's file once, in order, while the duplicates
// did reach the collector.
TEST(ForwardReadme, DuplicateRuleKeepsEachRecordOnceAfterAKillAndALostCheckpoint) {
  CForwardFolder folder;
  CScratchFolder collector;
  const int nPort = FreePort(SOCK_STREAM);
  const pid_t nCollector = StartDuplicateRule(collector, nPort);
  ASSERT_GT(nCollector, 0) << "no duplicate rule in the README, or not as the test expects it";

  constexpr size_t kRecords = 1000;
  WriteBacklog(folder.LogFolder(), kRecords);
  auto Lines = [&collector](const char* szFile) { return SplitLines(ReadBytes(collector.Path(szFile))).size(); };
  std::vector<std::string> aArgs = folder.ForwardArgs("relp://127.0.0.1:" + std::to_string(nPort));
  aArgs.insert(aArgs.end(), {"--rate", "500"});
  std::optional<CToolProcess> forward;
  forward.emplace(aArgs, folder.Path("forward.out"));
  for (int i = 0; i < 1500 && Lines("all.log") < kRecords / 2; ++i) std::this_thread::sleep_for(20ms);
  forward.reset();  // SIGKILL, mid-stream: the pace leaves a second's worth of records to go
  ASSERT_LT(Lines("all.log"), kRecords) << "the kill came after the last record";
  forward.emplace(aArgs, folder.Path("forward.out"));
  EXPECT_EQ(WaitUntilSettled([&] { return Lines("kept.log"); }, kRecords, 60s, 10s), kRecords);
  forward->Interrupt();
  EXPECT_EQ(forward->Wait(), 0);
  std::remove(folder.StatePath().c_str());
  const size_t nBefore = Lines("all.log");
  forward.emplace(aArgs, folder.Path("forward.out"));
  WaitUntilSettled([&] { return Lines("all.log"); }, nBefore + kRecords, 60s, 10s);
  forward->Interrupt();
  EXPECT_EQ(forward->Wait(), 0);
  kill(nCollector, SIGTERM);
  waitpid(nCollector, nullptr, 0);

  EXPECT_GE(Lines("all.log"), 2 * kRecords) << "the collector was not sent every record twice";
  std::cout << "duplicates the kill sent: " << nBefore - kRecords << "\n";
  std::vector<long> aNumbers;
  for (const auto& strLine : SplitLines(ReadBytes(collector.Path("kept.log")))) {
    aNumbers.push_back(RecordNumberOfMessage(strLine));
  }
  std::vector<long> aExpected(kRecords);
  for (size_t n = 0; n < kRecords; ++n) aExpected[n] = static_cast<long>(n);
  EXPECT_EQ(aNumbers, aExpected);
}

// --- The service unit ----------------------------------------------------------

// The README's configuration file is one that forward takes: --status
// looks for the status file of its first folder's checkpoint (a file
// forward refused would end it with 2, as it does one with a misspelt key). The unit that cmake --install puts
// under lib/systemd/system, as an instance, passes systemd-analyze verify
// without a word (it names unknown keys and missing programs and still
// exits 0 for some): with the program of this build in place of the
// installed one, which is not there yet. It is started again after a
// failure, after a pause, however often.
TEST(ForwardUnit, ReadmeConfigurationIsTakenAndTheUnitPassesSystemdAnalyzeVerify) {
  CScratchFolder scratch;
  size_t nConfigurations = 0;
  for (const auto& strBlock : ReadmeForwardingBlocks()) {
    if (strBlock.rfind("{", 0) != 0 || strBlock.find("\"folders\"") == std::string::npos) continue;
    const std::string strConfig = scratch.Path("config-" + std::to_string(nConfigurations++) + ".json");
    WriteBytes(strConfig, strBlock);
    const CToolResult result = RunTool({"forward", "--config", strConfig, "--status"});
    EXPECT_EQ(result.m_nStatus, 1) << strBlock << result.m_strErr;
    EXPECT_NE(result.m_strErr.find("no status file /var/lib/vardlix/"), std::string::npos) << result.m_strErr;
  }
  EXPECT_GE(nConfigurations, 1u) << "no configuration file in the README";
  // A misspelt key is no option, and is refused, not passed over.
  WriteBytes(scratch.Path("misspelt.json"),
             R"({"to": "relp://relay.example:2514", "folders": [{"folder": "/x", "hostnmae": "a"}]})");
  const CToolResult misspelt = RunTool({"forward", "--config", scratch.Path("misspelt.json")});
  EXPECT_EQ(misspelt.m_nStatus, 2) << misspelt.m_strErr;
  EXPECT_NE(misspelt.m_strErr.find("folder 1: \"hostnmae\" is no key of the file"), std::string::npos)
      << misspelt.m_strErr;
  // A pattern stands for the folders it matches now, each with its own
  // checkpoint in itself: not a file of that name, nor a "state" to share.
  std::filesystem::create_directories(scratch.Path("aLog"));
  std::filesystem::create_directories(scratch.Path("bLog"));
  WriteBytes(scratch.Path("cLog"), "");
  struct {
    std::string strFolders;
    int nStatus;
    std::vector<std::string> aSaid;
  } const kPatterns[] = {
      {"[\"" + scratch.Path("*Log") + "\"]", 1, {scratch.Path("aLog/forward-"), scratch.Path("bLog/forward-")}},
      {"[\"" + scratch.Path("*Nothing") + "\"]", 2, {"no folder matches"}},
      {"[{\"folder\": \"" + scratch.Path("*Log") + "\", \"state\": \"x.json\"}]", 2, {"takes no \"state\""}},
  };
  for (const auto& pattern : kPatterns) {
    WriteBytes(scratch.Path("pattern.json"), R"({"to": "relp://127.0.0.1:1", "folders": )" + pattern.strFolders + "}");
    const CToolResult result = RunTool({"forward", "--config", scratch.Path("pattern.json"), "--status"});
    EXPECT_EQ(result.m_nStatus, pattern.nStatus) << pattern.strFolders << result.m_strErr;
    for (const auto& strSaid : pattern.aSaid)
      EXPECT_NE(result.m_strErr.find(strSaid), std::string::npos) << result.m_strErr;
    EXPECT_EQ(result.m_strErr.find("cLog"), std::string::npos) << result.m_strErr;
  }
  if (std::system("command -v systemd-analyze > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no systemd-analyze (scripts/setup.sh installs systemd)";
  }
  std::string strUnit = ReadBytes(VARDLIX_FORWARD_UNIT);
  ASSERT_FALSE(strUnit.empty()) << VARDLIX_FORWARD_UNIT;
  for (const char* szLine : {"\nRestart=on-failure\n", "\nRestartSec=5s\n", "\nStartLimitIntervalSec=0\n",
                             "\nStateDirectory=vardlix\n", " forward --config /etc/vardlix/%i.json\n"}) {
    EXPECT_NE(strUnit.find(szLine), std::string::npos) << szLine << " not in\n" << strUnit;
  }
  const size_t nStart = strUnit.find("ExecStart=") + 10;
  ASSERT_TRUE(ReplaceOnce(strUnit, strUnit.substr(nStart, strUnit.find(' ', nStart) - nStart), VARDLIX_TOOL_PATH));
  const std::string strFile = scratch.Path("vardlix-forward@app.service");
  WriteBytes(strFile, strUnit);
  const std::string strCommand = "systemd-analyze verify '" + strFile + "' > '" + strFile + ".out' 2>&1";
  EXPECT_EQ(std::system(strCommand.c_str()), 0) << ReadBytes(strFile + ".out");
  EXPECT_EQ(ReadBytes(strFile + ".out"), "") << strUnit;
}

// --- syslog-ng -----------------------------------------------------------------

// syslog-ng and rsyslog cannot both be installed from Debian's packages:
// scripts/setup.sh unpacks syslog-ng's beside them, in kSyslogNgRoot, and
// the tests run it from there.
const std::string kSyslogNgRoot = "/opt/syslog-ng";
const std::string kSyslogNgVersion = "3.38";

// The README's syslog-ng configuration of a source ("syslog(" or
// "network("); empty when it has none.
std::string ReadmeSyslogNgBlock(const std::string& strSource) {
  for (const auto& strBlock : ReadmeForwardingBlocks()) {
    if (strBlock.rfind("@version:", 0) == 0 && strBlock.find("source s_vardlix { " + strSource) != std::string::npos) {
      return strBlock;
    }
  }
  return std::string();
}

// Runs syslog-ng from its unpacked package: with bCheck, --syntax-only (and
// waits for it), else in the foreground, killed when the test process ends.
pid_t StartSyslogNg(const CScratchFolder& folder, const std::string& strConf, bool bCheck) {
  const pid_t nPid = fork();
  if (nPid != 0) return nPid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  const int nLog = open(folder.Path("syslog-ng.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  dup2(nLog, 1);
  dup2(nLog, 2);
  setenv("LD_LIBRARY_PATH", (kSyslogNgRoot + "/usr/lib/syslog-ng").c_str(), 1);
  const std::string strModules = "--module-path=" + kSyslogNgRoot + "/usr/lib/syslog-ng/" + kSyslogNgVersion;
  const std::string strPersist = "--persist-file=" + folder.Path("syslog-ng.persist");
  const std::string strPid = "--pidfile=" + folder.Path("syslog-ng.pid");
  const std::string strControl = "--control=" + folder.Path("syslog-ng.ctl");
  const std::string strProgram = kSyslogNgRoot + "/usr/sbin/syslog-ng";
  execl(strProgram.c_str(), "syslog-ng", bCheck ? "--syntax-only" : "-F", strModules.c_str(), strPersist.c_str(),
        strPid.c_str(), strControl.c_str(), "-f", strConf.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

// Checks the README's configuration of strSource with --syntax-only, then
// starts it on nPort of 127.0.0.1, its files in the collector's folder.
void StartReadmeSyslogNg(const std::string& strSource, const CScratchFolder& collector, int nPort, pid_t& nPid) {
  std::string strConf = ReadmeSyslogNgBlock(strSource);
  ASSERT_FALSE(strConf.empty()) << "no syslog-ng configuration with " << strSource << " in the README";
  WriteBytes(collector.Path("readme.conf"), strConf);
  int nStatus = 0;
  waitpid(StartSyslogNg(collector, collector.Path("readme.conf"), true), &nStatus, 0);
  ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << ReadBytes(collector.Path("syslog-ng.log"));
  ASSERT_TRUE(ReplaceOnce(strConf, "port(2514)", "ip(\"127.0.0.1\") port(" + std::to_string(nPort) + ")"));
  ASSERT_TRUE(ReplaceOnce(strConf, "\"/var/log/vardlix/", "\"" + collector.Path("files") + "/"));
  WriteBytes(collector.Path("syslog-ng.conf"), strConf);
  nPid = StartSyslogNg(collector, collector.Path("syslog-ng.conf"), false);
  for (int i = 0; i < 1500 && !AcceptsConnection(nPort); ++i) std::this_thread::sleep_for(20ms);
}

// A syslog-ng source of the README's, and the framing the forwarder uses.
struct CSyslogNgCase {
  const char* szName;
  const char* szSource;  // "syslog(" or "network("
  const char* szFraming;
  bool bWhole;  // the records arrive whole; else the forwarder names the framing
};
void PrintTo(const CSyslogNgCase& row, std::ostream* pOut) { *pOut << row.szName; }
class ForwardToSyslogNg : public ::testing::TestWithParam<CSyslogNgCase> {};
INSTANTIATE_TEST_SUITE_P(
    Rows, ForwardToSyslogNg,
    ::testing::Values(
        CSyslogNgCase{"syslog_source_takes_octet_counted_records_whole", "syslog(", "octet", true},
        CSyslogNgCase{"network_source_with_framed_transport_takes_records_whole", "network(", "octet", true},
        CSyslogNgCase{"syslog_source_that_closes_on_line_framing_is_named_in_the_error", "syslog(", "lf", false}),
    [](const auto& info) { return std::string(info.param.szName); });

// The README's configuration of the row's source passes syslog-ng's
// --syntax-only; run as it stands there (with a port and a folder of the
// test's own) it files each record under the hostname sent and the
// record's day, every field as the day file holds it (syslog-ng drops one
// line feed at the end of a message); or the forwarder says that the
// collector closes on line framing.
TEST_P(ForwardToSyslogNg, ReadmeConfigurationTakesRecordsWholeOrTheFramingIsNamed) {
  const CSyslogNgCase& row = GetParam();
  if (access((kSyslogNgRoot + "/usr/sbin/syslog-ng").c_str(), X_OK) != 0) {
    GTEST_SKIP() << "syslog-ng is not unpacked in " << kSyslogNgRoot << " (scripts/setup.sh does it)";
  }
  CScratchFolder collector;
  const int nPort = FreePort(SOCK_STREAM);
  pid_t nCollector = -1;
  StartReadmeSyslogNg(row.szSource, collector, nPort, nCollector);
  ASSERT_GT(nCollector, 0);

  constexpr size_t kRecords = 10;
  CForwardFolder folder;
  std::vector<std::vector<std::string>> aRecords;
  for (size_t n = 0; n < kRecords; ++n) aRecords.push_back(DayFileFields(n));
  WriteUtf16File(folder.LogFolder() + "/Vardlix20110408.xml", MakeLogText(aRecords));
  std::vector<std::string> aArgs = folder.ForwardArgs("tcp://127.0.0.1:" + std::to_string(nPort));
  aArgs.insert(aArgs.end(), {"--hostname", "desk-17", "--framing", row.szFraming});
  CToolProcess forward(aArgs, folder.Path("forward.out"));
  const std::string strFile = collector.Path("files/desk-17/host-20110408.log");
  const std::string strHint = "is it expecting octet-counted framing?";
  auto Progress = [&] {
    return row.bWhole ? SplitLines(ReadBytes(strFile)).size()
           : ReadBytes(folder.Path("forward.out.err")).find(strHint) != std::string::npos ? 1u
                                                                                          : 0u;
  };
  WaitUntilSettled(Progress, row.bWhole ? kRecords : 1, 60s, 60s);
  forward.Interrupt();
  EXPECT_EQ(forward.Wait(), 0);
  kill(nCollector, SIGTERM);
  waitpid(nCollector, nullptr, 0);
  const std::string strErr = ReadBytes(folder.Path("forward.out.err"));
  if (!row.bWhole) {
    EXPECT_NE(strErr.find("the collector closed the connection after "), std::string::npos) << strErr;
    EXPECT_NE(strErr.find(strHint), std::string::npos) << strErr;
    return;
  }
  EXPECT_EQ(strErr.find(strHint), std::string::npos) << strErr;
  const std::vector<std::string> aLines = SplitLines(ReadBytes(strFile));
  ASSERT_EQ(aLines.size(), kRecords) << ReadBytes(collector.Path("syslog-ng.log"));
  for (size_t n = 0; n < kRecords; ++n) {
    const nlohmann::json message = nlohmann::json::parse(aLines[n]);
    const nlohmann::json& data = message["_SDATA"]["vardlix@32473"];
    const std::vector<std::string> aFields = RecordFields(n);
    std::string strText = aFields[4];
    if (!strText.empty() && strText.back() == '\n') strText.pop_back();
    EXPECT_EQ(data["record"], "20110408-" + std::to_string(n + 1)) << aLines[n];
    EXPECT_EQ(data["type"], aFields[0]) << aLines[n];
    EXPECT_EQ(data["location"], aFields[1]) << aLines[n];
    EXPECT_EQ(data["operation"], aFields[2]) << aLines[n];
    EXPECT_EQ(data["parameters"], aFields[3]) << aLines[n];
    EXPECT_EQ(message.value("MESSAGE", ""), strText) << aLines[n];
  }
}

}  // namespace
