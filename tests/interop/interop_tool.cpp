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
//   interop_tool memo-write <table> <version> <values>
//                                creates a table of the version (0x83, 0x8B or
//                                0xF5) with NAME C(10) and NOTES M and appends
//                                one record per line of the values file: "R"
//                                and the value's bytes in hex, stored as they
//                                are, or "T" and Windows (1252) text in hex,
//                                written through a text file bound to the value
//   interop_tool memo-dump <table>
//                                one line per record: the value's stored bytes
//                                in hex, '|', and in hex the text a text reader
//                                of the value sees (lines joined by CR LF)
// The exit status is the engine's error code.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "foundation/errors.h"
#include "memo/memo_file.h"
#include "memo/memo_lines.h"
#include "memo/memo_unit.h"
#include "platform/text_files.h"
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

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string ToHex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex.push_back(digits[static_cast<std::uint8_t>(c) >> 4]);
    hex.push_back(digits[static_cast<std::uint8_t>(c) & 15]);
  }
  return hex;
}

int MemoWrite(const std::string& path, int version, const std::string& values) {
  qd::CreateDBF(path, {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}});
  if (qd::ErrorCode != 0) return qd::ErrorCode;
  const std::string base = path.substr(0, path.size() - 4);
  if (version != 0x8B) {
    std::fstream table(path, std::ios::in | std::ios::out | std::ios::binary);
    table.put(static_cast<char>(version));
    table.close();
    std::remove((base + ".DBT").c_str());
    if (!qd::CreateMemofile(base + "." + qd::MemoFileExtension(static_cast<std::uint8_t>(version)),
                            static_cast<std::uint8_t>(version), 512, "interop"))
      return qd::ErrorCode;
  }
  qd::Use(path + " EXCLUSIVE", nullptr, 0);
  if (qd::ErrorCode != 0) return qd::ErrorCode;
  std::ifstream in(values);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::int32_t block = 0;
    if (line[0] == 'T') {
      qd::platform::TextFile file;
      if (!qd::AssignMemo(file, &block)) return qd::ErrorCode;
      if (qd::platform::TextRewrite(file) != 0 || qd::platform::TextWrite(file, FromHex(line.substr(1))) != 0 ||
          qd::platform::TextClose(file) != 0)
        return qd::ErrorCode != 0 ? qd::ErrorCode : 101;
    } else if (!qd::WriteMemoValue(0, FromHex(line.substr(1)), block, "interop")) {
      return qd::ErrorCode;
    }
    qd::ClearRecord();
    SetText(1, "value");
    SetValue(2, block);
    qd::Append();
    if (qd::ErrorCode != 0) return qd::ErrorCode;
  }
  qd::Close();
  return qd::ErrorCode;
}

int MemoDump(const std::string& path) {
  qd::Use(path, nullptr, 0);
  if (qd::ErrorCode != 0) return qd::ErrorCode;
  for (qd::GoTop(); !qd::dEOF(); qd::Skip(1)) {
    std::int32_t block = 0;
    std::memcpy(&block, qd::FieldAddress(2), 4);
    std::string value;
    if (!qd::ReadMemoValue(block, value, "interop")) return qd::ErrorCode;
    qd::platform::TextFile file;
    if (!qd::AssignMemo(file, &block) || qd::platform::TextReset(file) != 0) return 100;
    std::string text, line;
    for (bool first = true; !qd::platform::TextEof(file); first = false) {
      qd::platform::TextReadLine(file, line);
      text += (first ? "" : "\r\n") + line;
    }
    qd::platform::TextClose(file);
    std::printf("%s|%s\n", ToHex(value).c_str(), ToHex(text).c_str());
  }
  qd::Close();
  return qd::ErrorCode;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = false;  // text is kept in the OEM code page, as dBASE does
  qd::Select(1);
  qd::InitMemoUnit();
  const std::string command = argv[1];
  if (command == "write" && argc == 3) return Write(argv[2]);
  if (command == "dump" && argc == 3) return Dump(argv[2]);
  if (command == "memo-write" && argc == 5) return MemoWrite(argv[2], std::stoi(argv[3], nullptr, 0), argv[4]);
  if (command == "memo-dump" && argc == 3) return MemoDump(argv[2]);
  return 1;
}
