#include "base/paths.h"

#include "platform/platform_files.h"

namespace {

// The seam's separator tells the platform; the tool has no system header here.
bool IsWindows() { return kPathSeparator[0] == u'\\'; }

bool IsSeparator(char c) { return c == '/' || (c == '\\' && IsWindows()); }

size_t LastSeparator(const std::string& strPath) { return strPath.find_last_of(IsWindows() ? "/\\" : "/"); }

}  // namespace

std::string FileNameOf(const std::string& strPath) {
  size_t nSlash = LastSeparator(strPath);
  return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string FolderOf(const std::string& strPath) {
  size_t nSlash = LastSeparator(strPath);
  if (nSlash == std::string::npos) return std::string();
  std::string strFolder = strPath.substr(0, nSlash);
  // Without its separator a root would be no folder ("") or the current
  // folder of a drive ("C:").
  if (strFolder.empty() || (IsWindows() && strFolder.back() == ':')) return strPath.substr(0, nSlash + 1);
  return strFolder;
}

bool HasFolderPart(const std::string& strPath) { return LastSeparator(strPath) != std::string::npos; }

std::string JoinPath(const std::string& strFolder, const std::string& strName) {
  if (strFolder.empty()) return strName;
  // "C:" + name is a name in the current folder of drive C, as Windows reads
  // "C:" itself.
  if (IsSeparator(strFolder.back()) || (IsWindows() && strFolder.back() == ':')) return strFolder + strName;
  return strFolder + static_cast<char>(kPathSeparator[0]) + strName;
}
