#include "format/time_stamps.h"

#include <cstdio>
#include <ctime>

#include "platform/platform_files.h"

namespace {

std::u16string WidenAscii(const char* psz) {
  std::u16string str;
  for (; *psz != '\0'; ++psz) str.push_back(static_cast<char16_t>(static_cast<unsigned char>(*psz)));
  return str;
}

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

bool IsValidTime(int nHour, int nMinute, int nSecond) { return nHour <= 23 && nMinute <= 59 && nSecond <= 59; }

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

}  // namespace

std::u16string FormatDateStamp() { return FormatDateStamp(ReadClock()); }
std::u16string FormatTimeStamp() { return FormatTimeStamp(ReadClock()); }

std::u16string FormatDateStamp(int64_t nTime) {
  std::tm local{};
  const bool bLocal = ConvertToLocalTime(nTime, local);
  char sz[64];
  std::snprintf(sz, sizeof sz, "%4d%02d%02d", bLocal ? local.tm_year + 1900 : 0, bLocal ? local.tm_mon + 1 : 0,
                bLocal ? local.tm_mday : 0);
  return WidenAscii(sz);
}

std::u16string FormatTimeStamp(int64_t nTime) {
  std::tm local{};
  const bool bLocal = ConvertToLocalTime(nTime, local);
  char sz[96];
  std::snprintf(sz, sizeof sz, "%4d.%02d.%02d %02d:%02d:%02d", bLocal ? local.tm_year + 1900 : 0,
                bLocal ? local.tm_mon + 1 : 0, bLocal ? local.tm_mday : 0, bLocal ? local.tm_hour : -1,
                bLocal ? local.tm_min : -1, bLocal ? local.tm_sec : -1);
  return WidenAscii(sz);
}

std::u16string FormatPreviousDateStamp(int64_t nTime) {
  std::tm local{};
  if (!ConvertToLocalTime(nTime, local)) return FormatDateStamp(nTime);
  // About noon of the day before: twelve hours before the start of this
  // day, as the clock on the wall counts it, which a change to or from
  // summer time today puts an hour off at most.
  const int64_t nDayStart = nTime - (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
  return FormatDateStamp(nDayStart - 12 * 3600);
}

int64_t CStamp::Key() const {
  int64_t nDate = m_nYear * 10000LL + m_nMonth * 100 + m_nDay;
  return nDate * 1000000 + TimeOfDayKey();
}

int32_t CStamp::TimeOfDayKey() const { return m_nHour * 10000 + m_nMinute * 100 + m_nSecond; }

bool IsValidDate(int nYear, int nMonth, int nDay) {
  return nYear >= 1 && nMonth >= 1 && nMonth <= 12 && nDay >= 1 && nDay <= DaysInMonth(nYear, nMonth);
}

int DaysInMonth(int nYear, int nMonth) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool bLeap = (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
  return nMonth == 2 && bLeap ? 29 : kDays[nMonth - 1];
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

bool ParseTimeOfDay(std::string_view strText, CStamp& stamp) { return ReadTimeOfDay(strText, 0, stamp); }

bool ParseDay(std::string_view strText, CDay& day) {
  size_t nPos = 0;
  return ReadDate(strText, nPos, day) && nPos == strText.size();
}
