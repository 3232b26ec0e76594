// The daily log files: one XML document per day, root "日志", one "记录"
// with six fields per call of WriteVardlix.
#pragma once

#include <string>
#include <string_view>

// Name of the log file of a day: "Vardlix" + date stamp + ".xml".
std::u16string MakeDailyLogName(std::u16string_view strDateStamp);

// Makes sure the day's file at strPath exists. A missing file is created
// (only if it still does not exist: an existing file is never emptied) with
// the declaration and the empty root "日志", and appears whole or not at
// all. Returns false when it can't be.
bool EnsureDailyLogFile(const std::u16string& strPath);

// What the export WriteVardlix does: appends one record with the time stamp
// and the five texts to the day's file. Nothing happens while the retention
// is 0. The first record of a day is written together with its new file; a
// file that exists but holds nothing yet is started like a new one. A record
// that cannot be written is dropped and leaves the file as it was, and a
// process that ends part-way leaves it readable with or without the record
// (UpdateDocumentFile). Serialised with every other operation on the
// library's files. Raises CFileException when reading or writing an open
// file fails, and std::bad_alloc.
void AppendLogRecord(const char16_t* szType, const char16_t* szLocation, const char16_t* szOperation,
                     const char16_t* szParameters, const char16_t* szDescription);
