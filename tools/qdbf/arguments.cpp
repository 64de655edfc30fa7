// The command table and the parser: options may come anywhere after the
// command, as "--name value" or "--name=value"; "--" ends the options.
#include "arguments.h"

#include "table_access.h"

namespace qd::qdbf {

namespace {

struct CommandSpec {
  const char* name;
  const char* usage;
  std::size_t min_args;
  std::size_t max_args;
  std::set<std::string> value_options;
  std::set<std::string> flags;
};

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
      {"info", "qdbf info TABLE", 1, 1, {}, {}},
      {"dump", "qdbf dump TABLE [--csv | --json] [--order TAG] [--for EXPR] [--deleted] [--fields NAME,NAME...]",
       1, 1, {"--order", "--for", "--fields"}, {"--csv", "--json", "--deleted"}},
      {"create", "qdbf create TABLE NAME:TYPE:LENGTH[:DECIMALS]... [--version 2|3|4|7|fox]", 2, 1000,
       {"--version"}, {}},
      {"import", "qdbf import TABLE FILE.csv", 2, 2, {}, {}},
      {"index", "qdbf index TABLE TAG KEY [--for EXPR] [--descending] [--unique]", 3, 3, {"--for"},
       {"--descending", "--unique"}},
      {"reindex", "qdbf reindex TABLE", 1, 1, {}, {}},
      {"find", "qdbf find TABLE TAG KEY [--exact]", 3, 3, {}, {"--exact"}},
      {"eval", "qdbf eval TABLE EXPR [--for EXPR]", 2, 2, {"--for"}, {}},
      {"check", "qdbf check TABLE", 1, 1, {}, {}},
      {"pack", "qdbf pack TABLE", 1, 1, {}, {}},
  };
  return commands;
}

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& spec : Commands())
    if (name == spec.name) return &spec;
  return nullptr;
}

}  // namespace

std::string UsageLine(const std::string& command) {
  const CommandSpec* spec = FindCommand(command);
  return spec == nullptr ? std::string() : std::string("usage: ") + spec->usage;
}

std::string AllUsageLines() {
  std::string text = "usage:\n";
  for (const CommandSpec& spec : Commands()) text += std::string("  ") + spec.usage + "\n";
  text +=
      "TABLE is a path with or without .dbf. Every command takes --codepage PAGE (437, 850, 1252, ...),\n"
      "the code page of the table's text. Exit status: 0 done, 1 not found or problems found,\n"
      "2 wrong usage, 3 engine error.\n";
  return text;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  if (args.empty()) throw UsageError("", "no command given");
  line.command = args[0];
  const CommandSpec* spec = FindCommand(line.command);
  if (spec == nullptr) throw UsageError("", "unknown command '" + line.command + "'");
  bool options_end = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_end && arg == "--") {
      options_end = true;
      continue;
    }
    if (options_end || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      line.positional.push_back(arg);
      continue;
    }
    std::string name = arg;
    std::string value;
    bool has_value = false;
    if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      has_value = true;
    }
    const bool takes_value = name == "--codepage" || spec->value_options.count(name) != 0;
    if (!takes_value && spec->flags.count(name) == 0)
      throw UsageError(line.command, "unknown option '" + name + "'");
    if (takes_value) {
      if (!has_value) {
        if (i + 1 >= args.size()) throw UsageError(line.command, "option " + name + " needs a value");
        value = args[++i];
      }
      if (line.values.count(name) != 0) throw UsageError(line.command, "option " + name + " given twice");
      line.values[name] = value;
    } else {
      if (has_value) throw UsageError(line.command, "option " + name + " takes no value");
      line.flags.insert(name);
    }
  }
  if (line.positional.size() < spec->min_args)
    throw UsageError(line.command, "missing arguments");
  if (line.positional.size() > spec->max_args)
    throw UsageError(line.command, "too many arguments ('" + line.positional[spec->max_args] + "')");
  if (line.positional[0].empty()) throw UsageError(line.command, "TABLE is empty");
  return line;
}

}  // namespace qd::qdbf
