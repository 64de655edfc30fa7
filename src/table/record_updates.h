// Record updates through the current work area: appending and replacing the
// record held in the native buffer, deleting and recalling the current
// record, and reading or writing one field of any record directly in the
// file.
//
// Lock rule for changing a record (Replace, DeleteRec, RecallRec, Poke):
// nothing is needed for a table open for exclusive use, otherwise the record
// must be in the work area's record lock list (RLock); the table lock does
// not count. Append instead needs the table lock (ALock) or exclusive use.
// A refused lock is reported before anything is written.
//
// While an index order is active, Append and Replace hold the index lock
// semaphore from before the record write until the keys are updated, and call
// the index hooks: AppendNewKey after an append, NoteOldKeys while the native
// buffer holds the record as stored, UpdateKeys after the new record is
// written.
#pragma once

#include <cstdint>
#include <string>

namespace qd {

// Appends the native buffer as a new record and makes it current; the native
// buffer then holds exactly what was stored. Needs ALock on a shared table.
// The record count is taken from the file size once per table lock, so the
// record goes after every record other programs appended before the lock.
void Append();
// Writes the native buffer over the current record.
void Replace();
// Marks the current record deleted ("*") or active (blank); only the first
// byte of the record is written. No index upkeep, no move.
void DeleteRec();
void RecallRec();

// The stored bytes of field `field` (0: the deletion flag) of record
// `record`, read directly from the file: no conversion, no lock, buffers and
// position untouched. Empty when the record or field does not exist.
std::string Peek(int field, std::int32_t record);
// Writes the first min(value length, field length) bytes of `value` into
// field `field` of record `record` (0: the deletion flag) directly in the
// file. Shorter values leave the rest of the field as it was.
void Poke(const std::string& value, int field, std::int32_t record);

}  // namespace qd
