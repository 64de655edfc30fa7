// Append, Replace, DeleteRec, RecallRec, Peek and Poke on the current work
// area, with the lock rule and the index hook calls (see record_updates.h).
#include "table/record_updates.h"

#include <algorithm>
#include <cstring>

#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/native_record.h"
#include "table/table_text.h"
#include "table/work_areas.h"

namespace qd {

namespace {

bool OrderActive() { return IndexHooks.OrderActive != nullptr && IndexHooks.OrderActive(); }

// Holds the index lock semaphore for the lifetime of the object, so that it
// is released on every way out, an error report that raises included.
class IndexLockSemaphore {
 public:
  explicit IndexLockSemaphore(bool active) : held_(active && IndexHooks.SetLockSemaphoreProc) {
    if (held_) IndexHooks.SetLockSemaphoreProc(true);
  }
  ~IndexLockSemaphore() {
    if (held_) IndexHooks.SetLockSemaphoreProc(false);
  }
  IndexLockSemaphore(const IndexLockSemaphore&) = delete;
  IndexLockSemaphore& operator=(const IndexLockSemaphore&) = delete;

 private:
  bool held_;
};

void CallHook(void (*hook)()) {
  if (hook != nullptr) hook();
}

// A change of `record` is allowed: exclusive use, or the record is locked.
bool MayChange(const WorkArea& area, std::int32_t record) {
  if (area.exclusive) return true;
  return std::find(area.record_locks.begin(), area.record_locks.end(), record) !=
         area.record_locks.end();
}

// Delivers an error that was recorded while immediate dispatch was on but
// has not been delivered yet.
void DispatchPending() {
  if (ImmediateDispatch && ErrorCode != 0 && PendingErrorCode != 0) DispatchError();
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Marks `record` (the current one) deleted or active in both buffers and
// the file. A failed write puts the buffers back: they must not show a
// deletion the file does not hold, or the next Replace would store it (on
// every way out, an error report that raises included).
void SetDeletionFlag(WorkArea& area, std::int32_t record, bool deleted) {
  namespace rec = dbf::record;
  struct Undo {
    WorkArea& area;
    std::uint8_t native;
    std::uint8_t raw;
    bool stored = false;
    ~Undo() {
      if (stored) return;
      if (area.native != nullptr) area.native[0] = native;
      area.record[rec::kDeletionFlag] = raw;
    }
  } undo{area, area.native != nullptr ? area.native[0] : std::uint8_t{0}, area.record[rec::kDeletionFlag]};
  if (area.native != nullptr) area.native[0] = deleted ? 1 : 0;
  area.record[rec::kDeletionFlag] = deleted ? rec::kDeleted : rec::kActive;
  undo.stored = PutDeleteFlag(area, record);
}

}  // namespace

void Append() {
  ErrorCode = 0;
  WorkArea* area = RequireTable("Append");
  if (area == nullptr) return;
  if (!area->exclusive) {
    if (area->lock_kind != 2) {
      SetError(5, "File must be locked to append: " + area->file_name + " [APPEND]");
      return;
    }
    // Nobody else can append while the table lock is held, so the count
    // taken from the file once per lock stays right for every append under
    // it.
    if (!area->append_count_known) {
      RefreshRecordCount(*area);
      area->append_count_known = true;
    }
  }
  // A new record: what the caller left at 0 or false is stored so, not as
  // whatever text the record buffer held before.
  ConvertNativeToRecord(*area, StoredTexts::NewRecord);
  const bool ordered = OrderActive();
  {
    IndexLockSemaphore semaphore(ordered);
    if (AppendDbfRecord(*area)) {
      RecordToNative();
      if (ordered) CallHook(IndexHooks.AppendNewKey);
      // Other programs follow a shared index to the new record as soon as
      // the semaphore is free: by then it must be in the file.
      if (ordered && !area->exclusive) WritePendingAppends(*area);
    }
  }
  area->at_end = false;
  area->at_beginning = false;
  DispatchPending();
}

void Replace() {
  ErrorCode = 0;
  WorkArea* area = RequireTable("Replace");
  if (area == nullptr) return;
  const std::int32_t record = area->record_number;
  if (record < 1) {
    SetError(212, "Database " + Quoted(area->file_name) + " is empty. [REPLACE]");
    return;
  }
  if (record > area->record_count) {
    SetError(212, "Database " + Quoted(area->file_name) + " is at EOF. [REPLACE]");
    return;
  }
  if (!MayChange(*area, record)) {
    SetError(1200, "Record #" + std::to_string(record) + " in " + area->file_name + " [REPLACE]");
    return;
  }
  const bool ordered = OrderActive();
  bool written = false;
  {
    IndexLockSemaphore semaphore(ordered);
    if (ordered) {
      // The index engine notes the keys of the record as stored while the
      // caller's new values wait in the swap buffer.
      area->swap.resize(area->native_size);
      std::memcpy(area->swap.data(), area->native, area->native_size);
      if (!GetDbfRecord(*area, record)) {
        std::memcpy(area->native, area->swap.data(), area->native_size);
        DispatchPending();
        return;
      }
      RecordToNative();
      CallHook(IndexHooks.NoteOldKeys);
      std::memcpy(area->native, area->swap.data(), area->native_size);
    }
    NativeToRecord();
    if (PutDbfRecord(*area, record)) {
      written = true;
      RecordToNative();
      if (ordered) CallHook(IndexHooks.UpdateKeys);
    }
  }
  if (written && area->memo != nullptr && MemoHooks.RecordWritten != nullptr) MemoHooks.RecordWritten(record);
  DispatchPending();
}

void DeleteRec() {
  ErrorCode = 0;
  WorkArea* area = RequireTable("DeleteRec");
  if (area == nullptr) return;
  const std::int32_t record = area->record_number;
  if (!MayChange(*area, record)) {
    SetError(1200, area->file_name + " Record not locked [DeleteRec]");
    return;
  }
  if (record < 1 || record > area->record_count) return;
  SetDeletionFlag(*area, record, true);
}

void RecallRec() {
  ErrorCode = 0;
  WorkArea* area = RequireTable("RecallRec");
  if (area == nullptr) return;
  const std::int32_t record = area->record_number;
  if (!MayChange(*area, record)) {
    SetError(1200, "Record not locked [RecallRec]");
    return;
  }
  RefreshRecordCount(*area);
  if (record < 1 || record > area->record_count) {
    SetError(1103, area->file_name + " at EOF [RecallRec]");
    return;
  }
  SetDeletionFlag(*area, record, false);
}

namespace {

// Offset in the record and length of field `field` (0: the deletion flag);
// false when the record or the field does not exist.
bool FieldPlace(const WorkArea& area, int field, std::int32_t record, std::uint64_t& offset,
                std::size_t& length) {
  if (record < 1 || record > area.record_count) return false;
  if (field < 0 || field > static_cast<int>(area.fields.size())) return false;
  std::size_t in_record = 0;
  length = 1;
  if (field >= 1) {
    const FieldEntry& entry = area.fields[static_cast<std::size_t>(field - 1)];
    in_record = entry.offset;
    length = entry.length;
  }
  offset = static_cast<std::uint64_t>(area.header_length) +
           static_cast<std::uint64_t>(record - 1) * area.record_length + in_record;
  return true;
}

}  // namespace

std::string Peek(int field, std::int32_t record) {
  WorkArea* area = RequireTable("Peek");
  if (area == nullptr) return std::string();
  std::uint64_t offset = 0;
  std::size_t length = 0;
  if (!FieldPlace(*area, field, record, offset, length)) return std::string();
  if (area->pending_count > 0 && record >= area->pending_first && !WritePendingAppends(*area))
    return std::string();
  std::string result(length, '\0');
  std::size_t done = 0;
  if (platform::ReadAt(area->file, offset, result.data(), length, done) != 0) done = 0;
  result.resize(done);
  return result;
}

void Poke(const std::string& value, int field, std::int32_t record) {
  WorkArea* area = RequireTable("Poke");
  if (area == nullptr) return;
  std::string context =
      "[Poke(" + value + "," + std::to_string(field) + "," + std::to_string(record) + ")]";
  if (context.size() > 100) context.resize(100);
  if (!MayChange(*area, record)) {
    SetError(1200, "Record not locked " + context);
    return;
  }
  std::uint64_t offset = 0;
  std::size_t length = 0;
  if (!FieldPlace(*area, field, record, offset, length)) return;
  if (area->pending_count > 0 && record >= area->pending_first && !WritePendingAppends(*area))
    return;
  const std::size_t count = std::min(value.size(), length);
  if (count == 0) return;
  std::size_t done = 0;
  const std::uint32_t code = platform::WriteAt(area->file, offset, value.data(), count, done);
  NoteFileWrite(*area, offset, value.data(), done);
  if (code != 0 || done < count) SetError(101, context);
}

}  // namespace qd
