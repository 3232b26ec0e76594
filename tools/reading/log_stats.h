// What `vardlix stats` reports about a log folder: per day the records, the
// counts per type and the file size; the retention from the settings file;
// and which files the next purge deletes, and from when.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "format/log_layout.h"
#include "reading/time_stamp.h"

struct CRetention {
  int32_t m_nDays = kDefaultLogLife;
  std::string m_strSource;  // where the value comes from, for the report
};

struct CDayStats {
  std::string m_strName;  // file name
  CDay m_day;
  uint64_t m_nSize = 0;                                       // bytes
  size_t m_nRecords = 0;                                      // the file's and those waiting beside it
  size_t m_nWaiting = 0;                                      // of them in the day's pending file
  std::vector<std::pair<std::string, size_t>> m_aTypeCounts;  // by first appearance
  std::string m_strProblem;                                   // why it could not be read, if so
};

struct CPurgeCandidate {
  std::string m_strName;
  int64_t m_nCreated = 0;   // creation time, seconds since 1970 UTC
  int64_t m_nDue = 0;       // first moment at which a purge deletes it
  bool m_bExpired = false;  // the next purge deletes it, whenever it runs
};

struct CFolderStats {
  CRetention m_retention;
  std::vector<CDayStats> m_aDays;         // day logs, in date order
  std::vector<CPurgeCandidate> m_aPurge;  // every "Vardlix…" file, soonest first
};

// Reads the settings file of the folder the way the library reads it at load.
CRetention ReadRetention(const std::string& strFolder);

// Gathers everything for the report; nNow is the current time. False when
// the folder cannot be listed.
bool GatherFolderStats(const std::string& strFolder, int64_t nNow, CFolderStats& stats);

// When a file created at nCreated is first deleted by a purge under the
// retention, as the purge decides it (whole days since creation).
int64_t PurgeDueTime(int64_t nCreated, int32_t nLogLife);

// "in 2 d 3 h", "in 5 min", for the distance from nNow to nThen.
std::string FormatDistance(int64_t nNow, int64_t nThen);

void WriteFolderStats(const std::string& strFolder, const CFolderStats& stats, int64_t nNow, std::ostream& out);
