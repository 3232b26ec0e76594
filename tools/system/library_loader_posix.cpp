#include <dlfcn.h>

#include "base/paths.h"
#include "system/library_loader.h"

const char kLibraryFileName[] = "libvardlix.so";
const char kLibraryPlaces[] = "beside this tool or on the loader's path";

std::vector<std::string> LibraryCandidates(const std::string& strToolFolder) {
  std::vector<std::string> aCandidates;
  if (!strToolFolder.empty()) {
    aCandidates.push_back(JoinPath(strToolFolder, kLibraryFileName));
    aCandidates.push_back(JoinPath(strToolFolder, std::string("../lib/") + kLibraryFileName));
  }
  aCandidates.push_back(kLibraryFileName);  // the loader's own search
  return aCandidates;
}

void* LoadSharedLibrary(const std::string& strPath, std::string& strError) {
  void* pLibrary = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (pLibrary == nullptr) strError = dlerror();
  return pLibrary;
}

void* FindSharedExport(void* pLibrary, const char* szName) { return dlsym(pLibrary, szName); }

void FreeSharedLibrary(void* pLibrary) { dlclose(pLibrary); }
