// Load and unload notifications of the shared library on POSIX systems: the
// dynamic loader runs these when the library is loaded into the host and
// when it is unloaded (dlclose or process exit). Everything they touch is
// constructed before them (see library_state.cpp).
#include "library_lifecycle.h"

__attribute__((constructor)) static void OnLibraryLoad() {
  RunLoadSequence();
}

__attribute__((destructor)) static void OnLibraryUnload() {
  // dlclose and exit both come here; exit is not told apart.
  RunUnloadSequence(false);
}
