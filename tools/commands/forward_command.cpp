#include <chrono>
#include <thread>

#include "commands/commands.h"
#include "forward/forwarder.h"
#include "output/terminal.h"
#include "reading/day_files.h"
#include "system/console.h"
#include "system/time_zone.h"

namespace {

// How often the progress line is drawn again, and how long Ctrl-C waits for
// the collector to answer (or its system to acknowledge) what it has been
// given.
constexpr int64_t kProgressMilliseconds = 250;
constexpr int64_t kDrainMilliseconds = 2000;
// The pause between rounds while records wait for the window, the pace or
// the collector.
constexpr int kBusyPauseMilliseconds = 2;
// How often a folder that is not there yet is looked for.
constexpr int kFolderRetryMilliseconds = 1000;

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string ProgressText(const CForwarder& forwarder) {
  const CForwardCounts& counts = forwarder.Counts();
  return "forward: " + std::to_string(counts.m_nDone) + " " + forwarder.DoneWords() + ", " +
         std::to_string(counts.m_nBehind) + " behind" + (forwarder.IsConnected() ? "" : ", waiting for the collector");
}

// What became of the records, in the words of what the transport knows:
// delivered (RELP), sent and acknowledged by the collector's system (TCP),
// sent (UDP).
std::string SummaryText(const CForwarder& forwarder) {
  const CForwardCounts& counts = forwarder.Counts();
  std::string strText = "forward: " + std::to_string(counts.m_nDone) + " records to " + forwarder.Target().Text() +
                        " " + forwarder.DoneWords() + ", " + std::to_string(counts.m_nBehind) + " behind";
  if (counts.m_nResent > 0) strText += "; " + std::to_string(counts.m_nResent) + " sent again after a break";
  if (counts.m_nCut > 0) strText += "; " + std::to_string(counts.m_nCut) + " cut to fit the message size";
  if (counts.m_nSkipped > 0) strText += "; " + std::to_string(counts.m_nSkipped) + " skipped (could not be sent)";
  if (counts.m_nPurged > 0) {
    strText += "; " + std::to_string(counts.m_nPurged) + " purged before they were sent (their day file is gone)";
  }
  if (!forwarder.CheckpointTrouble().empty()) {
    return strText + "; the checkpoint " + forwarder.StatePath() +
           " is stale: its last write failed, and a new start sends again what was done since";
  }
  return strText + "; checkpoint " + forwarder.StatePath();
}

// What the transport does not allow, as a command-line error; empty when
// the options fit it.
std::string TransportMisuse(const CForwardOptions& options, const CSyslogTarget& target) {
  if (options.m_bLineFraming && target.m_nTransport != transportTcp) {
    return "--framing applies to tcp:// only (RELP and UDP frame each message themselves)";
  }
  const CTlsOptions& tls = options.m_tls;
  const bool bTlsOptions = !tls.m_strCaFile.empty() || !tls.m_strPeerName.empty() || !tls.m_strCertFile.empty() ||
                           !tls.m_strKeyFile.empty() || !tls.m_bVerify;
  if (bTlsOptions && !target.m_bTls) {
    return "--ca, --peer, --cert, --key and --insecure-no-verify apply to relps:// and tls:// only";
  }
  if (!tls.m_strKeyFile.empty() && tls.m_strCertFile.empty()) return "--key needs --cert";
  if (target.m_nTransport == transportUdp && options.m_nMaxSize > kMaximumDatagramSize) {
    return "--max-size " + std::to_string(options.m_nMaxSize) + " is more than a datagram holds (" +
           std::to_string(kMaximumDatagramSize) + ")";
  }
  return std::string();
}

// A line on a terminal that redraws itself; nothing anywhere else.
class CProgressLine {
 public:
  explicit CProgressLine(std::ostream& err) : m_err(err), m_bShown(ErrorIsTerminal()) {}

  void Show(const std::string& strText) {
    if (!m_bShown || strText == m_strLast) return;
    const size_t nPad = m_strLast.size() > strText.size() ? m_strLast.size() - strText.size() : 0;
    m_err << '\r' << strText << std::string(nPad, ' ') << std::flush;
    m_strLast = strText;
  }
  // Clears the line before other text goes to the terminal.
  void Clear() {
    if (!m_bShown || m_strLast.empty()) return;
    m_err << '\r' << std::string(m_strLast.size(), ' ') << '\r' << std::flush;
    m_strLast.clear();
  }

 private:
  std::ostream& m_err;
  bool m_bShown;
  std::string m_strLast;
};

void ReportMessages(CForwarder& forwarder, CProgressLine& progress, std::ostream& err) {
  for (const auto& strMessage : forwarder.TakeMessages()) {
    progress.Clear();
    ReportError(err, strMessage);
  }
}

// A service may start before the host has written its first record, and so
// before its log folder exists: the folder is waited for. False when
// interrupted first.
bool WaitForFolder(const std::string& strFolder, std::ostream& err) {
  if (IsFolder(strFolder)) return true;
  ReportError(err, "no such folder: " + strFolder + "; waiting for it (the library makes it with the first record)");
  while (!IsFolder(strFolder)) {
    if (WasInterrupted()) return false;
    SleepUnlessInterrupted(kFolderRetryMilliseconds);
  }
  ReportError(err, "the folder " + strFolder + " is there now");
  return true;
}

// SIGHUP: what the link has is done with first (nothing more is handed
// over meanwhile), so that the new connection sends nothing twice; then
// the folder is read again from the checkpoint and the collector
// connected again.
void ReopenForwarder(CForwarder& forwarder) {
  for (const int64_t nEnd = SteadyMilliseconds() + kDrainMilliseconds; SteadyMilliseconds() < nEnd;) {
    if (!forwarder.Settle(SteadyMilliseconds())) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPauseMilliseconds));
  }
  forwarder.Reopen(Today(), SteadyMilliseconds());
}

}  // namespace

int RunForward(const CForwardOptions& options, std::ostream& err) {
  std::string strError;
  if (!options.m_strTimeZone.empty() && !UseTimeZone(options.m_strTimeZone, strError)) {
    ReportError(err, strError);
    return exitUsage;
  }
  CSyslogTarget target;
  if (!ParseSyslogTarget(options.m_strTarget, target, strError)) {
    ReportError(err, strError);
    return exitUsage;
  }
  strError = TransportMisuse(options, target);
  if (!strError.empty()) {
    ReportError(err, strError);
    return exitUsage;
  }
  if (!options.m_tls.m_bVerify) {
    ReportError(err, "WARNING: --insecure-no-verify: the collector's certificate is not checked; anyone on the way "
                     "can pose as " +
                         target.m_strHost + " and read and change the records");
  }
  CatchInterrupts();
  CatchReopenRequests();
  if (!WaitForFolder(options.m_strFolder, err)) return exitOk;
  CForwarder forwarder(options, target);
  if (!forwarder.Start(Today(), strError)) {
    ReportError(err, strError);
    return exitFailure;
  }
  CProgressLine progress(err);
  int64_t nProgressAt = 0;
  while (!WasInterrupted()) {
    if (TakeReopenRequest()) ReopenForwarder(forwarder);
    const int64_t nNow = SteadyMilliseconds();
    const bool bBusy = forwarder.Step(Today(), nNow);
    ReportMessages(forwarder, progress, err);
    if (nNow - nProgressAt >= kProgressMilliseconds) {
      progress.Show(ProgressText(forwarder));
      nProgressAt = nNow;
    }
    if (bBusy) std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPauseMilliseconds));
    else SleepUnlessInterrupted(options.m_nPollMilliseconds);
  }
  // What the collector has been given is likely answered (or acknowledged)
  // within moments; the checkpoint should say so, or the next start sends
  // it again.
  for (const int64_t nEnd = SteadyMilliseconds() + kDrainMilliseconds; SteadyMilliseconds() < nEnd;) {
    if (!forwarder.Step(Today(), SteadyMilliseconds())) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPauseMilliseconds));
  }
  forwarder.Finish(SteadyMilliseconds());
  ReportMessages(forwarder, progress, err);
  progress.Clear();
  err << SummaryText(forwarder) << '\n';
  return exitOk;
}
