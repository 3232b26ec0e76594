#include <algorithm>
#include <array>
#include <cstdlib>

#include "base/paths.h"
#include "base/text_encoding.h"
#include "commands/commands.h"
#include "commands/host_library.h"
#include "format/log_retention.h"
#include "platform/platform_files.h"
#include "reading/day_files.h"
#include "reading/log_file.h"
#include "reading/log_stats.h"
#include "reading/waiting_records.h"
#include "system/console.h"

namespace {

// Days as an unsigned 32-bit number, the type of the export's parameter.
bool ParseDays(const std::string& strDays, uint32_t& nDays) {
  if (strDays.empty() || strDays.size() > 10 || strDays.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  unsigned long long nValue = std::strtoull(strDays.c_str(), nullptr, 10);
  if (nValue > 0xFFFFFFFFull) return false;
  nDays = static_cast<uint32_t>(nValue);
  return true;
}

// Records in the day's log of strFolder, 0 when it has none.
size_t CountRecords(const std::string& strFolder, const CDay& day) {
  CLogFile file = ReadLogFile(JoinPath(strFolder, DayFileName(day)), 1);
  return file.m_nOutcome == logFileRead ? file.m_text.m_aRecords.size() : 0;
}

enum Arrival : int {
  arrivalInFile,   // in the day's file
  arrivalWaiting,  // in the day's pending file, to be moved in later
  arrivalNowhere,
};

// Where a record with these fields went: after the first nBefore records of
// the day it was written on (or of the next day, when midnight came
// between), or among the records waiting beside that day's file.
Arrival FindArrival(const std::array<std::u16string, 5>& aText, const std::string& strFolder, const CDay& day,
                    size_t nBefore) {
  std::array<std::string, 5> aExpected;
  for (size_t i = 0; i < aText.size(); ++i) aExpected[i] = ToUtf8(aText[i]);
  auto Holds = [&aExpected](const std::vector<CLogRecord>& aRecords, size_t nFirst) {
    return std::any_of(aRecords.begin() + static_cast<std::ptrdiff_t>(std::min(nFirst, aRecords.size())),
                       aRecords.end(), [&](const CLogRecord& record) {
                         return std::equal(aExpected.begin(), aExpected.end(), record.m_aField.begin() + fieldType);
                       });
  };
  const CDay aDays[] = {day, Today()};
  for (const CDay& candidate : aDays) {
    const std::string strDayPath = JoinPath(strFolder, DayFileName(candidate));
    CLogFile file = ReadLogFile(strDayPath);
    const size_t nFirst = FormatDayStamp(candidate) == FormatDayStamp(day) ? nBefore : 0;
    if (file.m_nOutcome == logFileRead && Holds(file.m_text.m_aRecords, nFirst)) return arrivalInFile;
    if (Holds(ReadWaitingRecords(strDayPath), 0)) return arrivalWaiting;
  }
  return arrivalNowhere;
}

// What the tool can tell of why a record did not reach its file.
std::string WhyNotWritten(const std::string& strFolder, const CDay& day) {
  CRetention retention = ReadRetention(strFolder);
  if (retention.m_nDays == 0) return "logging is off (retention 0); vardlix life DAYS turns it on";
  if (!IsFolder(strFolder)) return "the folder does not exist and the library could not make it";
  const std::string strDayFile = JoinPath(strFolder, DayFileName(day));
  CLogFile file = ReadLogFile(strDayFile, 1, true);
  if (file.m_nOutcome == logFileRead && !LibraryAddsRecords(file)) {
    return "the library adds no record to " + DayFileName(day) + " as it is (vardlix check " + strDayFile +
           " tells why)";
  }
  std::u16string strProbe;
  FromUtf8(JoinPath(strFolder, "vardlix-write-check." + std::to_string(GetProcessNumber()) + ".tmp"), strProbe);
  CFile probe;
  if (!probe.Open(strProbe, CFile::modeCreateNewExclusive, waitNever)) {
    return "this user cannot write in the folder";
  }
  probe.Close();
  try {
    CFile::Remove(strProbe, waitNever);
  } catch (const CFileException&) {
  }
  return "the folder can be written, so the disk is full, or another program held the file where the record was to "
         "wait; nothing more can be known from here";
}

}  // namespace

int RunWrite(const std::vector<std::string>& aFields, const std::string& strLibrary, std::ostream& err) {
  // The command line reaches the commands as UTF-8 (on Windows converted
  // from the wide command line). Bytes that are not UTF-8 can come only
  // from a POSIX command line, and are decoded the way the platform decodes
  // a file without byte-order mark there: byte by byte.
  std::array<std::u16string, 5> aText;
  for (size_t i = 0; i < aText.size() && i < aFields.size(); ++i) {
    if (!FromUtf8(aFields[i], aText[i])) aText[i] = DecodeNarrowText(aFields[i].data(), aFields[i].size());
  }
  const std::string strFolder = ToolLogFolder();
  const CDay today = Today();
  const size_t nBefore = CountRecords(strFolder, today);
  {
    CHostLibrary library;
    std::string strError;
    if (!library.Load(strLibrary, strError)) {
      ReportError(err, strError);
      return exitFailure;
    }
    library.WriteVardlix(aText[0], aText[1], aText[2], aText[3], aText[4]);
  }
  // The export reports nothing; so the files themselves are asked, afterwards.
  switch (FindArrival(aText, strFolder, today, nBefore)) {
    case arrivalInFile:
      return exitOk;
    case arrivalWaiting:
      ReportError(err, "another program holds today's file in " + strFolder +
                           ": the record waits beside it and goes in with the next call that gets the file");
      return exitOk;
    case arrivalNowhere:
      break;
  }
  ReportError(err, "the record did not arrive in " + strFolder + ": " + WhyNotWritten(strFolder, today));
  return exitFailure;
}

namespace {

// Days for life: empty (only show), or 0 to kMaxLogLife.
bool CheckLifeDays(const std::string& strDays, uint32_t& nDays, std::ostream& err) {
  if (strDays.empty() || (ParseDays(strDays, nDays) && nDays <= static_cast<uint32_t>(kMaxLogLife))) return true;
  ReportError(err,
              "days must be a whole number from 0 to " + std::to_string(kMaxLogLife) + ", not \"" + strDays + "\"");
  return false;
}

void ShowRetention(const std::string& strFolder, std::ostream& out) {
  CRetention retention = ReadRetention(strFolder);
  out << "Retention " << retention.m_nDays << (retention.m_nDays == 1 ? " day" : " days") << " in " << strFolder
      << "\n";
}

// What SetLogLife does to its own folder, done to another program's: the
// settings file written, then the purge. The library of a host that runs
// read the retention at its load and keeps it until the next.
int SetHostLife(const std::string& strFolder, uint32_t nDays, std::ostream& out, std::ostream& err) {
  std::u16string strFolderText;
  // Only the folder itself, as the library makes it at load: a host whose
  // own folder is missing has no log folder to set.
  if (!FromUtf8(strFolder, strFolderText) || CreateFolder(strFolderText) == folderFailed ||
      !RewriteSettingsFile(strFolderText + kPathSeparator + std::u16string(kSettingsFileName),
                           static_cast<int32_t>(nDays))) {
    ReportError(err, "the settings file in " + strFolder + " cannot be written");
    return exitFailure;
  }
  try {
    PurgeLogFolder(strFolderText, static_cast<int32_t>(nDays), waitForHolder);
  } catch (...) {
    // The retention is written; what the purge could not delete now, the
    // next purge deletes.
  }
  ShowRetention(strFolder, out);
  out << "A host that is running applies it at its next load of the library.\n";
  return exitOk;
}

// The log files of a folder that a purge under a retention of nDays deletes
// now: every one for 0, which switches logging off.
std::vector<std::string> FilesExpiredUnder(const std::string& strFolder, uint32_t nDays) {
  std::vector<std::string> aNames;
  CFolderStats stats;
  const int64_t nNow = ReadClock();
  if (!GatherFolderStats(strFolder, nNow, stats)) return aNames;
  for (const auto& candidate : stats.m_aPurge) {
    if (nDays == 0 || IsLogExpired(nNow, candidate.m_nCreated, static_cast<int32_t>(nDays))) {
      aNames.push_back(candidate.m_strName);
    }
  }
  return aNames;
}

// The first names and how many more, for a message of one line.
std::string ListNames(const std::vector<std::string>& aNames) {
  std::string strList;
  for (size_t i = 0; i < aNames.size() && i < 5; ++i) strList += (i == 0 ? "" : ", ") + aNames[i];
  if (aNames.size() > 5) strList += " and " + std::to_string(aNames.size() - 5) + " more";
  return strList;
}

// A retention that deletes files goes ahead with --yes, or when a person at
// the terminal agrees to the list; a script without --yes gets status 2 and
// nothing deleted. False, with nStatus, when it must not go ahead.
bool ConfirmDeletion(const std::string& strFolder, uint32_t nDays, const CLifeOptions& options, std::istream& in,
                     std::ostream& out, std::ostream& err, int& nStatus) {
  const std::vector<std::string> aNames = FilesExpiredUnder(strFolder, nDays);
  if (aNames.empty() || options.m_bYes) return true;
  const std::string strWhat = "a retention of " + std::to_string(nDays) + (nDays == 1 ? " day" : " days") +
                              " deletes " + std::to_string(aNames.size()) +
                              (aNames.size() == 1 ? " log file" : " log files") + " in " + strFolder;
  if (!InputIsTerminal()) {
    ReportError(err, strWhat + " (" + ListNames(aNames) + "); nothing was changed: give --yes to go ahead");
    nStatus = exitUsage;
    return false;
  }
  out << strWhat << ":\n";
  for (const auto& strName : aNames) out << "  " << strName << "\n";
  out << "Delete them and set the retention? [y/N] " << std::flush;
  std::string strAnswer;
  std::getline(in, strAnswer);
  if (strAnswer == "y" || strAnswer == "Y" || strAnswer == "yes") return true;
  out << "Nothing was changed.\n";
  nStatus = exitFailure;
  return false;
}

// The folder that --host names; a missing one is a mistake of the command
// line unless --create asks for it.
bool FindHostFolder(const std::string& strFolder, const CLifeOptions& options, std::ostream& err) {
  if (IsFolder(strFolder)) return true;
  std::u16string strFolderText;
  if (options.m_bCreate && FromUtf8(strFolder, strFolderText) && CreateFolder(strFolderText) != folderFailed) {
    return true;
  }
  ReportError(err, options.m_bCreate ? "the folder " + strFolder + " cannot be made"
                                     : "no such folder: " + strFolder + " (the log folder of " + options.m_strHost +
                                           "; --create makes it)");
  return false;
}

}  // namespace

int RunLife(const CLifeOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
  uint32_t nDays = 0;
  if (!CheckLifeDays(options.m_strDays, nDays, err)) return exitUsage;
  const bool bSet = !options.m_strDays.empty();
  int nStatus = exitOk;
  if (!options.m_strHost.empty()) {
    const std::string strFolder = HostLogFolder(options.m_strHost);
    if (!FindHostFolder(strFolder, options, err)) return exitUsage;
    if (!bSet) {
      ShowRetention(strFolder, out);
      return exitOk;
    }
    if (!ConfirmDeletion(strFolder, nDays, options, in, out, err, nStatus)) return nStatus;
    return SetHostLife(strFolder, nDays, out, err);
  }
  std::string strFolder = ToolLogFolder();
  if (bSet && !ConfirmDeletion(strFolder, nDays, options, in, out, err, nStatus)) return nStatus;
  CHostLibrary library;
  std::string strError;
  if (!library.Load(options.m_strLibrary, strError)) {
    ReportError(err, strError);
    return exitFailure;
  }
  if (bSet && library.SetLogLife(nDays) != 1) {
    ReportError(err, "the settings file in " + strFolder + " cannot be written");
    return exitFailure;
  }
  ShowRetention(strFolder, out);
  return exitOk;
}
