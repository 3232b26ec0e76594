// `vardlix forward` without its command line and its terminal: records read
// from the log folder go to the collector as syslog messages, and the
// checkpoint keeps up with what the link is done with.
//
// At least once, as far as the transport can tell (syslog_link.h): a record
// leaves the queue only once the link is done with it (RELP: the collector
// answered it), and the checkpoint never gets ahead of that. At most
// kForwardWindow records beyond the checkpoint are ever handed over, so a
// crash sends at most that many again on the next start.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "forward/forward_checkpoint.h"
#include "forward/forward_options.h"
#include "forward/forward_source.h"
#include "forward/forward_status.h"
#include "forward/syslog_link.h"
#include "system/state_file.h"

constexpr size_t kForwardWindow = 1000;
// A checkpoint is written when the window is full, when nothing is left to
// send, and at least this often while records keep coming.
constexpr int64_t kCheckpointMilliseconds = 1000;
// Records read ahead of the collector; more are read once it catches up.
constexpr size_t kReadAhead = 10000;
// Records a second over UDP unless --rate says otherwise: a pace at which
// rsyslog with its default receive buffer takes a backlog whole, with room
// for a busy machine.
constexpr long kDefaultDatagramRate = 1000;
// How long the end waits for RELP's answer to close; a reopen waits longer,
// since a message left unanswered then is sent a second time.
constexpr int kShutdownMilliseconds = 1000;
constexpr int kReopenMilliseconds = 5000;

struct CForwardCounts {
  uint64_t m_nSent = 0;     // messages handed over, those sent again included
  uint64_t m_nDone = 0;     // records the link is done with (delivered, acknowledged, sent)
  uint64_t m_nResent = 0;   // messages handed over again after a break
  uint64_t m_nCut = 0;      // messages cut to fit the limit
  uint64_t m_nSkipped = 0;  // records that could not be sent at all
  uint64_t m_nPurged = 0;   // records the purge took before they were sent (as far as known)
  size_t m_nBehind = 0;     // records read from the files, not yet done
};

class CForwarder {
 public:
  // Fills in what the options leave to the forwarder: the machine's name,
  // the host program's name (from the folder's, unless options.m_strAppName
  // gives one), the message limit and pace of the transport and the
  // checkpoint's default path.
  CForwarder(const CForwardOptions& options, const CSyslogTarget& target);

  // Takes the checkpoint's lock and sets where reading begins: after the
  // checkpoint when there is one; without one, at the oldest day file, or
  // after what today's file holds now (--from-now); a new checkpoint says so
  // at once. A checkpoint whose day file the purge took is told as one
  // message (TakeMessages): the records known lost, and the days after it
  // that are gone. False, with a message, when the checkpoint is not a
  // regular file, is locked by another forwarder, or can't be read or
  // written.
  bool Start(const CDay& today, std::string& strError);

  // One round: reads what the files gained, counts what the link is done
  // with, writes the checkpoint when due, and hands over as much as the
  // window and the pace allow. True when there is more to do at once
  // (records waiting for the window, the pace or the collector). nNow:
  // milliseconds of a steady clock.
  bool Step(const CDay& today, int64_t nNow);

  // Writes the checkpoint of what is done, if it moved.
  void SaveCheckpoint(int64_t nNow);

  // Counts what the link is done with, handing nothing more over; true
  // while the link is up and messages handed over are not done yet. Called
  // before Reopen, so that nothing is sent twice.
  bool Settle(int64_t nNow);

  // Ends the connection as its protocol asks, writes the checkpoint, and
  // reads the folder again from the checkpoint on; the next Step connects
  // again. What a reopen request asks (SIGHUP).
  void Reopen(const CDay& today, int64_t nNow);

  // Ends the connection as its protocol asks, counts what was done
  // meanwhile and writes the last checkpoint, and the status file with
  // "running" false.
  void Finish(int64_t nNow);

  // Where the status file goes (forward_status.h): beside the checkpoint.
  std::string StatusPath() const { return StatusPathOf(m_strStatePath); }
  const std::string& Folder() const { return m_options.m_strFolder; }

  const CForwardCounts& Counts() const { return m_counts; }
  const std::string& StatePath() const { return m_strStatePath; }
  const CSyslogTarget& Target() const { return m_link.Target(); }
  bool IsConnected() const { return m_link.IsUp(); }
  std::string DoneWords() const { return m_link.DoneWords(); }
  // Why the last checkpoint write failed; empty when it did not (the
  // checkpoint is then up to date with what is done).
  const std::string& CheckpointTrouble() const { return m_strCheckpointTrouble; }

  // What the user should hear about (a broken connection, a file that can't
  // be read, a record skipped, a checkpoint that can't be written), one line
  // each; empty when nothing is new.
  std::vector<std::string> TakeMessages();

 private:
  void Done(size_t nCount);
  void BeginAtCheckpoint(const CForwardCheckpoint& checkpoint, const CDay& today);
  void TellPurgedDays(const CForwardCheckpoint& checkpoint, const CDay& today);
  void NoteRead(size_t nFrom);
  void HandOver(int64_t nNow);
  bool TakeToken(int64_t nNow);
  void SkipRecord(const CQueuedRecord& queued, bool bAgain, const std::string& strWhy);
  bool WriteDone(std::string& strError);
  void Note(std::string strMessage, bool bError);
  void WatchConnection(const CLinkReport& report, int64_t nNow);
  void WriteStatus(int64_t nNow, bool bRunning);

  CForwardOptions m_options;
  CSyslogLink m_link;
  CRecordSource m_source;
  CStateLock m_lock;
  std::string m_strStatePath;
  std::deque<CQueuedRecord> m_aQueue;  // read and not done, oldest first
  size_t m_nHandedOver = 0;            // of m_aQueue's front, handed over on this connection
  size_t m_nPastCheckpoint = 0;        // records done after the one the checkpoint names
  size_t m_nEverSent = 0;              // of m_aQueue's front, handed over at some time (to count resends)
  CForwardCheckpoint m_done;           // where the records done end
  int64_t m_nCheckpointAt = 0;         // when it was written last
  std::string m_strCheckpointTrouble;  // why the last write failed
  double m_dTokens = 0;                // messages the pace allows now
  int64_t m_nTokensAt = -1;            // when they were counted
  CForwardCounts m_counts;
  std::vector<std::string> m_aMessages;
  // Records read of each day file, from the checkpoint's on: its entry
  // goes into the checkpoint ("read").
  std::map<std::string, uint64_t> m_aReadCounts;
  // For the status file and the framing hint: the connection as this side
  // sees it, and the last record handed over.
  CForwardStatus m_status;
  int64_t m_nStatusAt = -1;        // when the status file was written last
  int64_t m_nConnectedAt = -1;     // steady milliseconds of the connection's start; -1: down
  size_t m_nSentOnConnection = 0;  // messages handed over on it
  int m_nShortBreaks = 0;          // connections in a row that carried messages and broke early
  bool m_bFramingTold = false;
  bool m_bStatusTroubleTold = false;
};
