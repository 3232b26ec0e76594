#include "record_output.h"

#include <nlohmann/json.hpp>

#include "text_encoding.h"
#include "time_stamp.h"

namespace {

std::string QuoteCsv(const std::string& strField) {
  if (strField.find_first_of(",\"\r\n") == std::string::npos) return strField;
  std::string strOut = "\"";
  for (char c : strField) {
    if (c == '"') strOut += '"';
    strOut += c;
  }
  return strOut + '"';
}

}  // namespace

void WriteJsonLine(const CLogRecord& record, std::ostream& out) {
  nlohmann::ordered_json object;
  object[kFieldEnglishNames[fieldTime]] = FormatIsoTime(record.m_aField[fieldTime]);
  for (int i = fieldType; i < kFieldCount; ++i) object[kFieldEnglishNames[i]] = record.m_aField[i];
  object["file"] = record.m_strFile;
  // The fields are valid UTF-8 already; replacing guards the pipeline anyway.
  out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

void WriteCsvHeader(std::ostream& out) {
  for (int i = 0; i < kFieldCount; ++i) out << kFieldEnglishNames[i] << ',';
  out << "file\r\n";
}

void WriteCsvRow(const CLogRecord& record, std::ostream& out) {
  out << QuoteCsv(FormatIsoTime(record.m_aField[fieldTime]));
  for (int i = fieldType; i < kFieldCount; ++i) out << ',' << QuoteCsv(record.m_aField[i]);
  out << ',' << QuoteCsv(record.m_strFile) << "\r\n";
}

void WriteXml(const std::vector<CLogRecord>& aRecords, std::ostream& out) {
  const std::string strRoot = ToUtf8(kLogRoot);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<" << strRoot << ">\r\n";
  for (const auto& record : aRecords) out << record.m_strMarkup << "\r\n";
  out << "</" << strRoot << ">\r\n";
}
