// The reliability tests' view of a day's file: a strict check of its text
// (what a reader of the library takes for it, ReadLogView) against the exact
// layout the writer produces. Records are written with empty type,
// parameters and description; the location names the writer and the
// operation is the writer's sequence number.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/day_records.h"
#include "support/document_bytes.h"
#include "support/test_text.h"

struct CLoggedRecord {
  CLoggedRecord() = default;
  CLoggedRecord(std::u16string strWriter, std::u16string strSequence)
      : m_strWriter(std::move(strWriter)), m_strSequence(std::move(strSequence)) {}

  std::u16string m_strWriter;    // data of "位置"
  std::u16string m_strSequence;  // data of "操作"
  std::u16string m_strTime;      // data of "时间" where records differ in it
  bool operator==(const CLoggedRecord& other) const {
    return m_strWriter == other.m_strWriter && m_strSequence == other.m_strSequence;
  }
};

constexpr char16_t kLogDeclaration[] = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n";

// The eight lines of one record, as the writer lays them out.
inline std::u16string RecordText(const std::u16string& strTime, const CLoggedRecord& record) {
  return u"<记录>\r\n<时间>" + strTime + u"</时间>\r\n<类型/>\r\n<位置>" + record.m_strWriter + u"</位置>\r\n<操作>" +
         record.m_strSequence + u"</操作>\r\n<参数/>\r\n<描述/>\r\n</记录>\r\n";
}

// The whole text of a day's file holding these records, stamped strTime
// (or each with its own time when strTime is empty).
inline std::u16string LogText(const std::u16string& strTime, const std::vector<CLoggedRecord>& aRecords) {
  if (aRecords.empty()) return std::u16string(kLogDeclaration) + u"<日志/>\r\n";
  std::u16string strText = std::u16string(kLogDeclaration) + u"<日志>\r\n";
  for (const CLoggedRecord& record : aRecords)
    strText += RecordText(strTime.empty() ? record.m_strTime : strTime, record);
  return strText + u"</日志>\r\n";
}

// "yyyy.mm.dd hh:mm:ss" in digits.
inline bool IsTimeStamp(const std::u16string& strTime) {
  const std::u16string strForm = u"0000.00.00 00:00:00";
  if (strTime.size() != strForm.size()) return false;
  for (size_t i = 0; i < strForm.size(); ++i) {
    const bool bDigit = strTime[i] >= u'0' && strTime[i] <= u'9';
    if (strForm[i] == u'0' ? !bDigit : strTime[i] != strForm[i]) return false;
  }
  return true;
}

// Reads the records of a day's file whose text must be exactly what the
// writer makes of them (every record complete, every line in its place, the
// time stamps all strTime, or any time stamps when strTime is empty) and must
// parse. Returns false, with the reason in strWhy, for anything else.
inline bool ReadLoggedRecords(const std::u16string& strText, const std::u16string& strTime,
                              std::vector<CLoggedRecord>& aRecords, std::string& strWhy) {
  aRecords.clear();
  std::vector<RecordFields> aFields;
  std::u16string strError;
  if (!ReadDayRecords(strText, aFields, &strError)) {
    strWhy = "does not parse: " + Narrow(strError);
    return false;
  }
  for (const RecordFields& fields : aFields) {
    CLoggedRecord record(fields[2], fields[3]);
    record.m_strTime = fields[0];
    if (strTime.empty() && !IsTimeStamp(record.m_strTime)) {
      strWhy = "a record without a time stamp";
      return false;
    }
    aRecords.push_back(record);
  }
  // The records read back must give the very text the file holds: nothing
  // partial, nothing extra, no line out of place.
  if (LogText(strTime, aRecords) != strText) {
    strWhy = "text differs from the layout of its " + std::to_string(aRecords.size()) + " records";
    return false;
  }
  return true;
}
