// The structure list of the dataset components: one text line per table
// field, "NAME, C, 10, 0" (name, type letter, length, decimals), read into
// field descriptors, checked and corrected, and used to create a table.
#pragma once

#include <cstdint>
#include <string>

#include "framework/classes.h"

namespace qd {

struct DbfFieldDescriptor {
  std::string name;  // at most 10 characters
  char type = 'C';
  std::uint16_t length = 0;  // as given; CheckFieldDef brings it into range
  std::uint8_t decimals = 0;
};

// Corrects a descriptor in place into one the engine can create: types B,
// G and P become M; unknown types become C; N at most 20 long with at most
// 18 decimals and room for two digits before them; C at most 254 long. A
// correction is announced with a warning naming `owner` (the dataset).
void CheckFieldDef(DbfFieldDescriptor& descriptor, const std::string& owner);

// Reads one structure line (split at commas, items trimmed). False for a
// line of type X, which describes no field. Raises fw::ERangeError for an
// empty type, a length outside 0 to 65535 or a decimal count outside 0 to
// 255, and fw::EConvertError for a length or decimal count that is not a
// number. A length above what the type takes is corrected with a warning.
bool ParseFieldLine(const std::string& line, DbfFieldDescriptor& descriptor,
                    const std::string& owner);

// The structure line of a descriptor.
std::string FieldLine(const DbfFieldDescriptor& descriptor);

// Creates the table `file_name` from structure lines. Fails without a
// warning when a line does not hold exactly three commas, and with a warning
// when there are no lines; the engine's error code tells whether CreateDBF
// itself succeeded. Nothing is created when it fails.
bool CreateTableFromFieldLines(const std::string& file_name, const fw::TStrings* lines,
                               const std::string& owner);

}  // namespace qd
