// What the two exports do, in order: the work the load had to leave for the
// first calls, then the operation itself. The only place that calls the
// settings, the purge and the daily log together, so that none of them
// depends on another for its order.
#pragma once

#include <cstdint>

#include "format/host_record.h"

// WriteVardlix for a record already copied from the host's strings.
// Nothing is written while the retention is 0, which is checked here, under
// the lock that SetLogLife takes too. Raises std::bad_alloc.
void WriteHostRecord(const CHostRecord& record);
// The same for five texts stamped with the clock's current value.
void WriteHostRecord(const char16_t* szType, const char16_t* szLocation, const char16_t* szOperation,
                     const char16_t* szParameters, const char16_t* szDescription);

// SetLogLife. Refuses more than kMaxLogLife days with 0. Otherwise writes
// the new value into the settings file (RewriteSettingsFile), sets
// g_nLogLife and purges; returns 1. Returns 0 when the file cannot be
// written. A retention of 0 purges every log file, pending files included.
// Raises only before anything was applied.
int ChangeLogLife(uint32_t nDays);
