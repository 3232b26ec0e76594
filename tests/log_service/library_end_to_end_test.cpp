// The built libvardlix.so as a host sees it: loaded at run time by a small
// host program copied, with the library, into a fresh folder, so that the
// log folder is that folder's "hostLog".
#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "markup/markup.h"
#include "support/day_records.h"
#include "support/document_bytes.h"
#include "support/shell_command.h"
#include "support/temp_folder.h"

namespace {

std::string Quote(const std::string& str) {
  std::string strQuoted = "'";
  for (char c : str) strQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return strQuoted + "'";
}

// Today's file name as the library makes it, from the local date.
std::string TodaysLogName() {
  const std::time_t nNow = std::time(nullptr);
  std::tm local{};
  localtime_r(&nNow, &local);
  char szName[64];
  std::snprintf(szName, sizeof szName, "Vardlix%04d%02d%02d.xml", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return szName;
}

// Another program that keeps a file, as the library's file lock sees it.
class CFileHolder {
 public:
  explicit CFileHolder(const std::filesystem::path& path) : m_nFile(open(path.c_str(), O_RDWR | O_CLOEXEC)) {
    EXPECT_EQ(flock(m_nFile, LOCK_EX), 0) << path;
  }
  ~CFileHolder() { close(m_nFile); }
  CFileHolder(const CFileHolder&) = delete;
  CFileHolder& operator=(const CFileHolder&) = delete;

 private:
  int m_nFile;
};

class LibraryEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(VARDLIX_TEST_HOST, m_folder.Path("host"));
    std::filesystem::copy_file(VARDLIX_LIBRARY, m_folder.Path("libvardlix.so.1"));
    std::filesystem::copy_file(VARDLIX_DEMO_HOST, m_folder.Path("vardlix-demo"));
  }

  // Runs the host with the given arguments; its standard output.
  std::string RunHost(const std::string& strArguments) {
    return RunProgram(Quote(m_folder.Path("host").string()) + " " + Quote(m_folder.Path("libvardlix.so.1").string()) +
                      " " + strArguments);
  }
  std::string RunProgram(const std::string& strCommand) {
    std::string strOutput;
    EXPECT_TRUE(RunCommand(strCommand, strOutput)) << strCommand << ": " << strOutput;
    return strOutput;
  }

  // The descriptions of the records in a day's file, in order.
  std::vector<std::u16string> Descriptions(const std::string& strPath) const {
    std::vector<RecordFields> aRecords;
    ReadDayRecords(DecodeDocument(m_folder.ReadBytes(strPath)), aRecords);
    std::vector<std::u16string> aDescriptions;
    for (const RecordFields& fields : aRecords) aDescriptions.push_back(fields[5]);
    return aDescriptions;
  }

  // Names of the day files in the log folder.
  std::set<std::string> DayFiles() const {
    std::set<std::string> setNames;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path("hostLog"))) {
      const std::string strName = entry.path().filename().string();
      if (strName.rfind("Vardlix", 0) == 0) setNames.insert(strName);
    }
    return setNames;
  }

  std::u16string SettingsData() const {
    CXmlDocument doc;
    doc.SetDocument(DecodeDocument(m_folder.ReadBytes("hostLog/SettingInfo.xml")));
    doc.FindNextElement(u"配置信息");
    doc.EnterElement();
    doc.FindNextElement(u"日志保留天数");
    return doc.GetCurrentData();
  }

  CTempFolder m_folder;
};

TEST_F(LibraryEndToEndTest, LibraryExportsExactlyTheTwoFunctions) {
  std::string strSymbols;
  ASSERT_TRUE(RunCommand("nm -D --defined-only " + Quote(VARDLIX_LIBRARY), strSymbols));
  std::set<std::string> setNames;
  std::istringstream lines(strSymbols);
  for (std::string strAddress, strKind, strName; lines >> strAddress >> strKind >> strName;) setNames.insert(strName);
  EXPECT_EQ(setNames, (std::set<std::string>{"SetLogLife", "WriteVardlix"}));
  std::string strDynamic;
  ASSERT_TRUE(RunCommand("readelf -d " + Quote(VARDLIX_LIBRARY), strDynamic));
  EXPECT_NE(strDynamic.find("Library soname: [libvardlix.so.1]"), std::string::npos);
}

TEST_F(LibraryEndToEndTest, LoadCreatesHiddenSettingsBesideTheHost) {
  EXPECT_EQ(RunHost(""), "");
  EXPECT_EQ(SettingsData(), u"7");
  EXPECT_TRUE(DayFiles().empty());
  char szValue[16] = {};
  const ssize_t nLength =
      getxattr(m_folder.Path("hostLog/SettingInfo.xml").c_str(), "user.DOSATTRIB", szValue, sizeof szValue - 1);
  if (nLength < 0 && errno == ENOTSUP) GTEST_SKIP() << "the file system keeps no user attributes";
  EXPECT_STREQ(szValue, "0x2");
}

TEST_F(LibraryEndToEndTest, HostLogsRecordsAndSetsRetention) {
  EXPECT_EQ(RunHost("write Info Main Open 'a&b' '' life 36501 life 30 write Warn Disk Save x 'y<z'"),
            "life 0\nlife 1\n");
  EXPECT_EQ(SettingsData(), u"30");
  const std::set<std::string> setDays = DayFiles();
  ASSERT_EQ(setDays.size(), 1u);
  const std::u16string strText = DecodeDocument(m_folder.ReadBytes("hostLog/" + *setDays.begin()));
  EXPECT_NE(
      strText.find(u"<类型>Info</类型>\r\n<位置>Main</位置>\r\n<操作>Open</操作>\r\n<参数>a&amp;b</参数>\r\n<描述/>"),
      std::u16string::npos);
  EXPECT_NE(strText.find(u"<类型>Warn</类型>\r\n<位置>Disk</位置>\r\n<操作>Save</操作>\r\n<参数>x</参数>\r\n"
                         u"<描述>y&lt;z</描述>\r\n</记录>\r\n</日志>\r\n"),
            std::u16string::npos);
}

TEST_F(LibraryEndToEndTest, RetentionZeroDeletesLogsAndStopsLogging) {
  EXPECT_EQ(RunHost("write Info Main Open x y"), "");
  ASSERT_EQ(DayFiles().size(), 1u);
  EXPECT_EQ(RunHost("life 0 write Info Main Open x y"), "life 1\n");
  EXPECT_TRUE(DayFiles().empty());
  EXPECT_EQ(RunHost("write Info Main Open x y"), "");  // the next load reads 0
  EXPECT_TRUE(DayFiles().empty());
  EXPECT_EQ(SettingsData(), u"0");
}

// Hosts that load the library with dlopen and end without dlclose, as most
// do, while another program holds the day's file: their records wait on
// disk, they exit normally, and the next run's first call moves the records
// in, in order, ahead of its own.
TEST_F(LibraryEndToEndTest, HostEndingWhileItsRecordsWaitExitsNormallyAndLosesNone) {
  const std::string strDemo = Quote(m_folder.Path("vardlix-demo").string());
  const std::string strTestHost =
      Quote(m_folder.Path("host").string()) + " " + Quote(m_folder.Path("libvardlix.so.1").string());
  const struct {
    const char* m_pszName;
    std::string m_strFolder;  // the host's log folder
    std::string m_strFirst, m_strHeld, m_strNext;
    size_t m_nRecords;  // in the day's file at the end
  } kCases[] = {
      {"TestHost", "hostLog", strTestHost + " write Info Main Open x a",
       strTestHost + " write Info Main Open x b write Info Main Open x c exit",
       strTestHost + " write Info Main Open x d", 4},
      {"DemoHost", "vardlix-demoLog", strDemo, strDemo, strDemo, 15},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    RunProgram(test.m_strFirst);
    const std::string strDay = test.m_strFolder + "/" + TodaysLogName();
    {
      CFileHolder holder(m_folder.Path(strDay));
      RunProgram(test.m_strHeld);
    }
    RunProgram(test.m_strNext);
    const std::vector<std::u16string> aDescriptions = Descriptions(strDay);
    EXPECT_EQ(aDescriptions.size(), test.m_nRecords);
    if (test.m_nRecords == 4) {
      EXPECT_EQ(aDescriptions, (std::vector<std::u16string>{u"a", u"b", u"c", u"d"}));
    }
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path(test.m_strFolder))) {
      EXPECT_NE(entry.path().extension(), ".pending") << "left waiting: " << entry.path();
    }
  }
}

}  // namespace
