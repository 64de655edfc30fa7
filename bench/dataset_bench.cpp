// Benchmarks of the dataset component as hosts use it: TQdDbf over the
// 1,000,000-record table of bench_table.h, walked with First/Next while one
// float field is read and summed, shared (the dataset's default) and
// exclusive, beside the physical reference (the same file read in 64 KB
// blocks). Counters give records per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench_table.h"
#include "dataset/file_dataset.h"
#include "dataset/table_dataset.h"
#include "foundation/dates.h"

namespace {

using namespace bench_table;

const std::string& Table() {
  static const std::string path = BuildTable(BenchDirectory("qd_dataset_bench") + "/SCAN.DBF");
  return path;
}

void SetUpUnits() {
  SetUpEngine();
  qd::InitDateUnit();
  qd::InitDatasetUnit();
}

void FirstNextSum(benchmark::State& state, bool exclusive) {
  SetUpUnits();
  qd::TQdDbf dbf;
  dbf.SetDbfFileName(Table());
  dbf.SetExclusive(exclusive);
  dbf.Open();
  qd::fw::TField* amount = dbf.FieldByName("AMOUNT");
  double sum = 0;
  std::int64_t seen = 0;
  for (auto _ : state) {
    sum = 0;
    dbf.First();
    while (!dbf.Eof()) {
      sum += amount->AsFloat();
      ++seen;
      dbf.Next();
    }
  }
  if (seen != kRecords * static_cast<std::int64_t>(state.iterations()) || sum != ExpectedSum())
    state.SkipWithError("scan failed");
  dbf.Close();
  RecordsPerSecond(state, kRecords);
}

void BM_DbfFirstNextSumShared(benchmark::State& state) { FirstNextSum(state, false); }
BENCHMARK(BM_DbfFirstNextSumShared)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DbfFirstNextSumExclusive(benchmark::State& state) { FirstNextSum(state, true); }
BENCHMARK(BM_DbfFirstNextSumExclusive)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReferenceRead64K(benchmark::State& state) {
  SetUpEngine();
  ReadFileIn64KBlocks(state, Table());
}
BENCHMARK(BM_ReferenceRead64K)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
