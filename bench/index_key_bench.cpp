// Benchmarks of index keys: encoding and comparing numeric keys, and making
// the key of each record for a character, a numeric and a date tag of an
// opened index file over 1,000,000 generated records (each record is brought
// into the work area's record buffer as a read does). Counters give keys
// per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bench_index.h"
#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "indexes/tag_header_layout.h"
#include "platform/platform.h"
#include "table/table_text.h"
#include "table/work_areas.h"

namespace {

constexpr std::int32_t kRecords = 1000000;
// NAME C(15), AMOUNT N(10,2), BORN D.
constexpr std::size_t kRecordLength = 1 + 15 + 10 + 8;

std::vector<char> Records;

std::string WriteTable(const std::filesystem::path& dir) {
  const std::string path = (dir / "keys.dbf").generic_string();
  const char* names[] = {"NAME", "AMOUNT", "BORN"};
  const char types[] = {'C', 'N', 'D'};
  const int lengths[] = {15, 10, 8};
  const std::size_t header_length = 32 + 32 * 3 + 1;
  std::string header(header_length, '\0');
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 1;
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<char>((kRecords >> (8 * i)) & 0xFF);
  header[8] = static_cast<char>(header_length & 0xFF);
  header[9] = static_cast<char>(header_length >> 8);
  header[10] = static_cast<char>(kRecordLength);
  for (int i = 0; i < 3; ++i) {
    const std::size_t d = 32 + 32 * static_cast<std::size_t>(i);
    std::memcpy(&header[d], names[i], std::strlen(names[i]));
    header[d + 11] = types[i];
    header[d + 16] = static_cast<char>(lengths[i]);
    header[d + 17] = static_cast<char>(i == 1 ? 2 : 0);
  }
  header[header_length - 1] = 0x0D;
  Records.clear();
  Records.reserve(static_cast<std::size_t>(kRecords) * kRecordLength);
  char text[64];
  for (std::int32_t i = 0; i < kRecords; ++i) {
    std::snprintf(text, sizeof text, " %-15.15s%10.2f%04d%02d%02d", ("name" + std::to_string(static_cast<std::int64_t>(i) * 7919 % kRecords)).c_str(),
                  (i % 20000) * 1.25 - 9000.0, 1950 + i % 70, 1 + i % 12, 1 + i % 28);
    Records.insert(Records.end(), text, text + kRecordLength);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  out.write(Records.data(), static_cast<std::streamsize>(Records.size()));
  out.put(0x1A);
  return path;
}

// An index file with one empty tag per key expression.
void WriteIndex(const std::string& path) {
  qd_bench::WriteEmptyTags(path, {{"NAMES", "UPPER(NAME)", 'C', 15}, {"AMOUNTS", "AMOUNT", 'N', 12}, {"BORN", "BORN", 'D', 8}});
}

bool OpenIndexedTable() {
  static bool opened = false;
  if (opened) return true;
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = true;
  qd::InitExpressionUnit();
  qd::InitIndexUnit();
  std::string temp;
  qd::platform::TempDirectory(temp);
  const std::filesystem::path dir = std::filesystem::path(temp) / "qd_index_key_bench";
  std::filesystem::create_directories(dir);
  const std::string table = WriteTable(dir);
  qd::Select(1);
  qd::Use(table + " EXCLUSIVE", nullptr, 0);
  if (qd::ErrorCode != 0) return false;
  const std::string index = (dir / "keys.mdx").generic_string();
  WriteIndex(index);
  opened = qd::SetIndexTo(index);
  return opened;
}

void MakeKeys(benchmark::State& state, int slot) {
  if (!OpenIndexedTable()) {
    state.SkipWithError("index not opened");
    return;
  }
  qd::WorkArea* area = qd::WorkAreas[1].get();
  std::int64_t keys = 0;
  std::int32_t next = 0;
  for (auto _ : state) {
    std::memcpy(area->record.data(), &Records[static_cast<std::size_t>(next) * kRecordLength], kRecordLength);
    area->record_number = next + 1;
    benchmark::DoNotOptimize(qd::MakeKey(slot));
    if (++next == kRecords) next = 0;
    ++keys;
  }
  state.counters["keys/s"] = benchmark::Counter(static_cast<double>(keys), benchmark::Counter::kIsRate);
}

void BM_MakeCharacterKey(benchmark::State& state) { MakeKeys(state, 1); }
void BM_MakeNumericKey(benchmark::State& state) { MakeKeys(state, 2); }
void BM_MakeDateKey(benchmark::State& state) { MakeKeys(state, 3); }

std::vector<double> RandomValues() {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> exponent(-3, 12);
  std::vector<double> values(1 << 16);
  for (double& v : values) v = (random() % 2 ? -1 : 1) * std::pow(10.0, exponent(random));
  return values;
}

void BM_EncodeNumericKey(benchmark::State& state) {
  const std::vector<double> values = RandomValues();
  std::uint8_t key[12];
  std::size_t next = 0;
  for (auto _ : state) {
    qd::EncodeNumericKey(values[next], 2, key);
    benchmark::DoNotOptimize(key);
    next = (next + 1) & (values.size() - 1);
  }
  state.counters["keys/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CompareNumericKeys(benchmark::State& state) {
  const std::vector<double> values = RandomValues();
  std::vector<std::uint8_t> keys(values.size() * 12);
  for (std::size_t i = 0; i < values.size(); ++i) qd::EncodeNumericKey(values[i], 2, &keys[i * 12]);
  std::size_t next = 0;
  for (auto _ : state) {
    const std::size_t other = (next + 1) & (values.size() - 1);
    benchmark::DoNotOptimize(qd::CompareNumericKeys(&keys[next * 12], &keys[other * 12], 12));
    next = other;
  }
  state.counters["comparisons/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_EncodeNumericKey);
BENCHMARK(BM_CompareNumericKeys);
BENCHMARK(BM_MakeCharacterKey)->Iterations(kRecords);
BENCHMARK(BM_MakeNumericKey)->Iterations(kRecords);
BENCHMARK(BM_MakeDateKey)->Iterations(kRecords);

}  // namespace

BENCHMARK_MAIN();
