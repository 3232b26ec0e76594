// The record time stamp "yyyy.mm.dd hh:mm:ss" and the time bounds of the
// --since and --until filters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A date and time of day as plain numbers. Compared through Key(), which
// orders stamps chronologically.
struct CStamp {
  int m_nYear = 0;
  int m_nMonth = 0;
  int m_nDay = 0;
  int m_nHour = 0;
  int m_nMinute = 0;
  int m_nSecond = 0;

  int64_t Key() const;          // yyyymmddhhmmss as one number
  int32_t TimeOfDayKey() const;  // hhmmss as one number
};

// Reads a record's stamp as the library writes it. False for anything else,
// such as the stamp written when the local time could not be had
// ("   0.00.00 -1:-1:-1").
bool ParseRecordStamp(std::string_view strText, CStamp& stamp);
// The same for the stamp as it stands in a file.
bool ParseRecordStamp(std::u16string_view strText, CStamp& stamp);

// ISO 8601 local time ("2011-04-08T09:05:03") of a record's stamp; a stamp
// that does not read is passed on unchanged rather than lost.
std::string FormatIsoTime(std::string_view strRecordStamp);

// A bound of --since or --until: either a full stamp or a time of day that
// applies to every day shown.
struct CTimeBound {
  bool m_bSet = false;
  bool m_bTimeOfDay = false;
  CStamp m_stamp;
};

// Accepts "hh:mm", "hh:mm:ss", or a date "yyyy.mm.dd" (also with '-' or '/')
// followed by ' ' or 'T' and such a time. False, with a message, otherwise.
bool ParseTimeBound(std::string_view strText, CTimeBound& bound, std::string& strError);

// Whether a record's stamp lies on the right side of a bound (both ends are
// inclusive). A record whose stamp does not read is outside every bound.
bool IsAtOrAfter(std::string_view strRecordStamp, const CTimeBound& bound);
bool IsAtOrBefore(std::string_view strRecordStamp, const CTimeBound& bound);

// A calendar day, for the file names "Vardlix" + yyyymmdd + ".xml".
struct CDay {
  int m_nYear = 0;
  int m_nMonth = 0;
  int m_nDay = 0;
};

bool IsValidDate(int nYear, int nMonth, int nDay);
// Reads "yyyymmdd", "yyyy-mm-dd", "yyyy.mm.dd" or "yyyy/mm/dd".
bool ParseDay(std::string_view strText, CDay& day);
std::string FormatDayStamp(const CDay& day);  // "yyyymmdd"
std::string FormatIsoDay(const CDay& day);    // "yyyy-mm-dd"
// The day before, across month and year ends.
CDay PreviousDay(const CDay& day);
