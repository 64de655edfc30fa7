// Child program of the multi-process semaphore tests: another program that
// shares a table (and its index) with the test, started as a separate
// process.
//
//   index_child <result> <table> hold
//       logs in, writes "users <n>" (the user count after its login), waits
//       for the go mark, logs out.
//   index_child <result> <table> read
//       logs in and registers as a reader, writes "reading", waits for the
//       go mark, deregisters and logs out.
//   index_child <result> <table> read-for <milliseconds>
//       the same, but deregisters on its own after the pause.
//   index_child <result> <table> write <wait limit in seconds>
//       logs in, takes the writer's lock with that wait limit and writes
//       "locked <record>" or "error <message>", then releases and logs out.
//   index_child <result> <table> change <index> <root page>
//       opens the index, sets tag 1's root page inside a write phase, closes.
//   index_child <result> <table> watch <index>
//       opens the index and writes "tags <names>" (ready mark), then on the
//       go mark closes it (", closed", mark ".ready2"), then on ".go2"
//       opens it again and appends ", tags <names>", the record it stands
//       on and, for every tag, " <name> <records forwards>/<backwards>".
//   index_child <result> <table> exclusive <index>
//       opens the table for exclusive use and the index, writes "opened"
//       and whether a semaphore file exists, closes.
// The ready mark is "<result>.ready", the go mark "<result>.go". At the end
// " done" is appended to the result. Failures write "error <message>".
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "platform/platform.h"
#include "table/work_areas.h"

namespace {

std::string result_path;
std::string text;

void Write() {
  std::ofstream out(result_path, std::ios::binary | std::ios::trunc);
  out << text;
}

void Ready(const std::string& mark = ".ready") {
  Write();
  std::ofstream(result_path + mark) << "ready";
}

// Waits for the test's go mark (a minute at most, so no child outlives a
// failed test for long).
void WaitForGo(const std::string& mark = ".go") {
  for (int i = 0; i < 6000 && !qd::platform::FileExists(result_path + mark); ++i) qd::platform::SleepMs(10);
}

// The names of the open index's tags, separated by commas.
std::string TagNames() {
  std::string names;
  for (int number = 1; number <= 47; ++number) {
    const std::string name = qd::TagName(number);
    if (!name.empty()) names += (names.empty() ? "" : ",") + name;
  }
  return names;
}

// Every tag of the open index in turn as the order: its record numbers from
// GoTop forwards and from GoBottom backwards (listed in order).
std::string Orders() {
  std::string out;
  for (int number = 1; number <= 47; ++number) {
    const std::string name = qd::TagName(number);
    if (name.empty()) continue;
    if (!qd::SetOrderToTag(name)) throw std::runtime_error("order " + std::to_string(qd::ErrorCode));
    std::string forwards, backwards;
    qd::GoTop();
    for (int i = 0; i < 1000 && !qd::dEOF(); ++i, qd::Skip(1)) forwards += " " + std::to_string(qd::RecNo());
    qd::GoBottom();
    for (int i = 0; i < 1000 && !qd::dBOF() && !qd::dEOF(); ++i, qd::Skip(-1)) {
      backwards = " " + std::to_string(qd::RecNo()) + backwards;
    }
    out += ", " + name + forwards + " /" + backwards;
  }
  return out;
}

std::string Record() {
  std::uint8_t record[4];
  qd::SemaphoreRecord(record);
  return std::to_string(record[0]) + " " + std::to_string(record[1]) + " " +
         std::to_string(record[2] | (record[3] << 8));
}

int Run(const std::string& table, const std::string& mode, int argc, char** argv) {
  qd::Use(table + (mode == "exclusive" ? " EXCLUSIVE" : ""), nullptr, 0);
  if (qd::ErrorCode != 0) throw std::runtime_error("use " + qd::ErrorText);
  if (mode == "change" && argc == 6) {
    if (!qd::SetIndexTo(argv[4])) throw std::runtime_error("open " + std::to_string(qd::ErrorCode));
    qd::SetLockSemaphoreProc(true);
    qd::TagInSlot(1)->SetRootPage(static_cast<std::uint32_t>(std::atoi(argv[5])));
    qd::WriteAnchor(1);
    qd::SetLockSemaphoreProc(false);
    text = "changed " + Record();
    qd::Close();
    return 0;
  }
  if (mode == "exclusive" && argc == 5) {
    if (!qd::SetIndexTo(argv[4])) throw std::runtime_error("open " + std::to_string(qd::ErrorCode));
    const std::string semaphore = qd::SemaphoreFileName(qd::CurrentWorkArea()->file_name);
    text = std::string("opened, semaphore file ") + (qd::platform::FileExists(semaphore) ? "exists" : "absent");
    qd::Close();
    return 0;
  }
  if (mode == "watch" && argc == 5) {
    if (!qd::SetIndexTo(argv[4])) throw std::runtime_error("open " + std::to_string(qd::ErrorCode));
    text = "tags " + TagNames();
    Ready();
    WaitForGo();
    qd::CloseIndex();
    text += ", closed";
    Ready(".ready2");
    WaitForGo(".go2");
    if (!qd::SetIndexTo(argv[4])) throw std::runtime_error("open again " + std::to_string(qd::ErrorCode));
    text += ", tags " + TagNames();
    text += ", at " + std::to_string(qd::RecNo());
    text += Orders();
    qd::Close();
    return 0;
  }
  qd::HandleSemafore(qd::LOGIN);
  if (mode == "hold") {
    text = "users " + Record().substr(0, Record().find(' '));
    Ready();
    WaitForGo();
  } else if (mode == "read" || (mode == "read-for" && argc == 5)) {
    qd::SetReadSemaphoreProc(true);
    text = "reading";
    Ready();
    if (mode == "read") {
      WaitForGo();
    } else {
      qd::platform::SleepMs(static_cast<std::uint32_t>(std::atoi(argv[4])));
    }
    qd::SetReadSemaphoreProc(false);
  } else if (mode == "write" && argc == 5) {
    qd::SemaphoreWaitLimit = static_cast<std::uint32_t>(std::atoi(argv[4]));
    try {
      qd::SetLockSemaphoreProc(true);
      text = "locked " + Record();
      qd::SetLockSemaphoreProc(false);
    } catch (const qd::EQuindleError& e) {
      text = std::string("error ") + e.what();
    }
  } else {
    throw std::runtime_error("usage");
  }
  qd::HandleSemafore(qd::LOGOUT);
  qd::Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  result_path = argv[1];
  qd::InitErrorUnit();
  qd::ImmediateDispatch = false;
  qd::AnsiTables = true;
  qd::InitExpressionUnit();
  qd::InitIndexUnit();
  try {
    Run(argv[2], argv[3], argc, argv);
  } catch (const std::exception& e) {
    text = std::string("error ") + e.what();
  }
  text += " done";
  Write();
  return 0;
}
