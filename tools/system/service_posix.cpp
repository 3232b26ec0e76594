#include "system/service.h"

bool RunAsService(const std::string&, const std::function<int()>&, int&, std::string& strError) {
  strError = "--service is for Windows's service manager; under systemd run vardlix forward as it is "
             "(packaging/vardlix-forward@.service)";
  return false;
}

bool InstallService(const std::string&, const std::string&, std::string& strError) {
  strError = "services are installed this way on Windows only; under systemd enable vardlix-forward@NAME";
  return false;
}

bool RemoveService(const std::string&, std::string& strError) {
  strError = "services are removed this way on Windows only; under systemd disable vardlix-forward@NAME";
  return false;
}
