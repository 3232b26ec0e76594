// The lnav format of tools/lnav/ against Debian's lnav, run headless with a
// home folder of the test's own: installed as a user installs it, it
// recognises the JSON Lines of `vardlix show --format json` with every
// field, the time (with its offset, which lnav 0.11 reads and leaves aside:
// it shows the time as the record has it) and the level that forward gives
// the same type.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "reading/record_category.h"
#include "tool_process.h"

namespace {

// The program's path from PATH, empty when it is not there.
std::string FindProgram(const std::string& strName) {
  const char* szPath = std::getenv("PATH");
  std::string strPath = std::string(szPath ? szPath : "") + ":/usr/bin";
  for (size_t nStart = 0; nStart <= strPath.size();) {
    size_t nEnd = strPath.find(':', nStart);
    if (nEnd == std::string::npos) nEnd = strPath.size();
    const std::filesystem::path candidate = std::filesystem::path(strPath.substr(nStart, nEnd - nStart)) / strName;
    if (nEnd > nStart && std::filesystem::exists(candidate)) return candidate.string();
    nStart = nEnd + 1;
  }
  return std::string();
}

TEST(LnavFormat, RecognisesEveryFieldAndTheLevelOfEachType) {
  const std::string strLnav = FindProgram("lnav");
  ASSERT_FALSE(strLnav.empty()) << "lnav is missing: scripts/setup.sh installs it";
  CScratchFolder folder;
  std::filesystem::create_directory(folder.Path("home"));
  const CEnvironment home = {{"HOME", folder.Path("home")}, {"XDG_CONFIG_HOME", ""}};
  CToolResult install = RunTool({"-i", VARDLIX_LNAV_FORMAT}, home, strLnav);
  ASSERT_EQ(install.m_nStatus, 0) << install.m_strOut << install.m_strErr;

  // Each type with the level it must get: the tool's one notion of errors
  // and warnings (CategoryOfType, checked below); the last ones are none.
  const std::pair<const char*, const char*> kLevels[] = {
      {"Error", "error"},     {"错误", "error"},     {"ERROR", "error"},
      {"Warning", "warning"}, {"警告", "warning"},   {"Info", "info"},
      {"信息", "info"},       {"Debug", "debug"},    {"调试", "debug"},
      {"Fatal", "error"},     {"CRITICAL", "error"}, {"Errors", "error"},
      {"WARN", "warning"},    {"Trace", "debug"},    {"warning: failed", "error"},
      {"Audit", "notice"},    {"审计", "notice"}};
  std::vector<std::vector<std::string>> aRecords;
  for (size_t i = 0; i < std::size(kLevels); ++i) {
    aRecords.push_back({"2011.04.08 09:05:" + std::string(i < 10 ? "0" : "") + std::to_string(i), kLevels[i].first,
                        "主窗口", "op-" + std::to_string(i), "报表=年度.xlsx; a&lt;b", "第一行\r\nsecond line"});
  }
  WriteUtf16File(folder.Path("Vardlix20110408.xml"), MakeLogText(aRecords));
  CToolResult show = RunTool({"show", "-d", folder.Path(), "20110408", "-f", "json", "--tz", "+08:00"});
  ASSERT_EQ(show.m_nStatus, 0) << show.m_strErr;
  ASSERT_NE(show.m_strOut.find("\"time\":\"2011-04-08T09:05:00+08:00\""), std::string::npos) << show.m_strOut;
  WriteBytes(folder.Path("records.jsonl"), show.m_strOut);

  CToolResult query = RunTool({"-n", "-c",
                               ";SELECT log_time, log_level, type, location, operation, parameters, log_body, file "
                               "FROM vardlix_log",
                               "-c", ":write-json-to -", folder.Path("records.jsonl")},
                              home, strLnav);
  ASSERT_EQ(query.m_nStatus, 0) << query.m_strErr;
  const nlohmann::json aRows = nlohmann::json::parse(query.m_strOut, nullptr, false);
  ASSERT_TRUE(aRows.is_array()) << query.m_strOut << query.m_strErr;
  ASSERT_EQ(aRows.size(), std::size(kLevels)) << query.m_strOut;
  for (size_t i = 0; i < aRows.size(); ++i) {
    const nlohmann::json& row = aRows[i];
    SCOPED_TRACE(kLevels[i].first);
    EXPECT_EQ(row["log_level"], kLevels[i].second);
    static const char* const kCategoryLevels[] = {"error", "warning", "info", "debug", "notice"};
    EXPECT_STREQ(kCategoryLevels[CategoryOfType(kLevels[i].first)], kLevels[i].second);
    EXPECT_EQ(row["log_time"], "2011-04-08 09:05:" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".000");
    EXPECT_EQ(row["type"], kLevels[i].first);
    EXPECT_EQ(row["location"], "主窗口");
    EXPECT_EQ(row["operation"], "op-" + std::to_string(i));
    EXPECT_EQ(row["parameters"], "报表=年度.xlsx; a<b");
    EXPECT_EQ(row["log_body"], "第一行\r\nsecond line");
    EXPECT_EQ(row["file"], "Vardlix20110408.xml");
  }
}

}  // namespace
