// What every half of the platform seam promises in platform_files.h.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "platform/platform_files.h"
#include "support/temp_folder.h"

namespace {

constexpr const char* kAbsent = nullptr;  // marks a file that must not exist

struct OpenCase {
  const char* m_pszName;
  const char* m_pszBefore;  // content before the open, or kAbsent
  const char* m_pszTarget;  // name opened, relative to the folder
  CFile::OpenMode m_nMode;
  FileErrorCause m_nCause;  // causeNone when the open must succeed
  const char* m_pszAfter;   // content once closed, or kAbsent
};

const OpenCase kOpenCases[] = {
    {"ReadOpensExistingFile", "abc", "f", CFile::modeReadExclusive, causeNone, "abc"},
    {"ReadOfMissingFileIsNotFound", kAbsent, "f", CFile::modeReadExclusive, causeNotFound, kAbsent},
    {"CreateMakesMissingFile", kAbsent, "f", CFile::modeCreateExclusive, causeNone, ""},
    {"CreateEmptiesExistingFile", "abc", "f", CFile::modeCreateExclusive, causeNone, ""},
    {"CreateInMissingFolderIsNotFound", kAbsent, "no/f", CFile::modeCreateExclusive, causeNotFound, kAbsent},
    {"CreateNewMakesMissingFile", kAbsent, "f", CFile::modeCreateNewExclusive, causeNone, ""},
    {"CreateNewKeepsExistingFile", "abc", "f", CFile::modeCreateNewExclusive, causeAlreadyExists, "abc"},
    {"ReadWriteKeepsContent", "abc", "f", CFile::modeReadWriteDenyWrite, causeNone, "abc"},
    {"ReadWriteNeverCreates", kAbsent, "f", CFile::modeReadWriteDenyWrite, causeNotFound, kAbsent},
    {"ReadOfFolderIsDenied", kAbsent, "", CFile::modeReadExclusive, causeAccessDenied, kAbsent},
    {"CreateOverFolderIsDenied", kAbsent, "", CFile::modeCreateExclusive, causeAccessDenied, kAbsent},
};

TEST(CFileTest, OpenModesCreateTruncateOrRefuseAsDocumented) {
  for (const OpenCase& test : kOpenCases) {
    SCOPED_TRACE(test.m_pszName);
    CTempFolder folder;
    if (test.m_pszBefore != kAbsent) folder.WriteBytes("f", test.m_pszBefore);
    const std::u16string strPath = *test.m_pszTarget ? folder.File(test.m_pszTarget) : folder.Folder();
    CFile file;
    EXPECT_EQ(file.Open(strPath, test.m_nMode), test.m_nCause == causeNone);
    EXPECT_EQ(file.GetOpenError(), test.m_nCause);
    EXPECT_EQ(file.IsOpen(), test.m_nCause == causeNone);
    file.Close();
    if (test.m_pszAfter == kAbsent) {
      EXPECT_FALSE(std::filesystem::exists(folder.Path("f")));
    } else {
      EXPECT_EQ(folder.ReadBytes("f"), test.m_pszAfter);
    }
  }
}

TEST(CFileTest, ReadStopsShortOnlyAtEndAndWriteOverwritesInPlace) {
  CTempFolder folder;
  folder.WriteBytes("f", "abcdef");
  CFile file;
  ASSERT_TRUE(file.Open(folder.File("f"), CFile::modeReadWriteDenyWrite));
  const struct {
    uint64_t m_nOffset;
    size_t m_nRequest;
    const char* m_pszExpected;
  } kReads[] = {{0, 6, "abcdef"}, {0, 4, "abcd"}, {4, 10, "ef"}, {6, 3, ""}, {9, 3, ""}};
  for (const auto& read : kReads) {
    char buffer[16] = {};
    file.Seek(read.m_nOffset);
    EXPECT_EQ(file.Read(buffer, read.m_nRequest), std::strlen(read.m_pszExpected));
    EXPECT_STREQ(buffer, read.m_pszExpected);
  }
  file.SeekToBegin();
  file.Write("XY", 2);
  EXPECT_EQ(file.GetLength(), 6u);
  file.SetLength(4);
  file.Close();
  EXPECT_EQ(folder.ReadBytes("f"), "XYcd");
}

TEST(CFileTest, MovedFileStaysOpenAndDestructionReleasesIt) {
  CTempFolder folder;
  {
    CFile first;
    ASSERT_TRUE(first.Open(folder.File("f"), CFile::modeCreateExclusive));
    CFile second(std::move(first));
    EXPECT_FALSE(first.IsOpen());
    EXPECT_THROW(first.GetLength(), CFileException);
    second.Write("z", 1);
    CFile third;
    third = std::move(second);
    EXPECT_EQ(third.GetLength(), 1u);
  }
  CFile again;
  EXPECT_TRUE(again.Open(folder.File("f"), CFile::modeReadExclusive));
}

// Each case waits out the whole share wait.
TEST(CFileTest, HeldFileRefusesSecondOpenerAfterShareWait) {
  const struct {
    CFile::OpenMode m_nHeld;
    CFile::OpenMode m_nSecond;
  } kCases[] = {{CFile::modeReadWriteDenyWrite, CFile::modeReadWriteDenyWrite},
                {CFile::modeReadExclusive, CFile::modeCreateExclusive}};
  for (const auto& test : kCases) {
    CTempFolder folder;
    folder.WriteBytes("f", "abc");
    CFile holder, second;
    ASSERT_TRUE(holder.Open(folder.File("f"), test.m_nHeld));
    EXPECT_FALSE(second.Open(folder.File("f"), test.m_nSecond));
    EXPECT_EQ(second.GetOpenError(), causeSharingViolation);
    holder.Close();
    EXPECT_EQ(folder.ReadBytes("f"), "abc");
  }
}

// A waiter for a file that its holder removes never gets the removed file:
// what it wrote there would be lost.
TEST(CFileTest, RemovedWhileHeldIsGoneForTheWaiter) {
  CTempFolder folder;
  folder.WriteBytes("f", "abc");
  CFile holder;
  ASSERT_TRUE(holder.Open(folder.File("f"), CFile::modeReadWriteRemovable));
  bool bOpened = true;
  FileErrorCause nCause = causeNone;
  std::thread waiter([&] {
    CFile file;
    bOpened = file.Open(folder.File("f"), CFile::modeReadWriteRemovable);
    nCause = file.GetOpenError();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(kShareWaitMilliseconds / 5));
  holder.RemoveAndClose();
  waiter.join();
  EXPECT_FALSE(holder.IsOpen());
  EXPECT_FALSE(bOpened);
  EXPECT_EQ(nCause, causeNotFound);
  EXPECT_FALSE(std::filesystem::exists(folder.Path("f")));
}

TEST(CFileTest, CreateWaitsForHolderBeforeEmptyingTheFile) {
  CTempFolder folder;
  folder.WriteBytes("f", "abc");
  CFile holder;
  ASSERT_TRUE(holder.Open(folder.File("f"), CFile::modeReadWriteDenyWrite));
  bool bOpened = false;
  std::thread waiter([&] {
    CFile file;
    bOpened = file.Open(folder.File("f"), CFile::modeCreateExclusive);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(kShareWaitMilliseconds / 2));
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus(folder.File("f"), status));
  EXPECT_EQ(status.m_size, 3u);
  holder.Seek(3);
  holder.Write("d", 1);
  holder.Close();
  waiter.join();
  EXPECT_TRUE(bOpened);
  EXPECT_EQ(folder.ReadBytes("f"), "");
}

TEST(CFileStatusTest, StatusReportsSizeKindAndAppliedTimes) {
  CTempFolder folder;
  folder.WriteBytes("f", "abcd");
  CFileStatus status;
  EXPECT_FALSE(CFile::GetStatus(folder.File("missing"), status));
  ASSERT_TRUE(CFile::GetStatus(folder.Folder(), status));
  EXPECT_NE(status.m_attribute & attributeDirectory, 0);

  const int64_t kDay = 86400, kBase = 1300000000;
  CFile::SetStatus(folder.File("f"), CFileStatus{0, kBase, kBase - kDay, 0, attributeNormal});
  const struct {
    int64_t m_nAccess, m_nWrite;  // applied; 0 leaves the time as it is
    int64_t m_nWantAccess, m_nWantWrite;
  } kTimes[] = {{kBase, kBase + kDay, kBase, kBase + kDay},
                {0, kBase - 8 * kDay, kBase, kBase - 8 * kDay},
                {kBase - kDay, 0, kBase - kDay, kBase - 8 * kDay}};
  for (const auto& times : kTimes) {
    CFile::SetStatus(folder.File("f"), CFileStatus{0, times.m_nWrite, times.m_nAccess, 0, attributeNormal});
    ASSERT_TRUE(CFile::GetStatus(folder.File("f"), status));
    EXPECT_EQ(status.m_atime, times.m_nWantAccess);
    EXPECT_EQ(status.m_mtime, times.m_nWantWrite);
    EXPECT_EQ(status.m_size, 4u);
    EXPECT_EQ(status.m_attribute & (attributeDirectory | attributeHidden), 0);
  }
}

TEST(CFileStatusTest, StaticCallsOnMissingFileRaiseNotFound) {
  CTempFolder folder;
  const std::u16string strMissing = folder.File("missing");
  for (int nCall = 0; nCall < 2; ++nCall) {
    try {
      nCall == 0 ? CFile::Remove(strMissing) : CFile::SetStatus(strMissing, CFileStatus{});
      ADD_FAILURE() << "call " << nCall << " did not raise";
    } catch (const CFileException& error) {
      EXPECT_EQ(error.m_nCause, causeNotFound);
      EXPECT_EQ(error.m_strPath, strMissing);
    }
  }
}

TEST(CFileFindTest, ListingVisitsEachEntryOnceAndSurvivesRemovals) {
  CTempFolder folder;
  for (const char* pszName : {"Vardlix1.xml", "keep.txt", "Vardlix2.xml"}) folder.WriteBytes(pszName, "x");
  std::filesystem::create_directory(folder.Path("VardlixDir"));

  std::multiset<std::u16string> names;
  CFileFind find;
  bool bMore = find.FindFile(folder.Folder());
  ASSERT_TRUE(bMore);
  while (bMore) {
    bMore = find.FindNextEntry();
    const std::u16string strName = find.GetFileName();
    if (find.IsDots()) {
      EXPECT_TRUE(strName == u"." || strName == u"..");
      continue;
    }
    names.insert(strName);
    EXPECT_EQ(find.GetFilePath(), folder.Folder() + kPathSeparator + strName);
    EXPECT_EQ(find.IsDirectory(), strName == u"VardlixDir");
    if (!find.IsDirectory() && strName.compare(0, 7, u"Vardlix") == 0) CFile::Remove(find.GetFilePath());
  }
  find.Close();
  EXPECT_EQ(names, (std::multiset<std::u16string>{u"Vardlix1.xml", u"Vardlix2.xml", u"VardlixDir", u"keep.txt"}));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("Vardlix1.xml")));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("Vardlix2.xml")));
  EXPECT_TRUE(std::filesystem::exists(folder.Path("keep.txt")));
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path("VardlixDir")));
}

TEST(CFileFindTest, NothingToListIsFalse) {
  CTempFolder folder;
  folder.WriteBytes("plain", "x");
  CFileFind find;
  EXPECT_FALSE(find.FindFile(folder.File("missing")));
  EXPECT_FALSE(find.FindFile(folder.File("plain")));
}

TEST(CreateFolderTest, ResultTellsCreatedExistingOrFailed) {
  CTempFolder folder;
  folder.WriteBytes("plain", "x");
  std::filesystem::create_directory(folder.Path("existing"));
  const struct {
    const char* m_pszName;
    CreateFolderResult m_nResult;
  } kCases[] = {{"new", folderCreated},
                {"existing", folderAlreadyExists},
                {"plain", folderAlreadyExists},
                {"missing/child", folderFailed}};
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    EXPECT_EQ(CreateFolder(folder.File(test.m_pszName)), test.m_nResult);
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path("new")));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("missing")));
}

TEST(TestHooksTest, FixedClockAndHostPathHoldUntilReset) {
  SetClockForTesting(1302253503);
  EXPECT_EQ(ReadClock(), 1302253503);
  ResetClockForTesting();
  EXPECT_GT(ReadClock(), 1302253503);

  std::u16string strPath;
  SetHostPathForTesting(u"made-up/host.exe");
  ASSERT_TRUE(GetHostExecutablePath(strPath));
  EXPECT_EQ(strPath, u"made-up/host.exe");
  SetHostPathForTesting(u"", false);
  EXPECT_FALSE(GetHostExecutablePath(strPath));
  ResetHostPathForTesting();
  ASSERT_TRUE(GetHostExecutablePath(strPath));
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus(strPath, status));
  EXPECT_EQ(status.m_attribute & attributeDirectory, 0);
}

}  // namespace
