// What vardlix forward is asked to do: the collector, the folder and how
// the records are sent.
#pragma once

#include <cstddef>
#include <string>

#include "forward/syslog_message.h"
#include "system/tls_session.h"

struct CForwardOptions {
  std::string m_strFolder = ".";
  std::string m_strTarget;      // relp://, relps://, tcp://, tls:// or udp:// HOST:PORT
  std::string m_strState;       // checkpoint file; empty: in the folder, named after the collector
  bool m_bFromNow = false;      // no checkpoint: after what today's file holds now, not at the oldest day
  std::string m_strTimeZone;    // --tz: the zone of the folder's host; empty: TZ, else the system's
  std::string m_strAppName;     // APP-NAME; empty: the host program's, from the folder's name
  std::string m_strHostName;    // HOSTNAME; empty: the machine's name
  size_t m_nMaxSize = 0;        // octets of a message; 0: the transport's default
  bool m_bLineFraming = false;  // TCP: a line feed ends each message, not a length before it
  long m_nRate = -1;            // records a second at most; -1: the transport's default; 0: no limit
  CSyslogSettings m_syslog;     // host and app names are filled in by RunForward
  CTlsOptions m_tls;            // relps:// and tls://: what to trust, and the client's certificate
  int m_nPollMilliseconds = 250;
  int m_nSummaryMinutes = 0;  // --summary-every: a summary line on standard error this often; 0: at the end only
  std::string m_strConfig;    // --config: the folders and their options come from this file (forward_config.h)
  bool m_bStatus = false;     // --status: print the status files of the forwarders instead
};
