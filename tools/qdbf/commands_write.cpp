// The commands that write tables: create, import, pack, index and reindex.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "console_text.h"
#include "foundation/errors.h"
#include "foundation/exception.h"
#include "indexes/file_header_layout.h"
#include "indexes/index_build.h"
#include "indexes/index_file.h"
#include "memo/memo_file.h"
#include "memo/memo_layouts.h"
#include "memo/memo_pack.h"
#include "platform/platform.h"
#include "platform/progress_bar.h"
#include "table/dbf_layout.h"
#include "table/record_updates.h"
#include "table/table_text.h"
#include "table_access.h"

namespace qd::qdbf {

namespace pf = qd::platform;

namespace {

bool ValidFieldName(const std::string& name) {
  if (name.empty() || name.size() > dbf::descriptor::kNameLength) return false;
  if (!(std::isalpha(static_cast<unsigned char>(name[0])))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

int ParseCount(const std::string& command, const std::string& text, const std::string& what) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError(command, what + " '" + text + "' is not a number from 0 to 255");
  return std::stoi(text);
}

FieldDefinition ParseFieldSpec(const std::string& command, const std::string& spec) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t colon = spec.find(':', start);
    parts.push_back(spec.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || parts.size() > 4)
    throw UsageError(command, "field '" + spec + "' is not NAME:TYPE:LENGTH[:DECIMALS]");
  FieldDefinition field;
  field.name = table_text::Upper(parts[0]);
  if (!ValidFieldName(field.name))
    throw UsageError(command, "field name '" + parts[0] + "': 1 to 10 letters, digits or _, starting with a letter");
  if (parts[1].size() != 1) throw UsageError(command, "field '" + spec + "': the type is one letter");
  field.type = table_text::UpperAscii(parts[1][0]);
  switch (field.type) {
    case 'C':
    case 'N':
    case 'F': {
      if (parts.size() < 3) throw UsageError(command, "field '" + spec + "' needs a length");
      field.length = ParseCount(command, parts[2], "length");
      if (parts.size() == 4) field.decimals = ParseCount(command, parts[3], "decimals");
      if (field.type == 'C' && (field.length < 1 || field.length > 254 || parts.size() == 4))
        throw UsageError(command, "field '" + spec + "': character fields hold 1 to 254 characters, no decimals");
      if (field.type != 'C' && (field.length < 1 || field.length > 20 ||
                                (field.decimals > 0 && field.decimals > field.length - 2)))
        throw UsageError(command, "field '" + spec + "': numbers are 1 to 20 wide with decimals up to width - 2");
      break;
    }
    case 'D':
    case 'L':
    case 'M': {
      const int fixed = field.type == 'D'   ? dbf::kDateLength
                        : field.type == 'L' ? dbf::kLogicalLength
                                            : dbf::kMemoLength;
      if (parts.size() == 4 || (parts.size() == 3 && parts[2] != std::to_string(fixed)))
        throw UsageError(command, "field '" + spec + "': D, L and M fields take no length");
      field.length = fixed;
      break;
    }
    default: throw UsageError(command, "field '" + spec + "': the type is C, N, F, D, L or M");
  }
  return field;
}

TableFamily ParseFamily(const std::string& command, const std::string& version) {
  if (version.empty() || version == "4") return TableFamily::Dbase4;
  if (version == "2") return TableFamily::Dbase2;
  if (version == "3") return TableFamily::Dbase3;
  if (version == "7") return TableFamily::Level7;
  if (table_text::Upper(version) == "FOX") return TableFamily::FoxPro;
  throw UsageError(command, "--version is 2, 3, 4, 7 or fox");
}

// A CSV file (RFC 4180, also with bare LF line ends) as rows of fields.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, field_started = false;
  std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  auto end_row = [&] {
    row.push_back(field);
    field.clear();
    field_started = false;
    if (!(row.size() == 1 && row[0].empty())) rows.push_back(row);
    row.clear();
  };
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (quoted) {
      if (c == '"') {
        if (at + 1 < text.size() && text[at + 1] == '"') {
          field += '"';
          ++at;
        } else {
          quoted = false;
        }
      } else {
        field += c;
      }
      continue;
    }
    if (c == '"' && !field_started) {
      quoted = true;
      field_started = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
      field_started = false;
    } else if (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n') {
      continue;
    } else if (c == '\n') {
      end_row();
    } else {
      field += c;
      field_started = true;
    }
  }
  if (quoted) throw ToolError("the CSV file ends inside a quoted field");
  if (field_started || !row.empty()) end_row();
  return rows;
}

// A number text in a field's width and decimals, rounded half away from
// zero; empty when it does not fit.
std::string NumberForField(const std::string& json, int length, int decimals) {
  const bool negative = json[0] == '-';
  std::string digits = negative ? json.substr(1) : json;
  const std::size_t point = digits.find('.');
  std::string whole = point == std::string::npos ? digits : digits.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : digits.substr(point + 1);
  if (fraction.size() > static_cast<std::size_t>(decimals)) {
    const bool up = fraction[static_cast<std::size_t>(decimals)] >= '5';
    fraction.resize(static_cast<std::size_t>(decimals));
    if (up) {
      std::string all = whole + fraction;
      int i = static_cast<int>(all.size()) - 1;
      while (i >= 0 && all[static_cast<std::size_t>(i)] == '9') all[static_cast<std::size_t>(i--)] = '0';
      if (i < 0) all.insert(all.begin(), '1');
      else ++all[static_cast<std::size_t>(i)];
      whole = all.substr(0, all.size() - fraction.size());
      fraction = all.substr(all.size() - fraction.size());
    }
  }
  fraction.resize(static_cast<std::size_t>(decimals), '0');
  const bool zero = (whole + fraction).find_first_not_of('0') == std::string::npos;
  std::string text = (negative && !zero ? "-" : "") + whole + (decimals > 0 ? "." + fraction : "");
  if (text.size() > static_cast<std::size_t>(length)) return std::string();
  return std::string(static_cast<std::size_t>(length) - text.size(), ' ') + text;
}

// One CSV value as the field's stored text (memo fields: the value's bytes,
// stored separately). Throws ToolError naming the row and field.
std::string StoredText(const FieldEntry& field, const std::string& value, int page, std::size_t row,
                       std::string& memo) {
  const std::string where = "row " + std::to_string(row) + ", field " + field.name + ": ";
  const std::size_t length = field.length;
  switch (field.type) {
    case 'C': {
      int unmapped = 0;
      std::string bytes = FromUtf8(value, page, &unmapped);
      if (unmapped != 0)
        throw ToolError(where + "characters that code page " + std::to_string(page) + " lacks");
      if (bytes.size() > length)
        throw ToolError(where + "'" + value + "' is longer than " + std::to_string(length) + " characters");
      bytes.resize(length, ' ');
      return bytes;
    }
    case 'N':
    case 'F': {
      const std::string trimmed = table_text::TrimBlanks(value);
      if (trimmed.empty()) return std::string(length, ' ');
      std::string json;
      if (!ParseNumberText(trimmed, &json)) throw ToolError(where + "'" + value + "' is not a number");
      std::string text = NumberForField(json, field.length, field.decimals);
      if (text.empty()) throw ToolError(where + "'" + value + "' does not fit the field");
      return text;
    }
    case 'D': {
      std::string digits = table_text::TrimBlanks(value);
      if (digits.empty()) return std::string(length, ' ');
      if (digits.size() == 10 && digits[4] == '-' && digits[7] == '-')
        digits = digits.substr(0, 4) + digits.substr(5, 2) + digits.substr(8, 2);
      if (!ValidStoredDate(digits)) throw ToolError(where + "'" + value + "' is not a date (YYYY-MM-DD)");
      return digits;
    }
    case 'L': {
      const std::string word = table_text::Upper(table_text::TrimBlanks(value));
      if (word.empty() || word == "?") return " ";
      if (word == "T" || word == "Y" || word == "TRUE" || word == "1" || word == ".T.") return "T";
      if (word == "F" || word == "N" || word == "FALSE" || word == "0" || word == ".F.") return "F";
      throw ToolError(where + "'" + value + "' is not a logical value (T or F)");
    }
    default: {
      int unmapped = 0;
      memo = FromUtf8(value, page, &unmapped);
      if (unmapped != 0)
        throw ToolError(where + "characters that code page " + std::to_string(page) + " lacks");
      return std::string(length, ' ');
    }
  }
}

void StoreMemoBlock(WorkArea& area, const FieldEntry& field, std::int32_t block) {
  std::uint8_t* at = area.record.data() + field.offset;
  if (field.length == dbf::kBinaryMemoLength) {
    table_text::Put32(at, static_cast<std::uint32_t>(block));
    return;
  }
  const std::string text = block == 0 ? std::string() : std::to_string(block);
  std::memset(at, ' ', field.length);
  if (text.size() <= field.length) std::memcpy(at + field.length - text.size(), text.data(), text.size());
}

void WriteAll(pf::FileHandle file, std::uint64_t offset, const void* bytes, std::size_t count,
              const std::string& name) {
  std::size_t done = 0;
  const std::uint32_t rc = pf::WriteAt(file, offset, bytes, count, done);
  if (rc != 0 || done != count) {
    SetError(table_text::WriteErrorCode(rc), "Error writing " + name + " [qdbf pack]");
    throw ToolError("cannot write " + name);
  }
}

// The progress bar's output: standard error when progress is wanted and it
// is a terminal, else nothing.
pf::ProgressBar::Sink ProgressSink(const Context& context) {
  return context.progress ? pf::ProgressBar::TerminalSink() : pf::ProgressBar::Sink();
}

// Steps each tree build reports to the progress bar.
constexpr int kBuildSteps = 100;

// Shows the progress of the index builds of one command (`tags` builds),
// and removes the engine's progress callback at the end.
class BuildProgress {
 public:
  BuildProgress(const Context& context, const std::string& caption, int tags)
      : bar_(caption, static_cast<std::uint64_t>(kBuildSteps) * static_cast<std::uint64_t>(std::max(tags, 1)),
             ProgressSink(context)) {
    if (bar_.Shown()) SetIndexProgress([this] { bar_.Update(++done_); }, kBuildSteps);
  }
  ~BuildProgress() { SetIndexProgress({}, 0); }
  BuildProgress(const BuildProgress&) = delete;
  BuildProgress& operator=(const BuildProgress&) = delete;

 private:
  pf::ProgressBar bar_;
  std::uint64_t done_ = 0;
};

// Opens the table for a command that rewrites it or its index: to itself,
// with a clear refusal while another program holds it.
WorkArea& OpenToItself(const std::string& path, const std::string& command) {
  try {
    return OpenTable(path, Access::Exclusive);
  } catch (const EQuindleError&) {
    if (ErrorCode == 32 || ErrorCode == 33 || ErrorCode == 5)
      throw ToolError(path + " is open in another program; " + command + " needs the table to itself (code " +
                      std::to_string(ErrorCode) + ")");
    throw;
  }
}

// The tag definitions of the production index, opened here; raises the
// engine's error when the file does not open.
std::vector<TagDefinition> ProductionTags(WorkArea& area) {
  if (OpenProductionIndex(area).empty()) return {};
  return OpenTagDefinitions();
}

// Copies a file to a new name (which must not exist).
void CopyWholeFile(const std::string& from, const std::string& to) {
  pf::FileHandle in = pf::kNoFile, out = pf::kNoFile;
  if (const std::uint32_t rc = pf::OpenFile(from, pf::kAccessRead | pf::kShareDenyNone, in); rc != 0) {
    SetError(static_cast<std::uint16_t>(rc), "Cannot open " + from + " [qdbf pack]");
    throw ToolError("cannot read " + from);
  }
  struct Closer {
    pf::FileHandle& in;
    pf::FileHandle& out;
    ~Closer() {
      if (in != pf::kNoFile) pf::CloseFile(in);
      if (out != pf::kNoFile) pf::CloseFile(out);
    }
  } closer{in, out};
  if (const std::uint32_t rc = pf::CreateNewFile(to, kExclusiveOpenMode, out); rc != 0) {
    SetError(static_cast<std::uint16_t>(rc), "Cannot create " + to + " [qdbf pack]");
    throw ToolError("cannot create " + to);
  }
  std::vector<std::uint8_t> chunk(256 * 1024);
  for (std::uint64_t at = 0;;) {
    std::size_t done = 0;
    if (const std::uint32_t rc = pf::ReadAt(in, at, chunk.data(), chunk.size(), done); rc != 0) {
      SetError(static_cast<std::uint16_t>(rc), "Error reading " + from + " [qdbf pack]");
      throw ToolError("cannot read " + from);
    }
    if (done == 0) break;
    WriteAll(out, at, chunk.data(), done, to);
    at += done;
  }
}

// The file name with its extension replaced.
std::string WithExtension(const std::string& name, const std::string& extension) {
  const std::size_t dot = table_text::ExtensionDot(name);
  return (dot == std::string::npos ? name : name.substr(0, dot)) + "." + extension;
}

// A file beside the table with a name no file has.
std::string UniqueNameBeside(const std::string& table, const std::string& prefix) {
  const std::string directory = table.substr(0, table_text::NameStart(table));
  std::string name;
  if (const std::uint32_t rc = pf::UniqueTempFile(directory.empty() ? "." : directory, prefix, name); rc != 0) {
    SetError(static_cast<std::uint16_t>(rc), "Cannot create a file in " + directory + " [qdbf pack]");
    throw ToolError("cannot create a file beside " + table);
  }
  return name;
}

}  // namespace

int CreateCommand(Context& context) {
  const CommandLine& line = context.line;
  std::vector<FieldDefinition> fields;
  for (std::size_t i = 1; i < line.positional.size(); ++i) {
    FieldDefinition field = ParseFieldSpec(line.command, line.positional[i]);
    for (const FieldDefinition& other : fields)
      if (other.name == field.name) throw UsageError(line.command, "field " + field.name + " named twice");
    fields.push_back(field);
  }
  const TableFamily family = ParseFamily(line.command, line.Value("--version"));
  if (family == TableFamily::Dbase2 && fields.size() > 32)
    throw UsageError(line.command, "dBASE II tables hold at most 32 fields");
  int ansi = 1252, oem = 437;
  bool ansi_table = false;
  switch (context.codepage) {
    case 0:
    case 437: break;
    case 850: oem = 850; break;
    case 1252: ansi_table = true; break;
    case 866: ansi = 1251; oem = 866; break;
    case 1251: ansi = 1251; oem = 866; ansi_table = true; break;
    default: throw UsageError(line.command, "new tables are kept in code page 437, 850, 866, 1251 or 1252");
  }
  if (family == TableFamily::Dbase2 && context.codepage != 0 && context.codepage != 437)
    throw UsageError(line.command, "dBASE II tables name no code page");
  std::string path = line.positional[0];
  if (table_text::ExtensionDot(path) == std::string::npos) path += ".dbf";
  if (pf::FileExists(path)) throw ToolError(path + " already exists; qdbf create never overwrites a table");
  const int old_ansi = pf::AnsiCodePage(), old_oem = pf::OemCodePage();
  if (!pf::SetCodePages(ansi, oem)) throw ToolError("code page " + std::to_string(context.codepage) + " is not available here");
  AnsiTables = ansi_table;
  WorkArea area;
  bool made = false;
  try {
    made = CreateDBF(area, path, static_cast<int>(fields.size()), fields, family);
  } catch (...) {
    AnsiTables = true;
    pf::SetCodePages(old_ansi, old_oem);
    throw;
  }
  AnsiTables = true;
  pf::SetCodePages(old_ansi, old_oem);
  if (!made) throw ToolError("cannot create " + path);
  context.out << "Created " << pf::ResolvePath(path) << " with " << fields.size() << " fields\n";
  return kExitOk;
}

int ImportCommand(Context& context) {
  const CommandLine& line = context.line;
  const std::string csv_name = line.positional[1];
  std::ifstream csv(csv_name, std::ios::binary);
  if (!csv) throw ToolError("cannot read " + csv_name);
  std::stringstream buffer;
  buffer << csv.rdbuf();
  const std::vector<std::vector<std::string>> rows = ReadCsv(buffer.str());
  if (rows.empty()) throw ToolError(csv_name + " is empty: its first line names the fields");

  WorkArea& area = OpenTable(ResolveTableName(line.positional[0]), Access::Shared);
  // With the production index open the engine keeps every tag's keys in
  // step with the appended records.
  OpenProductionIndex(area);
  const int page = CodePageOf(area, context.codepage);
  std::vector<std::size_t> columns;
  for (const std::string& name : rows[0]) {
    const std::string wanted = table_text::Upper(table_text::TrimBlanks(name));
    auto it = std::find_if(area.fields.begin(), area.fields.end(),
                           [&](const FieldEntry& field) { return table_text::Upper(field.name) == wanted; });
    if (it == area.fields.end()) throw ToolError(csv_name + ": the table has no field named '" + name + "'");
    columns.push_back(static_cast<std::size_t>(it - area.fields.begin()));
  }
  // Every row is converted before the first is appended, so a bad value
  // leaves the table as it was.
  struct Prepared {
    std::vector<std::uint8_t> record;
    std::vector<std::pair<std::size_t, std::string>> memos;
  };
  std::vector<Prepared> prepared;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string>& row = rows[r];
    if (row.size() != columns.size())
      throw ToolError(csv_name + ": row " + std::to_string(r) + " has " + std::to_string(row.size()) +
                      " fields, the first line names " + std::to_string(columns.size()));
    Prepared record;
    record.record.assign(area.record_length, ' ');
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const FieldEntry& field = area.fields[columns[c]];
      std::string memo;
      const std::string text = StoredText(field, row[c], page, r, memo);
      std::memcpy(record.record.data() + field.offset, text.data(), std::min<std::size_t>(text.size(), field.length));
      if (!memo.empty()) record.memos.emplace_back(columns[c], std::move(memo));
    }
    prepared.push_back(std::move(record));
  }
  if (!ALock()) throw ToolError("cannot lock " + area.file_name);
  {
    pf::ProgressBar bar("Importing " + pf::ResolvePath(area.file_name), prepared.size(), ProgressSink(context));
    std::size_t done = 0;
    for (Prepared& record : prepared) {
      area.record = record.record;
      for (const auto& [column, value] : record.memos) {
        std::int32_t block = 0;
        WriteMemoValue(0, value, block, "qdbf import");
        StoreMemoBlock(area, area.fields[column], block);
      }
      RecordToNative();
      Append();
      bar.Update(++done);
    }
  }
  Unlock();
  context.out << "Imported " << prepared.size() << " records into " << pf::ResolvePath(area.file_name) << "\n";
  return kExitOk;
}

namespace {

// Writes bytes at an offset of an existing file and flushes it.
void WriteInto(const std::string& name, std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
  pf::FileHandle file = pf::kNoFile;
  if (const std::uint32_t rc = pf::OpenFile(name, kExclusiveOpenMode, file); rc != 0) {
    SetError(static_cast<std::uint16_t>(rc), "Cannot open " + name + " [qdbf pack]");
    throw ToolError("cannot open " + name);
  }
  try {
    WriteAll(file, offset, bytes, count, name);
    if (const std::uint32_t rc = pf::FlushFile(file); rc != 0) {
      SetError(table_text::WriteErrorCode(rc), "Error writing " + name + " [qdbf pack]");
      throw ToolError("cannot write " + name);
    }
  } catch (...) {
    pf::CloseFile(file);
    throw;
  }
  pf::CloseFile(file);
}

// The base name the engine writes into an index file's header for a table
// (its name without directory and extension, upper-cased as the engine
// keeps it, cut to the field's size).
void WriteIndexTableName(const std::string& index_file, const std::string& table_file) {
  namespace fh = mdx::header;
  std::string base = table_file.substr(table_text::NameStart(table_file));
  if (const std::size_t dot = table_text::ExtensionDot(base); dot != std::string::npos) base.resize(dot);
  base = table_text::Upper(base);
  std::uint8_t field[fh::kTableNameSize] = {};
  std::memcpy(field, base.data(), std::min(base.size(), fh::kTableNameSize - 1));
  WriteInto(index_file, fh::kTableName, field, sizeof field);
}

// Bytes of the dBASE IV memo header that name the file (see the memo
// layouts); the compacted file gets the old file's bytes back.
void CopyMemoFileName(const std::string& from, const std::string& to) {
  namespace ml = memo_layout;
  std::uint8_t name[ml::kDbase4NameSize] = {};
  pf::FileHandle file = pf::kNoFile;
  std::size_t done = 0;
  if (const std::uint32_t rc = pf::OpenFile(from, pf::kAccessRead | pf::kShareDenyNone, file); rc != 0) {
    SetError(static_cast<std::uint16_t>(rc), "Cannot open " + from + " [qdbf pack]");
    throw ToolError("cannot read " + from);
  }
  const std::uint32_t read_rc = pf::ReadAt(file, ml::kDbase4NameOffset, name, sizeof name, done);
  pf::CloseFile(file);
  if (read_rc != 0 || done != sizeof name) {
    SetError(read_rc != 0 ? static_cast<std::uint16_t>(read_rc) : 100, "Error reading " + from + " [qdbf pack]");
    throw ToolError("cannot read " + from);
  }
  WriteInto(to, ml::kDbase4NameOffset, name, sizeof name);
}

// What pack builds beside the packed table (still under its temporary
// name): the compacted memo file and the production index; empty names for
// what the table does not have.
struct PackedCompanions {
  std::string memo_file;
  std::string index_file;
};

// Compacts a copy of the memo file for the packed table (so that it holds
// only the values the live records name) and builds the production index
// with the old index's tags (keys and FOR conditions may read memo values).
// The old files are only read. A record naming no value in the memo file
// stops the pack: compacting would empty that field. On failure every file
// made here is removed.
PackedCompanions BuildPackedCompanions(const Context& context, const std::string& packed,
                                       const std::string& memo_file, std::uint8_t memo_type,
                                       const std::string& table_name, const std::vector<TagDefinition>& tags) {
  PackedCompanions made;
  if (!memo_file.empty())
    made.memo_file = WithExtension(packed, memo_file.substr(table_text::ExtensionDot(memo_file) + 1));
  if (!tags.empty()) made.index_file = WithExtension(packed, "MDX");
  // The memo pack writes "<memo>.$$$" and puts the old file aside as
  // "<memo>.$MB" while it exchanges them.
  std::vector<std::string> scratch = {made.index_file};
  if (!made.memo_file.empty())
    scratch.insert(scratch.end(), {made.memo_file, WithExtension(packed, "$$$"), WithExtension(packed, "$MB")});
  for (const std::string& name : scratch)
    if (!name.empty() && pf::FileExists(name)) throw ToolError("a file named like " + packed + " is in the way of pack");
  auto remove_made = [&] {
    const bool dispatch = SetImmediateDispatch(false);
    Close();
    SetImmediateDispatch(dispatch);
    for (const std::string& name : scratch)
      if (!name.empty()) pf::EraseFile(name);
  };
  try {
    if (!made.memo_file.empty()) CopyWholeFile(memo_file, made.memo_file);
    OpenTable(packed, Access::Exclusive);
    if (!made.memo_file.empty()) {
      ErrorCode = 0;
      try {
        PackMemofile();
      } catch (const EQuindleError&) {
        if (ErrorCode != 1003) throw;
      }
      // The engine's text names the record of the packed table; check
      // names it in the table the user knows.
      if (ErrorCode == 1003) {
        ErrorCode = 0;
        throw ToolError(table_name + ": a memo field names no value in " + memo_file +
                        "; pack would empty it (qdbf check names the record)");
      }
    }
    if (!made.index_file.empty()) {
      BuildProgress progress(context, "Indexing " + table_name, static_cast<int>(tags.size()));
      if (!MakeIndex(tags, made.index_file)) throw ToolError("cannot rebuild the production index");
    }
    Close();
    if (memo_type == memo_layout::kDbase4 || memo_type == memo_layout::kLevel7)
      CopyMemoFileName(memo_file, made.memo_file);
    if (!made.index_file.empty()) WriteIndexTableName(made.index_file, table_name);
  } catch (...) {
    remove_made();
    throw;
  }
  return made;
}

}  // namespace

int PackCommand(Context& context) {
  const std::string path = ResolveTableName(context.line.positional[0]);
  WorkArea& area = OpenToItself(path, "pack");
  // The production index's tags, read before anything is written: an index
  // that does not open stops the pack (qdbf check names the damage).
  const std::string index_name = ProductionIndexName(area);
  std::vector<TagDefinition> tags;
  if (!index_name.empty() && pf::FileExists(index_name)) {
    tags = ProductionTags(area);
    if (tags.empty()) throw ToolError(index_name + " holds no tags; see qdbf check");
  }

  // Records past the header's count (an append cut short) would be lost.
  if (RecordsInFile(area) > area.record_count)
    throw ToolError(pf::ResolvePath(area.file_name) + " holds more records than its header counts; see qdbf check");

  // The new table: the header as it is, then every live record, then the
  // end-of-file byte; its record count and date set, then flushed.
  std::vector<std::uint8_t> header(area.header_length);
  std::size_t done = 0;
  if (const std::uint32_t rc = pf::ReadAt(area.file, 0, header.data(), header.size(), done);
      rc != 0 || done != header.size()) {
    SetError(rc != 0 ? static_cast<std::uint16_t>(rc) : 100, "Error reading " + area.file_name + " [qdbf pack]");
    throw ToolError("cannot read " + area.file_name);
  }
  // The name as the file system knows it: the engine keeps an upper-cased
  // request, which names another file where letter case matters.
  const std::string table_name = pf::ResolvePath(area.file_name);
  const std::string packed = UniqueNameBeside(table_name, "QPK");
  pf::FileHandle file = pf::kNoFile;
  std::int32_t kept = 0, removed = 0;
  try {
    if (const std::uint32_t rc = pf::CreateNewFile(packed, kExclusiveOpenMode, file); rc != 0) {
      SetError(static_cast<std::uint16_t>(rc), "Cannot create " + packed + " [qdbf pack]");
      throw ToolError("cannot create " + packed);
    }
    const std::int32_t count = area.record_count;
    {
      pf::ProgressBar bar("Packing " + table_name, static_cast<std::uint64_t>(count), ProgressSink(context));
      std::uint64_t offset = header.size();
      for (std::int32_t n = 1; n <= count; ++n) {
        GetDbfRecord(area, n);
        if (Deleted(area)) {
          ++removed;
        } else {
          WriteAll(file, offset, area.record.data(), area.record.size(), packed);
          offset += area.record.size();
          ++kept;
        }
        bar.Update(static_cast<std::uint64_t>(n));
      }
      const std::uint8_t end = dbf::kEndOfFile;
      WriteAll(file, offset, &end, 1, packed);
    }
    int year = 0, month = 0, day = 0;
    pf::LocalDate(year, month, day);
    // The record count and the date of last update, as the engine writes
    // them when it closes a table.
    if (area.version == dbf::kDbase2) {
      namespace d2 = dbf::dbase2;
      table_text::Put16(header.data() + d2::kRecordCount, static_cast<std::uint32_t>(kept));
      header[d2::kUpdateMonth] = static_cast<std::uint8_t>(month);
      header[d2::kUpdateDay] = static_cast<std::uint8_t>(day);
      header[d2::kUpdateYear] = static_cast<std::uint8_t>((year - dbf::kYearBase) % 256);
    } else {
      namespace hd = dbf::header;
      table_text::Put32(header.data() + hd::kRecordCount, static_cast<std::uint32_t>(kept));
      header[hd::kUpdateYear] = static_cast<std::uint8_t>((year - dbf::kYearBase) % 256);
      header[hd::kUpdateMonth] = static_cast<std::uint8_t>(month);
      header[hd::kUpdateDay] = static_cast<std::uint8_t>(day);
    }
    WriteAll(file, 0, header.data(), header.size(), packed);
    if (const std::uint32_t rc = pf::FlushFile(file); rc != 0) {
      SetError(table_text::WriteErrorCode(rc), "Error writing " + packed + " [qdbf pack]");
      throw ToolError("cannot write " + packed);
    }
    pf::CloseFile(file);
    file = pf::kNoFile;
  } catch (...) {
    if (file != pf::kNoFile) pf::CloseFile(file);
    pf::EraseFile(packed);
    throw;
  }
  const bool has_memo = area.memo != nullptr;
  const std::string memo_file = has_memo ? pf::ResolvePath(area.memo->file_name) : std::string();
  const std::uint8_t memo_type = has_memo ? area.memo->memo_type : 0;
  Close();

  // The compacted memo file and the new index, made beside the new table
  // before anything is replaced.
  PackedCompanions companions;
  if (has_memo || !tags.empty()) {
    try {
      companions = BuildPackedCompanions(context, packed, memo_file, memo_type, table_name, tags);
    } catch (...) {
      pf::EraseFile(packed);
      throw;
    }
  }

  // Swap: the old files aside, the new ones in their place, then the old
  // ones removed. A failure in between puts the old files back.
  struct Move {
    std::string now, aside, fresh;
    bool moved_aside = false, moved_in = false;
  };
  std::vector<Move> moves{{table_name, UniqueNameBeside(table_name, "QOL"), packed}};
  if (!companions.memo_file.empty())
    moves.push_back({memo_file, UniqueNameBeside(table_name, "QOL"), companions.memo_file});
  if (!companions.index_file.empty())
    moves.push_back({index_name, UniqueNameBeside(table_name, "QOL"), companions.index_file});
  auto undo = [&] {
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
      if (it->moved_in) pf::RenameFile(it->now, it->fresh);
      if (it->moved_aside) pf::RenameFile(it->aside, it->now);
    }
    for (const Move& move : moves) {
      pf::EraseFile(move.fresh);
      pf::EraseFile(move.aside);
    }
  };
  for (Move& move : moves) {
    pf::EraseFile(move.aside);
    if (const std::uint32_t rc = pf::RenameFile(move.now, move.aside); rc != 0) {
      undo();
      SetError(static_cast<std::uint16_t>(rc), "Cannot rename " + move.now + " [qdbf pack]");
      throw ToolError("cannot rename " + move.now);
    }
    move.moved_aside = true;
    if (const std::uint32_t rc = pf::RenameFile(move.fresh, move.now); rc != 0) {
      undo();
      SetError(static_cast<std::uint16_t>(rc), "Cannot rename " + move.fresh + " [qdbf pack]");
      throw ToolError("cannot put the packed files in place");
    }
    move.moved_in = true;
  }
  for (const Move& move : moves) pf::EraseFile(move.aside);
  context.out << "Packed " << table_name << ": " << kept << " records kept, " << removed << " removed";
  if (!tags.empty()) context.out << "; " << tags.size() << (tags.size() == 1 ? " tag" : " tags") << " rebuilt";
  if (has_memo) context.out << "; memo file compacted";
  context.out << "\n";
  return kExitOk;
}

int IndexCommand(Context& context) {
  const CommandLine& line = context.line;
  WorkArea& area = OpenToItself(ResolveTableName(line.positional[0]), "index");
  if (area.version == dbf::kDbase2) throw ToolError("dBASE II tables have no production index");
  if (area.version == dbf::kVisualFoxPro || area.version == dbf::kVisualFoxProAutoIncrement ||
      area.version == dbf::kFoxProMemo || area.version == dbf::kFoxBase)
    throw ToolError("FoxPro tables keep their indexes in CDX files, which qdbf does not write");
  const int page = CodePageOf(area, context.codepage);
  TagDefinition tag;
  tag.name = table_text::Upper(line.positional[1]);
  if (!ValidFieldName(tag.name))
    throw UsageError(line.command, "tag name '" + line.positional[1] +
                                       "': 1 to 10 letters, digits or _, starting with a letter");
  tag.key_expression = FromUtf8(line.positional[2], page);
  tag.for_condition = line.Has("--for") ? FromUtf8(line.Value("--for"), page) : std::string();
  tag.descending = line.Has("--descending");
  tag.unique = line.Has("--unique");
  const std::string table_name = pf::ResolvePath(area.file_name);
  const std::string existing = ProductionIndexName(area);
  BuildProgress progress(context, "Indexing " + table_name, 1);
  if (!existing.empty() && pf::FileExists(existing)) {
    // The tag goes into the existing file (a tag of the same name is
    // replaced once the new one is built); the file must open first.
    OpenProductionIndex(area);
    CloseIndex();
    if (!CreateMdxHeader(existing)) throw ToolError("cannot open " + existing);
    struct Closer {
      bool done = false;
      ~Closer() {
        if (done) return;
        const bool dispatch = SetImmediateDispatch(false);
        try {
          CloseMdxHeader();
        } catch (...) {
        }
        SetImmediateDispatch(dispatch);
      }
    } closer;
    if (!AddIndexTag(tag)) throw ToolError("cannot build tag " + tag.name);
    closer.done = true;
    CloseMdxHeader();
    context.out << "Built tag " << tag.name << " in " << existing << "\n";
  } else {
    if (!MakeIndex({tag})) throw ToolError("cannot build tag " + tag.name);
    SetProductionFlag(true);
    context.out << "Built tag " << tag.name << " in " << pf::ResolvePath(ResolveIndexName("")) << "\n";
  }
  return kExitOk;
}

int ReindexCommand(Context& context) {
  WorkArea& area = OpenToItself(ResolveTableName(context.line.positional[0]), "reindex");
  const std::string name = ProductionIndexName(area);
  if (name.empty()) throw ToolError(pf::ResolvePath(area.file_name) + " has no production index");
  const std::vector<TagDefinition> tags = ProductionTags(area);
  if (tags.empty()) throw ToolError(name + " does not exist or holds no tags");
  {
    BuildProgress progress(context, "Reindexing " + pf::ResolvePath(area.file_name), static_cast<int>(tags.size()));
    Reindex();
  }
  context.out << "Rebuilt " << tags.size() << (tags.size() == 1 ? " tag" : " tags") << " of " << name << "\n";
  return kExitOk;
}

}  // namespace qd::qdbf
