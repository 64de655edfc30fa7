// The ordered list of the library's units with their start-up and closing
// sections, and the two runners that the load and unload hooks call.
#include "library/units.h"

#include <array>

#include "dataset/table_dataset.h"
#include "expressions/expressions.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "memo/memo_unit.h"
#include "table/work_areas.h"

namespace qd::library {

namespace {

// The table units: the work-area table with work area 1 current and the
// process-wide open settings at their start values.
void StartTableUnits() {
  CurrentArea = 1;
  AutoFixRecCount = false;
  OpenModeOverride = -1;
  AnsiTables = false;
}

// Closing a table writes its header and end-of-file byte, so every work
// area, slots 34 and 35 included, is closed before the library goes away.
// A failure while closing must not stop the process or escape the unload.
void StopTableUnits() {
  ImmediateDispatch = false;
  RaiseExceptions = false;
  try {
    CloseEveryWorkArea();
  } catch (...) {
  }
}

constexpr std::array<Unit, 8> kUnits{{
    {"errors", [] { InitErrorUnit(); }, nullptr},
    {"dates", [] { InitDateUnit(); }, nullptr},
    {"utilities", nullptr, nullptr},
    {"tables", StartTableUnits, StopTableUnits},
    {"expressions", [] { InitExpressionUnit(); }, nullptr},
    {"indexes", [] { InitIndexUnit(); }, [] { StopIndexUnit(); }},
    {"memos", [] { InitMemoUnit(); }, nullptr},
    {"datasets", [] { InitDatasetUnit(); }, nullptr},
}};

enum class Phase { Loaded, Started, Stopped };
Phase phase = Phase::Loaded;

}  // namespace

std::span<const Unit> Units() { return kUnits; }

void StartUnits() {
  if (phase != Phase::Loaded) return;
  phase = Phase::Started;
  for (const Unit& unit : kUnits)
    if (unit.start != nullptr) unit.start();
}

void StopUnits() {
  if (phase != Phase::Started) return;
  phase = Phase::Stopped;
  for (auto unit = kUnits.rbegin(); unit != kUnits.rend(); ++unit)
    if (unit->stop != nullptr) unit->stop();
}

bool UnitsStarted() { return phase == Phase::Started; }

}  // namespace qd::library
