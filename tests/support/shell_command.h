// A shell command run by a test on POSIX, for the standard tools it checks
// the library's files with (Python's XML parser, xmllint, nm, readelf).
#pragma once

#ifndef _WIN32
#include <cstdio>
#include <string>

// Runs strCommand through the shell; its standard output goes to
// strOutput. True when it exited with status 0.
inline bool RunCommand(const std::string& strCommand, std::string& strOutput) {
  FILE* pPipe = popen(strCommand.c_str(), "r");
  if (pPipe == nullptr) return false;
  char buffer[4096];
  strOutput.clear();
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pPipe)) > 0;) strOutput.append(buffer, n);
  return pclose(pPipe) == 0;
}
#endif
