#include "platform/platform_shared.h"

#include <atomic>
#include <mutex>

namespace {

const char* DescribeCause(FileErrorCause nCause) {
  switch (nCause) {
    case causeNone: return "no error";
    case causeNotFound: return "not found";
    case causeAlreadyExists: return "already exists";
    case causeAccessDenied: return "access denied";
    case causeSharingViolation: return "in use by another opener";
    case causeDiskFull: return "disk full";
    case causeIoError: return "I/O error";
    case causeOther: break;
  }
  return "file error";
}

// UTF-8 of a path for a message; a lone surrogate shows as U+FFFD.
std::string DescribePath(const std::u16string& strPath) {
  std::string strOut;
  for (size_t i = 0; i < strPath.size(); ++i) {
    uint32_t nCode = strPath[i];
    const bool bHigh = nCode >= 0xD800 && nCode <= 0xDBFF;
    if (bHigh && i + 1 < strPath.size() && strPath[i + 1] >= 0xDC00 && strPath[i + 1] <= 0xDFFF) {
      nCode = 0x10000 + ((nCode - 0xD800) << 10) + (strPath[++i] - 0xDC00);
    } else if (nCode >= 0xD800 && nCode <= 0xDFFF) {
      nCode = 0xFFFD;
    }
    AppendUtf8(strOut, nCode);
  }
  return strOut;
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

void AppendUtf8(std::string& strOut, uint32_t nCode) {
  if (nCode < 0x80) {
    strOut += static_cast<char>(nCode);
  } else if (nCode < 0x800) {
    strOut += static_cast<char>(0xC0 | (nCode >> 6));
    strOut += static_cast<char>(0x80 | (nCode & 0x3F));
  } else if (nCode < 0x10000) {
    strOut += static_cast<char>(0xE0 | (nCode >> 12));
    strOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
    strOut += static_cast<char>(0x80 | (nCode & 0x3F));
  } else {
    strOut += static_cast<char>(0xF0 | (nCode >> 18));
    strOut += static_cast<char>(0x80 | ((nCode >> 12) & 0x3F));
    strOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
    strOut += static_cast<char>(0x80 | (nCode & 0x3F));
  }
}

CFileException::CFileException(FileErrorCause nCause, std::u16string strPath)
    : m_nCause(nCause), m_strPath(std::move(strPath)) {
  m_strWhat = std::string(DescribeCause(m_nCause)) + ": " + DescribePath(m_strPath);
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
