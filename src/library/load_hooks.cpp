// Runs the units' start-up when the library is loaded and their closing
// sections when it is unloaded (or the process ends with it still loaded).
//
// Windows: DllMain, which the C runtime calls after it has constructed the
// library's static objects and before it destroys them.
// Elsewhere: a load-time constructor. This file is linked after every engine
// library, so its constructor runs after their static initialisation; the
// closing sections are registered with atexit from there, which runs them
// before the library's static objects are destroyed, both when the library is
// unloaded and when the process exits with it loaded.
// Both run under the exported-function guard: a failure in a unit's section
// must not escape into the loader.
#include <cstdlib>

#include "library/exported_entry.h"
#include "library/units.h"

#ifdef _WIN32

namespace {
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;
}  // namespace

extern "C" int __stdcall DllMain(void* /*instance*/, unsigned long reason, void* /*reserved*/) {
  if (reason == kProcessAttach) qd::library::RunExported("DllMain", qd::library::StartUnits);
  if (reason == kProcessDetach) qd::library::RunExported("DllMain", qd::library::StopUnits);
  return 1;
}

#else

namespace {
void StopUnitsAtExit() { qd::library::RunExported("unload", qd::library::StopUnits); }

__attribute__((constructor)) void StartUnitsOnLoad() {
  qd::library::RunExported("load", qd::library::StartUnits);
  std::atexit(StopUnitsAtExit);
}
}  // namespace

#endif
