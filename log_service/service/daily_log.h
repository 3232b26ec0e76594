// The daily log files: one XML document per day, root "日志", one "记录"
// with six fields per call of WriteVardlix, and the pending file of a day
// whose file another program held (pending_records.h).
#pragma once

#include <string>

#include "format/host_record.h"
#include "platform/platform_files.h"

// Makes sure the day's file at strPath exists. A missing file is created
// (only if it still does not exist: an existing file is never emptied) with
// the declaration and the empty root "日志", and appears whole or not at
// all. Returns false when it can't be.
bool EnsureDailyLogFile(const std::u16string& strPath);

// What WriteVardlix does with a record, once the retention is known and not
// 0: appends it to its day's file, behind the records that wait in the
// day's pending file, which go in first and exactly once. The first records
// of a day are written together with their new file; a file that exists but
// holds nothing yet is started like a new one. A process that ends part-way
// leaves the file readable with or without the records (UpdateDocumentFile).
//
// nWait tells whether another program that holds the day's file is waited
// for (see CFile::Open). When the day's file stays held, or cannot be
// written, the record goes into the day's pending file, to be moved in by
// a later call; it is dropped only when that cannot be written either, or
// when the day's file is not a log that can take records. The caller holds
// LockFileOperations.
void AppendLogRecord(const CHostRecord& record, FileWait nWait);
// Puts the record into its day's pending file without trying the day's
// file: the settings the load could not read may yet forbid writing (the
// purge that follows their reading then deletes it). The caller holds
// LockFileOperations.
void KeepPendingRecord(const CHostRecord& record);
// Whether records of the day strDate wait in its pending file.
bool HasPendingRecords(const std::u16string& strDate);

// Moves the waiting records of the days this process left in pending files,
// other than strSkipDate, as far as their day's files can be opened now.
// The caller holds LockFileOperations.
void MoveOwnPendingRecords(const std::u16string& strSkipDate, FileWait nWait);
// Moves the records of every pending file of the log folder into their
// day's files, without waiting for another program: the load, after a
// process that wrote them ended. The caller holds LockFileOperations.
void MoveAllPendingRecords();
