// The two stamps of the log: the date that names a day's file and the time
// of each record, both in local time.
#pragma once

#include <cstdint>
#include <string>

// Local date "%4d%02d%02d" and local time "%4d.%02d.%02d %02d:%02d:%02d" of
// the clock's current value. When the time cannot be converted the date
// fields print as 0 and the time fields as -1: "   00000" and
// "   0.00.00 -1:-1:-1".
std::u16string FormatDateStamp();
std::u16string FormatTimeStamp();
// The same stamps of a given time, in seconds since 1970 UTC.
std::u16string FormatDateStamp(int64_t nTime);
std::u16string FormatTimeStamp(int64_t nTime);
// The local date of the day before the one nTime falls on (the fallback
// date when nTime cannot be converted).
std::u16string FormatPreviousDateStamp(int64_t nTime);
