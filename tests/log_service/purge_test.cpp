// The retention purge. A file's creation time cannot be set on POSIX file
// systems, so the tests create files now and move the clock instead.
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <climits>
#include <vector>

#include "format/log_layout.h"
#include "platform/platform_files.h"
#include "service/purge.h"
#include "service_fixture.h"

namespace {

TEST(LogExpiryTest, FileExpiresOnceRetentionHasFullyPassed) {
  struct Case {
    const char* m_pszName;
    int64_t m_nAge;  // seconds from creation to now
    int32_t m_nLogLife;
    bool m_bExpired;
  };
  constexpr int64_t kDay = kSecondsPerDay;
  const Case kCases[] = {
      {"SevenDaysExactlyExpires", 7 * kDay, 7, true},
      {"OneSecondShortOfSevenDaysStays", 7 * kDay - 1, 7, false},
      {"OneDayExactlyExpires", kDay, 1, true},
      {"OneDayLessASecondStays", kDay - 1, 1, false},
      {"RetentionZeroTakesFileOfThisInstant", 0, 0, true},
      {"RetentionZeroTakesFileLessThanADayAhead", -(kDay - 1), 0, true},
      {"RetentionZeroKeepsFileADayAhead", -kDay, 0, false},
      {"NegativeAgeNeverExpiresAtSevenDays", -8 * kDay, 7, false},
      {"LongRetentionKeepsYearOldFile", 365 * kDay, 36500, false},
  };
  constexpr int64_t kNow = 1302253503;
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    EXPECT_EQ(IsLogExpired(kNow, kNow - test.m_nAge, test.m_nLogLife), test.m_bExpired);
  }
}

TEST(LogExpiryTest, ExtremeTimesDoNotOverflow) {
  EXPECT_TRUE(IsLogExpired(INT64_MAX, INT64_MIN, 7));
  EXPECT_FALSE(IsLogExpired(INT64_MIN, INT64_MAX, 0));
}

class PurgeTest : public CServiceTest {
 protected:
  // Creation time of a file just made in the test folder.
  int64_t Create(const std::string& strName) {
    m_folder.WriteBytes(strName, "x");
    CFileStatus status;
    EXPECT_TRUE(CFile::GetStatus(m_folder.File(strName), status));
    return status.m_ctime;
  }
};

TEST_F(PurgeTest, BoundaryOfRetentionIsExactToTheSecond) {
  struct Case {
    const char* m_pszName;
    int32_t m_nLogLife;
    int64_t m_nClockOffset;  // clock minus the file's creation time
    bool m_bDeleted;
  };
  const Case kCases[] = {
      {"SevenDaysDeletes", 7, 7 * kSecondsPerDay, true},
      {"SevenDaysLessOneSecondKeeps", 7, 7 * kSecondsPerDay - 1, false},
      {"OneDayDeletesWhateverTheDate", 1, kSecondsPerDay, true},
      {"RetentionZeroDeletesTodaysFile", 0, 0, true},
      {"RetentionZeroKeepsFileADayAhead", 0, -kSecondsPerDay, false},
  };
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    const int64_t nCreated = Create("Vardlix20110408.xml");
    g_nLogLife.store(test.m_nLogLife);
    SetClockForTesting(nCreated + test.m_nClockOffset);
    PurgeExpiredLogs();
    EXPECT_EQ(Exists("Vardlix20110408.xml"), !test.m_bDeleted);
  }
}

TEST_F(PurgeTest, OnlyFilesNamedVardlixAreLogFiles) {
  struct Case {
    std::string m_strName;
    bool m_bDeleted;
  };
  const Case kCases[] = {
      {"Vardlix20110401.xml", true},
      {"VardlixBackup.zip", true},
      {"Vardlix", true},
      // Other cases name other files: on Windows names differing only in case
      // are one file.
      {"vardlix20110402.xml", false},
      {"VARDLIX20110403.xml", false},
      {"SettingInfo.xml", false},
      {"Vardli", false},
      {"xVardlix.xml", false},
  };
  int64_t nLatest = 0;
  for (const Case& test : kCases) nLatest = std::max(nLatest, Create(test.m_strName));
  std::filesystem::create_directory(m_folder.Path("VardlixFolder"));
  m_folder.WriteBytes("VardlixFolder/Vardlix20000101.xml", "x");
  g_nLogLife.store(0);
  SetClockForTesting(nLatest + kSecondsPerDay);
  PurgeExpiredLogs();
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_strName);
    EXPECT_EQ(Exists(test.m_strName), !test.m_bDeleted);
  }
  EXPECT_TRUE(Exists("VardlixFolder/Vardlix20000101.xml"));
}

TEST_F(PurgeTest, FileInUseIsSkippedAndTheRestStillGo) {
  const int64_t nCreated = std::max({Create("Vardlix1.xml"), Create("Vardlix2.xml"), Create("Vardlix3.xml")});
  CFile holder;
  ASSERT_TRUE(holder.Open(m_folder.File("Vardlix2.xml"), CFile::modeReadWriteDenyWrite));
  g_nLogLife.store(1);
  SetClockForTesting(nCreated + kSecondsPerDay);
  EXPECT_NO_THROW(PurgeExpiredLogs());
  EXPECT_FALSE(Exists("Vardlix1.xml"));
  EXPECT_TRUE(Exists("Vardlix2.xml"));
  EXPECT_FALSE(Exists("Vardlix3.xml"));
  holder.Close();
  PurgeExpiredLogs();
  EXPECT_FALSE(Exists("Vardlix2.xml"));
}

TEST_F(PurgeTest, MissingFolderPurgesNothing) {
  LogFolder() = m_folder.File("missing");
  g_nLogLife.store(0);
  EXPECT_NO_THROW(PurgeExpiredLogs());
}

}  // namespace

#if !defined(_WIN32)
namespace {

// A log folder so deep that the full path of a long name in it exceeds the
// system's path limit: the folder can be listed, but that entry's status
// can't be read by its path. Made and removed relative to folder handles.
class CDeepFolder {
 public:
  explicit CDeepFolder(const std::filesystem::path& base) {
    m_aHandles.push_back(open(base.c_str(), O_RDONLY | O_DIRECTORY));
    m_path = base;
    const std::string strPart(200, 'd');
    // The folder itself stays within the limit (opened by its path), while
    // the file name below carries every full path past it: 3859 + 249 > 4095.
    while (m_path.string().size() + strPart.size() + 1 < 4060) {
      mkdirat(m_aHandles.back(), strPart.c_str(), 0700);
      m_aHandles.push_back(openat(m_aHandles.back(), strPart.c_str(), O_RDONLY | O_DIRECTORY));
      m_path /= strPart;
    }
  }
  ~CDeepFolder() {
    for (const std::string& strName : m_aNames) unlinkat(m_aHandles.back(), strName.c_str(), 0);
    for (int n : m_aHandles) close(n);
  }
  void Create(const std::string& strName) {
    close(openat(m_aHandles.back(), strName.c_str(), O_CREAT | O_WRONLY, 0600));
    m_aNames.push_back(strName);
  }
  bool Exists(const std::string& strName) const {
    struct stat info;
    return fstatat(m_aHandles.back(), strName.c_str(), &info, 0) == 0;
  }
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
  std::vector<int> m_aHandles;  // each folder of the chain, the deepest last
  std::vector<std::string> m_aNames;
};

TEST_F(PurgeTest, EntryWithoutReadableStatusIsSkippedAndTheRestStillGo) {
  CDeepFolder deep(m_folder.Path());
  const std::string strUnreachable = "VardlixA" + std::string(240, 'x');
  deep.Create(strUnreachable);
  deep.Create("VardlixB.xml");
  const std::u16string strFolder = deep.Path().u16string() + u"/";
  CFileStatus status;
  ASSERT_FALSE(CFile::GetStatus(strFolder + std::u16string(strUnreachable.begin(), strUnreachable.end()), status));
  ASSERT_TRUE(CFile::GetStatus(strFolder + u"VardlixB.xml", status));
  LogFolder() = deep.Path().u16string();
  g_nLogLife.store(1);
  SetClockForTesting(status.m_ctime + kSecondsPerDay);
  EXPECT_NO_THROW(PurgeExpiredLogs());
  EXPECT_TRUE(deep.Exists(strUnreachable));
  EXPECT_FALSE(deep.Exists("VardlixB.xml"));
}

}  // namespace
#endif  // !defined(_WIN32): the folder is built with POSIX calls relative to handles
