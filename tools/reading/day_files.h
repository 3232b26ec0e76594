// The files of a log folder: which of them are day logs, which day a command
// line argument names, and today's date.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_files.h"
#include "reading/time_stamp.h"

// "Vardlix" + yyyymmdd + ".xml" for a valid date; anything else is not the
// name of a day's log, even when the purge would still delete it.
bool ParseDayFileName(std::string_view strName, CDay& day);
std::string DayFileName(const CDay& day);

// Local date of the clock's current value.
CDay Today();
// Local date and time of a time value, "yyyy-mm-dd hh:mm:ss".
std::string FormatLocalTime(int64_t nTime);

struct CFolderEntry {
  std::string m_strName;  // file name, UTF-8
  std::string m_strPath;  // JoinPath(folder, name)
  CFileStatus m_status;   // as read right after the listing
  bool m_bHasStatus = false;
};

// Plain files of a folder (no subfolders), in name order. False when the
// folder can't be listed.
bool ListFolder(const std::string& strFolder, std::vector<CFolderEntry>& aEntries);

// Whether strFolder names an existing folder.
bool IsFolder(const std::string& strFolder);

// The file an argument of show names: "today", "yesterday", a date
// (yyyymmdd, yyyy-mm-dd, yyyy.mm.dd) in the folder, or a path of a file; a
// bare file name that is not found where the tool runs is looked for in the
// folder. Otherwise a one-line reason: no such file, or a date that does
// not exist (a mistake of the command line, not of the folder).
enum DayArgument : int {
  dayArgumentFound,
  dayArgumentMissing,
  dayArgumentBadDate,
};
DayArgument ResolveDayArgument(const std::string& strArgument, const std::string& strFolder, const CDay& today,
                               std::string& strPath, std::string& strError);

// The forms a day is given in, for help texts and messages.
extern const char kDayForms[];
