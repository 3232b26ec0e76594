#include "reading/time_stamp.h"

#include <cstdio>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly nCount digits at nPos and moves past them.
bool ReadDigits(std::string_view strText, size_t& nPos, int nCount, int& nValue) {
  if (nPos + nCount > strText.size()) return false;
  nValue = 0;
  for (int i = 0; i < nCount; ++i) {
    char c = strText[nPos + i];
    if (!IsDigit(c)) return false;
    nValue = nValue * 10 + (c - '0');
  }
  nPos += nCount;
  return true;
}

bool ReadChar(std::string_view strText, size_t& nPos, char cWanted) {
  if (nPos >= strText.size() || strText[nPos] != cWanted) return false;
  ++nPos;
  return true;
}

bool IsValidTime(int nHour, int nMinute, int nSecond) {
  return nHour <= 23 && nMinute <= 59 && nSecond <= 59;
}

// "hh:mm" or "hh:mm:ss" from nPos to the end of the text.
bool ReadTimeOfDay(std::string_view strText, size_t nPos, CStamp& stamp) {
  stamp.m_nSecond = 0;
  if (!ReadDigits(strText, nPos, 2, stamp.m_nHour) || !ReadChar(strText, nPos, ':') ||
      !ReadDigits(strText, nPos, 2, stamp.m_nMinute)) {
    return false;
  }
  if (nPos < strText.size() && (!ReadChar(strText, nPos, ':') || !ReadDigits(strText, nPos, 2, stamp.m_nSecond))) {
    return false;
  }
  return nPos == strText.size() && IsValidTime(stamp.m_nHour, stamp.m_nMinute, stamp.m_nSecond);
}

// A date with one separator used twice, or none at all; nPos ends after it.
bool ReadDate(std::string_view strText, size_t& nPos, CDay& day) {
  if (!ReadDigits(strText, nPos, 4, day.m_nYear)) return false;
  char cSeparator = nPos < strText.size() ? strText[nPos] : '\0';
  bool bSeparated = cSeparator == '.' || cSeparator == '-' || cSeparator == '/';
  if (bSeparated) ++nPos;
  if (!ReadDigits(strText, nPos, 2, day.m_nMonth)) return false;
  if (bSeparated && !ReadChar(strText, nPos, cSeparator)) return false;
  if (!ReadDigits(strText, nPos, 2, day.m_nDay)) return false;
  return IsValidDate(day.m_nYear, day.m_nMonth, day.m_nDay);
}

int DaysInMonth(int nYear, int nMonth) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool bLeap = (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
  return nMonth == 2 && bLeap ? 29 : kDays[nMonth - 1];
}

}  // namespace

int64_t CStamp::Key() const {
  int64_t nDate = m_nYear * 10000LL + m_nMonth * 100 + m_nDay;
  return nDate * 1000000 + TimeOfDayKey();
}

int32_t CStamp::TimeOfDayKey() const { return m_nHour * 10000 + m_nMinute * 100 + m_nSecond; }

bool IsValidDate(int nYear, int nMonth, int nDay) {
  return nYear >= 1 && nMonth >= 1 && nMonth <= 12 && nDay >= 1 && nDay <= DaysInMonth(nYear, nMonth);
}

bool ParseRecordStamp(std::string_view strText, CStamp& stamp) {
  if (strText.size() != 19) return false;
  size_t nPos = 0;
  CDay day;
  bool bRead = ReadDigits(strText, nPos, 4, day.m_nYear) && ReadChar(strText, nPos, '.') &&
               ReadDigits(strText, nPos, 2, day.m_nMonth) && ReadChar(strText, nPos, '.') &&
               ReadDigits(strText, nPos, 2, day.m_nDay) && ReadChar(strText, nPos, ' ') &&
               ReadTimeOfDay(strText, nPos, stamp);
  if (!bRead || !IsValidDate(day.m_nYear, day.m_nMonth, day.m_nDay)) return false;
  stamp.m_nYear = day.m_nYear;
  stamp.m_nMonth = day.m_nMonth;
  stamp.m_nDay = day.m_nDay;
  return true;
}

bool ParseRecordStamp(std::u16string_view strText, CStamp& stamp) {
  constexpr size_t kLength = 19;
  if (strText.size() != kLength) return false;
  char szText[kLength];
  for (size_t i = 0; i < kLength; ++i) {
    if (strText[i] >= 0x80) return false;
    szText[i] = static_cast<char>(strText[i]);
  }
  return ParseRecordStamp(std::string_view(szText, kLength), stamp);
}

std::string FormatIsoTime(std::string_view strRecordStamp) {
  CStamp stamp;
  if (!ParseRecordStamp(strRecordStamp, stamp)) return std::string(strRecordStamp);
  char szText[32];
  std::snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02d", stamp.m_nYear, stamp.m_nMonth,
                stamp.m_nDay, stamp.m_nHour, stamp.m_nMinute, stamp.m_nSecond);
  return szText;
}

bool ParseTimeBound(std::string_view strText, CTimeBound& bound, std::string& strError) {
  bound = CTimeBound();
  strError = "malformed time \"" + std::string(strText) +
             "\": expected hh:mm[:ss] or \"yyyy.mm.dd hh:mm:ss\"";
  if (ReadTimeOfDay(strText, 0, bound.m_stamp)) {
    bound.m_bSet = bound.m_bTimeOfDay = true;
    return true;
  }
  size_t nPos = 0;
  CDay day;
  if (!ReadDate(strText, nPos, day)) return false;
  if (nPos >= strText.size() || (strText[nPos] != ' ' && strText[nPos] != 'T')) return false;
  if (!ReadTimeOfDay(strText, nPos + 1, bound.m_stamp)) return false;
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

bool ParseDay(std::string_view strText, CDay& day) {
  size_t nPos = 0;
  return ReadDate(strText, nPos, day) && nPos == strText.size();
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
