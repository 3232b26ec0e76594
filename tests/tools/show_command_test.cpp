// vardlix show through its command line, on hand-made day logs; and the
// page of vardlix report in a real headless Chromium.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "base/display_width.h"
#include "tool_process.h"

namespace {

// A folder with one day's log of four records at known times.
class ShowCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteUtf16File(m_folder.Path("Vardlix20110408.xml"),
                   MakeLogText({{"2011.04.08 08:00:00", "Info", "Main", "Open", "a&amp;b", "first"},
                                {"2011.04.08 09:30:00", "Error", "网络", "连接", "", "line one\r\nline two"},
                                {"2011.04.08 12:00:00", "Warning", "Parser", "Read", "x&lt;y", "Quote \"q\", comma"},
                                {"2011.04.08 18:45:10", "info", "Main", "Close", "", "<![CDATA[<raw>&amp;]]>"}}));
    // The next day, for windows across midnight.
    WriteUtf16File(m_folder.Path("Vardlix20110409.xml"),
                   MakeLogText({{"2011.04.09 00:00:00", "Fatal", "Main", "Stop", "", "midnight"},
                                {"2011.04.09 08:00:00", "Debug", "Cache", "Flush", "", ""}}));
  }

  CToolResult Show(std::vector<std::string> aArgs, const CEnvironment& environment = {}) {
    aArgs.insert(aArgs.begin(), {"show", "--folder", m_folder.Path(), "20110408"});
    return RunTool(aArgs, environment);
  }

  // The type of each JSON line printed for these arguments.
  std::vector<std::string> TypesShown(std::vector<std::string> aArgs) {
    aArgs.insert(aArgs.end(), {"--format", "json"});
    CToolResult result = Show(aArgs);
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    std::vector<std::string> aTypes;
    for (const auto& strLine : SplitLines(result.m_strOut)) aTypes.push_back(nlohmann::json::parse(strLine)["type"]);
    return aTypes;
  }

  CScratchFolder m_folder;
};

using Types = std::vector<std::string>;

TEST_F(ShowCommand, FiltersCombine) {
  struct {
    std::vector<std::string> aArgs;
    Types aExpected;
  } const kCases[] = {
      {{}, {"Info", "Error", "Warning", "info"}},
      {{"--type", "Info"}, {"Info"}},
      {{"-t", "Info", "-t", "Error"}, {"Info", "Error"}},
      {{"--grep", "main"}, {}},
      {{"--grep", "main", "-i"}, {"Info", "info"}},
      {{"--grep", "网络"}, {"Error"}},
      {{"--grep", "<raw>"}, {"info"}},  // data, not markup, is searched
      {{"--grep", "&amp;"}, {"info"}},  // CDATA is taken as it stands
      {{"--since", "09:30"}, {"Error", "Warning", "info"}},
      {{"--until", "2011.04.08 12:00:00"}, {"Info", "Error", "Warning"}},
      {{"--since", "09:00", "--until", "12:00"}, {"Error", "Warning"}},
      {{"--since", "2011.04.09 00:00:00"}, {}},
      {{"--limit", "2"}, {"Info", "Error"}},
      {{"--reverse", "--limit", "2"}, {"info", "Warning"}},
      {{"--type", "info", "--type", "Info", "--reverse"}, {"info", "Info"}},
      {{"--grep", "Main", "--since", "12:00"}, {"info"}},
      // One continuous period over the days read, across midnight.
      {{"20110409", "--since", "18:00", "--until", "00:00:30"}, {"info", "Fatal"}},
      {{"20110409", "--since", "12:00", "--until", "08:00"}, {"Warning", "info", "Fatal", "Debug"}},
      {{"20110409", "--since", "09:00", "--until", "00:00"}, {"Error", "Warning", "info", "Fatal"}},
      {{"20110409", "--since", "6pm", "--until", "2011-04-08"}, {"info"}},  // a day ends at 23:59:59
      {{"--since", "18:00", "--until", "09:00"}, {"info"}},                 // one day: up to 09:00 of the next
      {{"--location", "Main"}, {"Info", "info"}},
      {{"--location", "main"}, {}},
      {{"--operation", "~e"}, {"Info", "Warning", "info"}},  // '~': the operation holds it
      {{"--location", "~a", "--operation", "~ose"}, {"info"}},
      {{"--operation", "Clos"}, {}},  // exact without '~'
      {{"--regex", "^line one\r\nline"}, {"Error"}},
      {{"--regex", "[A-Z]\\w+ \"q\""}, {"Warning"}},
      {{"--regex", "^(Open|Close)$", "--type", "info"}, {"info"}},
      {{"20110409", "--errors"}, {"Error", "Fatal"}},  // Fatal is an error, as in the report and lnav
      {{"20110409", "--warnings"}, {"Warning"}},
      {{"20110409", "--errors", "--warnings"}, {"Error", "Warning", "Fatal"}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(TypesShown(c.aArgs), c.aExpected) << ::testing::PrintToString(c.aArgs);
  }
}

TEST_F(ShowCommand, JsonLinesCarryEveryFieldDecoded) {
  CToolResult result = Show({"--format", "json", "--tz", "Asia/Shanghai"});
  ASSERT_EQ(result.m_nStatus, 0) << result.m_strErr;
  std::vector<std::string> aLines = SplitLines(result.m_strOut);
  ASSERT_EQ(aLines.size(), 4u);
  nlohmann::json second = nlohmann::json::parse(aLines[1]);
  EXPECT_EQ(second["time"], "2011-04-08T09:30:00+08:00");
  EXPECT_EQ(second["epoch"], 1302226200);  // 01:30 UTC
  EXPECT_EQ(second["location"], "网络");
  EXPECT_EQ(second["description"], "line one\r\nline two");
  EXPECT_EQ(second["parameters"], "");
  EXPECT_EQ(second["file"], "Vardlix20110408.xml");
  EXPECT_EQ(nlohmann::json::parse(aLines[0])["parameters"], "a&b");
  EXPECT_EQ(nlohmann::json::parse(aLines[3])["description"], "<raw>&amp;");
}

TEST_F(ShowCommand, CsvQuotesWhatNeedsQuotingAndDisarmsFormulas) {
  // Every cell that a spreadsheet would take for a formula.
  WriteUtf16File(m_folder.Path("Vardlix20110409.xml"),
                 MakeLogText({{"2011.04.09 08:00:00", "+x", "=1+1", "-5", "@SUM(A1)", "\tTab"},
                              {"2011.04.09 08:00:01", "Info", "\rcr", "", "", ""}}));
  const std::string strHeader = "time,type,location,operation,parameters,description,file\r\n";
  const std::string strSelected =
      "2011-04-08T09:30:00+00:00,Error,网络,连接,,\"line one\r\nline two\",Vardlix20110408.xml\r\n"
      "2011-04-08T12:00:00+00:00,Warning,Parser,Read,x<y,\"Quote \"\"q\"\", comma\",Vardlix20110408.xml\r\n";
  struct {
    std::vector<std::string> aArgs;
    std::string strExpected;
  } const kCases[] = {
      {{"20110408", "--type", "Warning", "--type", "Error"}, strHeader + strSelected},
      {{"20110408", "--type", "Warning", "--type", "Error", "--bom"}, "\xEF\xBB\xBF" + strHeader + strSelected},
      {{"20110409"},
       strHeader + "2011-04-09T08:00:00+00:00,'+x,'=1+1,'-5,'@SUM(A1),'\tTab,Vardlix20110409.xml\r\n"
                   "2011-04-09T08:00:01+00:00,Info,\"'\rcr\",,,,Vardlix20110409.xml\r\n"},
      {{"20110409", "--keep-formulas"},
       strHeader + "2011-04-09T08:00:00+00:00,+x,=1+1,-5,@SUM(A1),\tTab,Vardlix20110409.xml\r\n"
                   "2011-04-09T08:00:01+00:00,Info,\"\rcr\",,,,Vardlix20110409.xml\r\n"},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> aArgs = {"show", "--folder", m_folder.Path(), "--format", "csv"};
    aArgs.insert(aArgs.end(), c.aArgs.begin(), c.aArgs.end());
    CToolResult result = RunTool(aArgs, {{"TZ", "UTC"}});
    ASSERT_EQ(result.m_nStatus, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strOut, c.strExpected) << ::testing::PrintToString(c.aArgs);
  }
}

TEST_F(ShowCommand, XmlPassesTheSelectedRecordsThroughUnchanged) {
  CToolResult result = Show({"--format", "xml", "--type", "info"});
  ASSERT_EQ(result.m_nStatus, 0) << result.m_strErr;
  EXPECT_EQ(result.m_strOut,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<日志>\r\n<记录>\r\n"
            "<时间>2011.04.08 18:45:10</时间>\r\n<类型>info</类型>\r\n<位置>Main</位置>\r\n"
            "<操作>Close</操作>\r\n<参数></参数>\r\n<描述><![CDATA[<raw>&amp;]]></描述>\r\n</记录>\r\n</日志>\r\n");
}

// The display column where each cell of a table line starts, found from the
// header's column starts.
TEST_F(ShowCommand, TableColumnsLineUpInCellsWithWideCharacters) {
  CToolResult result = Show({"--color", "never"}, {{"COLUMNS", ""}});
  ASSERT_EQ(result.m_nStatus, 0) << result.m_strErr;
  std::vector<std::string> aLines = SplitLines(result.m_strOut);
  ASSERT_EQ(aLines.size(), 6u);  // header, four records, one continuation line
  const std::string& strHeader = aLines[0];
  int nDescription = DisplayWidth(strHeader.substr(0, strHeader.find("DESCRIPTION")));
  int nLocation = DisplayWidth(strHeader.substr(0, strHeader.find("LOCATION")));
  EXPECT_EQ(DisplayWidth(aLines[2].substr(0, aLines[2].find("网络"))), nLocation);
  EXPECT_EQ(DisplayWidth(aLines[2].substr(0, aLines[2].find("line one"))), nDescription);
  EXPECT_EQ(DisplayWidth(aLines[3].substr(0, aLines[3].find("line two"))), nDescription);
  EXPECT_EQ(aLines[3].find_first_not_of(' '), aLines[3].find("line two"));
}

TEST_F(ShowCommand, LongFieldsAreCutToTheWidthUnlessWide) {
  struct {
    std::vector<std::string> aArgs;
    bool bCut;
  } const kCases[] = {{{}, true}, {{"--wide"}, false}};
  for (const auto& c : kCases) {
    CToolResult result = Show(c.aArgs, {{"COLUMNS", "60"}});
    ASSERT_EQ(result.m_nStatus, 0) << result.m_strErr;
    bool bAnyCut = false;
    for (const auto& strLine : SplitLines(result.m_strOut)) {
      if (c.bCut) {
        EXPECT_LE(DisplayWidth(strLine), 60) << strLine;
      }
      bAnyCut |= strLine.find("…") != std::string::npos;
    }
    EXPECT_EQ(bAnyCut, c.bCut);
  }
}

TEST_F(ShowCommand, ColourOnlyWhenAskedForOrOnATerminal) {
  struct {
    std::vector<std::string> aArgs;
    CEnvironment environment;
    bool bColour;
  } const kCases[] = {
      {{"--color", "always"}, {}, true},
      {{"--color", "never"}, {}, false},
      {{}, {}, false},  // the output is a file, not a terminal
      {{}, {{"NO_COLOR", "1"}}, false},
  };
  for (const auto& c : kCases) {
    CToolResult result = Show(c.aArgs, c.environment);
    ASSERT_EQ(result.m_nStatus, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strOut.find("\x1b[") != std::string::npos, c.bColour) << ::testing::PrintToString(c.aArgs);
  }
  // Errors are red, warnings yellow.
  CToolResult result = Show({"--color", "always"});
  EXPECT_NE(result.m_strOut.find("\x1b[31mError"), std::string::npos);
  EXPECT_NE(result.m_strOut.find("\x1b[33mWarning"), std::string::npos);
}

// On a terminal (script(1) gives the tool one) output longer than the
// screen goes through the pager, here one that keeps what it is given in a
// file; output that fits, --no-pager, "cat", a pager that is nowhere to run
// and a pipe never page. The
// fixture's table is 6 lines: a header, four records, one line more.
TEST_F(ShowCommand, PagesOnlyATerminalsOutputLongerThanTheScreen) {
  const std::string strPaged = m_folder.Path("paged");
  const std::string strPager = "cat > '" + strPaged + "'";
  struct {
    std::vector<std::string> aArgs;
    CEnvironment environment;
    bool bTerminal;
    bool bPaged;
  } const kCases[] = {
      {{}, {{"LINES", "6"}, {"VARDLIX_PAGER", strPager}}, true, true},  // a screen of 6 shows 5 beside the prompt
      {{}, {{"LINES", "7"}, {"VARDLIX_PAGER", strPager}}, true, false},
      {{}, {{"LINES", "4"}, {"VARDLIX_PAGER", ""}, {"PAGER", strPager}}, true, true},
      {{}, {{"LINES", "4"}, {"VARDLIX_PAGER", "cat"}, {"PAGER", strPager}}, true, false},
      {{"--no-pager"}, {{"LINES", "4"}, {"VARDLIX_PAGER", strPager}}, true, false},
      {{}, {{"LINES", "4"}, {"VARDLIX_PAGER", "no-such-pager --x"}}, true, false},  // the screen, not lost
      {{}, {{"LINES", "4"}, {"VARDLIX_PAGER", strPager}}, false, false},            // a pipe
  };
  for (const auto& c : kCases) {
    std::remove(strPaged.c_str());
    std::vector<std::string> aArgs = {"show", "--folder", m_folder.Path(), "20110408", "--color", "never"};
    aArgs.insert(aArgs.end(), c.aArgs.begin(), c.aArgs.end());
    CEnvironment environment = c.environment;
    environment.push_back({"COLUMNS", "200"});
    std::string strCommand = std::string("'") + VARDLIX_TOOL_PATH + "'";
    for (const std::string& strArg : aArgs) strCommand += " '" + strArg + "'";
    CToolResult result = c.bTerminal ? RunTool({"-qec", strCommand, "/dev/null"}, environment, "/usr/bin/script")
                                     : RunTool(aArgs, environment);
    const std::string strCase = ::testing::PrintToString(c.environment) + ::testing::PrintToString(c.aArgs);
    ASSERT_EQ(result.m_nStatus, 0) << strCase << result.m_strErr;
    const std::string strThroughPager = c.bPaged ? ReadBytes(strPaged) : std::string();
    EXPECT_EQ(std::filesystem::exists(strPaged), c.bPaged) << strCase;
    EXPECT_NE((c.bPaged ? strThroughPager : result.m_strOut).find("line two"), std::string::npos) << strCase;
    EXPECT_EQ(result.m_strOut.find("line two") == std::string::npos, c.bPaged) << strCase;
  }
  // report's page never goes to a terminal: into a new file of the current
  // folder, named after the day, and the terminal says which.
  const std::string strReport =
      std::string("cd '") + m_folder.Path() + "' && '" + VARDLIX_TOOL_PATH + "' report --folder . 20110408";
  for (const char* szName : {"vardlix-report-20110408.html", "vardlix-report-20110408-2.html"}) {
    const CToolResult report = RunTool({"-qec", strReport, "/dev/null"}, {}, "/usr/bin/script");
    ASSERT_EQ(report.m_nStatus, 0) << report.m_strErr;
    EXPECT_NE(report.m_strOut.find(std::string("written to ") + szName), std::string::npos) << report.m_strOut;
    EXPECT_EQ(report.m_strOut.find("<html"), std::string::npos);
    EXPECT_NE(ReadBytes(m_folder.Path(szName)).find("<html"), std::string::npos) << szName;
  }
}

// Escape sequences, C1 and bidi controls in a file would otherwise reach
// the terminal: through the table, show's warnings, check and stats.
TEST(ShowControlCharacters, NeverReachTheTerminalRaw) {
  CScratchFolder folder;
  WriteUtf16File(folder.Path("Vardlix20110408.xml"),
                 MakeLogText({{"2011.04.08 08:00:00", "Info\x1b[31m", "\x1b[2J", "tab\there",
                               "\xE2\x80\xAE"
                               "desrever",
                               "bell\x07 \xC2\x9B"
                               "31m"}}));
  WriteUtf16File(folder.Path("foreign.xml"), "<?xml version=\"1.0\" encoding=\"\x1b[31m\"?>\r\n"
                                             "<a\x1b[2J\xE2\x80\xAE>x</a\x1b[2J\xE2\x80\xAE>");
  const std::string strForeign = folder.Path("foreign.xml");
  struct {
    std::vector<std::string> aArgs;
    std::string strVisible;  // how one of them shows
  } const kCases[] = {
      {{"show", "-d", folder.Path(), "20110408", "--color", "never"}, "^[[2J"},
      {{"show", "-d", folder.Path(), "20110408", "--color", "never"}, "tab here"},
      {{"show", "-d", folder.Path(), "20110408", "--color", "never"}, "<U+202E>desrever"},
      {{"show", "-d", folder.Path(), "20110408", "--color", "never"}, "bell^G <U+009B>31m"},
      {{"show", strForeign}, "its top element is <a^[[2J<U+202E>>"},  // the warning
      {{"check", strForeign}, "encoding name \"^[[31m\""},
      {{"check", strForeign}, "its top element is <a^[[2J<U+202E>>"},
      {{"stats", "-d", folder.Path()}, "Info^[[31m 1"},
  };
  for (const auto& c : kCases) {
    CToolResult result = RunTool(c.aArgs);
    const std::string strShown = result.m_strOut + result.m_strErr;
    for (const char* szRaw : {"\x1b", "\x07", "\xE2\x80\xAE", "\xC2\x9B"}) {
      EXPECT_EQ(strShown.find(szRaw), std::string::npos) << ::testing::PrintToString(c.aArgs) << strShown;
    }
    EXPECT_NE(strShown.find(c.strVisible), std::string::npos) << ::testing::PrintToString(c.aArgs) << strShown;
  }
  // The machine formats keep the data as it is.
  CToolResult json = RunTool({"show", "-d", folder.Path(), "20110408", "-f", "json"});
  EXPECT_EQ(nlohmann::json::parse(json.m_strOut)["location"], "\x1b[2J");
}

// Days are read a few at once and shown in order: the first day is far
// larger than the others, so that the later ones are read first, and the
// order shown must not follow the order read. Every case is run on one
// reading thread and on four, whatever the machine's cores, with the same
// output, warnings included.
TEST(ShowFiles, ReadsDaysAndFilesInTheOrderGiven) {
  CScratchFolder folder;
  const std::vector<std::vector<std::string>> aBigDay(20000, {"2011.04.08 08:00:00", "A", "", "", "", ""});
  WriteUtf16File(folder.Path("Vardlix20110408.xml"), MakeLogText(aBigDay));
  WriteUtf16File(folder.Path("Vardlix20110409.xml"), MakeLogText({{"2011.04.09 08:00:00", "B", "", "", "", ""}}));
  // Records that wait: in the day's pending file, then in a process's own.
  WriteUtf16File(folder.Path("Vardlix20110409.77.pending"),
                 MakeLogText({{"2011.04.09 08:00:02", "D", "", "", "", ""}}));
  WriteUtf16File(folder.Path("Vardlix20110409.pending"), MakeLogText({{"2011.04.09 08:00:01", "C", "", "", "", ""}}));
  // Without byte-order mark: narrow text, UTF-8 here.
  WriteBytes(folder.Path("copy.xml"), MakeLogText({{"2011.04.10 08:00:00", "无标记", "", "", "", ""}}));
  // Damaged files, each warned of at its turn: a large one before a small one.
  const std::vector<std::vector<std::string>> aBigCut(20000, {"2011.04.11 08:00:00", "G", "", "", "", ""});
  auto Cut = [](const std::string& strText) { return strText.substr(0, strText.rfind("</日志>")); };
  WriteUtf16File(folder.Path("cut-big.xml"), Cut(MakeLogText(aBigCut)));
  WriteUtf16File(folder.Path("cut-small.xml"), Cut(MakeLogText({{"2011.04.12 08:00:00", "H", "", "", "", ""}})));
  struct {
    std::vector<std::string> aArgs;
    std::string strExpected;     // types, then files, in order, each run of one shown once
    std::string strWarned = "";  // the files warned of, in order
  } const kCases[] = {
      {{"2011-04-09", "20110408"},
       "B C D A Vardlix20110409.xml Vardlix20110409.pending Vardlix20110409.77.pending Vardlix20110408.xml"},
      {{"--all"}, "A B C D Vardlix20110408.xml Vardlix20110409.xml Vardlix20110409.pending Vardlix20110409.77.pending"},
      {{"Vardlix20110409.xml"},  // a name in the folder
       "B C D Vardlix20110409.xml Vardlix20110409.pending Vardlix20110409.77.pending"},
      {{folder.Path("copy.xml")}, "无标记 copy.xml"},
      {{"2011-04-07..2011-04-12"},  // the days with a log
       "A B C D Vardlix20110408.xml Vardlix20110409.xml Vardlix20110409.pending Vardlix20110409.77.pending"},
      {{"--since", "2011-04-08 12:00", "--until", "2011-04-09"},  // the window's days
       "B C D Vardlix20110409.xml Vardlix20110409.pending Vardlix20110409.77.pending"},
      {{"cut-big.xml", "20110409", "cut-small.xml"},
       "G B C D H cut-big.xml Vardlix20110409.xml Vardlix20110409.pending Vardlix20110409.77.pending cut-small.xml",
       "cut-big.xml cut-small.xml"},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> aArgs = {"show", "-d", folder.Path(), "-f", "json"};
    aArgs.insert(aArgs.end(), c.aArgs.begin(), c.aArgs.end());
    CToolResult result = RunTool(aArgs, {{"VARDLIX_READING_THREADS", "4"}});
    ASSERT_EQ(result.m_nStatus, c.strWarned.empty() ? 0 : 1) << result.m_strErr;
    std::string strTypes, strFiles, strLastType, strLastFile;
    for (const auto& strLine : SplitLines(result.m_strOut)) {
      auto object = nlohmann::json::parse(strLine);
      if (object["type"] != strLastType) strTypes += object["type"].get<std::string>() + " ";
      if (object["file"] != strLastFile) strFiles += " " + object["file"].get<std::string>();
      strLastType = object["type"], strLastFile = object["file"];
    }
    EXPECT_EQ(strTypes + strFiles.substr(1), c.strExpected);
    std::string strWarned;
    for (const auto& strLine : SplitLines(result.m_strErr)) {
      const std::string strPath = strLine.substr(9, strLine.find(": ", 9) - 9);  // after "vardlix: "
      strWarned += (strWarned.empty() ? "" : " ") + strPath.substr(strPath.rfind('/') + 1);
    }
    EXPECT_EQ(strWarned, c.strWarned) << result.m_strErr;
    CToolResult one = RunTool(aArgs, {{"VARDLIX_READING_THREADS", "1"}});
    EXPECT_EQ(one.m_strOut, result.m_strOut);
    EXPECT_EQ(one.m_strErr, result.m_strErr);
  }
}

// A Python that has Debian's python3-selenium: the one CMake found, or the
// system's, where apt puts the package.
std::string SeleniumPython() {
  for (const char* szPython : {VARDLIX_PYTHON, "/usr/bin/python3"}) {
    if (RunTool({"-c", "import selenium"}, {}, szPython).m_nStatus == 0) return szPython;
  }
  return std::string();
}

// The table's cells of one column, as the page shows them.
std::vector<std::string> Column(const nlohmann::json& aRows, int iCell) {
  std::vector<std::string> aCells;
  for (const auto& row : aRows) aCells.push_back(row[iCell]);
  return aCells;
}

// Each type's colour on a page, from its box in the filter.
std::map<std::string, std::string> TypeColours(const std::string& strHtml) {
  std::map<std::string, std::string> aColours;
  const std::regex box("data-name=\"([^\"]*)\"><span class=\"swatch\" style=\"background:([^\"]*)\"");
  for (std::sregex_iterator it(strHtml.begin(), strHtml.end(), box), end; it != end; ++it) {
    aColours[(*it)[1]] = (*it)[2];
  }
  return aColours;
}

int Hue(const std::string& strColour) { return std::stoi(strColour.substr(strColour.find('(') + 1)); }

nlohmann::json SeePage(const std::string& strPage, const std::vector<std::string>& aActions) {
  const std::string strPython = SeleniumPython();
  EXPECT_FALSE(strPython.empty()) << "python3-selenium is missing: scripts/setup.sh installs it";
  std::vector<std::string> aArgs = {VARDLIX_REPORT_PAGE, strPage};
  aArgs.insert(aArgs.end(), aActions.begin(), aActions.end());
  CToolResult browser = RunTool(aArgs, {}, strPython);
  EXPECT_EQ(browser.m_nStatus, 0) << browser.m_strErr;
  return browser.m_nStatus == 0 ? nlohmann::json::parse(browser.m_strOut) : nlohmann::json::object();
}

// The page of a day with a record waiting beside its file, its table held
// to four rows: Chromium draws a bar per hour with a segment per type, the
// table keeps the errors and warnings and spreads the rest, and its
// filters, its sorting and its long records' switch show the rows they
// should, set by clicking and typing or by the address; a phone's screen
// shows it without sideways scrolling; a type has the same colour in a
// report of other days.
TEST(Report, ChromiumDrawsTheTimelineAndFiltersTheTable) {
  CScratchFolder folder;
  WriteUtf16File(folder.Path("Vardlix20110408.xml"),
                 MakeLogText({{"2011.04.08 08:05:00", "Info", "Main", "Start", "", "started"},
                              {"2011.04.08 08:10:00", "错误", "网络", "连接", "", "连接被拒绝\r\n第二行\r\n第三行"},
                              {"2011.04.08 08:20:00", "Info", "Main", "Read", "", "read"},
                              {"2011.04.08 10:00:00", "Warning", "Parser", "Compare", "a&lt;b",
                               "\xE2\x80\xAE"
                               "x"},
                              {"2011.04.08 10:30:00", "信息", "主窗口", "打开文件", "报表=x.xlsx", "已打开"}}));
  WriteUtf16File(folder.Path("Vardlix20110408.pending"),
                 MakeLogText({{"2011.04.08 10:45:00", "错误", "网络", "重试", "", "refused again"}}));
  // Other days, other types first, other counts.
  WriteUtf16File(folder.Path("Vardlix20110409.xml"), MakeLogText({{"2011.04.09 08:00:00", "Debug", "", "", "", ""},
                                                                  {"2011.04.09 08:00:00", "Warning", "", "", "", ""},
                                                                  {"2011.04.09 08:00:00", "Warning", "", "", "", ""},
                                                                  {"2011.04.09 08:00:00", "Info", "", "", "", ""},
                                                                  {"2011.04.09 08:00:00", "错误", "", "", "", ""}}));
  const std::string strPage = folder.Path("report.html"), strOtherPage = folder.Path("other.html");
  CToolResult report = RunTool({"report", "-d", folder.Path(), "20110408", "--rows", "4", "-o", strPage});
  ASSERT_EQ(report.m_nStatus, 0) << report.m_strErr;
  ASSERT_EQ(RunTool({"report", "-d", folder.Path(), "20110409", "-o", strOtherPage}).m_nStatus, 0);
  // Nothing in it points anywhere.
  const std::string strHtml = ReadBytes(strPage);
  for (const char* szLink : {"src=", "href=", "url(", "http:", "https:", "@import"}) {
    EXPECT_EQ(strHtml.find(szLink), std::string::npos) << szLink;
  }
  const std::map<std::string, std::string> aColours = TypeColours(strHtml),
                                           aOtherColours = TypeColours(ReadBytes(strOtherPage));
  ASSERT_EQ(aColours.size(), 4u);
  for (const char* szType : {"Info", "Warning", "错误"})
    EXPECT_EQ(aColours.at(szType), aOtherColours.at(szType)) << szType;
  EXPECT_TRUE(Hue(aColours.at("错误")) >= 352 || Hue(aColours.at("错误")) <= 3) << aColours.at("错误");  // a red
  EXPECT_TRUE(Hue(aColours.at("Warning")) >= 32 && Hue(aColours.at("Warning")) <= 43) << aColours.at("Warning");

  const nlohmann::json seen = SeePage(strPage, {"错误", "again", "start", "2011-04-08 10:00"});
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen["resources"], 0);
  // A bar per hour of the day; the two hours with records stacked by type.
  ASSERT_EQ(seen["bars"].size(), 24u);
  std::map<std::string, std::map<std::string, int>> aCounts;
  std::map<std::string, std::map<std::string, double>> aHeights;
  for (const auto& bar : seen["bars"]) {
    for (const auto& segment : bar["segments"]) {
      aCounts[bar["bucket"]][segment["type"]] = segment["count"];
      aHeights[bar["bucket"]][segment["type"]] = segment["height"];
    }
  }
  const std::map<std::string, std::map<std::string, int>> kExpected = {
      {"2011-04-08 08:00", {{"Info", 2}, {"错误", 1}}},
      {"2011-04-08 10:00", {{"Warning", 1}, {"信息", 1}, {"错误", 1}}}};
  EXPECT_EQ(aCounts, kExpected);
  EXPECT_GT(aHeights["2011-04-08 08:00"]["错误"], 10.0);
  EXPECT_NEAR(aHeights["2011-04-08 08:00"]["Info"], 2 * aHeights["2011-04-08 08:00"]["错误"], 0.5);
  EXPECT_NEAR(seen["bars"][8]["height"].get<double>(), seen["bars"][10]["height"].get<double>(), 0.5);
  EXPECT_EQ(seen["bars"][9]["height"], 0);

  // Four rows: the errors and the warning, and one of the others, from the
  // start of the period; the counts beside the filters are the table's.
  const std::string strLong = "连接被拒绝\n第二行\n第三行";
  EXPECT_EQ(Column(seen["rows"], 5), (std::vector<std::string>{"started", strLong, "<U+202E>x", "refused again"}));
  EXPECT_NE(seen["note"].get<std::string>().find("The table holds 4 of the 6 records (at most 4, --rows): all 3 errors "
                                                 "and warnings, and 1 of the other 3 records"),
            std::string::npos)
      << seen["note"];
  const std::map<std::string, std::string> kBoxes = {{"Info", "Info 1 of 2"},
                                                     {"错误", "错误 2"},
                                                     {"Warning", "Warning 1"},
                                                     {"信息", "信息 0 of 1"},
                                                     {"errors", "Errors only 2"}};
  EXPECT_EQ(seen["counts"].get<decltype(kBoxes)>(), kBoxes);
  EXPECT_EQ(Column(seen["by_type"], 1), (std::vector<std::string>{"错误", "错误"}));
  EXPECT_EQ(Column(seen["by_type_and_text"], 5), (std::vector<std::string>{"refused again"}));
  EXPECT_EQ(seen["shown"], "1");
  EXPECT_EQ(seen["address"], "#type=%E9%94%99%E8%AF%AF&text=again");
  EXPECT_EQ(Column(seen["from_address"], 3), (std::vector<std::string>{"Start"}));
  // The hour's bar, then errors only within it and in every hour.
  EXPECT_EQ(Column(seen["in_hour"], 5), (std::vector<std::string>{"<U+202E>x", "refused again"}));
  EXPECT_EQ(seen["hour_address"], "#hour=2011-04-08%2010%3A00");
  EXPECT_EQ(Column(seen["errors_in_hour"], 5), (std::vector<std::string>{"refused again"}));
  EXPECT_EQ(Column(seen["errors"], 5), (std::vector<std::string>{strLong, "refused again"}));
  // Three lines show as two until opened.
  EXPECT_GT(seen["long_open"].get<double>(), seen["long_closed"].get<double>() + 8) << seen["long_closed"];
  EXPECT_EQ(Column(seen["by_type_column"], 1), (std::vector<std::string>{"Info", "Warning", "错误", "错误"}));
  EXPECT_EQ(Column(seen["by_type_column_down"], 5),
            (std::vector<std::string>{"refused again", strLong, "<U+202E>x", "started"}));
  // 400 px: nothing wider than the screen, the timeline's labels of a
  // readable size and apart.
  EXPECT_LE(seen["narrow"]["scroll"], seen["narrow"]["inner"]);
  EXPECT_GE(seen["narrow"]["smallest_label"], 9.0);
  EXPECT_EQ(seen["narrow"]["overlaps"], 0);
}

// Two days of 6,000 records, an error in ten: the table holds every error
// and the other records spread over both days, not the end of the second;
// it shows a page of 100 rows at a time. A burst of keys filters once,
// touches at most the rows of two pages and rebuilds no row, however many
// rows the table holds; a click on an hour's bar shows that hour only.
TEST(Report, TenThousandRowsFilterAPageAtATimeOverTheWholePeriod) {
  CScratchFolder folder;
  for (int nDay : {8, 9}) {
    std::vector<std::vector<std::string>> aRecords;
    for (int i = 0; i < 6000; ++i) {
      char szTime[32];
      std::snprintf(szTime, sizeof szTime, "2011.04.%02d %02d:%02d:%02d", nDay, i / 250, i / 4 % 60, i % 4 * 15);
      aRecords.push_back({szTime, i % 10 == 0 ? "Error" : "Info", "Main", "Run", "", "record " + std::to_string(i)});
    }
    WriteUtf16File(folder.Path("Vardlix201104" + std::string(nDay == 8 ? "08" : "09") + ".xml"), MakeLogText(aRecords));
  }
  const std::string strPage = folder.Path("report.html");
  ASSERT_EQ(RunTool({"report", "-d", folder.Path(), "20110408", "20110409", "-o", strPage}).m_nStatus, 0);
  const std::string strHtml = ReadBytes(strPage);
  size_t nFirstDay = 0, nSecondDay = 0;
  for (size_t n = 0; (n = strHtml.find("<td class=\"time\"", n)) != std::string::npos; ++n) {
    const std::string strDay = strHtml.substr(strHtml.find('>', n) + 1, 10);
    ++(strDay == "2011-04-08" ? nFirstDay : nSecondDay);
  }
  EXPECT_EQ(nFirstDay + nSecondDay, 10000u);
  EXPECT_GE(std::min(nFirstDay, nSecondDay), 4500u) << nFirstDay << " " << nSecondDay;

  const nlohmann::json seen = SeePage(strPage, {"Error", "record 77", "record 5999", "2011-04-09 13:00"});
  ASSERT_FALSE(seen.empty());
  EXPECT_NE(
      seen["note"].get<std::string>().find("all 1,200 errors and warnings, and 8,800 of the other 10,800 records"),
      std::string::npos)
      << seen["note"];
  EXPECT_EQ(seen["counts"]["Error"], "Error 1,200");
  EXPECT_EQ(seen["counts"]["Info"], "Info 8,800 of 10,800");
  EXPECT_EQ(seen["rows"].size(), 100u);
  EXPECT_EQ(seen["page_info"], "Rows 1–100 of 10,000 that match");
  for (const char* szBurst : {"burst", "burst_cleared"}) {
    const nlohmann::json& burst = seen[szBurst];
    EXPECT_EQ(burst["rows"], 10000) << szBurst;
    EXPECT_EQ(burst["runs"], 1) << szBurst;
    EXPECT_EQ(burst["rebuilt"], 0) << szBurst;
    EXPECT_LE(burst["touched"].get<int>(), 200) << szBurst;
    EXPECT_GT(burst["touched"].get<int>(), 0) << szBurst;
  }
  EXPECT_EQ(seen["in_hour"].size(), 100u);
  for (const auto& strTime : Column(seen["in_hour"], 0)) EXPECT_EQ(strTime.substr(0, 13), "2011-04-09 13");
  EXPECT_EQ(Column(seen["by_type_column"], 1), std::vector<std::string>(100, "Error"));
  EXPECT_EQ(Column(seen["by_type_column_down"], 1), std::vector<std::string>(100, "Info"));
  EXPECT_EQ(seen["next_page_info"], "Rows 101–200 of 10,000 that match");
  EXPECT_LE(seen["narrow"]["scroll"], seen["narrow"]["inner"]);
}

}  // namespace
