// Fuzz target of the expression language: compiles arbitrary texts against
// two small tables (one of them reachable by alias) and evaluates the texts
// that compile, twice, before releasing them. The second run must allocate
// nothing unless it reports an error (counted through the sanitizer's
// allocation hooks, on this thread only). Errors are recorded, never
// dispatched. A leading selector byte may put a function name in front of
// the text so that calls with odd arguments are reached quickly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <sanitizer/allocator_interface.h>

#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/work_areas.h"

namespace {

thread_local bool Counting = false;
thread_local long Allocations = 0;

void CountAllocation(const volatile void*, std::size_t) {
  if (Counting) ++Allocations;
}
void IgnoreRelease(const volatile void*) {}

const char* const kPrefixes[] = {
    "ABS(",       "ASC(",     "AT(",    "CDOW(",  "CHR(",     "CMONTH(", "CTOD(",  "DATE(",
    "DAY(",       "DELETED(", "DOW(",   "DTOC(",  "DTOS(",    "IIF(",    "INT(",   "LEFT(",
    "LEN(",       "LOWER(",   "LTRIM(", "MAX(",   "MIN(",     "MOD(",    "MONTH(", "RECNO(",
    "REPLICATE(", "RIGHT(",   "ROUND(", "RTRIM(", "SOUNDEX(", "SPACE(",  "STR(",   "STUFF(",
    "SUBSTR(",    "TRIM(",    "UPPER(", "VAL(",   "YEAR(",    "NAME",    "T->",    "MEMO",
};

void WriteTable(const std::string& path, const char* field_rows[][4], int field_count,
                const std::string& record) {
  const std::size_t header_length = 32 + 32 * static_cast<std::size_t>(field_count) + 1;
  std::string header(header_length, '\0');
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 1;
  header[4] = 1;  // one record
  header[8] = static_cast<char>(header_length & 0xFF);
  header[9] = static_cast<char>(header_length >> 8);
  header[10] = static_cast<char>(record.size());
  for (int i = 0; i < field_count; ++i) {
    const std::size_t d = 32 + 32 * static_cast<std::size_t>(i);
    std::memcpy(&header[d], field_rows[i][0], std::strlen(field_rows[i][0]));
    header[d + 11] = field_rows[i][1][0];
    header[d + 16] = static_cast<char>(std::atoi(field_rows[i][2]));
    header[d + 17] = static_cast<char>(std::atoi(field_rows[i][3]));
  }
  header[header_length - 1] = 0x0D;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << header << record << '\x1A';
}

bool OpenTables() {
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = true;
  qd::InitExpressionUnit();
  __sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreRelease);
  std::string temp;
  qd::platform::TempDirectory(temp);
  const std::filesystem::path dir = std::filesystem::path(temp) / "qd_expression_fuzz";
  std::filesystem::create_directories(dir);
  const char* people[][4] = {{"NAME", "C", "12", "0"}, {"N", "N", "8", "2"},
                             {"D", "D", "8", "0"},     {"L", "L", "1", "0"},
                             {"MEMO", "M", "10", "0"}, {"DATE", "D", "8", "0"},
                             {"WIDE", "C", "250", "0"}};
  WriteTable((dir / "people.dbf").string(), people, 7,
             " Smith   x  "
             "  -12.50"
             "19990315"
             "T"
             "         3"
             "        " +
                 std::string(250, 'w'));
  const char* other[][4] = {{"NAME", "C", "5", "0"}, {"X", "N", "3", "0"}};
  WriteTable((dir / "other.dbf").string(), other, 2, "*abcde 42");
  qd::Select(2);
  qd::Use((dir / "other.dbf").string() + " ALIAS T", nullptr, 0);
  qd::Select(1);
  qd::Use((dir / "people.dbf").string(), nullptr, 0);
  qd::ErrorCode = 0;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = OpenTables();
  (void)ready;
  std::string text;
  if (size > 0 && data[0] < sizeof kPrefixes / sizeof kPrefixes[0]) {
    text = kPrefixes[data[0]];
    ++data;
    --size;
  }
  text.append(reinterpret_cast<const char*>(data), size > 300 ? 300 : size);
  qd::ErrorCode = 0;
  qd::ExprRecord* record = qd::AssignExpr(text);
  if (record != nullptr) {
    qd::EvalExpr(record);
    qd::ErrorCode = 0;
    Allocations = 0;
    Counting = true;
    void* result = qd::EvalExpr(record);
    Counting = false;
    if (Allocations != 0 && qd::ErrorCode == 0) __builtin_trap();
    if (record->result_type == 'C' || record->result_type == 'M') {
      // The text result must be terminated within 255 characters.
      if (std::strlen(static_cast<const char*>(result)) > 255) __builtin_trap();
    }
    qd::FreeExpr(record);
  }
  std::string check = text;
  qd::CheckExpression(check, true);
  qd::ErrorCode = 0;
  return 0;
}
