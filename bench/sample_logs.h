// Daily log documents of a given number of records, for benchmarks.
#pragma once

#include <cstdint>
#include <string>

// The text of a day's log file (declaration, root "日志", nRecords records
// of six fields) with varied fields: ASCII, Chinese text, characters that are
// escaped, and empty fields.
std::u16string MakeDailyLogText(int nRecords);

// The arguments of one varied record, by record number and field (0 to 4).
const char16_t* SampleField(int nRecord, int nField);

// Minor page faults of this process so far (fresh memory that the system
// had to map); 0 where the system does not count them.
int64_t CountMinorFaults();
