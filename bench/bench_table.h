// Shared by the benchmark programs: the benchmark table of the performance
// record (1,000,000 records of NAME C(20), AMOUNT N(10,2), DAY D, FLAG L,
// 40 bytes each), built once per program, and the physical reference every
// program runs beside its own figures: reading the same file in 64 KB
// blocks, so that figures taken on different machines compare.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace bench_table {

inline constexpr std::int32_t kRecords = 1000000;

inline std::string BenchDirectory(const char* program) {
  std::string temp;
  qd::platform::TempDirectory(temp);
  const std::filesystem::path dir = std::filesystem::path(temp) / program;
  std::filesystem::create_directories(dir);
  return dir.generic_string();
}

inline void SetUpEngine() {
  qd::InitErrorUnit();
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = false;  // OEM tables, as by default
  qd::Select(1);
}

inline bool CreateTable(const std::string& path) {
  return qd::CreateDBF(path, {{"NAME", 'C', 20, 0},
                              {"AMOUNT", 'N', 10, 2},
                              {"DAY", 'D', 8, 0},
                              {"FLAG", 'L', 1, 0}});
}

// Record i in the current work area's native record.
inline void FillNative(std::int32_t i) {
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
inline std::string BuildTable(const std::string& path) {
  CreateTable(path);
  qd::Use(path + " EXCLUSIVE", nullptr, 0);
  qd::ClearRecord();
  for (std::int32_t i = 1; i <= kRecords; ++i) {
    FillNative(i);
    qd::Append();
  }
  qd::Close();
  return path;
}

// Sum of AMOUNT over every record: (1 + ... + kRecords) / 4.
inline double ExpectedSum() {
  return static_cast<double>(kRecords) * (kRecords + 1) / 2 * 0.25;
}

inline void RecordsPerSecond(benchmark::State& state, std::int64_t per_iteration) {
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(per_iteration) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}

// The physical reference: the whole file read in 64 KB blocks through the
// platform layer, warm page cache, as the engine's own reads go.
inline void ReadFileIn64KBlocks(benchmark::State& state, const std::string& path) {
  std::vector<std::uint8_t> block(64 * 1024);
  for (auto _ : state) {
    qd::platform::FileHandle file = qd::platform::kNoFile;
    if (qd::platform::OpenFile(path, 0x40, file) != 0) {
      state.SkipWithError("open failed");
      return;
    }
    std::uint64_t offset = 0;
    std::size_t done = 0;
    do {
      qd::platform::ReadAt(file, offset, block.data(), block.size(), done);
      offset += done;
    } while (done == block.size());
    qd::platform::CloseFile(file);
    benchmark::DoNotOptimize(block.data());
  }
  RecordsPerSecond(state, kRecords);
}

}  // namespace bench_table
