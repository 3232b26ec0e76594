// Vardlix.dll under load: two writer processes of two threads each, started
// at the same moment in a folder of their own. Afterwards every record is in
// the day's file exactly once, in its writer's order, in the exact layout.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "load_check.h"
#include "support/temp_folder.h"

namespace {

constexpr int kProcesses = 2;
constexpr int kThreads = 2;
constexpr int kRecords = 50;

std::filesystem::path OwnFolder() {
  wchar_t aPath[MAX_PATH];
  const DWORD nLength = GetModuleFileNameW(nullptr /* this program */, aPath, MAX_PATH);
  return std::filesystem::path(std::wstring(aPath, nLength)).parent_path();
}

HANDLE StartWriter(const CTempFolder& folder, const std::wstring& strArgs) {
  std::wstring strCommand = L"\"" + folder.Path("ReliabilityWriter.exe").wstring() + L"\" " + strArgs;
  const std::wstring strFolder = folder.Path().wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr /* program: from the command line */, &strCommand[0], nullptr /* process security */,
                      nullptr /* thread security */, FALSE /* no handles */, 0, nullptr /* this environment */,
                      strFolder.c_str(), &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

DWORD WaitForWriter(HANDLE hProcess) {
  if (hProcess == nullptr) return ~0u;
  EXPECT_EQ(WaitForSingleObject(hProcess, 300000), WAIT_OBJECT_0);
  DWORD nExit = ~0u;
  GetExitCodeProcess(hProcess, &nExit);
  CloseHandle(hProcess);
  return nExit;
}

// The records of every day's file in the log folder, in the order of the
// days: a run that crosses midnight leaves two.
std::vector<CLoggedRecord> ReadAllRecords(const std::filesystem::path& logFolder) {
  std::vector<std::filesystem::path> aFiles;
  for (const auto& entry : std::filesystem::directory_iterator(logFolder)) {
    if (entry.path().filename().string().compare(0, 7, "Vardlix") == 0) aFiles.push_back(entry.path());
  }
  std::sort(aFiles.begin(), aFiles.end());
  std::vector<CLoggedRecord> aAll;
  for (const std::filesystem::path& file : aFiles) {
    std::ifstream in(file, std::ios::binary);
    const std::string strBytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<CLoggedRecord> aRecords;
    std::string strWhy;
    EXPECT_TRUE(ReadLoggedRecords(ReadLogView(strBytes), u"", aRecords, strWhy)) << file.string() << ": " << strWhy;
    aAll.insert(aAll.end(), aRecords.begin(), aRecords.end());
  }
  return aAll;
}

TEST(DllLoadTest, WritersOfTwoProcessesLoseNoRecordAndKeepTheirOrder) {
  CTempFolder folder;
  for (const char* pszFile : {"ReliabilityWriter.exe", "Vardlix.dll"}) {
    std::filesystem::copy_file(OwnFolder() / pszFile, folder.Path(pszFile));
  }
  const std::wstring strEvent = L"VardlixReliabilityStart" + std::to_wstring(GetCurrentProcessId());
  HANDLE hStart =
      CreateEventW(nullptr /* default security */, TRUE /* manual reset */, FALSE /* not set */, strEvent.c_str());
  ASSERT_NE(hStart, nullptr);
  HANDLE hReady = CreateSemaphoreW(nullptr /* default security */, 0, kProcesses, (strEvent + L"Ready").c_str());
  ASSERT_NE(hReady, nullptr);
  std::vector<HANDLE> aWriters;
  for (int p = 0; p < kProcesses; ++p) {
    aWriters.push_back(StartWriter(folder, std::to_wstring(p) + L" " + std::to_wstring(kThreads) + L" " +
                                               std::to_wstring(kRecords) + L" " + strEvent));
  }
  // Both have loaded the library before either writes.
  for (int p = 0; p < kProcesses; ++p) EXPECT_EQ(WaitForSingleObject(hReady, 120000), WAIT_OBJECT_0);
  SetEvent(hStart);
  for (HANDLE hWriter : aWriters) EXPECT_EQ(WaitForWriter(hWriter), 0u);
  CloseHandle(hReady);
  CloseHandle(hStart);
  ExpectEveryRecordOnceInOrder(ReadAllRecords(folder.Path("ReliabilityWriterLog")), kProcesses, kThreads, kRecords);
}

}  // namespace
