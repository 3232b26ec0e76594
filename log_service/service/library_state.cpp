#include "service/library_state.h"

#include <new>

#include "format/log_layout.h"
#include "platform/platform_files.h"

std::atomic<int32_t> g_nLogLife{kDefaultLogLife};

CLibraryState& LibraryState() {
  // Never destroyed: see the header. The first call may come from the load
  // notification, before any other static object of the library exists.
  alignas(CLibraryState) static unsigned char abStorage[sizeof(CLibraryState)];
  static CLibraryState* const pState = [] {
    auto* pNew = new (abStorage) CLibraryState;
    pNew->m_strLogFolder = kFallbackFolder;
    return pNew;
  }();
  return *pState;
}

void ReleaseLibraryState() noexcept {
  CLibraryState& state = LibraryState();
  std::unique_lock<std::mutex> lock(state.m_fileOperations, std::try_to_lock);
  if (!lock.owns_lock()) return;
  state.m_bReleased = true;
  std::u16string().swap(state.m_strLogFolder);
  std::vector<std::u16string>().swap(state.m_aUncheckedLogs);
  std::vector<std::u16string>().swap(state.m_aWaitingDays);
  std::vector<CHostRecord>().swap(state.m_aHeldRecords);
  state.m_nHeldUnits = 0;
}

std::unique_lock<std::mutex> LockFileOperations() {
  return std::unique_lock<std::mutex>(LibraryState().m_fileOperations);
}

void ResetLibraryStateForTesting(const std::u16string& strLogFolder) {
  auto lock = LockFileOperations();
  CLibraryState& state = LibraryState();
  state.m_strLogFolder = strLogFolder;
  state.m_bSettingsDeferred = false;
  state.m_bMovesDue = false;
  state.m_aUncheckedLogs.clear();
  state.m_aWaitingDays.clear();
  state.m_aHeldRecords.clear();
  state.m_nHeldUnits = 0;
  state.m_bReleased = false;
  g_nLogLife.store(kDefaultLogLife);
}
