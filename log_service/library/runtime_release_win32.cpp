// What the statically linked runtime leaves behind when the DLL is unloaded.
//
// The posix variant of MinGW links winpthreads into the DLL; libstdc++ and
// libgcc reach it through pthread_once, pthread keys (libgcc's emulated TLS,
// which holds the exception globals) and mutexes. The first time a thread
// of the DLL needs its pthread identity, winpthreads takes a TLS slot with
// TlsAlloc, and it gives each thread that it did not start a thread object:
// memory, an event and a duplicate of the thread's handle. It hands a thread
// object back when its thread ends (its TLS callback, thread detach) but
// never frees the slot, and when the DLL goes first it gives back nothing.
// Measured under Wine, each load and unload cost one TLS slot and two
// handles (an event and a thread): after about 1,080 cycles TlsAlloc failed,
// winpthreads called abort() and the host died. Each load also cost about
// 19 KB of heap: libstdc++'s emergency memory for exceptions, which it
// allocates at start-up and frees only on request.
//
// Hence the DLL is linked with --wrap for its import of TlsAlloc: every slot
// the runtime takes goes through RecordRuntimeSlot, which notes it. (The
// library's own code keeps nothing per thread and calls no TlsAlloc; a call
// of its own would be noted, and freed at unload, too.) When a running host
// unloads the DLL, the module's last code hands the unloading thread's
// thread object to winpthreads' own thread-detach callback, which closes the
// two handles; it then frees the noted slots and asks libstdc++ to free its
// emergency memory. What stays is about 250 bytes per cycle that winpthreads
// keeps in lists of its own (the thread object's memory, the state of
// mutexes that are never destroyed). Threads other than the unloading one
// that used the DLL and still run keep their thread objects: their handles
// close when the process ends.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "library/runtime_release_win32.h"

// The symbols of the import slot of TlsAlloc as the linker's --wrap names
// them (log_service/CMakeLists.txt): x86 symbols carry a leading "_" and
// stdcall's "@0", x86-64 symbols neither.
#if defined(_WIN64)
#define VARDLIX_REAL_TLSALLOC_IMPORT "__real___imp_TlsAlloc"
#define VARDLIX_WRAPPED_TLSALLOC_IMPORT "__wrap___imp_TlsAlloc"
#else
#define VARDLIX_REAL_TLSALLOC_IMPORT "___real__imp__TlsAlloc@0"
#define VARDLIX_WRAPPED_TLSALLOC_IMPORT "___wrap__imp__TlsAlloc@0"
#endif

extern "C" {
// The system's TlsAlloc, as the import that --wrap moved aside; its callers
// in the runtime reach RecordRuntimeSlot instead.
extern DWORD(WINAPI* const g_pSystemTlsAlloc)() __asm__(VARDLIX_REAL_TLSALLOC_IMPORT);
// winpthreads' TLS callback (its __dyn_tls_pthread), which the loader calls
// for every thread of the process that ends while the DLL is loaded.
extern PIMAGE_TLS_CALLBACK __xl_f;
// The module's own image: its handle.
extern IMAGE_DOS_HEADER __ImageBase;
}

namespace __gnu_cxx {
// libstdc++'s release of its emergency exception memory (eh_alloc.cc).
void __freeres() noexcept;
}  // namespace __gnu_cxx

namespace {

// winpthreads takes one slot per load; room for a few more in case a later
// runtime takes another. A slot beyond these stays taken, as it did before.
constexpr unsigned kMaxRuntimeSlots = 4;
DWORD g_aRuntimeSlots[kMaxRuntimeSlots];
std::atomic<unsigned> g_nRuntimeSlots{0};
// Set by a host's unload; a process that is ending keeps everything.
std::atomic<bool> g_bReleaseAtUnload{false};

DWORD WINAPI RecordRuntimeSlot() {
  const DWORD nSlot = g_pSystemTlsAlloc();
  if (nSlot != TLS_OUT_OF_INDEXES) {
    const unsigned nIndex = g_nRuntimeSlots.fetch_add(1);
    if (nIndex < kMaxRuntimeSlots) g_aRuntimeSlots[nIndex] = nSlot;
  }
  return nSlot;
}

void ReleaseRuntime() {
  if (!g_bReleaseAtUnload.load()) return;
  // The unloading thread leaves the thread runtime as if it ended: its key
  // destructors run and its thread object, event and thread handle go.
  __xl_f(&__ImageBase, DLL_THREAD_DETACH, nullptr /* reserved */);
  const unsigned nSlots = g_nRuntimeSlots.load();
  for (unsigned nIndex = 0; nIndex < nSlots && nIndex < kMaxRuntimeSlots; ++nIndex) {
    TlsFree(g_aRuntimeSlots[nIndex]);
  }
  // Nothing of the module throws any more.
  __gnu_cxx::__freeres();
}

// Runs among the C initializers, before any C++ constructor of the module.
// The start-up code's exit table runs in reverse order at process detach,
// so what is registered here runs last: after the destructors of the
// globals and the start-up code's own frame deregistration, which may still
// use the thread runtime.
void ScheduleRuntimeRelease() { std::atexit(&ReleaseRuntime); }

}  // namespace

extern "C" {
// The import slot that the runtime's calls of TlsAlloc read.
__attribute__((used))
DWORD(WINAPI* g_pRecordingTlsAlloc)() __asm__(VARDLIX_WRAPPED_TLSALLOC_IMPORT) = &RecordRuntimeSlot;
}

// .CRT$XC: the table of C initializers that the start-up code runs at
// process attach, in name order, before the module's constructors.
__attribute__((section(".CRT$XCB"), used)) static void (*g_pScheduleRuntimeRelease)() = &ScheduleRuntimeRelease;

void ReleaseRuntimeAtUnload() noexcept { g_bReleaseAtUnload.store(true); }
