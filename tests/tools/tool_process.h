// Running the built vardlix program from a test, and the folders and files
// the tests give it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// A fresh folder, removed with everything in it afterwards.
class CScratchFolder {
 public:
  CScratchFolder();
  ~CScratchFolder();
  CScratchFolder(const CScratchFolder&) = delete;
  CScratchFolder& operator=(const CScratchFolder&) = delete;

  std::string Path() const { return m_path.string(); }
  std::string Path(const std::string& strName) const { return (m_path / strName).string(); }

 private:
  std::filesystem::path m_path;
};

// What one run of the program left behind.
struct CToolResult {
  int m_nStatus = -1;  // exit status; -1 when it did not exit normally
  std::string m_strOut;
  std::string m_strErr;
};

using CEnvironment = std::vector<std::pair<std::string, std::string>>;  // set in the child

// Runs the program at strProgram (the built vardlix by default) and waits.
CToolResult RunTool(const std::vector<std::string>& aArgs, const CEnvironment& environment = {},
                    const std::string& strProgram = "");

// A run in the background, for follow: its output goes to a file that the
// test reads while it runs.
class CToolProcess {
 public:
  CToolProcess(const std::vector<std::string>& aArgs, const std::string& strOutputFile);
  ~CToolProcess();
  std::string Output() const;      // what it has written so far
  void Interrupt() const;          // Ctrl-C
  void Signal(int nSignal) const;  // SIGHUP, SIGTERM
  int Wait();                      // exit status, -1 when killed by a signal

 private:
  pid_t m_nPid = -1;
  std::string m_strOutputFile;
};

// A host of the library: a copy of the built program at folder/host, so that
// its log folder, derived from its path, is folder/hostLog.
std::string MakeHost(const CScratchFolder& folder);

// Writes a file as the library does (FF FE and UTF-16LE), from UTF-8 text.
void WriteUtf16File(const std::string& strPath, const std::string& strUtf8);
void WriteBytes(const std::string& strPath, const std::string& strBytes);
std::string ReadBytes(const std::string& strPath);

// A day's log holding the given records, each given as its six fields.
std::string MakeLogText(const std::vector<std::vector<std::string>>& aRecords);

// The lines of a text, without their line ends.
std::vector<std::string> SplitLines(const std::string& strText);
