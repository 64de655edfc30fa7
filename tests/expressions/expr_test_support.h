// Shared fixture of the expression tests: table files written byte by byte
// into a fresh temporary directory and opened through Use in chosen work
// areas, errors recorded instead of dispatched, and helpers that compile and
// evaluate a text in one step.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "expressions/expressions.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "table/work_areas.h"

namespace qd::expr_test {

struct FieldDef {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

// A dBASE III table file (version 0x03) whose records are given as the text
// after the deletion flag; "*" as first character of `deleted` marks them.
inline void WriteTable(const std::string& path, const std::vector<FieldDef>& fields,
                       const std::vector<std::string>& records,
                       const std::vector<bool>& deleted = {}) {
  const std::size_t header_length = 32 + 32 * fields.size() + 1;
  std::size_t record_length = 1;
  for (const auto& f : fields) record_length += static_cast<std::size_t>(f.length);
  std::vector<std::uint8_t> b(header_length, 0);
  b[0] = 0x03;
  b[1] = 124;
  b[2] = 1;
  b[3] = 2;
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<std::uint8_t>(records.size() >> (8 * i));
  b[8] = static_cast<std::uint8_t>(header_length);
  b[9] = static_cast<std::uint8_t>(header_length >> 8);
  b[10] = static_cast<std::uint8_t>(record_length);
  b[11] = static_cast<std::uint8_t>(record_length >> 8);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t d = 32 + 32 * i;
    std::memcpy(&b[d], fields[i].name.data(), fields[i].name.size());
    b[d + 11] = static_cast<std::uint8_t>(fields[i].type);
    b[d + 16] = static_cast<std::uint8_t>(fields[i].length);
    b[d + 17] = static_cast<std::uint8_t>(fields[i].decimals);
  }
  b[header_length - 1] = 0x0D;
  for (std::size_t r = 0; r < records.size(); ++r) {
    std::string text = (r < deleted.size() && deleted[r] ? "*" : " ") + records[r];
    text.resize(record_length, ' ');
    b.insert(b.end(), text.begin(), text.end());
  }
  b.push_back(0x1A);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The typed result of one evaluation.
struct Value {
  char type = '?';
  std::string text;
  double number = 0;
  bool logical = false;
};

class ExprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitErrorUnit();
    SetImmediateDispatch(false);
    DateFormat = 0;
    CenturyOn = false;
    AnsiTables = true;
    SetMemoSize(256);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("qd_expr_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_);
    Select(1);
  }
  void TearDown() override {
    for (ExprRecord*& record : compiled_) FreeExpr(record);
    SetImmediateDispatch(false);
    CloseEveryWorkArea();
    Select(1);
    ErrorCode = 0;
    AnsiTables = false;
    DateFormat = 0;
    CenturyOn = false;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Writes a table and opens it in work area `area` (which stays current).
  void Open(int area, const std::string& name, const std::vector<FieldDef>& fields,
            const std::vector<std::string>& records, const std::vector<bool>& deleted = {}) {
    WriteTable(Path(name + ".dbf"), fields, records, deleted);
    Select(area);
    Use(Path(name + ".dbf"), nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
  }

  // The people table: LAST, FIRST, SALARY (N 10.2), HIRED (D), START (D),
  // ACTIVE (L), AGE (N 3), in work area 1.
  void OpenPeople() {
    Open(1, "people",
         {{"LAST", 'C', 10},
          {"FIRST", 'C', 8},
          {"SALARY", 'N', 10, 2},
          {"HIRED", 'D', 8},
          {"START", 'D', 8},
          {"ACTIVE", 'L', 1},
          {"AGE", 'N', 3}},
         {"Smith     John       4800.501999031519980101T 42",
          "Jones     Mary         12.50                F   "});
    GoTop();
  }

  ExprRecord* Compile(const std::string& text) {
    ErrorCode = 0;
    ExprRecord* record = AssignExpr(text);
    if (record != nullptr) compiled_.push_back(record);
    return record;
  }

  // Compiles, evaluates and reads the result; type '?' when it fails.
  Value Eval(const std::string& text) {
    Value value;
    ExprRecord* record = Compile(text);
    if (record == nullptr) return value;
    void* result = EvalExpr(record);
    value.type = record->result_type;
    switch (value.type) {
      case 'C':
      case 'M':
        value.text = static_cast<const char*>(result);
        break;
      case 'L':
        value.logical = *static_cast<const std::int32_t*>(result) != 0;
        break;
      default:
        value.number = *static_cast<const double*>(result);
        break;
    }
    return value;
  }
  std::string Text(const std::string& text) {
    const Value v = Eval(text);
    EXPECT_TRUE(v.type == 'C' || v.type == 'M') << text << " " << ErrorText;
    return v.text;
  }
  double Number(const std::string& text) {
    const Value v = Eval(text);
    EXPECT_TRUE(v.type == 'N' || v.type == 'D') << text << " " << ErrorText;
    return v.number;
  }
  bool Logical(const std::string& text) {
    const Value v = Eval(text);
    EXPECT_EQ(v.type, 'L') << text << " " << ErrorText;
    return v.logical;
  }
  // The compile error text of a text that must fail (code 351).
  std::string CompileError(const std::string& text) {
    ExprRecord* record = Compile(text);
    EXPECT_EQ(record, nullptr) << text;
    EXPECT_EQ(ErrorCode, 351) << text;
    const std::string error = ErrorText;
    ErrorCode = 0;
    return error;
  }

  std::filesystem::path dir_;
  std::vector<ExprRecord*> compiled_;
};

}  // namespace qd::expr_test
