// RuntimeHost.exe: a Windows program that uses Vardlix.dll the way hosts do
// that bring their own GCC runtime, or that load the DLL for each call.
//
//   RuntimeHost.exe WHEN write COUNT TAG
//       COUNT records, location TAG.
//   RuntimeHost.exe WHEN cycles COUNT
//       COUNT times: load the DLL, write one record (location "Cycle"),
//       unload it. Then writes "SLOT SLOT HANDLES HANDLES HEAP HEAP" to
//       RuntimeHostCycles.txt: the TLS slot that TlsAlloc gives, the
//       process's handle count and the bytes in use on its heaps, after the
//       first cycle and after the last.
//
// WHEN is where the shared GCC runtime (VARDLIX_SHARED_GCC_RUNTIME from this
// program's folder: libgcc_s_dw2-1.dll in 32-bit, libgcc_s_seh-1.dll in
// 64-bit) comes in: "before" the DLL is loaded, "after" it (for
// cycles: after the first one), or "none".
//
// Records: type "Info", operation "Op<n>", parameters and description empty.
// Other exit codes: see HostExit; an exception that escapes inside the DLL
// ends the program with 3 (std::terminate).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vardlix.h"

namespace {

enum HostExit : int {
  exitDone = 0,
  exitUsage = 100,
  exitNoLibrary = 101,
  exitNoSharedRuntime = 102,
  exitNoExport = 103,
  exitNoFigures = 104,
};

using WriteVardlixFunction = void(__cdecl*)(const CVardlixString& strType, const CVardlixString& strLocation,
                                            const CVardlixString& strOperation, const CVardlixString& strParameters,
                                            const CVardlixString& strDescription);

std::wstring OwnFolder() {
  wchar_t aPath[MAX_PATH];
  const DWORD nLength = GetModuleFileNameW(nullptr /* this program */, aPath, MAX_PATH);
  std::wstring strPath(aPath, nLength < MAX_PATH ? nLength : 0);
  return strPath.substr(0, strPath.find_last_of(L'\\'));
}

HMODULE LoadFromOwnFolder(const wchar_t* pszName) { return LoadLibraryW((OwnFolder() + L"\\" + pszName).c_str()); }

// The shared runtime, as a MinGW- or Qt-built host has it in its process.
bool LoadSharedRuntime() {
  return LoadFromOwnFolder(L"" VARDLIX_SHARED_GCC_RUNTIME) != nullptr &&
         GetModuleHandleW(L"" VARDLIX_SHARED_GCC_RUNTIME) != nullptr;
}

void WriteRecords(WriteVardlixFunction writeVardlix, int nCount, const wchar_t* pszTag) {
  const CVardlixString strType{L"Info"}, strLocation{pszTag}, strEmpty{L""};
  for (int nRecord = 0; nRecord < nCount; ++nRecord) {
    const std::wstring strName = L"Op" + std::to_wstring(nRecord);
    const CVardlixString strOperation{strName.c_str()};
    writeVardlix(strType, strLocation, strOperation, strEmpty, strEmpty);
  }
}

int RunWrite(const std::wstring& strWhen, int nCount, const wchar_t* pszTag) {
  if (strWhen == L"before" && !LoadSharedRuntime()) return exitNoSharedRuntime;
  HMODULE hLibrary = LoadFromOwnFolder(L"Vardlix.dll");
  if (hLibrary == nullptr) return exitNoLibrary;
  if (strWhen == L"after" && !LoadSharedRuntime()) return exitNoSharedRuntime;
  FARPROC pWriteVardlix = GetProcAddress(hLibrary, "WriteVardlix");
  if (pWriteVardlix == nullptr) return exitNoExport;
  WriteRecords(reinterpret_cast<WriteVardlixFunction>(reinterpret_cast<void*>(pWriteVardlix)), nCount, pszTag);
  FreeLibrary(hLibrary);
  return exitDone;
}

// The slot TlsAlloc gives now: the lowest free one, so a slot that a cycle
// leaves taken moves it up.
DWORD NextTlsSlot() {
  const DWORD nSlot = TlsAlloc();
  TlsFree(nSlot);
  return nSlot;
}

// SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX of NtQuerySystemInformation's class 64.
struct SystemHandleEntry {
  void* m_pObject;
  ULONG_PTR m_nProcessId;
  ULONG_PTR m_nHandle;
  ULONG m_nAccess;
  USHORT m_nBackTrace;
  USHORT m_nObjectType;
  ULONG m_nAttributes;
  ULONG m_nReserved;
};
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// Wine 8 answers GetProcessHandleCount with 0; its list of every handle of
// the system is complete, so there this process's entries are counted.
DWORD CountHandlesInSystemList() {
  using QueryFunction = LONG(WINAPI*)(ULONG nClass, void* pBuffer, ULONG nSize, ULONG* pnNeeded);
  const auto query = reinterpret_cast<QueryFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  std::vector<ULONG_PTR> aBuffer(4096);
  LONG nStatus;
  while ((nStatus = query(kSystemExtendedHandleInformation, aBuffer.data(),
                          static_cast<ULONG>(aBuffer.size() * sizeof(ULONG_PTR)),
                          nullptr /* needed size: the buffer doubles */)) == kStatusInfoLengthMismatch) {
    aBuffer.resize(aBuffer.size() * 2);
  }
  if (nStatus != 0) return 0;
  const ULONG_PTR nEntries = aBuffer[0];  // then one reserved word, then the entries
  const auto* pEntry = reinterpret_cast<const SystemHandleEntry*>(&aBuffer[2]);
  DWORD nOwn = 0;
  for (ULONG_PTR nEntry = 0; nEntry < nEntries; ++nEntry) nOwn += pEntry[nEntry].m_nProcessId == GetCurrentProcessId();
  return nOwn;
}

// Every process holds some handles, so 0 means the count is not kept.
DWORD CountHandles() {
  DWORD nHandles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &nHandles) && nHandles != 0) return nHandles;
  return CountHandlesInSystemList();
}

// Bytes the process has in use on all its heaps, the C runtime's included.
unsigned long long CountHeapBytes() {
  HANDLE aHeaps[64];
  const DWORD nHeaps = GetProcessHeaps(64, aHeaps);
  unsigned long long nBytes = 0;
  for (DWORD nHeap = 0; nHeap < nHeaps && nHeap < 64; ++nHeap) {
    PROCESS_HEAP_ENTRY entry{};
    HeapLock(aHeaps[nHeap]);
    while (HeapWalk(aHeaps[nHeap], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) nBytes += entry.cbData;
    }
    HeapUnlock(aHeaps[nHeap]);
  }
  return nBytes;
}

bool RunCycle(const std::wstring& strLibrary) {
  HMODULE hLibrary = LoadLibraryW(strLibrary.c_str());
  if (hLibrary == nullptr) return false;
  FARPROC pWriteVardlix = GetProcAddress(hLibrary, "WriteVardlix");
  if (pWriteVardlix != nullptr) {
    WriteRecords(reinterpret_cast<WriteVardlixFunction>(reinterpret_cast<void*>(pWriteVardlix)), 1, L"Cycle");
  }
  FreeLibrary(hLibrary);
  return pWriteVardlix != nullptr;
}

int RunCycles(const std::wstring& strWhen, int nCount) {
  const std::wstring strLibrary = OwnFolder() + L"\\Vardlix.dll";
  if (strWhen == L"before" && !LoadSharedRuntime()) return exitNoSharedRuntime;
  // The first cycle is not measured: what the system sets up once for any
  // library that is loaded is not the DLL's.
  if (!RunCycle(strLibrary)) return exitNoLibrary;
  if (strWhen == L"after" && !LoadSharedRuntime()) return exitNoSharedRuntime;
  const DWORD nSlotBefore = NextTlsSlot(), nHandlesBefore = CountHandles();
  const unsigned long long nHeapBefore = CountHeapBytes();
  for (int nCycle = 1; nCycle < nCount; ++nCycle) {
    if (!RunCycle(strLibrary)) return exitNoLibrary;
  }
  const DWORD nSlotAfter = NextTlsSlot(), nHandlesAfter = CountHandles();
  const unsigned long long nHeapAfter = CountHeapBytes();
  FILE* pFigures = _wfopen((OwnFolder() + L"\\RuntimeHostCycles.txt").c_str(), L"w");
  if (pFigures == nullptr) return exitNoFigures;
  std::fprintf(pFigures, "%lu %lu %lu %lu %llu %llu\n", nSlotBefore, nSlotAfter, nHandlesBefore, nHandlesAfter,
               nHeapBefore, nHeapAfter);
  return std::fclose(pFigures) == 0 ? exitDone : exitNoFigures;
}

}  // namespace

// wmain (linked with -municode): the arguments arrive as UTF-16.
int wmain(int nArgs, wchar_t** ppArgs) {
  if (nArgs < 4) return exitUsage;
  const std::wstring strWhen = ppArgs[1], strCommand = ppArgs[2];
  if (strWhen != L"before" && strWhen != L"after" && strWhen != L"none") return exitUsage;
  const int nCount = std::wcstol(ppArgs[3], nullptr, 10);
  if (strCommand == L"write" && nArgs == 5) return RunWrite(strWhen, nCount, ppArgs[4]);
  if (strCommand == L"cycles" && nArgs == 4) return RunCycles(strWhen, nCount);
  return exitUsage;
}
