// Loading the library at run time the way a host loads it, for `vardlix
// write` and `vardlix life`: dlopen on POSIX (library_loader_posix.cpp),
// LoadLibraryW on Windows (library_loader_win32.cpp). Paths are UTF-8.
#pragma once

#include <string>
#include <vector>

// The library's file name: "libvardlix.so" or "Vardlix.dll".
extern const char kLibraryFileName[];

// Where the library is looked for when no path is given, in order, for a
// tool in strToolFolder (empty when that can't be had). POSIX: beside the
// tool, in ../lib beside it, then by name through the dynamic loader's own
// search (the tool's run path, LD_LIBRARY_PATH). Windows: beside the tool
// only, as a host keeps it; no other folder of the search path gets a say.
std::vector<std::string> LibraryCandidates(const std::string& strToolFolder);
// Those places in words, for the message when none loads.
extern const char kLibraryPlaces[];

// The loaded library, or null with the system's reason in strError.
void* LoadSharedLibrary(const std::string& strPath, std::string& strError);
// The address of an export, or null.
void* FindSharedExport(void* pLibrary, const char* szName);
void FreeSharedLibrary(void* pLibrary);
