// The daily log files: one XML document per day, root "日志", one "记录"
// with six fields per call of WriteVardlix.
#pragma once

#include <string>
#include <string_view>

#include "host_record.h"
#include "platform_files.h"

// Makes sure the day's file at strPath exists. A missing file is created
// (only if it still does not exist: an existing file is never emptied) with
// the declaration and the empty root "日志", and appears whole or not at
// all. Returns false when it can't be.
bool EnsureDailyLogFile(const std::u16string& strPath);

// What the export WriteVardlix does with a record: appends it to its day's
// file after the records still waiting (pending_records.h). Nothing is
// written while the retention is 0, which is checked here, under the lock
// that SetLogLife takes too. The first record of a day is written together
// with its new file; a file that exists but holds nothing yet is started
// like a new one. A process that ends part-way leaves the file readable
// with or without the records (UpdateDocumentFile).
//
// While another program holds the day's file (or the settings file that the
// load could not read), the call waits for it at most kShareWaitMilliseconds
// without progress, and not at all while records are waiting already: the
// record is kept for a later call. A record that cannot be written for any
// other reason (no room on the disk, no right to create the file) is
// dropped. Serialised with every other operation on the library's files.
// Raises std::bad_alloc.
void AppendLogRecord(CHostRecord&& record);
// The same for five texts stamped with the clock's current value.
void AppendLogRecord(const char16_t* szType, const char16_t* szLocation, const char16_t* szOperation,
                     const char16_t* szParameters, const char16_t* szDescription);

// What an interrupted update leaves behind the text of a day's file (see
// UpdateDocumentFile): a zero unit, perhaps followed by part of the new text.
// The library's reader stops at that unit; other readers of XML reject the
// file until the next update of that day cuts it, which for a day that is
// over never comes. So the load cuts it from the files of today and
// yesterday, wherever the text before the zero unit is a whole log whose top
// element is "日志"; anything else stays as it is. Nothing waits for another
// program: a file held elsewhere is left for CutDeferredInterruptedUpdates.
// The caller holds LockFileOperations.
void CutInterruptedUpdates();
// The same for the files that CutInterruptedUpdates found held, as far as
// they can be opened now without waiting; each export calls it until none
// is left. The caller holds LockFileOperations.
void CutDeferredInterruptedUpdates();

// Writes the records that are waiting, day by day, oldest first, as far as
// their files can be opened now. The caller holds LockFileOperations.
void WritePendingRecords(FileWait nWait);
// Forgets the records that are waiting (logging was switched off, or the
// test that left them is over). The caller holds LockFileOperations.
void DiscardPendingRecords();
// How many records are waiting. The caller holds LockFileOperations.
size_t CountPendingRecords();
