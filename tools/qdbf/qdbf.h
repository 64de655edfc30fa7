// qdbf, the command-line tool for dBASE tables, as a library: the program's
// main passes its arguments to Run, and tests may call it in-process. Every
// command works through the engine's own operations.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qd::qdbf {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotFound = 1;  // no match, or check found problems
inline constexpr int kExitUsage = 2;     // wrong usage, with a usage line
inline constexpr int kExitEngine = 3;    // engine error: code and message

// Runs one command (`args` without the program name). Output goes to `out`,
// messages to `err`; progress bars go to standard error when it is a
// terminal and `progress` is set.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        bool progress = true);

// The usage lines, one per command.
std::string UsageText();

}  // namespace qd::qdbf
