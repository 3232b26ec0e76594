#include "host_library.h"

#include <dlfcn.h>

#include <vector>

#include "log_layout.h"
#include "log_file.h"
#include "platform_files.h"
#include "text_encoding.h"
#include "vardlix.h"

namespace {

constexpr char kLibraryName[] = "libvardlix.so";

using SetLogLifeFunction = int (*)(uint32_t);
using WriteVardlixFunction = void (*)(const CVardlixString&, const CVardlixString&, const CVardlixString&,
                                      const CVardlixString&, const CVardlixString&);

std::string ToolFolder() {
  std::u16string strExe;
  if (!GetHostExecutablePath(strExe)) return std::string();
  std::string strPath = ToUtf8(strExe);
  size_t nSlash = strPath.find_last_of('/');
  return nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash);
}

}  // namespace

CHostLibrary::~CHostLibrary() {
  if (m_pHandle) dlclose(m_pHandle);
}

bool CHostLibrary::Bind(void* pHandle, const std::string& strPath, std::string& strError) {
  m_pSetLogLife = dlsym(pHandle, "SetLogLife");
  m_pWriteVardlix = dlsym(pHandle, "WriteVardlix");
  if (!m_pSetLogLife || !m_pWriteVardlix) {
    dlclose(pHandle);
    strError = strPath + " does not export SetLogLife and WriteVardlix";
    return false;
  }
  m_pHandle = pHandle;
  m_strPath = strPath;
  return true;
}

bool CHostLibrary::Load(const std::string& strPath, std::string& strError) {
  if (!strPath.empty()) {
    void* pHandle = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!pHandle) {
      strError = "cannot load " + strPath + ": " + dlerror();
      return false;
    }
    return Bind(pHandle, strPath, strError);
  }
  std::vector<std::string> aCandidates;
  std::string strFolder = ToolFolder();
  if (!strFolder.empty()) {
    aCandidates.push_back(JoinPath(strFolder, kLibraryName));
    aCandidates.push_back(JoinPath(strFolder, std::string("../lib/") + kLibraryName));
  }
  aCandidates.push_back(kLibraryName);  // the loader's own search
  for (const auto& strCandidate : aCandidates) {
    if (void* pHandle = dlopen(strCandidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return Bind(pHandle, strCandidate, strError);
  }
  strError = std::string("cannot find ") + kLibraryName + " beside this tool or on the loader's path: " + dlerror() +
             " (give it with --library)";
  return false;
}

int CHostLibrary::SetLogLife(uint32_t nDays) const {
  return reinterpret_cast<SetLogLifeFunction>(m_pSetLogLife)(nDays);
}

void CHostLibrary::WriteVardlix(const std::u16string& strType, const std::u16string& strLocation,
                                const std::u16string& strOperation, const std::u16string& strParameters,
                                const std::u16string& strDescription) const {
  // A field holding a zero character would be cut there by the library;
  // the command line can't carry one anyway.
  CVardlixString aArgs[] = {{strType.c_str()}, {strLocation.c_str()}, {strOperation.c_str()},
                            {strParameters.c_str()}, {strDescription.c_str()}};
  reinterpret_cast<WriteVardlixFunction>(m_pWriteVardlix)(aArgs[0], aArgs[1], aArgs[2], aArgs[3], aArgs[4]);
}

std::string ToolLogFolder() {
  std::u16string strExe;
  if (!GetHostExecutablePath(strExe)) return "/";
  return ToUtf8(DeriveLogFolder(strExe));
}
