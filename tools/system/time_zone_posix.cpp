#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <cstring>

#include "base/utc_offset.h"
#include "system/time_zone.h"

namespace {

// A name of the zone database: letters, digits and "_-+/", no part that
// climbs out of the database's folder.
bool IsZoneName(const std::string& strZone) {
  if (strZone.empty() || strZone.front() == '/' || strZone.find("..") != std::string::npos) return false;
  for (char c : strZone) {
    const bool bPlain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!bPlain && std::strchr("_-+/", c) == nullptr) return false;
  }
  return true;
}

// Whether the database holds a zone file of that name: glibc takes an
// unknown name for UTC without a word, which would give every record a
// wrong offset.
bool ZoneFileExists(const std::string& strZone) {
  const char* szFolder = getenv("TZDIR");
  const std::string strPath =
      std::string(szFolder != nullptr && *szFolder != '\0' ? szFolder : "/usr/share/zoneinfo") + "/" + strZone;
  FILE* pFile = std::fopen(strPath.c_str(), "rb");
  if (pFile == nullptr) return false;
  char aMagic[4] = {};
  const bool bZone =
      std::fread(aMagic, 1, sizeof aMagic, pFile) == sizeof aMagic && std::memcmp(aMagic, "TZif", sizeof aMagic) == 0;
  std::fclose(pFile);
  return bZone;
}

}  // namespace

bool UseTimeZone(const std::string& strZone, std::string& strError) {
  int nMinutes = 0;
  std::string strValue;
  if (ParseUtcOffset(strZone, nMinutes)) {
    // POSIX counts the offset west of UTC; "<+0800>" is the zone's name.
    const int nWest = -nMinutes;
    char szValue[32];
    std::snprintf(szValue, sizeof szValue, "<%c%02d%02d>%c%02d:%02d", nMinutes < 0 ? '-' : '+', abs(nMinutes) / 60,
                  abs(nMinutes) % 60, nWest < 0 ? '-' : '+', abs(nWest) / 60, abs(nWest) % 60);
    strValue = szValue;
  } else if (IsZoneName(strZone) && ZoneFileExists(strZone)) {
    strValue = strZone;
  } else {
    strError = "unknown time zone \"" + strZone +
               "\": give a name of the zone database such as Asia/Shanghai, UTC, "
               "or an offset such as +08:00";
    return false;
  }
  setenv("TZ", strValue.c_str(), 1);
  tzset();
  return true;
}
