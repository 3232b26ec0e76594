// The tool's time zone: the zone whose offsets the record times get
// (local_time.h) and whose date "today" is. Without a call it is the
// system's: TZ, else the system's setting. The two halves differ in the
// names they know: the POSIX half reads the system's zone database, the
// Windows half knows only fixed offsets, since the C runtime's TZ has no
// zone rules beyond the United States' of its day.
#pragma once

#include <string>

// Makes strZone the time zone of this process for every later conversion
// of a time: "UTC", a fixed offset ("+08:00", "-0330", "+05"; see
// ParseUtcOffset) or, on POSIX, a name of the zone database
// ("Asia/Shanghai", "Europe/Berlin"), looked for in TZDIR or the system's
// zoneinfo folder. False, with a one-line reason and the zone left as it
// was, for anything else. Not thread-safe: call it before anything reads
// the clock.
bool UseTimeZone(const std::string& strZone, std::string& strError);
