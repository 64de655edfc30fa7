// Table, record and semaphore locks of shared tables, and the lock list each
// work area keeps (see locking.h for the regions).
#include "table/locking.h"

#include <algorithm>
#include <new>
#include <string>

#include "foundation/errors.h"
#include "platform/platform.h"

namespace qd {

namespace {

constexpr std::uint8_t kNoLock = 0;
constexpr std::uint8_t kTableLocked = 2;
constexpr std::uint8_t kRecordsLocked = 3;

// Releases one record's region (nothing for an exclusive table) and removes
// its entry; the entry goes even when the system refuses the unlock.
std::uint32_t ReleaseRecordEntry(WorkArea& area, std::size_t index) {
  const std::int32_t record = area.record_locks[index];
  std::uint32_t code = 0;
  if (!area.exclusive) {
    code = platform::UnlockRange(area.file, RecordLockOffset(area, record), area.record_length);
  }
  area.record_locks.erase(area.record_locks.begin() + static_cast<std::ptrdiff_t>(index));
  ++area.lock_releases;
  if (area.record_locks.empty()) area.lock_kind = kNoLock;
  return code;
}

// Releases every record lock; the result is the last refusal, or 0.
std::uint32_t ReleaseAllRecords(WorkArea& area) {
  std::uint32_t last = 0;
  while (!area.record_locks.empty()) {
    // Newest first: removing from the front keeps the list valid throughout.
    const std::uint32_t code = ReleaseRecordEntry(area, 0);
    if (code != 0) last = code;
  }
  area.lock_kind = kNoLock;
  return last;
}

}  // namespace

std::uint64_t RecordLockOffset(const WorkArea& area, std::int32_t record) {
  return kLockBase + area.header_length +
         static_cast<std::uint64_t>(record - 1) * area.record_length;
}

bool ALock() {
  WorkArea* area = RequireTable("ALock");
  if (area == nullptr) return false;
  if (area->lock_kind == kTableLocked) return true;
  if (area->lock_kind == kRecordsLocked) return false;
  DropReadAhead(*area);
  if (!area->exclusive && platform::LockRange(area->file, kTableLockOffset, 1) != 0) return false;
  area->lock_kind = kTableLocked;
  area->append_count_known = false;
  return true;
}

bool RLock() {
  WorkArea* area = RequireTable("RLock");
  if (area == nullptr) return false;
  const std::int32_t record = area->record_number;
  if (IsLocked(record)) return true;
  if (area->lock_kind == kTableLocked) return false;
  // Record 0 (an empty table) has no region of its own: below the first
  // record's region it would reach down over the table lock and the
  // semaphore byte of every program sharing the table.
  if (record < 1) return false;
  DropReadAhead(*area);
  const std::uint64_t offset = RecordLockOffset(*area, record);
  if (!area->exclusive && platform::LockRange(area->file, offset, area->record_length) != 0) {
    return false;
  }
  try {
    area->record_locks.insert(area->record_locks.begin(), record);
  } catch (const std::bad_alloc&) {
    if (!area->exclusive) platform::UnlockRange(area->file, offset, area->record_length);
    SetError(217, "[RLock]");
    return false;
  }
  area->lock_kind = kRecordsLocked;
  return true;
}

bool IsLocked(std::int32_t record) {
  WorkArea* area = RequireTable("IsLocked");
  if (area == nullptr) return false;
  return std::find(area->record_locks.begin(), area->record_locks.end(), record) !=
         area->record_locks.end();
}

bool UnlockRec(std::int32_t n) {
  ErrorCode = 0;
  WorkArea* area = RequireTable("UnlockRec");
  if (area == nullptr) return false;
  std::vector<std::int32_t>& locks = area->record_locks;
  std::uint32_t code = 0;
  DropReadAhead(*area);
  if (n >= 1) {
    auto entry = std::find(locks.begin(), locks.end(), n);
    if (entry == locks.end()) {
      // Reported without dispatch: the caller asked about a lock it lacks.
      ErrorCode = 220;
      ErrorText = "Record not locked. [UnlockRec(" + std::to_string(n) + ")]";
      return false;
    }
    code = ReleaseRecordEntry(*area, static_cast<std::size_t>(entry - locks.begin()));
  } else if (n == -1 || n == -2 || n == -3) {
    if (locks.empty()) return true;
    if (n == -1) {
      code = ReleaseRecordEntry(*area, locks.size() - 1);  // oldest
    } else if (n == -2) {
      code = ReleaseRecordEntry(*area, 0);  // newest
    } else {
      code = ReleaseAllRecords(*area);
    }
  } else {
    ErrorCode = 220;
    ErrorText = "[UnlockRec(" + std::to_string(n) + ")]";
    return false;
  }
  if (code != 0) {
    ErrorCode = static_cast<std::uint16_t>(code);
    return false;
  }
  return true;
}

void Unlock() {
  ErrorCode = 0;
  WorkArea* area = RequireTable("Unlock");
  if (area == nullptr) return;
  DropReadAhead(*area);
  // Collected appends are written before the lock goes: a failed write
  // keeps the lock, so that nobody else appends where they belong.
  if (!WritePendingAppends(*area)) return;
  std::uint32_t code = 0;
  if (area->lock_kind == kRecordsLocked) {
    code = ReleaseAllRecords(*area);
  } else if (area->lock_kind == kTableLocked && !area->exclusive) {
    code = platform::UnlockRange(area->file, kTableLockOffset, 1);
    ++area->lock_releases;
  }
  area->lock_kind = kNoLock;
  area->append_count_known = false;
  ErrorCode = static_cast<std::uint16_t>(code);
}

bool LockSemaphoreByte() {
  WorkArea* area = RequireTable("LockSemaphoreByte");
  if (area == nullptr) return false;
  DropReadAhead(*area);
  return platform::LockRange(area->file, kSemaphoreLockOffset, 1) == 0;
}

void UnlockSemaphoreByte() {
  WorkArea* area = RequireTable("UnlockSemaphoreByte");
  if (area == nullptr) return;
  DropReadAhead(*area);
  if (!WritePendingAppends(*area)) return;
  const std::uint32_t code = platform::UnlockRange(area->file, kSemaphoreLockOffset, 1);
  if (code != 0) {
    SetError(static_cast<std::uint16_t>(code), "Error attempting to UNLOCK file " +
                                                   area->file_name + " in Workarea " +
                                                   std::to_string(Selected()));
  }
}

bool ResyncVisible() {
  WorkArea* area = RequireTable("ResyncVisible");
  if (area == nullptr) return false;
  if (RecordVisible(*area)) return false;
  Unlock();
  const std::int32_t remembered = area->record_number;
  Skip(1);
  if (dEOF()) {
    GoIfValid(remembered);
    Skip(-1);
  }
  return true;
}

TableLockSection EnterTableLockSection(WorkArea& area, std::uint32_t wait_ms) {
  DropReadAhead(area);
  if (area.exclusive || area.lock_kind == kTableLocked) return TableLockSection::NotNeeded;
  const std::uint32_t start = platform::TickCount();
  std::uint32_t pause = 1;
  for (;;) {
    if (platform::LockRange(area.file, kTableLockOffset, 1) == 0) return TableLockSection::Taken;
    if (platform::TickCount() - start >= wait_ms) return TableLockSection::Unavailable;
    platform::SleepMs(pause);
    pause = std::min<std::uint32_t>(pause * 2, 20);
  }
}

void LeaveTableLockSection(WorkArea& area, TableLockSection section) {
  DropReadAhead(area);
  if (section == TableLockSection::Taken) platform::UnlockRange(area.file, kTableLockOffset, 1);
}

}  // namespace qd
