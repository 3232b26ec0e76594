#include "reading/time_stamp.h"

#include <cstdio>

std::string FormatIsoTime(std::string_view strRecordStamp) {
  CStamp stamp;
  if (!ParseRecordStamp(strRecordStamp, stamp)) return std::string(strRecordStamp);
  char szText[32];
  std::snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02d", stamp.m_nYear, stamp.m_nMonth, stamp.m_nDay,
                stamp.m_nHour, stamp.m_nMinute, stamp.m_nSecond);
  return szText;
}

bool ParseTimeBound(std::string_view strText, CTimeBound& bound, std::string& strError) {
  bound = CTimeBound();
  strError = "malformed time \"" + std::string(strText) + "\": expected hh:mm[:ss] or \"yyyy.mm.dd hh:mm:ss\"";
  if (ParseTimeOfDay(strText, bound.m_stamp)) {
    bound.m_bSet = bound.m_bTimeOfDay = true;
    return true;
  }
  // A date holds digits and separators only: the first blank or 'T' ends it.
  const size_t nPos = strText.find_first_of(" T");
  CDay day;
  if (nPos == std::string_view::npos || !ParseDay(strText.substr(0, nPos), day)) return false;
  if (!ParseTimeOfDay(strText.substr(nPos + 1), bound.m_stamp)) return false;
  bound.m_stamp.m_nYear = day.m_nYear;
  bound.m_stamp.m_nMonth = day.m_nMonth;
  bound.m_stamp.m_nDay = day.m_nDay;
  bound.m_bSet = true;
  return true;
}

bool IsAtOrAfter(std::string_view strRecordStamp, const CTimeBound& bound) {
  if (!bound.m_bSet) return true;
  CStamp stamp;
  if (!ParseRecordStamp(strRecordStamp, stamp)) return false;
  if (bound.m_bTimeOfDay) return stamp.TimeOfDayKey() >= bound.m_stamp.TimeOfDayKey();
  return stamp.Key() >= bound.m_stamp.Key();
}

bool IsAtOrBefore(std::string_view strRecordStamp, const CTimeBound& bound) {
  if (!bound.m_bSet) return true;
  CStamp stamp;
  if (!ParseRecordStamp(strRecordStamp, stamp)) return false;
  if (bound.m_bTimeOfDay) return stamp.TimeOfDayKey() <= bound.m_stamp.TimeOfDayKey();
  return stamp.Key() <= bound.m_stamp.Key();
}

std::string FormatDayStamp(const CDay& day) {
  char szText[16];
  std::snprintf(szText, sizeof szText, "%04d%02d%02d", day.m_nYear % 10000, day.m_nMonth % 100, day.m_nDay % 100);
  return szText;
}

std::string FormatIsoDay(const CDay& day) {
  char szText[16];
  std::snprintf(szText, sizeof szText, "%04d-%02d-%02d", day.m_nYear % 10000, day.m_nMonth % 100, day.m_nDay % 100);
  return szText;
}

CDay PreviousDay(const CDay& day) {
  CDay prev = day;
  if (--prev.m_nDay >= 1) return prev;
  if (--prev.m_nMonth < 1) {
    prev.m_nMonth = 12;
    --prev.m_nYear;
  }
  prev.m_nDay = DaysInMonth(prev.m_nYear, prev.m_nMonth);
  return prev;
}
