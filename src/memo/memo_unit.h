// The memo unit's start-up: it fills the table layer's memo hooks (reading
// memo text, opening and closing memo files, storing a text as a new value,
// packing the memo file, copying values between work areas, emptying the
// memo file) and sets its settings to their start values.
#pragma once

namespace qd {

void InitMemoUnit();

}  // namespace qd
