#include "system/service.h"

#include <windows.h>

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
