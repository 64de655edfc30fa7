// Engine side of the interoperability test (interop_test.py):
//
//   interop_tool write <table>   creates a dBASE III table (OEM text) and
//                                appends the three records the script expects
//   interop_tool dump <table>    prints the field list ("NAME C 20 0") and
//                                then one line per record: the deletion flag
//                                and each field's value, separated by '|'
//                                (C text without trailing blanks, N/F as
//                                stored without blanks, D as stored, L as T/F,
//                                M as its block number), in code page 1252
// The exit status is the engine's error code.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/errors.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace {

void SetText(int field, const std::string& text) {
  std::uint8_t* slot = qd::FieldAddress(field);
  const std::size_t n = std::min<std::size_t>(text.size(), qd::CurrentWorkArea()->fields[field - 1].length);
  slot[0] = static_cast<std::uint8_t>(n);
  std::memcpy(slot + 1, text.data(), n);
}
template <typename T>
void SetValue(int field, T value) {
  std::memcpy(qd::FieldAddress(field), &value, sizeof value);
}

int Write(const std::string& path) {
  qd::CreateDBF(path, {{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}, {"COUNT", 'N', 12, 0},
                       {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0}});
  qd::Use(path + " EXCLUSIVE", nullptr, 0);
  if (qd::ErrorCode != 0) return qd::ErrorCode;
  struct Row {
    const char* name;
    double amount;
    std::int64_t count;
    const char* born;
    bool ok;
    bool deleted;
  };
  const Row rows[] = {
      {"Zo\xEB M\xFCller", 1234.5, 42, "02/29/24", true, false},
      {"plain", -0.25, -7, "", false, true},
      {"xxxxxxxxxxxxxxxxxxxxTOOLONG", 9999999.99, 9999999999LL, "12/31/99", true, false},
  };
  for (const Row& row : rows) {
    qd::ClearRecord();
    *qd::FieldAddress(0) = row.deleted ? 1 : 0;
    SetText(1, row.name);
    SetValue(2, row.amount);
    SetValue(3, row.count);
    SetText(4, row.born);
    *qd::FieldAddress(5) = row.ok ? 1 : 0;
    qd::Append();
    if (qd::ErrorCode != 0) return qd::ErrorCode;
  }
  qd::Close();
  return qd::ErrorCode;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

int Dump(const std::string& path) {
  qd::Use(path, nullptr, 0);
  if (qd::ErrorCode != 0) return qd::ErrorCode;
  qd::WorkArea* area = qd::CurrentWorkArea();
  for (const auto& f : area->fields)
    std::printf("%s %c %d %d\n", f.name.c_str(), f.type, f.length, f.decimals);
  for (qd::GoTop(); !qd::dEOF(); qd::Skip(1)) {
    std::string line(1, area->record[0] == '*' ? '*' : ' ');
    for (const auto& f : area->fields) {
      const std::string raw(reinterpret_cast<const char*>(area->record.data()) + f.offset, f.length);
      line += '|';
      if (f.type == 'C') {
        line += raw.substr(0, raw.find_last_not_of(' ') + 1);
      } else if (f.type == 'M') {
        std::int32_t block;
        std::memcpy(&block, area->native + f.native_offset, 4);
        line += std::to_string(block);
      } else if (f.type == 'L') {
        line += area->native[f.native_offset] ? "T" : "F";
      } else {
        line += Trim(raw);
      }
    }
    std::printf("%s\n", line.c_str());
  }
  qd::Close();
  return qd::ErrorCode;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = false;  // text is kept in the OEM code page, as dBASE does
  qd::Select(1);
  const std::string command = argv[1];
  if (command == "write") return Write(argv[2]);
  if (command == "dump") return Dump(argv[2]);
  return 1;
}
