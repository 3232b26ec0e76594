// What runs when the library is loaded into a host, and unloaded.
#pragma once

// The load: derives the log folder, reads or creates the settings, cuts what
// an interrupted update left behind the text of the day files of today and
// yesterday, moves the records that ended processes left in pending files
// into their day's files, and purges expired logs, waiting for no other
// program; no exception leaves it, and no file can make it fail. Called by
// the platform's load notification.
void RunLoadSequence() noexcept;

// The unload, and the end of the process. Records are on disk in their
// pending files already, except those that had to wait in memory because
// the day's file and the pending file they were due in were both held: these
// go to their files now, as far as those can be opened without waiting (the
// system's loader lock is held). Then, with bRelease, the memory of the
// library's state goes back (ReleaseLibraryState); not at the end of a
// Windows process, whose other threads were stopped wherever they were.
// Nothing happens while another thread is inside the library. Never raises.
void RunUnloadSequence(bool bRelease) noexcept;
