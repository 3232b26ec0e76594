// What runs when the library is loaded into a host and unloaded again.
#pragma once

// The load: derives the log folder, reads or creates the settings, cuts what
// an interrupted update left behind the text of the day files of today and
// yesterday, and purges expired logs, waiting for no other program; no
// exception leaves it, and no file can make it fail. Called by the
// platform's load notification.
void RunLoadSequence() noexcept;
// The unload: writes the records still waiting, with one attempt.
// bProcessEnding: the whole process is ending (exit), rather than the host
// unloading the library while it goes on running; nothing is touched then.
void RunUnloadSequence(bool bProcessEnding) noexcept;
