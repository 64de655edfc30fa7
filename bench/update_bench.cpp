// Benchmarks of record updates and sequential search on a shared table:
// appending 1,000,000 records under one table lock, and a LocateValue that
// scans all of them without a match. Counters give records per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/search.h"
#include "table/work_areas.h"

namespace {

constexpr std::int32_t kRecords = 1000000;

std::string BenchDirectory() {
  std::string temp;
  qd::platform::TempDirectory(temp);
  const std::filesystem::path dir = std::filesystem::path(temp) / "qd_update_bench";
  std::filesystem::create_directories(dir);
  return dir.generic_string();
}

// NAME C(20), AMOUNT N(10,2), DAY D, FLAG L.
std::string CreateTable(const std::string& name) {
  const std::string path = BenchDirectory() + "/" + name;
  qd::CreateDBF(path, {{"NAME", 'C', 20, 0},
                       {"AMOUNT", 'N', 10, 2},
                       {"DAY", 'D', 8, 0},
                       {"FLAG", 'L', 1, 0}});
  return path;
}

void FillNative(std::int32_t i) {
  char name[21];
  const int length = std::snprintf(name, sizeof name, "NAME%08d", i);
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

// Appends kRecords records to a new shared table under one ALock.
bool AppendAll(const std::string& path) {
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
  return ok;
}

void SetUpEngine() {
  qd::InitErrorUnit();
  qd::ImmediateDispatch = false;
  qd::AnsiTables = false;  // OEM tables, as by default
  qd::Select(1);
}

void BM_AppendUnderOneALock(benchmark::State& state) {
  SetUpEngine();
  for (auto _ : state) {
    state.PauseTiming();
    const std::string path = CreateTable("APPEND.DBF");
    state.ResumeTiming();
    if (!AppendAll(path)) state.SkipWithError("append failed");
    state.PauseTiming();
    qd::platform::EraseFile(path);
    state.ResumeTiming();
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(kRecords) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AppendUnderOneALock)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_FailedLocateValue(benchmark::State& state) {
  SetUpEngine();
  const std::string path = CreateTable("LOCATE.DBF");
  if (!AppendAll(path)) {
    state.SkipWithError("building the table failed");
    return;
  }
  qd::Use(path, nullptr, 0);
  const qd::SearchValue missing = qd::SearchValue::OfText("NOBODY");
  for (auto _ : state) {
    if (qd::LocateValue("NAME", missing, true, 1, false)) state.SkipWithError("found");
  }
  qd::Close();
  qd::platform::EraseFile(path);
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(kRecords) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FailedLocateValue)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
