#include "system/service.h"

#include <windows.h>

#include <iterator>

#include "base/text_encoding.h"
#include "system/console.h"

namespace {

// The service manager calls back into the process without a context: the
// one service this process runs lives here.
struct CServiceRun {
  std::wstring m_strName;
  const std::function<int()>* m_pfnRun = nullptr;
  SERVICE_STATUS_HANDLE m_hStatus = nullptr;
  int m_nStatus = 0;
};
CServiceRun g_run;

void ReportState(DWORD nState, DWORD nWaitHint = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = nState;
  status.dwControlsAccepted = nState == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  // An exit status other than 0 reaches the manager (and its recovery
  // actions) as the service's own error code.
  status.dwWin32ExitCode = nState == SERVICE_STOPPED && g_run.m_nStatus != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  status.dwServiceSpecificExitCode = static_cast<DWORD>(g_run.m_nStatus);
  status.dwWaitHint = nWaitHint;
  SetServiceStatus(g_run.m_hStatus, &status);
}

DWORD WINAPI OnServiceControl(DWORD nControl, DWORD /* event type */, LPVOID /* event data */, LPVOID /* context */) {
  switch (nControl) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      // The forwarder sees the interrupt within a poll and writes its
      // checkpoint; the wait hint covers a collector that answers slowly.
      ReportState(SERVICE_STOP_PENDING, 30000);
      RequestInterrupt();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD /* argument count */, LPWSTR* /* arguments */) {
  g_run.m_hStatus = RegisterServiceCtrlHandlerExW(g_run.m_strName.c_str(), OnServiceControl, nullptr);
  if (g_run.m_hStatus == nullptr) return;
  ReportState(SERVICE_RUNNING);
  g_run.m_nStatus = (*g_run.m_pfnRun)();
  ReportState(SERVICE_STOPPED);
}

}  // namespace

bool RunAsService(const std::string& strName, const std::function<int()>& fnRun, int& nStatus, std::string& strError) {
  std::u16string strWide;
  if (!FromUtf8(strName, strWide)) {
    strError = "the service name is not valid UTF-8";
    return false;
  }
  g_run.m_strName.assign(strWide.begin(), strWide.end());
  g_run.m_pfnRun = &fnRun;
  SERVICE_TABLE_ENTRYW aTable[] = {{g_run.m_strName.data(), ServiceMain}, {nullptr, nullptr}};
  // Returns once the service has stopped.
  if (!StartServiceCtrlDispatcherW(aTable)) {
    strError = GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                   ? "--service runs only when the service manager starts the tool (sc create NAME binPath= ...)"
                   : "the service manager refused the service (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  nStatus = g_run.m_nStatus;
  return true;
}

namespace {

std::wstring Wide(const std::string& strText) {
  std::u16string strWide;
  FromUtf8(strText, strWide);
  return std::wstring(strWide.begin(), strWide.end());
}

std::string SystemReason(const char* pszWhat) {
  const DWORD nError = GetLastError();
  if (nError == ERROR_ACCESS_DENIED) return std::string(pszWhat) + ": access denied (run as an administrator)";
  if (nError == ERROR_SERVICE_EXISTS) return std::string(pszWhat) + ": a service of that name exists";
  if (nError == ERROR_SERVICE_DOES_NOT_EXIST) return std::string(pszWhat) + ": no service of that name";
  return std::string(pszWhat) + " failed (error " + std::to_string(nError) + ")";
}

// Closes a service manager handle on every way out.
struct CServiceHandle {
  SC_HANDLE m_h;
  ~CServiceHandle() {
    if (m_h != nullptr) CloseServiceHandle(m_h);
  }
};

std::wstring ServiceCommandLine(const std::string& strName, const std::string& strConfig) {
  wchar_t szProgram[MAX_PATH * 4];
  const DWORD nProgram = GetModuleFileNameW(nullptr, szProgram, static_cast<DWORD>(std::size(szProgram)));
  wchar_t szConfig[MAX_PATH * 4];
  const DWORD nConfig =
      GetFullPathNameW(Wide(strConfig).c_str(), static_cast<DWORD>(std::size(szConfig)), szConfig, nullptr);
  return L"\"" + std::wstring(szProgram, nProgram) + L"\" forward --service \"" + Wide(strName) + L"\" --config \"" +
         std::wstring(szConfig, nConfig) + L"\"";
}

}  // namespace

bool InstallService(const std::string& strName, const std::string& strConfig, std::string& strError) {
  CServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE)};
  if (manager.m_h == nullptr) {
    strError = SystemReason("opening the service manager");
    return false;
  }
  const std::wstring strWideName = Wide(strName);
  const std::wstring strCommand = ServiceCommandLine(strName, strConfig);
  CServiceHandle service{CreateServiceW(manager.m_h, strWideName.c_str(), strWideName.c_str(), SERVICE_ALL_ACCESS,
                                        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                        strCommand.c_str(), nullptr, nullptr, nullptr, nullptr /* LocalSystem */,
                                        nullptr)};
  if (service.m_h == nullptr) {
    strError = SystemReason("creating the service");
    return false;
  }
  // Started again 5 s after each failure: a forwarder that ended with an
  // error (a configuration that went bad, say) is not left stopped.
  SC_ACTION aActions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 86400;
  failure.cActions = 3;
  failure.lpsaActions = aActions;
  ChangeServiceConfig2W(service.m_h, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
  SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};  // an exit status other than 0 counts as a failure too
  ChangeServiceConfig2W(service.m_h, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
  return true;
}

bool RemoveService(const std::string& strName, std::string& strError) {
  CServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
  if (manager.m_h == nullptr) {
    strError = SystemReason("opening the service manager");
    return false;
  }
  CServiceHandle service{
      OpenServiceW(manager.m_h, Wide(strName).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)};
  if (service.m_h == nullptr) {
    strError = SystemReason("opening the service");
    return false;
  }
  SERVICE_STATUS status{};
  if (ControlService(service.m_h, SERVICE_CONTROL_STOP, &status)) {
    for (int nWaited = 0; nWaited < 30000 && status.dwCurrentState != SERVICE_STOPPED; nWaited += 250) {
      Sleep(250);
      if (!QueryServiceStatus(service.m_h, &status)) break;
    }
  }
  if (!DeleteService(service.m_h)) {
    strError = SystemReason("removing the service");
    return false;
  }
  return true;
}
