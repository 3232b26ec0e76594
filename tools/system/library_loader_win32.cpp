#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "base/paths.h"
#include "base/text_encoding.h"
#include "system/library_loader.h"

const char kLibraryFileName[] = "Vardlix.dll";
const char kLibraryPlaces[] = "beside this tool";

std::vector<std::string> LibraryCandidates(const std::string& strToolFolder) {
  if (strToolFolder.empty()) return {};
  return {JoinPath(strToolFolder, kLibraryFileName)};
}

void* LoadSharedLibrary(const std::string& strPath, std::string& strError) {
  std::u16string strWide;
  if (!FromUtf8(strPath, strWide)) {
    strError = "the path is not valid UTF-8";
    return nullptr;
  }
  HMODULE hLibrary = LoadLibraryW(reinterpret_cast<const wchar_t*>(strWide.c_str()));
  if (hLibrary == nullptr) {
    const DWORD nError = GetLastError();
    wchar_t* pszText = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr /* lpSource: the system's messages */, nError, 0 /* language: the user's */,
                   reinterpret_cast<wchar_t*>(&pszText), 0 /* nSize: allocated */, nullptr /* Arguments */);
    std::string strText = pszText ? ToUtf8(reinterpret_cast<const char16_t*>(pszText)) : std::string();
    if (pszText) LocalFree(pszText);
    // The system's text ends in a full stop and a line break; the tool's
    // message goes on after it.
    while (!strText.empty() && std::string("\r\n .").find(strText.back()) != std::string::npos) strText.pop_back();
    strError = "error " + std::to_string(nError) + (strText.empty() ? "" : ": " + strText);
  }
  return hLibrary;
}

void* FindSharedExport(void* pLibrary, const char* szName) {
  // A function address, handed on as void* the way dlsym hands it.
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(pLibrary), szName));
}

void FreeSharedLibrary(void* pLibrary) { FreeLibrary(static_cast<HMODULE>(pLibrary)); }
