// What an interrupted update leaves behind the text of a document file, and
// how the library cuts it.
//
// An update that a kill or a failed write stopped between its steps
// (document_update.cpp) leaves a zero unit behind the file's text, perhaps
// followed by part of the new text, or a journal of its commit at the file's
// end (commit_journal.h). The library's reader stops at the zero unit and
// puts back what a believed journal saved; other readers of XML reject the
// file until the remains are cut. The next update of that file cuts them,
// but a day that is over is never updated again, nor is a pending file whose
// records have moved, nor the settings file until the retention changes. So
// after a load the library looks at every file of the log folder: each day's
// file, each pending file and the settings file, whatever its day. Where the
// text before the zero unit (after a believed journal is rolled back) is a
// whole document with the file's own root ("日志", or "配置信息" for the
// settings), the file is cut there; anything else stays as it is, since
// nothing may be written over content that could not be read. A journal
// that does not fit its file is itself part of the remains.
//
// The load runs under the system's loader lock, which the host's other
// threads need: it only notes that the folder is to be looked at, and the
// first call of an export does the looking, reading each file in pieces
// (LocateUnreadBytes) so that a clean one costs one pass and no copy. A file
// that another program holds is not waited for; it is left for a later call.
#pragma once

// The load: notes that every file of the log folder is to be looked at. The
// caller holds LockFileOperations.
void NoteInterruptedUpdatesToCut();
// Cuts what interrupted updates left in the files still to be looked at, as
// far as they can be opened now without waiting; each export calls it until
// none is left. The caller holds LockFileOperations.
void CutDeferredInterruptedUpdates();
