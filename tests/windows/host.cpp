// Host.exe: a Windows program that uses Vardlix.dll the way a host of the
// class framework does. It loads the DLL from its own folder at run time,
// finds the exports by name or by ordinal, and passes its own string objects
// (one pointer to the characters, like the framework's wide string). Then it
// runs its steps in order, the way hosts that are less than polite behave:
//
//   Host.exe by-name|by-ordinal STEP...
//     load                  nothing more than the load itself
//     life DAYS             SetLogLife; its result becomes the exit code
//     write COUNT TAG       COUNT records with the location TAG
//     thread-write TAG      one record from a thread of its own, which must
//                           return within 10 s
//     bad-string            a record whose description runs into a page that
//                           cannot be read, on a thread that the host's
//                           crash guard abandons when it faults
//     check-free            every day's file can be opened exclusively: the
//                           library holds none of them between calls
//     signal NAME, wait NAME  set, or wait for, a named event of the driver
//     report FILE           writes the milliseconds of the load and of each
//                           write step, one number a line
//     end                   ends the process at once (ExitProcess), without
//                           FreeLibrary, as a host linked with the import
//                           library ends
//
// Records: type "Info", location TAG, operation "Op<n>" with n counting the
// records of that TAG from 0, parameters "a&b<c>", description empty. Other
// exit codes: see HostExit.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "vardlix.h"

namespace {

enum HostExit : int {
  exitDone = 0,
  exitUsage = 100,
  exitNoLibrary = 101,
  exitNoExport = 102,
  exitExportsDiffer = 103,
  exitNoEvent = 104,
  exitHung = 105,
  exitFileHeld = 106,
  exitNotFaulted = 107,
};

// The framework's wide string in miniature: its only member points to the
// zero-terminated characters, so a reference to it is a pointer to that
// pointer. The DLL declares the same layout as CVardlixString.
class CHostString {
 public:
  explicit CHostString(const std::wstring& strText) : m_pszData(new wchar_t[strText.size() + 1]) {
    std::wmemcpy(m_pszData, strText.c_str(), strText.size() + 1);
  }
  ~CHostString() { delete[] m_pszData; }
  CHostString(const CHostString&) = delete;
  CHostString& operator=(const CHostString&) = delete;

 private:
  wchar_t* m_pszData;  // zero-terminated UTF-16 text
};
static_assert(sizeof(CHostString) == sizeof(CVardlixString), "one pointer, as the DLL expects");

using SetLogLifeFunction = int(__cdecl*)(uint32_t nDays);
using WriteVardlixFunction = void(__cdecl*)(const CHostString& strType, const CHostString& strLocation,
                                            const CHostString& strOperation, const CHostString& strParameters,
                                            const CHostString& strDescription);
// The same export, called with a description that is a bare pointer.
using WriteRawDescriptionFunction = void(__cdecl*)(const CHostString& strType, const CHostString& strLocation,
                                                   const CHostString& strOperation, const CHostString& strParameters,
                                                   const CVardlixString& strDescription);

std::wstring OwnPath() {
  wchar_t aPath[MAX_PATH];
  const DWORD nLength = GetModuleFileNameW(nullptr /* this program */, aPath, MAX_PATH);
  return std::wstring(aPath, nLength < MAX_PATH ? nLength : 0);
}

std::wstring OwnFolder() {
  const std::wstring strPath = OwnPath();
  return strPath.substr(0, strPath.find_last_of(L'\\'));
}

// The log folder the DLL derives: the path up to its last ".", then "Log".
std::wstring LogFolder() {
  const std::wstring strPath = OwnPath();
  return strPath.substr(0, strPath.rfind(L'.')) + L"Log";
}

// Long-path form, for a host that lives deep in a tree.
std::wstring LongForm(const std::wstring& strPath) { return L"\\\\?\\" + strPath; }

ULONGLONG Milliseconds() { return GetTickCount64(); }

// The two ways a host can import: by name, or by the ordinals 1 and 2 of the
// module-definition file.
FARPROC FindExport(HMODULE hLibrary, bool bByOrdinal, const char* pszName, WORD nOrdinal) {
  return GetProcAddress(hLibrary, bByOrdinal ? MAKEINTRESOURCEA(nOrdinal) : pszName);
}

class CHost {
 public:
  friend DWORD WINAPI RunThreadWrite(void* pWork);
  CHost(SetLogLifeFunction setLogLife, WriteVardlixFunction writeVardlix)
      : m_setLogLife(setLogLife), m_writeVardlix(writeVardlix) {}

  // Runs the steps from ppArgs on; the exit code.
  int Run(int nArgs, wchar_t** ppArgs);
  void SetLoadMilliseconds(ULONGLONG nTime) { m_aTimes.push_back(nTime); }

 private:
  void Write(const std::wstring& strTag);
  int ThreadWrite(const std::wstring& strTag);
  int WriteBadString();
  int CheckFilesFree() const;
  int Report(const std::wstring& strFile) const;

  SetLogLifeFunction m_setLogLife;
  WriteVardlixFunction m_writeVardlix;
  std::map<std::wstring, int> m_aCounts;  // records written per tag
  std::vector<ULONGLONG> m_aTimes;        // load, then each write step
};

void CHost::Write(const std::wstring& strTag) {
  const CHostString strType(L"Info"), strLocation(strTag), strParameters(L"a&b<c>"), strDescription(L"");
  const CHostString strOperation(L"Op" + std::to_wstring(m_aCounts[strTag]++));
  m_writeVardlix(strType, strLocation, strOperation, strParameters, strDescription);
}

struct ThreadWork {
  CHost* m_pHost;
  std::wstring m_strTag;
};

DWORD WINAPI RunThreadWrite(void* pWork) {
  auto* pThreadWork = static_cast<ThreadWork*>(pWork);
  pThreadWork->m_pHost->Write(pThreadWork->m_strTag);
  return 0;
}

int CHost::ThreadWrite(const std::wstring& strTag) {
  ThreadWork work{this, strTag};
  HANDLE hThread = CreateThread(nullptr /* security */, 0, RunThreadWrite, &work, 0, nullptr /* thread id */);
  const bool bReturned = WaitForSingleObject(hThread, 10000) == WAIT_OBJECT_0;
  CloseHandle(hThread);
  // A call that never returns would leave the thread writing to work after
  // this frame is gone: the process ends at once instead.
  if (!bReturned) ExitProcess(exitHung);
  return exitDone;
}

// The host's crash guard: a fault on the guarded thread ends that thread,
// and the host goes on, as a framework host that catches structured
// exceptions around a plug-in call does.
DWORD g_nGuardedThread = 0;
constexpr DWORD kFaultedExit = 7;

void EndGuardedThread() { ExitThread(kFaultedExit); }

LONG CALLBACK GuardCrashes(EXCEPTION_POINTERS* pException) {
  if (pException->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION ||
      GetCurrentThreadId() != g_nGuardedThread) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
#if defined(_WIN64)
  // Entered as if called: the stack 8 bytes short of a 16-byte boundary, as
  // the x64 convention promises every function at its entry.
  pException->ContextRecord->Rsp = (pException->ContextRecord->Rsp & ~DWORD64{15}) - 8;
  pException->ContextRecord->Rip = reinterpret_cast<DWORD64>(&EndGuardedThread);
#else
  pException->ContextRecord->Eip = reinterpret_cast<DWORD>(&EndGuardedThread);
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

struct BadStringWork {
  WriteVardlixFunction m_writeVardlix;
  const wchar_t* m_pszBad;  // runs into a page that cannot be read
};

DWORD WINAPI RunBadStringWrite(void* pWork) {
  auto* pBadWork = static_cast<BadStringWork*>(pWork);
  g_nGuardedThread = GetCurrentThreadId();
  const CHostString strType(L"Info"), strLocation(L"Bad"), strOperation(L"Op"), strParameters(L"");
  const CVardlixString strDescription = {pBadWork->m_pszBad};
  void* pExport = reinterpret_cast<void*>(pBadWork->m_writeVardlix);
  const auto writeRaw = reinterpret_cast<WriteRawDescriptionFunction>(pExport);
  writeRaw(strType, strLocation, strOperation, strParameters, strDescription);
  return 0;
}

int CHost::WriteBadString() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const SIZE_T nPage = system.dwPageSize;
  auto* pPages =
      static_cast<char*>(VirtualAlloc(nullptr /* anywhere */, 2 * nPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD nOld = 0;
  VirtualProtect(pPages + nPage, nPage, PAGE_NOACCESS, &nOld);
  // No terminating zero before the page that cannot be read.
  auto* pszBad = reinterpret_cast<wchar_t*>(pPages);
  for (SIZE_T i = 0; i < nPage / sizeof(wchar_t); ++i) pszBad[i] = L'x';

  PVOID pGuard = AddVectoredExceptionHandler(1 /* first */, GuardCrashes);
  BadStringWork work{m_writeVardlix, pszBad};
  HANDLE hThread = CreateThread(nullptr /* security */, 0, RunBadStringWrite, &work, 0, nullptr /* thread id */);
  WaitForSingleObject(hThread, INFINITE);
  DWORD nExit = 0;
  GetExitCodeThread(hThread, &nExit);
  CloseHandle(hThread);
  RemoveVectoredExceptionHandler(pGuard);
  return nExit == kFaultedExit ? exitDone : exitNotFaulted;
}

int CHost::CheckFilesFree() const {
  WIN32_FIND_DATAW found;
  HANDLE hFind = FindFirstFileW(LongForm(LogFolder() + L"\\Vardlix*.xml").c_str(), &found);
  if (hFind == INVALID_HANDLE_VALUE) return exitDone;
  int nExit = exitDone;
  do {
    const std::wstring strPath = LongForm(LogFolder() + L"\\" + found.cFileName);
    HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr /* security */,
                               OPEN_EXISTING, 0, nullptr /* template */);
    if (hFile == INVALID_HANDLE_VALUE) nExit = exitFileHeld;
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
  } while (FindNextFileW(hFind, &found));
  FindClose(hFind);
  return nExit;
}

int CHost::Report(const std::wstring& strFile) const {
  FILE* pFile = _wfopen(strFile.c_str(), L"w");
  if (pFile == nullptr) return exitUsage;
  for (ULONGLONG nTime : m_aTimes) std::fprintf(pFile, "%llu\n", nTime);
  std::fclose(pFile);
  return exitDone;
}

int WaitForEvent(const std::wstring& strName) {
  HANDLE hEvent = OpenEventW(SYNCHRONIZE, FALSE /* not inherited */, strName.c_str());
  if (hEvent == nullptr) return exitNoEvent;
  const bool bSet = WaitForSingleObject(hEvent, 60000) == WAIT_OBJECT_0;
  CloseHandle(hEvent);
  return bSet ? exitDone : exitHung;
}

int SignalEvent(const std::wstring& strName) {
  HANDLE hEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE /* not inherited */, strName.c_str());
  if (hEvent == nullptr) return exitNoEvent;
  SetEvent(hEvent);
  CloseHandle(hEvent);
  return exitDone;
}

int CHost::Run(int nArgs, wchar_t** ppArgs) {
  int nExit = exitDone;
  for (int i = 0; i < nArgs && (nExit == exitDone || nExit == 1); ++i) {
    const std::wstring strStep = ppArgs[i];
    const bool bHasArg = i + 1 < nArgs;
    if (strStep == L"load") {
    } else if (strStep == L"life" && bHasArg) {
      nExit = m_setLogLife(static_cast<uint32_t>(std::wcstoul(ppArgs[++i], nullptr, 10)));
    } else if (strStep == L"write" && i + 2 < nArgs) {
      const int nCount = std::wcstol(ppArgs[i + 1], nullptr, 10);
      const std::wstring strTag = ppArgs[i + 2];
      i += 2;
      const ULONGLONG nStart = Milliseconds();
      for (int n = 0; n < nCount; ++n) Write(strTag);
      m_aTimes.push_back(Milliseconds() - nStart);
    } else if (strStep == L"thread-write" && bHasArg) {
      nExit = ThreadWrite(ppArgs[++i]);
    } else if (strStep == L"bad-string") {
      nExit = WriteBadString();
    } else if (strStep == L"check-free") {
      nExit = CheckFilesFree();
    } else if (strStep == L"signal" && bHasArg) {
      nExit = SignalEvent(ppArgs[++i]);
    } else if (strStep == L"wait" && bHasArg) {
      nExit = WaitForEvent(ppArgs[++i]);
    } else if (strStep == L"report" && bHasArg) {
      nExit = Report(ppArgs[++i]);
    } else if (strStep == L"end") {
      ExitProcess(exitDone);
    } else {
      return exitUsage;
    }
  }
  return nExit;
}

int RunWithLibrary(HMODULE hLibrary, bool bByOrdinal, ULONGLONG nLoadTime, int nArgs, wchar_t** ppArgs) {
  FARPROC pSetLogLife = FindExport(hLibrary, bByOrdinal, "SetLogLife", 1);
  FARPROC pWriteVardlix = FindExport(hLibrary, bByOrdinal, "WriteVardlix", 2);
  if (pSetLogLife == nullptr || pWriteVardlix == nullptr) return exitNoExport;
  if (pSetLogLife != FindExport(hLibrary, !bByOrdinal, "SetLogLife", 1) ||
      pWriteVardlix != FindExport(hLibrary, !bByOrdinal, "WriteVardlix", 2)) {
    return exitExportsDiffer;
  }
  CHost host(reinterpret_cast<SetLogLifeFunction>(reinterpret_cast<void*>(pSetLogLife)),
             reinterpret_cast<WriteVardlixFunction>(reinterpret_cast<void*>(pWriteVardlix)));
  host.SetLoadMilliseconds(nLoadTime);
  return host.Run(nArgs, ppArgs);
}

}  // namespace

// wmain (linked with -municode): the arguments arrive as UTF-16, as a
// framework host has them.
int wmain(int nArgs, wchar_t** ppArgs) {
  if (nArgs < 3) return exitUsage;
  const std::wstring strHow = ppArgs[1];
  if (strHow != L"by-name" && strHow != L"by-ordinal") return exitUsage;

  const std::wstring strLibrary = OwnFolder() + L"\\Vardlix.dll";
  const ULONGLONG nStart = Milliseconds();
  HMODULE hLibrary = LoadLibraryW(strLibrary.c_str());
  const ULONGLONG nLoadTime = Milliseconds() - nStart;
  if (hLibrary == nullptr) return exitNoLibrary;
  const int nExit = RunWithLibrary(hLibrary, strHow == L"by-ordinal", nLoadTime, nArgs - 2, ppArgs + 2);
  FreeLibrary(hLibrary);
  return nExit;
}
