// Load and unload notifications of the shared library on POSIX systems: the
// dynamic loader runs them when the library is loaded into the host and when
// it is unloaded (dlclose, or the end of the process, which are not told
// apart here). Everything they touch is made on first use or constant
// initialised (library_state.h).
#include "service/library_lifecycle.h"
#include "service/library_state.h"

__attribute__((constructor)) static void OnLibraryLoad() { RunLoadSequence(); }

// Records that wait in memory go to their files where those are free; the
// rest are on disk already. The memory the library holds goes back, so that
// a host that loads and unloads it again and again loses none.
__attribute__((destructor)) static void OnLibraryUnload() { RunUnloadSequence(true); }
