// Puts back, after a test, what the tests of the log service change in the
// state the process keeps for the library.
#pragma once

#include <string>

#include "platform/platform_files.h"
#include "service/library_state.h"

// The real clock and host path again, and the library's own state as a
// fresh load has it, with strSavedFolder (the log folder the test found) as
// its log folder. A test that left settings unread must not hand them to
// the next one.
inline void ResetLibraryAfterTest(const std::u16string& strSavedFolder) {
  ResetClockForTesting();
  ResetHostPathForTesting();
  ResetLibraryStateForTesting(strSavedFolder);
}
