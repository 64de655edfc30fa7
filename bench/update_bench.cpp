// Benchmarks of record updates and sequential search on a shared table:
// creating a table and appending 1,000,000 records under one table lock, and
// a LocateValue that scans all of them without a match, beside the physical
// reference (the finished file read in 64 KB blocks). Counters give records
// per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench_table.h"
#include "table/search.h"

namespace {

using namespace bench_table;

// Creates the table and appends kRecords records to it, shared, under one
// ALock.
bool CreateAndAppendAll(const std::string& path) {
  if (!CreateTable(path)) return false;
  qd::Use(path, nullptr, 0);
  if (qd::ErrorCode != 0 || !qd::ALock()) return false;
  qd::ClearRecord();
  for (std::int32_t i = 1; i <= kRecords; ++i) {
    FillNative(i);
    qd::Append();
  }
  const bool ok = qd::ErrorCode == 0 && qd::RecCount() == kRecords;
  qd::Unlock();
  qd::Close();
  return ok && qd::ErrorCode == 0;
}

std::string TablePath(const char* name) { return BenchDirectory("qd_update_bench") + "/" + name; }

void BM_CreateAndAppendUnderOneALock(benchmark::State& state) {
  SetUpEngine();
  const std::string path = TablePath("APPEND.DBF");
  for (auto _ : state) {
    if (!CreateAndAppendAll(path)) state.SkipWithError("append failed");
    state.PauseTiming();
    qd::platform::EraseFile(path);
    state.ResumeTiming();
  }
  RecordsPerSecond(state, kRecords);
}
BENCHMARK(BM_CreateAndAppendUnderOneALock)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

const std::string& LocateTable() {
  static const std::string path = [] {
    const std::string p = TablePath("LOCATE.DBF");
    CreateAndAppendAll(p);
    return p;
  }();
  return path;
}

void BM_FailedLocateValue(benchmark::State& state) {
  SetUpEngine();
  qd::Use(LocateTable(), nullptr, 0);
  const qd::SearchValue missing = qd::SearchValue::OfText("NOBODY");
  for (auto _ : state) {
    if (qd::LocateValue("NAME", missing, true, 1, false)) state.SkipWithError("found");
  }
  qd::Close();
  RecordsPerSecond(state, kRecords);
}
BENCHMARK(BM_FailedLocateValue)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReferenceRead64K(benchmark::State& state) {
  SetUpEngine();
  ReadFileIn64KBlocks(state, LocateTable());
}
BENCHMARK(BM_ReferenceRead64K)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
