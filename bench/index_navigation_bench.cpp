// Benchmarks of index search, navigation and upkeep over 1,000,000 records
// with one C(20) tag: Find of random existing keys (time per Find), a full
// walk in index order (GoTop, then Skip(1) to the end; records per second),
// and appending 200,000 records to a shared table with two tags open under
// one ALock (records per second). The 1,000,000-record tree is grown by
// appending the records in a scattered key order into an empty tag.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_index.h"
#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "indexes/tag_header_layout.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/table_text.h"
#include "table/work_areas.h"

namespace {

constexpr std::int32_t kRecords = 1000000;
constexpr std::int32_t kAppended = 200000;

std::filesystem::path Directory() {
  std::string temp;
  qd::platform::TempDirectory(temp);
  const std::filesystem::path dir = std::filesystem::path(temp) / "qd_index_navigation_bench";
  std::filesystem::create_directories(dir);
  return dir;
}

// An index file with one empty tag per key expression.
void WriteIndex(const std::string& path, const std::vector<qd_bench::TagSpec>& tags) {
  std::filesystem::remove(path);
  qd_bench::WriteEmptyTags(path, tags);
}

// The name of record i: a number scattered over the key range.
std::string NameOf(std::int32_t i) {
  char text[32];
  std::snprintf(text, sizeof text, "name%010lld", static_cast<long long>(i) * 7919 % kRecords);
  return text;
}

void SetName(const std::string& name) {
  std::uint8_t* p = qd::FieldAddress(1);
  p[0] = static_cast<std::uint8_t>(name.size());
  std::memcpy(p + 1, name.data(), name.size());
}

void Start() {
  static bool started = false;
  if (started) return;
  started = true;
  qd::InitErrorUnit();
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = true;
  qd::InitExpressionUnit();
  qd::InitIndexUnit();
}

// Work area 1: the 1,000,000-record table with tag NAMES on NAME C(20),
// opened for exclusive use. Seconds the appends took go to `seconds`.
bool OpenLargeTable(double* seconds = nullptr) {
  static bool opened = false;
  static double took = 0;
  if (seconds != nullptr) *seconds = took;
  if (opened) return true;
  Start();
  const std::filesystem::path dir = Directory();
  const std::string table = (dir / "large.dbf").generic_string();
  std::filesystem::remove(table);
  qd::Select(1);
  if (!qd::CreateDBF(table, {{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}})) return false;
  qd::Use(table + " EXCLUSIVE", nullptr, 0);
  if (qd::ErrorCode != 0) return false;
  const std::string index = (dir / "large.mdx").generic_string();
  WriteIndex(index, {{"NAMES", "NAME", 'C', 20}});
  if (!qd::SetIndexTo(index)) return false;
  const auto begin = std::chrono::steady_clock::now();
  for (std::int32_t i = 0; i < kRecords; ++i) {
    qd::ClearRecord();
    SetName(NameOf(i));
    qd::Append();
    if (qd::ErrorCode != 0) return false;
  }
  took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  if (seconds != nullptr) *seconds = took;
  opened = true;
  return true;
}

void BM_Find(benchmark::State& state) {
  if (!OpenLargeTable()) {
    state.SkipWithError("table not made");
    return;
  }
  qd::Select(1);
  std::vector<std::string> keys;
  std::uint64_t seed = 12345;
  for (int i = 0; i < 65536; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    keys.push_back(NameOf(static_cast<std::int32_t>((seed >> 33) % kRecords)));
  }
  std::size_t next = 0;
  std::int64_t found = 0;
  for (auto _ : state) {
    found += qd::Find(keys[next]) ? 1 : 0;
    next = (next + 1) & 65535;
  }
  if (found != static_cast<std::int64_t>(state.iterations())) state.SkipWithError("a key was not found");
  state.counters["finds/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_WalkInIndexOrder(benchmark::State& state) {
  if (!OpenLargeTable()) {
    state.SkipWithError("table not made");
    return;
  }
  qd::Select(1);
  std::int64_t records = 0;
  for (auto _ : state) {
    std::int32_t count = 0;
    for (qd::GoTop(); !qd::dEOF(); qd::Skip(1)) ++count;
    if (count != kRecords) state.SkipWithError("walk missed records");
    records += count;
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}

void BM_AppendOneTagExclusive(benchmark::State& state) {
  double seconds = 0;
  if (!OpenLargeTable(&seconds)) {
    state.SkipWithError("table not made");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(seconds);
  state.counters["records/s"] = kRecords / seconds;
}

void BM_AppendTwoTagsUnderALock(benchmark::State& state) {
  Start();
  const std::filesystem::path dir = Directory();
  const std::string table = (dir / "append.dbf").generic_string();
  const std::string index = (dir / "append.mdx").generic_string();
  std::int64_t appended = 0;
  for (auto _ : state) {
    state.PauseTiming();
    qd::Select(2);
    qd::Close();
    std::filesystem::remove(table);
    qd::CreateDBF(table, {{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}});
    qd::Use(table, nullptr, 0);  // shared
    WriteIndex(index, {{"NAMES", "NAME", 'C', 20}, {"AMOUNTS", "AMOUNT", 'N', 12}});
    qd::SetIndexTo(index);
    state.ResumeTiming();
    if (!qd::ALock()) {
      state.SkipWithError("no table lock");
      return;
    }
    for (std::int32_t i = 0; i < kAppended; ++i) {
      qd::ClearRecord();
      SetName(NameOf(i));
      const double amount = (i % 20000) * 1.25;
      std::memcpy(qd::FieldAddress(2), &amount, sizeof amount);
      qd::Append();
    }
    qd::Unlock();
    if (qd::ErrorCode != 0) state.SkipWithError("append failed");
    appended += kAppended;
    state.PauseTiming();
    qd::Close();
    state.ResumeTiming();
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(appended), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_AppendTwoTagsUnderALock)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendOneTagExclusive)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Find)->Iterations(200000)->Repetitions(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkInIndexOrder)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
