#include "library_state.h"

#include "log_layout.h"
#include "platform_files.h"

std::atomic<int32_t> g_nLogLife{kDefaultLogLife};

CLibraryState& LibraryState() {
  // Never deleted: see the header. The first call may come from the load
  // notification, before any other static object of the library exists.
  static CLibraryState* const pState = [] {
    auto* pNew = new CLibraryState;
    pNew->m_strLogFolder = kFallbackFolder;
    return pNew;
  }();
  return *pState;
}

std::unique_lock<std::mutex> LockFileOperations() {
  return std::unique_lock<std::mutex>(LibraryState().m_fileOperations);
}

void ResetLibraryStateForTesting(const std::u16string& strLogFolder) {
  auto lock = LockFileOperations();
  CLibraryState& state = LibraryState();
  state.m_strLogFolder = strLogFolder;
  state.m_bSettingsDeferred = false;
  state.m_aUncheckedLogs.clear();
  state.m_aWaitingDays.clear();
  g_nLogLife.store(kDefaultLogLife);
}
