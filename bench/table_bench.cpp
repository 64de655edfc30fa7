// Benchmarks of the table storage core on the 1,000,000-record table of
// bench_table.h: appending exclusively, reading records by number (one
// positioned read each), and full GoTop/Skip(1) scans with the native
// conversion and one field summed, exclusive and shared, beside the physical
// reference (the same file read in 64 KB blocks). Counters give records per
// second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "bench_table.h"

namespace {

using namespace bench_table;

// The filled table, built once per run.
const std::string& Table() {
  static const std::string path = BuildTable(BenchDirectory("qd_table_bench") + "/SCAN.DBF");
  return path;
}

void BM_AppendExclusive(benchmark::State& state) {
  SetUpEngine();
  const std::string path = BenchDirectory("qd_table_bench") + "/APPEND.DBF";
  for (auto _ : state) {
    BuildTable(path);
    state.PauseTiming();
    qd::platform::EraseFile(path);
    state.ResumeTiming();
  }
  RecordsPerSecond(state, kRecords);
}
BENCHMARK(BM_AppendExclusive)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// GetDbfRecord by number on a shared table: one positioned read per record.
void BM_ReadByNumberShared(benchmark::State& state) {
  SetUpEngine();
  qd::Use(Table(), nullptr, 0);
  qd::WorkArea* area = qd::CurrentWorkArea();
  for (auto _ : state) {
    for (std::int32_t n = 1; n <= kRecords; ++n) qd::GetDbfRecord(*area, n);
    benchmark::DoNotOptimize(area->record.data());
  }
  if (qd::ErrorCode != 0) state.SkipWithError("read failed");
  qd::Close();
  RecordsPerSecond(state, kRecords);
}
BENCHMARK(BM_ReadByNumberShared)->Unit(benchmark::kMillisecond)->UseRealTime();

// GoTop, then Skip(1) to the end, summing AMOUNT from the native record.
void ScanAndSum(benchmark::State& state, const char* options) {
  SetUpEngine();
  qd::Use(Table() + options, nullptr, 0);
  double sum = 0;
  std::int64_t seen = 0;
  for (auto _ : state) {
    sum = 0;
    qd::GoTop();
    while (!qd::dEOF()) {
      double amount;
      std::memcpy(&amount, qd::FieldAddress(2), sizeof amount);
      sum += amount;
      ++seen;
      qd::Skip(1);
    }
  }
  if (qd::ErrorCode != 0 || seen != kRecords * static_cast<std::int64_t>(state.iterations()) ||
      sum != ExpectedSum())
    state.SkipWithError("scan failed");
  qd::Close();
  RecordsPerSecond(state, kRecords);
}

void BM_ScanSumExclusive(benchmark::State& state) { ScanAndSum(state, " EXCLUSIVE"); }
BENCHMARK(BM_ScanSumExclusive)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanSumShared(benchmark::State& state) { ScanAndSum(state, ""); }
BENCHMARK(BM_ScanSumShared)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReferenceRead64K(benchmark::State& state) { ReadFileIn64KBlocks(state, Table()); }
BENCHMARK(BM_ReferenceRead64K)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
