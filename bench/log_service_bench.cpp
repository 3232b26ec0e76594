// WriteVardlix end to end against day files of 1,000, 10,000 and 100,000
// records, beside the floor: the same file opened, read whole into a freshly
// allocated buffer, written back from its first byte and closed, with no
// parsing. Each call of WriteVardlix does that much file work and more, so
// the ratio of the two is the price of the XML work and of every copy.
// BM_OneWriteShare measures no time: how many of the sample records an
// update writes in one write.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "format/log_layout.h"
#include "platform/platform_files.h"
#include "sample_logs.h"
#include "service/library_state.h"
#include "vardlix.h"

namespace {

// 7 December 2026 at noon UTC: the day file is Vardlix20261207.xml.
constexpr int64_t kBenchClock = 1796644800;

// A log folder of its own holding one day file of a given number of
// records, as the library writes it.
class CDayFile {
 public:
  explicit CDayFile(int nRecords) {
    std::random_device random;
    m_folder = std::filesystem::temp_directory_path() / ("vardlix-bench-" + std::to_string(random()));
    std::filesystem::create_directories(m_folder);
    m_path = m_folder / "Vardlix20261207.xml";
    const std::u16string strText = MakeDailyLogText(nRecords);
    m_strBytes = "\xFF\xFE";
    m_strBytes.append(reinterpret_cast<const char*>(strText.data()), strText.size() * 2);
    Restore();
    LogFolder() = m_folder.u16string();
    g_nLogLife.store(kDefaultLogLife);
    SetClockForTesting(kBenchClock);
  }
  ~CDayFile() {
    ResetClockForTesting();
    std::error_code error;
    std::filesystem::remove_all(m_folder, error);
  }

  void Restore() const { std::ofstream(m_path, std::ios::binary | std::ios::trunc) << m_strBytes; }
  std::u16string Path() const { return m_path.u16string(); }
  int64_t Size() const { return static_cast<int64_t>(m_strBytes.size()); }

 private:
  std::filesystem::path m_folder;
  std::filesystem::path m_path;
  std::string m_strBytes;  // the file's content before the first record is added
};

// Minor page faults per iteration, from the count before the first one.
void ReportFaults(benchmark::State& state, int64_t nFaultsBefore) {
  state.counters["faults"] =
      static_cast<double>(CountMinorFaults() - nFaultsBefore) / static_cast<double>(state.iterations());
}

void BM_WriteVardlix(benchmark::State& state) {
  CDayFile day(static_cast<int>(state.range(0)));
  const CVardlixString aArguments[5] = {{u"Info"}, {u"Main"}, {u"Open"}, {u"file=report.xml"}, {u"Opened"}};
  // Most calls meet the file as the previous call left it, as in a host's
  // steady use; every tenth restores the starting file, so that the file
  // stays within 1% of its nominal size.
  constexpr int kCallsPerRestore = 10;
  int nCallsSinceRestore = 0;
  const int64_t nFaults = CountMinorFaults();
  for (auto _ : state) {
    WriteVardlix(aArguments[0], aArguments[1], aArguments[2], aArguments[3], aArguments[4]);
    if (++nCallsSinceRestore == kCallsPerRestore) {
      state.PauseTiming();
      day.Restore();
      nCallsSinceRestore = 0;
      state.ResumeTiming();
    }
  }
  ReportFaults(state, nFaults);
  state.SetBytesProcessed(state.iterations() * day.Size());
}

void BM_FileFloor(benchmark::State& state) {
  CDayFile day(static_cast<int>(state.range(0)));
  const std::u16string strPath = day.Path();
  const int64_t nFaults = CountMinorFaults();
  for (auto _ : state) {
    CFile file;
    if (!file.Open(strPath, CFile::modeReadWriteDenyWrite)) {
      state.SkipWithError("the day file cannot be opened");
      break;
    }
    const auto nLength = static_cast<size_t>(file.GetLength());
    std::unique_ptr<char[]> pBuffer(new char[nLength]);
    file.Read(pBuffer.get(), nLength);
    file.SeekToBegin();
    file.Write(pBuffer.get(), nLength);
    file.Close();
    benchmark::DoNotOptimize(pBuffer.get());
  }
  ReportFaults(state, nFaults);
  state.SetBytesProcessed(state.iterations() * day.Size());
}

// The file's bytes as they are now.
std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Not a speed: the share of the sample records that go into the day's file
// in one write, which no kill can cut. Those are the records whose changed
// bytes, from the first that differs from the old file to the new end, lie
// within one page as IsWriteAllOrNothing says (on Windows, every record).
// The sample records are added in turn to the day file of 1,000 records,
// and the file is compared before and after each call.
void BM_OneWriteShare(benchmark::State& state) {
  CDayFile day(1000);
  const std::filesystem::path path(day.Path());
  const int nRecords = static_cast<int>(state.range(0));
  int64_t nOneWrite = 0;
  for (auto _ : state) {
    day.Restore();
    std::string strBefore = ReadFileBytes(path);
    for (int n = 0; n < nRecords; ++n) {
      const CVardlixString aArguments[5] = {
          {SampleField(n, 0)}, {SampleField(n, 1)}, {SampleField(n, 2)}, {SampleField(n, 3)}, {SampleField(n, 4)}};
      WriteVardlix(aArguments[0], aArguments[1], aArguments[2], aArguments[3], aArguments[4]);
      std::string strAfter = ReadFileBytes(path);
      const auto nFirst = static_cast<size_t>(
          std::mismatch(strBefore.begin(), strBefore.end(), strAfter.begin(), strAfter.end()).first -
          strBefore.begin());
      nOneWrite += strAfter.size() >= strBefore.size() && IsWriteAllOrNothing(nFirst, strAfter.size() - nFirst);
      strBefore = std::move(strAfter);
    }
  }
  state.counters["records"] = static_cast<double>(nRecords);
  state.counters["one_write_share"] =
      static_cast<double>(nOneWrite) / static_cast<double>(state.iterations() * nRecords);
}

}  // namespace

BENCHMARK(BM_OneWriteShare)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileFloor)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteVardlix)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
