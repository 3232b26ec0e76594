// The format of the files the library keeps: every fact that a reader of the
// log folder needs, the library and the vardlix tool alike. A change of the
// stored format is a change of this file (and of log_layout.cpp).
//
// The log folder holds:
//  - one day's file per day, "Vardlix" + yyyymmdd + ".xml": UTF-16LE with a
//    byte-order mark (document_file.h), the declaration, the root "日志" and
//    one "记录" per call with the six fields of kRecordFields in order;
//  - the hidden settings file "SettingInfo.xml": the root "配置信息" with
//    "日志保留天数", the retention in days;
//  - while a day's file is held by another program, a pending file of that
//    day, the day's name with ".pending" for ".xml": the same format as a
//    day's file, holding the records that wait to be moved into it
//    (pending_log.h);
//  - while that pending file is held too, or something else stands at its
//    name, a process's own pending file of the day, "Vardlix" + yyyymmdd +
//    "." + process number + ".pending", in the same format: only that
//    process adds to it, so no other writer can keep its records out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CXmlDocument;

// ---------------------------------------------------------------------------
// File names
// ---------------------------------------------------------------------------

// Every file whose name begins with this (case-sensitive) is a log file to
// the purge, whatever follows.
constexpr std::u16string_view kLogFilePrefix = u"Vardlix";
constexpr std::u16string_view kLogFileExtension = u".xml";
constexpr std::u16string_view kSettingsFileName = u"SettingInfo.xml";

// Name of the log file of a day: prefix + date stamp + ".xml".
std::u16string MakeDailyLogName(std::u16string_view strDateStamp);
// Name of the pending file of a day: prefix + date stamp + ".pending". It
// starts with the log file prefix, so the purge ages it out like any log
// file, and it is not found by those who look for "Vardlix*.xml".
constexpr std::u16string_view kPendingLogExtension = u".pending";
std::u16string MakePendingLogName(std::u16string_view strDateStamp);
// Name of a process's own pending file of a day: prefix + date stamp + "." +
// the process number in decimal + ".pending".
std::u16string MakeOwnPendingLogName(std::u16string_view strDateStamp, uint32_t nProcess);
// The date stamp of a pending file's name, the day's or a process's own;
// false for any other name. *pnProcess, when given, receives the process
// number of an own pending file, and 0 for the day's.
bool ParsePendingLogName(std::u16string_view strName, std::u16string& strDateStamp, uint32_t* pnProcess = nullptr);
// True for a name the purge counts as a log file.
bool IsLogFileName(std::u16string_view strName);

// ---------------------------------------------------------------------------
// Document text
// ---------------------------------------------------------------------------

// The XML declaration every document file starts with, CR LF included.
constexpr std::u16string_view g_strXmlDeclaration = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n";

constexpr char16_t kLogRoot[] = u"日志";
constexpr char16_t kRecordElement[] = u"记录";
constexpr size_t kRecordFieldCount = 6;
// The children of every record, in their order: time, type, location,
// operation, parameters, description.
constexpr const char16_t* kRecordFields[kRecordFieldCount] = {u"时间", u"类型", u"位置", u"操作", u"参数", u"描述"};

// The move note of a pending file (pending_log.h) and its children; "首条"
// stands only in the notes of a move made in pieces.
constexpr char16_t kMoveNoteElement[] = u"迁移";
constexpr char16_t kMoveFirstElement[] = u"首条";
constexpr char16_t kMoveRecordsElement[] = u"记录数";
constexpr char16_t kMoveOffsetElement[] = u"起点";
constexpr char16_t kMoveLengthElement[] = u"长度";
constexpr char16_t kMoveChecksumElement[] = u"校验";

constexpr char16_t kSettingsRoot[] = u"配置信息";
constexpr char16_t kLogLifeElement[] = u"日志保留天数";

// Whether a parsed document is a day's log: its top element is "日志".
bool IsLogDocument(const CXmlDocument& doc);

// The data of the settings document's "日志保留天数": the first one among the
// children of a top-level "配置信息", or else a top-level one; empty when
// there is none. Leaves the document's position where the lookup ended.
std::u16string FindLogLifeData(CXmlDocument& doc);

// ---------------------------------------------------------------------------
// Retention
// ---------------------------------------------------------------------------

// Retention in days where the settings file says nothing else.
constexpr int32_t kDefaultLogLife = 7;
// Largest retention SetLogLife accepts, in days.
constexpr uint32_t kMaxLogLife = 36500;
// Seconds in one day of a log file's age.
constexpr int64_t kSecondsPerDay = 86400;

// Retention that the data of "日志保留天数" gives: decimal text read like the
// runtime's wide atoi (leading white space, a sign, digits up to the first
// other character; saturated at the int32 limits). A positive number is
// taken, a negative one gives 0, and a zero gives 0 only when the data is
// exactly "0"; other data that reads as zero (empty, "00", " 0", words)
// gives the default 7.
int32_t ParseLogLife(std::u16string_view strData);

// The purge's decision for one file: true when a file created at nCreated
// is expired at nNow under a retention of nLogLife days, that is, when its
// age in whole days (truncated toward zero) is at least nLogLife.
bool IsLogExpired(int64_t nNow, int64_t nCreated, int32_t nLogLife);

// ---------------------------------------------------------------------------
// The log folder
// ---------------------------------------------------------------------------

// Log folder for a host executable path, Windows rule: everything before the
// last "." of the whole path, then "Log" (no "." at all gives "Log").
std::u16string DeriveLogFolderWindows(std::u16string_view strExePath);
// POSIX rule: only the file name's extension is cut, so a path without one
// keeps its full name: "/opt/app/bin/server" gives "/opt/app/bin/serverLog".
// A name's leading "." starts a hidden name, not an extension.
std::u16string DeriveLogFolderPosix(std::u16string_view strExePath);
// The rule of the platform this is built for.
std::u16string DeriveLogFolder(std::u16string_view strExePath);
