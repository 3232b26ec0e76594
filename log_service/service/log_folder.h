// Where the library keeps its files: the log folder beside the host's
// executable, and the paths in it.
#pragma once

#include <string>
#include <string_view>

// Derives the log folder from the host's executable (DeriveLogFolder) and
// creates it; the fallback folder when the path cannot be had or the folder
// cannot be made.
std::u16string LocateLogFolder();

// LogFolder() + separator + strName.
std::u16string MakeLogPath(std::u16string_view strName);

// Makes the log folder again when it is gone (a cleanup tool removed it
// while the host runs); only the folder itself, as at load. True when it
// was made.
bool RecreateLogFolder();
