// Benchmarks of index builds over the performance record's table: 1,000,000
// records of C(20), N(10,2), D, L (40 bytes, OEM table), the names in
// random order. One build of a C(20) tag on NAME and one of a numeric tag
// on AMOUNT, each a whole MakeIndex (new file, collect, runs in the
// temporary file, merge, nodes). Counters give records per second, the
// runs written and the largest sum of the build's own buffers; the peak
// resident size of the process is read where the system tells it. After
// the timed builds the tree is checked (CheckTree) and its entries counted.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "platform/platform.h"
#include "table/work_areas.h"

namespace {

constexpr std::int32_t kRecords = 1000000;
constexpr std::size_t kRecordLength = 1 + 20 + 10 + 8 + 1;

std::filesystem::path BenchDirectory() {
  std::string temp;
  qd::platform::TempDirectory(temp);
  const std::filesystem::path dir = std::filesystem::path(temp) / "qd_index_build_bench";
  std::filesystem::create_directories(dir);
  return dir;
}

// The table written byte by byte: names NAME<number> in a random order,
// amounts spread over 40,000 values.
std::string WriteTable() {
  const std::string path = (BenchDirectory() / "build.dbf").generic_string();
  const char* names[] = {"NAME", "AMOUNT", "DAY", "FLAG"};
  const char types[] = {'C', 'N', 'D', 'L'};
  const int lengths[] = {20, 10, 8, 1};
  const std::size_t header_length = 32 + 32 * 4 + 1;
  std::string header(header_length, '\0');
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 1;
  for (int i = 0; i < 4; ++i) header[static_cast<std::size_t>(4 + i)] = static_cast<char>((kRecords >> (8 * i)) & 0xFF);
  header[8] = static_cast<char>(header_length & 0xFF);
  header[9] = static_cast<char>(header_length >> 8);
  header[10] = static_cast<char>(kRecordLength);
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t d = 32 + 32 * i;
    std::memcpy(&header[d], names[i], std::strlen(names[i]));
    header[d + 11] = types[i];
    header[d + 16] = static_cast<char>(lengths[i]);
    header[d + 17] = static_cast<char>(i == 1 ? 2 : 0);
  }
  header[header_length - 1] = 0x0D;
  std::vector<std::int32_t> order(kRecords);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(11));
  std::string records;
  records.reserve(static_cast<std::size_t>(kRecords) * kRecordLength);
  char text[64];
  for (std::int32_t i = 0; i < kRecords; ++i) {
    const std::int32_t n = order[static_cast<std::size_t>(i)];
    std::snprintf(text, sizeof text, " NAME%08d        %10.2f%04d%02d%02d%c", static_cast<int>(n), (n % 40000) * 0.25 - 5000,
                  1950 + n % 70, 1 + n % 12, 1 + n % 28, n % 2 ? 'T' : 'F');
    records.append(text, kRecordLength);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  out.write(records.data(), static_cast<std::streamsize>(records.size()));
  out.put(0x1A);
  return path;
}

bool OpenTable() {
  static bool opened = false;
  if (opened) return true;
  qd::InitErrorUnit();
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = false;  // OEM tables, as by default
  qd::InitExpressionUnit();
  qd::InitIndexUnit();
  const std::string table = WriteTable();
  qd::Select(1);
  qd::Use(table + " EXCLUSIVE", nullptr, 0);
  opened = qd::ErrorCode == 0;
  return opened;
}

// Peak resident size of the process in KB (0 where unknown).
long PeakResidentKB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

void Build(benchmark::State& state, const char* key) {
  if (!OpenTable()) {
    state.SkipWithError("table not opened");
    return;
  }
  const std::string index = (BenchDirectory() / "build.mdx").generic_string();
  for (auto _ : state) {
    if (!qd::MakeIndex({{"TAG", key, "", false, false}}, index)) state.SkipWithError(qd::ErrorText.c_str());
  }
  const qd::BuildStatistics stats = qd::LastBuildStatistics();
  // Not timed: the built tree is sound and holds every record.
  qd::TreeSummary summary;
  if (qd::SetIndexTo(index) && qd::CheckTree(*qd::TagInSlot(1), &summary) == 0) {
    state.counters["entries"] = static_cast<double>(summary.entries);
    state.counters["depth"] = summary.depth;
  } else {
    state.SkipWithError("the built tree does not check");
  }
  qd::CloseIndex();
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(kRecords) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["runs"] = stats.runs;
  state.counters["build_KB"] = static_cast<double>(stats.peak_bytes) / 1024.0;
  state.counters["process_peak_KB"] = static_cast<double>(PeakResidentKB());
}

void BM_BuildCharacterTag(benchmark::State& state) { Build(state, "NAME"); }
void BM_BuildNumericTag(benchmark::State& state) { Build(state, "AMOUNT"); }

BENCHMARK(BM_BuildCharacterTag)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_BuildNumericTag)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
