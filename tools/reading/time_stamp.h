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

std::string FormatDayStamp(const CDay& day);  // "yyyymmdd"
std::string FormatIsoDay(const CDay& day);    // "yyyy-mm-dd"
// The day before, across month and year ends.
CDay PreviousDay(const CDay& day);
