// The DLL's unwind tables, made known to the unwinder its own code throws
// through (see runtime_frames_win32.cpp).
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// At process attach, before the library raises anything: registers the
// module's unwind tables with the statically linked unwinder when the
// start-up code gave them to another one. Does nothing when they are known
// already, or when the module has no such tables.
void RegisterOwnFrames(HMODULE hModule) noexcept;
// At the unload: takes back what RegisterOwnFrames registered, if anything.
void DeregisterOwnFrames() noexcept;
