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
void ConvertNativeToRecord(WorkArea& area);
// Blank raw record, converted to the native record.
void ClearAreaRecord(WorkArea& area);

}  // namespace qd
