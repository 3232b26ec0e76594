// Load speed of the engine beside pugixml reading the same UTF-16 bytes, and
// the cost of appending one record as the log service does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <pugixml.hpp>

#include "markup/large_blocks.h"
#include "markup/markup.h"
#include "sample_logs.h"

namespace {

const std::u16string& LogText(int nRecords) {
  static std::map<int, std::u16string> cache;
  auto it = cache.find(nRecords);
  if (it == cache.end()) it = cache.emplace(nRecords, MakeDailyLogText(nRecords)).first;
  return it->second;
}

// The form hosts and the engine's other callers use: a zero-terminated text
// that stays with the caller, so SetDocument finds its length and copies it.
void BM_SetDocumentPointer(benchmark::State& state) {
  const std::u16string& strText = LogText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    CXmlDocument doc;
    bool bParsed = doc.SetDocument(strText.c_str());
    benchmark::DoNotOptimize(bParsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(strText.size() * 2));
}

// The log service reads a file straight into a string and moves it into the
// document: the text is prepared outside the timed region and moved in.
void BM_SetDocumentMoved(benchmark::State& state) {
  const std::u16string& strText = LogText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    std::u16string strCopy = strText;
    state.ResumeTiming();
    CXmlDocument doc;
    bool bParsed = doc.SetDocument(std::move(strCopy));
    benchmark::DoNotOptimize(bParsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(strText.size() * 2));
}

// Minor page faults per iteration, from the count before the first one.
void ReportFaults(benchmark::State& state, int64_t nFaultsBefore) {
  state.counters["faults"] =
      static_cast<double>(CountMinorFaults() - nFaultsBefore) / static_cast<double>(state.iterations());
}

// A document as a WriteVardlix call gets it: the file reader makes a new
// string with room for the record to come (ReserveDocumentText), fills it a
// piece at a time (a copy from memory here, where the reader reads the
// file), and moves it into a new document. The reader's search for a zero
// unit is left out: it belongs to the file, not to the engine.
CXmlDocument& LoadFreshDocument(CXmlDocument& doc, const std::u16string& strText) {
  constexpr size_t kPieceUnits = 128 * 1024;
  constexpr size_t kGrowthRoomUnits = 4096;
  std::u16string strRead;
  ReserveDocumentText(strRead, strText.size() + kGrowthRoomUnits);
  for (size_t nDone = 0; nDone < strText.size();) {
    const size_t nPiece = std::min(kPieceUnits, strText.size() - nDone);
    strRead.resize(nDone + nPiece);
    std::memcpy(strRead.data() + nDone, strText.data() + nDone, nPiece * 2);
    nDone += nPiece;
  }
  bool bParsed = doc.SetDocument(std::move(strRead));
  benchmark::DoNotOptimize(bParsed);
  return doc;
}

// The whole load of a WriteVardlix call.
void BM_SetDocumentFresh(benchmark::State& state) {
  const std::u16string& strText = LogText(static_cast<int>(state.range(0)));
  const int64_t nFaults = CountMinorFaults();
  for (auto _ : state) {
    CXmlDocument doc;
    LoadFreshDocument(doc, strText);
  }
  ReportFaults(state, nFaults);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(strText.size() * 2));
}

// The load, then a walk over every record and its fields, found by name as
// the library and the tool find them.
void BM_FreshDocumentWalk(benchmark::State& state) {
  const std::u16string& strText = LogText(static_cast<int>(state.range(0)));
  const int64_t nFaults = CountMinorFaults();
  for (auto _ : state) {
    CXmlDocument doc;
    LoadFreshDocument(doc, strText);
    int64_t nFields = 0;
    const int32_t iRoot = doc.LocateElement(0, 0, u"\u65e5\u5fd7");
    for (int32_t iRecord = doc.LocateElement(iRoot, 0, u"\u8bb0\u5f55"); iRecord != 0;
         iRecord = doc.LocateElement(iRoot, iRecord, u"\u8bb0\u5f55")) {
      for (int32_t iField = doc.LocateElement(iRecord, 0, nullptr); iField != 0;
           iField = doc.LocateElement(iRecord, iField, nullptr)) {
        ++nFields;
      }
    }
    benchmark::DoNotOptimize(nFields);
  }
  ReportFaults(state, nFaults);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(strText.size() * 2));
}

// From a string that stays with the caller: SetDocument copies it.
void BM_SetDocumentCopied(benchmark::State& state) {
  const std::u16string& strText = LogText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    CXmlDocument doc;
    bool bParsed = doc.SetDocument(strText);
    benchmark::DoNotOptimize(bParsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(strText.size() * 2));
}

void BM_PugixmlLoadUtf16(benchmark::State& state) {
  const std::u16string& strText = LogText(static_cast<int>(state.range(0)));
  const int64_t nFaults = CountMinorFaults();
  for (auto _ : state) {
    pugi::xml_document doc;
    pugi::xml_parse_result result =
        doc.load_buffer(strText.data(), strText.size() * 2, pugi::parse_default, pugi::encoding_utf16_le);
    benchmark::DoNotOptimize(result);
  }
  ReportFaults(state, nFaults);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(strText.size() * 2));
}

// The document of BM_AddRecord goes back to its starting text after this
// many records, so that it stays within 256 records of its nominal size.
constexpr int kRecordsPerRestore = 256;
// Each restore is a copy and a parse outside the timing, of 45 MB at 100,000
// records. Left to choose its own iteration count, the benchmark would add
// about half a million records, and their 2,000 restores take minutes; 64
// restores time 16,384 records, plenty for a cost of about a microsecond.
constexpr int kAddRecordIterations = 64 * kRecordsPerRestore;

// One record with its six fields appended at the end of the root, on a
// parsed document. The text is restored outside the timing.
void BM_AddRecord(benchmark::State& state) {
  const std::u16string& strText = LogText(static_cast<int>(state.range(0)));
  CXmlDocument doc;
  int nAdded = 0;
  for (auto _ : state) {
    if (nAdded % kRecordsPerRestore == 0) {
      state.PauseTiming();
      std::u16string strCopy;
      strCopy.reserve(strText.size() + kRecordsPerRestore * 300);  // room as the log service leaves it
      strCopy = strText;
      doc.SetDocument(std::move(strCopy));
      doc.FindNextElement(u"\u65e5\u5fd7");
      doc.EnterElement();
      while (doc.FindNextElement(u"\u8bb0\u5f55")) {
      }
      state.ResumeTiming();
    }
    doc.AddElement(u"\u8bb0\u5f55");
    doc.EnterElement();
    doc.AddElement(u"\u65f6\u95f4", u"2026.12.07 10:11:12");
    doc.AddElement(u"\u7c7b\u578b", SampleField(nAdded, 0));
    doc.AddElement(u"\u4f4d\u7f6e", SampleField(nAdded, 1));
    doc.AddElement(u"\u64cd\u4f5c", SampleField(nAdded, 2));
    doc.AddElement(u"\u53c2\u6570", SampleField(nAdded, 3));
    doc.AddElement(u"\u63cf\u8ff0", SampleField(nAdded, 4));
    doc.LeaveElement();
    ++nAdded;
  }
}

}  // namespace

BENCHMARK(BM_SetDocumentPointer)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetDocumentMoved)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetDocumentFresh)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FreshDocumentWalk)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetDocumentCopied)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PugixmlLoadUtf16)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddRecord)->Arg(1000)->Arg(100000)->Iterations(kAddRecordIterations)->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
