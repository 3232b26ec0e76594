// The seam's fault injection and the calls added for whole-or-nothing files:
// each operation fails with each cause the way platform_files.h says, once
// or from then on; a short write leaves the first half; renaming replaces or
// refuses as asked.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/platform_files.h"
#include "support/temp_folder.h"

namespace {

// One platform call, made while call 1 is set to fail. Returns the cause the
// caller sees (causeNone when the call succeeded).
using FaultedCall = std::function<FileErrorCause(const CTempFolder&)>;

FileErrorCause CauseOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const CFileException& error) {
    return error.m_nCause;
  }
  return causeNone;
}

// An open file of the folder, opened before the plan is set.
CFile OpenExisting(const CTempFolder& folder) {
  CFile file;
  EXPECT_TRUE(file.Open(folder.File("data"), CFile::modeReadWriteDenyWrite));
  return file;
}

struct OperationCase {
  const char* m_pszName;
  bool m_bNeedsOpenFile;  // the file is opened before the plan is set
  std::function<FileErrorCause(const CTempFolder&, CFile&)> m_call;
};

const OperationCase kOperations[] = {
    {"Open", false,
     [](const CTempFolder& folder, CFile& file) {
       return file.Open(folder.File("data"), CFile::modeReadExclusive) ? causeNone : file.GetOpenError();
     }},
    {"Read", true,
     [](const CTempFolder&, CFile& file) {
       char ab[4];
       return CauseOf([&] { file.Read(ab, sizeof ab); });
     }},
    {"Write", true, [](const CTempFolder&, CFile& file) { return CauseOf([&] { file.Write("xy", 2); }); }},
    {"Seek", true, [](const CTempFolder&, CFile& file) { return CauseOf([&] { file.Seek(1); }); }},
    {"GetLength", true, [](const CTempFolder&, CFile& file) { return CauseOf([&] { file.GetLength(); }); }},
    {"SetLength", true, [](const CTempFolder&, CFile& file) { return CauseOf([&] { file.SetLength(1); }); }},
    // The calls that report by their result can only say "failed".
    {"GetStatus", false,
     [](const CTempFolder& folder, CFile&) {
       CFileStatus status;
       return CFile::GetStatus(folder.File("data"), status) ? causeNone : causeOther;
     }},
    {"SetStatus", false,
     [](const CTempFolder& folder, CFile&) {
       return CauseOf([&] { CFile::SetStatus(folder.File("data"), CFileStatus{}); });
     }},
    {"Remove", false,
     [](const CTempFolder& folder, CFile&) { return CauseOf([&] { CFile::Remove(folder.File("data")); }); }},
    {"Rename", false,
     [](const CTempFolder& folder, CFile&) {
       return CauseOf([&] { CFile::Rename(folder.File("data"), folder.File("moved"), false); });
     }},
    {"FindFile", false,
     [](const CTempFolder& folder, CFile&) {
       CFileFind find;
       return find.FindFile(folder.Folder()) ? causeNone : causeOther;
     }},
    {"CreateFolder", false,
     [](const CTempFolder& folder, CFile&) {
       return CreateFolder(folder.File("sub")) == folderFailed ? causeOther : causeNone;
     }},
};

const FileErrorCause kCauses[] = {causeDiskFull, causeIoError, causeAccessDenied, causeSharingViolation};

// The cause a call reports: its own for calls that raise or tell it, a bare
// failure for those that only return false.
FileErrorCause ReportedCause(const OperationCase& operation, FileErrorCause nInjected) {
  const std::string strName = operation.m_pszName;
  return strName == "GetStatus" || strName == "FindFile" || strName == "CreateFolder" ? causeOther : nInjected;
}

struct FaultPlanTest : ::testing::Test {
  void TearDown() override { ResetFileFaultsForTesting(); }
};

TEST_F(FaultPlanTest, FailedCallReportsTheCauseAsThePlatformWould) {
  for (const OperationCase& operation : kOperations) {
    for (FileErrorCause nCause : kCauses) {
      SCOPED_TRACE(std::string(operation.m_pszName) + " with cause " + std::to_string(nCause));
      CTempFolder folder;
      folder.WriteBytes("data", "abcd");
      CFile file = operation.m_bNeedsOpenFile ? OpenExisting(folder) : CFile();
      CFileFaultPlan plan;
      plan.m_nFailAt = 1;
      plan.m_nCause = nCause;
      SetFileFaultsForTesting(plan);
      EXPECT_EQ(operation.m_call(folder, file), ReportedCause(operation, nCause));
      EXPECT_EQ(CountFileCallsForTesting(), 1);
      EXPECT_EQ(CountFileFaultsForTesting(), 1);
      ResetFileFaultsForTesting();
      file.Close();
      // The failed call changed nothing.
      EXPECT_EQ(folder.ReadBytes("data"), "abcd");
    }
  }
}

TEST_F(FaultPlanTest, CallsBeforeTheChosenOneRunAndOnlyLastingFaultsRepeat) {
  struct Case {
    const char* m_pszName;
    bool m_bPersistent;
    bool m_aSucceeds[4];  // calls 1 to 4
  };
  const Case kCases[] = {
      {"OnceFailsOnlyCallThree", false, {true, true, false, true}},
      {"FromThenOnFailsThreeAndFour", true, {true, true, false, false}},
  };
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    CTempFolder folder;
    folder.WriteBytes("data", "abcd");
    CFileFaultPlan plan;
    plan.m_nFailAt = 3;
    plan.m_bPersistent = test.m_bPersistent;
    SetFileFaultsForTesting(plan);
    for (bool bSucceeds : test.m_aSucceeds) {
      CFileStatus status;
      EXPECT_EQ(CFile::GetStatus(folder.File("data"), status), bSucceeds);
    }
    EXPECT_EQ(CountFileCallsForTesting(), 4);
    EXPECT_EQ(CountFileFaultsForTesting(), test.m_bPersistent ? 2 : 1);
    ResetFileFaultsForTesting();
  }
}

TEST_F(FaultPlanTest, ShortWriteLeavesTheFirstHalfThenRaises) {
  CTempFolder folder;
  folder.WriteBytes("data", "");
  CFile file = OpenExisting(folder);
  CFileFaultPlan plan;
  plan.m_nFailAt = 1;
  plan.m_nCause = causeDiskFull;
  plan.m_bShortWrite = true;
  SetFileFaultsForTesting(plan);
  EXPECT_EQ(CauseOf([&] { file.Write("12345678", 8); }), causeDiskFull);
  ResetFileFaultsForTesting();
  file.Close();
  EXPECT_EQ(folder.ReadBytes("data"), "1234");
}

TEST_F(FaultPlanTest, WithoutPlanNothingIsCountedOrFailed) {
  CTempFolder folder;
  folder.WriteBytes("data", "abcd");
  CFileStatus status;
  EXPECT_TRUE(CFile::GetStatus(folder.File("data"), status));
  EXPECT_EQ(CountFileCallsForTesting(), 0);
}

TEST(RenameTest, ReplacesOnlyWhenAskedAndOtherwiseKeepsBothFiles) {
  struct Case {
    const char* m_pszName;
    bool m_bTargetExists;
    bool m_bReplace;
    FileErrorCause m_nCause;  // of the rename
    const char* m_pszTarget;  // content of "to" afterwards
    bool m_bSourceRemains;
  };
  const Case kCases[] = {
      {"NewNameIsTaken", false, false, causeNone, "new", false},
      {"ExistingNameIsKept", true, false, causeAlreadyExists, "old", true},
      {"ExistingNameIsReplaced", true, true, causeNone, "new", false},
      {"NewNameIsTakenWhenReplacing", false, true, causeNone, "new", false},
  };
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    CTempFolder folder;
    folder.WriteBytes("from", "new");
    if (test.m_bTargetExists) folder.WriteBytes("to", "old");
    EXPECT_EQ(CauseOf([&] { CFile::Rename(folder.File("from"), folder.File("to"), test.m_bReplace); }), test.m_nCause);
    EXPECT_EQ(folder.ReadBytes("to"), test.m_pszTarget);
    EXPECT_EQ(std::filesystem::exists(folder.Path("from")), test.m_bSourceRemains);
  }
}

#ifndef _WIN32
TEST(KillSafeWriteTest, OnlyWritesWithinOnePageAreAllOrNothing) {
  struct Case {
    uint64_t m_nOffset;
    size_t m_nCount;
    bool m_bWhole;
  };
  const Case kCases[] = {
      {0, 4096, true},    // the first page exactly
      {4082, 14, true},   // ends on the boundary
      {4084, 14, false},  // two bytes into the next page
      {4096, 14, true},   // starts on the boundary
      {8190, 2, true},    // last unit of a page
      {8190, 4, false},   // across it
      {100, 0, true},     // nothing
  };
  for (const Case& test : kCases) {
    EXPECT_EQ(IsWriteAllOrNothing(test.m_nOffset, test.m_nCount), test.m_bWhole)
        << test.m_nOffset << "+" << test.m_nCount;
  }
}
#endif

}  // namespace
