// The two stamps of the log: the date that names a day's file and the time
// of each record, both in local time. Written by the library, read by the
// tool: both directions live here, so they cannot drift apart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// A date and time of day as plain numbers. Compared through Key(), which
// orders stamps chronologically.
struct CStamp {
  int m_nYear = 0;
  int m_nMonth = 0;
  int m_nDay = 0;
  int m_nHour = 0;
  int m_nMinute = 0;
  int m_nSecond = 0;

  int64_t Key() const;           // yyyymmddhhmmss as one number
  int32_t TimeOfDayKey() const;  // hhmmss as one number
};

// A calendar day, as the name of a day's file holds it.
struct CDay {
  int m_nYear = 0;
  int m_nMonth = 0;
  int m_nDay = 0;
};

bool IsValidDate(int nYear, int nMonth, int nDay);
int DaysInMonth(int nYear, int nMonth);

// Reads a record's stamp as FormatTimeStamp writes it. False for anything
// else, such as the stamp written when the local time could not be had
// ("   0.00.00 -1:-1:-1").
bool ParseRecordStamp(std::string_view strText, CStamp& stamp);
// The same for the stamp as it stands in a file.
bool ParseRecordStamp(std::u16string_view strText, CStamp& stamp);
// Reads "hh:mm" or "hh:mm:ss", the whole text, into the time of stamp.
bool ParseTimeOfDay(std::string_view strText, CStamp& stamp);
// Reads a date as FormatDateStamp writes it ("yyyymmdd"), or with one
// separator, '-', '.' or '/', used twice ("yyyy-mm-dd").
bool ParseDay(std::string_view strText, CDay& day);
