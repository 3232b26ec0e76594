#include "output/record_output.h"

#include "base/text_encoding.h"
#include "reading/local_time.h"

namespace {

// A spreadsheet takes a cell that begins with one of these for a formula
// (a tab or CR in front of one is skipped over by some).
bool StartsLikeFormula(std::string_view strField) {
  if (strField.empty()) return false;
  const char c = strField.front();
  return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

void AppendCsvField(std::string& strOut, std::string_view strField, bool bKeepFormulas) {
  // The leading apostrophe makes a spreadsheet show the cell as text.
  const char* szGuard = !bKeepFormulas && StartsLikeFormula(strField) ? "'" : "";
  if (strField.find_first_of(",\"\r\n") == std::string_view::npos) {
    strOut += szGuard;
    strOut += strField;
    return;
  }
  strOut += '"';
  strOut += szGuard;
  for (char c : strField) {
    if (c == '"') strOut += '"';
    strOut += c;
  }
  strOut += '"';
}

}  // namespace

void AppendJsonString(std::string& strOut, std::string_view strText) {
  static const char kHex[] = "0123456789abcdef";
  strOut += '"';
  size_t nRun = 0;  // start of the bytes not yet copied
  for (size_t i = 0; i < strText.size(); ++i) {
    const auto c = static_cast<unsigned char>(strText[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    strOut.append(strText.data() + nRun, i - nRun);
    nRun = i + 1;
    switch (c) {
      case '"':
        strOut += "\\\"";
        break;
      case '\\':
        strOut += "\\\\";
        break;
      case '\b':
        strOut += "\\b";
        break;
      case '\f':
        strOut += "\\f";
        break;
      case '\n':
        strOut += "\\n";
        break;
      case '\r':
        strOut += "\\r";
        break;
      case '\t':
        strOut += "\\t";
        break;
      default:
        strOut += "\\u00";
        strOut += kHex[c >> 4];
        strOut += kHex[c & 0xF];
    }
  }
  strOut.append(strText.data() + nRun, strText.size() - nRun);
  strOut += '"';
}

void AppendJsonLine(std::string& strOut, const CLogRecord& record) {
  // The form nlohmann::json's dump() gives the same object: keys in this
  // order, no blanks, UTF-8 kept, control characters escaped.
  strOut += "{\"";
  strOut += kFieldEnglishNames[fieldTime];
  strOut += "\":";
  AppendJsonString(strOut, FormatRecordTime(record.m_aField[fieldTime], record.m_nUtcOffset));
  // Seconds since 1970 for the tools that can't read an offset such as
  // "+00:00" (jq's fromdate): the stamp as UTC, less its offset.
  CStamp stamp;
  if (record.m_nUtcOffset != kNoUtcOffset && ParseRecordStamp(record.m_aField[fieldTime], stamp)) {
    strOut += ",\"epoch\":" + std::to_string(LocalSeconds(stamp) - record.m_nUtcOffset);
  }
  for (int i = fieldType; i < kFieldCount; ++i) {
    strOut += ",\"";
    strOut += kFieldEnglishNames[i];
    strOut += "\":";
    AppendJsonString(strOut, record.m_aField[i]);
  }
  strOut += ",\"file\":";
  AppendJsonString(strOut, record.m_strFile);
  strOut += "}\n";
}

void WriteJsonLine(const CLogRecord& record, std::ostream& out) {
  std::string strLine;
  AppendJsonLine(strLine, record);
  out.write(strLine.data(), static_cast<std::streamsize>(strLine.size()));
}

void WriteCsvHeader(std::ostream& out) {
  for (int i = 0; i < kFieldCount; ++i) out << kFieldEnglishNames[i] << ',';
  out << "file\r\n";
}

void AppendCsvRow(std::string& strOut, const CLogRecord& record, bool bKeepFormulas) {
  AppendCsvField(strOut, FormatRecordTime(record.m_aField[fieldTime], record.m_nUtcOffset), bKeepFormulas);
  for (int i = fieldType; i < kFieldCount; ++i) {
    strOut += ',';
    AppendCsvField(strOut, record.m_aField[i], bKeepFormulas);
  }
  strOut += ',';
  AppendCsvField(strOut, record.m_strFile, bKeepFormulas);
  strOut += "\r\n";
}

void WriteCsvRow(const CLogRecord& record, std::ostream& out, bool bKeepFormulas) {
  std::string strLine;
  AppendCsvRow(strLine, record, bKeepFormulas);
  out.write(strLine.data(), static_cast<std::streamsize>(strLine.size()));
}

void WriteXmlHead(std::ostream& out) {
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<" << ToUtf8(kLogRoot) << ">\r\n";
}

void WriteXmlTail(std::ostream& out) { out << "</" << ToUtf8(kLogRoot) << ">\r\n"; }

void WriteXml(const std::vector<CLogRecord>& aRecords, std::ostream& out) {
  const std::string strRoot = ToUtf8(kLogRoot);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<" << strRoot << ">\r\n";
  for (const auto& record : aRecords) out << record.m_strMarkup << "\r\n";
  out << "</" << strRoot << ">\r\n";
}
