// Bad input through the command line: one line on stderr, a non-zero status,
// nothing half-printed; and what check reports about damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tool_process.h"

namespace {

class ToolErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteUtf16File(m_folder.Path("Vardlix20110408.xml"),
                   MakeLogText({{"2011.04.08 08:00:00", "Info", "Main", "Open", "", ""},
                                {"2011.04.08 08:00:01", "Info", "Main", "Read", "", ""}}));
    WriteUtf16File(m_folder.Path("settings.xml"), "<配置信息><日志保留天数>7</日志保留天数></配置信息>");
    WriteUtf16File(m_folder.Path("empty.xml"), "");
    std::string strLog = MakeLogText({{"2011.04.08 08:00:00", "Info", "Main", "Open", "", ""},
                                      {"2011.04.08 08:00:01", "Info", "Main", "Read", "", ""}});
    WriteUtf16File(m_folder.Path("truncated.xml"), strLog.substr(0, strLog.find("<操作>Read")));
    WriteUtf16File(m_folder.Path("headless.xml"), "<记录><类型>x</类型></记录>");
    WriteUtf16File(m_folder.Path("cut.xml"), strLog.substr(0, strLog.rfind("</日志>")));
    WriteUtf16File(m_folder.Path("remains.xml"), strLog + std::string(1, '\0') + "<记录>");
    WriteUtf16File(m_folder.Path("zero.xml"), strLog.substr(0, 60) + std::string(1, '\0') + strLog.substr(61));
    WriteUtf16File(m_folder.Path("control.xml"),
                   MakeLogText({{"2011.04.08 08:00:00", "Info", "Main", "Open", "", "\x1B[31m red \x07"}}));
    WriteBytes(m_folder.Path("narrow.xml"), "<日志></日志>");
    WriteBytes(m_folder.Path("passwd"), "root:x:0:0:root:/root:/bin/bash\nuser:x:1000:1000::/home/user:/bin/sh\n");
  }
  std::string Path(const std::string& strName) const { return m_folder.Path(strName); }
  CScratchFolder m_folder;
};

TEST_F(ToolErrors, BadInputGetsOneLineAndAStatus) {
  struct {
    std::vector<std::string> aArgs;
    int nStatus;
    std::string strMessage;  // part of the one line on stderr
  } const kCases[] = {
      {{}, 2, "a command is needed"},
      {{"show", "--bogus"}, 2, "--bogus"},
      {{"frobnicate"}, 2, "frobnicate"},
      {{"show", "--since", "9:00"}, 2, "malformed time \"9:00\""},
      {{"show", "--until", "2011.02.30 10:00:00"}, 2, "malformed time"},
      {{"show", "--format", "yaml"}, 2, "yaml"},
      {{"show", "--format", "json", "--bom"}, 2, "--bom goes with --format csv only"},
      {{"show", "--limit", "-3"}, 2, "not a whole number"},
      {{"show", "--tz", "Mars/Olympus"}, 2, "unknown time zone \"Mars/Olympus\""},
      {{"show", "--tz", "+8"}, 2, "unknown time zone \"+8\""},
      {{"show", "--all", "20110408"}, 2, "excludes"},
      {{"follow", "--format", "xml"}, 2, "xml"},
      {{"write", "Info", "Main"}, 2, "required"},
      {{"life", "seven"}, 2, "whole number"},
      {{"life", "-1"}, 2, ""},
      {{"show", "--folder", "/no/such/folder"}, 1, "no such folder: /no/such/folder"},
      {{"follow", "--folder", "/no/such/folder"}, 1, "no such folder"},
      {{"stats", "--folder", "/no/such/folder"}, 1, "no such folder"},
      {{"show", "20110409"}, 1, "no log for 2011-04-09"},
      {{"show", "2011-13-01"}, 2, "2011-13-01: no such date (a day is yyyymmdd, yyyy-mm-dd, yyyy.mm.dd, today"},
      {{"show", "no-such-day"}, 1, "no such file, and not a day"},
      {{"life", "36501"}, 2, "from 0 to 36500"},
      {{"show", "20110408", "-t", "info"}, 0, "none of the 2 records read matches the filters (--type compares"},
      {{"show", "missing.xml"}, 1, "missing.xml: no such file"},
      {{"show", "settings.xml"}, 1, "not a day's log (its top element is <配置信息>"},
      {{"show", "empty.xml"}, 1, "empty"},
      {{"show", "."}, 1, "is a folder"},
      {{"check", "missing.xml"}, 1, "no such file"},
      {{"show", "passwd"}, 1, "passwd: not a Vardlix log (no <日志> element and no record"},
      {{"show", "--regex", "a("}, 2, "not a regular expression (ECMAScript): \"a(\""},
      {{"show", "--since", "1 fortnight ago"}, 2, "malformed time \"1 fortnight ago\""},
      {{"show", "--foldr", "x"}, 2, "--foldr (did you mean --folder?)"},
      {{"show", "--reverse", "--lmit", "3"}, 2, "--lmit (did you mean --limit?)"},
      {{"shwo"}, 2, "shwo (did you mean show?)"},
      {{"show", "20110408", "--since", "09:00", "--until", "08:30"},
       0,
       "(the period searched: 2011-04-08 09:00:00 to 2011-04-09 08:30:00)"},
      {{"show", "2011-04-09..2011-04-10"}, 1, "no log from 2011-04-09 to 2011-04-10 in "},
      {{"life", "--host", "/nonexistent/app"}, 2, "no such folder: /nonexistent/appLog"},
      {{"life", "--host", "/nonexistent/app", "3"}, 2, "--create makes it"},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> aArgs = c.aArgs;
    // Commands that take a folder look in the scratch folder unless told.
    bool bHasFolder = std::find(aArgs.begin(), aArgs.end(), "--folder") != aArgs.end();
    if (!aArgs.empty() && !bHasFolder && (aArgs[0] == "show")) aArgs.insert(aArgs.begin() + 1, {"-d", Path("")});
    CToolResult result = RunTool(aArgs);
    std::string strCase = ::testing::PrintToString(c.aArgs);
    EXPECT_EQ(result.m_nStatus, c.nStatus) << strCase << result.m_strErr;
    EXPECT_EQ(SplitLines(result.m_strErr).size(), 1u) << strCase << result.m_strErr;
    EXPECT_EQ(result.m_strErr.rfind("vardlix: ", 0), 0u) << strCase << result.m_strErr;
    EXPECT_NE(result.m_strErr.find(c.strMessage), std::string::npos) << strCase << result.m_strErr;
    EXPECT_EQ(result.m_strOut, "") << strCase;
  }
}

TEST_F(ToolErrors, CheckReportsWhereTheParseStopped) {
  struct {
    std::string strFile;
    int nStatus;
    std::string strReport;
  } const kCases[] = {
      {"Vardlix20110408.xml", 0, "Vardlix20110408.xml: well-formed day's log, 2 records"},
      // The library made such files from empty ones once; it adds nothing to them.
      {"headless.xml", 1, "headless.xml: well-formed day's log, 1 record\n"},
      {"settings.xml", 1, "well-formed, but not a day's log: its top element is <配置信息>"},
      {"empty.xml", 1, "not well-formed: the file holds no element"},
      // Cut after line 14, where 操作 should begin: the engine looks for the
      // record's next tag and meets the end of the text.
      {"truncated.xml", 1, "truncated.xml:15:1: not well-formed: Element tag not found"},
      {"truncated.xml", 1, "truncated.xml:11:1: damaged text up to 14:13, skipped; 1 complete record before it"},
      {"cut.xml", 1, "cut.xml:19:1: cut short: the text ends without </日志>; the last complete record ends at 18:6"},
      {"remains.xml", 1, "remains.xml:20:1: a zero code unit behind the log, followed by the rest of an interrupted"},
      {"zero.xml", 1, "zero.xml:3:5: a zero code unit inside the text"},
      {"zero.xml", 1, "the library adds no record to this file"},
      {"control.xml", 1, "control.xml:9:5: 2 characters that XML 1.0 forbids, the first U+001B"},
      {"narrow.xml", 1, "narrow.xml: not UTF-16"},
      {"passwd", 1, "passwd: not a Vardlix log: no <日志> element and no record"},
      {"Vardlix20110408.xml", 0, ":1:31: note: standard XML parsers do not know the encoding name \"unicode\""},
  };
  for (const auto& c : kCases) {
    CToolResult result = RunTool({"check", Path(c.strFile)});
    EXPECT_EQ(result.m_nStatus, c.nStatus) << c.strFile;
    EXPECT_NE(result.m_strOut.find(c.strReport), std::string::npos) << result.m_strOut;
  }
}

// What stops the engine, and what the engine reads but XML 1.0 readers
// refuse, in files the library did not write.
TEST_F(ToolErrors, CheckNamesWhatStopsAParserAndWhere) {
  auto Description = [](const std::string& strData) {
    return "<日志>\r\n<记录><描述>" + strData + "</描述></记录>\r\n</日志>";
  };
  struct {
    std::string strText;
    std::string strReport;
  } const kCases[] = {
      {"<日志>\r\n<记录>\r\n</日志>", ":3:3: not well-formed: End tag does not correspond to 记录"},
      {"<日志>\r\n  <记录", "not well-formed: End of tag not found"},
      {"<日志>\r\n<'x'>", "not well-formed: Tag starts with quote"},
      {"<日志>\r\n<!-- open", "not well-formed: Invalid node"},
      {Description("a & b"), ":2:11: not XML 1.0: a '&' that begins no reference"},
      {Description("x&#x1B;y"), ":2:10: not XML 1.0: a character reference to a character XML 1.0 forbids"},
      {Description("x&#x110000;"), ":2:10: not XML 1.0: a character reference to a character XML 1.0 forbids"},
      {Description("&nbsp;"), ":2:9: not XML 1.0: a reference to an entity XML does not define"},
      {Description("</描述><描述 a=\"1\" a=\"2\">"), ":2:24: not XML 1.0: an attribute given twice"},
      {Description("</描述><描述 a=1>"), ":2:18: not XML 1.0: an attribute without a quoted value"},
      {Description("</描述><描述 a>"), ":2:18: not XML 1.0: an attribute without a quoted value"},
      {Description("</描述><描述 a=\"<\">"), ":2:21: not XML 1.0: '<' inside an attribute value"},
      {Description("<!-- a -- b -->"), ":2:16: not XML 1.0: \"--\" inside a comment"},
      {Description("x]]>y"), ":2:10: not XML 1.0: \"]]>\" in character data"},
      {Description("</描述><1x/><描述>"), ":2:15: not XML 1.0: a name XML does not allow"},
      {" <?xml version=\"1.0\"?><日志/>", ":1:2: not XML 1.0: an XML declaration or DOCTYPE out of place"},
      {"<日志/>\r\ngarbage", ":2:1: not XML 1.0: content outside the top element"},
  };
  for (const auto& c : kCases) {
    WriteUtf16File(Path("bad.xml"), c.strText);
    CToolResult result = RunTool({"check", Path("bad.xml")});
    EXPECT_EQ(result.m_nStatus, 1) << c.strText;
    EXPECT_NE(result.m_strOut.find(c.strReport), std::string::npos) << result.m_strOut;
  }
}

// The library rewrites a day's log in place; a reader that meets a
// half-written file reads it again instead of calling it broken.
TEST_F(ToolErrors, FileCaughtMidWriteIsReadAgain) {
  std::string strLog = MakeLogText({{"2011.04.08 08:00:00", "Info", "Main", "Open", "", ""}});
  WriteUtf16File(Path("busy.xml"), strLog.substr(0, strLog.size() / 2));
  CToolProcess show({"show", "-d", Path(""), "busy.xml", "-f", "json"}, Path("busy.out"));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  WriteUtf16File(Path("busy.xml"), strLog);
  EXPECT_EQ(show.Wait(), 0) << ReadBytes(Path("busy.out.err"));
  EXPECT_NE(show.Output().find("\"operation\":\"Open\""), std::string::npos);
}

}  // namespace
