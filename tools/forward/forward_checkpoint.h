// The checkpoint of `vardlix forward`: how far the records of a log folder
// have been handed over to the collector, so that a new start goes on after
// the last of them. It is a one-line JSON object:
//
//   {"file":"Vardlix20110408.xml","records":1234,"read":1300,
//    "time":"2011-04-08T09:05:03","folder":"/opt/app/bin/serverLog",
//    "to":"tcp://logs.example:514"}
//
// "file" and "records" say where to go on. "read" is how many records of
// that file the forwarder had read by then: when the purge takes the file
// before the rest is sent, that many less "records" are known to be lost.
// The rest is for people.
#pragma once

#include <cstdint>
#include <string>

struct CForwardCheckpoint {
  std::string m_strFile;    // day file of the last record handed over
  uint64_t m_nRecords = 0;  // records of that file handed over, from its first
  uint64_t m_nRead = 0;     // records of that file read, at least m_nRecords; 0 when not known
  std::string m_strTime;    // time of the last of them, ISO 8601
  std::string m_strFolder;  // the folder and the collector, as given
  std::string m_strTarget;
};

enum CheckpointRead : int {
  checkpointRead,
  checkpointMissing,
  checkpointBad,  // unreadable, or not a checkpoint (strError says which)
};

CheckpointRead ReadCheckpoint(const std::string& strPath, CForwardCheckpoint& checkpoint, std::string& strError);

// Replaces the checkpoint in one step (ReplaceStateFile); false, with the
// reason, when it could not be written.
bool WriteCheckpoint(const std::string& strPath, const CForwardCheckpoint& checkpoint, std::string& strError);

// Where the checkpoint goes unless --state says otherwise: in the log folder,
// named after the collector, so that forwarders to two collectors keep
// their own ("forward-tcp-logs.example-514.json"). The library's purge takes
// only names that begin with "Vardlix", so it leaves the file alone.
std::string DefaultCheckpointPath(const std::string& strFolder, const std::string& strScheme,
                                  const std::string& strHost, int nPort);
