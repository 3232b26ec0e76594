// One record as one syslog message (RFC 5424), for `vardlix forward`:
//
//   <PRI>1 TIMESTAMP HOSTNAME APP-NAME - MSGID [SD-ID type=".." location=".."
//     operation=".." parameters=".." file=".." record="DAY-N"] DESCRIPTION
//
// record="20110408-1234" names the record exactly (the 1234th of the day
// file of 8 April 2011), so that a collector can drop a message that a
// forwarder killed before its checkpoint sends again.
//
// The header fields take only printable ASCII of limited length; a value that
// does not fit is written as "-" (the RFC's NILVALUE), and the record's own
// values always travel in full in the structured data and the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "reading/log_record.h"

// The eight severities, by their numbers.
enum SyslogSeverity : int {
  severityEmergency = 0,
  severityAlert = 1,
  severityCritical = 2,
  severityError = 3,
  severityWarning = 4,
  severityNotice = 5,
  severityInformational = 6,
  severityDebug = 7,
};

// The SD-ID a message carries unless a site gives its own. 32473 is the
// private enterprise number set aside for examples and documentation, so
// the name clashes with no organisation's own.
extern const char kDefaultStructuredDataId[];

// Octets of a datagram unless --max-size says otherwise: what every receiver
// should accept over UDP.
constexpr size_t kDefaultDatagramSize = 2048;
// Octets of a message over TCP and RELP unless --max-size says otherwise:
// what rsyslog takes unless told more (maxMessageSize, and imrelp's
// maxDataSize, which defaults to it); it cuts longer ones itself.
constexpr size_t kDefaultStreamMessageSize = 8096;
// The smallest limit a message is cut to: what every IPv4 receiver must
// accept, and room for the header and the names of the parameters.
constexpr size_t kMinimumMessageSize = 480;
constexpr size_t kMaximumDatagramSize = 65507;         // largest UDP payload over IPv4
constexpr size_t kMaximumStreamMessageSize = 1 << 24;  // 16 MiB

// Limits of the header fields (printable ASCII, 33 to 126).
constexpr size_t kMaxHostNameLength = 255;
constexpr size_t kMaxAppNameLength = 48;
constexpr size_t kMaxMessageIdLength = 32;
constexpr size_t kMaxStructuredDataNameLength = 32;

struct CSyslogSettings {
  std::string m_strHostName = "-";  // HOSTNAME, already checked (HeaderValue)
  std::string m_strAppName = "-";   // APP-NAME, already checked
  std::string m_strStructuredDataId = kDefaultStructuredDataId;
  int m_nFacility = 1;  // user-level messages
  // TYPE=severity pairs given on the command line; looked up before the
  // built-in mapping, with the same comparison.
  std::vector<std::pair<std::string, int>> m_aSeverities;
  bool m_bByteOrderMark = false;     // MSG starts with EF BB BF
  bool m_bEscapeLineBreaks = false;  // CR and LF written as #015 and #012, as rsyslog shows them
  size_t m_nMaxSize = 0;             // octets of one message; 0: no limit
};

// The value itself when it is 1 to nMaxLength printable ASCII characters,
// else "-".
std::string HeaderValue(const std::string& strValue, size_t nMaxLength);

// Whether strId can stand as a site's SD-ID: NAME@NUMBER, at most 32
// printable ASCII characters without '=', ' ', ']' or '"'.
bool IsPrivateStructuredDataId(const std::string& strId);

// Severity names as syslog knows them ("err", "warning", ...) or a digit 0-7;
// -1 for anything else.
int ParseSeverity(const std::string& strName);
// Facility names ("user", "daemon", "local0" to "local7") or a number 0-23;
// -1 for anything else.
int ParseFacility(const std::string& strName);

// The severity of a record type: the settings' pairs first, then Error/错误
// err, Warning/警告 warning, Info/信息 info, Debug/调试 debug, and notice for
// any other type. Latin letters are compared without regard to case.
int SeverityOfType(const std::string& strType, const CSyslogSettings& settings);

// The record stamp "yyyy.mm.dd hh:mm:ss" as an RFC 3339 time with the UTC
// offset that the local time zone had at that moment
// ("2011-04-08T23:59:59+08:00"); "-" when the stamp does not read. A record
// whose reader gave it an offset (m_nUtcOffset, CRecordClock: the order of
// the records decides in the hour repeated when clocks go back) keeps it.
std::string FormatSyslogTime(const std::string& strRecordStamp, int64_t nUtcOffset = kNoUtcOffset);

// The value of record="..": the day of the record's file and its number in
// it, from 1 ("20110408-1234"); empty when the file is not a day file.
std::string RecordKey(const std::string& strDayFile, uint64_t nNumber);

// One record as a message. When settings.m_nMaxSize is set and the message
// would be longer, the longest of the description, parameters, operation,
// location, type and unread stamp is cut (at a character boundary) until it
// fits, and the structured data says so with truncated="N", N being the
// octets of the whole message uncut; bCut is then true. Empty when even the
// message with every value emptied is longer (a limit too small for the
// header): such a record cannot be sent. nNumber: the record's number in its
// day file, from 1, sent as record=".." (RecordKey); 0 leaves it out.
std::string FormatSyslogMessage(const CLogRecord& record, const CSyslogSettings& settings, bool& bCut,
                                uint64_t nNumber = 0);
