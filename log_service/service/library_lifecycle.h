// What runs when the library is loaded into a host.
#pragma once

// The load: derives the log folder, reads or creates the settings, cuts what
// an interrupted update left behind the text of the day files of today and
// yesterday, moves the records that ended processes left in pending files
// into their day's files, and purges expired logs, waiting for no other
// program; no exception leaves it, and no file can make it fail. Called by
// the platform's load notification.
//
// The unload writes nothing: every operation has closed its files before
// returning, and waiting records are in their pending files. It only gives
// back the memory of the library's state (ReleaseLibraryState).
void RunLoadSequence() noexcept;
