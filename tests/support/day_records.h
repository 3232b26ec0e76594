// The records of a day's text as the engine reads them back, for the tests
// that compare them with what was written.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "markup/markup.h"

// The six fields of a record in the file's order: time stamp, type,
// location, operation, parameters, description.
using RecordFields = std::array<std::u16string, 6>;
inline const char16_t* const kRecordFieldNames[6] = {u"时间", u"类型", u"位置", u"操作", u"参数", u"描述"};

// Every record of a day's text, each field as the engine reads it (empty
// where the record has none). False when the text does not parse or its top
// element is not the root "日志"; pstrError, when given, then says which.
inline bool ReadDayRecords(const std::u16string& strText, std::vector<RecordFields>& aRecords,
                           std::u16string* pstrError = nullptr) {
  CXmlDocument doc;
  const bool bParsed = doc.SetDocument(strText);
  if (!bParsed || !doc.FindNextElement(u"日志")) {
    if (pstrError != nullptr) *pstrError = bParsed ? u"no root 日志" : doc.GetParseError();
    return false;
  }
  doc.EnterElement();
  aRecords.clear();
  while (doc.FindNextElement(u"记录")) {
    doc.EnterElement();
    RecordFields aFields;
    for (size_t i = 0; i < aFields.size(); ++i) {
      if (doc.FindNextElement(kRecordFieldNames[i])) aFields[i] = doc.GetCurrentData();
    }
    aRecords.push_back(aFields);
    doc.LeaveElement();
  }
  return true;
}
