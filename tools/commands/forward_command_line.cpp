#include "commands/forward_command_line.h"

#include <algorithm>

#include "commands/host_library.h"
#include "forward/forward_config.h"
#include "forward/forwarder.h"
#include "forward/syslog_link.h"
#include "platform/platform_files.h"

namespace {

// A value that CLI11 checks with a predicate; strWhat names what it is not.
CLI::Validator TextValidator(bool (*pAccepts)(const std::string&), const std::string& strWhat,
                             const std::string& strName) {
  return CLI::Validator(
      [pAccepts, strWhat](std::string& strText) {
        return pAccepts(strText) ? std::string() : "\"" + strText + "\" is not " + strWhat;
      },
      strName);
}

bool IsTarget(const std::string& strText) {
  CSyslogTarget target;
  std::string strError;
  return ParseSyslogTarget(strText, target, strError);
}
bool IsAppName(const std::string& strText) { return HeaderValue(strText, kMaxAppNameLength) != "-"; }
bool IsSeverityPair(const std::string& strText) {
  const size_t nEquals = strText.rfind('=');
  return nEquals != std::string::npos && nEquals > 0 && ParseSeverity(strText.substr(nEquals + 1)) >= 0;
}
bool IsFacility(const std::string& strText) { return ParseFacility(strText) >= 0; }
bool IsHostName(const std::string& strText) { return HeaderValue(strText, kMaxHostNameLength) == strText; }

// The options of a service's set-up: its configuration file, the name it
// sends, and its status for monitoring.
void AddServiceOptions(CLI::App* pForward, CForwardOptions& options) {
  pForward
      ->add_option("--config", options.m_strConfig,
                   "Forward every folder that FILE names, in one process: a JSON object whose keys are these "
                   "options without their dashes, and \"folders\", a list of folder paths or of objects with "
                   "the options of one folder (\"folder\" or \"host\", \"app\", \"state\", \"hostname\"...); SIGHUP "
                   "reads it again")
      ->type_name("FILE");
  pForward->add_option("--hostname", options.m_strHostName, "HOSTNAME to send (default: the machine's name)")
      ->check(TextValidator(IsHostName, "1 to 255 printable ASCII characters", "NAME"));
  pForward->add_flag("--status", options.m_bStatus,
                     "Print the status file of the forwarder of each folder (beside its checkpoint, rewritten "
                     "every second: last record sent, checkpoint, records waiting, last error, connected since), "
                     "one JSON line each, and end; 1 when one has none");
}

// relps:// and tls://: what the collector's certificate is checked against,
// and the client's own.
void AddTlsOptions(CLI::App& forward, CForwardCommandLine& line) {
  CTlsOptions& tls = line.m_options.m_tls;
  forward.add_option("--ca", tls.m_strCaFile, "TLS: the CAs to trust, a PEM file (default: the system's)")
      ->type_name("FILE");
  forward
      .add_option("--peer", tls.m_strPeerName, "TLS: the name the collector's certificate must carry (default: HOST)")
      ->type_name("NAME");
  forward.add_option("--cert", tls.m_strCertFile, "TLS: a client certificate, PEM, for a collector that demands one")
      ->type_name("FILE");
  forward.add_option("--key", tls.m_strKeyFile, "TLS: the client certificate's key, PEM (default: in --cert's file)")
      ->type_name("FILE");
  forward.add_flag("--insecure-no-verify", line.m_bNoVerify,
                   "TLS: do NOT check the collector's certificate; anyone on the way can read and change the records");
}

}  // namespace

CLI::App* AddForwardCommand(CLI::App& app, CForwardCommandLine& line) {
  CForwardOptions& options = line.m_options;
  CLI::App* pForward = app.add_subcommand(
      "forward", "Send each record to a syslog collector (RFC 5424), as follow reads them, moving on to the next "
                 "day's file after midnight; Ctrl-C ends it");
  pForward
      ->add_option("--to", options.m_strTarget,
                   "relp://HOST:PORT (RELP, as rsyslog's imrelp takes it: delivered means answered), "
                   "relps://HOST:PORT (RELP over TLS), tcp://HOST:PORT, tls://HOST:PORT (syslog over TLS, RFC "
                   "5425; port 6514 unless given) or udp://HOST:PORT (or \"to\" in --config's file)")
      ->check(TextValidator(IsTarget, "relp://, relps://, tcp://, tls:// or udp:// followed by HOST:PORT", "URL"));
  CLI::Option* pFolder =
      pForward->add_option("--folder,-d", options.m_strFolder, "Log folder (default: the current directory)");
  pForward
      ->add_option("--host", line.m_strHost, "The log folder of the host program at PATH, as the library derives it")
      ->type_name("PATH")
      ->excludes(pFolder);
  pForward
      ->add_option("--state", options.m_strState,
                   "Checkpoint file (default: forward-tcp-HOST-PORT.json, or udp-, in the log folder)")
      ->type_name("FILE");
  // --from-start names what a first run does anyway; it stays accepted for
  // the command lines and units that give it.
  CLI::Option* pStart = pForward->add_flag(
      "--from-start", line.m_bFromStart,
      "Without a checkpoint, start with the oldest day file kept (the default); with one, the checkpoint holds");
  pForward
      ->add_flag("--from-now", options.m_bFromNow,
                 "Without a checkpoint, start after the records today's file holds now, skipping the days kept; "
                 "with one, the checkpoint holds")
      ->excludes(pStart);
  pForward
      ->add_option("--tz", options.m_strTimeZone,
                   kPathSeparator[0] == u'\\'
                       ? "Time zone of the folder's host: UTC or an offset such as +08:00 (default: the system's)"
                       : "Time zone of the folder's host: a zone name such as Asia/Shanghai, UTC or an offset such "
                         "as +08:00 (default: TZ, else the system's)")
      ->type_name("ZONE");
  pForward->add_option("--app", options.m_strAppName, "APP-NAME (default: the host program's name, from the folder)")
      ->check(TextValidator(IsAppName, "1 to 48 printable ASCII characters", "NAME"));
  pForward
      ->add_option("--sd-id", options.m_syslog.m_strStructuredDataId,
                   std::string("SD-ID of the record's fields, NAME@ENTERPRISE-NUMBER (default ") +
                       kDefaultStructuredDataId + ")")
      ->check(TextValidator(IsPrivateStructuredDataId, "NAME@NUMBER of at most 32 printable ASCII characters", "ID"));
  pForward
      ->add_option("--severity", line.m_aSeverities,
                   "TYPE=LEVEL: the severity of records of TYPE (repeatable); LEVEL is emerg, alert, crit, err, "
                   "warning, notice, info, debug or 0-7")
      ->allow_extra_args(false)
      ->check(TextValidator(IsSeverityPair, "TYPE=LEVEL", "TYPE=LEVEL"));
  pForward->add_option("--facility", line.m_strFacility, "user (default), daemon, local0 to local7, or 0-23")
      ->check(TextValidator(IsFacility, "a facility", "NAME"));
  pForward->add_flag("--bom", options.m_syslog.m_bByteOrderMark,
                     "Start each message text with the UTF-8 byte-order mark that RFC 5424 gives UTF-8 text");
  pForward
      ->add_option("--max-size", options.m_nMaxSize,
                   "Octets of a message; longer ones are cut, and say so (default " +
                       std::to_string(kDefaultStreamMessageSize) +
                       " over RELP and TCP, what rsyslog takes "
                       "unless told more; " +
                       std::to_string(kDefaultDatagramSize) + " over UDP)")
      ->check(CLI::Range(kMinimumMessageSize, kMaximumStreamMessageSize));
  pForward
      ->add_option("--framing", line.m_strFraming,
                   "TCP: octet (default: the length before each message, RFC 6587) or lf (a line feed after "
                   "each; line breaks inside written as #015 and #012)")
      ->check(CLI::IsMember({"octet", "lf"}));
  pForward
      ->add_option("--rate", options.m_nRate,
                   "Records a second at most; 0 no limit (default " + std::to_string(kDefaultDatagramRate) +
                       " over UDP, none over RELP and TCP)")
      ->check(CLI::Range(0L, 10000000L));
  AddTlsOptions(*pForward, line);
  pForward->add_option("--interval", options.m_nPollMilliseconds, "Milliseconds between looks at the file")
      ->check(CLI::Range(10, 60000));
  pForward
      ->add_option("--summary-every", options.m_nSummaryMinutes,
                   "Minutes between summary lines on standard error, for a service's journal (default 0: at the "
                   "end only)")
      ->check(CLI::Range(0, 100000));
  AddServiceOptions(pForward, options);
  pForward->add_option("--service", line.m_strService,
                       "Windows: run as the service NAME, as the service manager starts it (sc create NAME binPath= "
                       "\"...\\vardlix.exe forward --service NAME ...\"); a stop request ends it as Ctrl-C does");
  pForward->add_option("--install-service", line.m_strInstallService,
                       "Windows: register the service NAME, started with the machine and again 5 s after it fails, "
                       "that forwards what --config FILE names");
  pForward->add_option("--remove-service", line.m_strRemoveService, "Windows: stop the service NAME and remove it");
  pForward->footer(
      "Severity by type: Error/错误 err, Warning/警告 warning, Info/信息 info, Debug/调试 debug, any other notice; "
      "--severity comes first.\nOver RELP a record counts once the collector has answered for it; over TCP once "
      "its system has acknowledged the bytes (what the collector had not read is lost if it stops); over UDP once "
      "sent. The checkpoint follows what counts, and a new start sends at most " +
      std::to_string(kForwardWindow) +
      " records again.\nEach message carries record=\"DAY-N\", the record's day and number in its file, by which a "
      "collector drops one sent twice.\nSIGHUP reads the folder again and reconnects; SIGTERM ends as Ctrl-C does. A "
      "folder that is not there yet is waited for.\nIn the hour repeated when clocks go back, the order of the "
      "records tells the first pass from the second, as in show's JSON.");
  return pForward;
}

CForwardOptions FinishForwardOptions(const CForwardCommandLine& line) {
  CForwardOptions options = line.m_options;
  if (!line.m_strHost.empty()) options.m_strFolder = HostLogFolder(line.m_strHost);
  for (const auto& strPair : line.m_aSeverities) {
    const size_t nEquals = strPair.rfind('=');
    options.m_syslog.m_aSeverities.emplace_back(strPair.substr(0, nEquals), ParseSeverity(strPair.substr(nEquals + 1)));
  }
  options.m_syslog.m_nFacility = ParseFacility(line.m_strFacility);
  options.m_bLineFraming = line.m_strFraming == "lf";
  options.m_tls.m_bVerify = !line.m_bNoVerify;
  return options;
}

bool ReadForwardConfigOptions(const std::string& strPath, std::vector<CForwardOptions>& aOptions,
                              std::string& strError) {
  std::vector<ForwardArguments> aFolders;
  if (!ReadForwardConfig(strPath, aFolders, strError)) return false;
  aOptions.clear();
  for (size_t i = 0; i < aFolders.size(); ++i) {
    const std::string strWhere = strPath + ": folder " + std::to_string(i + 1) + ": ";
    CLI::App app;
    CForwardCommandLine line;
    const CLI::App* pForward = AddForwardCommand(app, line);
    for (const auto& strArg : aFolders[i]) {
      if (strArg.rfind("--", 0) == 0 && pForward->get_option_no_throw(strArg) == nullptr) {
        strError = strWhere + "\"" + strArg.substr(2) + "\" is no key of the file (its keys are forward's options)";
        return false;
      }
    }
    std::vector<std::string> aArgs = aFolders[i];
    aArgs.insert(aArgs.begin(), "forward");
    std::reverse(aArgs.begin(), aArgs.end());  // CLI11 takes a vector last argument first
    try {
      app.parse(aArgs);
    } catch (const CLI::ParseError& error) {
      strError = strWhere + error.what();
      return false;
    }
    if (line.m_options.m_strTarget.empty()) {
      strError = strWhere + "no \"to\": the collector, relp://HOST:PORT, tcp://HOST:PORT or udp://HOST:PORT";
      return false;
    }
    aOptions.push_back(FinishForwardOptions(line));
  }
  return true;
}
