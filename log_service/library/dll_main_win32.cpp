// The DLL's load and unload notifications.
//
// There is no class framework to register with, so the load is the settings,
// the waiting records and the purge (RunLoadSequence), and the unload gives
// the records that wait in memory to their files (RunUnloadSequence). Neither
// lets an exception out and no file can make the load fail, so the
// notification always reports success. Around them the DLL puts its own
// runtime in order: its unwind tables with the unwinder it throws through
// (runtime_frames_win32.cpp), and what its static runtime would leave behind
// at each unload (runtime_release_win32.cpp).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "library/runtime_frames_win32.h"
#include "library/runtime_release_win32.h"
#include "service/library_lifecycle.h"
#include "service/library_state.h"

// C linkage: the runtime's start-up code looks the function up by its plain
// name, and a C++ name would leave it calling its own empty default.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD nReason, LPVOID pReserved) {
  switch (nReason) {
    case DLL_PROCESS_ATTACH:
      // Before the load sequence, whose purge raises and catches when a file
      // is held.
      RegisterOwnFrames(hInstance);
      RunLoadSequence();
      break;
    case DLL_PROCESS_DETACH: {
      // A process that is ending passes a non-null pReserved. Its other
      // threads were stopped wherever they were, perhaps inside the
      // unwinder's or the thread runtime's locks, and everything goes with
      // the process anyway: nothing is taken back then, and only records
      // that wait in memory (rarely any) are written.
      const bool bProcessEnding = pReserved != nullptr;
      RunUnloadSequence(!bProcessEnding);
      if (!bProcessEnding) {
        DeregisterOwnFrames();
        ReleaseRuntimeAtUnload();
      }
      break;
    }
    default:
      // Thread attach and detach: the library keeps nothing per thread.
      break;
  }
  return TRUE;
}
