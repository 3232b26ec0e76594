#include "system/service.h"

bool RunAsService(const std::string&, const std::function<int()>&, int&, std::string& strError) {
  strError = "--service is for Windows's service manager; under systemd run vardlix forward as it is "
             "(packaging/vardlix-forward@.service)";
  return false;
}
