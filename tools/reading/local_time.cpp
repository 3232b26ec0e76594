#include "reading/local_time.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "platform/platform_files.h"

namespace {

constexpr int64_t kDay = 86400;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t nYear, int nMonth, int nDay) {
  nYear -= nMonth <= 2 ? 1 : 0;
  const int64_t nEra = (nYear >= 0 ? nYear : nYear - 399) / 400;
  const int64_t nYearOfEra = nYear - nEra * 400;
  const int64_t nDayOfYear = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
  const int64_t nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
  return nEra * 146097 + nDayOfEra - 719468;
}

// The date of a count of days since 1970-01-01: DaysFromCivil turned back.
void CivilFromDays(int64_t nDays, int& nYear, int& nMonth, int& nDay) {
  nDays += 719468;
  const int64_t nEra = (nDays >= 0 ? nDays : nDays - 146096) / 146097;
  const int64_t nDayOfEra = nDays - nEra * 146097;
  const int64_t nYearOfEra = (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
  const int64_t nDayOfYear = nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
  const int64_t nMonthIndex = (5 * nDayOfYear + 2) / 153;
  nDay = static_cast<int>(nDayOfYear - (153 * nMonthIndex + 2) / 5 + 1);
  nMonth = static_cast<int>(nMonthIndex < 10 ? nMonthIndex + 3 : nMonthIndex - 9);
  nYear = static_cast<int>(nYearOfEra + nEra * 400 + (nMonth <= 2 ? 1 : 0));
}

// A local date and time counted as if it were UTC.
int64_t SecondsOfCivil(int64_t nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond) {
  return DaysFromCivil(nYear, nMonth, nDay) * kDay + nHour * 3600 + nMinute * 60 + nSecond;
}

// How far local time was ahead of UTC at the moment nTime.
bool OffsetAt(int64_t nTime, int64_t& nOffset) {
  std::tm local{};
  if (!ConvertToLocalTime(nTime, local)) return false;
  nOffset = SecondsOfCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                           local.tm_sec) -
            nTime;
  return true;
}

// Whether nLocal is a local time of the zone under the offset nOffset.
bool IsOffsetOf(int64_t nLocal, int64_t nOffset) {
  int64_t nFound = 0;
  return OffsetAt(nLocal - nOffset, nFound) && nFound == nOffset;
}

int64_t FloorDiv(int64_t nValue, int64_t nDivisor) {
  return nValue / nDivisor - (nValue % nDivisor != 0 && (nValue < 0) != (nDivisor < 0) ? 1 : 0);
}

}  // namespace

int64_t LocalSeconds(const CStamp& stamp) {
  return SecondsOfCivil(stamp.m_nYear, stamp.m_nMonth, stamp.m_nDay, stamp.m_nHour, stamp.m_nMinute, stamp.m_nSecond);
}

CStamp StampOfSeconds(int64_t nLocal) {
  CStamp stamp;
  const int64_t nDays = FloorDiv(nLocal, kDay);
  CivilFromDays(nDays, stamp.m_nYear, stamp.m_nMonth, stamp.m_nDay);
  const int64_t nSeconds = nLocal - nDays * kDay;
  stamp.m_nHour = static_cast<int>(nSeconds / 3600);
  stamp.m_nMinute = static_cast<int>(nSeconds / 60 % 60);
  stamp.m_nSecond = static_cast<int>(nSeconds % 60);
  return stamp;
}

// The offset of "now"'s rules would be wrong for a record from the other
// side of a change to or from summer time, so the moment is found first: an
// offset is right when the local time it leads back to is nLocal again.
bool LocalOffset(int64_t nLocal, int64_t& nOffset) {
  int64_t nFirst = 0, nSecond = 0, nThird = 0;
  if (!OffsetAt(nLocal, nFirst) || !OffsetAt(nLocal - nFirst, nSecond)) return false;
  nOffset = nSecond;
  if (nSecond == nFirst) return true;
  if (!OffsetAt(nLocal - nSecond, nThird) || nThird != nSecond) nOffset = nFirst;
  return true;
}

int FindLocalOffsets(int64_t nLocal, int64_t aOffsets[2]) {
  // The offsets a day before and a day after are the two sides of any
  // change near nLocal (zones change at most twice a year).
  int64_t nBefore = 0, nAfter = 0;
  if (!OffsetAt(nLocal - kDay, nBefore) || !OffsetAt(nLocal + kDay, nAfter)) return 0;
  int nCount = 0;
  if (IsOffsetOf(nLocal, nBefore)) aOffsets[nCount++] = nBefore;
  if (nAfter != nBefore && IsOffsetOf(nLocal, nAfter)) aOffsets[nCount++] = nAfter;
  // The larger offset is the earlier moment.
  if (nCount == 2 && aOffsets[1] > aOffsets[0]) std::swap(aOffsets[0], aOffsets[1]);
  return nCount;
}

std::string FormatOffsetTime(const CStamp& stamp, int64_t nOffset) {
  const int64_t nMinutes = (nOffset < 0 ? -nOffset : nOffset) / 60;
  char szText[40];
  std::snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", stamp.m_nYear, stamp.m_nMonth,
                stamp.m_nDay, stamp.m_nHour, stamp.m_nMinute, stamp.m_nSecond, nOffset < 0 ? '-' : '+',
                static_cast<int>(nMinutes / 60), static_cast<int>(nMinutes % 60));
  return szText;
}

std::string FormatRecordTime(std::string_view strRecordStamp, int64_t nOffset) {
  CStamp stamp;
  if (nOffset == kNoUtcOffset || !ParseRecordStamp(strRecordStamp, stamp)) return FormatIsoTime(strRecordStamp);
  return FormatOffsetTime(stamp, nOffset);
}

int64_t CRecordClock::OffsetOf(std::u16string_view strRecordStamp) {
  CStamp stamp;
  if (!ParseRecordStamp(strRecordStamp, stamp)) return kNoUtcOffset;
  return OffsetOf(stamp);
}

int64_t CRecordClock::OffsetOf(std::string_view strRecordStamp) {
  CStamp stamp;
  if (!ParseRecordStamp(strRecordStamp, stamp)) return kNoUtcOffset;
  return OffsetOf(stamp);
}

int64_t CRecordClock::OffsetOf(const CStamp& stamp) {
  const int64_t nLocal = LocalSeconds(stamp);
  const int64_t nHour = FloorDiv(nLocal, 3600);
  if (nHour != m_nHour) {
    // An hour that starts and ends with the same single offset has no
    // change inside it.
    int64_t aStart[2], aEnd[2];
    m_nHour = nHour;
    m_nHourOffset = FindLocalOffsets(nHour * 3600, aStart) == 1 && FindLocalOffsets(nHour * 3600 + 3599, aEnd) == 1 &&
                            aStart[0] == aEnd[0]
                        ? aStart[0]
                        : kNoUtcOffset;
  }
  int64_t nOffset = m_nHourOffset;
  if (nOffset == kNoUtcOffset) {
    int64_t aOffsets[2];
    const int nCount = FindLocalOffsets(nLocal, aOffsets);
    if (nCount == 2) {
      const bool bSecondPass = m_nLastMoment != kNoUtcOffset && nLocal - aOffsets[0] < m_nLastMoment;
      nOffset = aOffsets[bSecondPass ? 1 : 0];
    } else if (nCount == 1) {
      nOffset = aOffsets[0];
    } else if (!LocalOffset(nLocal, nOffset)) {
      return kNoUtcOffset;
    }
  }
  m_nLastMoment = nLocal - nOffset;
  return nOffset;
}
