#include "commands/vardlix_app.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <map>

#include "commands/command_suggestion.h"
#include "commands/commands.h"
#include "commands/forward_command_line.h"
#include "commands/host_library.h"
#include "format/log_layout.h"
#include "platform/platform_files.h"
#include "reading/day_files.h"
#include "system/library_loader.h"
#include "system/time_zone.h"

namespace {

// A host path for the help of --host, in the form of this platform.
const std::string kExampleHost = kPathSeparator[0] == u'\\' ? "C:\\Apps\\Viewer.exe" : "/opt/app/bin/server";

const std::string kDayHelp =
    std::string("DAY is ") + kDayForms +
    ", or a range of days FIRST..LAST (2026-12-01..2026-12-03), of which the days with a log are read.";
const char kTimeHelp[] =
    "TIME is a time of day (hh:mm[:ss], 10am, 10:30pm), a time before now (90s, 15m, 1h, 2d, \"1 hour ago\"), "
    "now, a day (today, yesterday, yyyy-mm-dd: its start for --since, its end for --until), a time of a day "
    "(\"yesterday 14:00\") or a full \"yyyy-mm-dd hh:mm:ss\" stamp. --since and --until make one continuous "
    "period: a time of day is on the first day read for --since and on the last for --until, and an --until "
    "earlier in the day than --since ends on the next day (--since 23:00 --until 01:00 spans midnight). Without "
    "a DAY, the days the period covers are read.";
const char kZoneHelp[] =
    "The time zone (TZ, or --tz ZONE for a folder that comes from another zone) gives each record time its UTC "
    "offset in JSON and CSV, summer time included; in the hour repeated when clocks go back, the order of the "
    "records tells the first pass from the second. It also decides which day is today.";

// --tz: the zone of the folder's host.
void AddZoneOption(CLI::App& command, std::string& strZone) {
  command
      .add_option("--tz", strZone,
                  kPathSeparator[0] == u'\\'
                      ? "Time zone of the folder's host: UTC or an offset such as +08:00 (default: the system's)"
                      : "Time zone of the folder's host: a zone name such as Asia/Shanghai, UTC or an offset such "
                        "as +08:00 (default: TZ, else the system's)")
      ->type_name("ZONE");
}

// Accepts what ParseTimeBound accepts; CLI11 shows the message otherwise.
CLI::Validator TimeValidator() {
  return CLI::Validator(
      [](std::string& strText) {
        CTimeBound bound;
        std::string strError;
        return ParseTimeBound(strText, bound, strError) ? std::string() : strError;
      },
      "TIME");
}

// Accepts what std::regex takes as ECMAScript.
CLI::Validator RegexValidator() {
  return CLI::Validator([](std::string& strText) { return CheckRegex(strText); }, "REGEX");
}

// A count: a whole number of 0 or more.
CLI::Validator CountValidator() {
  return CLI::Validator(
      [](std::string& strText) {
        bool bDigits =
            !strText.empty() && strText.size() < 10 && strText.find_first_not_of("0123456789") == std::string::npos;
        return bDigits ? std::string() : "\"" + strText + "\" is not a whole number of 0 or more";
      },
      "N");
}

// --folder, and --host as the other way to name the folder.
void AddFolderOptions(CLI::App& command, std::string& strFolder, std::string& strHost) {
  CLI::Option* pFolder = command.add_option("--folder,-d", strFolder, "Log folder (default: the current directory)");
  command
      .add_option("--host", strHost,
                  "The log folder of the host program at PATH, as the library derives it (" +
                      HostLogFolder(kExampleHost) + " for " + kExampleHost + ")")
      ->type_name("PATH")
      ->excludes(pFolder);
}

// The filters by field and by kind of type, which show and follow share.
void AddFieldFilters(CLI::App& command, CRecordFilter& filter) {
  command.add_option("--location", filter.m_strLocation,
                     "Only records of this location, exactly; ~TEXT: whose location holds TEXT");
  command.add_option("--operation", filter.m_strOperation,
                     "Only records of this operation, exactly; ~TEXT: whose operation holds TEXT");
  command
      .add_option("--regex,-e", filter.m_strRegex,
                  "Only records with a match of the regular expression in any field (ECMAScript, as in "
                  "JavaScript; matched on the UTF-8 text, case included)")
      ->check(RegexValidator());
  command.add_flag("--errors", filter.m_bErrors,
                   "Only errors: types that hold error, fatal, crit, fail, 错误, 异常, 失败 or 严重, in any case "
                   "(with --warnings: errors and warnings)");
  command.add_flag("--warnings", filter.m_bWarnings,
                   "Only warnings: types that hold warn or 警告 and no word of an error");
}

// Options that show and follow share: folder, filters, format and layout.
void AddViewOptions(CLI::App& command, CViewOptions& options, std::string& strHost, std::string& strSince,
                    std::string& strUntil, std::string& strFormat, bool bFollow) {
  AddFolderOptions(command, options.m_strFolder, strHost);
  command.add_option("--type,-t", options.m_filter.m_aTypes, "Only records of this type (repeatable)")
      ->allow_extra_args(false);
  command.add_option("--since", strSince, "Only records at or after TIME")->check(TimeValidator());
  command.add_option("--until", strUntil, "Only records at or before TIME")->check(TimeValidator());
  command.add_option("--grep,-g", options.m_filter.m_strGrep, "Only records with TEXT in any field");
  command.add_flag("-i,--ignore-case", options.m_filter.m_bIgnoreCase, "--grep ignores case");
  AddFieldFilters(command, options.m_filter);
  std::vector<std::string> aFormats = {"table", "json", "csv"};
  if (!bFollow) aFormats.push_back("xml");
  command
      .add_option("--format,-f", strFormat,
                  bFollow ? "table, json (JSON Lines) or csv" : "table, json (JSON Lines), csv or xml")
      ->check(CLI::IsMember(aFormats));
  command.add_flag("--wide,-w", options.m_bWide, "Don't cut long fields to the terminal's width");
  command.add_option("--color", options.m_strColor, "auto (terminal and no NO_COLOR), always or never")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  command.add_flag("--keep-formulas", options.m_bKeepFormulas,
                   "CSV: leave cells that begin with =, +, -, @, a tab or CR as they are (by default they start with "
                   "', so that a spreadsheet shows them as text instead of running them as formulas)");
  AddZoneOption(command, options.m_strTimeZone);
}

// Turns the text options that CLI11 has checked into the filter's values.
void FinishViewOptions(CViewOptions& options, const std::string& strHost, const std::string& strSince,
                       const std::string& strUntil, const std::string& strFormat) {
  if (!strHost.empty()) options.m_strFolder = HostLogFolder(strHost);
  std::string strError;
  if (!strSince.empty()) ParseTimeBound(strSince, options.m_filter.m_since, strError);
  if (!strUntil.empty()) ParseTimeBound(strUntil, options.m_filter.m_until, strError, true);
  static const std::map<std::string, OutputFormat> kFormats = {
      {"table", formatTable}, {"json", formatJson}, {"csv", formatCsv}, {"xml", formatXml}};
  options.m_nFormat = kFormats.at(strFormat);
}

// CLI11 words its messages for several lines; the tool reports on one.
std::string OneLine(std::string strMessage) {
  for (char& c : strMessage) {
    if (c == '\n') c = ' ';
  }
  while (!strMessage.empty() && strMessage.back() == ' ') strMessage.pop_back();
  return strMessage;
}

// What the command line gives the commands, filled in by CLI11.
struct CCommandLine {
  CShowOptions m_show;
  std::string m_strShowHost, m_strShowSince, m_strShowUntil, m_strShowFormat = "table";
  CFollowOptions m_follow;
  std::string m_strFollowHost, m_strFollowSince, m_strFollowUntil, m_strFollowFormat = "table";
  CForwardCommandLine m_forward;
  std::string m_strStatsFolder = ".", m_strStatsHost;
  CReportOptions m_report;
  std::string m_strReportHost;
  std::string m_strCheckFile;
  std::vector<std::string> m_aWriteFields = std::vector<std::string>(5);
  std::string m_strWriteLibrary;
  CLifeOptions m_life;
};

// The subcommands, to tell afterwards which one was given.
struct CSubcommands {
  CLI::App* m_pShow;
  CLI::App* m_pFollow;
  CLI::App* m_pStats;
  CLI::App* m_pCheck;
  CLI::App* m_pWrite;
  CLI::App* m_pLife;
  CLI::App* m_pForward;
  CLI::App* m_pReport;
};

CLI::App* AddShowCommand(CLI::App& app, CCommandLine& line) {
  CLI::App* pShow = app.add_subcommand("show", "Print the records of one or more days (default: today)");
  CLI::Option* pDays = pShow->add_option("days", line.m_show.m_aDays,
                                         "DAY or FILE (a day's log file, by path or by name in the folder)");
  AddViewOptions(*pShow, line.m_show, line.m_strShowHost, line.m_strShowSince, line.m_strShowUntil,
                 line.m_strShowFormat, false);
  pShow->add_flag("--all,-a", line.m_show.m_bAll, "Every day log of the folder, oldest first")->excludes(pDays);
  pShow->add_option("--limit,-n", line.m_show.m_nLimit, "At most N records")->check(CountValidator());
  pShow->add_flag("--reverse,-r", line.m_show.m_bReverse, "Newest first");
  pShow->add_flag("--bom", line.m_show.m_bByteOrderMark,
                  "Start CSV with a UTF-8 byte-order mark, which spreadsheet programs on Windows need to read it as "
                  "UTF-8");
  pShow->add_flag("--no-pager", line.m_show.m_bNoPager,
                  "Write to the terminal directly; otherwise output longer than the screen goes through "
                  "$VARDLIX_PAGER, $PAGER or less -R (never when the output is a pipe or a file)");
  pShow->footer(std::string(kDayHelp) + "\n" + kTimeHelp +
                "\nJSON Lines: one object per record with time (ISO 8601 local time with its UTC offset, "
                "2026-12-07T23:53:06+04:00), epoch (its seconds since 1970), type, location, operation, parameters, "
                "description and file.\n" +
                kZoneHelp +
                "\nCSV: UTF-8 with CR LF line ends; redirected to a file it starts with the header line "
                "\"time,type,...\", without byte-order mark unless --bom is given. A cell that begins with =, +, -, "
                "@, a tab or CR starts with ' (see --keep-formulas).\nXML: UTF-8, the records as they stand in "
                "their files; a record that standard XML parsers would refuse or read otherwise than the library "
                "(a control character, half of a surrogate pair, a bare &, a character reference, a malformed tag) "
                "is made again from its fields, a code unit that XML 1.0 forbids written as <char code=\"001B\"/>."
                "\nA damaged file shows its complete records, with one warning, and exit status 1. Filters "
                "that match nothing say so on standard error; the exit status stays 0.");
  return pShow;
}

CLI::App* AddReportCommand(CLI::App& app, CCommandLine& line) {
  CLI::App* pReport = app.add_subcommand(
      "report", "Write one HTML page of the records of some days: a timeline of records per hour stacked by type, "
                "the types, locations and operations with the most errors and warnings, and the records in a table "
                "to filter");
  CReportOptions& options = line.m_report;
  CLI::Option* pDays =
      pReport->add_option("days", options.m_aDays, "DAY or FILE (a day's log file, by path or by name in the folder)");
  AddFolderOptions(*pReport, options.m_strFolder, line.m_strReportHost);
  pReport->add_flag("--all,-a", options.m_bAll, "Every day log of the folder")->excludes(pDays);
  pReport
      ->add_option("--output,-o", options.m_strOutput,
                   "Write the page to FILE (default: standard output; on a terminal a new file here, named "
                   "after the days)")
      ->type_name("FILE");
  pReport->add_option("--rows", options.m_nMaxRows, "Records the page's table holds (default 10000)")
      ->check(CountValidator());
  AddZoneOption(*pReport, options.m_strTimeZone);
  pReport->footer(std::string(kDayHelp) +
                  "\nThe page holds everything it shows and loads nothing: it opens from disk in any browser. The "
                  "timeline has a bar per hour, or per day when the records span more than three days. Past --rows "
                  "records, the table keeps every error and warning first (spread over them, when there are more) and "
                  "fills the rest with other records spread over the whole period; the page says which, and the "
                  "timeline and the lists count all of them. The table shows 100 rows a page; it filters by type, "
                  "text, errors only and the hour of a bar clicked, sorts by a column, and the address keeps the "
                  "filter: report.html#type=Error&errors=1&text=refused."
                  "\nExit status: 0 the page is written; 1 it is, but a file was damaged or could not be read (the "
                  "page says which), or the page could not be written.");
  return pReport;
}

CLI::App* AddFollowCommand(CLI::App& app, CCommandLine& line) {
  CLI::App* pFollow = app.add_subcommand(
      "follow", "Print each new record as it is appended to today's log, moving on to the next day's file after "
                "midnight; Ctrl-C ends it");
  AddViewOptions(*pFollow, line.m_follow, line.m_strFollowHost, line.m_strFollowSince, line.m_strFollowUntil,
                 line.m_strFollowFormat, true);
  pFollow->add_option("--lines,-n", line.m_follow.m_nBacklog, "Show the last N records of today first (default 10)")
      ->check(CountValidator());
  pFollow->footer(std::string(kTimeHelp) +
                  "\nWith --format json, each record is one line: a feed for a log "
                  "pipeline.\n" +
                  kZoneHelp);
  pFollow->add_option("--interval", line.m_follow.m_nPollMilliseconds, "Milliseconds between looks at the file")
      ->check(CLI::Range(10, 60000));
  return pFollow;
}

CLI::App* AddStatsCommand(CLI::App& app, CCommandLine& line) {
  CLI::App* pStats = app.add_subcommand(
      "stats", "Per day: records, counts per type and file size; the retention; which files the next purge deletes "
               "and when");
  AddFolderOptions(*pStats, line.m_strStatsFolder, line.m_strStatsHost);
  pStats->footer("The purge runs when a host loads the library and when the retention is set; a file goes once "
                 "whole days since its creation reach the retention.");
  return pStats;
}

CLI::App* AddCheckCommand(CLI::App& app, CCommandLine& line) {
  CLI::App* pCheck = app.add_subcommand(
      "check", "Report what a day's log holds and what is wrong with it, one line per finding with its line and "
               "column: damage and the records around it, a cut-off end, zero code units, a foreign top element, "
               "narrow text, whether the library still adds records, and what standard XML parsers will refuse");
  pCheck->footer("Exit status: 0 a whole day's log that the library extends, with nothing standard XML parsers "
                 "refuse but the encoding name (a note); 1 any other finding, or a file that cannot be read; 2 a "
                 "wrong command line.");
  pCheck->add_option("file", line.m_strCheckFile, "A day's log file")->required();
  return pCheck;
}

std::string FolderNote() {
  return "The library derives its log folder from the program that loads it, here this tool: " + ToolLogFolder() + ".";
}

CLI::App* AddWriteCommand(CLI::App& app, CCommandLine& line) {
  CLI::App* pWrite = app.add_subcommand("write", "Append one record through the library's WriteVardlix");
  const char* const aFieldNames[][2] = {{"type", "Kind of event, such as Info or Error"},
                                        {"location", "Where in the host it happened"},
                                        {"operation", "What the host was doing"},
                                        {"parameters", "The values it worked on"},
                                        {"description", "What happened, in words; may span lines"}};
  for (int i = 0; i < 5; ++i) {
    pWrite->add_option(aFieldNames[i][0], line.m_aWriteFields[i], aFieldNames[i][1])->required();
  }
  pWrite->add_option("--library", line.m_strWriteLibrary, std::string("Path of ") + kLibraryFileName + " to load");
  pWrite->footer(FolderNote() + "\nAfterwards the day's log is read back: when the record is not in it, write "
                                "says what it can tell of why (logging off, a folder it cannot write) and exits "
                                "with 1.\nPut -- before the fields when one begins with '-'.");
  return pWrite;
}

CLI::App* AddLifeCommand(CLI::App& app, CCommandLine& line) {
  CLI::App* pLife = app.add_subcommand("life", "Show the retention, or set it through the library's SetLogLife");
  pLife->add_option("days", line.m_life.m_strDays,
                    "Days to keep log files, 0 to " + std::to_string(kMaxLogLife) +
                        " (0 switches logging off and deletes every log file)");
  CLI::Option* pLibrary =
      pLife->add_option("--library", line.m_life.m_strLibrary, std::string("Path of ") + kLibraryFileName + " to load");
  pLife
      ->add_option("--host", line.m_life.m_strHost,
                   "The retention of the host program at PATH, in its log folder (" + HostLogFolder(kExampleHost) +
                       " for " + kExampleHost + "), set as SetLogLife sets it, without loading the library")
      ->type_name("PATH")
      ->excludes(pLibrary);
  pLife->footer(FolderNote() + "\nLoading the library, like setting the retention, deletes the expired logs of "
                               "that folder.\nWith --host, DAYS is written into that folder's settings file and its "
                               "expired logs are deleted; a host that is running applies the new retention at its "
                               "next load of the library.\nA retention that deletes log files (0, or fewer days than "
                               "the oldest files have) lists them and asks first when standard input is a terminal; "
                               "otherwise it needs --yes, and without it exits with 2 and deletes nothing.");
  pLife->add_flag("--yes,-y", line.m_life.m_bYes, "Delete the log files the new retention expires without asking");
  pLife->add_flag("--create", line.m_life.m_bCreate,
                  "With --host: make the log folder when it is missing (otherwise an error)");
  return pLife;
}

// Puts --tz into effect before anything reads the clock; false after
// reporting a zone it does not know.
bool ApplyTimeZone(const std::string& strZone) {
  std::string strError;
  if (strZone.empty() || UseTimeZone(strZone, strError)) return true;
  ReportError(std::cerr, strError);
  return false;
}

// Runs the one subcommand that was given.
int RunSubcommand(const CSubcommands& commands, CCommandLine& line) {
  if (commands.m_pShow->parsed()) {
    // Times like "1 hour ago" are read in the zone of the folder.
    if (!ApplyTimeZone(line.m_show.m_strTimeZone)) return exitUsage;
    FinishViewOptions(line.m_show, line.m_strShowHost, line.m_strShowSince, line.m_strShowUntil, line.m_strShowFormat);
    return RunShow(line.m_show, std::cout, std::cerr);
  }
  if (commands.m_pFollow->parsed()) {
    if (!ApplyTimeZone(line.m_follow.m_strTimeZone)) return exitUsage;
    FinishViewOptions(line.m_follow, line.m_strFollowHost, line.m_strFollowSince, line.m_strFollowUntil,
                      line.m_strFollowFormat);
    return RunFollow(line.m_follow, std::cout, std::cerr);
  }
  if (commands.m_pForward->parsed()) {
    const CForwardOptions options = FinishForwardOptions(line.m_forward);
    if (!line.m_forward.m_strInstallService.empty() || !line.m_forward.m_strRemoveService.empty()) {
      return SetUpForwardService(line.m_forward.m_strInstallService, line.m_forward.m_strRemoveService, options,
                                 std::cout, std::cerr);
    }
    if (!line.m_forward.m_strService.empty()) return RunForwardService(line.m_forward.m_strService, options, std::cerr);
    return RunForward(options, std::cerr);
  }
  if (commands.m_pReport->parsed()) {
    if (!line.m_strReportHost.empty()) line.m_report.m_strFolder = HostLogFolder(line.m_strReportHost);
    if (!ApplyTimeZone(line.m_report.m_strTimeZone)) return exitUsage;
    return RunReport(line.m_report, std::cout, std::cerr);
  }
  if (commands.m_pStats->parsed()) {
    const std::string& strHost = line.m_strStatsHost;
    return RunStats(strHost.empty() ? line.m_strStatsFolder : HostLogFolder(strHost), std::cout, std::cerr);
  }
  if (commands.m_pCheck->parsed()) return RunCheck(line.m_strCheckFile, std::cout, std::cerr);
  if (commands.m_pWrite->parsed()) return RunWrite(line.m_aWriteFields, line.m_strWriteLibrary, std::cerr);
  if (commands.m_pLife->parsed()) {
    return RunLife(line.m_life, std::cin, std::cout, std::cerr);
  }
  ReportError(std::cerr,
              "a command is needed: show, report, follow, stats, check, write, life or forward (see vardlix --help)");
  return exitUsage;
}

// The long option names of a command, "--folder" and so on.
std::vector<std::string> LongOptionNames(const CLI::App& command) {
  std::vector<std::string> aNames;
  for (const CLI::Option* pOption : command.get_options()) {
    for (const auto& strName : pOption->get_lnames()) aNames.push_back("--" + strName);
  }
  return aNames;
}

// " (did you mean --folder?)" for the first word of the command line that
// names no command, or no option of the command given, and is close to one
// that does; empty otherwise.
std::string SuggestCorrection(const CLI::App& app, const std::vector<std::string>& aArgs) {
  const CLI::App* pCommand = &app;
  for (size_t i = 1; i < aArgs.size() && aArgs[i] != "--"; ++i) {
    const std::string& strArg = aArgs[i];
    std::string strSuggestion;
    if (strArg.rfind("--", 0) == 0) {
      const std::string strName = strArg.substr(0, strArg.find('='));
      const std::vector<std::string> aNames = LongOptionNames(*pCommand);
      if (std::find(aNames.begin(), aNames.end(), strName) != aNames.end()) continue;
      strSuggestion = SuggestName(strName, aNames);
    } else if (pCommand == &app && !strArg.empty() && strArg[0] != '-') {
      std::vector<std::string> aCommands;
      for (const CLI::App* pSub : app.get_subcommands([](const CLI::App*) { return true; })) {
        if (pSub->get_name() == strArg) pCommand = pSub;
        aCommands.push_back(pSub->get_name());
      }
      if (pCommand != &app) continue;
      strSuggestion = SuggestName(strArg, aCommands);
    }
    if (!strSuggestion.empty()) return " (did you mean " + strSuggestion + "?)";
  }
  return std::string();
}

}  // namespace

int RunVardlix(const std::vector<std::string>& aArgs) {
  CLI::App app("Reads, filters and ships the daily logs of the Vardlix library, and calls the library the way a "
               "host does.",
               "vardlix");
  app.footer(std::string("Exit status: 0 done; 1 a missing folder or file, a file that is not a day's log or is "
                         "damaged, a call the library refused or a record that did not arrive; 2 a wrong command "
                         "line (an unknown option, a date that does not exist, a value out of range).\n") +
             kDayHelp + "\n" + kTimeHelp);
  app.require_subcommand(0, 1);
  // The project's version, which CMake gives the build.
  app.set_version_flag("--version", std::string("vardlix ") + VARDLIX_VERSION, "Print the tool's version and exit");
  // CLI11 would take "/name" for an option on Windows; a path that starts
  // with "/" must stay a path there, as it is on Linux.
  app.allow_windows_style_options(false);
  CCommandLine line;
  const CSubcommands commands{AddShowCommand(app, line),
                              AddFollowCommand(app, line),
                              AddStatsCommand(app, line),
                              AddCheckCommand(app, line),
                              AddWriteCommand(app, line),
                              AddLifeCommand(app, line),
                              AddForwardCommand(app, line.m_forward),
                              AddReportCommand(app, line)};
  try {
    std::vector<const char*> aArgv;
    for (const auto& strArg : aArgs) aArgv.push_back(strArg.c_str());
    app.parse(static_cast<int>(aArgv.size()), aArgv.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    ReportError(std::cerr, OneLine(e.what()) + SuggestCorrection(app, aArgs) + " (see vardlix --help)");
    return exitUsage;
  }
  return RunSubcommand(commands, line);
}
