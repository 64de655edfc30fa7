// The engine session, table opening and field values for qdbf's commands.
#include "table_access.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "console_text.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "indexes/index_file.h"
#include "library/units.h"
#include "memo/memo_file.h"
#include "platform/platform.h"
#include "table/table_text.h"

namespace qd::qdbf {

namespace pf = qd::platform;

EngineSession::EngineSession() {
  library::StartUnits();
  ImmediateDispatch = true;
  RaiseExceptions = true;
  ErrorCode = 0;
  // Records and memo values are read and written as stored: qdbf converts
  // between the table's code page and UTF-8 itself, exactly, where the
  // engine's OEM transform would map to the Windows page with best-fit
  // replacements.
  AnsiTables = true;
  OpenModeOverride = -1;
}

EngineSession::~EngineSession() {
  const bool dispatch = SetImmediateDispatch(false);
  const bool raise = SetRaiseExceptions(false);
  try {
    CloseEveryWorkArea();
  } catch (...) {
  }
  OpenModeOverride = -1;
  SetRaiseExceptions(raise);
  SetImmediateDispatch(dispatch);
  ErrorCode = 0;
}

std::string ResolveTableName(const std::string& given) {
  if (pf::FileExists(given) && !pf::DirectoryExists(given)) return pf::ResolvePath(given);
  if (table_text::ExtensionDot(given) == std::string::npos) {
    const std::string with = given + ".dbf";
    if (pf::FileExists(with)) return pf::ResolvePath(with);
    return with;
  }
  return given;
}

WorkArea& OpenTable(const std::string& path, Access access) {
  Select(1);
  OpenModeOverride = access == Access::ReadOnly ? kReadOnlySharedOpenMode : -1;
  std::string request = path;
  if (access == Access::Exclusive) request += " EXCLUSIVE";
  request += " ALIAS QDBF";
  Use(request, nullptr, 0);
  OpenModeOverride = -1;
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) throw ToolError("cannot open " + path);
  return *area;
}

std::string ProductionIndexName(WorkArea& area) {
  if (!GetProductionFlag()) return std::string();
  (void)area;
  return pf::ResolvePath(ResolveIndexName(""));
}

std::string OpenProductionIndex(WorkArea& area) {
  const std::string name = ProductionIndexName(area);
  if (name.empty() || !pf::FileExists(name)) return std::string();
  SetIndexTo("");
  return Mdx();
}

int CodePageOf(const WorkArea& area, int override_page) {
  if (override_page != 0) return override_page;
  // dBASE II tables have no language driver byte.
  if (area.version == dbf::kDbase2) return 437;
  return TableCodePage(area.header[dbf::header::kLanguageDriver]);
}

bool Deleted(const WorkArea& area) { return area.record[dbf::record::kDeletionFlag] == dbf::record::kDeleted; }

bool ParseNumberText(const std::string& stored, std::string* json) {
  std::size_t at = 0;
  const std::size_t n = stored.size();
  auto blank = [](char c) { return c == ' ' || c == '\0'; };
  while (at < n && blank(stored[at])) ++at;
  bool negative = false;
  if (at < n && (stored[at] == '-' || stored[at] == '+')) negative = stored[at++] == '-';
  std::string whole, fraction;
  while (at < n && stored[at] >= '0' && stored[at] <= '9') whole += stored[at++];
  bool point = false;
  if (at < n && stored[at] == '.') {
    point = true;
    ++at;
    while (at < n && stored[at] >= '0' && stored[at] <= '9') fraction += stored[at++];
  }
  while (at < n && blank(stored[at])) ++at;
  if (at != n || (whole.empty() && fraction.empty())) return false;
  (void)point;
  if (json != nullptr) {
    std::size_t lead = 0;
    while (lead + 1 < whole.size() && whole[lead] == '0') ++lead;
    std::string text = negative ? "-" : "";
    text += whole.empty() ? "0" : whole.substr(lead);
    if (!fraction.empty()) text += "." + fraction;
    *json = text;
  }
  return true;
}

bool ValidStoredDate(const std::string& stored) {
  if (stored.size() != 8) return false;
  for (const char c : stored)
    if (c < '0' || c > '9') return false;
  const int year = std::stoi(stored.substr(0, 4));
  const int month = std::stoi(stored.substr(4, 2));
  const int day = std::stoi(stored.substr(6, 2));
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool MemoBlockOf(const WorkArea& area, const FieldEntry& field, std::int32_t& block) {
  block = 0;
  const std::uint8_t* bytes = area.record.data() + field.offset;
  if (field.length == dbf::kBinaryMemoLength) {  // a binary block number (FoxPro's later layout)
    block = static_cast<std::int32_t>(table_text::Get32(bytes));
    return true;
  }
  const std::string text(reinterpret_cast<const char*>(bytes), field.length);
  std::string json;
  if (table_text::TrimBlanks(text).empty()) return true;
  if (!ParseNumberText(text, &json) || json.find('.') != std::string::npos) return false;
  const long long value = std::stoll(json.size() > 12 ? std::string("99999999999") : json);
  if (value > 0x7FFFFFFFLL || value < -0x7FFFFFFFLL) return false;
  block = static_cast<std::int32_t>(value);
  return true;
}

Cell ReadCell(WorkArea& area, std::size_t index, int page) {
  const FieldEntry& field = area.fields[index];
  const std::string stored(reinterpret_cast<const char*>(area.record.data() + field.offset), field.length);
  Cell cell;
  switch (field.type) {
    case 'C':
      cell.kind = Cell::Text;
      cell.text = ToUtf8(table_text::TrimRight(stored), page);
      break;
    case 'N':
    case 'F': {
      const std::string trimmed = table_text::TrimBlanks(stored);
      if (trimmed.empty() || trimmed.find_first_not_of('\0') == std::string::npos) break;
      if (ParseNumberText(stored, &cell.text)) {
        cell.kind = Cell::Number;
      } else {
        cell.kind = Cell::Invalid;
        cell.text = ToUtf8(trimmed, page);
      }
      break;
    }
    case 'D': {
      const std::string trimmed = table_text::TrimBlanks(stored);
      if (trimmed.empty() || trimmed == "00000000") break;
      if (ValidStoredDate(stored)) {
        cell.kind = Cell::Date;
        cell.text = stored.substr(0, 4) + "-" + stored.substr(4, 2) + "-" + stored.substr(6, 2);
      } else {
        cell.kind = Cell::Invalid;
        cell.text = ToUtf8(trimmed, page);
      }
      break;
    }
    case 'L': {
      const char c = stored.empty() ? ' ' : stored[0];
      if (std::strchr("TtYy", c) != nullptr && c != '\0') {
        cell.kind = Cell::Logical;
        cell.truth = true;
      } else if (std::strchr("FfNn", c) != nullptr && c != '\0') {
        cell.kind = Cell::Logical;
      }
      break;
    }
    default: {  // memo fields
      cell.kind = Cell::Text;
      std::int32_t block = 0;
      if (!MemoBlockOf(area, field, block)) {
        cell.kind = Cell::Invalid;
        cell.text = ToUtf8(table_text::TrimBlanks(stored), page);
        break;
      }
      if (block == 0 || area.memo == nullptr) break;
      std::string value;
      ReadMemoValue(block, value, "qdbf");
      cell.text = ToUtf8(value, page);
    }
  }
  return cell;
}

std::int32_t RecordCountOf(WorkArea& area) { return area.record_count; }

CompiledExpression::CompiledExpression(const std::string& utf8, int page) {
  const std::string text = FromUtf8(utf8, page);
  record = AssignExpr(text);
  if (record == nullptr) throw ToolError("cannot compile " + utf8);
}

CompiledExpression::~CompiledExpression() { FreeExpr(record); }

char CompiledExpression::Type() const { return record->result_type; }

bool CompiledExpression::Test() {
  void* result = EvalExpr(record);
  return result != nullptr && *static_cast<const std::int32_t*>(result) != 0;
}

std::string CompiledExpression::Value(int page) {
  void* result = EvalExpr(record);
  if (result == nullptr) return std::string();
  switch (record->result_type) {
    case 'N': {
      double value;
      std::memcpy(&value, result, sizeof value);
      if (!std::isfinite(value)) return value != value ? "nan" : (value > 0 ? "inf" : "-inf");
      char text[400];
      std::snprintf(text, sizeof text, "%.*f", static_cast<int>(record->result_decimals), value);
      return text;
    }
    case 'L': return *static_cast<const std::int32_t*>(result) != 0 ? "T" : "F";
    case 'D': {
      double day;
      std::memcpy(&day, result, sizeof day);
      const std::string stored = JulianToDtos(day);
      if (!ValidStoredDate(stored)) return std::string();
      return stored.substr(0, 4) + "-" + stored.substr(4, 2) + "-" + stored.substr(6, 2);
    }
    default: return ToUtf8(table_text::TrimRight(static_cast<const char*>(result)), page);
  }
}

}  // namespace qd::qdbf
