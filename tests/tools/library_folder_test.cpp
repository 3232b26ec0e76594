// The tool on log folders that the library itself made: records written
// through `vardlix write` by a host copy of the tool, read back by every
// command, and followed while another process writes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tool_process.h"

namespace {

class LibraryFolder : public ::testing::Test {
 protected:
  void SetUp() override { m_strHost = MakeHost(m_folder); }

  // Runs the host copy: the library it loads keeps its logs in hostLog.
  CToolResult Host(const std::vector<std::string>& aArgs) { return RunTool(aArgs, {}, m_strHost); }
  std::string LogFolder() const { return m_folder.Path("hostLog"); }
  std::vector<nlohmann::json> ShowJson() {
    CToolResult result = RunTool({"show", "-d", LogFolder(), "-f", "json"});
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    // The same folder named by its host, through the library's rule.
    EXPECT_EQ(RunTool({"show", "--host", m_strHost, "-f", "json"}).m_strOut, result.m_strOut);
    std::vector<nlohmann::json> aObjects;
    for (const auto& strLine : SplitLines(result.m_strOut)) aObjects.push_back(nlohmann::json::parse(strLine));
    return aObjects;
  }

  CScratchFolder m_folder;
  std::string m_strHost;
};

TEST_F(LibraryFolder, WrittenRecordsReadBackUnchanged) {
  const std::vector<std::vector<std::string>> kRecords = {
      {"Info", "Main", "Start", "version=1", "plain ASCII"},
      {"信息", "主窗口", "打开文件", "路径=报表.xlsx", "已打开报表"},
      {"Warning", "Parser", "Compare", "a<b && c>d", "<tag> & \"quotes\" 'too'"},
      {"Debug", "", "Flush", "", ""},
      {"Error", "Net", "Connect", "port=443", "refused\nretried 3 times\nwill try again"},
  };
  for (const auto& aFields : kRecords) {
    std::vector<std::string> aArgs = {"write", "--"};
    aArgs.insert(aArgs.end(), aFields.begin(), aFields.end());
    CToolResult result = Host(aArgs);
    ASSERT_EQ(result.m_nStatus, 0) << result.m_strErr;
  }
  std::vector<nlohmann::json> aObjects = ShowJson();
  ASSERT_EQ(aObjects.size(), kRecords.size());
  const char* const kKeys[] = {"type", "location", "operation", "parameters", "description"};
  for (size_t i = 0; i < kRecords.size(); ++i) {
    for (size_t k = 0; k < 5; ++k) EXPECT_EQ(aObjects[i][kKeys[k]], kRecords[i][k]) << i << " " << kKeys[k];
    EXPECT_EQ(aObjects[i]["time"].get<std::string>().size(), 25u);  // with its offset
  }
  // The library escaped what needed escaping; xml shows it as stored.
  CToolResult xml = RunTool({"show", "-d", LogFolder(), "-f", "xml", "-t", "Warning"});
  EXPECT_NE(xml.m_strOut.find("<参数>a&lt;b &amp;&amp; c&gt;d</参数>"), std::string::npos) << xml.m_strOut;
  CToolResult empty = RunTool({"show", "-d", LogFolder(), "-f", "xml", "-t", "Debug"});
  EXPECT_NE(empty.m_strOut.find("<位置/>"), std::string::npos) << empty.m_strOut;
  CToolResult check = RunTool({"check", LogFolder() + "/" + aObjects[0]["file"].get<std::string>()});
  EXPECT_EQ(check.m_nStatus, 0);
  EXPECT_NE(check.m_strOut.find("well-formed day's log, 5 records"), std::string::npos) << check.m_strOut;
}

TEST_F(LibraryFolder, LifeSetsTheRetentionThatStatsReports) {
  struct {
    std::string strDays;
    bool bByHostPath;  // the plain tool with --host, not the host's own library
    int nStatus;
    std::string strOut;
  } const kCases[] = {
      {"", false, 0, "Retention 7 days in " + LogFolder()},  // the default, in the host's folder
      {"3", false, 0, "Retention 3 days in "},
      {"36500", false, 0, "Retention 36500 days"},
      {"36501", false, 2, ""},  // refused, nothing changed
      {"", false, 0, "Retention 36500 days"},
      {"2", true, 0,
       "Retention 2 days in " + LogFolder() + "\nA host that is running applies it at its next load of the library.\n"},
      {"", false, 0, "Retention 2 days in "},  // the host's library reads what --host wrote
      {"", true, 0, "Retention 2 days in " + LogFolder() + "\n"},
      {"1", false, 0, "Retention 1 day in "},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> aArgs = {"life"};
    if (!c.strDays.empty()) aArgs.push_back(c.strDays);
    if (c.bByHostPath) aArgs.insert(aArgs.begin() + 1, {"--host", m_strHost});
    CToolResult result = c.bByHostPath ? RunTool(aArgs) : Host(aArgs);
    EXPECT_EQ(result.m_nStatus, c.nStatus) << c.strDays << result.m_strErr;
    EXPECT_EQ(result.m_strOut.find(c.strOut), 0u) << c.strDays << " gave " << result.m_strOut;
  }
  ASSERT_EQ(Host({"write", "Info", "Main", "Open", "", ""}).m_nStatus, 0);
  ASSERT_EQ(Host({"write", "Error", "Main", "Open", "", ""}).m_nStatus, 0);
  ASSERT_EQ(Host({"write", "Info", "Main", "Close", "", ""}).m_nStatus, 0);
  CToolResult stats = RunTool({"stats", "--host", m_strHost});
  ASSERT_EQ(stats.m_nStatus, 0) << stats.m_strErr;
  std::string strDayName;
  for (const auto& entry : std::filesystem::directory_iterator(LogFolder())) {
    const std::string strName = entry.path().filename().string();
    if (std::regex_match(strName, std::regex(R"(Vardlix\d{8}\.xml)"))) strDayName = strName;
  }
  ASSERT_FALSE(strDayName.empty());
  EXPECT_NE(stats.m_strOut.find("Folder     " + LogFolder() + "\n"), std::string::npos) << stats.m_strOut;
  EXPECT_NE(stats.m_strOut.find("Retention  1 day (SettingInfo.xml holds \"1\")"), std::string::npos) << stats.m_strOut;
  EXPECT_NE(stats.m_strOut.find("        3"), std::string::npos) << stats.m_strOut;
  EXPECT_NE(stats.m_strOut.find("Info 2, Error 1 (errors 1, warnings 0)"), std::string::npos) << stats.m_strOut;
  // Created just now and kept for one day: due a day after its creation.
  EXPECT_TRUE(std::regex_search(stats.m_strOut, std::regex(R"(Vardlix\d{8}\.xml  deleted from \d{4}-\d\d-\d\d )"
                                                           R"(\d\d:\d\d:\d\d \(in (1 d 0 h|23 h \d+ min)\))")))
      << stats.m_strOut;
  // Logging switched off deletes the host's logs: only with --yes or the
  // word of a person at a terminal (script gives the tool a pseudo-terminal;
  // its input is the answer).
  const std::string strLife = std::string(VARDLIX_TOOL_PATH) + " life --host " + m_strHost + " 0";
  const std::string strDayLog = LogFolder() + "/" + strDayName;
  struct {
    std::vector<std::string> aArgs;
    std::string strProgram;  // empty: the tool
    int nStatus;
    std::string strOut;  // part of the output
    bool bDeleted;
  } const kLifeCases[] = {
      {{"life", "--host", m_strHost, "0"}, "", 2, "", false},                       // no terminal, no --yes
      {{"-qec", strLife, "/dev/null"}, "script", 1, "Nothing was changed", false},  // no answer
      {{"-c", "printf 'n\\n' | script -qec '" + strLife + "' /dev/null"}, "/bin/sh", 1, "[y/N]", false},
      {{"-c", "printf 'y\\n' | script -qec '" + strLife + "' /dev/null"}, "/bin/sh", 0, "Retention 0 days", true},
  };
  for (const auto& c : kLifeCases) {
    CToolResult result = RunTool(c.aArgs, {}, c.strProgram == "script" ? "/usr/bin/script" : c.strProgram);
    EXPECT_EQ(result.m_nStatus, c.nStatus) << c.aArgs.back() << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strOut.find(c.strOut), std::string::npos) << result.m_strOut;
    EXPECT_EQ(!std::filesystem::exists(strDayLog), c.bDeleted) << c.aArgs.back() << result.m_strOut;
    if (c.nStatus != 0) {
      EXPECT_NE((result.m_strOut + result.m_strErr).find(strDayName), std::string::npos);  // the list
    }
  }
  ASSERT_EQ(RunTool({"life", "--host", m_strHost, "0"}).m_nStatus, 0);  // nothing left to delete
  for (const auto& entry : std::filesystem::directory_iterator(LogFolder())) {
    EXPECT_EQ(entry.path().filename().string().rfind("Vardlix", 0), std::string::npos) << entry.path();
  }
  CToolResult off = Host({"write", "Info", "Main", "Open", "", ""});
  EXPECT_EQ(off.m_nStatus, 1);
  EXPECT_NE(off.m_strErr.find("did not arrive in " + LogFolder() + ": logging is off"), std::string::npos)
      << off.m_strErr;
}

TEST_F(LibraryFolder, StatsListsEveryFileThePurgeWouldTake) {
  ASSERT_EQ(Host({"life", "0"}).m_nStatus, 0);  // also creates the folder
  WriteBytes(LogFolder() + "/VardlixBackup.zip", "zip");
  WriteBytes(LogFolder() + "/vardlix20110101.xml", "other case");
  CToolResult stats = RunTool({"stats", "-d", LogFolder()});
  ASSERT_EQ(stats.m_nStatus, 0) << stats.m_strErr;
  EXPECT_NE(stats.m_strOut.find("Retention  0 days (logging off)"), std::string::npos) << stats.m_strOut;
  EXPECT_NE(stats.m_strOut.find("VardlixBackup.zip  deleted at the next purge"), std::string::npos) << stats.m_strOut;
  EXPECT_EQ(stats.m_strOut.find("vardlix20110101.xml"), std::string::npos) << stats.m_strOut;
}

TEST_F(LibraryFolder, FollowPrintsRecordsAnotherProcessWrites) {
  ASSERT_EQ(Host({"write", "Old", "Main", "Open", "", "before follow"}).m_nStatus, 0);
  CToolProcess follow({"follow", "--host", m_strHost, "-f", "json", "--lines", "0", "--interval", "20"},
                      m_folder.Path("follow.out"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(Host({"write", "New", "Main", "First", "", "one"}).m_nStatus, 0);
  ASSERT_EQ(Host({"write", "New", "Main", "Second", "", "two\nlines"}).m_nStatus, 0);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (SplitLines(follow.Output()).size() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  follow.Interrupt();
  EXPECT_EQ(follow.Wait(), 0);  // Ctrl-C ends it cleanly
  std::vector<std::string> aLines = SplitLines(follow.Output());
  ASSERT_EQ(aLines.size(), 2u) << follow.Output();
  EXPECT_EQ(nlohmann::json::parse(aLines[0])["operation"], "First");
  EXPECT_EQ(nlohmann::json::parse(aLines[1])["description"], "two\nlines");
}

TEST_F(LibraryFolder, FollowStartsWithTheLastMatchingRecordsOfTheDay) {
  for (const char* szOperation : {"a", "b", "skipped", "c"}) {
    ASSERT_EQ(Host({"write", szOperation == std::string("skipped") ? "Debug" : "Info", "Main", szOperation, "", ""})
                  .m_nStatus,
              0);
  }
  CToolProcess follow({"follow", "-d", LogFolder(), "-f", "csv", "-n", "2", "-t", "Info", "--interval", "20"},
                      m_folder.Path("follow.out"));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (SplitLines(follow.Output()).size() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  follow.Interrupt();
  EXPECT_EQ(follow.Wait(), 0);
  std::vector<std::string> aLines = SplitLines(follow.Output());
  ASSERT_EQ(aLines.size(), 3u) << follow.Output();
  EXPECT_EQ(aLines[0].rfind("time,type", 0), 0u);
  EXPECT_NE(aLines[1].find(",Info,Main,b,"), std::string::npos) << aLines[1];
  EXPECT_NE(aLines[2].find(",Info,Main,c,"), std::string::npos) << aLines[2];
}

}  // namespace
