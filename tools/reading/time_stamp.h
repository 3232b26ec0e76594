// The record time stamp "yyyy.mm.dd hh:mm:ss" and the time bounds of the
// --since and --until filters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "format/time_stamps.h"

// ISO 8601 local time ("2011-04-08T09:05:03") of a record's stamp; a stamp
// that does not read is passed on unchanged rather than lost.
std::string FormatIsoTime(std::string_view strRecordStamp);

// A bound of --since or --until: either a full stamp or a time of day.
// A time of day is given its day by AnchorTimeBounds once the days to read
// are known; one that stays unanchored applies to every day shown.
struct CTimeBound {
  bool m_bSet = false;
  bool m_bTimeOfDay = false;
  CStamp m_stamp;
};

// Reads the times people type, against the clock's current value (ReadClock,
// which tests fix):
//   hh:mm[:ss], 10am, 10:30pm          a time of day
//   90s, 15m, 1h, 2d, "1 hour ago"     that long before now
//   now, today, yesterday              a day: its start for --since, its end
//                                      for --until (bUntil)
//   today 14:00, yesterday 2pm         a time of that day
//   yyyy.mm.dd (also '-', '/')         a day, as today is
//   yyyy.mm.dd hh:mm[:ss] (' ' or 'T') a full stamp
// False, with a message, otherwise.
bool ParseTimeBound(std::string_view strText, CTimeBound& bound, std::string& strError, bool bUntil = false);

// Turns times of day into full stamps over the days read, first to last:
// --since on the first day, --until on the last. Where that would put
// --until before --since (23:00 to 01:00 over a single day), --until falls on
// the day after --since's, so that the window is one continuous period.
void AnchorTimeBounds(CTimeBound& since, CTimeBound& until, const CDay& first, const CDay& last);

// The period a window covers, for messages: "2026-12-03 23:59:58 to
// 2026-12-04 00:00:01"; "the start" or "the end" for a bound not set.
std::string DescribeWindow(const CTimeBound& since, const CTimeBound& until);

// Whether a record's stamp lies on the right side of a bound (both ends are
// inclusive). A record whose stamp does not read is outside every bound.
bool IsAtOrAfter(std::string_view strRecordStamp, const CTimeBound& bound);
bool IsAtOrBefore(std::string_view strRecordStamp, const CTimeBound& bound);

std::string FormatDayStamp(const CDay& day);  // "yyyymmdd"
std::string FormatIsoDay(const CDay& day);    // "yyyy-mm-dd"
// The day before and the day after, across month and year ends.
CDay PreviousDay(const CDay& day);
CDay NextDay(const CDay& day);
// The day a stamp falls on.
CDay DayOfStamp(const CStamp& stamp);
int64_t DayKey(const CDay& day);  // yyyymmdd as one number
