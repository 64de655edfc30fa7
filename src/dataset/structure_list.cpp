// The structure list: reading, checking and writing structure lines, and
// creating a table from them.
#include "dataset/structure_list.h"

#include <vector>

#include "dataset/field_classes.h"
#include "dataset/table_dataset.h"
#include "foundation/errors.h"
#include "framework/sysutils.h"
#include "table/work_areas.h"

namespace qd {

namespace {

std::string Letter(char c) { return std::string(1, c); }

// A length or decimal count of a structure line: a whole number from 0 to
// `limit`.
int NumberItem(const std::string& item, int limit) {
  const std::int64_t value = fw::StrToInt64(item);
  if (value < 0 || value > limit) throw fw::ERangeError();
  return static_cast<int>(value);
}

bool IsKnownType(char type) {
  switch (type) {
    case 'C': case 'D': case 'F': case 'L': case 'M': case 'N': return true;
    default: return false;
  }
}

}  // namespace

void CheckFieldDef(DbfFieldDescriptor& descriptor, const std::string& owner) {
  // Binary, general and picture fields are memo fields to the engine; they
  // are mapped quietly, as the engine reads those letters everywhere else.
  if (descriptor.type == 'B' || descriptor.type == 'G' || descriptor.type == 'P')
    descriptor.type = 'M';
  char type = descriptor.type;
  int length = descriptor.length;
  int decimals = descriptor.decimals;
  if (!IsKnownType(type)) type = 'C';
  if (type == 'N') {
    if (length > 20) length = 20;
    if (decimals > 18) decimals = 18;
    // Two places stay for the sign and a digit; a field of one or two
    // characters has no room for decimals at all.
    if (decimals > 0 && length - decimals < 2) decimals = length > 2 ? length - 2 : 0;
  }
  if (type == 'C' && length > 254) {
    length = 254;
    decimals = 0;
  }
  if (type == descriptor.type && length == descriptor.length && decimals == descriptor.decimals)
    return;
  ShowWarning(
      "Invalid field definition for %s: %s,%s,%d,%d. Will use corrected definition: %s,%s,%d,%d",
      {owner, descriptor.name, Letter(descriptor.type), std::to_string(descriptor.length),
       std::to_string(descriptor.decimals), descriptor.name, Letter(type), std::to_string(length),
       std::to_string(decimals)});
  descriptor.type = type;
  descriptor.length = static_cast<std::uint16_t>(length);
  descriptor.decimals = static_cast<std::uint8_t>(decimals);
}

bool ParseFieldLine(const std::string& line, DbfFieldDescriptor& descriptor,
                    const std::string& owner) {
  std::string items[4];
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    std::size_t comma = i < 3 ? line.find(',', start) : std::string::npos;
    if (comma == std::string::npos) comma = line.size();
    if (start <= line.size()) items[i] = fw::Trim(std::string_view(line).substr(start, comma - start));
    start = comma + 1;
  }
  if (items[1].empty()) throw fw::ERangeError();
  descriptor.name = items[0].substr(0, 10);
  descriptor.type = items[1][0];
  // Lengths beyond a byte are read so that a too-long C or N field can be
  // corrected (with its warning) rather than refused.
  descriptor.length = static_cast<std::uint16_t>(NumberItem(items[2], 0xFFFF));
  descriptor.decimals = static_cast<std::uint8_t>(NumberItem(items[3], 255));
  if (descriptor.type == 'X') return false;
  CheckFieldDef(descriptor, owner);
  return true;
}

std::string FieldLine(const DbfFieldDescriptor& descriptor) {
  return descriptor.name + ", " + Letter(descriptor.type) + ", " +
         std::to_string(descriptor.length) + ", " + std::to_string(descriptor.decimals);
}

bool CreateTableFromFieldLines(const std::string& file_name, const fw::TStrings* lines,
                               const std::string& owner) {
  if (lines == nullptr) {
    ShowWarning("DbfFieldList is Nil trying to create a database");
    return false;
  }
  if (lines->Count() <= 0) {
    ShowWarning("FieldList.Count is <= 0 trying to create a database");
    return false;
  }
  std::vector<FieldDefinition> fields;
  for (int i = 0; i < lines->Count(); ++i) {
    const std::string& line = lines->Get(i);
    int commas = 0;
    for (char c : line) commas += c == ',' ? 1 : 0;
    if (commas != 3) return false;
    DbfFieldDescriptor descriptor;
    if (!ParseFieldLine(line, descriptor, owner)) continue;
    fields.push_back({descriptor.name, descriptor.type, descriptor.length, descriptor.decimals});
  }
  // The engine refuses more than 255 fields (a table it could not open) with
  // "Invalid dBASE field definition [CreateDBF]", before writing anything.
  const bool dispatch = SetImmediateDispatch(false);
  ErrorCode = 0;
  CreateDBF(file_name, fields);
  SetImmediateDispatch(dispatch);
  return ErrorCode == 0;
}


// ------------------------------------------- the dataset's structure list ---

void TQdDataSet::FillDbfFields() {
  if (!designing_) return;
  dbf_fields_->Clear();
  const int count = qd::FieldCount();
  for (int n = 1; n <= count; ++n) {
    DbfFieldDescriptor descriptor;
    descriptor.name = qd::Field(n);
    descriptor.type = FieldType(n);
    // Dates are stored in 8 characters whatever length their display has.
    descriptor.length = static_cast<std::uint16_t>(descriptor.type == 'D' ? 8 : FieldLen(n));
    descriptor.decimals = static_cast<std::uint8_t>(FieldDec(n));
    CheckFieldDef(descriptor, Name());
    dbf_fields_->Add(FieldLine(descriptor));
  }
}

bool TQdDataSet::CreateTableFromDbfFields() {
  return CreateTableFromFieldLines(dbf_file_name_, dbf_fields_.get(), Name());
}

}  // namespace qd
