// What the commands share: the engine session, opening a table by the name
// a user types, the code page of its text, field values read from the
// current record, and the errors the commands end with.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "expressions/expressions.h"
#include "table/dbf_layout.h"
#include "table/work_areas.h"

namespace qd::qdbf {

// Wrong usage: the message and the command's usage line, exit 2.
class UsageError : public std::runtime_error {
 public:
  UsageError(const std::string& command, const std::string& message)
      : std::runtime_error(message), command_(command) {}
  const std::string& Command() const { return command_; }

 private:
  std::string command_;
};

// A failure qdbf reports itself with exit 3 (the engine raises its own as
// EQuindleError, with code and message).
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Starts the engine's units once per process, makes engine errors raise
// exceptions, and has tables read and written without character
// conversion (qdbf converts to UTF-8 itself). Closes every table at the end.
class EngineSession {
 public:
  EngineSession();
  ~EngineSession();
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;
};

// The table file a user means: the path as given when it names a file
// (any letter case), else the path with ".dbf".
std::string ResolveTableName(const std::string& given);

enum class Access : std::uint8_t { ReadOnly, Shared, Exclusive };
// Opens the table in work area 1 and returns it.
WorkArea& OpenTable(const std::string& path, Access access);
// Opens the production index when the table names one and its file exists;
// the index file's name, or empty. Failures raise the engine's error.
std::string OpenProductionIndex(WorkArea& area);
// The production index file a table names (its header flag), whether or not
// it exists; empty when the table names none.
std::string ProductionIndexName(WorkArea& area);

// The code page of the table's text: `override` when not 0, else the page
// its language driver byte names, else OEM 437.
int CodePageOf(const WorkArea& area, int override_page);

// One field value of the current record.
struct Cell {
  enum Kind : std::uint8_t { Null, Text, Number, Date, Logical, Invalid } kind = Null;
  std::string text;    // UTF-8 text; number text (JSON form); YYYY-MM-DD; stored text when invalid
  bool truth = false;  // Logical
};
// Whether the record held in the work area is marked deleted.
bool Deleted(const WorkArea& area);
// The value of field `field` (0-based) of the record held in the work area.
Cell ReadCell(WorkArea& area, std::size_t field, int page);
// The memo block a memo field of the current record names (negated for
// dBASE III values with a block header); false when its text is no number.
bool MemoBlockOf(const WorkArea& area, const FieldEntry& field, std::int32_t& block);

// Number texts: blanks around an optional sign, digits and at most one
// point with at least one digit. `json` receives the number in JSON form.
bool ParseNumberText(const std::string& stored, std::string* json);
// A stored date (YYYYMMDD) that names a real day.
bool ValidStoredDate(const std::string& stored);

// The record numbers to visit: every record in file order.
std::int32_t RecordCountOf(WorkArea& area);

// Compiles an expression typed in UTF-8 against the current table; raises
// the engine's compile error.
struct CompiledExpression {
  CompiledExpression(const std::string& utf8, int page);
  ~CompiledExpression();
  CompiledExpression(const CompiledExpression&) = delete;
  CompiledExpression& operator=(const CompiledExpression&) = delete;
  char Type() const;
  bool Test();                       // a logical expression's value
  std::string Value(int page);       // the value as qdbf prints it (UTF-8)
  ExprRecord* record = nullptr;
};

}  // namespace qd::qdbf
