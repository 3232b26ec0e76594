// The DLL's load and unload notifications.
//
// There is no class framework to register with, so the load is the settings
// and the purge (RunLoadSequence) and the unload has nothing to end. Neither
// lets an exception out and no file can make the load fail, so the
// notification always reports success.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "library_frame.h"

// C linkage: the runtime's start-up code looks the function up by its plain
// name, and a C++ name would leave it calling its own empty default.
extern "C" BOOL WINAPI DllMain(HINSTANCE /* hInstance */, DWORD nReason, LPVOID pReserved) {
  switch (nReason) {
    case DLL_PROCESS_ATTACH:
      RunLoadSequence();
      break;
    case DLL_PROCESS_DETACH:
      // A process that is ending passes a non-null pReserved.
      RunUnloadSequence(pReserved != nullptr);
      break;
    default:
      // Thread attach and detach: the library keeps nothing per thread.
      break;
  }
  return TRUE;
}
