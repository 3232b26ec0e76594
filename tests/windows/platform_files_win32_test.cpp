// What the Win32 half of the platform seam adds to the shared contract: real
// share modes as other programs see them, the system's hidden attribute,
// FILETIME conversion, the ANSI code page and the "C:\" fallback folder.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cwctype>
#include <string>
#include <thread>

#include "platform/platform_files.h"
#include "support/temp_folder.h"

namespace {

const wchar_t* Wide(const std::u16string& str) { return reinterpret_cast<const wchar_t*>(str.c_str()); }

// What another program gets when it opens a file that a CFile holds. These
// opens do not wait: they show the share mode the system was given.
struct OutsiderCase {
  const char* m_pszName;
  CFile::OpenMode m_nHeld;
  DWORD m_nAccess;
  DWORD m_nShare;
  bool m_bOpens;
};

const DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

const OutsiderCase kOutsiderCases[] = {
    {"ReaderShutOutOfSettingsRead", CFile::modeReadExclusive, GENERIC_READ, kShareReadWrite, false},
    // A viewer reading the settings file is no obstacle, nor the other way round.
    {"ViewerReadsAlongSharedRead", CFile::modeReadShared, GENERIC_READ, FILE_SHARE_READ, true},
    {"WriterShutOutOfSharedRead", CFile::modeReadShared, GENERIC_WRITE, kShareReadWrite, false},
    {"ReaderShutOutOfCreatedFile", CFile::modeCreateExclusive, GENERIC_READ, kShareReadWrite, false},
    {"ReaderShutOutOfNewFile", CFile::modeCreateNewExclusive, GENERIC_READ, kShareReadWrite, false},
    {"ReaderSharingWriteReadsDailyLogInUpdate", CFile::modeReadWriteDenyWrite, GENERIC_READ, kShareReadWrite, true},
    // The holder writes, so a reader that does not allow writing is refused.
    {"ReaderDenyingWriteShutOutOfDailyLogInUpdate", CFile::modeReadWriteDenyWrite, GENERIC_READ, FILE_SHARE_READ,
     false},
    {"WriterShutOutOfDailyLogInUpdate", CFile::modeReadWriteDenyWrite, GENERIC_WRITE, kShareReadWrite, false},
    {"AttributeReaderPassesExclusiveHolder", CFile::modeCreateExclusive, FILE_READ_ATTRIBUTES, kShareReadWrite, true},
};

TEST(Win32ShareModeTest, OtherProgramsMeetTheShareModeOfEachOpenMode) {
  for (const OutsiderCase& test : kOutsiderCases) {
    SCOPED_TRACE(test.m_pszName);
    CTempFolder folder;
    folder.WriteBytes("f", "abc");
    CFile holder;
    if (test.m_nHeld == CFile::modeCreateNewExclusive) std::filesystem::remove(folder.Path("f"));
    ASSERT_TRUE(holder.Open(folder.File("f"), test.m_nHeld));
    HANDLE hOther = CreateFileW(Wide(folder.File("f")), test.m_nAccess, test.m_nShare, nullptr /* security */,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr /* template */);
    const DWORD nError = GetLastError();
    EXPECT_EQ(hOther != INVALID_HANDLE_VALUE, test.m_bOpens);
    if (hOther != INVALID_HANDLE_VALUE) {
      CloseHandle(hOther);
    } else {
      EXPECT_EQ(nError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
  }
}

// The purge meets a daily log that a writer holds: deleting it must fail, and
// say why, rather than pull the file from under the writer.
TEST(Win32ShareModeTest, RemoveRaisesWhileFileInUseOrForFolder) {
  CTempFolder folder;
  folder.WriteBytes("held", "x");
  std::filesystem::create_directory(folder.Path("dir"));
  CFile holder;
  ASSERT_TRUE(holder.Open(folder.File("held"), CFile::modeReadWriteDenyWrite));
  const struct {
    const char* m_pszName;
    FileErrorCause m_nCause;
  } kCases[] = {{"held", causeSharingViolation}, {"dir", causeAccessDenied}};
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    try {
      CFile::Remove(folder.File(test.m_pszName));
      ADD_FAILURE() << "removed";
    } catch (const CFileException& error) {
      EXPECT_EQ(error.m_nCause, test.m_nCause);
    }
    EXPECT_TRUE(std::filesystem::exists(folder.Path(test.m_pszName)));
  }
}

TEST(Win32ShareModeTest, RefusalComesOnlyAfterTheShareWait) {
  CTempFolder folder;
  folder.WriteBytes("f", "abc");
  CFile holder, second;
  ASSERT_TRUE(holder.Open(folder.File("f"), CFile::modeReadExclusive));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(second.Open(folder.File("f"), CFile::modeReadExclusive));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(second.GetOpenError(), causeSharingViolation);
  // The system's tick count moves in steps of up to 16 ms.
  EXPECT_GE(waited, std::chrono::milliseconds(kShareWaitMilliseconds - 20));
}

// A scanner opens a file the moment it is closed: the rename of a temporary
// file waits for it instead of failing, and gives up on one that never goes.
TEST(Win32ShareModeTest, RenameWaitsForAScannerThatLetsGo) {
  const struct {
    const char* m_pszName;
    int m_nHoldMilliseconds;  // -1: held throughout
    bool m_bRenamed;
  } kCases[] = {{"ScannerLetsGo", kShareWaitMilliseconds / 2, true}, {"ScannerNeverLetsGo", -1, false}};
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    CTempFolder folder;
    folder.WriteBytes("f.tmp", "abc");
    HANDLE hScanner = CreateFileW(Wide(folder.File("f.tmp")), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr /* security */, OPEN_EXISTING, 0, nullptr /* template */);
    ASSERT_NE(hScanner, INVALID_HANDLE_VALUE);
    std::thread scanner([&] {
      if (test.m_nHoldMilliseconds >= 0) {
        Sleep(static_cast<DWORD>(test.m_nHoldMilliseconds));
        CloseHandle(hScanner);
      }
    });
    bool bRenamed = true;
    try {
      CFile::Rename(folder.File("f.tmp"), folder.File("f"), false);
    } catch (const CFileException& error) {
      bRenamed = false;
      EXPECT_EQ(error.m_nCause, causeSharingViolation);
    }
    scanner.join();
    if (test.m_nHoldMilliseconds < 0) CloseHandle(hScanner);
    EXPECT_EQ(bRenamed, test.m_bRenamed);
    EXPECT_EQ(std::filesystem::exists(folder.Path("f")), test.m_bRenamed);
  }
}

// Hidden and read-only are the system's attributes, as every other program
// sees them; the archive bit of a fresh file is neither reported nor lost.
TEST(Win32AttributeTest, AttributeByteMapsToSystemAttributes) {
  const struct {
    const char* m_pszName;
    uint8_t m_nApplied;
    DWORD m_nSystem;  // hidden and read-only bits afterwards
  } kCases[] = {
      {"HiddenIsSet", attributeHidden, FILE_ATTRIBUTE_HIDDEN},
      {"NormalClearsHidden", attributeNormal, 0},
      {"ReadOnlyIsSet", attributeReadOnly, FILE_ATTRIBUTE_READONLY},
      {"HiddenReplacesReadOnly", attributeHidden, FILE_ATTRIBUTE_HIDDEN},
      {"DirectoryBitIsIgnored", attributeDirectory | attributeHidden, FILE_ATTRIBUTE_HIDDEN},
  };
  CTempFolder folder;
  folder.WriteBytes("f", "x");
  const std::u16string strPath = folder.File("f");
  ASSERT_TRUE(SetFileAttributesW(Wide(strPath), FILE_ATTRIBUTE_ARCHIVE));
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    CFile::SetStatus(strPath, CFileStatus{0, 0, 0, 0, test.m_nApplied});
    const DWORD nSystem = GetFileAttributesW(Wide(strPath));
    EXPECT_EQ(nSystem & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), test.m_nSystem);
    EXPECT_EQ(nSystem & FILE_ATTRIBUTE_DIRECTORY, 0u);
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(strPath, status));
    EXPECT_EQ(status.m_attribute, static_cast<uint8_t>(test.m_nSystem));
  }
  CFile::SetStatus(strPath, CFileStatus{});
}

// Seconds since 1970 go through FILETIME (100 ns ticks since 1601) and come
// back unchanged, before 1970 and past 2038 included. Only the write and
// access times: Wine keeps no creation time of its own.
TEST(Win32AttributeTest, TimesSurviveFileTimeConversion) {
  const int64_t kTimes[] = {1, 1302253503, 4102444800, -86400};
  CTempFolder folder;
  folder.WriteBytes("f", "x");
  for (int64_t nTime : kTimes) {
    SCOPED_TRACE(nTime);
    CFile::SetStatus(folder.File("f"), CFileStatus{0, nTime, nTime + 1, 0, attributeNormal});
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(folder.File("f"), status));
    EXPECT_EQ(status.m_mtime, nTime);
    EXPECT_EQ(status.m_atime, nTime + 1);
  }
}

// Wine takes the ANSI code page from the locale; the test runner pins LANG to
// C.UTF-8, which gives 1252. A Windows machine of another code page skips.
TEST(Win32NarrowTextTest, TextWithoutMarkIsReadInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP();
  const struct {
    const char* m_pszName;
    std::string m_strBytes;
    std::u16string m_strText;
  } kCases[] = {
      {"AsciiStaysAscii", "<a>7</a>", u"<a>7</a>"},
      {"EuroSignIsByte80", "\x80", u"\u20AC"},
      {"LatinLetterIsOneByte", "caf\xE9", u"caf\u00E9"},
      // Not UTF-8 here: each byte is a character of the code page.
      {"Utf8BytesAreTwoCharacters", "\xC3\xA9", u"\u00C3\u00A9"},
      {"ZeroByteIsKept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"EmptyIsEmpty", "", u""},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    EXPECT_EQ(DecodeNarrowText(test.m_strBytes.data(), test.m_strBytes.size()), test.m_strText);
  }
}

TEST(Win32PathTest, HostPathIsTheRunningExecutable) {
  std::u16string strPath;
  ASSERT_TRUE(GetHostExecutablePath(strPath));
  ASSERT_GT(strPath.size(), 3u);
  // A drive letter: Wine shows programs outside its C: drive under Z:.
  EXPECT_TRUE(std::iswalpha(strPath[0]));
  EXPECT_EQ(strPath.substr(1, 2), u":\\");
  std::u16string strLower;
  for (char16_t c : strPath) strLower += static_cast<char16_t>(std::towlower(c));
  const std::u16string strName = u"\\platform_files_win32_tests.exe";
  ASSERT_GE(strLower.size(), strName.size());
  EXPECT_EQ(strLower.substr(strLower.size() - strName.size()), strName);
}

// The fallback folder ends in a separator and the derived ones do not;
// either way entries get exactly one separator before their name.
TEST(Win32PathTest, ListingJoinsFolderAndNameWithOneSeparator) {
  CTempFolder folder;
  folder.WriteBytes("Vardlix1.xml", "x");
  const struct {
    const char* m_pszName;
    std::u16string m_strFolder;
    std::u16string m_strPrefix;
  } kCases[] = {
      {"DerivedFolder", folder.Folder(), folder.Folder() + u"\\"},
      {"FolderWithSeparator", folder.Folder() + u"\\", folder.Folder() + u"\\"},
      {"FallbackFolder", kFallbackFolder, u"C:\\"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    CFileFind find;
    bool bMore = find.FindFile(test.m_strFolder);
    ASSERT_TRUE(bMore);
    int nEntries = 0;
    while (bMore) {
      bMore = find.FindNextEntry();
      if (find.IsDots()) continue;
      ++nEntries;
      EXPECT_EQ(find.GetFilePath(), test.m_strPrefix + find.GetFileName());
      CFileStatus status;
      EXPECT_TRUE(CFile::GetStatus(find.GetFilePath(), status));
    }
    EXPECT_GT(nEntries, 0);
  }
}

}  // namespace
