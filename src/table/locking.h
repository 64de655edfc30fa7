// Byte-range locking of shared tables: the table lock that grants the right
// to append, record locks for rewrites, the semaphore byte of the index
// engine, and each work area's lock list.
//
// All regions lie at and above kLockBase (work_areas.h), beyond any real
// table data, so locks never block ordinary reads and writes:
//   semaphore byte  kLockBase                                   1 byte
//   table lock      kLockBase + 1                               1 byte
//   record n        kLockBase + header length + (n-1) * record length,
//                   record length bytes
// Every lock is attempted once; a lock held elsewhere fails at once. For a
// table open for exclusive use the operations keep the lock state as if the
// lock had been taken, without touching the file.
//
// The operations themselves (ALock, RLock, IsLocked, UnlockRec, Unlock,
// LockSemaphoreByte, UnlockSemaphoreByte, ResyncVisible) are declared in
// work_areas.h so that the work-area layer can release locks on close.
#pragma once

#include <cstdint>

#include "table/work_areas.h"

namespace qd {

// First byte of the lock region of record `record` (1 and above).
std::uint64_t RecordLockOffset(const WorkArea& area, std::int32_t record);

// Short critical sections under the table lock, for writers other than
// Append that must not interleave with another program's appends: closing a
// shared table refreshes its record count and writes the header count and the
// end-of-file byte inside such a section, so that the byte cannot land on a
// record another program is appending at that moment, and the header count
// written last is the count of the file.
enum class TableLockSection : std::uint8_t {
  NotNeeded,    // exclusive table, or this work area already holds the lock
  Taken,        // the lock was taken here; release it with LeaveTableLockSection
  Unavailable,  // another program held it for the whole wait
};
// Retries the table lock with short pauses for up to `wait_ms` milliseconds.
// Leaves the work area's lock kind and list untouched.
TableLockSection EnterTableLockSection(WorkArea& area, std::uint32_t wait_ms = 5000);
void LeaveTableLockSection(WorkArea& area, TableLockSection section);

}  // namespace qd
