// Shared fixture of the expression tests: table files built byte by byte
// in a fresh temporary directory and opened through Use in chosen work
// areas, errors recorded instead of dispatched, and helpers that compile and
// evaluate a text in one step.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "expressions/expressions.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "table/table_test_support.h"
#include "table/work_areas.h"

namespace qd::expr_test {

using FieldDef = table_test::RawField;

// A dBASE III table file whose records are given as the text after the
// deletion flag; `deleted` marks records deleted.
inline void WriteTable(const std::string& path, const std::vector<FieldDef>& fields,
                       const std::vector<std::string>& records,
                       const std::vector<bool>& deleted = {}) {
  std::vector<std::string> texts;
  for (std::size_t r = 0; r < records.size(); ++r) {
    texts.push_back((r < deleted.size() && deleted[r] ? "*" : " ") + records[r]);
  }
  table_test::WriteAll(path, table_test::BuildDbf(0x03, fields, texts));
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
  }

  std::string Path(const std::string& name) const { return scratch_.Path(name); }

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

  test_support::ScratchDir scratch_{"qd_expr"};
  std::vector<ExprRecord*> compiled_;
};

}  // namespace qd::expr_test
