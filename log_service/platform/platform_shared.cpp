#include "platform/platform_shared.h"

#include <atomic>
#include <mutex>

#include "platform/unicode_text.h"

namespace {

const char* DescribeCause(FileErrorCause nCause) {
  switch (nCause) {
    case causeNone:
      return "no error";
    case causeNotFound:
      return "not found";
    case causeAlreadyExists:
      return "already exists";
    case causeAccessDenied:
      return "access denied";
    case causeSharingViolation:
      return "in use by another opener";
    case causeDiskFull:
      return "disk full";
    case causeIoError:
      return "I/O error";
    case causeOther:
      break;
  }
  return "file error";
}

std::atomic<bool> g_bClockFixed{false};
std::atomic<int64_t> g_nFixedClock{0};

struct HostPathOverride {
  std::mutex m_mutex;
  bool m_bActive = false;     // a test has set a path
  bool m_bAvailable = false;  // what GetHostExecutablePath reports then
  std::u16string m_strPath;   // the made-up path
};

HostPathOverride& GetHostPathOverride() {
  static HostPathOverride s_override;
  return s_override;
}

}  // namespace

CFileException::CFileException(FileErrorCause nCause, std::u16string strPath)
    : m_nCause(nCause), m_strPath(std::move(strPath)) {
  // A lone surrogate of the path shows as U+FFFD.
  m_strWhat = std::string(DescribeCause(m_nCause)) + ": " + ToValidUtf8(m_strPath);
}

bool ReadClockOverride(int64_t& nTime) {
  if (!g_bClockFixed.load()) return false;
  nTime = g_nFixedClock.load();
  return true;
}

bool ReadHostPathOverride(std::u16string& strPath, bool& bAvailable) {
  HostPathOverride& hostOverride = GetHostPathOverride();
  std::lock_guard<std::mutex> lock(hostOverride.m_mutex);
  if (!hostOverride.m_bActive) return false;
  bAvailable = hostOverride.m_bAvailable;
  if (bAvailable) strPath = hostOverride.m_strPath;
  return true;
}

void SetClockForTesting(int64_t nTime) {
  g_nFixedClock.store(nTime);
  g_bClockFixed.store(true);
}

void ResetClockForTesting() { g_bClockFixed.store(false); }

void SetHostPathForTesting(const std::u16string& strPath, bool bAvailable) {
  HostPathOverride& hostOverride = GetHostPathOverride();
  std::lock_guard<std::mutex> lock(hostOverride.m_mutex);
  hostOverride.m_bActive = true;
  hostOverride.m_bAvailable = bAvailable;
  hostOverride.m_strPath = strPath;
}

void ResetHostPathForTesting() {
  HostPathOverride& hostOverride = GetHostPathOverride();
  std::lock_guard<std::mutex> lock(hostOverride.m_mutex);
  hostOverride.m_bActive = false;
  hostOverride.m_strPath.clear();
}
