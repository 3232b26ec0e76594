// What the library keeps for its whole life: the log folder, the retention,
// and the lock that serialises every operation on its files.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// Log folder without a trailing separator once derived; the platform's
// fallback folder until then. Written only by the load sequence.
extern std::u16string g_strLogFolder;
// Retention in days. Written by the load and by SetLogLife while other
// threads read it; each reader only needs the latest whole value.
extern std::atomic<int32_t> g_nLogLife;

// Held by every operation on the library's files for its whole length, so
// that the calls of one process never compete for a file lock; the file
// locks of the platform layer then only have other processes to wait for.
std::unique_lock<std::mutex> LockFileOperations();
// The same lock when it is free at this moment; an empty lock otherwise.
std::unique_lock<std::mutex> TryLockFileOperations();
