#include "forward/syslog_message.h"

#include <array>

#include "platform/unicode_text.h"
#include "reading/day_files.h"
#include "reading/local_time.h"
#include "reading/time_stamp.h"

const char kDefaultStructuredDataId[] = "vardlix@32473";

namespace {

bool IsPrintableAscii(char c) { return c >= 33 && c <= 126; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(const std::string& strA, const std::string& strB) {
  if (strA.size() != strB.size()) return false;
  for (size_t i = 0; i < strA.size(); ++i) {
    if (LowerAscii(strA[i]) != LowerAscii(strB[i])) return false;
  }
  return true;
}

// A whole number of at most nMaxDigits digits, or -1.
int ParseSmallNumber(const std::string& strText, size_t nMaxDigits) {
  if (strText.empty() || strText.size() > nMaxDigits) return -1;
  int nValue = 0;
  for (char c : strText) {
    if (c < '0' || c > '9') return -1;
    nValue = nValue * 10 + (c - '0');
  }
  return nValue;
}

// PARAM-VALUE: '"', '\' and ']' are the three characters the RFC escapes.
bool IsEscaped(char c) { return c == '"' || c == '\\' || c == ']'; }

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// How the characters of a value are written: '"', '\' and ']' escaped in a
// parameter value, and line breaks as "#015" and "#012" where messages end
// at a line feed.
struct CEncoding {
  bool m_bParamValue = false;
  bool m_bLineBreaks = false;
};

size_t EncodedSize(char c, const CEncoding& encoding) {
  if (encoding.m_bLineBreaks && IsLineBreak(c)) return 4;
  return encoding.m_bParamValue && IsEscaped(c) ? 2 : 1;
}

size_t EncodedSize(const std::string& strValue, const CEncoding& encoding) {
  size_t nSize = 0;
  for (char c : strValue) nSize += EncodedSize(c, encoding);
  return nSize;
}

void AppendEncoded(std::string& strOut, const std::string& strValue, const CEncoding& encoding) {
  for (char c : strValue) {
    if (encoding.m_bLineBreaks && IsLineBreak(c)) {
      strOut += c == '\r' ? "#015" : "#012";
      continue;
    }
    if (encoding.m_bParamValue && IsEscaped(c)) strOut += '\\';
    strOut += c;
  }
}

// Shortens a UTF-8 text by at least nExcess octets of the message, counting
// how each character is written, without splitting a character.
void CutUtf8(std::string& strText, size_t nExcess, const CEncoding& encoding) {
  size_t nKeep = strText.size(), nRemoved = 0;
  while (nKeep > 0 && nRemoved < nExcess) {
    --nKeep;
    nRemoved += EncodedSize(strText[nKeep], encoding);
  }
  while (nKeep > 0 && IsUtf8Continuation(static_cast<unsigned char>(strText[nKeep]))) --nKeep;
  strText.resize(nKeep);
}

// The values of a message that cutting may shorten, and the rest.
struct CMessageParts {
  std::string m_strHeader;  // "<PRI>1 TIMESTAMP HOSTNAME APP-NAME - MSGID"
  std::string m_strFile;
  std::string m_strRecord;     // RecordKey; empty when not sent
  std::string m_strTruncated;  // octets before cutting; empty when uncut
  // description, parameters, operation, location, type, and the stamp when
  // TIMESTAMP could not carry it: the order in which the longest is cut
  // first when two are equally long
  std::array<std::string, 6> m_aValues;
};

enum CutValue : size_t { cutDescription, cutParameters, cutOperation, cutLocation, cutType, cutUnreadTime };

CEncoding EncodingOf(size_t iValue, const CSyslogSettings& settings) {
  return CEncoding{iValue != cutDescription, settings.m_bEscapeLineBreaks};
}

std::string Assemble(const CMessageParts& parts, const CSyslogSettings& settings) {
  std::string strOut = parts.m_strHeader + " [" + settings.m_strStructuredDataId;
  const std::pair<const char*, const std::string*> aParams[] = {
      {"type", &parts.m_aValues[cutType]},
      {"location", &parts.m_aValues[cutLocation]},
      {"operation", &parts.m_aValues[cutOperation]},
      {"parameters", &parts.m_aValues[cutParameters]},
      {"file", &parts.m_strFile},
      {"record", &parts.m_strRecord},
      {"time", &parts.m_aValues[cutUnreadTime]},
      {"truncated", &parts.m_strTruncated},
  };
  const CEncoding param = EncodingOf(cutParameters, settings);
  for (const auto& [szName, pValue] : aParams) {
    const std::string strName = szName;
    const bool bOptional = strName == "record" || strName == "time" || strName == "truncated";
    if (bOptional && pValue->empty()) continue;
    strOut += ' ';
    strOut += szName;
    strOut += "=\"";
    AppendEncoded(strOut, *pValue, param);
    strOut += '"';
  }
  strOut += ']';
  const std::string& strDescription = parts.m_aValues[cutDescription];
  if (!strDescription.empty()) {
    strOut += ' ';
    if (settings.m_bByteOrderMark) strOut += "\xEF\xBB\xBF";
    AppendEncoded(strOut, strDescription, EncodingOf(cutDescription, settings));
  }
  return strOut;
}

}  // namespace

std::string HeaderValue(const std::string& strValue, size_t nMaxLength) {
  if (strValue.empty() || strValue.size() > nMaxLength) return "-";
  for (char c : strValue) {
    if (!IsPrintableAscii(c)) return "-";
  }
  return strValue;
}

bool IsPrivateStructuredDataId(const std::string& strId) {
  if (strId.empty() || strId.size() > kMaxStructuredDataNameLength) return false;
  for (char c : strId) {
    if (!IsPrintableAscii(c) || c == '=' || c == ']' || c == '"') return false;
  }
  const size_t nAt = strId.find('@');
  if (nAt == 0 || nAt == std::string::npos) return false;
  const std::string strNumber = strId.substr(nAt + 1);
  return !strNumber.empty() && strNumber.find_first_not_of("0123456789") == std::string::npos;
}

int ParseSeverity(const std::string& strName) {
  static const char* const kNames[][2] = {{"emerg", "emergency"},    {"alert", "alert"},  {"crit", "critical"},
                                          {"err", "error"},          {"warning", "warn"}, {"notice", "notice"},
                                          {"info", "informational"}, {"debug", "debug"}};
  for (int i = 0; i < 8; ++i) {
    if (EqualsIgnoringAsciiCase(strName, kNames[i][0]) || EqualsIgnoringAsciiCase(strName, kNames[i][1])) return i;
  }
  const int nNumber = ParseSmallNumber(strName, 1);
  return nNumber <= 7 ? nNumber : -1;
}

int ParseFacility(const std::string& strName) {
  if (EqualsIgnoringAsciiCase(strName, "user")) return 1;
  if (EqualsIgnoringAsciiCase(strName, "daemon")) return 3;
  if (strName.size() == 6 && EqualsIgnoringAsciiCase(strName.substr(0, 5), "local") && strName[5] >= '0' &&
      strName[5] <= '7') {
    return 16 + (strName[5] - '0');
  }
  const int nNumber = ParseSmallNumber(strName, 2);
  return nNumber <= 23 ? nNumber : -1;
}

int SeverityOfType(const std::string& strType, const CSyslogSettings& settings) {
  for (const auto& [strName, nSeverity] : settings.m_aSeverities) {
    if (EqualsIgnoringAsciiCase(strType, strName)) return nSeverity;
  }
  static const std::pair<const char*, int> kBuiltIn[] = {
      {"Error", severityError},  {"错误", severityError},         {"Warning", severityWarning},
      {"警告", severityWarning}, {"Info", severityInformational}, {"信息", severityInformational},
      {"Debug", severityDebug},  {"调试", severityDebug},
  };
  for (const auto& [szName, nSeverity] : kBuiltIn) {
    if (EqualsIgnoringAsciiCase(strType, szName)) return nSeverity;
  }
  return severityNotice;
}

std::string FormatSyslogTime(const std::string& strRecordStamp, int64_t nUtcOffset) {
  CStamp stamp;
  if (!ParseRecordStamp(strRecordStamp, stamp)) return "-";
  int64_t nOffset = nUtcOffset;
  if (nOffset == kNoUtcOffset && !LocalOffset(LocalSeconds(stamp), nOffset)) return "-";
  return FormatOffsetTime(stamp, nOffset);
}

std::string RecordKey(const std::string& strDayFile, uint64_t nNumber) {
  CDay day;
  if (!ParseDayFileName(strDayFile, day)) return std::string();
  return FormatDayStamp(day) + "-" + std::to_string(nNumber);
}

std::string FormatSyslogMessage(const CLogRecord& record, const CSyslogSettings& settings, bool& bCut,
                                uint64_t nNumber) {
  bCut = false;
  const std::string& strType = record.m_aField[fieldType];
  const std::string strTime = FormatSyslogTime(record.m_aField[fieldTime], record.m_nUtcOffset);
  CMessageParts parts;
  parts.m_strHeader = "<" + std::to_string(settings.m_nFacility * 8 + SeverityOfType(strType, settings)) + ">1 " +
                      strTime + " " + settings.m_strHostName + " " + settings.m_strAppName + " - " +
                      HeaderValue(strType, kMaxMessageIdLength);
  parts.m_strFile = record.m_strFile;
  if (nNumber > 0) parts.m_strRecord = RecordKey(record.m_strFile, nNumber);
  parts.m_aValues = {record.m_aField[fieldDescription],
                     record.m_aField[fieldParameters],
                     record.m_aField[fieldOperation],
                     record.m_aField[fieldLocation],
                     strType,
                     strTime == "-" ? record.m_aField[fieldTime] : std::string()};
  std::string strMessage = Assemble(parts, settings);
  if (settings.m_nMaxSize == 0 || strMessage.size() <= settings.m_nMaxSize) return strMessage;

  bCut = true;
  parts.m_strTruncated = std::to_string(strMessage.size());
  // Each round cuts the longest value by what is still too much, or empties
  // it: the message fits after at most one round per value, unless the
  // header and the names alone are longer than the limit.
  for (size_t nRound = 0; nRound <= parts.m_aValues.size(); ++nRound) {
    strMessage = Assemble(parts, settings);
    if (strMessage.size() <= settings.m_nMaxSize) return strMessage;
    const size_t nExcess = strMessage.size() - settings.m_nMaxSize;
    size_t iLongest = cutDescription, nLongest = 0;
    for (size_t i = 0; i < parts.m_aValues.size(); ++i) {
      const size_t nSize = EncodedSize(parts.m_aValues[i], EncodingOf(i, settings));
      if (nSize > nLongest) {
        iLongest = i;
        nLongest = nSize;
      }
    }
    if (nLongest == 0) break;
    CutUtf8(parts.m_aValues[iLongest], nExcess, EncodingOf(iLongest, settings));
  }
  return std::string();
}
