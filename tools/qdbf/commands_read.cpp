// The commands that read a table: info, dump, eval and find.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "console_text.h"
#include "foundation/errors.h"
#include "foundation/exception.h"
#include "indexes/index_engine.h"
#include "indexes/index_file.h"
#include "indexes/index_navigation.h"
#include "foundation/dates.h"
#include "indexes/tag_header_layout.h"
#include "memo/memo_file.h"
#include "platform/platform.h"
#include "table/dbf_layout.h"
#include "table/table_text.h"
#include "table_access.h"

namespace qd::qdbf {

namespace {

std::string VersionName(std::uint8_t version) {
  switch (version) {
    case dbf::kDbase2: return "dBASE II";
    case dbf::kDbase3: return "dBASE III/IV, no memo";
    case dbf::kDbase3Memo: return "dBASE III with memo";
    case dbf::kDbase4Memo: return "dBASE IV with memo";
    case dbf::kLevel7: return "dBASE level 7, no memo";
    case dbf::kLevel7Memo: return "dBASE level 7 with memo";
    case dbf::kFoxProMemo: return "FoxPro with memo";
    default: return "unknown";
  }
}

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

std::string ImageText(const std::uint8_t* bytes, std::size_t size) {
  std::size_t n = 0;
  while (n < size && bytes[n] != 0) ++n;
  return table_text::TrimBlanks(std::string(reinterpret_cast<const char*>(bytes), n));
}

std::string FieldTypeText(const FieldEntry& field) {
  std::string text(1, field.type);
  text += " " + std::to_string(field.length);
  if (field.type == 'N' || field.type == 'F') text += "," + std::to_string(field.decimals);
  return text;
}

// Columns of dump: the fields chosen by --fields (all by default).
std::vector<std::size_t> ChosenFields(const WorkArea& area, const CommandLine& line) {
  std::vector<std::size_t> chosen;
  if (!line.Has("--fields")) {
    for (std::size_t i = 0; i < area.fields.size(); ++i) chosen.push_back(i);
    return chosen;
  }
  const std::string list = line.Value("--fields");
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string name = table_text::Upper(table_text::TrimBlanks(list.substr(start, comma - start)));
    start = comma + 1;
    if (name.empty()) throw UsageError(line.command, "--fields holds an empty name");
    auto it = std::find_if(area.fields.begin(), area.fields.end(),
                           [&](const FieldEntry& field) { return table_text::Upper(field.name) == name; });
    if (it == area.fields.end()) throw UsageError(line.command, "no field named " + name);
    chosen.push_back(static_cast<std::size_t>(it - area.fields.begin()));
  }
  return chosen;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return text;
}

std::string Fit(const std::string& text, std::size_t width) {
  if (DisplayWidth(text) <= width) return text;
  std::string out;
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && ++count > width - std::min<std::size_t>(width, 3)) break;
    out += text[i];
  }
  return out + std::string(std::min<std::size_t>(width, 3), '.');
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
  const std::size_t shown = DisplayWidth(text);
  if (shown >= width) return text;
  return right ? std::string(width - shown, ' ') + text : text + std::string(width - shown, ' ');
}

constexpr std::size_t kWidestTextColumn = 60;
constexpr std::size_t kMemoColumn = 40;

enum class Format { Aligned, Csv, Json };

// Writes records of the table in one of the three layouts.
class RecordWriter {
 public:
  RecordWriter(std::ostream& out, WorkArea& area, std::vector<std::size_t> fields, Format format,
               bool with_deleted, int page)
      : out_(out), area_(area), fields_(std::move(fields)), format_(format), deleted_(with_deleted), page_(page) {
    for (const std::size_t i : fields_) {
      const FieldEntry& field = area.fields[i];
      std::size_t width = field.length;
      if (field.type == 'D') width = 10;
      if (field.type == 'C') width = std::min(width, kWidestTextColumn);
      if (field.type == 'M' ) width = kMemoColumn;
      widths_.push_back(std::max(width, DisplayWidth(field.name)));
    }
  }

  void Header() {
    std::vector<std::string> names;
    if (deleted_) names.push_back("_deleted");
    for (const std::size_t i : fields_) names.push_back(area_.fields[i].name);
    if (format_ == Format::Csv) {
      for (std::size_t i = 0; i < names.size(); ++i) out_ << (i ? "," : "") << CsvField(names[i]);
      out_ << "\r\n";
    } else if (format_ == Format::Aligned) {
      std::string line, rule;
      std::size_t column = 0;
      if (deleted_) {
        line += "_deleted";
        rule += "--------";
        ++column;
      }
      for (std::size_t k = 0; k < fields_.size(); ++k) {
        const FieldEntry& field = area_.fields[fields_[k]];
        const bool right = field.type == 'N' || field.type == 'F';
        if (column++) {
          line += "  ";
          rule += "  ";
        }
        line += Pad(field.name, widths_[k], right);
        rule += std::string(widths_[k], '-');
      }
      out_ << table_text::TrimRight(line) << "\n" << rule << "\n";
    }
  }

  void Record() {
    const bool deleted = !area_.record.empty() && Deleted(area_);
    std::vector<Cell> cells;
    for (const std::size_t i : fields_) cells.push_back(ReadCell(area_, i, page_));
    if (format_ == Format::Json) {
      std::string line = "{";
      bool first = true;
      if (deleted_) {
        line += std::string("\"_deleted\": ") + (deleted ? "true" : "false");
        first = false;
      }
      for (std::size_t k = 0; k < fields_.size(); ++k) {
        if (!first) line += ", ";
        first = false;
        line += JsonString(area_.fields[fields_[k]].name) + ": " + JsonValue(cells[k]);
      }
      out_ << line << "}\n";
    } else if (format_ == Format::Csv) {
      std::string line;
      if (deleted_) line += deleted ? "T," : "F,";
      for (std::size_t k = 0; k < fields_.size(); ++k) line += (k ? "," : "") + CsvField(PlainValue(cells[k]));
      out_ << line << "\r\n";
    } else {
      std::string line;
      std::size_t column = 0;
      if (deleted_) {
        line += Pad(deleted ? "*" : "", 8, false);
        ++column;
      }
      for (std::size_t k = 0; k < fields_.size(); ++k) {
        const FieldEntry& field = area_.fields[fields_[k]];
        const bool right = field.type == 'N' || field.type == 'F';
        if (column++) line += "  ";
        line += Pad(Fit(OneLine(PlainValue(cells[k])), widths_[k]), widths_[k], right);
      }
      out_ << table_text::TrimRight(line) << "\n";
    }
  }

 private:
  static std::string JsonValue(const Cell& cell) {
    switch (cell.kind) {
      case Cell::Null: return "null";
      case Cell::Number: return cell.text;
      case Cell::Logical: return cell.truth ? "true" : "false";
      case Cell::Invalid: return "null";
      default: return JsonString(cell.text);
    }
  }
  static std::string PlainValue(const Cell& cell) {
    switch (cell.kind) {
      case Cell::Null: return std::string();
      case Cell::Logical: return cell.truth ? "T" : "F";
      default: return cell.text;
    }
  }

  std::ostream& out_;
  WorkArea& area_;
  std::vector<std::size_t> fields_;
  std::vector<std::size_t> widths_;
  Format format_;
  bool deleted_;
  int page_;
};

// Opens the production index and selects the tag as the current order;
// raises the engine's error for a tag the index lacks.
void SelectOrder(WorkArea& area, const std::string& tag) {
  if (OpenProductionIndex(area).empty())
    throw ToolError(platform::ResolvePath(area.file_name) + " has no production index");
  SetOrderToTag(tag);
}

}  // namespace

int InfoCommand(Context& context) {
  WorkArea& area = OpenTable(ResolveTableName(context.line.positional[0]), Access::ReadOnly);
  const int page = CodePageOf(area, context.codepage);
  std::ostream& out = context.out;
  const std::string& date = area.update_date;
  out << "Table:         " << platform::ResolvePath(area.file_name) << "\n";
  out << "Version:       " << Hex(area.version) << " (" << VersionName(area.version) << ")\n";
  out << "Last update:   "
      << (date.size() == 8 ? date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2) : date) << "\n";
  out << "Records:       " << area.record_count << "\n";
  out << "Record length: " << area.record_length << "\n";
  out << "Header length: " << area.header_length << "\n";
  out << "Code page:     " << page << (IsAnsiPage(page) ? " (ANSI)" : " (OEM)");
  if (area.version != dbf::kDbase2)
    out << ", language driver " << Hex(area.header[dbf::header::kLanguageDriver]);
  out << "\n";
  out << "Fields:        " << area.fields.size() << "\n";
  for (const FieldEntry& field : area.fields) {
    std::string name = field.name;
    name.resize(std::max<std::size_t>(name.size(), dbf::descriptor::kNameLength), ' ');
    out << "  " << name << "  " << FieldTypeText(field) << "\n";
  }
  out << "Memo file:     " << (area.memo ? platform::ResolvePath(area.memo->file_name) : std::string("none")) << "\n";
  const std::string index_name = ProductionIndexName(area);
  if (index_name.empty()) {
    out << "Index:         none\n";
    return kExitOk;
  }
  std::string opened;
  try {
    opened = OpenProductionIndex(area);
  } catch (const Exception& error) {
    std::string text = error.what();
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, ": ");
    out << "Index:         " << index_name << " (does not open: " << text << ")\n";
    ErrorCode = 0;
    return kExitOk;
  }
  if (opened.empty()) {
    out << "Index:         " << index_name << " (missing)\n";
    return kExitOk;
  }
  out << "Index:         " << platform::ResolvePath(opened) << "\n";
  IndexArea* index = CurrentIndexArea();
  for (int slot = 1; index != nullptr && slot <= mdx::kMaxTags; ++slot) {
    CurrIndex* tag = index->tags[static_cast<std::size_t>(slot)].get();
    if (tag == nullptr) continue;
    namespace th = mdx::tag_header;
    out << "  Tag " << TagName(tag->tag_number) << ": key "
        << ToUtf8(ImageText(tag->header.data() + th::kKeyExpression, th::kExpressionSize), page);
    if (tag->HasFor())
      out << " for " << ToUtf8(ImageText(tag->header.data() + th::kForExpression, th::kExpressionSize), page);
    out << " (" << tag->key_type << " " << tag->key_length;
    if (tag->descending) out << ", descending";
    if (tag->Unique()) out << ", unique";
    out << ")\n";
  }
  return kExitOk;
}

int DumpCommand(Context& context) {
  const CommandLine& line = context.line;
  if (line.Has("--csv") && line.Has("--json")) throw UsageError(line.command, "--csv and --json exclude each other");
  WorkArea& area = OpenTable(ResolveTableName(line.positional[0]), Access::ReadOnly);
  const int page = CodePageOf(area, context.codepage);
  const Format format = line.Has("--csv") ? Format::Csv : line.Has("--json") ? Format::Json : Format::Aligned;
  std::unique_ptr<CompiledExpression> condition;
  if (line.Has("--for")) {
    condition = std::make_unique<CompiledExpression>(line.Value("--for"), page);
    if (condition->Type() != 'L') throw UsageError(line.command, "--for needs a logical expression");
  }
  const bool with_deleted = line.Has("--deleted");
  RecordWriter writer(context.out, area, ChosenFields(area, line), format, with_deleted, page);
  writer.Header();
  auto visit = [&] {
    if (!with_deleted && Deleted(area)) return;
    if (condition && !condition->Test()) return;
    writer.Record();
  };
  if (line.Has("--order")) {
    SelectOrder(area, line.Value("--order"));
    for (GoTop(); !dEOF(); Skip(1)) visit();
    return kExitOk;
  }
  const std::int32_t count = RecordCountOf(area);
  for (std::int32_t n = 1; n <= count; ++n) {
    Go(n);
    visit();
  }
  return kExitOk;
}

int EvalCommand(Context& context) {
  const CommandLine& line = context.line;
  WorkArea& area = OpenTable(ResolveTableName(line.positional[0]), Access::ReadOnly);
  const int page = CodePageOf(area, context.codepage);
  CompiledExpression expression(line.positional[1], page);
  std::unique_ptr<CompiledExpression> condition;
  if (line.Has("--for")) {
    condition = std::make_unique<CompiledExpression>(line.Value("--for"), page);
    if (condition->Type() != 'L') throw UsageError(line.command, "--for needs a logical expression");
  }
  const std::int32_t count = RecordCountOf(area);
  for (std::int32_t n = 1; n <= count; ++n) {
    Go(n);
    if (Deleted(area)) continue;
    if (condition && !condition->Test()) continue;
    context.out << expression.Value(page) << "\n";
  }
  return kExitOk;
}

int FindCommand(Context& context) {
  const CommandLine& line = context.line;
  WorkArea& area = OpenTable(ResolveTableName(line.positional[0]), Access::ReadOnly);
  const int page = CodePageOf(area, context.codepage);
  SelectOrder(area, line.positional[1]);
  std::string key = line.positional[2];
  const CurrIndex* tag = CurrentIndexArea()->tags[1].get();
  if (tag->key_type == 'D') {
    // A date key as YYYY-MM-DD or YYYYMMDD, handed over in the display form
    // the engine reads.
    std::string digits = table_text::TrimBlanks(key);
    if (digits.size() == 10 && digits[4] == '-' && digits[7] == '-')
      digits = digits.substr(0, 4) + digits.substr(5, 2) + digits.substr(8, 2);
    if (!ValidStoredDate(digits)) throw UsageError(line.command, "the tag's keys are dates: KEY is YYYY-MM-DD");
    key = JulianToDate(DtosToJulian(digits));
  } else if (tag->key_type == 'N' || tag->key_type == 'F') {
    if (!ParseNumberText(key, nullptr)) throw UsageError(line.command, "the tag's keys are numbers: KEY is a number");
  } else {
    key = FromUtf8(key, page);
  }
  const bool exact = line.Has("--exact");
  const bool was_exact = exact ? SetExactLength() : ClearExactLength();
  const bool found = Find(key);
  if (was_exact) SetExactLength(); else ClearExactLength();
  if (!found) {
    context.err << "qdbf: no key of tag " << table_text::Upper(line.positional[1]) << " matches '"
                << line.positional[2] << "'\n";
    return kExitNotFound;
  }
  RecordWriter writer(context.out, area, ChosenFields(area, line), Format::Aligned, false, page);
  writer.Header();
  writer.Record();
  return kExitOk;
}

}  // namespace qd::qdbf
