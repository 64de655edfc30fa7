// The table of 35 work areas: selecting one, opening a table into it with
// Use (option words, alias, native buffer), closing it, field access by
// number and name, the production-index flag, and reopening the table file
// in another sharing mode for the index engine.
#include "table/work_areas.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "table/locking.h"
#include "table/native_record.h"
#include "table/table_text.h"

namespace qd {

using namespace table_text;
namespace pf = qd::platform;

namespace {

std::string FieldNumberError(const char* function, int n) {
  return "Invalid field number. [" + std::string(function) + "(" + std::to_string(n) + ")]";
}

const FieldEntry* FieldOf(const char* function, int n) {
  WorkArea* area = RequireTable((std::string(function) + "()").c_str());
  if (area == nullptr) return nullptr;
  if (n < 1 || n > static_cast<int>(area->fields.size())) {
    SetError(220, FieldNumberError(function, n));
    return nullptr;
  }
  return &area->fields[static_cast<std::size_t>(n - 1)];
}

// Closes the table of slot `number` (nothing for an empty slot).
void CloseSlot(int number) {
  WorkArea* area = WorkAreas[static_cast<std::size_t>(number)].get();
  if (area == nullptr) return;
  // The unit hooks act on the current work area; the caller's selection is
  // restored on every way out.
  struct Restore {
    int saved;
    ~Restore() { CurrentArea = saved; }
  } restore{CurrentArea};
  CurrentArea = number;
  // The index unit closes whatever index the work area holds (nothing when
  // it holds none), also one opened while no order is active.
  if (IndexHooks.CloseIndex != nullptr) IndexHooks.CloseIndex();
  if (!area->exclusive) RefreshRecordCount(*area);
  if (area->lock_kind != 0) Unlock();
  area->swap.clear();
  if (area->has_memo && area->memo && MemoHooks.CloseMemofile != nullptr)
    MemoHooks.CloseMemofile();
  // Take the area out of its slot first: the close may report an error
  // (and raise), and the slot must be empty whatever happens.
  std::unique_ptr<WorkArea> owned = std::move(WorkAreas[static_cast<std::size_t>(number)]);
  CloseDbf(*owned);
}

}  // namespace

WorkArea* CurrentWorkArea() {
  if (CurrentArea < 1 || CurrentArea > kWorkAreaCount) return nullptr;
  return WorkAreas[static_cast<std::size_t>(CurrentArea)].get();
}

WorkArea* RequireTable(const char* operation) {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr)
    SetError(215, "No database in use [" + std::string(operation) + "]  WorkArea = " +
                      std::to_string(CurrentArea));
  return area;
}

void Select(int number) {
  ErrorCode = 0;
  if (number >= 1 && number <= kSelectableAreas) {
    CurrentArea = number;
    return;
  }
  if (number == 0) {
    for (int i = 1; i <= kSelectableAreas; ++i) {
      if (!WorkAreas[static_cast<std::size_t>(i)]) {
        CurrentArea = i;
        return;
      }
    }
    SetError(220, "No free workarea available [Select(0)]");
    return;
  }
  SetError(220, "Invalid workarea selected = [Select(" + std::to_string(number) + ")]");
}

int Selected() { return CurrentArea; }

std::string Alias() {
  WorkArea* area = CurrentWorkArea();
  return area ? area->alias : std::string();
}

void Use(const std::string& request, void* buffer, std::uint16_t size) {
  UseWithHooks(request, buffer, size, nullptr, nullptr);
}

void UseWithHooks(const std::string& given_request, void* buffer, std::uint16_t size,
                  RecordHook after_read, RecordHook before_write) {
  // Tables still open when the process ends get their header and end-of-file
  // byte written. Registered after the error unit's state exists, so it runs
  // before that state is destroyed; errors are only recorded at that point.
  static const bool close_at_exit = [] {
    std::atexit([] {
      SetImmediateDispatch(false);
      SetRaiseExceptions(false);
      CloseEveryWorkArea();
    });
    return true;
  }();
  (void)close_at_exit;
  Close();
  std::string request = AllTrim(given_request);
  if (request.empty()) return;
  const std::string shown = request;
  pf::AnsiUpper(reinterpret_cast<std::uint8_t*>(request.data()), request.size());
  request += " ";
  // These two refusals quote the request as it stands now: upper-cased,
  // with its trailing blank.
  if (request.find("LINKED LIST") != std::string::npos ||
      request.find("VIRTUAL FILE") != std::string::npos) {
    SetError(1101, "[USE(" + request + ",<@Buffer>,<size>)]");
    return;
  }
  if ((buffer == nullptr) != (size == 0)) {
    SetError(220, "Buffer is NIL or size is zero, attempting to open " + request + " [USE]");
    return;
  }
  // " EXCLUSIVE" counts only as a whole word (not followed by a letter,
  // digit, backslash or underscore).
  const bool exclusive = ExtractOption(" EXCLUSIVE", request);
  request += " ";

  std::string alias;
  static const std::string kAliasWord = " ALIAS ";
  if (std::size_t at = request.find(kAliasWord); at != std::string::npos) {
    std::size_t from = at + kAliasWord.size();
    while (from < request.size() && request[from] == ' ') ++from;
    std::size_t to = request.find(' ', from);
    alias = request.substr(from, (to == std::string::npos ? request.size() : to) - from);
    request.erase(at);
  }
  request = AllTrim(request);
  if (alias.empty()) alias = WithoutExtension(std::string_view(request).substr(NameStart(request)));
  alias = alias.substr(0, 64);
  const std::string path = DefaultExtension(pf::FullPathName(request), "DBF");

  auto area = std::make_unique<WorkArea>();
  area->open_mode = exclusive ? kExclusiveOpenMode : kSharedOpenMode;
  if (OpenModeOverride >= 0) area->open_mode = static_cast<std::uint8_t>(OpenModeOverride);
  area->exclusive = exclusive;
  area->language = AnsiTables ? tlAnsi : tlOem;
  if (!OpenDbf(*area, path)) return;
  area->alias = alias;

  const std::uint32_t native_size = ComputeNativeLayout(*area);
  if (buffer == nullptr) {
    area->owned_native.assign(native_size, 0);
    area->native = area->owned_native.data();
    area->owns_native = true;
  } else {
    if (size != native_size) {
      CloseDbf(*area);
      SetError(266, "Database record/buffer size mismatch: " + shown + " [USE()]\n\rRecord Size=" +
                        std::to_string(native_size) + ", Buffer Size=" + std::to_string(size));
      return;
    }
    area->native = static_cast<std::uint8_t*>(buffer);
  }
  area->native_size = static_cast<std::uint16_t>(native_size);

  for (int i = 1; i <= kSelectableAreas; ++i) {
    const WorkArea* other = WorkAreas[static_cast<std::size_t>(i)].get();
    if (i != CurrentArea && other != nullptr && other->alias == alias) {
      CloseDbf(*area);
      SetError(220, "Alias name \"" + alias + "\" already in use. [USE]");
      return;
    }
  }
  area->after_read = std::move(after_read);
  area->before_write = std::move(before_write);
  area->swap.assign(native_size, 0);

  WorkArea& table = *area;
  WorkAreas[static_cast<std::size_t>(CurrentArea)] = std::move(area);
  if (table.record_count == 0) {
    std::memset(table.native, 0, table.native_size);
    ClearAreaRecord(table);
    table.at_end = table.at_beginning = true;
  } else {
    GoTop();
  }
  if (table.has_memo && MemoHooks.OpenMemofile != nullptr) {
    const std::uint16_t code = MemoHooks.OpenMemofile(WithoutExtension(table.file_name));
    if (code != 0)
      SetError(code, "Problem opening memo file [USE(" + shown + ",<@Buffer>," +
                         std::to_string(size) + ")]");
  }
}

void Close() { CloseSlot(CurrentArea); }

void CloseAll() {
  for (int i = 1; i <= kSelectableAreas; ++i) CloseSlot(i);
  CurrentArea = 1;
}

void CloseEveryWorkArea() {
  for (int i = 1; i <= kWorkAreaCount; ++i) CloseSlot(i);
  CurrentArea = 1;
}

int FieldCount() {
  WorkArea* area = RequireTable("FieldCount()");
  return area ? static_cast<int>(area->fields.size()) : 0;
}

std::string Field(int n) {
  const FieldEntry* f = FieldOf("Field", n);
  return f ? f->name : std::string();
}

char FieldType(int n) {
  const FieldEntry* f = FieldOf("FieldType", n);
  return f ? f->type : ' ';
}

int FieldLen(int n) {
  const FieldEntry* f = FieldOf("FieldLen", n);
  if (f == nullptr) return 0;
  if (f->type == 'D') return CenturyOn ? 10 : 8;
  return f->length;
}

int FieldDec(int n) {
  const FieldEntry* f = FieldOf("FieldDec", n);
  return f ? f->decimals : 0;
}

int FieldNo(const std::string& name) {
  WorkArea* area = RequireTable("FieldNo()");
  if (area == nullptr) return 0;
  const std::string wanted = Upper(TrimRight(name.substr(0, 10)));
  for (std::size_t i = 0; i < area->fields.size(); ++i)
    if (area->fields[i].name == wanted) return static_cast<int>(i + 1);
  return 0;
}

std::uint8_t* FieldAddress(int n) {
  WorkArea* area = RequireTable("FieldAddress()");
  if (area == nullptr) return nullptr;
  if (n == 0) return area->native;
  if (n < 0 || n > static_cast<int>(area->fields.size())) {
    SetError(220, FieldNumberError("FieldAddress", n));
    return nullptr;
  }
  return area->native + area->fields[static_cast<std::size_t>(n - 1)].native_offset;
}

void RecordToNative() {
  if (WorkArea* area = CurrentWorkArea()) ConvertRecordToNative(*area);
}

void NativeToRecord() {
  if (WorkArea* area = CurrentWorkArea()) ConvertNativeToRecord(*area);
}

void ClearRecord() {
  if (WorkArea* area = RequireTable("ClearRecord")) ClearAreaRecord(*area);
}

int RecSize() {
  WorkArea* area = RequireTable("RecSize");
  return area ? area->record_length : 0;
}

bool GetProductionFlag() {
  WorkArea* area = RequireTable("GetProductionFlag");
  if (area == nullptr || area->version == dbf::kDbase2) return false;
  return area->header[dbf::header::kProductionIndex] != 0;
}

void SetProductionFlag(bool value) {
  WorkArea* area = RequireTable("SetProductionFlag");
  if (area == nullptr || area->version == dbf::kDbase2) return;
  const std::uint8_t byte = value ? 1 : 0;
  std::uint8_t& flag = area->header[dbf::header::kProductionIndex];
  if (flag == byte) return;
  flag = byte;
  if (area->header_state == HeaderState::Clean) area->header_state = HeaderState::Dirty;
}

void* IndexBlock() {
  WorkArea* area = CurrentWorkArea();
  return area ? area->index.get() : nullptr;
}

namespace {

// Closing a handle gives up every byte-range lock taken through it. After a
// reopen in shared mode the locks of the lock list are taken again through
// the new handle, so that what the list says is held is held; a lock that
// another program took in the meantime leaves the list.
void RetakeLocks(WorkArea& area) {
  if (area.exclusive || area.file == pf::kNoFile) return;
  if (area.lock_kind == 2 && pf::LockRange(area.file, kTableLockOffset, 1) != 0) {
    area.lock_kind = 0;
    area.append_count_known = false;
  }
  std::vector<std::int32_t>& locks = area.record_locks;
  locks.erase(std::remove_if(locks.begin(), locks.end(),
                             [&](std::int32_t record) {
                               return pf::LockRange(area.file, RecordLockOffset(area, record),
                                                    area.record_length) != 0;
                             }),
              locks.end());
  if (area.lock_kind == 3 && locks.empty()) area.lock_kind = 0;
}

}  // namespace

std::uint32_t ReopenTable(bool exclusive) {
  WorkArea* area = RequireTable("ReopenTable");
  if (area == nullptr) return 215;
  // Exclusive use asked for by Use is never given up behind the caller's back.
  if (area->exclusive && !area->exclusive_from_reopen) return 5;
  const std::uint8_t mode = exclusive ? kExclusiveOpenMode : kSharedOpenMode;
  // Our own handle would conflict with an exclusive open: close it first,
  // and fall back to the previous mode when the new open fails.
  // Collected appends are written through the handle that is about to go.
  if (!WritePendingAppends(*area)) return ErrorCode != 0 ? ErrorCode : 101;
  pf::CloseFile(area->file);
  area->file = pf::kNoFile;
  DropReadAhead(*area);
  std::uint32_t rc = pf::OpenFile(area->file_name, mode, area->file);
  if (rc != 0) {
    area->file = pf::kNoFile;
    if (pf::OpenFile(area->file_name, area->open_mode, area->file) != 0) area->file = pf::kNoFile;
    RetakeLocks(*area);
    return rc;
  }
  area->open_mode = mode;
  area->exclusive = exclusive;
  area->exclusive_from_reopen = exclusive;
  ExclusiveFromReopen = exclusive;
  RetakeLocks(*area);
  return 0;
}

}  // namespace qd
