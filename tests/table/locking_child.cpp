// Child program for the multi-process locking tests: another program that
// shares a table with the test, started as a separate process.
//
//   locking_child <result> try <table> <record>
//       opens the table shared, goes to the record and writes "<RLock> <ALock>"
//       (1 taken, 0 refused), releasing each lock it got.
//   locking_child <result> probe <file> <offset> <length>
//       locks the byte range on its own handle and writes the system's code.
//   locking_child <result> append <table> <id> <count>
//       appends `count` records "id, sequence" under ALock in batches of 1 to
//       7 records, closing and reopening the table now and then, closes it
//       and writes "ok".
//   locking_child <result> replace <table> <id> <processes> <rounds>
//       rewrites, round after round, each record r with (r - 1) % processes
//       == id under RLock, after checking that it still holds what this
//       process wrote last (the initial DATA text is Pattern(25, 0)), closes
//       the table and writes "ok".
//   locking_child <result> rewrite <table> <record> <text>
//       opens the table shared, rewrites the first field of the record with
//       the text under its record lock, closes the table and writes "ok".
//   locking_child <result> poke <table> <record> <text>
//       writes the text over the first field of the record straight into the
//       file, taking no lock (as a program that ignores locks), writes "ok".
//   locking_child <result> append-hold <table> <count>
//       opens the table shared and appends `count` records ("R<n>", n) under
//       one table lock, releases the lock, creates "<result>.ready", waits
//       for "<result>.go" while keeping the table open, then closes it.
// Failures are written to the result file as text starting with "error".
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace {

std::string result_path;

int Finish(const std::string& text) {
  std::ofstream out(result_path, std::ios::binary | std::ios::trunc);
  out << text;
  return 0;
}

std::string Failure(const char* step) {
  return std::string("error ") + step + " " + std::to_string(qd::ErrorCode) + " " + qd::ErrorText;
}

// Retries a lock with short pauses; false after about a minute.
template <typename Lock>
bool Retry(Lock lock) {
  for (int attempt = 0; attempt < 60000; ++attempt) {
    if (lock()) return true;
    qd::platform::SleepMs(attempt < 100 ? 0 : 1);
  }
  return false;
}

void SetText(int n, const std::string& text) {
  std::uint8_t* slot = qd::FieldAddress(n);
  slot[0] = static_cast<std::uint8_t>(text.size());
  std::memcpy(slot + 1, text.data(), text.size());
}

void SetInt(int n, std::int32_t value) { std::memcpy(qd::FieldAddress(n), &value, 4); }

// The DATA text of a record: its writer's letter and a number, repeated over
// the whole field so that a torn or mixed record shows.
std::string Pattern(int id, int number, std::size_t width) {
  const std::string unit = std::string(1, static_cast<char>('A' + id)) + std::to_string(number) + ".";
  std::string text;
  while (text.size() < width) text += unit;
  text.resize(width);
  return text;
}

int Append(const std::string& table, int id, int count) {
  qd::Use(table, nullptr, 0);
  if (qd::ErrorCode != 0) return Finish(Failure("use"));
  const std::size_t width = static_cast<std::size_t>(qd::FieldLen(3));
  int sequence = 0;
  while (sequence < count) {
    if (!Retry([] { return qd::ALock(); })) return Finish("error alock timeout");
    const int batch = 1 + sequence % 7;
    for (int i = 0; i < batch && sequence < count; ++i, ++sequence) {
      qd::ClearRecord();
      SetInt(1, id);
      SetInt(2, sequence);
      SetText(3, Pattern(id, sequence, width));
      qd::Append();
      if (qd::ErrorCode != 0) return Finish(Failure("append"));
    }
    qd::Unlock();
    if (qd::ErrorCode != 0) return Finish(Failure("unlock"));
    // Closing writes the header count and the end-of-file byte while the
    // others go on appending; reopening often makes those moments many.
    if (sequence % 5 == 0) {
      qd::Close();
      qd::Use(table, nullptr, 0);
      if (qd::ErrorCode != 0) return Finish(Failure("reopen"));
    }
  }
  qd::Close();
  return Finish("ok");
}

int Replace(const std::string& table, int id, int processes, int rounds) {
  qd::Use(table, nullptr, 0);
  if (qd::ErrorCode != 0) return Finish(Failure("use"));
  const std::size_t width = static_cast<std::size_t>(qd::FieldLen(3));
  const std::int32_t records = qd::RecCount();
  for (int round = 1; round <= rounds; ++round) {
    for (std::int32_t r = 1 + id; r <= records; r += processes) {
      qd::Go(r);
      if (qd::ErrorCode != 0) return Finish(Failure("go"));
      if (!Retry([] { return qd::RLock(); })) return Finish("error rlock timeout");
      // Re-read under the lock: the record must still be what this process
      // wrote last (or the initial text), whatever its neighbours did.
      qd::Go(r);
      std::int32_t writer = 0;
      std::int32_t number = 0;
      std::memcpy(&writer, qd::FieldAddress(1), 4);
      std::memcpy(&number, qd::FieldAddress(2), 4);
      const std::string data(reinterpret_cast<const char*>(qd::FieldAddress(3)) + 1, width);
      const bool intact = round == 1 ? data == Pattern(25, 0, width)
                                     : writer == id && number == round - 1 &&
                                           data == Pattern(id, round - 1, width);
      if (!intact) return Finish("error record " + std::to_string(r) + " holds " + data);
      SetInt(1, id);
      SetInt(2, round);
      SetText(3, Pattern(id, round, width));
      qd::Replace();
      if (qd::ErrorCode != 0) return Finish(Failure("replace"));
      if (!qd::UnlockRec(r)) return Finish(Failure("unlock"));
    }
  }
  qd::Close();
  return Finish("ok");
}

int Try(const std::string& table, std::int32_t record) {
  qd::Use(table, nullptr, 0);
  if (qd::ErrorCode != 0) return Finish(Failure("use"));
  qd::Go(record);
  const bool record_lock = qd::RLock();
  qd::Unlock();
  const bool table_lock = qd::ALock();
  qd::Unlock();
  qd::Close();
  return Finish(std::string(record_lock ? "1" : "0") + " " + (table_lock ? "1" : "0"));
}

int Probe(const std::string& file, std::uint64_t offset, std::uint64_t length) {
  qd::platform::FileHandle handle = qd::platform::kNoFile;
  const std::uint32_t open = qd::platform::OpenFile(file, 0x42, handle);
  if (open != 0) return Finish("error open " + std::to_string(open));
  const std::uint32_t code = qd::platform::LockRange(handle, offset, length);
  if (code == 0) qd::platform::UnlockRange(handle, offset, length);
  qd::platform::CloseFile(handle);
  return Finish(std::to_string(code));
}

int Rewrite(const std::string& table, std::int32_t record, const std::string& text) {
  qd::Use(table, nullptr, 0);
  if (qd::ErrorCode != 0) return Finish(Failure("use"));
  qd::Go(record);
  if (!Retry([] { return qd::RLock(); })) return Finish("error rlock timeout");
  qd::Go(record);
  SetText(1, text);
  qd::Replace();
  if (qd::ErrorCode != 0) return Finish(Failure("replace"));
  qd::Unlock();
  qd::Close();
  return Finish(qd::ErrorCode == 0 ? "ok" : Failure("close"));
}

int Poke(const std::string& table, std::int32_t record, const std::string& text) {
  qd::platform::FileHandle handle = qd::platform::kNoFile;
  if (qd::platform::OpenFile(table, 0x42, handle) != 0) return Finish("error open");
  std::uint8_t header[12];
  std::size_t done = 0;
  qd::platform::ReadAt(handle, 0, header, sizeof header, done);
  const std::uint64_t header_length = header[8] | header[9] << 8;
  const std::uint64_t record_length = header[10] | header[11] << 8;
  const std::uint64_t at = header_length + static_cast<std::uint64_t>(record - 1) * record_length + 1;
  const std::uint32_t code = qd::platform::WriteAt(handle, at, text.data(), text.size(), done);
  qd::platform::CloseFile(handle);
  return Finish(code == 0 ? "ok" : "error write " + std::to_string(code));
}

int AppendAndHold(const std::string& table, int count) {
  qd::Use(table, nullptr, 0);
  if (qd::ErrorCode != 0) return Finish(Failure("use"));
  if (!Retry([] { return qd::ALock(); })) return Finish("error alock timeout");
  for (int n = 1; n <= count; ++n) {
    qd::ClearRecord();
    SetText(1, "R" + std::to_string(n));
    SetInt(2, n);
    qd::Append();
    if (qd::ErrorCode != 0) return Finish(Failure("append"));
  }
  qd::Unlock();
  if (qd::ErrorCode != 0) return Finish(Failure("unlock"));
  std::ofstream(result_path + ".ready") << "ready";
  for (int i = 0; i < 6000; ++i) {
    if (qd::platform::FileExists(result_path + ".go")) break;
    qd::platform::SleepMs(10);
  }
  qd::Close();
  return Finish(qd::ErrorCode == 0 ? "ok" : Failure("close"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  result_path = argv[1];
  const std::string mode = argv[2];
  const std::string target = argv[3];
  qd::InitErrorUnit();
  qd::ImmediateDispatch = false;
  qd::AnsiTables = true;
  if (mode == "try" && argc == 5) return Try(target, std::atoi(argv[4]));
  if (mode == "probe" && argc == 6) {
    return Probe(target, std::strtoull(argv[4], nullptr, 10), std::strtoull(argv[5], nullptr, 10));
  }
  if (mode == "append" && argc == 6) return Append(target, std::atoi(argv[4]), std::atoi(argv[5]));
  if (mode == "rewrite" && argc == 6) return Rewrite(target, std::atoi(argv[4]), argv[5]);
  if (mode == "poke" && argc == 6) return Poke(target, std::atoi(argv[4]), argv[5]);
  if (mode == "append-hold" && argc == 5) return AppendAndHold(target, std::atoi(argv[4]));
  if (mode == "replace" && argc == 7) {
    return Replace(target, std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
  }
  return 2;
}
