#include "commands/host_library.h"

#include "base/paths.h"
#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "platform/platform_files.h"
#include "reading/log_file.h"
#include "system/library_loader.h"
#include "vardlix.h"

namespace {

using SetLogLifeFunction = int (*)(uint32_t);
using WriteVardlixFunction = void (*)(const CVardlixString&, const CVardlixString&, const CVardlixString&,
                                      const CVardlixString&, const CVardlixString&);

// The header's character type is wchar_t on Windows, char16_t elsewhere;
// both are UTF-16 code units.
static_assert(sizeof(VardlixChar) == sizeof(char16_t), "the library takes UTF-16");
const VardlixChar* Units(const std::u16string& strText) {
  return reinterpret_cast<const VardlixChar*>(strText.c_str());
}

std::string ToolFolder() {
  std::u16string strExe;
  if (!GetHostExecutablePath(strExe)) return std::string();
  return FolderOf(ToUtf8(strExe));
}

}  // namespace

CHostLibrary::~CHostLibrary() {
  if (m_pHandle) FreeSharedLibrary(m_pHandle);
}

bool CHostLibrary::Bind(void* pHandle, const std::string& strPath, std::string& strError) {
  m_pSetLogLife = FindSharedExport(pHandle, "SetLogLife");
  m_pWriteVardlix = FindSharedExport(pHandle, "WriteVardlix");
  if (!m_pSetLogLife || !m_pWriteVardlix) {
    FreeSharedLibrary(pHandle);
    strError = strPath + " does not export SetLogLife and WriteVardlix";
    return false;
  }
  m_pHandle = pHandle;
  m_strPath = strPath;
  return true;
}

bool CHostLibrary::Load(const std::string& strPath, std::string& strError) {
  std::string strReason;
  if (!strPath.empty()) {
    void* pHandle = LoadSharedLibrary(strPath, strReason);
    if (!pHandle) {
      strError = "cannot load " + strPath + ": " + strReason;
      return false;
    }
    return Bind(pHandle, strPath, strError);
  }
  for (const auto& strCandidate : LibraryCandidates(ToolFolder())) {
    if (void* pHandle = LoadSharedLibrary(strCandidate, strReason)) return Bind(pHandle, strCandidate, strError);
  }
  strError = std::string("cannot find ") + kLibraryFileName + " " + kLibraryPlaces + ": " + strReason +
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
  CVardlixString aArgs[] = {
      {Units(strType)}, {Units(strLocation)}, {Units(strOperation)}, {Units(strParameters)}, {Units(strDescription)}};
  reinterpret_cast<WriteVardlixFunction>(m_pWriteVardlix)(aArgs[0], aArgs[1], aArgs[2], aArgs[3], aArgs[4]);
}

std::string ToolLogFolder() {
  std::u16string strExe;
  if (!GetHostExecutablePath(strExe)) return ToUtf8(kFallbackFolder);
  return ToUtf8(DeriveLogFolder(strExe));
}

std::string HostLogFolder(const std::string& strExecutable) {
  // The rule cuts only at ASCII characters, which UTF-8 never uses inside a
  // longer character, so each byte can pass as one code unit: a path that
  // is not UTF-8 keeps its bytes as well.
  std::u16string strUnits;
  for (char c : strExecutable) strUnits += static_cast<char16_t>(static_cast<unsigned char>(c));
  std::string strFolder;
  for (char16_t c : DeriveLogFolder(strUnits)) strFolder += static_cast<char>(c);
  return strFolder;
}
