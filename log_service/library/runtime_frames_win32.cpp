// Which unwinder knows the DLL's unwind tables.
//
// The 32-bit MinGW runtime unwinds with DWARF-2 tables (.eh_frame) that each
// module registers with libgcc at start-up. The start-up code (crtbegin's
// frame registration) looks for the shared libgcc_s_dw2-1.dll first and, when
// the process has it (a MinGW- or Qt-built host), registers the DLL's tables
// there; only otherwise does it use the libgcc linked into the DLL. The DLL's
// own code always throws through that static copy, whose registry then held
// no table of the DLL: every exception the library raises and catches itself
// (a held file in the purge, a held temporary file) ended in std::terminate
// and took the host down (exit code 3). The DWARF-2 model assumes one libgcc
// per process, and the start-up code does not ask which one the module
// throws through.
//
// So at process attach the DLL asks its own unwinder whether it knows the
// DLL's code and, when it does not, registers the module's .eh_frame with it
// as well, from the section's start (the few entries of the start-up objects
// that lie before crtbegin's own mark come along, and do no harm). The
// section is the one that holds the entry the shared runtime finds for the
// DLL's code: its name, ".eh_frame", is longer than the eight characters of
// the image's section table, which then points into a string table that is
// not mapped. The shared runtime keeps the registration the start-up code
// made, which the start-up code also undoes. A host that loads the shared
// runtime only after the DLL finds the tables with the static copy already,
// and then nothing is added.
#include "library/runtime_frames_win32.h"

extern "C" {
// The frame registry of the libgcc linked into the DLL (unwind-dw2-fde.c).
// The object is storage that libgcc fills and keeps until deregistration.
void __register_frame_info(const void* pTables, void* pObject);
void* __deregister_frame_info(const void* pTables);
// libgcc's struct dwarf_eh_bases, filled by the lookup.
struct DwarfBases {
  void* m_pText;
  void* m_pData;
  void* m_pFunction;
};
// The unwind entry that covers pAddress, or null when no registered table
// does: the lookup the unwinder itself makes for every frame.
const void* _Unwind_Find_FDE(void* pAddress, DwarfBases* pBases);
}

namespace {

// libgcc's struct object is six or seven pointers; more room costs nothing.
alignas(void*) unsigned char g_aFrameObject[16 * sizeof(void*)];
// The tables this file registered; null when it registered none.
const void* g_pRegisteredTables = nullptr;

bool IsOwnCodeKnown() {
  DwarfBases bases{};
  return _Unwind_Find_FDE(reinterpret_cast<void*>(&IsOwnCodeKnown), &bases) != nullptr;
}

// The unwind entry that the shared runtime (libgcc_s_dw2-1.dll, the one
// name crtbegin looks for) finds for the DLL's code; null when the process
// has no such runtime or it does not know the code.
const void* FindEntryInSharedRuntime() {
  HMODULE hShared = GetModuleHandleW(L"libgcc_s_dw2-1.dll");
  if (hShared == nullptr) return nullptr;
  using FindEntryFunction = const void* (*)(void* pAddress, DwarfBases* pBases);
  const auto findEntry =
      reinterpret_cast<FindEntryFunction>(reinterpret_cast<void*>(GetProcAddress(hShared, "_Unwind_Find_FDE")));
  if (findEntry == nullptr) return nullptr;
  DwarfBases bases{};
  return findEntry(reinterpret_cast<void*>(&IsOwnCodeKnown), &bases);
}

// The start of the mapped module's .eh_frame section: the section that holds
// the entry the shared runtime has for the DLL's code.
const void* FindUnwindTables(HMODULE hModule) {
  const auto* pEntry = static_cast<const unsigned char*>(FindEntryInSharedRuntime());
  if (pEntry == nullptr) return nullptr;
  const auto* pImage = reinterpret_cast<const unsigned char*>(hModule);
  const auto* pDosHeader = reinterpret_cast<const IMAGE_DOS_HEADER*>(pImage);
  const auto* pHeaders = reinterpret_cast<const IMAGE_NT_HEADERS*>(pImage + pDosHeader->e_lfanew);
  const IMAGE_SECTION_HEADER* pSection = IMAGE_FIRST_SECTION(pHeaders);
  for (WORD nSection = 0; nSection < pHeaders->FileHeader.NumberOfSections; ++nSection, ++pSection) {
    const unsigned char* pStart = pImage + pSection->VirtualAddress;
    if (pEntry >= pStart && pEntry < pStart + pSection->Misc.VirtualSize) return pStart;
  }
  return nullptr;
}

}  // namespace

void RegisterOwnFrames(HMODULE hModule) noexcept {
  if (IsOwnCodeKnown()) return;
  const void* pTables = FindUnwindTables(hModule);
  if (pTables == nullptr) return;
  __register_frame_info(pTables, g_aFrameObject);
  g_pRegisteredTables = pTables;
  // Tables that still do not cover the DLL's code would only cost a lookup
  // on every throw: they are taken back.
  if (!IsOwnCodeKnown()) DeregisterOwnFrames();
}

void DeregisterOwnFrames() noexcept {
  if (g_pRegisteredTables == nullptr) return;
  __deregister_frame_info(g_pRegisteredTables);
  g_pRegisteredTables = nullptr;
}
