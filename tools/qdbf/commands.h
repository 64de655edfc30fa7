// The commands of qdbf, each given its parsed command line and streams.
#pragma once

#include <ostream>

#include "arguments.h"
#include "qdbf.h"

namespace qd::qdbf {

struct Context {
  const CommandLine& line;
  std::ostream& out;
  std::ostream& err;
  bool progress;   // progress bars allowed (drawn only on a terminal)
  int codepage;    // --codepage, 0 when not given
};

int InfoCommand(Context& context);
int DumpCommand(Context& context);
int EvalCommand(Context& context);
int FindCommand(Context& context);
int CreateCommand(Context& context);
int ImportCommand(Context& context);
int IndexCommand(Context& context);
int ReindexCommand(Context& context);
int CheckCommand(Context& context);
int PackCommand(Context& context);

}  // namespace qd::qdbf
