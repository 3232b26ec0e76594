#include "syslog_message.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "platform_files.h"
#include "time_stamp.h"

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

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t nYear, int nMonth, int nDay) {
  nYear -= nMonth <= 2 ? 1 : 0;
  const int64_t nEra = (nYear >= 0 ? nYear : nYear - 399) / 400;
  const int64_t nYearOfEra = nYear - nEra * 400;
  const int64_t nDayOfYear = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
  const int64_t nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
  return nEra * 146097 + nDayOfEra - 719468;
}

// A local date and time counted as if it were UTC.
int64_t SecondsOfCivil(int64_t nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond) {
  return DaysFromCivil(nYear, nMonth, nDay) * 86400 + nHour * 3600 + nMinute * 60 + nSecond;
}

// How far local time was ahead of UTC at the moment nTime.
bool OffsetAt(int64_t nTime, int64_t& nOffset) {
  std::tm local{};
  if (!ConvertToLocalTime(nTime, local)) return false;
  nOffset = SecondsOfCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                           local.tm_sec) -
            nTime;
  return true;
}

// The offset of the zone at the moment whose local time is nLocal. The
// offset of "now" would be wrong for a record from the other side of a
// change to or from summer time, so the moment is found first: an offset is
// right when the local time it leads back to is nLocal again. A time that
// the clocks skipped has no such offset; it gets the one before the change.
bool LocalOffset(int64_t nLocal, int64_t& nOffset) {
  int64_t nFirst = 0, nSecond = 0, nThird = 0;
  if (!OffsetAt(nLocal, nFirst) || !OffsetAt(nLocal - nFirst, nSecond)) return false;
  nOffset = nSecond;
  if (nSecond == nFirst) return true;
  if (!OffsetAt(nLocal - nSecond, nThird) || nThird != nSecond) nOffset = nFirst;
  return true;
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
  while (nKeep > 0 && (static_cast<unsigned char>(strText[nKeep]) & 0xC0) == 0x80) --nKeep;
  strText.resize(nKeep);
}

// The values of a message that cutting may shorten, and the rest.
struct CMessageParts {
  std::string m_strHeader;        // "<PRI>1 TIMESTAMP HOSTNAME APP-NAME - MSGID"
  std::string m_strFile;
  std::string m_strTruncated;     // octets before cutting; empty when uncut
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
      {"time", &parts.m_aValues[cutUnreadTime]},
      {"truncated", &parts.m_strTruncated},
  };
  const CEncoding param = EncodingOf(cutParameters, settings);
  for (const auto& [szName, pValue] : aParams) {
    const bool bOptional = std::string(szName) == "time" || std::string(szName) == "truncated";
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
  static const char* const kNames[][2] = {{"emerg", "emergency"}, {"alert", "alert"},   {"crit", "critical"},
                                          {"err", "error"},       {"warning", "warn"},  {"notice", "notice"},
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
      {"Error", severityError}, {"错误", severityError},         {"Warning", severityWarning},
      {"警告", severityWarning}, {"Info", severityInformational}, {"信息", severityInformational},
      {"Debug", severityDebug}, {"调试", severityDebug},
  };
  for (const auto& [szName, nSeverity] : kBuiltIn) {
    if (EqualsIgnoringAsciiCase(strType, szName)) return nSeverity;
  }
  return severityNotice;
}

std::string FormatSyslogTime(const std::string& strRecordStamp) {
  CStamp stamp;
  if (!ParseRecordStamp(strRecordStamp, stamp)) return "-";
  const int64_t nLocal =
      SecondsOfCivil(stamp.m_nYear, stamp.m_nMonth, stamp.m_nDay, stamp.m_nHour, stamp.m_nMinute, stamp.m_nSecond);
  int64_t nOffset = 0;
  if (!LocalOffset(nLocal, nOffset)) return "-";
  const int64_t nMinutes = (nOffset < 0 ? -nOffset : nOffset) / 60;
  char szText[40];
  std::snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", stamp.m_nYear, stamp.m_nMonth,
                stamp.m_nDay, stamp.m_nHour, stamp.m_nMinute, stamp.m_nSecond, nOffset < 0 ? '-' : '+',
                static_cast<int>(nMinutes / 60), static_cast<int>(nMinutes % 60));
  return szText;
}

std::string FormatSyslogMessage(const CLogRecord& record, const CSyslogSettings& settings, bool& bCut) {
  bCut = false;
  const std::string& strType = record.m_aField[fieldType];
  const std::string strTime = FormatSyslogTime(record.m_aField[fieldTime]);
  CMessageParts parts;
  parts.m_strHeader = "<" + std::to_string(settings.m_nFacility * 8 + SeverityOfType(strType, settings)) + ">1 " +
                      strTime + " " + settings.m_strHostName + " " + settings.m_strAppName + " - " +
                      HeaderValue(strType, kMaxMessageIdLength);
  parts.m_strFile = record.m_strFile;
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
