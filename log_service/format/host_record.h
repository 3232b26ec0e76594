// One record of a day's log as the host handed it over.
#pragma once

#include <cstdint>
#include <string>

// The record is complete the moment the host calls: its texts are copied out
// of the host's strings and it is stamped then, so that a record which waits
// for its file (see pending_records.h) keeps the time of its event and goes
// to the file of that day.
struct CHostRecord {
  std::u16string m_strDate;         // date stamp, names the day's file
  std::u16string m_strTime;         // time stamp, the "时间" field
  std::u16string m_strType;         // "类型"
  std::u16string m_strLocation;     // "位置"
  std::u16string m_strOperation;    // "操作"
  std::u16string m_strParameters;   // "参数"
  std::u16string m_strDescription;  // "描述"
};

// A record of the five texts, stamped with the local date and time of
// nTime. A null text is taken as empty. Raises std::bad_alloc.
CHostRecord MakeHostRecord(int64_t nTime, const char16_t* szType, const char16_t* szLocation,
                           const char16_t* szOperation, const char16_t* szParameters, const char16_t* szDescription);
