// Benchmarks of the table storage core on a 1,000,000-record table of
// C(20), N(10,2), D and L fields (40-byte records), generated at run time:
// appending, reading records by number (one positioned read each), and full
// GoTop/Skip(1) scans with the native conversion in exclusive and shared
// mode, against reading the same file with cat as the physical reference.
// Counters give records per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace {

constexpr std::int32_t kRecords = 1000000;

std::string BenchDirectory() {
  std::string temp;
  qd::platform::TempDirectory(temp);
  const std::filesystem::path dir = std::filesystem::path(temp) / "qd_table_bench";
  std::filesystem::create_directories(dir);
  return dir.generic_string();
}

void SetUpEngine() {
  qd::InitErrorUnit();
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = false;  // OEM tables, as by default
  qd::Select(1);
}

void FillNative(std::int32_t i) {
  char name[21];
  const int length = std::snprintf(name, sizeof name, "NAME%08d", static_cast<int>(i));
  std::uint8_t* slot = qd::FieldAddress(1);
  slot[0] = static_cast<std::uint8_t>(length);
  std::memcpy(slot + 1, name, static_cast<std::size_t>(length));
  const double amount = i * 0.25;
  std::memcpy(qd::FieldAddress(2), &amount, sizeof amount);
  std::uint8_t* day = qd::FieldAddress(3);
  day[0] = 8;
  std::memcpy(day + 1, "12/31/99", 8);
  qd::FieldAddress(4)[0] = static_cast<std::uint8_t>(i & 1);
}

// Creates and fills a table of kRecords records exclusively; its path.
std::string BuildTable(const std::string& name) {
  const std::string path = BenchDirectory() + "/" + name;
  qd::CreateDBF(path, {{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}, {"DAY", 'D', 8, 0},
                       {"FLAG", 'L', 1, 0}});
  qd::Use(path + " EXCLUSIVE", nullptr, 0);
  qd::ClearRecord();
  for (std::int32_t i = 1; i <= kRecords; ++i) {
    FillNative(i);
    qd::Append();
  }
  qd::Close();
  return path;
}

// The filled table, built once per run.
const std::string& Table() {
  static const std::string path = BuildTable("SCAN.DBF");
  return path;
}

void RecordsPerSecond(benchmark::State& state, std::int64_t per_iteration) {
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(per_iteration) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}

void BM_AppendExclusive(benchmark::State& state) {
  SetUpEngine();
  for (auto _ : state) {
    const std::string path = BuildTable("APPEND.DBF");
    state.PauseTiming();
    qd::platform::EraseFile(path);
    state.ResumeTiming();
  }
  RecordsPerSecond(state, kRecords);
}
BENCHMARK(BM_AppendExclusive)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

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

void Scan(benchmark::State& state, const char* options) {
  SetUpEngine();
  qd::Use(Table() + options, nullptr, 0);
  std::int64_t seen = 0;
  for (auto _ : state) {
    qd::GoTop();
    while (!qd::dEOF()) {
      ++seen;
      qd::Skip(1);
    }
  }
  if (qd::ErrorCode != 0 || seen != kRecords * static_cast<std::int64_t>(state.iterations()))
    state.SkipWithError("scan failed");
  qd::Close();
  RecordsPerSecond(state, kRecords);
}

void BM_ScanExclusive(benchmark::State& state) { Scan(state, " EXCLUSIVE"); }
BENCHMARK(BM_ScanExclusive)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanShared(benchmark::State& state) { Scan(state, ""); }
BENCHMARK(BM_ScanShared)->Unit(benchmark::kMillisecond)->UseRealTime();

// The physical reference: the same file read by cat.
void BM_CatReference(benchmark::State& state) {
  const std::string command = "cat \"" + Table() + "\" > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
  }
  RecordsPerSecond(state, kRecords);
}
BENCHMARK(BM_CatReference)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
