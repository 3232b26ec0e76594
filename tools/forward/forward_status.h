// The status file of a forwarder, for monitoring: the forwarder replaces it
// every kStatusMilliseconds and at its end, beside its checkpoint
// ("CHECKPOINT.status"), and `vardlix forward --status` prints it. One JSON
// object on one line:
//
//   {"folder":"/opt/app/bin/serverLog","to":"relp://logs.example:2514",
//    "updated":"2026-12-08T13:30:01Z","running":true,
//    "connected_since":"2026-12-08T13:00:00Z","last_sent":"20261208-517",
//    "last_sent_time":"2026-12-08T14:29:59","checkpoint":{"file":
//    "Vardlix20261208.xml","records":517},"waiting":0,"done":517,
//    "last_error":"connection to ... lost (...)","last_error_at":"..."}
//
// "connected_since" is null while the collector is away; "last_sent" is
// the record="DAY-N" of the last record handed over, "waiting" the records
// read and not yet done; "running" is false in the file a forwarder leaves
// at its end. Times with a Z are UTC; "last_sent_time" is the record's own.
#pragma once

#include <cstdint>
#include <string>

#include "forward/forward_checkpoint.h"

constexpr int64_t kStatusMilliseconds = 1000;

struct CForwardStatus {
  std::string m_strFolder;
  std::string m_strTarget;
  bool m_bRunning = true;
  int64_t m_nConnectedSince = -1;  // seconds since 1970, UTC; -1 while not connected
  std::string m_strLastSent;       // RecordKey of the last record handed over; empty: none yet
  std::string m_strLastSentTime;   // its time, ISO 8601
  CForwardCheckpoint m_checkpoint;
  uint64_t m_nWaiting = 0;
  uint64_t m_nDone = 0;
  std::string m_strLastError;
  int64_t m_nLastErrorAt = -1;  // seconds since 1970, UTC
};

std::string StatusPathOf(const std::string& strStatePath);
// Seconds since 1970 of the clock now.
int64_t WallSeconds();

// Replaces the status file (ReplaceStateFile); false, with the reason.
bool WriteForwardStatus(const std::string& strPath, const CForwardStatus& status, std::string& strError);
// The file's line as it stands; false, with the reason, when there is none.
bool ReadForwardStatus(const std::string& strPath, std::string& strLine, std::string& strError);
