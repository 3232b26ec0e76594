#include <chrono>
#include <thread>

#include "commands.h"
#include "console.h"
#include "day_files.h"
#include "forwarder.h"
#include "terminal.h"

namespace {

// How often the progress line is drawn again, and how long Ctrl-C waits for
// the collector to confirm what it has been given.
constexpr int64_t kProgressMilliseconds = 250;
constexpr int64_t kDrainMilliseconds = 2000;
// The pause between rounds while records wait for the window or for the
// collector's confirmation.
constexpr int kBusyPauseMilliseconds = 2;

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string ProgressText(const CForwardCounts& counts, bool bConnected) {
  return "forward: " + std::to_string(counts.m_nConfirmed) + " sent, " + std::to_string(counts.m_nBehind) +
         " behind" + (bConnected ? "" : ", waiting for the collector");
}

std::string SummaryText(const CForwarder& forwarder) {
  const CForwardCounts& counts = forwarder.Counts();
  std::string strText = "forward: " + std::to_string(counts.m_nConfirmed) + " records to " +
                        forwarder.Target().Text() + " confirmed, " + std::to_string(counts.m_nBehind) + " behind";
  if (counts.m_nResent > 0) strText += "; " + std::to_string(counts.m_nResent) + " sent again after a break";
  if (counts.m_nCut > 0) strText += "; " + std::to_string(counts.m_nCut) + " cut to fit a datagram";
  return strText + "; checkpoint " + forwarder.StatePath();
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

}  // namespace

int RunForward(const CForwardOptions& options, std::ostream& err) {
  if (!IsFolder(options.m_strFolder)) {
    ReportError(err, "no such folder: " + options.m_strFolder);
    return exitFailure;
  }
  CSyslogTarget target;
  std::string strError;
  if (!ParseSyslogTarget(options.m_strTarget, target, strError)) {
    ReportError(err, strError);
    return exitUsage;
  }
  CatchInterrupts();
  CForwarder forwarder(options, target);
  if (!forwarder.Start(Today(), strError)) {
    ReportError(err, strError);
    return exitFailure;
  }
  CProgressLine progress(err);
  int64_t nProgressAt = 0;
  while (!WasInterrupted()) {
    const int64_t nNow = SteadyMilliseconds();
    const bool bBusy = forwarder.Step(Today(), nNow);
    ReportMessages(forwarder, progress, err);
    if (nNow - nProgressAt >= kProgressMilliseconds) {
      progress.Show(ProgressText(forwarder.Counts(), forwarder.IsConnected()));
      nProgressAt = nNow;
    }
    if (bBusy) std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPauseMilliseconds));
    else SleepUnlessInterrupted(options.m_nPollMilliseconds);
  }
  // What the collector has been given is likely confirmed within moments;
  // the checkpoint should say so, or the next start sends it again.
  for (const int64_t nEnd = SteadyMilliseconds() + kDrainMilliseconds; SteadyMilliseconds() < nEnd;) {
    if (!forwarder.Step(Today(), SteadyMilliseconds())) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPauseMilliseconds));
  }
  forwarder.SaveCheckpoint(SteadyMilliseconds());
  ReportMessages(forwarder, progress, err);
  progress.Clear();
  err << SummaryText(forwarder) << '\n';
  return exitOk;
}
