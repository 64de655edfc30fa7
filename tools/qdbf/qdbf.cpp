// Run: parses the command line, runs the command inside an engine session
// and turns its outcome into the exit status.
#include "qdbf.h"

#include <cstdlib>

#include "arguments.h"
#include "commands.h"
#include "console_text.h"
#include "foundation/errors.h"
#include "foundation/exception.h"
#include "table_access.h"

namespace qd::qdbf {

namespace {

int ParseCodePage(const CommandLine& line) {
  if (!line.Has("--codepage")) return 0;
  const std::string text = line.Value("--codepage");
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos ||
      !KnownCodePage(std::atoi(text.c_str())))
    throw UsageError(line.command, "unknown code page '" + text +
                                       "' (437, 737, 850, 852, 855, 857, 860, 861, 863, 865, 866, 869, 874, "
                                       "1250 to 1257)");
  return std::atoi(text.c_str());
}

int Dispatch(Context& context) {
  const std::string& command = context.line.command;
  if (command == "info") return InfoCommand(context);
  if (command == "dump") return DumpCommand(context);
  if (command == "create") return CreateCommand(context);
  if (command == "import") return ImportCommand(context);
  if (command == "index") return IndexCommand(context);
  if (command == "reindex") return ReindexCommand(context);
  if (command == "find") return FindCommand(context);
  if (command == "eval") return EvalCommand(context);
  if (command == "check") return CheckCommand(context);
  return PackCommand(context);
}

std::string OneLine(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, ": ");
  for (std::size_t at; (at = text.find("\n\r")) != std::string::npos;) text.replace(at, 2, ": ");
  return text;
}

}  // namespace

std::string UsageText() { return AllUsageLines(); }

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    out << AllUsageLines();
    return kExitOk;
  }
  std::string command;
  try {
    const CommandLine line = ParseCommandLine(args);
    command = line.command;
    Context context{line, out, err, progress, ParseCodePage(line)};
    EngineSession session;
    try {
      const int status = Dispatch(context);
      out.flush();
      return status;
    } catch (const EQuindleError& error) {
      out.flush();
      // The engine's text starts "Error # <code> (<message>)" and names the
      // operation after it.
      err << "qdbf: " << OneLine(error.what()) << "\n";
      return kExitEngine;
    } catch (const ToolError& error) {
      out.flush();
      err << "qdbf: " << error.what();
      if (ErrorCode != 0) err << " (" << ErrorMessage(ErrorCode) << ")";
      err << "\n";
      return kExitEngine;
    }
  } catch (const UsageError& error) {
    err << "qdbf: " << error.what() << "\n";
    const std::string usage = UsageLine(error.Command());
    err << (usage.empty() ? AllUsageLines() : usage + "\n");
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    err << "qdbf: out of memory\n";
    return kExitEngine;
  } catch (const std::exception& error) {
    err << "qdbf: " << (command.empty() ? "" : command + ": ") << error.what() << "\n";
    return kExitEngine;
  }
}

}  // namespace qd::qdbf
