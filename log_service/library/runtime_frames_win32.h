// The DLL's unwind tables, made known to the unwinder its own code throws
// through (see runtime_frames_win32.cpp).
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#if defined(__SEH__)
// 64-bit code unwinds through the tables of the image's exception directory
// (.pdata, .xdata), which the system finds for any address by itself: no
// runtime keeps a registry of modules, so a second GCC runtime in the
// process (libgcc_s_seh-1.dll) has nothing of the DLL's to hold. There is
// nothing to register.
inline void RegisterOwnFrames(HMODULE) noexcept {}
inline void DeregisterOwnFrames() noexcept {}
#else

// At process attach, before the library raises anything: registers the
// module's unwind tables with the statically linked unwinder when the
// start-up code gave them to another one. Does nothing when they are known
// already, or when the module has no such tables.
void RegisterOwnFrames(HMODULE hModule) noexcept;
// At the unload: takes back what RegisterOwnFrames registered, if anything.
void DeregisterOwnFrames() noexcept;
#endif
