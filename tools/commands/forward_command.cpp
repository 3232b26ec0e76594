#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "commands/commands.h"
#include "commands/forward_command_line.h"
#include "forward/forward_config.h"
#include "forward/forwarder.h"
#include "output/terminal.h"
#include "reading/day_files.h"
#include "system/console.h"
#include "system/service.h"
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

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
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

// One folder's forwarder; a folder that is not there yet is waited for,
// since a service may start before the host has written its first record.
struct CForwardRun {
  CForwardOptions m_options;
  CSyslogTarget m_target;
  std::unique_ptr<CForwarder> m_pForwarder;  // null until its folder is there
  bool m_bWaitTold = false;
};

// The folders to forward: the configuration file's, or the command line's
// one. False, with the reason, when the command line is wrong.
bool PlanRuns(const CForwardOptions& options, std::vector<CForwardRun>& aRuns, std::string& strError) {
  std::vector<CForwardOptions> aOptions{options};
  if (!options.m_strConfig.empty()) {
    if (!options.m_strTarget.empty() || options.m_strFolder != ".") {
      strError = "--config names the folders and the collector: give --to, --folder and --host in its file";
      return false;
    }
    if (!ReadForwardConfigOptions(options.m_strConfig, aOptions, strError)) return false;
  } else if (options.m_strTarget.empty()) {
    strError = "--to is required (or --config FILE)";
    return false;
  }
  for (const auto& folder : aOptions) {
    // The zone is the process's: one for every folder.
    if (folder.m_strTimeZone != aOptions[0].m_strTimeZone) {
      strError = "one --tz for every folder of a forwarder: " + folder.m_strFolder + " has another";
      return false;
    }
    CForwardRun run;
    run.m_options = folder;
    run.m_options.m_bStatus = options.m_bStatus;
    if (!ParseSyslogTarget(folder.m_strTarget, run.m_target, strError)) return false;
    strError = TransportMisuse(folder, run.m_target);
    if (!strError.empty()) return false;
    aRuns.push_back(std::move(run));
  }
  if (!aRuns[0].m_options.m_strTimeZone.empty() && !UseTimeZone(aRuns[0].m_options.m_strTimeZone, strError)) {
    return false;
  }
  return true;
}

// The records of every folder together.
std::string ProgressText(const std::vector<CForwardRun>& aRuns) {
  uint64_t nDone = 0;
  size_t nBehind = 0;
  bool bConnected = true;
  std::string strWords;
  for (const auto& run : aRuns) {
    if (!run.m_pForwarder) continue;
    nDone += run.m_pForwarder->Counts().m_nDone;
    nBehind += run.m_pForwarder->Counts().m_nBehind;
    bConnected = bConnected && run.m_pForwarder->IsConnected();
    strWords = run.m_pForwarder->DoneWords();
  }
  return "forward: " + std::to_string(nDone) + " " + strWords + ", " + std::to_string(nBehind) + " behind" +
         (bConnected ? "" : ", waiting for the collector");
}

// --status: each folder's status file as it stands.
int PrintStatus(const std::vector<CForwardRun>& aRuns, std::ostream& err) {
  int nResult = exitOk;
  for (const auto& run : aRuns) {
    const CForwarder forwarder(run.m_options, run.m_target);
    std::string strLine, strError;
    if (ReadForwardStatus(forwarder.StatusPath(), strLine, strError)) {
      std::cout << strLine << std::flush;
    } else {
      ReportError(err, strError);
      nResult = exitFailure;
    }
  }
  return nResult;
}

// Starts the run's forwarder once its folder is there. False, with the
// reason, when the forwarder cannot start.
bool StartWhenThere(CForwardRun& run, std::ostream& err, std::string& strError) {
  const std::string& strFolder = run.m_options.m_strFolder;
  if (!IsFolder(strFolder)) {
    if (!run.m_bWaitTold) {
      ReportError(err,
                  "no such folder: " + strFolder + "; waiting for it (the library makes it with the first record)");
    }
    run.m_bWaitTold = true;
    return true;
  }
  if (run.m_bWaitTold) ReportError(err, "the folder " + strFolder + " is there now");
  run.m_pForwarder = std::make_unique<CForwarder>(run.m_options, run.m_target);
  if (run.m_pForwarder->Start(Today(), strError)) return true;
  run.m_pForwarder.reset();
  return false;
}

// What the collector has been given is likely answered (or acknowledged)
// within moments; the checkpoints should say so, or the next start sends it
// again. Then each forwarder ends and says what became of its records.
void FinishRuns(std::vector<CForwardRun>& aRuns, CProgressLine& progress, std::ostream& err) {
  for (const int64_t nEnd = SteadyMilliseconds() + kDrainMilliseconds; SteadyMilliseconds() < nEnd;) {
    bool bBusy = false;
    for (auto& run : aRuns) {
      if (run.m_pForwarder && run.m_pForwarder->Step(Today(), SteadyMilliseconds())) bBusy = true;
    }
    if (!bBusy) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPauseMilliseconds));
  }
  for (auto& run : aRuns) {
    if (!run.m_pForwarder) continue;
    run.m_pForwarder->Finish(SteadyMilliseconds());
    ReportMessages(*run.m_pForwarder, progress, err);
    progress.Clear();
    err << SummaryText(*run.m_pForwarder) << '\n';
  }
}

// SIGHUP with a configuration file: the file is read again, and when it
// holds, every forwarder ends as at a stop (what the collector has is
// settled and the checkpoints written, so nothing goes twice) and the
// folders it names now start from their checkpoints. A file that no longer
// holds is said, and the forwarders go on as they were, reopened.
void RereadConfiguration(const CForwardOptions& options, std::vector<CForwardRun>& aRuns, CProgressLine& progress,
                         std::ostream& err) {
  std::vector<CForwardRun> aNew;
  std::string strError;
  if (!PlanRuns(options, aNew, strError)) {
    progress.Clear();
    ReportError(err, strError + "; going on as before (SIGHUP read " + options.m_strConfig + " again)");
    for (auto& run : aRuns) {
      if (run.m_pForwarder) ReopenForwarder(*run.m_pForwarder);
    }
    return;
  }
  FinishRuns(aRuns, progress, err);
  aRuns = std::move(aNew);  // the old forwarders let go of their checkpoints here
  ReportError(err, "read " + options.m_strConfig + " again: " + std::to_string(aRuns.size()) +
                       (aRuns.size() == 1 ? " folder" : " folders"));
}

// A running service's journal gets each forwarder's summary now and then,
// as at the end: what was done, what is behind, what went again.
void ReportSummaries(const std::vector<CForwardRun>& aRuns, CProgressLine& progress, std::ostream& err) {
  progress.Clear();
  for (const auto& run : aRuns) {
    if (run.m_pForwarder) err << SummaryText(*run.m_pForwarder) << " (so far)\n";
  }
  err.flush();
}

// One round of every folder's forwarder: bBusy when one has more to do at
// once. False, said, when one whose folder came cannot start.
bool StepRuns(std::vector<CForwardRun>& aRuns, bool bReopen, CProgressLine& progress, std::ostream& err, bool& bBusy) {
  for (auto& run : aRuns) {
    if (!run.m_pForwarder) {
      std::string strError;
      if (StartWhenThere(run, err, strError)) continue;
      ReportError(err, strError);
      return false;
    }
    if (bReopen) ReopenForwarder(*run.m_pForwarder);
    if (run.m_pForwarder->Step(Today(), SteadyMilliseconds())) bBusy = true;
    ReportMessages(*run.m_pForwarder, progress, err);
  }
  return true;
}

}  // namespace

int RunForward(const CForwardOptions& options, std::ostream& err) {
  std::vector<CForwardRun> aRuns;
  std::string strError;
  if (!PlanRuns(options, aRuns, strError)) {
    ReportError(err, strError);
    return exitUsage;
  }
  for (const CForwardRun& run : aRuns) {
    if (run.m_options.m_tls.m_bVerify) continue;
    ReportError(err, "WARNING: --insecure-no-verify: the collector's certificate is not checked; anyone on the way "
                     "can pose as " +
                         run.m_target.m_strHost + " and read and change the records");
  }
  if (options.m_bStatus) return PrintStatus(aRuns, err);
  CatchInterrupts();
  CatchReopenRequests();
  CProgressLine progress(err);
  int64_t nProgressAt = 0;
  int64_t nSummaryAt = SteadyMilliseconds() + int64_t{options.m_nSummaryMinutes} * 60000;
  int nPollMilliseconds = 60000;
  for (const auto& run : aRuns) nPollMilliseconds = std::min(nPollMilliseconds, run.m_options.m_nPollMilliseconds);
  while (!WasInterrupted()) {
    bool bReopen = TakeReopenRequest();
    if (bReopen && !options.m_strConfig.empty()) {
      RereadConfiguration(options, aRuns, progress, err);
      bReopen = false;
    }
    bool bBusy = false;
    if (!StepRuns(aRuns, bReopen, progress, err, bBusy)) {
      FinishRuns(aRuns, progress, err);
      return exitFailure;
    }
    const int64_t nNow = SteadyMilliseconds();
    if (nNow - nProgressAt >= kProgressMilliseconds) {
      progress.Show(ProgressText(aRuns));
      nProgressAt = nNow;
    }
    if (options.m_nSummaryMinutes > 0 && nNow >= nSummaryAt) {
      ReportSummaries(aRuns, progress, err);
      nSummaryAt = nNow + int64_t{options.m_nSummaryMinutes} * 60000;
    }
    if (bBusy) std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPauseMilliseconds));
    else SleepUnlessInterrupted(nPollMilliseconds);
  }
  FinishRuns(aRuns, progress, err);
  return exitOk;
}

int RunForwardService(const std::string& strService, const CForwardOptions& options, std::ostream& err) {
  int nStatus = exitFailure;
  std::string strError;
  if (RunAsService(
          strService, [&] { return RunForward(options, err); }, nStatus, strError))
    return nStatus;
  ReportError(err, strError);
  return exitUsage;
}

int SetUpForwardService(const std::string& strService, const std::string& strRemove, const CForwardOptions& options,
                        std::ostream& out, std::ostream& err) {
  std::string strError;
  if (!strRemove.empty()) {
    if (!RemoveService(strRemove, strError)) {
      ReportError(err, strError);
      return exitFailure;
    }
    out << "service " << strRemove << " stopped and removed\n";
    return exitOk;
  }
  if (options.m_strConfig.empty()) {
    ReportError(err, "--install-service takes the folders and the collector from --config FILE");
    return exitUsage;
  }
  std::vector<ForwardArguments> aFolders;
  if (!ReadForwardConfig(options.m_strConfig, aFolders, strError) ||
      !InstallService(strService, options.m_strConfig, strError)) {
    ReportError(err, strError);
    return exitFailure;
  }
  out << "service " << strService << " installed: it starts with the machine (sc start " << strService
      << " starts it now)\n";
  return exitOk;
}
