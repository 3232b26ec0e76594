#include <stdlib.h>
#include <time.h>

#include <cstdio>

#include "base/utc_offset.h"
#include "system/time_zone.h"

bool UseTimeZone(const std::string& strZone, std::string& strError) {
  int nMinutes = 0;
  if (!ParseUtcOffset(strZone, nMinutes)) {
    strError = "unknown time zone \"" + strZone +
               "\": on Windows, give UTC or an offset such as +08:00 (zone names "
               "need the zone database of a POSIX system)";
    return false;
  }
  // The runtime's TZ is a three-letter name and the offset west of UTC.
  const int nWest = -nMinutes;
  char szValue[32];
  std::snprintf(szValue, sizeof szValue, "UTC%c%02d:%02d", nWest < 0 ? '-' : '+', abs(nWest) / 60, abs(nWest) % 60);
  _putenv_s("TZ", szValue);
  _tzset();
  return true;
}
