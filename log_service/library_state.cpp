#include "library_state.h"

#include "log_layout.h"
#include "platform_files.h"

// The load sequence runs from the platform's load notification. On Windows
// that comes after the runtime has constructed every static object of the
// library; an ELF constructor function, however, may run before the dynamic
// initialisers of other translation units. So everything the load touches is
// ready from the start: the declaration and the retention are constant
// initialised, the mutex has a constexpr constructor, and the one string that
// needs a constructor is placed ahead of every ordinary initialiser.
#if defined(__GNUC__)
#define VARDLIX_CONSTRUCT_FIRST __attribute__((init_priority(101)))
#else
#define VARDLIX_CONSTRUCT_FIRST
#endif

std::u16string g_strLogFolder VARDLIX_CONSTRUCT_FIRST = kFallbackFolder;
std::atomic<int32_t> g_nLogLife{kDefaultLogLife};

namespace {

std::mutex g_fileOperationsMutex;

}  // namespace

std::unique_lock<std::mutex> LockFileOperations() {
  return std::unique_lock<std::mutex>(g_fileOperationsMutex);
}

std::unique_lock<std::mutex> TryLockFileOperations() {
  return std::unique_lock<std::mutex>(g_fileOperationsMutex, std::try_to_lock);
}
