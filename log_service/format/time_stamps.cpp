#include "format/time_stamps.h"

#include <cstdio>
#include <ctime>

#include "platform/platform_files.h"

namespace {

std::u16string WidenAscii(const char* psz) {
  std::u16string str;
  for (; *psz != '\0'; ++psz) str.push_back(static_cast<char16_t>(static_cast<unsigned char>(*psz)));
  return str;
}

}  // namespace

std::u16string FormatDateStamp() { return FormatDateStamp(ReadClock()); }
std::u16string FormatTimeStamp() { return FormatTimeStamp(ReadClock()); }

std::u16string FormatDateStamp(int64_t nTime) {
  std::tm local{};
  const bool bLocal = ConvertToLocalTime(nTime, local);
  char sz[64];
  std::snprintf(sz, sizeof sz, "%4d%02d%02d", bLocal ? local.tm_year + 1900 : 0, bLocal ? local.tm_mon + 1 : 0,
                bLocal ? local.tm_mday : 0);
  return WidenAscii(sz);
}

std::u16string FormatTimeStamp(int64_t nTime) {
  std::tm local{};
  const bool bLocal = ConvertToLocalTime(nTime, local);
  char sz[96];
  std::snprintf(sz, sizeof sz, "%4d.%02d.%02d %02d:%02d:%02d", bLocal ? local.tm_year + 1900 : 0,
                bLocal ? local.tm_mon + 1 : 0, bLocal ? local.tm_mday : 0, bLocal ? local.tm_hour : -1,
                bLocal ? local.tm_min : -1, bLocal ? local.tm_sec : -1);
  return WidenAscii(sz);
}

std::u16string FormatPreviousDateStamp(int64_t nTime) {
  std::tm local{};
  if (!ConvertToLocalTime(nTime, local)) return FormatDateStamp(nTime);
  // About noon of the day before: twelve hours before the start of this
  // day, as the clock on the wall counts it, which a change to or from
  // summer time today puts an hour off at most.
  const int64_t nDayStart = nTime - (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
  return FormatDateStamp(nDayStart - 12 * 3600);
}
