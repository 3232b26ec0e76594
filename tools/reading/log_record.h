// One record of a daily log, as the tool reads, filters and prints it.
#pragma once

#include <array>
#include <string>

#include "format/log_layout.h"
#include "reading/local_time.h"

// The six child elements of a "记录", in the order the library writes them.
enum RecordField : int {
  fieldTime,
  fieldType,
  fieldLocation,
  fieldOperation,
  fieldParameters,
  fieldDescription,
  kFieldCount,
};

// Element names in the file (UTF-16) and the English names used for the
// columns and the keys of the machine-readable formats.
constexpr const char16_t* const* kFieldElementNames = kRecordFields;
static_assert(kFieldCount == static_cast<int>(kRecordFieldCount), "one field of a record per element");
extern const char* const kFieldEnglishNames[kFieldCount];

struct CLogRecord {
  std::array<std::string, kFieldCount> m_aField;  // decoded data, UTF-8
  std::string m_strMarkup;                        // the record's XML as it stands in the file, UTF-8
  std::string m_strFile;                          // name of the day file it came from
  int64_t m_nUtcOffset = kNoUtcOffset;            // of its time, when the reader gave it one (CRecordClock)
};
