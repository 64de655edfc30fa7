// Benchmarks of expression evaluation: typical key and condition expressions
// compiled once and evaluated over the 1,000,000 records of a generated
// table. Each record is brought into the work area's record buffer as a read
// does, then the expression runs. Counters give evaluations per second and
// allocations per evaluation (which must stay 0).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/work_areas.h"

namespace {
long AllocationCount = 0;
}

// The replacements pair malloc with free; GCC cannot see that once they are
// inlined into callers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  ++AllocationCount;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++AllocationCount;
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept {
  return operator new(size, t);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

constexpr std::int32_t kRecords = 1000000;
// LAST C(15), FIRST C(10), SALARY N(10,2), HIRED D, START D.
constexpr std::size_t kRecordLength = 1 + 15 + 10 + 10 + 8 + 8;

const char* const kLastNames[] = {"Smith", "Jones",  "Miller", "Garcia",
                                  "Brown", "Wilson", "Moore",  "Taylor"};
const char* const kFirstNames[] = {"Anna", "Bob", "Carla", "Dirk", "Eve", "Frank"};

std::vector<char> Records;

void AppendField(std::string& out, const std::string& text, std::size_t width) {
  std::string field = text.substr(0, width);
  field.resize(width, ' ');
  out += field;
}

// Writes the table file (and keeps its records in memory).
std::string WriteTable() {
  std::string temp;
  qd::platform::TempDirectory(temp);
  const std::filesystem::path dir = std::filesystem::path(temp) / "qd_expression_bench";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "people.dbf").generic_string();

  struct Field {
    const char* name;
    char type;
    int length;
    int decimals;
  };
  const Field fields[] = {{"LAST", 'C', 15, 0},
                          {"FIRST", 'C', 10, 0},
                          {"SALARY", 'N', 10, 2},
                          {"HIRED", 'D', 8, 0},
                          {"START", 'D', 8, 0}};
  const std::size_t header_length = 32 + 32 * 5 + 1;
  std::string header(header_length, '\0');
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 1;
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<char>((kRecords >> (8 * i)) & 0xFF);
  header[8] = static_cast<char>(header_length & 0xFF);
  header[9] = static_cast<char>(header_length >> 8);
  header[10] = static_cast<char>(kRecordLength);
  for (int i = 0; i < 5; ++i) {
    const std::size_t d = 32 + 32 * static_cast<std::size_t>(i);
    std::memcpy(&header[d], fields[i].name, std::strlen(fields[i].name));
    header[d + 11] = fields[i].type;
    header[d + 16] = static_cast<char>(fields[i].length);
    header[d + 17] = static_cast<char>(fields[i].decimals);
  }
  header[header_length - 1] = 0x0D;

  Records.clear();
  Records.reserve(static_cast<std::size_t>(kRecords) * kRecordLength);
  std::string record;
  char number[32];
  for (std::int32_t i = 0; i < kRecords; ++i) {
    record = " ";
    AppendField(record, kLastNames[i % 8] + std::to_string(i % 1000), 15);
    AppendField(record, kFirstNames[i % 6], 10);
    std::snprintf(number, sizeof number, "%10.2f", 1000.0 + (i % 9000) * 0.75);
    record += number;
    std::snprintf(number, sizeof number, "%04d%02d%02d", 1990 + i % 30, 1 + i % 12, 1 + i % 28);
    record += number;
    std::snprintf(number, sizeof number, "%04d%02d%02d", 1995 + i % 20, 1 + i % 12, 1 + i % 28);
    record += number;
    Records.insert(Records.end(), record.begin(), record.end());
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  out.write(Records.data(), static_cast<std::streamsize>(Records.size()));
  out.put(0x1A);
  return path;
}

bool OpenTable() {
  static bool opened = false;
  if (opened) return true;
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = true;
  const std::string path = WriteTable();
  qd::Select(1);
  qd::Use(path, nullptr, 0);
  opened = qd::ErrorCode == 0;
  return opened;
}

void Evaluate(benchmark::State& state, const char* text) {
  if (!OpenTable()) {
    state.SkipWithError("table not opened");
    return;
  }
  qd::WorkArea* area = qd::WorkAreas[1].get();
  qd::ExprRecord* record = qd::AssignExpr(text);
  if (record == nullptr) {
    state.SkipWithError("expression did not compile");
    return;
  }
  qd::EvalExpr(record);  // the first run allocates the stack nodes
  std::int64_t evaluations = 0;
  // Counted inside the loop only: the framework allocates around it.
  long allocations_before = 0;
  long allocations_after = 0;
  std::int32_t next = 0;
  for (auto _ : state) {
    if (evaluations == 0) allocations_before = AllocationCount;
    std::memcpy(area->record.data(), &Records[static_cast<std::size_t>(next) * kRecordLength],
                kRecordLength);
    area->record_number = next + 1;
    benchmark::DoNotOptimize(qd::EvalExpr(record));
    if (++next == kRecords) next = 0;
    ++evaluations;
    allocations_after = AllocationCount;
  }
  state.counters["evaluations/s"] =
      benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kIsRate);
  state.counters["allocations/evaluation"] =
      evaluations == 0 ? 0.0
                       : static_cast<double>(allocations_after - allocations_before) /
                             static_cast<double>(evaluations);
  qd::FreeExpr(record);
}

void BM_Concatenation(benchmark::State& state) { Evaluate(state, "LAST + FIRST"); }
void BM_Condition(benchmark::State& state) {
  Evaluate(state, "SALARY * 1.1 > 5000 .AND. HIRED > START");
}
void BM_FunctionKey(benchmark::State& state) { Evaluate(state, "UPPER(LAST) + DTOS(HIRED)"); }

BENCHMARK(BM_Concatenation)->Iterations(kRecords);
BENCHMARK(BM_Condition)->Iterations(kRecords);
BENCHMARK(BM_FunctionKey)->Iterations(kRecords);

}  // namespace

BENCHMARK_MAIN();
