// What the POSIX half adds to the seam's contract: narrow text and file names,
// links and other non-files, the stored hidden attribute, birth times, locks
// shared with other processes, and removal that respects an open file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "platform/platform_files.h"
#include "support/temp_folder.h"

namespace {

struct DecodeCase {
  std::string m_strBytes;
  std::u16string m_strText;
};

TEST(DecodeNarrowTextTest, ValidUtf8IsDecoded) {
  const DecodeCase kCases[] = {
      {"", u""},
      {"plain", u"plain"},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xE6\x97\xA5\xE5\xBF\x97", u"日志"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xED\x9F\xBF\xEE\x80\x80", u"\uD7FF\uE000"},  // either side of the surrogates
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},            // the largest code point
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const DecodeCase& test : kCases) {
    EXPECT_EQ(DecodeNarrowText(test.m_strBytes.data(), test.m_strBytes.size()), test.m_strText);
  }
}

TEST(DecodeNarrowTextTest, AnyInvalidSequenceMakesWholeTextLatin1) {
  const DecodeCase kCases[] = {
      {"caf\xE9", u"caf\u00E9"},                          // lone Latin-1 byte
      {"\xC3\xA9\xFF", u"\u00C3\u00A9\u00FF"},            // valid pair, then a bad byte
      {"\xC0\x80", u"\u00C0\u0080"},                      // overlong zero
      {"\xE0\x9F\xBF", u"\u00E0\u009F\u00BF"},            // overlong three-byte form
      {"\xF0\x8F\xBF\xBF", u"\u00F0\u008F\u00BF\u00BF"},  // overlong four-byte form
      {"\x80z", u"\u0080z"},                              // continuation without a lead
      {"\xE6z\x97", u"\u00E6z\u0097"},                    // cut inside the text
      {"\xED\xA0\x80", u"\u00ED\u00A0\u0080"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\u00F4\u0090\u0080\u0080"},  // above U+10FFFF
      {"ok\xE6\x97", u"ok\u00E6\u0097"},                  // cut at the end
  };
  for (const DecodeCase& test : kCases) {
    EXPECT_EQ(DecodeNarrowText(test.m_strBytes.data(), test.m_strBytes.size()), test.m_strText);
  }
}

TEST(PosixPathTest, NamesThatAreNotUtf8CanBeListedOpenedAndRemoved) {
  CTempFolder folder;
  const std::string strLatin1 = "Vardlix\xE9.xml";
  folder.WriteBytes(strLatin1, "x");
  CFileFind find;
  bool bMore = find.FindFile(folder.Folder());
  std::u16string strPath;
  while (bMore) {
    bMore = find.FindNextEntry();
    if (!find.IsDots()) strPath = find.GetFilePath();
  }
  ASSERT_FALSE(strPath.empty());
  CFile file;
  EXPECT_TRUE(file.Open(strPath, CFile::modeReadExclusive));
  file.Close();
  CFile::Remove(strPath);
  EXPECT_FALSE(std::filesystem::exists(folder.Path(strLatin1)));

  ASSERT_TRUE(file.Open(folder.Folder() + u"/日志.xml", CFile::modeCreateNewExclusive));
  EXPECT_TRUE(std::filesystem::exists(folder.Path("\xE6\x97\xA5\xE5\xBF\x97.xml")));
}

TEST(PosixPathTest, LinksAndFifosAreRefusedAndTheirTargetsKept) {
  CTempFolder folder;
  folder.WriteBytes("target", "abc");
  std::filesystem::create_symlink(folder.Path("target"), folder.Path("link"));
  ASSERT_EQ(mkfifo(folder.Path("fifo").c_str(), 0600), 0);
  const struct {
    const char* m_pszName;
    CFile::OpenMode m_nMode;
    FileErrorCause m_nCause;
  } kCases[] = {
      {"link", CFile::modeReadExclusive, causeAccessDenied},
      {"link", CFile::modeCreateExclusive, causeAccessDenied},
      {"link", CFile::modeReadWriteDenyWrite, causeAccessDenied},
      {"link", CFile::modeCreateNewExclusive, causeAlreadyExists},
      {"fifo", CFile::modeReadExclusive, causeAccessDenied},
      {"fifo", CFile::modeReadWriteDenyWrite, causeAccessDenied},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    CFile file;
    EXPECT_FALSE(file.Open(folder.File(test.m_pszName), test.m_nMode));
    EXPECT_EQ(file.GetOpenError(), test.m_nCause);
  }
  CFile::Remove(folder.File("link"));
  EXPECT_FALSE(std::filesystem::is_symlink(folder.Path("link")));
  EXPECT_EQ(folder.ReadBytes("target"), "abc");
}

bool SupportsUserAttributes(const CTempFolder& folder) {
  folder.WriteBytes("probe", "");
  return setxattr(folder.Path("probe").c_str(), "user.probe", "1", 1, 0) == 0;
}

// The stored value, or "absent".
std::string ReadDosAttribute(const std::filesystem::path& path) {
  char buffer[32] = {};
  const ssize_t nLength = getxattr(path.c_str(), "user.DOSATTRIB", buffer, sizeof buffer);
  return nLength < 0 ? "absent" : std::string(buffer, static_cast<size_t>(nLength));
}

TEST(PosixStatusTest, HiddenBitIsStoredAsDosAttributeKeepingOtherBits) {
  CTempFolder folder;
  if (!SupportsUserAttributes(folder)) GTEST_SKIP() << "no user extended attributes here";
  const struct {
    const char* m_pszBefore;  // nullptr: no attribute stored
    const char* m_pszHidden;
    const char* m_pszNormal;
  } kCases[] = {{nullptr, "0x2", "absent"}, {"0x20", "0x22", "0x20"}};
  for (const auto& test : kCases) {
    folder.WriteBytes("f", "x");
    removexattr(folder.Path("f").c_str(), "user.DOSATTRIB");
    if (test.m_pszBefore) setxattr(folder.Path("f").c_str(), "user.DOSATTRIB", test.m_pszBefore, 4, 0);
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(folder.File("f"), status));
    status.m_attribute = attributeHidden;
    CFile::SetStatus(folder.File("f"), status);
    EXPECT_EQ(ReadDosAttribute(folder.Path("f")), test.m_pszHidden);
    ASSERT_TRUE(CFile::GetStatus(folder.File("f"), status));
    EXPECT_EQ(status.m_attribute, attributeHidden);
    status.m_attribute = attributeNormal;
    CFile::SetStatus(folder.File("f"), status);
    EXPECT_EQ(ReadDosAttribute(folder.Path("f")), test.m_pszNormal);
  }
}

TEST(PosixStatusTest, DotNamesAndUnwritableFilesReadAsSuch) {
  CTempFolder folder;
  folder.WriteBytes(".dot", "x");
  folder.WriteBytes("frozen", "x");
  std::filesystem::permissions(folder.Path("frozen"), std::filesystem::perms::owner_read);
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus(folder.File(".dot"), status));
  EXPECT_EQ(status.m_attribute, attributeHidden);
  ASSERT_TRUE(CFile::GetStatus(folder.File("frozen"), status));
  EXPECT_EQ(status.m_attribute, attributeReadOnly);
}

TEST(PosixStatusTest, CreationTimeIsBirthTimeAndSurvivesTruncation) {
  CTempFolder folder;
  folder.WriteBytes("f", "abc");
  const int64_t nNow = ReadClock(), kWeekAgo = nNow - 7 * 86400;
  CFile::SetStatus(folder.File("f"), CFileStatus{0, kWeekAgo, kWeekAgo, 0, attributeNormal});
  CFile file;
  ASSERT_TRUE(file.Open(folder.File("f"), CFile::modeCreateExclusive));
  file.Close();
  CFile::SetStatus(folder.File("f"), CFileStatus{0, kWeekAgo, kWeekAgo, 0, attributeNormal});
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus(folder.File("f"), status));
  struct statx extended {};
  ASSERT_EQ(statx(AT_FDCWD, folder.Path("f").c_str(), 0, STATX_BTIME, &extended), 0);
  if ((extended.stx_mask & STATX_BTIME) != 0) {
    EXPECT_NEAR(static_cast<double>(status.m_ctime), static_cast<double>(nNow), 60.0);
  } else {
    EXPECT_EQ(status.m_ctime, kWeekAgo);
  }
}

TEST(PosixLockTest, RemoveWaitsForHolderThenDeletes) {
  CTempFolder folder;
  folder.WriteBytes("f", "abc");
  CFile holder;
  ASSERT_TRUE(holder.Open(folder.File("f"), CFile::modeReadWriteDenyWrite));
  std::thread remover([&] { CFile::Remove(folder.File("f")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(kShareWaitMilliseconds / 2));
  EXPECT_TRUE(std::filesystem::exists(folder.Path("f")));
  holder.Close();
  remover.join();
  EXPECT_FALSE(std::filesystem::exists(folder.Path("f")));
}

TEST(PosixLockTest, RemoveOfFileHeldPastShareWaitRaisesAndKeepsIt) {
  CTempFolder folder;
  folder.WriteBytes("f", "abc");
  CFile holder;
  ASSERT_TRUE(holder.Open(folder.File("f"), CFile::modeReadExclusive));
  try {
    CFile::Remove(folder.File("f"));
    ADD_FAILURE() << "Remove did not raise";
  } catch (const CFileException& error) {
    EXPECT_EQ(error.m_nCause, causeSharingViolation);
  }
  EXPECT_TRUE(std::filesystem::exists(folder.Path("f")));
}

TEST(PosixLockTest, WaiterOpensTheFileThatReplacedTheHeldOne) {
  CTempFolder folder;
  folder.WriteBytes("f", "old");
  folder.WriteBytes("g", "new");
  CFile holder;
  ASSERT_TRUE(holder.Open(folder.File("f"), CFile::modeReadWriteDenyWrite));
  std::string strRead;
  std::thread waiter([&] {
    CFile file;
    if (!file.Open(folder.File("f"), CFile::modeReadWriteDenyWrite)) return;
    char buffer[8] = {};
    strRead.assign(buffer, file.Read(buffer, sizeof buffer));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(kShareWaitMilliseconds / 4));
  std::filesystem::rename(folder.Path("g"), folder.Path("f"));
  holder.Close();
  waiter.join();
  EXPECT_EQ(strRead, "new");
}

TEST(PosixLockTest, LockOfAnotherProcessIsWaitedFor) {
  CTempFolder folder;
  folder.WriteBytes("f", "");
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int nFile = open(folder.Path("f").c_str(), O_WRONLY);
    flock(nFile, LOCK_EX);
    (void)!write(pipeEnds[1], "l", 1);
    usleep(kShareWaitMilliseconds / 2 * 1000);
    (void)!write(nFile, "child", 5);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(pipeEnds[0], &c, 1), 1);
  CFile file;
  ASSERT_TRUE(file.Open(folder.File("f"), CFile::modeReadExclusive));
  char buffer[8] = {};
  EXPECT_EQ(std::string(buffer, file.Read(buffer, sizeof buffer)), "child");
  waitpid(child, nullptr, 0);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

TEST(PosixWriteTest, WritePastFileSizeLimitRaisesDiskFull) {
  CTempFolder folder;
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 4096;
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  FileErrorCause nCause = causeNone;
  {
    CFile file;
    if (file.Open(folder.File("f"), CFile::modeCreateExclusive)) {
      const std::string strData(8192, 'x');
      try {
        file.Write(strData.data(), strData.size());
      } catch (const CFileException& error) {
        nCause = error.m_nCause;
      }
    }
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(nCause, causeDiskFull);
}

TEST(PosixTimeTest, LocalTimeFollowsTheZone) {
  const char* pszSaved = std::getenv("TZ");
  const std::string strSaved = pszSaved ? pszSaved : "";
  const struct {
    const char* m_pszZone;
    int64_t m_nTime;
    int m_nYear, m_nMonth, m_nDay, m_nHour, m_nMinute, m_nSecond;
  } kCases[] = {
      {"UTC", 1302253503, 111, 3, 8, 9, 5, 3},
      {"UTC-8", 1302253503, 111, 3, 8, 17, 5, 3},
      {"UTC", 0, 70, 0, 1, 0, 0, 0},
      {"UTC", -1, 69, 11, 31, 23, 59, 59},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.m_pszZone);
    setenv("TZ", test.m_pszZone, 1);
    std::tm local{};
    ASSERT_TRUE(ConvertToLocalTime(test.m_nTime, local));
    EXPECT_EQ(local.tm_year, test.m_nYear);
    EXPECT_EQ(local.tm_mon, test.m_nMonth);
    EXPECT_EQ(local.tm_mday, test.m_nDay);
    EXPECT_EQ(local.tm_hour, test.m_nHour);
    EXPECT_EQ(local.tm_min, test.m_nMinute);
    EXPECT_EQ(local.tm_sec, test.m_nSecond);
  }
  std::tm local{};
  EXPECT_FALSE(ConvertToLocalTime(INT64_MAX, local));
  pszSaved ? setenv("TZ", strSaved.c_str(), 1) : unsetenv("TZ");
}

TEST(PosixHostTest, HostPathIsThisExecutable) {
  std::u16string strPath;
  ASSERT_TRUE(GetHostExecutablePath(strPath));
  const std::u16string strName = u"/platform_files_tests";
  ASSERT_GT(strPath.size(), strName.size());
  EXPECT_EQ(strPath.substr(strPath.size() - strName.size()), strName);
}

}  // namespace
