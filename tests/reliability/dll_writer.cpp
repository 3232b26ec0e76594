// ReliabilityWriter.exe: a Windows host under load. It loads Vardlix.dll from
// its own folder and writes records from several threads at once.
//   ReliabilityWriter.exe PROCESS THREADS RECORDS EVENT
// Once the library is loaded, releases the named semaphore EVENT + "Ready"
// and waits until the named event EVENT is set, so that every writer starts
// at the same moment; then thread t writes RECORDS records with the location
// "p<PROCESS>t<t>" and the operations 0, 1, 2, ... Exit code 0 once all are
// written; see WriterExit for the others.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "vardlix.h"

namespace {

enum WriterExit : int {
  exitDone = 0,
  exitUsage = 100,
  exitNoLibrary = 101,
  exitNoExport = 102,
  exitNoEvent = 103,
  exitNotReady = 104,
};

using WriteVardlixFunction = void(__cdecl*)(const CVardlixString&, const CVardlixString&, const CVardlixString&,
                                            const CVardlixString&, const CVardlixString&);

std::wstring OwnFolder() {
  wchar_t aPath[MAX_PATH];
  const DWORD nLength = GetModuleFileNameW(nullptr /* this program */, aPath, MAX_PATH);
  const std::wstring strPath(aPath, nLength < MAX_PATH ? nLength : 0);
  return strPath.substr(0, strPath.find_last_of(L'\\'));
}

void WriteRecords(WriteVardlixFunction writeVardlix, const std::wstring& strWriter, int nRecords) {
  const CVardlixString empty{L""};
  const CVardlixString writer{strWriter.c_str()};
  for (int n = 0; n < nRecords; ++n) {
    const std::wstring strSequence = std::to_wstring(n);
    const CVardlixString sequence{strSequence.c_str()};
    writeVardlix(empty, writer, sequence, empty, empty);
  }
}

}  // namespace

int wmain(int nArgs, wchar_t** ppArgs) {
  if (nArgs != 5) return exitUsage;
  const int nProcess = std::wcstol(ppArgs[1], nullptr, 10);
  const int nThreads = std::wcstol(ppArgs[2], nullptr, 10);
  const int nRecords = std::wcstol(ppArgs[3], nullptr, 10);
  HANDLE hStart = OpenEventW(SYNCHRONIZE, FALSE /* bInheritHandle */, ppArgs[4]);
  if (hStart == nullptr) return exitNoEvent;
  HANDLE hReady =
      OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE /* bInheritHandle */, (std::wstring(ppArgs[4]) + L"Ready").c_str());
  if (hReady == nullptr) return exitNoEvent;

  HMODULE hLibrary = LoadLibraryW((OwnFolder() + L"\\Vardlix.dll").c_str());
  if (hLibrary == nullptr) return exitNoLibrary;
  const auto writeVardlix =
      reinterpret_cast<WriteVardlixFunction>(reinterpret_cast<void*>(GetProcAddress(hLibrary, "WriteVardlix")));
  if (writeVardlix == nullptr) return exitNoExport;

  if (!ReleaseSemaphore(hReady, 1, nullptr /* lpPreviousCount */)) return exitNotReady;
  WaitForSingleObject(hStart, INFINITE);
  std::vector<std::thread> aThreads;
  for (int t = 0; t < nThreads; ++t) {
    const std::wstring strWriter = L"p" + std::to_wstring(nProcess) + L"t" + std::to_wstring(t);
    aThreads.emplace_back(WriteRecords, writeVardlix, strWriter, nRecords);
  }
  for (std::thread& thread : aThreads) thread.join();
  CloseHandle(hReady);
  CloseHandle(hStart);
  FreeLibrary(hLibrary);
  return exitDone;
}
