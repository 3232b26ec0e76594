// The vardlix tool as a user runs it, against iconv reading the same file in
// the same run: each benchmark starts the tool as a child process on a day
// file, its output thrown away, and takes the child's CPU time (user and
// system, from wait4) and its peak resident memory. Beside it, the same run
// starts `iconv -f UTF-16 -t UTF-8` on the same file, and, for a damaged
// file, the same command on its clean twin of the same size.
//
// Counters: x_iconv (the command's CPU time over iconv's), x_clean (over the
// same command on the clean twin), rss_MB (the command's peak), rss_x_file
// (that peak over the file's size) and file_MB.
//
// The files (records of about 450 bytes, see sample_logs.h):
//   clean      a day's log as the library writes it
//   cut        cut short inside its middle record, the later records appended
//              behind the damage as the library appends them, no end tag
//   bare       nothing but "<记录>" start tags after the root's
//   noend      records without their "</记录>" end tags
//   zeros      damaged at its first record, a zero unit and the rest of an
//              interrupted update at its end
//   zerotail   the clean file followed by 256 MB of zero bytes
//   plain      the clean file with each reference ("&lt;" and the like) put
//              as one plain character: no '&' anywhere
//
// check beside show: BM_CheckBesideShow runs `check` and `show --format
// json` on the plain file; x_show is check's CPU time over show's. A text
// without '&' is where a search for references that ran past its field to
// the end of the file showed as time growing with the square of the size.
//
// follow: BM_FollowPerRecord starts `vardlix follow` on today's file of the
// given size, appends one record at a time in front of "</日志>" as the
// library does, waits for follow to print it, and gives the follower's CPU
// time per added record (from /proc/PID/schedstat, its polls included).
//
// VARDLIX_TOOL names the program to measure (default: the one built here);
// VARDLIX_BENCH_DIR the folder for the files (default: the system's
// temporary folder).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sample_logs.h"

namespace {

namespace fs = std::filesystem;

std::string ToolPath() {
  const char* szTool = std::getenv("VARDLIX_TOOL");
  return szTool != nullptr ? szTool : VARDLIX_TOOL_PATH;
}

fs::path BenchFolder() {
  const char* szDir = std::getenv("VARDLIX_BENCH_DIR");
  static const fs::path folder = (szDir != nullptr ? fs::path(szDir) : fs::temp_directory_path()) /
                                 ("vardlix-tool-bench-" + std::to_string(getpid()));
  return folder;
}

struct CRun {
  double m_dCpu = 0;     // seconds, user + system
  double m_dPeakMb = 0;  // peak resident memory
  int m_nStatus = -1;
};

// Runs a program with its output to /dev/null and waits for it; fills in
// its CPU time and peak memory.
CRun RunDirect(char** aArgv) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int nNull = open("/dev/null", O_WRONLY);
    dup2(nNull, 1);
    dup2(nNull, 2);
    execvp(aArgv[0], aArgv);
    _exit(127);
  }
  CRun run;
  int nStatus = 0;
  rusage usage{};
  wait4(pid, &nStatus, 0, &usage);
  run.m_dCpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.m_dPeakMb = usage.ru_maxrss / 1024.0;
  run.m_nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
  return run;
}

// The same, through a fresh copy of this program: a child forked from the
// benchmark would count the benchmark's own memory (the files it made) in
// its peak, which a process forked from a small one does not.
CRun RunChild(const std::vector<std::string>& aArgs) {
  std::vector<std::string> aAll = {"/proc/self/exe", "--measure"};
  aAll.insert(aAll.end(), aArgs.begin(), aArgs.end());
  std::vector<char*> aArgv;
  for (const auto& strArg : aAll) aArgv.push_back(const_cast<char*>(strArg.c_str()));
  aArgv.push_back(nullptr);
  int aPipe[2];
  if (pipe(aPipe) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(aPipe[1], 1);
    close(aPipe[0]);
    execv("/proc/self/exe", aArgv.data());
    _exit(127);
  }
  close(aPipe[1]);
  char szReport[128] = {};
  size_t nDone = 0;
  for (ssize_t n; (n = read(aPipe[0], szReport + nDone, sizeof szReport - 1 - nDone)) > 0;)
    nDone += static_cast<size_t>(n);
  close(aPipe[0]);
  waitpid(pid, nullptr, 0);
  CRun run;
  std::sscanf(szReport, "%lf %lf %d", &run.m_dCpu, &run.m_dPeakMb, &run.m_nStatus);
  return run;
}

std::string Utf16Bytes(const std::u16string& strText) {
  std::string strBytes = "\xFF\xFE";
  strBytes.append(reinterpret_cast<const char*>(strText.data()), strText.size() * 2);
  return strBytes;
}

const std::u16string kRecordOpen = u"<\u8bb0\u5f55>";    // <记录>
const std::u16string kRecordClose = u"</\u8bb0\u5f55>";  // </记录>
const std::u16string kRootClose = u"</\u65e5\u5fd7>";    // </日志>

// The text with each reference replaced by one character that needs none.
std::u16string WithoutReferences(const std::u16string& strText) {
  std::u16string strOut;
  strOut.reserve(strText.size());
  for (size_t i = 0; i < strText.size(); ++i) {
    if (strText[i] != u'&') {
      strOut += strText[i];
      continue;
    }
    strOut += u'_';
    i = strText.find(u';', i);
  }
  return strOut;
}

// The text of a file of the given shape, about the size of nRecords clean records.
std::u16string MakeShape(const std::string& strShape, int nRecords) {
  const std::u16string strClean = MakeDailyLogText(nRecords);
  const size_t nFirst = strClean.find(kRecordOpen);
  const std::u16string strHead = strClean.substr(0, nFirst);
  if (strShape == "clean" || strShape == "zerotail") return strClean;
  if (strShape == "plain") return WithoutReferences(strClean);
  if (strShape == "cut") {
    // Records before the middle one, half of it, then the later records.
    size_t nMiddle = nFirst;
    for (int i = 0; i < nRecords / 2; ++i) nMiddle = strClean.find(kRecordOpen, nMiddle + 1);
    const size_t nNext = strClean.find(kRecordOpen, nMiddle + 1);
    const size_t nEnd = strClean.rfind(kRootClose);
    return strClean.substr(0, nMiddle + (nNext - nMiddle) / 2) + strClean.substr(nNext, nEnd - nNext);
  }
  std::u16string strText = strHead;
  if (strShape == "bare") {
    while (strText.size() < strClean.size()) strText += kRecordOpen + u"\r\n";
    return strText;
  }
  if (strShape == "noend") {
    const std::u16string strEndLine = kRecordClose + u"\r\n";
    std::u16string strBody;
    const size_t nBodyEnd = strClean.rfind(kRootClose);
    for (size_t nPos = nFirst; nPos < nBodyEnd;) {
      size_t nEnd = strClean.find(strEndLine, nPos);
      if (nEnd == std::u16string::npos || nEnd > nBodyEnd) nEnd = nBodyEnd;
      strBody.append(strClean, nPos, nEnd - nPos);
      nPos = nEnd + strEndLine.size();
    }
    strText += strBody;
    while (strText.size() < strClean.size()) strText += strBody.substr(0, strClean.size() - strText.size());
    return strText;
  }
  if (strShape == "zeros") {
    // Damaged at its first record, and a zero unit at its end with the rest
    // of an interrupted update behind it: every record lies before the zero.
    const size_t nSecond = strClean.find(kRecordOpen, nFirst + 1);
    strText = strClean.substr(0, nFirst + (nSecond - nFirst) / 2) +
              strClean.substr(nSecond, strClean.rfind(kRootClose) - nSecond);
    return strText + u'\0' + kRecordOpen + u"\r\n";
  }
  std::abort();
}

std::string DayFileName(int nDayOffset = 0) {
  const std::time_t now = std::time(nullptr) + nDayOffset * 86400;
  std::tm local{};
  localtime_r(&now, &local);
  char szName[32];
  std::strftime(szName, sizeof szName, "Vardlix%Y%m%d.xml", &local);
  return szName;
}

// A folder holding one day file of the shape; made once per run.
fs::path ShapeFile(const std::string& strShape, int nRecords) {
  static std::map<std::string, fs::path> s_files;
  const std::string strKey = strShape + "-" + std::to_string(nRecords);
  auto it = s_files.find(strKey);
  if (it != s_files.end()) return it->second;
  const fs::path folder = BenchFolder() / strKey;
  fs::create_directories(folder);
  const fs::path path = folder / "Vardlix20261207.xml";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << Utf16Bytes(MakeShape(strShape, nRecords));
    if (strShape == "zerotail") {
      const std::string strZeros(1 << 20, '\0');
      for (int i = 0; i < 256; ++i) file << strZeros;
    }
  }
  return s_files[strKey] = path;
}

std::vector<std::string> Command(const std::string& strCommand, const fs::path& file) {
  const std::string strTool = ToolPath();
  if (strCommand == "json") return {strTool, "show", file.string(), "--format", "json"};
  if (strCommand == "csv") return {strTool, "show", file.string(), "--format", "csv"};
  if (strCommand == "table") return {strTool, "show", file.string(), "--wide"};
  if (strCommand == "grep") return {strTool, "show", file.string(), "--format", "json", "--grep", "ETIMEDOUT"};
  if (strCommand == "grep-i") return {strTool, "show", file.string(), "--format", "json", "--grep", "etimedout", "-i"};
  if (strCommand == "stats") return {strTool, "stats", "--folder", file.parent_path().string()};
  if (strCommand == "check") return {strTool, "check", file.string()};
  std::abort();
}

void BM_Tool(benchmark::State& state, const std::string& strCommand, const std::string& strShape) {
  const int nRecords = static_cast<int>(state.range(0));
  const fs::path file = ShapeFile(strShape, nRecords);
  const fs::path twin = ShapeFile("clean", nRecords);
  double dCommand = 0, dIconv = 0, dClean = 0, dPeak = 0;
  int nRuns = 0;
  for (auto _ : state) {
    const CRun run = RunChild(Command(strCommand, file));
    dCommand += run.m_dCpu;
    dPeak = std::max(dPeak, run.m_dPeakMb);
    dIconv += RunChild({"iconv", "-f", "UTF-16", "-t", "UTF-8", file.string()}).m_dCpu;
    if (strShape != "clean") dClean += RunChild(Command(strCommand, twin)).m_dCpu;
    state.SetIterationTime(run.m_dCpu);
    ++nRuns;
  }
  const double dFileMb = static_cast<double>(fs::file_size(file)) / (1 << 20);
  state.counters["file_MB"] = dFileMb;
  state.counters["x_iconv"] = dIconv > 0 ? dCommand / dIconv : 0;
  if (strShape != "clean") state.counters["x_clean"] = dClean > 0 ? dCommand / dClean : 0;
  state.counters["rss_MB"] = dPeak;
  state.counters["rss_x_file"] = dPeak / dFileMb;
}

void BM_CheckBesideShow(benchmark::State& state) {
  const fs::path file = ShapeFile("plain", static_cast<int>(state.range(0)));
  double dCheck = 0, dShow = 0, dPeak = 0;
  for (auto _ : state) {
    const CRun run = RunChild(Command("check", file));
    dCheck += run.m_dCpu;
    dPeak = std::max(dPeak, run.m_dPeakMb);
    dShow += RunChild(Command("json", file)).m_dCpu;
    state.SetIterationTime(run.m_dCpu);
  }
  const double dFileMb = static_cast<double>(fs::file_size(file)) / (1 << 20);
  state.counters["file_MB"] = dFileMb;
  state.counters["show_ms"] = 1000 * dShow / static_cast<double>(state.iterations());
  state.counters["x_show"] = dShow > 0 ? dCheck / dShow : 0;
  state.counters["rss_MB"] = dPeak;
}

// A record as the library writes it, in front of "</日志>".
std::string RecordBytes(int n) {
  std::u16string strText = MakeDailyLogText(n + 1);
  size_t nLast = strText.rfind(kRecordOpen);
  std::u16string strRecord = strText.substr(nLast, strText.rfind(kRootClose) - nLast);
  return std::string(reinterpret_cast<const char*>(strRecord.data()), strRecord.size() * 2);
}

// Appends one record to the day file as the library does: written over the
// root's end tag, which follows it again.
void AppendRecord(const fs::path& path, const std::string& strRecord) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekg(0, std::ios::end);
  const std::streamoff nEnd = file.tellg();
  const std::u16string strTail = kRootClose + u"\r\n";
  file.seekp(nEnd - static_cast<std::streamoff>(strTail.size() * 2));
  file << strRecord << std::string(reinterpret_cast<const char*>(strTail.data()), strTail.size() * 2);
}

// Lines the follower has printed so far, read from its pipe.
class CLineCounter {
 public:
  explicit CLineCounter(int nFd) : m_nFd(nFd) { fcntl(nFd, F_SETFL, O_NONBLOCK); }
  // Waits until at least nLines lines have come.
  bool WaitFor(size_t nLines, int nSeconds = 120) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    char buffer[65536];
    while (m_nLines < nLines) {
      const ssize_t nRead = read(m_nFd, buffer, sizeof buffer);
      if (nRead > 0) {
        for (ssize_t i = 0; i < nRead; ++i) m_nLines += buffer[i] == '\n' ? 1 : 0;
        continue;
      }
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  int m_nFd;
  size_t m_nLines = 0;
};

// CPU time a process has had so far, in seconds, from the scheduler's count
// in nanoseconds.
double CpuSoFar(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
  double dNanoseconds = 0;
  stat >> dNanoseconds;
  return dNanoseconds / 1e9;
}

// CPU seconds that one follower spends on nAdded records appended one by
// one, each waited for until it is printed: from the moment its backlog of
// one record is printed (its first reading done) until the last added one
// is, polls included.
double FollowOnce(const fs::path& folder, const fs::path& today, const std::string& strBase, int nAdded) {
  std::ofstream(today, std::ios::binary | std::ios::trunc) << strBase;
  int aPipe[2];
  if (pipe(aPipe) != 0) std::abort();
  const std::string strTool = ToolPath();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(aPipe[1], 1);
    const int nNull = open("/dev/null", O_WRONLY);
    dup2(nNull, 2);
    close(aPipe[0]);
    execl(strTool.c_str(), strTool.c_str(), "follow", "--folder", folder.c_str(), "--format", "json", "--lines", "1",
          "--interval", "10", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(aPipe[1]);
  CLineCounter lines(aPipe[0]);
  lines.WaitFor(1);
  const double dStart = CpuSoFar(pid);
  for (int i = 0; i < nAdded; ++i) {
    AppendRecord(today, RecordBytes(i));
    if (!lines.WaitFor(static_cast<size_t>(i) + 2)) break;
  }
  const double dCpu = CpuSoFar(pid) - dStart;
  kill(pid, SIGINT);
  waitpid(pid, nullptr, 0);
  close(aPipe[0]);
  return dCpu;
}

void BM_FollowPerRecord(benchmark::State& state) {
  const int nRecords = static_cast<int>(state.range(0));
  constexpr int kAdded = 100;
  const fs::path folder = BenchFolder() / ("follow-" + std::to_string(nRecords));
  fs::create_directories(folder);
  const fs::path today = folder / DayFileName();
  const std::string strBase = Utf16Bytes(MakeDailyLogText(nRecords));
  double dPerRecord = 0;
  for (auto _ : state) {
    const double dRecord = FollowOnce(folder, today, strBase, kAdded) / kAdded;
    dPerRecord += dRecord;
    state.SetIterationTime(dRecord);
  }
  fs::remove_all(folder);
  state.counters["file_MB"] = static_cast<double>(strBase.size()) / (1 << 20);
  state.counters["ms_per_record"] = 1000 * dPerRecord / static_cast<double>(state.iterations());
}

// A folder of thirty day files of nRecords each (45 MB a day at 100,000,
// 1.3 GB in all), made once per run.
fs::path MonthFolder(int nRecords) {
  static std::map<int, fs::path> s_folders;
  auto it = s_folders.find(nRecords);
  if (it != s_folders.end()) return it->second;
  const fs::path folder = BenchFolder() / ("month-" + std::to_string(nRecords));
  fs::create_directories(folder);
  const std::string strBytes = Utf16Bytes(MakeDailyLogText(nRecords));
  for (int i = 1; i <= 30; ++i) {
    char szName[32];
    std::snprintf(szName, sizeof szName, "Vardlix202611%02d.xml", i);
    std::ofstream(folder / szName, std::ios::binary | std::ios::trunc) << strBytes;
  }
  return s_folders[nRecords] = folder;
}

// One run of the command over the month, with VARDLIX_READING_THREADS set
// to strThreads (empty: the tool's own choice); its wall time in m_dCpu's
// place is not kept: the wall time is returned beside the run.
CRun RunOverMonth(const std::vector<std::string>& aArgs, const std::string& strThreads, double& dWall) {
  if (strThreads.empty()) {
    unsetenv("VARDLIX_READING_THREADS");
  } else {
    setenv("VARDLIX_READING_THREADS", strThreads.c_str(), 1);
  }
  const auto start = std::chrono::steady_clock::now();
  const CRun run = RunChild(aArgs);
  dWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  unsetenv("VARDLIX_READING_THREADS");
  return run;
}

// show --all (the table, or JSON) and report over a month of days, as the
// tool reads them (a few days at once, as many as the cores, at most four)
// against one reading thread (VARDLIX_READING_THREADS=1, the days one after
// the other) in the same run, each iteration running both. The benchmark's
// time is the wall time of the tool's own choice. Counters: wall_s and
// wall_1thread_s (means), best_s and best_1thread_s (the quickest run of
// each, the one least disturbed by other work on the machine), x_1thread
// (one thread's mean wall time over the tool's), cpu_s and cpu_1thread_s
// (user and system), rss_MB and rss_1thread_MB (peaks). Registered only
// when VARDLIX_BENCH_MONTH is set: the month takes 1.3 GB of disk at
// 100,000 records a day.
void BM_Month(benchmark::State& state, const std::string& strCommand) {
  const int nRecords = static_cast<int>(state.range(0));
  const fs::path folder = MonthFolder(nRecords);
  std::vector<std::string> aArgs = {ToolPath(), strCommand == "report" ? "report" : "show", "--all", "--folder",
                                    folder.string()};
  if (strCommand == "json") aArgs.insert(aArgs.end(), {"--format", "json"});
  double dWall = 0, dWallOne = 0, dBest = 1e9, dBestOne = 1e9, dCpu = 0, dCpuOne = 0, dPeak = 0, dPeakOne = 0;
  for (auto _ : state) {
    double dThis = 0, dThisOne = 0;
    const CRun run = RunOverMonth(aArgs, "", dThis);
    const CRun one = RunOverMonth(aArgs, "1", dThisOne);
    if (run.m_nStatus != 0 || one.m_nStatus != 0) state.SkipWithError("the command failed");
    dWall += dThis, dWallOne += dThisOne, dCpu += run.m_dCpu, dCpuOne += one.m_dCpu;
    dBest = std::min(dBest, dThis), dBestOne = std::min(dBestOne, dThisOne);
    dPeak = std::max(dPeak, run.m_dPeakMb), dPeakOne = std::max(dPeakOne, one.m_dPeakMb);
    state.SetIterationTime(dThis);
  }
  const double dRuns = static_cast<double>(state.iterations());
  state.counters["wall_s"] = dWall / dRuns;
  state.counters["wall_1thread_s"] = dWallOne / dRuns;
  state.counters["best_s"] = dBest;
  state.counters["best_1thread_s"] = dBestOne;
  state.counters["x_1thread"] = dWall > 0 ? dWallOne / dWall : 0;
  state.counters["cpu_s"] = dCpu / dRuns;
  state.counters["cpu_1thread_s"] = dCpuOne / dRuns;
  state.counters["rss_MB"] = dPeak;
  state.counters["rss_1thread_MB"] = dPeakOne;
  state.counters["total_MB"] = 30.0 * static_cast<double>(fs::file_size(folder / "Vardlix20261101.xml")) / (1 << 20);
}

const int kRegistered = [] {
  for (const char* szCommand : {"json", "csv", "grep", "grep-i", "table", "stats", "check"}) {
    benchmark::RegisterBenchmark((std::string("BM_Tool/") + szCommand + "/clean").c_str(), BM_Tool, szCommand, "clean")
        ->Arg(10000)
        ->Arg(100000)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  }
  for (const char* szShape : {"cut", "bare", "noend", "zeros", "zerotail"}) {
    for (const char* szCommand : {"json", "check"}) {
      benchmark::RegisterBenchmark((std::string("BM_Tool/") + szCommand + "/" + szShape).c_str(), BM_Tool, szCommand,
                                   szShape)
          ->Args({500})
          ->Args({2000})
          ->Args({10000})
          ->Args({100000})
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
    }
  }
  benchmark::RegisterBenchmark("BM_CheckBesideShow/plain", BM_CheckBesideShow)
      ->Arg(40000)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(3);
  benchmark::RegisterBenchmark("BM_FollowPerRecord", BM_FollowPerRecord)
      ->Arg(1000)
      ->Arg(10000)
      ->Arg(100000)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);
  if (std::getenv("VARDLIX_BENCH_MONTH") == nullptr) return 0;
  for (const char* szCommand : {"show", "json", "report"}) {
    benchmark::RegisterBenchmark((std::string("BM_Month/") + szCommand).c_str(), BM_Month, szCommand)
        ->Arg(100000)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  }
  return 0;
}();

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--measure") {
    const CRun run = RunDirect(argv + 2);
    std::printf("%.6f %.3f %d\n", run.m_dCpu, run.m_dPeakMb, run.m_nStatus);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code error;
  fs::remove_all(BenchFolder(), error);
  return 0;
}
