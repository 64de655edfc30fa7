// Child program of the multi-process index tests: another program sharing
// the people table and its index with the test, started as a separate
// process.
//
//   nav_child <result> <table> <index> <prefix> <count> <other key>
//     1. appends <count> people named <prefix> and a number (under the table
//        lock, ten at a time) and renames every third of them (under its
//        record lock);
//     2. writes "<result>.ready" and waits for "<result>.go";
//     3. walks the name order, writing "count <n> sorted <yes|no>", and
//        finds <other key>, writing "found <record>";
//     4. appends and renames as many again, interleaved, while the test
//        does the same;
//     5. closes and appends " done". Failures write "error <message>".
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

#include "expressions/expressions.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace {

std::string result_path;
std::string text;

void Write() {
  std::ofstream out(result_path, std::ios::binary | std::ios::trunc);
  out << text;
}

void Check(const char* step) {
  if (qd::ErrorCode != 0) throw std::runtime_error(std::string(step) + ": " + qd::ErrorText);
}

void SetName(const std::string& name) {
  std::uint8_t* p = qd::FieldAddress(1);
  p[0] = static_cast<std::uint8_t>(name.size());
  std::memcpy(p + 1, name.data(), name.size());
}

std::string Name(const std::string& prefix, int i) { return prefix + std::to_string(10000 + i); }

void AppendBatch(const std::string& prefix, int first, int count) {
  while (!qd::ALock()) qd::platform::SleepMs(1);
  qd::ErrorCode = 0;
  for (int i = first; i < first + count; ++i) {
    qd::ClearRecord();
    SetName(Name(prefix, i));
    const double amount = i;
    std::memcpy(qd::FieldAddress(2), &amount, sizeof amount);
    qd::Append();
    Check("append");
  }
  qd::Unlock();
}

// Renames the record holding `name` (found in the name order).
void Rename(const std::string& name, const std::string& to) {
  if (!qd::Find(name)) throw std::runtime_error("lost " + name);
  while (!qd::RLock()) qd::platform::SleepMs(1);
  qd::ErrorCode = 0;
  SetName(to);
  qd::Replace();
  Check("replace");
  qd::Unlock();
}

void Work(const std::string& prefix, int count, int first) {
  for (int i = first; i < first + count; i += 10) {
    AppendBatch(prefix, i, 10);
    for (int j = i; j < i + 10; j += 3) Rename(Name(prefix, j), Name(prefix + "X", j));
  }
}

void Run(char** argv) {
  const std::string prefix = argv[4];
  const int count = std::atoi(argv[5]);
  qd::Use(argv[2], nullptr, 0);
  Check("use");
  if (!qd::SetIndexTo(argv[3])) throw std::runtime_error("open index " + std::to_string(qd::ErrorCode));
  Work(prefix, count, 0);
  std::ofstream(result_path + ".ready") << "ready";
  for (int i = 0; i < 6000 && !qd::platform::FileExists(result_path + ".go"); ++i) qd::platform::SleepMs(10);
  qd::Set_Order_To(1);
  int seen = 0;
  bool sorted = true;
  std::string previous;
  for (qd::GoTop(); !qd::dEOF(); qd::Skip(1)) {
    const std::uint8_t* p = qd::FieldAddress(1);
    const std::string name(reinterpret_cast<const char*>(p + 1), p[0]);
    if (name < previous) sorted = false;
    previous = name;
    ++seen;
  }
  Check("walk");
  text = "count " + std::to_string(seen) + " sorted " + (sorted ? "yes" : "no");
  text += qd::Find(argv[6]) ? " found " + std::to_string(qd::RecNo()) : " not found";
  Work(prefix, count, count);
  qd::Close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) return 2;
  result_path = argv[1];
  qd::InitErrorUnit();
  qd::ImmediateDispatch = false;
  qd::RaiseExceptions = true;
  qd::AnsiTables = true;
  qd::InitExpressionUnit();
  qd::InitIndexUnit();
  try {
    Run(argv);
  } catch (const std::exception& e) {
    text += std::string(" error ") + e.what();
  }
  text += " done";
  Write();
  return 0;
}
