// `vardlix forward` without its command line and its terminal: records read
// from the log folder go to the collector as syslog messages, and the
// checkpoint keeps up with what the collector has confirmed.
//
// At least once: a record leaves the queue only once the link confirms it
// (syslog_link.h), and the checkpoint never gets ahead of that. At most
// kForwardWindow records beyond the checkpoint are ever handed over, so a
// crash sends at most that many again on the next start.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "commands.h"
#include "forward_checkpoint.h"
#include "forward_source.h"
#include "syslog_link.h"

constexpr size_t kForwardWindow = 1000;
// A checkpoint is written when the window is full, when nothing is left to
// send, and at least this often while records keep coming.
constexpr int64_t kCheckpointMilliseconds = 1000;
// Records read ahead of the collector; more are read once it catches up.
constexpr size_t kReadAhead = 10000;

struct CForwardCounts {
  uint64_t m_nSent = 0;       // messages handed over, those sent again included
  uint64_t m_nConfirmed = 0;  // records the collector has confirmed
  uint64_t m_nResent = 0;     // messages handed over again after a break
  uint64_t m_nCut = 0;        // messages cut to fit a datagram
  size_t m_nBehind = 0;       // records read from the files, not yet confirmed
};

class CForwarder {
 public:
  // Fills in what the options leave to the forwarder: the machine's name,
  // the host program's name (from the folder's, unless options.m_strAppName
  // gives one), the datagram limit for UDP and the checkpoint's default path.
  CForwarder(const CForwardOptions& options, const CSyslogTarget& target);

  // Sets where reading begins: after the checkpoint, at the oldest day file
  // (--from-start), or, without a checkpoint, after what today's file holds
  // now; a new checkpoint says so at once. False, with a message, when the
  // checkpoint can't be read or written.
  bool Start(const CDay& today, std::string& strError);

  // One round: reads what the files gained, counts what the collector
  // confirmed, writes the checkpoint when due, and hands over as much as the
  // window allows. True when there is more to do at once (records waiting
  // for the window or for the collector's confirmation). nNow: milliseconds
  // of a steady clock.
  bool Step(const CDay& today, int64_t nNow);

  // Writes the checkpoint of what is confirmed, if it moved.
  void SaveCheckpoint(int64_t nNow);

  const CForwardCounts& Counts() const { return m_counts; }
  const std::string& StatePath() const { return m_strStatePath; }
  const CSyslogTarget& Target() const { return m_link.Target(); }
  bool IsConnected() const { return m_link.IsUp(); }

  // What the user should hear about (a broken connection, a file that can't
  // be read, a checkpoint that can't be written), one line each; empty
  // when nothing is new.
  std::vector<std::string> TakeMessages();

 private:
  void Confirm(size_t nCount);
  void HandOver(int64_t nNow);
  bool WriteConfirmed(std::string& strError);

  CForwardOptions m_options;
  CSyslogLink m_link;
  CRecordSource m_source;
  std::string m_strStatePath;
  std::deque<CQueuedRecord> m_aQueue;  // read and not confirmed, oldest first
  size_t m_nHandedOver = 0;            // of m_aQueue's front, handed over on this connection
  size_t m_nPastCheckpoint = 0;        // records confirmed after the one the checkpoint names
  size_t m_nEverSent = 0;              // of m_aQueue's front, handed over at some time (to count resends)
  CForwardCheckpoint m_confirmed;      // where the confirmed records end
  int64_t m_nCheckpointAt = 0;         // when it was written last
  bool m_bCheckpointFailed = false;    // its trouble was told
  CForwardCounts m_counts;
  std::vector<std::string> m_aMessages;
};
