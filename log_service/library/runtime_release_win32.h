// What the statically linked runtime keeps per load of the DLL, given back
// when a running host unloads it (see runtime_release_win32.cpp).
#pragma once

// Called at process detach when the host unloads the DLL and goes on
// running: the module's last code, after the destructors of its globals,
// then gives back what the runtime would leave behind. Not called when the
// process is ending, whose other threads were stopped wherever they were,
// perhaps inside the runtime's locks.
void ReleaseRuntimeAtUnload() noexcept;
