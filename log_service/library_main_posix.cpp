// Load notification of the shared library on POSIX systems: the dynamic
// loader runs it when the library is loaded into the host. Everything it
// touches is made on first use or constant initialised (library_state.h).
// There is no unload notification: nothing is left to do then.
#include "library_lifecycle.h"

__attribute__((constructor)) static void OnLibraryLoad() {
  RunLoadSequence();
}
