// Fuzz target of the table layer: writes arbitrary bytes as a table file,
// opens it with Use (shared or exclusive, with or without the record count
// taken from the file size), walks every record forwards and backwards with
// the native conversion both ways, then rewrites, deletes, recalls and
// appends records under the locks they need, closes the table and opens it
// again. A refused table must fail with one of the documented codes, no
// number may read as NaN or infinity, a record rewritten without a change
// must be written back byte for byte (tables of the ANSI character set: OEM
// text passes through the code page conversion, which not every byte
// survives), and a record appended without an error must read back as
// written after the reopen; anything else aborts.
// Seeds in fuzz/corpus/open_table: tables other programs write that the
// engine once misread (wide numbers, nameless fields, integers beyond 64
// bits, blank and unknown values, texts that are no numbers).
#include <cstddef>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace {

const std::string& TablePath() {
  static const std::string path = [] {
    std::string dir, file;
    qd::platform::TempDirectory(dir);
    qd::platform::UniqueTempFile(dir, "QDF", file);
    return file;
  }();
  return path;
}

// Appends whose file offset would pass this are skipped: they would only
// make the fuzzer slow (the layer itself refuses to grow into the lock
// region far above it).
constexpr std::uint64_t kMostAppendOffset = 8u << 20;

// Every float slot of the native record holds a finite number.
bool FloatSlotsFinite(const qd::WorkArea& area) {
  for (const qd::FieldEntry& f : area.fields) {
    if (f.slot != qd::NativeSlot::Double) continue;
    double v = 0;
    std::memcpy(&v, area.native + f.native_offset, sizeof v);
    if (!std::isfinite(v)) return false;
  }
  return true;
}

bool Documented(std::uint16_t code) {
  return code == 100 || code == 210 || code == 211 || code == 222 || (code > 0 && code < 100);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qd::SetImmediateDispatch(false);
  qd::SetRaiseExceptions(false);
  const std::string& path = TablePath();
  {
    qd::platform::FileHandle file = qd::platform::kNoFile;
    if (qd::platform::CreateNewFile(path, 0x12, file) != 0) return 0;
    std::size_t done = 0;
    qd::platform::WriteAt(file, 0, data, size, done);
    qd::platform::CloseFile(file);
  }
  const std::uint8_t options = size > 0 ? data[size - 1] : 0;
  qd::AutoFixRecCount = (options & 1) != 0;
  qd::AnsiTables = (options & 2) != 0;
  qd::ErrorCode = 0;
  qd::Select(1);
  qd::Use(path + ((options & 4) != 0 ? " EXCLUSIVE" : ""), nullptr, 0);
  if (qd::CurrentWorkArea() == nullptr) {
    if (!Documented(qd::ErrorCode)) std::abort();
    return 0;
  }
  qd::SetIgnoreDel((options & 8) != 0);
  int steps = 0;
  qd::GoTop();
  while (!qd::dEOF() && qd::ErrorCode == 0 && ++steps < 5000) {
    qd::RecordToNative();
    if (!FloatSlotsFinite(*qd::CurrentWorkArea())) std::abort();
    qd::NativeToRecord();
    qd::Skip(1);
  }
  qd::ErrorCode = 0;
  qd::GoBottom();
  while (!qd::dBOF() && qd::ErrorCode == 0 && ++steps < 10000) qd::Skip(-1);
  qd::ErrorCode = 0;
  for (std::int32_t n : {0, 1, 2, qd::RecCount(), qd::RecCount() + 1}) {
    qd::Go(n);
    qd::RawGo(n);
  }
  for (int f = 0; f <= qd::FieldCount() + 1; ++f) {
    qd::Field(f);
    qd::FieldLen(f);
    qd::FieldAddress(f);
  }
  qd::ErrorCode = 0;

  // Writes: rewrite, delete and recall the last record, then append one.
  qd::WorkArea* area = qd::CurrentWorkArea();
  const bool shared = (options & 4) == 0;
  if ((options & 16) != 0 && qd::RecCount() > 0) {
    qd::RawGo(qd::RecCount());
    qd::ErrorCode = 0;
    const std::vector<std::uint8_t> read = area->record;
    if (!shared || qd::RLock()) {
      qd::Replace();
      if (qd::ErrorCode == 0 && area->language == qd::tlAnsi && area->record != read) std::abort();
      qd::DeleteRec();
      qd::RecallRec();
      qd::Unlock();
    }
    qd::ErrorCode = 0;
  }
  std::vector<std::uint8_t> appended;
  std::int32_t appended_number = 0;
  const std::uint64_t end =
      area->header_length + static_cast<std::uint64_t>(qd::RecCount() + 1u) * area->record_length;
  if ((options & 32) != 0 && end < kMostAppendOffset && (!shared || qd::ALock())) {
    qd::ClearRecord();
    if (qd::FieldCount() >= 1) {
      std::uint8_t* slot = qd::FieldAddress(1);
      if (qd::FieldType(1) == 'C' && qd::FieldLen(1) > 0) {
        slot[0] = 1;
        slot[1] = 'Q';
      }
    }
    qd::ErrorCode = 0;
    qd::Append();
    if (qd::ErrorCode == 0) {
      appended = area->record;
      appended_number = qd::RecNo();
    }
    qd::Unlock();
    qd::ErrorCode = 0;
  }
  qd::Close();
  qd::ErrorCode = 0;

  // What was appended is there after the reopen, byte for byte.
  if (appended_number > 0) {
    qd::AutoFixRecCount = false;
    qd::Use(path, nullptr, 0);
    if (qd::CurrentWorkArea() == nullptr || qd::RecCount() < appended_number) std::abort();
    qd::Go(appended_number);
    if (qd::ErrorCode != 0 || qd::CurrentWorkArea()->record != appended) std::abort();
    qd::Close();
  }
  qd::AutoFixRecCount = false;
  return 0;
}
