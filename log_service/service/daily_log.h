// The daily log files: one XML document per day, root "日志", one "记录"
// with six fields per call of WriteVardlix, and the pending files of a day
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
// day's pending files, which go in first and exactly once. The first records
// of a day are written together with their new file; a file that exists but
// holds nothing yet is started like a new one. A process that ends part-way
// leaves the file readable with or without the records (UpdateDocumentFile).
//
// nWait tells whether another program that holds the day's file or one of
// its pending files is waited for (see CFile::Open). When the day's file
// stays held, or cannot be written, or a pending file of the day is held,
// the record goes into a pending file (AppendPendingRecord), to be moved in
// by a later call. When the pending file it must go to is held as well, it
// waits in memory (MoveHeldRecords), and so does every later record while
// one waits there. A record is lost only when no pending file can be
// written for a lasting reason (no right to write, no room, the bound), or
// when the day's file is not a log that can take records. The caller holds
// LockFileOperations.
void AppendLogRecord(const CHostRecord& record, FileWait nWait);
// Puts the record into a pending file (or memory, as above) without trying
// the day's file: the settings the load could not read may yet forbid
// writing (the purge that follows their reading then deletes it). The
// caller holds LockFileOperations.
void KeepPendingRecord(const CHostRecord& record);
// Gives the records that wait in memory, oldest first, to their day's
// files or pending files, without waiting for another program, as far as
// those can be opened now. Every call does it first; so does the unload,
// and the end of the process. The caller holds LockFileOperations.
void MoveHeldRecords();
// Whether records of the day strDate wait: in its pending file, in this
// process's own pending file of the day, or in memory.
bool HasPendingRecords(const std::u16string& strDate);

// Moves the waiting records of the days this process left in pending files,
// other than strSkipDate, as far as their day's files can be opened now.
// The caller holds LockFileOperations.
void MoveOwnPendingRecords(const std::u16string& strSkipDate, FileWait nWait);
// Moves the records of every pending file of the log folder, the days' own
// and those of processes that ended, into their day's files, without waiting
// for another program: the load. The caller holds LockFileOperations.
void MoveAllPendingRecords();
