// The library's units and the order in which loading the library starts them
// and unloading closes them. The order is one explicit list, so it never
// depends on how the linker happens to arrange static initialisation.
#pragma once

#include <span>

namespace qd::library {

// One unit: its start-up section and its closing section (either may be
// null when the unit has none).
struct Unit {
  const char* name;
  void (*start)();
  void (*stop)();
};

// Every unit in start-up order: errors, dates, utilities, the table units,
// the expression unit, the index unit, the memo unit, the dataset units.
std::span<const Unit> Units();

// Runs every start-up section once, in list order. Later calls do nothing.
void StartUnits();
// Runs the closing sections in reverse list order, once, and only after
// StartUnits; the table units close every work area.
void StopUnits();
bool UnitsStarted();

}  // namespace qd::library
