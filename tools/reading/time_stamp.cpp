#include "reading/time_stamp.h"

#include <cstdio>
#include <ctime>

#include "platform/platform_files.h"

std::string FormatIsoTime(std::string_view strRecordStamp) {
  CStamp stamp;
  if (!ParseRecordStamp(strRecordStamp, stamp)) return std::string(strRecordStamp);
  char szText[32];
  std::snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02d", stamp.m_nYear, stamp.m_nMonth, stamp.m_nDay,
                stamp.m_nHour, stamp.m_nMinute, stamp.m_nSecond);
  return szText;
}

namespace {

// The local date and time of a clock value; all zero when the system cannot
// convert it.
CStamp LocalStampAt(int64_t nTime) {
  std::tm local{};
  CStamp stamp;
  if (!ConvertToLocalTime(nTime, local)) return stamp;
  stamp.m_nYear = local.tm_year + 1900;
  stamp.m_nMonth = local.tm_mon + 1;
  stamp.m_nDay = local.tm_mday;
  stamp.m_nHour = local.tm_hour;
  stamp.m_nMinute = local.tm_min;
  stamp.m_nSecond = local.tm_sec;
  return stamp;
}

std::string LowerAscii(std::string_view strText) {
  std::string strLower(strText);
  for (char& c : strLower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return strLower;
}

bool EndsWith(std::string_view strText, std::string_view strEnd) {
  return strText.size() >= strEnd.size() && strText.substr(strText.size() - strEnd.size()) == strEnd;
}

// "90s", "15m", "1h", "2d", "3w", "1 hour ago", "90 seconds ago": the
// seconds it stands for, or -1. An 'm' is minutes: months vary in length.
int64_t ParseDuration(std::string_view strText) {
  static const struct {
    const char* szUnit;
    int64_t nSeconds;
  } kUnits[] = {{"s", 1},        {"sec", 1},     {"secs", 1},      {"second", 1},    {"seconds", 1},
                {"m", 60},       {"min", 60},    {"mins", 60},     {"minute", 60},   {"minutes", 60},
                {"h", 3600},     {"hour", 3600}, {"hours", 3600},  {"d", 86400},     {"day", 86400},
                {"days", 86400}, {"w", 604800},  {"week", 604800}, {"weeks", 604800}};
  size_t nPos = 0;
  int64_t nCount = 0;
  for (; nPos < strText.size() && strText[nPos] >= '0' && strText[nPos] <= '9' && nPos < 9; ++nPos) {
    nCount = nCount * 10 + (strText[nPos] - '0');
  }
  if (nPos == 0) return -1;
  std::string_view strUnit = strText.substr(nPos);
  if (EndsWith(strUnit, " ago")) strUnit.remove_suffix(4);
  if (!strUnit.empty() && strUnit[0] == ' ') strUnit.remove_prefix(1);
  for (const auto& unit : kUnits) {
    if (strUnit == unit.szUnit) return nCount * unit.nSeconds;
  }
  return -1;
}

// hh:mm[:ss], or a time on the 12-hour clock: 10am, 10:30pm, 12am (midnight).
bool ParseClockTime(std::string_view strText, CStamp& stamp) {
  if (ParseTimeOfDay(strText, stamp)) return true;
  const bool bPm = EndsWith(strText, "pm");
  if (!bPm && !EndsWith(strText, "am")) return false;
  strText.remove_suffix(2);
  if (EndsWith(strText, " ")) strText.remove_suffix(1);
  const size_t nColon = strText.find(':');
  const std::string_view strHour = strText.substr(0, nColon);
  if (strHour.empty() || strHour.size() > 2 || strHour.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const int nHour = std::stoi(std::string(strHour));
  CStamp minutes;
  if (nHour < 1 || nHour > 12) return false;
  if (nColon != std::string_view::npos && !ParseTimeOfDay("00:" + std::string(strText.substr(nColon + 1)), minutes)) {
    return false;
  }
  stamp.m_nHour = nHour % 12 + (bPm ? 12 : 0);
  stamp.m_nMinute = minutes.m_nMinute;
  stamp.m_nSecond = minutes.m_nSecond;
  return true;
}

// "today", "yesterday" or a date.
bool ParseDayWord(std::string_view strText, const CDay& today, CDay& day) {
  if (strText == "today" || strText == "yesterday") {
    day = strText == "today" ? today : PreviousDay(today);
    return true;
  }
  return ParseDay(strText, day);
}

void PutOnDay(CStamp& stamp, const CDay& day) {
  stamp.m_nYear = day.m_nYear;
  stamp.m_nMonth = day.m_nMonth;
  stamp.m_nDay = day.m_nDay;
}

bool SetStamp(CTimeBound& bound, const CStamp& stamp) {
  bound.m_bSet = stamp.m_nYear != 0;
  bound.m_stamp = stamp;
  return bound.m_bSet;
}

// A day, or a day and a time after a blank or 'T'.
bool ParseDayAndTime(const std::string& strText, const CDay& today, bool bUntil, CTimeBound& bound) {
  CDay day;
  if (ParseDayWord(strText, today, day)) {
    CStamp stamp;
    stamp.m_nHour = bUntil ? 23 : 0;
    stamp.m_nMinute = stamp.m_nSecond = bUntil ? 59 : 0;
    PutOnDay(stamp, day);
    return SetStamp(bound, stamp);
  }
  for (const size_t nPos : {strText.find(' '), strText.find('t', 1)}) {
    CStamp stamp;
    if (nPos == std::string::npos || !ParseDayWord(strText.substr(0, nPos), today, day) ||
        !ParseClockTime(strText.substr(nPos + 1), stamp)) {
      continue;
    }
    PutOnDay(stamp, day);
    return SetStamp(bound, stamp);
  }
  return false;
}

std::string FormatStamp(const CStamp& stamp) {
  char szText[40];
  std::snprintf(szText, sizeof szText, "%04d-%02d-%02d %02d:%02d:%02d", stamp.m_nYear % 10000, stamp.m_nMonth % 100,
                stamp.m_nDay % 100, stamp.m_nHour % 100, stamp.m_nMinute % 100, stamp.m_nSecond % 100);
  return szText;
}

std::string DescribeBound(const CTimeBound& bound, const char* szNone) {
  if (!bound.m_bSet) return szNone;
  if (!bound.m_bTimeOfDay) return FormatStamp(bound.m_stamp);
  return FormatStamp(bound.m_stamp).substr(11) + " of each day";
}

}  // namespace

bool ParseTimeBound(std::string_view strText, CTimeBound& bound, std::string& strError, bool bUntil) {
  bound = CTimeBound();
  strError = "malformed time \"" + std::string(strText) +
             "\": expected hh:mm[:ss], 10am, 15m, 1h, \"1 hour ago\", today, yesterday [hh:mm], yyyy-mm-dd or "
             "\"yyyy-mm-dd hh:mm:ss\"";
  const std::string strLower = LowerAscii(strText);
  if (ParseClockTime(strLower, bound.m_stamp)) {
    bound.m_bSet = bound.m_bTimeOfDay = true;
    return true;
  }
  const int64_t nNow = ReadClock();
  if (strLower == "now") return SetStamp(bound, LocalStampAt(nNow));
  const int64_t nAgo = ParseDuration(strLower);
  if (nAgo >= 0) return SetStamp(bound, LocalStampAt(nNow - nAgo));
  const CDay today = DayOfStamp(LocalStampAt(nNow));
  return ParseDayAndTime(strLower, today, bUntil, bound);
}

void AnchorTimeBounds(CTimeBound& since, CTimeBound& until, const CDay& first, const CDay& last) {
  const bool bUntilOfDay = until.m_bSet && until.m_bTimeOfDay;
  for (auto* pBound : {&since, &until}) {
    if (!pBound->m_bSet || !pBound->m_bTimeOfDay) continue;
    pBound->m_bTimeOfDay = false;
    PutOnDay(pBound->m_stamp, pBound == &since ? first : last);
  }
  if (bUntilOfDay && since.m_bSet && until.m_stamp.Key() < since.m_stamp.Key()) {
    PutOnDay(until.m_stamp, NextDay(DayOfStamp(since.m_stamp)));
  }
}

std::string DescribeWindow(const CTimeBound& since, const CTimeBound& until) {
  return DescribeBound(since, "the start") + " to " + DescribeBound(until, "the end");
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

CDay NextDay(const CDay& day) {
  CDay next = day;
  if (++next.m_nDay <= DaysInMonth(next.m_nYear, next.m_nMonth)) return next;
  next.m_nDay = 1;
  if (++next.m_nMonth > 12) {
    next.m_nMonth = 1;
    ++next.m_nYear;
  }
  return next;
}

CDay DayOfStamp(const CStamp& stamp) {
  CDay day;
  day.m_nYear = stamp.m_nYear;
  day.m_nMonth = stamp.m_nMonth;
  day.m_nDay = stamp.m_nDay;
  return day;
}

int64_t DayKey(const CDay& day) { return day.m_nYear * 10000LL + day.m_nMonth * 100 + day.m_nDay; }
