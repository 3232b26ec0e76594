// The settings file: its creation at load, the retention read from it, and
// SetLogLife.
#ifndef _WIN32
#include <sys/xattr.h>
#endif

#include <chrono>
#include <climits>

#include "platform/platform_files.h"
#include "service/settings.h"
#include "service_fixture.h"
#include "vardlix.h"

namespace {

const std::u16string kDefaultSettings = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n"
                                        u"<配置信息>\r\n"
                                        u"<日志保留天数>7</日志保留天数>\r\n"
                                        u"</配置信息>\r\n";

std::u16string SettingsText(const std::u16string& strData) {
  return u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n<配置信息>\r\n<日志保留天数>" + strData +
         u"</日志保留天数>\r\n</配置信息>\r\n";
}

// Whether the test folder's file system keeps the hidden attribute at all.
bool HasUserAttributes(const std::filesystem::path& path) {
#ifdef _WIN32
  (void)path;  // hidden is a file attribute of the system's own there
  return true;
#else
  if (setxattr(path.c_str(), "user.vardlix-probe", "1", 1, 0) != 0) return false;
  removexattr(path.c_str(), "user.vardlix-probe");
  return true;
#endif
}

class SettingsTest : public CServiceTest {
 protected:
  // Loads as a host at <test folder>/host.bin would: log folder hostLog.
  bool LoadAsHost() {
    SetHostPathForTesting(m_folder.File("host.bin"));
    return LoadSettings();
  }
  std::string SettingsName() const { return "hostLog/SettingInfo.xml"; }
  bool IsHidden(const std::string& strName) const {
    CFileStatus status;
    return CFile::GetStatus(m_folder.File(strName), status) && (status.m_attribute & attributeHidden) != 0;
  }
};

TEST_F(SettingsTest, FirstLoadCreatesHiddenFileWithFourLines) {
  g_nLogLife.store(3);
  EXPECT_TRUE(LoadAsHost());
  EXPECT_EQ(LogFolder(), m_folder.File("hostLog"));
  EXPECT_EQ(m_folder.ReadBytes(SettingsName()), EncodeDocument(kDefaultSettings));
  EXPECT_EQ(g_nLogLife.load(), 7);
  if (HasUserAttributes(m_folder.Path())) {
    EXPECT_TRUE(IsHidden(SettingsName()));
  }
}

TEST_F(SettingsTest, RetentionAtLoadFollowsTheDataTable) {
  struct Case {
    const char16_t* m_pszData;
    int32_t m_nLogLife;
  };
  const Case kCases[] = {
      {u"30", 30},
      {u"0", 0},
      {u"00", 7},
      {u" 0", 7},
      {u"", 7},
      {u"seven", 7},
      {u"-5", 0},
      {u"12abc", 12},
      {u"99999", 99999},
      {u"+5", 5},
      {u"\t12", 12},
      {u"-0", 7},
      {u"99999999999", INT32_MAX},
      {u"-99999999999", 0},
  };
  std::filesystem::create_directory(m_folder.Path("hostLog"));
  for (const Case& test : kCases) {
    SCOPED_TRACE(std::string(test.m_pszData, test.m_pszData + std::char_traits<char16_t>::length(test.m_pszData)));
    EXPECT_EQ(ParseLogLife(test.m_pszData), test.m_nLogLife);
    WriteText(SettingsName(), SettingsText(test.m_pszData));
    g_nLogLife.store(-1);
    EXPECT_TRUE(LoadAsHost());
    EXPECT_EQ(g_nLogLife.load(), test.m_nLogLife);
  }
}

TEST_F(SettingsTest, DocumentsOfOtherShapesGiveTheirRetention) {
  struct Case {
    const char* m_pszName;
    std::string m_strBytes;
    int32_t m_nLogLife;
  };
  const Case kCases[] = {
#ifndef _WIN32
      // Narrow text is UTF-8 here; Windows reads it in the ANSI code page,
      // which cannot hold the element names.
      {"NarrowFileWithoutMarkIsRead",
       "<\xE9\x85\x8D\xE7\xBD\xAE\xE4\xBF\xA1\xE6\x81\xAF><\xE6\x97\xA5\xE5\xBF\x97\xE4\xBF\x9D\xE7\x95\x99\xE5\xA4\xA9"
       "\xE6\x95\xB0>21</\xE6\x97\xA5\xE5\xBF\x97\xE4\xBF\x9D\xE7\x95\x99\xE5\xA4\xA9\xE6\x95\xB0></\xE9\x85\x8D\xE7\xBD"
       "\xAE\xE4\xBF\xA1\xE6\x81\xAF>",
       21},
#endif
      {"TopLevelValueWithoutRootIsRead", EncodeDocument(u"<日志保留天数>9</日志保留天数>"), 9},
      {"OtherElementsAreSkipped", EncodeDocument(u"<配置信息 a='1'><x/><日志保留天数>4</日志保留天数></配置信息>"), 4},
      {"MissingValueGivesDefault", EncodeDocument(u"<配置信息><x>3</x></配置信息>"), 7},
      {"UnparsableTextGivesDefault", EncodeDocument(u"<配置信息><日志保留天数>3</配置信息>"), 7},
      {"EmptyFileGivesDefault", "", 7},
  };
  std::filesystem::create_directory(m_folder.Path("hostLog"));
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    m_folder.WriteBytes(SettingsName(), test.m_strBytes);
    g_nLogLife.store(-1);
    EXPECT_TRUE(LoadAsHost());
    EXPECT_EQ(g_nLogLife.load(), test.m_nLogLife);
    EXPECT_EQ(m_folder.ReadBytes(SettingsName()), test.m_strBytes);  // a load never rewrites it
  }
}

TEST_F(SettingsTest, LoadReportsUnreadableFileAfterWaitingForItsHolder) {
  std::filesystem::create_directory(m_folder.Path("hostLog"));
  WriteText(SettingsName(), SettingsText(u"30"));
  CFile holder;
  ASSERT_TRUE(holder.Open(m_folder.File(SettingsName()), CFile::modeReadWriteDenyWrite));
  g_nLogLife.store(-1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(LoadAsHost());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kShareWaitMilliseconds / 2));
  EXPECT_EQ(g_nLogLife.load(), -1);
}

TEST_F(SettingsTest, SetLogLifeAcceptsUpToHundredYears) {
  struct Case {
    uint32_t m_nDays;
    int m_nResult;
    const char16_t* m_pszStored;  // settings data afterwards
    int32_t m_nLogLife;
  };
  const Case kCases[] = {
      // clang-format off
      {0, 1, u"0", 0},
      {36500, 1, u"36500", 36500},
      {36501, 0, u"7", 7},
      {UINT32_MAX, 0, u"7", 7},  // a negative number from the host
      {14, 1, u"14", 14},
      // clang-format on
  };
  ASSERT_TRUE(LoadAsHost());
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_nDays);
    ASSERT_EQ(SetLogLife(7), 1);
    EXPECT_EQ(SetLogLife(test.m_nDays), test.m_nResult);
    EXPECT_EQ(ReadText(SettingsName()), SettingsText(test.m_pszStored));
    EXPECT_EQ(g_nLogLife.load(), test.m_nLogLife);
  }
}

TEST_F(SettingsTest, SetLogLifeKeepsFileHiddenWithItsTimes) {
  ASSERT_TRUE(LoadAsHost());
  const std::u16string strPath = m_folder.File(SettingsName());
  CFileStatus before;
  ASSERT_TRUE(CFile::GetStatus(strPath, before));
  before.m_atime = 1000000000;
  before.m_mtime = 1100000000;
  CFile::SetStatus(strPath, before);
  EXPECT_EQ(SetLogLife(30), 1);
  CFileStatus after;
  ASSERT_TRUE(CFile::GetStatus(strPath, after));
  EXPECT_EQ(after.m_mtime, 1100000000);
  EXPECT_EQ(after.m_atime, 1000000000);
  if (HasUserAttributes(m_folder.Path())) {
    EXPECT_NE(after.m_attribute & attributeHidden, 0);
  }
  EXPECT_EQ(ReadText(SettingsName()), SettingsText(u"30"));
}

TEST_F(SettingsTest, SetLogLifeRecreatesVanishedFile) {
  ASSERT_TRUE(LoadAsHost());
  std::filesystem::remove(m_folder.Path(SettingsName()));
  EXPECT_EQ(SetLogLife(21), 1);
  EXPECT_EQ(ReadText(SettingsName()), SettingsText(u"21"));
  EXPECT_EQ(g_nLogLife.load(), 21);
  if (HasUserAttributes(m_folder.Path())) {
    EXPECT_TRUE(IsHidden(SettingsName()));
  }
}

TEST_F(SettingsTest, SetLogLifeThatCannotWriteChangesNothing) {
  LogFolder() = m_folder.File("missing");
  g_nLogLife.store(12);
  EXPECT_EQ(SetLogLife(30), 0);
  EXPECT_EQ(g_nLogLife.load(), 12);
}

TEST_F(SettingsTest, SetLogLifeZeroPurgesTodaysLog) {
  ASSERT_TRUE(LoadAsHost());
  m_folder.WriteBytes("hostLog/Vardlix20110408.xml", "x");
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus(m_folder.File("hostLog/Vardlix20110408.xml"), status));
  SetClockForTesting(status.m_ctime);
  EXPECT_EQ(SetLogLife(0), 1);
  EXPECT_FALSE(Exists("hostLog/Vardlix20110408.xml"));
  EXPECT_TRUE(Exists(SettingsName()));
}

}  // namespace
