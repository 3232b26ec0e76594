// The library loaded the way a host loads it, for `vardlix write` and
// `vardlix life`. Loading it runs its load sequence in this process: the log
// folder is then this tool's own, derived from the tool's executable path.
#pragma once

#include <cstdint>
#include <string>

class CHostLibrary {
 public:
  CHostLibrary() = default;
  ~CHostLibrary();
  CHostLibrary(const CHostLibrary&) = delete;
  CHostLibrary& operator=(const CHostLibrary&) = delete;

  // Loads strPath when given; otherwise the library from the places that
  // LibraryCandidates (library_loader.h) names: on Windows Vardlix.dll
  // beside this tool, on POSIX libvardlix.so beside it, in ../lib, or
  // through the tool's run path. False, with a one-line reason, when none
  // loads or the exports are missing.
  bool Load(const std::string& strPath, std::string& strError);

  int SetLogLife(uint32_t nDays) const;
  void WriteVardlix(const std::u16string& strType, const std::u16string& strLocation,
                    const std::u16string& strOperation, const std::u16string& strParameters,
                    const std::u16string& strDescription) const;

  const std::string& LoadedPath() const { return m_strPath; }

 private:
  bool Bind(void* pHandle, const std::string& strPath, std::string& strError);

  void* m_pHandle = nullptr;      // from LoadSharedLibrary
  void* m_pSetLogLife = nullptr;  // the export, cast when called
  void* m_pWriteVardlix = nullptr;
  std::string m_strPath;  // what was loaded
};

// The folder where the library, loaded by this tool, keeps its logs.
std::string ToolLogFolder();

// The folder where the library keeps the logs of the host strExecutable,
// by the library's own rule for this platform (DeriveLogFolder).
std::string HostLogFolder(const std::string& strExecutable);
