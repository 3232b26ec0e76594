// The UTC offset of a record's time. The library stamps records with the
// host's local time and no zone; the tool gives each stamp the offset that
// its own time zone (TZ, or --tz) had at that moment, summer time included.
// forward sends its messages with these offsets, and the JSON and CSV
// exports write them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/utc_offset.h"
#include "reading/time_stamp.h"

// A stamp's date and time in seconds since 1970-01-01 00:00, counted as if
// it were UTC.
int64_t LocalSeconds(const CStamp& stamp);

// The date and time of such a count of seconds: LocalSeconds turned back.
CStamp StampOfSeconds(int64_t nLocal);

// The offset of the zone at the moment whose local time is nLocal, in
// seconds east of UTC: the one offset under which nLocal is a local time of
// the zone; in the hours that the clocks skip or repeat, one of the two
// offsets around the change, the same for every such stamp (forward's rule).
// False when the system cannot convert the time.
bool LocalOffset(int64_t nLocal, int64_t& nOffset);

// The offsets under which nLocal is a local time of the zone, the earlier
// moment first: usually one; two in the hour repeated when clocks go back;
// none in the hour skipped when they go forward.
int FindLocalOffsets(int64_t nLocal, int64_t aOffsets[2]);

// "2011-04-08T23:59:59+08:00", the offset in whole minutes.
std::string FormatOffsetTime(const CStamp& stamp, int64_t nOffset);

// No offset: the stamp does not read, or the system cannot convert it.
constexpr int64_t kNoUtcOffset = INT64_MIN;

// ISO 8601 of a record's stamp with its offset ("2011-04-08T09:05:03+02:00"),
// without one when nOffset is kNoUtcOffset; a stamp that does not read is
// passed on unchanged.
std::string FormatRecordTime(std::string_view strRecordStamp, int64_t nOffset);

// The offsets of one file's records, given in file order. In the hour that
// the clocks repeat, a stamp has two offsets, and the order decides: the
// first pass through the hour takes the earlier moment, and a record whose
// earlier moment would lie before its predecessor's is from the second pass.
// An hour with one offset all through is looked up once.
class CRecordClock {
 public:
  // The offset of the next record's stamp; kNoUtcOffset when it has none.
  int64_t OffsetOf(std::u16string_view strRecordStamp);
  int64_t OffsetOf(std::string_view strRecordStamp);
  int64_t OffsetOf(const CStamp& stamp);
  // The records that follow come from another file: no order with the
  // records before.
  void StartFile() { m_nLastMoment = kNoUtcOffset; }

 private:
  int64_t m_nHour = kNoUtcOffset;        // local hour (seconds / 3600) of the cached offset
  int64_t m_nHourOffset = kNoUtcOffset;  // its offset; kNoUtcOffset: the hour has more than one
  int64_t m_nLastMoment = kNoUtcOffset;  // UTC moment of the record before, in this file
};
