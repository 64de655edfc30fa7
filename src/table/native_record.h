// Conversion between a work area's raw record (the field texts as stored)
// and its native record (the fixed binary layout the dataset components
// read and write), for one given work area.
#pragma once

#include "table/work_areas.h"

namespace qd {

// Fills in the native slot, offset and size of every field entry and
// returns the native record size (1 plus the slot sizes).
std::uint32_t ComputeNativeLayout(WorkArea& area);
void ConvertRecordToNative(WorkArea& area);

// Which stored texts of the raw record survive a conversion back when the
// native slot still reads as them. KeepAll: every one, so that a record
// rewritten for one field leaves the others as stored (blanks, "?" and
// asterisks included). NewRecord: only number texts with digits and dates
// that still show as the slot: a new record takes 0, false and numbers that
// overflowed from its slots.
enum class StoredTexts : std::uint8_t { KeepAll, NewRecord };
void ConvertNativeToRecord(WorkArea& area, StoredTexts keep = StoredTexts::KeepAll);
// Blank raw record, converted to the native record.
void ClearAreaRecord(WorkArea& area);

}  // namespace qd
