// Benchmarks of memo values on a shared table, per memo variant: writing
// 100,000 values of 1 KB (each with its record, appended under one table
// lock), reading them back by record, rewriting them (dBASE IV reuses the
// old blocks), reading them as lines through a text file, and packing the
// memo file of the 100,000 values after every value was written twice.
// Counters give values per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "memo/memo_file.h"
#include "memo/memo_lines.h"
#include "memo/memo_pack.h"
#include "memo/memo_unit.h"
#include "platform/platform.h"
#include "platform/text_files.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace {

constexpr std::int32_t kValues = 100000;
constexpr std::size_t kValueSize = 1024;

std::string BenchDirectory() {
  std::string temp;
  qd::platform::TempDirectory(temp);
  const std::filesystem::path dir = std::filesystem::path(temp) / "qd_memo_bench";
  std::filesystem::create_directories(dir);
  return dir.generic_string();
}

// NAME C(10), NOTES M, as a table of the version with an empty memo file.
std::string CreateTable(std::uint8_t version) {
  const std::string base = BenchDirectory() + "/MEMO" + std::to_string(version);
  qd::CreateDBF(base + ".DBF", {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}});
  qd::platform::FileHandle file = qd::platform::kNoFile;
  qd::platform::OpenFile(base + ".DBF", 0x12, file);
  std::size_t done = 0;
  qd::platform::WriteAt(file, 0, &version, 1, done);
  qd::platform::CloseFile(file);
  qd::platform::EraseFile(base + ".DBT");
  qd::CreateMemofile(base + "." + qd::MemoFileExtension(version), version, 512, "bench");
  return base + ".DBF";
}

// One of 26 values of 1 KB, made once.
const std::string& Value(std::int32_t i) {
  static const std::vector<std::string> values = [] {
    std::vector<std::string> made;
    for (int v = 0; v < 26; ++v) {
      std::string value(kValueSize, 'a');
      for (std::size_t j = 0; j < kValueSize; ++j) value[j] = static_cast<char>('a' + (v + j) % 26);
      value.replace(kValueSize / 2, 2, "\r\n");
      made.push_back(value);
    }
    return made;
  }();
  return values[static_cast<std::size_t>(i % 26)];
}

std::int32_t Slot() {
  std::int32_t block = 0;
  std::memcpy(&block, qd::FieldAddress(2), 4);
  return block;
}

// Appends kValues records, each with its value, under one table lock.
bool WriteAll(const std::string& path) {
  qd::Use(path, nullptr, 0);
  if (qd::ErrorCode != 0 || !qd::ALock()) return false;
  qd::ClearRecord();
  for (std::int32_t i = 1; i <= kValues; ++i) {
    std::int32_t block = 0;
    if (!qd::WriteMemoValue(0, Value(i), block, "bench")) return false;
    std::memcpy(qd::FieldAddress(2), &block, 4);
    qd::Append();
  }
  const bool ok = qd::ErrorCode == 0 && qd::RecCount() == kValues;
  qd::Unlock();
  return ok;
}

void SetUpEngine() {
  qd::InitErrorUnit();
  qd::ImmediateDispatch = false;
  qd::AnsiTables = false;
  qd::InitMemoUnit();
  qd::Select(1);
}

void Count(benchmark::State& state) {
  state.counters["values/s"] =
      benchmark::Counter(static_cast<double>(kValues) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_WriteValues(benchmark::State& state) {
  SetUpEngine();
  const auto version = static_cast<std::uint8_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const std::string path = CreateTable(version);
    state.ResumeTiming();
    if (!WriteAll(path)) state.SkipWithError("write failed");
    qd::Close();
  }
  Count(state);
}

void BM_ReadValues(benchmark::State& state) {
  SetUpEngine();
  const std::string path = CreateTable(static_cast<std::uint8_t>(state.range(0)));
  if (!WriteAll(path)) return state.SkipWithError("building the table failed");
  std::string value;
  for (auto _ : state) {
    for (std::int32_t i = 1; i <= kValues; ++i) {
      qd::Go(i);
      if (!qd::ReadMemoValue(Slot(), value, "bench") || value.size() != kValueSize)
        return state.SkipWithError("read failed");
    }
  }
  qd::Close();
  Count(state);
}

void BM_RewriteValues(benchmark::State& state) {
  SetUpEngine();
  const std::string path = CreateTable(static_cast<std::uint8_t>(state.range(0)));
  if (!WriteAll(path)) return state.SkipWithError("building the table failed");
  for (auto _ : state) {
    for (std::int32_t i = 1; i <= kValues; ++i) {
      qd::Go(i);
      if (!qd::RLock()) return state.SkipWithError("record lock refused");
      std::int32_t block = 0;
      if (!qd::WriteMemoValue(Slot(), Value(i + 1), block, "bench")) return state.SkipWithError("write failed");
      std::memcpy(qd::FieldAddress(2), &block, 4);
      qd::Replace();
      qd::Unlock();
    }
  }
  qd::Close();
  Count(state);
}

void BM_ReadValuesAsLines(benchmark::State& state) {
  SetUpEngine();
  const std::string path = CreateTable(static_cast<std::uint8_t>(state.range(0)));
  if (!WriteAll(path)) return state.SkipWithError("building the table failed");
  std::string line;
  for (auto _ : state) {
    for (std::int32_t i = 1; i <= kValues; ++i) {
      qd::Go(i);
      std::int32_t block = Slot();
      qd::platform::TextFile file;
      if (!qd::AssignMemo(file, &block) || qd::platform::TextReset(file) != 0)
        return state.SkipWithError("read failed");
      while (!qd::platform::TextEof(file)) qd::platform::TextReadLine(file, line);
      qd::platform::TextClose(file);
    }
  }
  qd::Close();
  Count(state);
}

// PackMemofile over 100,000 values of 1 KB in a file that holds each value
// twice (a first version and its rewrite at the end), table open
// exclusively. The files are restored before each pack, outside the timing.
void BM_PackMemofile(benchmark::State& state) {
  SetUpEngine();
  const auto version = static_cast<std::uint8_t>(state.range(0));
  const std::string path = CreateTable(version);
  if (!WriteAll(path)) return state.SkipWithError("building the table failed");
  for (std::int32_t i = 1; i <= kValues; ++i) {
    qd::Go(i);
    if (!qd::RLock()) return state.SkipWithError("record lock refused");
    std::int32_t block = 0;
    // Other values of another length: dBASE IV cannot rewrite in place.
    if (!qd::WriteMemoValue(0, Value(i + 1) + "+", block, "bench")) return state.SkipWithError("write failed");
    std::memcpy(qd::FieldAddress(2), &block, 4);
    qd::Replace();
    qd::Unlock();
  }
  const std::string memo = qd::platform::ResolvePath(qd::WorkAreas[1]->memo->file_name);
  qd::Close();
  namespace fs = std::filesystem;
  const auto copy = fs::copy_options::overwrite_existing;
  fs::copy_file(path, path + ".keep", copy);
  fs::copy_file(memo, memo + ".keep", copy);
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(path + ".keep", path, copy);
    fs::copy_file(memo + ".keep", memo, copy);
    qd::Use(path + " EXCLUSIVE", nullptr, 0);
    state.ResumeTiming();
    qd::PackMemofile();
    if (qd::ErrorCode != 0) return state.SkipWithError("pack failed");
    state.PauseTiming();
    qd::Close();
    state.ResumeTiming();
  }
  Count(state);
}

// 0x83 dBASE III, 0x8B dBASE IV, 0xF5 FoxPro.
BENCHMARK(BM_WriteValues)->Arg(0x83)->Arg(0x8B)->Arg(0xF5)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_ReadValues)->Arg(0x83)->Arg(0x8B)->Arg(0xF5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RewriteValues)->Arg(0x83)->Arg(0x8B)->Arg(0xF5)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_PackMemofile)->Arg(0x83)->Arg(0x8B)->Arg(0xF5)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadValuesAsLines)->Arg(0x83)->Arg(0x8B)->Arg(0xF5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
