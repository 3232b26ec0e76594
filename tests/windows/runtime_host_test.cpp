// Vardlix.dll inside hosts that bring their own GCC runtime or load and
// unload the DLL many times: each test copies RuntimeHost.exe, the DLL and
// the shared GCC runtime into a fresh folder, runs the host there (its log
// folder is RuntimeHostLog beside it) and checks what it reports and leaves.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>

#include "file_age.h"
#include "support/document_bytes.h"
#include "support/temp_folder.h"

namespace {

std::filesystem::path OwnFolder() {
  wchar_t aPath[MAX_PATH];
  const DWORD nLength = GetModuleFileNameW(nullptr /* this program */, aPath, MAX_PATH);
  return std::filesystem::path(std::wstring(aPath, nLength)).parent_path();
}

// Local date as the DLL names its daily files.
std::string DayFileName() {
  std::tm local{};
  const __time64_t nNow = std::time(nullptr);
  _localtime64_s(&local, &nNow);
  char aText[32];
  std::snprintf(aText, sizeof aText, "Vardlix%4d%02d%02d.xml", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return aText;
}

// A folder holding the host, the DLL and the shared GCC runtime.
class CHostFolder {
 public:
  CHostFolder() {
    for (const char* pszFile : {"RuntimeHost.exe", "Vardlix.dll", VARDLIX_SHARED_GCC_RUNTIME, "libwinpthread-1.dll"}) {
      std::filesystem::copy_file(OwnFolder() / pszFile, m_folder.Path(pszFile));
    }
  }

  std::filesystem::path LogPath(const std::string& strName = "") const {
    return strName.empty() ? m_folder.Path("RuntimeHostLog") : m_folder.Path("RuntimeHostLog") / strName;
  }
  std::filesystem::path Path(const std::string& strName) const { return m_folder.Path(strName); }

  // The host, started suspended so that a test can prepare files that
  // depend on its process id first.
  PROCESS_INFORMATION StartHost(const std::wstring& strArgs) const {
    std::wstring strCommand = L"\"" + m_folder.Path("RuntimeHost.exe").wstring() + L"\" " + strArgs;
    const std::wstring strFolder = m_folder.Path().wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr /* program: from the command line */, &strCommand[0], nullptr /* process security */,
                        nullptr /* thread security */, FALSE /* no handles */, CREATE_SUSPENDED,
                        nullptr /* this environment */, strFolder.c_str(), &startup, &process)) {
      ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    }
    return process;
  }

  static DWORD ResumeAndWait(const PROCESS_INFORMATION& process) {
    if (process.hProcess == nullptr) return ~0u;
    ResumeThread(process.hThread);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 300000), WAIT_OBJECT_0);
    DWORD nExit = ~0u;
    GetExitCodeProcess(process.hProcess, &nExit);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return nExit;
  }

  DWORD RunHost(const std::wstring& strArgs) const { return ResumeAndWait(StartHost(strArgs)); }

  // Records with location strTag in every daily file of the log folder.
  int CountRecords(const std::u16string& strTag) const {
    const std::u16string strLocation = u"<位置>" + strTag + u"</位置>";
    int nRecords = 0;
    for (const auto& entry : std::filesystem::directory_iterator(LogPath())) {
      const std::string strName = entry.path().filename().string();
      if (strName.compare(0, 7, "Vardlix") != 0 || entry.path().extension() != ".xml") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string strBytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      const std::u16string strText = DecodeDocument(strBytes);
      for (size_t nAt = 0; (nAt = strText.find(strLocation, nAt)) != std::u16string::npos; nAt += strLocation.size()) {
        ++nRecords;
      }
    }
    return nRecords;
  }

 private:
  CTempFolder m_folder;
};

// Opens a file with share mode 0, as another program that holds it does.
HANDLE HoldFile(const std::filesystem::path& path, DWORD nCreation) {
  HANDLE hFile = CreateFileW(path.wstring().c_str(), GENERIC_READ, 0 /* no sharing */, nullptr /* security */,
                             nCreation, 0, nullptr /* template */);
  EXPECT_NE(hFile, INVALID_HANDLE_VALUE) << path << ": " << GetLastError();
  return hFile;
}

// The DLL raises and catches inside itself when the purge at load cannot
// delete an expired log file and when the first write of a day cannot make
// its temporary file. With the shared runtime loaded first, the DLL's
// start-up code gave its unwind tables to that runtime, and the first of
// these exceptions ended the host in std::terminate (exit 3). Loaded after
// the DLL, or not at all, the shared runtime must change nothing.
TEST(RuntimeHostTest, HeldFilesAreSurvivedWhereverTheSharedGccRuntimeIs) {
  for (const wchar_t* pszWhen : {L"before", L"after", L"none"}) {
    SCOPED_TRACE(std::string(pszWhen, pszWhen + std::wcslen(pszWhen)));
    const std::wstring strWhen = pszWhen;
    CHostFolder folder;
    ASSERT_TRUE(std::filesystem::create_directory(folder.LogPath()));
    const std::filesystem::path expired = folder.LogPath("Vardlix20000101.xml");
    std::ofstream(expired, std::ios::binary) << "x";
    AgeFile(expired, 8);
    HANDLE hExpired = HoldFile(expired, OPEN_EXISTING);
    const PROCESS_INFORMATION process = folder.StartHost(strWhen + L" write 1 Held");
    const std::filesystem::path temporary =
        folder.LogPath(DayFileName() + "." + std::to_string(process.dwProcessId) + ".tmp");
    HANDLE hTemporary = HoldFile(temporary, CREATE_NEW);

    EXPECT_EQ(CHostFolder::ResumeAndWait(process), 0u);
    CloseHandle(hTemporary);
    CloseHandle(hExpired);
    std::filesystem::remove(temporary);

    // Once nothing is held, the next host's load purges and its records land.
    EXPECT_EQ(folder.RunHost(strWhen + L" write 2 Later"), 0u);
    EXPECT_FALSE(std::filesystem::exists(expired));
    EXPECT_EQ(folder.CountRecords(u"Later"), 2);
  }
}

// Hosts that load the DLL for each call: every cycle took a TLS slot, two
// handles and about 19 KB of heap that the static runtime never gave back,
// and after about 1,080 cycles TlsAlloc failed and the host aborted. The
// shared runtime is loaded first, so that the DLL registers and takes back
// its own unwind tables in every cycle as well. About 250 bytes per cycle
// stay in lists of the thread runtime that the DLL cannot reach.
TEST(RuntimeHostTest, FiveThousandLoadsKeepTlsSlotsHandlesAndHeapFromGrowing) {
  constexpr int kCycles = 5000;
  constexpr unsigned long long kHeapBytesPerCycle = 1024;
  CHostFolder folder;
  ASSERT_EQ(folder.RunHost(L"before cycles " + std::to_wstring(kCycles)), 0u);
  unsigned long nSlotBefore = 0, nSlotAfter = 0, nHandlesBefore = 0, nHandlesAfter = 0;
  unsigned long long nHeapBefore = 0, nHeapAfter = 0;
  std::ifstream figures(folder.Path("RuntimeHostCycles.txt"));
  ASSERT_TRUE(figures >> nSlotBefore >> nSlotAfter >> nHandlesBefore >> nHandlesAfter >> nHeapBefore >> nHeapAfter);
  EXPECT_EQ(nSlotAfter, nSlotBefore);
  EXPECT_GT(nHandlesBefore, 0u) << "no handle count";
  EXPECT_LE(nHandlesAfter, nHandlesBefore + 4);
  EXPECT_GT(nHeapBefore, 0u) << "no heap walk";
  EXPECT_LE(nHeapAfter, nHeapBefore + kHeapBytesPerCycle * kCycles);
  EXPECT_EQ(folder.CountRecords(u"Cycle"), kCycles);
  std::printf("over %d cycles: TLS slot %lu -> %lu, handles %lu -> %lu, heap %llu -> %llu bytes\n", kCycles,
              nSlotBefore, nSlotAfter, nHandlesBefore, nHandlesAfter, nHeapBefore, nHeapAfter);
}

}  // namespace
