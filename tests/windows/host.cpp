// Host.exe: a Windows program that uses Vardlix.dll the way a host of the
// class framework does. It loads the DLL from its own folder at run time,
// finds the exports by name or by ordinal, and passes its own string objects
// (one pointer to the characters, like the framework's wide string).
//
//   Host.exe by-name|by-ordinal load              load and unload only
//   Host.exe by-name|by-ordinal life DAYS         exit code: SetLogLife's result
//   Host.exe by-name|by-ordinal write COUNT TAG   COUNT records, location TAG
//
// Records: type "Info", location TAG, operation "Op<n>" (n from 0), parameters
// "a&b<c>", description empty. Other exit codes: see HostExit.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "vardlix.h"

namespace {

enum HostExit : int {
  exitDone = 0,
  exitUsage = 100,
  exitNoLibrary = 101,
  exitNoExport = 102,
  exitExportsDiffer = 103,
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

std::wstring OwnFolder() {
  wchar_t aPath[MAX_PATH];
  const DWORD nLength = GetModuleFileNameW(nullptr /* this program */, aPath, MAX_PATH);
  std::wstring strPath(aPath, nLength < MAX_PATH ? nLength : 0);
  return strPath.substr(0, strPath.find_last_of(L'\\'));
}

// The two ways a host can import: by name, or by the ordinals 1 and 2 of the
// module-definition file.
FARPROC FindExport(HMODULE hLibrary, bool bByOrdinal, const char* pszName, WORD nOrdinal) {
  return GetProcAddress(hLibrary, bByOrdinal ? MAKEINTRESOURCEA(nOrdinal) : pszName);
}

int Run(HMODULE hLibrary, bool bByOrdinal, const std::wstring& strCommand, int nArgs, wchar_t** ppArgs) {
  FARPROC pSetLogLife = FindExport(hLibrary, bByOrdinal, "SetLogLife", 1);
  FARPROC pWriteVardlix = FindExport(hLibrary, bByOrdinal, "WriteVardlix", 2);
  if (pSetLogLife == nullptr || pWriteVardlix == nullptr) return exitNoExport;
  if (pSetLogLife != FindExport(hLibrary, !bByOrdinal, "SetLogLife", 1) ||
      pWriteVardlix != FindExport(hLibrary, !bByOrdinal, "WriteVardlix", 2)) {
    return exitExportsDiffer;
  }
  const auto setLogLife = reinterpret_cast<SetLogLifeFunction>(reinterpret_cast<void*>(pSetLogLife));
  const auto writeVardlix = reinterpret_cast<WriteVardlixFunction>(reinterpret_cast<void*>(pWriteVardlix));

  if (strCommand == L"load" && nArgs == 0) return exitDone;
  if (strCommand == L"life" && nArgs == 1) {
    return setLogLife(static_cast<uint32_t>(std::wcstoul(ppArgs[0], nullptr, 10)));
  }
  if (strCommand == L"write" && nArgs == 2) {
    const int nCount = std::wcstol(ppArgs[0], nullptr, 10);
    const CHostString strType(L"Info"), strLocation(ppArgs[1]), strParameters(L"a&b<c>"), strDescription(L"");
    for (int nRecord = 0; nRecord < nCount; ++nRecord) {
      const CHostString strOperation(L"Op" + std::to_wstring(nRecord));
      writeVardlix(strType, strLocation, strOperation, strParameters, strDescription);
    }
    return exitDone;
  }
  return exitUsage;
}

}  // namespace

// wmain (linked with -municode): the arguments arrive as UTF-16, as a
// framework host has them.
int wmain(int nArgs, wchar_t** ppArgs) {
  if (nArgs < 3) return exitUsage;
  const std::wstring strHow = ppArgs[1];
  if (strHow != L"by-name" && strHow != L"by-ordinal") return exitUsage;

  const std::wstring strLibrary = OwnFolder() + L"\\Vardlix.dll";
  HMODULE hLibrary = LoadLibraryW(strLibrary.c_str());
  if (hLibrary == nullptr) return exitNoLibrary;
  const int nExit = Run(hLibrary, strHow == L"by-ordinal", ppArgs[2], nArgs - 3, ppArgs + 3);
  FreeLibrary(hLibrary);
  return nExit;
}
