// One worker process of the soak: opens the shared table with its production
// index and memo file, runs a random mix of operations until its time is up
// or the driver asks it to stop, and logs every change it committed.
//
//   qd_soak_worker <dir> <log> <worker id> <seed> <seconds> <mode>
//
// <mode> is "mix" (every operation) or "contention" (no
// appends: replaces, deletes and memo reads of the first few records only,
// so that record locks fail often). The worker stops early when <dir>/STOP exists.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "expressions/expressions.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/exception.h"
#include "indexes/indexes.h"
#include "indexes/semaphore.h"
#include "memo/memo_file.h"
#include "memo/memo_unit.h"
#include "platform/platform.h"
#include "soak_common.h"
#include "table/locking.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace qd::soak {
namespace {

int log_fd = -1;
std::string stop_path;
int worker = 0;
std::mt19937_64 random_source;
std::int64_t sequence = 0;
std::map<std::string, std::int64_t> figures;

// One line, one write: a kill leaves whole lines only (or none).
void Log(const std::string& line) {
  const std::string text = line + "\n";
  const ssize_t written = ::write(log_fd, text.data(), text.size());
  (void)written;
}

int Random(int n) { return static_cast<int>(random_source() % static_cast<std::uint64_t>(n)); }

struct Values {
  std::string code;
  int amount = 0;
  std::string day;   // YYYYMMDD
  std::string memo;  // key, "-" or "="
};

std::string Text(const Values& v) {
  return v.code + " " + std::to_string(v.amount) + " " + v.day + " " + v.memo;
}

Values NewValues() {
  Values v;
  char code[8];
  std::snprintf(code, sizeof code, "K%03d", Random(kCodePool));
  v.code = code;
  v.amount = Random(4000);
  char day[12];
  std::snprintf(day, sizeof day, "%04d%02d%02d", 2000 + Random(30), 1 + Random(12), 1 + Random(28));
  v.day = day;
  v.memo = Random(10) == 0 ? "-" : "w" + std::to_string(worker) + "s" + std::to_string(++sequence);
  return v;
}

void SetFields(const Values& v) {
  std::uint8_t* code = FieldAddress(kCodeField);
  code[0] = static_cast<std::uint8_t>(v.code.size());
  std::memcpy(code + 1, v.code.data(), v.code.size());
  const std::int32_t amount = v.amount;
  std::memcpy(FieldAddress(kAmountField), &amount, sizeof amount);
  const int y = std::atoi(v.day.substr(0, 4).c_str());
  const int m = std::atoi(v.day.substr(4, 2).c_str());
  const int d = std::atoi(v.day.substr(6, 2).c_str());
  const std::string shown = JulianToDate(JulianDate(y, m, d));
  std::uint8_t* day = FieldAddress(kDayField);
  day[0] = static_cast<std::uint8_t>(shown.size());
  std::memcpy(day + 1, shown.data(), shown.size());
}

std::int32_t Block() {
  std::int32_t block = 0;
  std::memcpy(&block, FieldAddress(kNotesField), 4);
  return block;
}
void SetBlock(std::int32_t block) { std::memcpy(FieldAddress(kNotesField), &block, 4); }

// An engine error that was not raised: reported like a raised one.
void Check(const char* operation) {
  if (ErrorCode != 0) throw EQuindleError(std::string(operation) + ": " + std::to_string(ErrorCode) + " " + ErrorText);
}

// Writes the memo value of `v` in place of `old_block` and puts the new
// block into the native record; nothing for an unchanged value.

void WriteMemo(const Values& v, std::int32_t old_block) {
  if (v.memo == "=") return;
  std::int32_t block = 0;
  if (!WriteMemoValue(old_block, MemoValue(v.memo), block, "soak")) Check("memo write");
  SetBlock(block);
}

void AppendBatch() {
  if (!ALock()) {
    ++figures["alock_failed"];
    return;
  }
  const int count = 1 + Random(3);
  // Each append is stamped before the call: with an index order the record
  // reaches the file inside Append, and another program may change it at
  // once, before the table lock is released.
  std::vector<std::tuple<std::int32_t, std::int64_t, Values>> added;
  try {
    for (int i = 0; i < count; ++i) {
      const Values v = NewValues();
      ClearRecord();
      SetFields(v);
      SetBlock(0);
      WriteMemo(v, 0);
      const std::int64_t stamp = Stamp();
      Append();
      Check("append");
      added.emplace_back(RecNo(), stamp, v);
      Log("P " + std::to_string(RecNo()) + " " + std::to_string(stamp) + " " + Text(v));
    }
    Unlock();
    Check("unlock after append");
  } catch (...) {
    Log("F 0 " + std::to_string(Stamp()) + " " + std::to_string(ErrorCode));
    throw;
  }
  for (const auto& [record, stamp, v] : added) Log("A " + std::to_string(record) + " " + std::to_string(stamp) + " " + Text(v));
  figures["appends"] += static_cast<std::int64_t>(added.size());
}

std::int32_t PickRecord(bool contention) {
  const std::int32_t count = RecCount();
  if (count <= 0) return 0;
  return 1 + Random(contention ? std::min(count, kContentionRecords) : count);
}

// Takes the record lock of `record` (once); false when another program
// holds it.
bool LockRecord(std::int32_t record) {
  Go(record);
  if (!RLock()) {
    ++figures["rlock_failed"];
    return false;
  }
  Go(record);  // read again as stored, now that nobody else can change it
  Check("go");
  return true;
}

void ReplaceRecord(bool contention) {
  const std::int32_t record = PickRecord(contention);
  if (record == 0 || !LockRecord(record)) return;
  try {
    Values v = NewValues();
    if (Random(3) == 0) v.memo = "=";
    const std::string r = std::to_string(record);
    Log("I " + r + " " + std::to_string(Stamp()) + " " + Text(v));
    WriteMemo(v, Block());
    SetFields(v);
    Replace();
    Check("replace");
    Log("R " + r + " " + std::to_string(Stamp()) + " " + Text(v));
    ++figures["replaces"];
  } catch (...) {
    const std::uint16_t code = ErrorCode;
    Log("F " + std::to_string(record) + " " + std::to_string(Stamp()) + " " + std::to_string(code));
    Unlock();
    ErrorCode = code;
    throw;
  }
  Unlock();
}

void DeleteOrRecall(bool contention) {
  const std::int32_t record = PickRecord(contention);
  if (record == 0 || !LockRecord(record)) return;
  const bool deleted = Peek(0, record) == "*";
  const std::string r = std::to_string(record);
  try {
    Log("J " + r + " " + std::to_string(Stamp()) + (deleted ? " U" : " D"));
    if (deleted) RecallRec(); else DeleteRec();
    Check("delete");
    Log((deleted ? "U " : "D ") + r + " " + std::to_string(Stamp()));
    ++figures["deletes"];
  } catch (...) {
    const std::uint16_t code = ErrorCode;
    Log("F " + r + " " + std::to_string(Stamp()) + " " + std::to_string(code));
    Unlock();
    ErrorCode = code;
    throw;
  }
  Unlock();
}

std::string StoredCode() {
  const std::uint8_t* p = FieldAddress(kCodeField);
  std::string code(reinterpret_cast<const char*>(p + 1), p[0]);
  while (!code.empty() && code.back() == ' ') code.pop_back();
  return code;
}

// Finds a code in the CODES order; a record found must hold it.
void FindCode() {
  char code[8];
  std::snprintf(code, sizeof code, "K%03d", Random(kCodePool));
  Set_Order_To(1);
  if (Find(code)) {
    if (StoredCode() != code) {
      Log("X " + std::to_string(Stamp()) + " Find(" + code + ") gave record " + std::to_string(RecNo()) + " holding " +
          StoredCode());
    }
  }
  Check("find");
  ++figures["finds"];
}

// Up to 40 steps in a random order, from the top or from a found key.
void Walk() {
  Set_Order_To(1 + Random(3));
  GoTop();
  for (int i = 0; i < 40 && !dEOF(); ++i) Skip(1);
  Check("walk");
  Set_Order_To(1);
  ++figures["walks"];
}

// Reads a record's memo value under its lock: it must be one whole value
// a worker wrote.
void ReadMemo(bool contention) {
  const std::int32_t record = PickRecord(contention);
  if (record == 0 || !LockRecord(record)) return;
  const std::int32_t block = Block();
  std::string bytes;
  const bool read = ReadMemoValue(block, bytes, "soak");
  const std::uint16_t code = ErrorCode;
  Unlock();
  ErrorCode = code;
  if (!read) Check("memo read");
  if (!bytes.empty()) {
    const std::size_t blank = bytes.find(' ', 5);
    const std::string key = bytes.size() > 5 && blank != std::string::npos ? bytes.substr(5, blank - 5) : "";
    if (bytes.compare(0, 5, "soak ") != 0 || MemoValue(key) != bytes) {
      Log("X " + std::to_string(Stamp()) + " record " + std::to_string(record) + " block " + std::to_string(block) +
          " holds a value no worker wrote (" + std::to_string(bytes.size()) + " bytes)");
    }
  }
  ++figures["memo_reads"];
}

void RunOne(bool contention) {
  const int r = Random(100);
  if (contention) {
    if (r < 50) ReplaceRecord(true);
    else if (r < 70) DeleteOrRecall(true);
    else if (r < 85) ReadMemo(true);
    else FindCode();
  } else if (r < 20) AppendBatch();
  else if (r < 50) ReplaceRecord(false);
  else if (r < 58) DeleteOrRecall(false);
  else if (r < 72) FindCode();
  else if (r < 85) Walk();
  else ReadMemo(false);
}

std::string OneLine(std::string text) {
  for (char& c : text) if (c == '\r' || c == '\n') c = ' ';
  return text;
}

int Run(int argc, char** argv) {
  if (argc != 7) return 2;
  const std::string dir = argv[1];
  log_fd = ::open(argv[2], O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (log_fd < 0) return 3;
  worker = std::atoi(argv[3]);
  random_source.seed(std::strtoull(argv[4], nullptr, 10));
  const std::int64_t end = Stamp() + std::atoll(argv[5]) * 1000000000LL;
  const std::string mode = argv[6];
  const bool contention = mode == "contention";
  stop_path = dir + "/STOP";

  InitErrorUnit();
  ImmediateDispatch = false;
  RaiseExceptions = true;
  AnsiTables = true;
  CenturyOn = true;
  InitExpressionUnit();
  InitIndexUnit();
  InitMemoUnit();
  // A program killed inside a read or write phase leaves its registration
  // in the semaphore file; the others then wait the whole limit before
  // reporting 1202. Keep that wait shorter than 100 seconds, but long
  // enough that a writer among 8 busy readers on 2 loaded cores gets its
  // turn (3 seconds was not).
  SemaphoreWaitLimit = 20;

  try {
    Select(1);
    Use(dir + "/" + kTableName, nullptr, 0);
    Check("use");
    if (!SetIndexTo("")) Check("set index");
    Set_Order_To(1);
  } catch (const std::exception& e) {
    Log("E " + std::to_string(Stamp()) + " " + std::to_string(ErrorCode) + " open " + OneLine(e.what()));
    return 4;
  }
  const std::int64_t started = Stamp();
  std::int64_t operations = 0;
  while (Stamp() < end && !platform::FileExists(stop_path)) {
    ErrorCode = 0;
    try {
      RunOne(contention);
    } catch (const std::exception& e) {
      Log("E " + std::to_string(Stamp()) + " " + std::to_string(ErrorCode) + " op " + OneLine(e.what()));
      ++figures["errors"];
      try {
        Unlock();
      } catch (const std::exception&) {
      }
    }
    ++operations;
  }
  const std::int64_t elapsed_ms = (Stamp() - started) / 1000000;
  try {
    ErrorCode = 0;
    Close();
    Check("close");
  } catch (const std::exception& e) {
    Log("E " + std::to_string(Stamp()) + " " + std::to_string(ErrorCode) + " close " + OneLine(e.what()));
  }
  std::string line = "S operations=" + std::to_string(operations) + " ms=" + std::to_string(elapsed_ms);
  for (const auto& [key, count] : figures) line += " " + key + "=" + std::to_string(count);
  Log(line);
  ::close(log_fd);
  return 0;
}

}  // namespace
}  // namespace qd::soak

int main(int argc, char** argv) { return qd::soak::Run(argc, argv); }
