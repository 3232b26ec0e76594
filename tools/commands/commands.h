// The commands of the vardlix tool. Each takes its options, writes its output
// to out and its one-line errors to err, and returns the exit status.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "forward/forward_options.h"
#include "output/record_output.h"
#include "reading/record_filter.h"

enum ExitStatus : int {
  exitOk = 0,
  exitFailure = 1,  // a missing folder or file, a file that is not a day's log, a refused call
  exitUsage = 2,    // the command line itself is wrong
};

struct CViewOptions {
  std::string m_strFolder = ".";
  CRecordFilter m_filter;
  OutputFormat m_nFormat = formatTable;
  bool m_bWide = false;
  std::string m_strColor = "auto";
  bool m_bKeepFormulas = false;  // CSV cells that begin like a formula stay as they are
  std::string m_strTimeZone;     // --tz; empty: the system's
};

struct CShowOptions : CViewOptions {
  std::vector<std::string> m_aDays;  // days or files; empty: today
  bool m_bAll = false;               // every day log of the folder
  long m_nLimit = -1;
  bool m_bReverse = false;
  bool m_bByteOrderMark = false;  // CSV starts with EF BB BF
  bool m_bNoPager = false;        // never through the pager, even on a terminal
};

struct CFollowOptions : CViewOptions {
  long m_nBacklog = 10;  // records of today shown before following
  int m_nPollMilliseconds = 250;
};

struct CReportOptions {
  std::string m_strFolder = ".";
  std::vector<std::string> m_aDays;  // days or files; empty: today
  bool m_bAll = false;
  std::string m_strOutput;    // the page's file; empty: standard output
  long m_nMaxRows = 10000;    // records the page's table holds
  std::string m_strTimeZone;  // --tz; empty: the system's
};

struct CLifeOptions {
  std::string m_strDays;     // empty: only show the retention
  std::string m_strLibrary;  // the library to load
  std::string m_strHost;     // --host: that host's folder, without the library
  bool m_bYes = false;       // delete the files the new retention expires without asking
  bool m_bCreate = false;    // --host: make its log folder when it is missing
};

int RunShow(const CShowOptions& options, std::ostream& out, std::ostream& err);
int RunReport(const CReportOptions& options, std::ostream& out, std::ostream& err);
int RunFollow(const CFollowOptions& options, std::ostream& out, std::ostream& err);
int RunForward(const CForwardOptions& options, std::ostream& err);
// RunForward as the Windows service strService (system/service.h).
int RunForwardService(const std::string& strService, const CForwardOptions& options, std::ostream& err);
// Registers the Windows service strService for options.m_strConfig, or
// (strService empty) removes the service strRemove.
int SetUpForwardService(const std::string& strService, const std::string& strRemove, const CForwardOptions& options,
                        std::ostream& out, std::ostream& err);
int RunStats(const std::string& strFolder, std::ostream& out, std::ostream& err);
int RunCheck(const std::string& strPath, std::ostream& out, std::ostream& err);
int RunWrite(const std::vector<std::string>& aFields, const std::string& strLibrary, std::ostream& err);
// A retention that deletes files lists them and asks at a terminal (in);
// without one it needs m_bYes.
int RunLife(const CLifeOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

// "vardlix: " + message, on a line of its own.
void ReportError(std::ostream& err, const std::string& strMessage);
