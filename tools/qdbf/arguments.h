// Command lines of qdbf: each command's usage line, its positional
// arguments and its options, parsed and checked before anything opens.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace qd::qdbf {

struct CommandLine {
  std::string command;
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // options with a value
  std::set<std::string> flags;                // options without one

  bool Has(const std::string& flag) const { return flags.count(flag) != 0 || values.count(flag) != 0; }
  std::string Value(const std::string& option, const std::string& fallback = "") const {
    auto it = values.find(option);
    return it == values.end() ? fallback : it->second;
  }
};

// The usage line of a command ("qdbf dump TABLE [...]"); empty when unknown.
std::string UsageLine(const std::string& command);
// Every command's usage line.
std::string AllUsageLines();

// Parses `args` (without the program name). Throws UsageError.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace qd::qdbf
