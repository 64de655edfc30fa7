// Evaluating compiled expressions against tables in several work areas:
// field access, every operator for every accepted type pair, blank values,
// the error reports of evaluation, memo fields, and the reuse of stack nodes
// and pool (no allocation after the first run).
#include <cmath>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "expr_test_support.h"
#include "support/memo_text_stub.h"
#include "table/hooks.h"

// Counts every allocation of the test program.
namespace {
long AllocationCount = 0;
}
// The replacements pair malloc with free; GCC cannot see that once they are
// inlined into callers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  ++AllocationCount;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++AllocationCount;
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept {
  return operator new(size, t);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace qd::expr_test {
namespace {

class EvaluateTest : public ExprTest {
 protected:
  // Work area 1: people; 2: DEPT with its own fields; 3: an empty table.
  void OpenAll() {
    OpenPeople();
    Open(2, "dept", {{"CODE", 'C', 4}, {"BUDGET", 'N', 8, 1}, {"OPENED", 'D', 8}},
         {"AB  123456.519980101"});
    Open(3, "none", {{"CODE", 'C', 4}, {"N", 'N', 5}, {"L", 'L', 1}, {"D", 'D', 8}}, {});
    Select(1);
  }
};

TEST_F(EvaluateTest, FieldsOfEveryTypeInSeveralWorkAreas) {
  OpenAll();
  EXPECT_EQ(Text("LAST"), "Smith     ");
  EXPECT_EQ(Number("SALARY"), 4800.5);
  EXPECT_EQ(Number("AGE"), 42);
  EXPECT_EQ(Number("HIRED"), DtosToJulian("19990315"));
  EXPECT_TRUE(Logical("ACTIVE"));
  EXPECT_EQ(Text("DEPT->CODE"), "AB  ");
  EXPECT_EQ(Number("DEPT->BUDGET"), 123456.5);
  EXPECT_EQ(Number("DEPT->OPENED"), DtosToJulian("19980101"));
  EXPECT_EQ(Text("TRIM(LAST) + '/' + DEPT->CODE"), "Smith/AB  ");

  // Second record: blank date, blank numeric, leading blanks, false.
  Skip(1);
  EXPECT_EQ(Number("SALARY"), 12.5);
  EXPECT_EQ(Number("AGE"), 0);
  EXPECT_EQ(Number("HIRED"), BlankDateValue);
  EXPECT_EQ(Text("DTOS(HIRED + 1)"), "        ");  // not a real day
  EXPECT_EQ(Number("HIRED - HIRED"), 0);
  EXPECT_FALSE(Logical("ACTIVE"));

  // A table without records reads every field as empty.
  Select(3);
  EXPECT_EQ(Text("CODE"), "    ");
  EXPECT_EQ(Number("N"), 0);
  EXPECT_FALSE(Logical("L"));
  EXPECT_EQ(Number("D"), BlankDateValue);
}

TEST_F(EvaluateTest, UnqualifiedFieldsReadTheCurrentWorkArea) {
  OpenAll();
  Select(2);
  ExprRecord* code = Compile("CODE");
  ASSERT_NE(code, nullptr);
  EXPECT_STREQ(static_cast<const char*>(EvalExpr(code)), "AB  ");
  Select(3);
  EXPECT_STREQ(static_cast<const char*>(EvalExpr(code)), "    ");
}

TEST_F(EvaluateTest, NumberAndDateOperators) {
  OpenAll();
  EXPECT_EQ(Number("SALARY + AGE"), 4842.5);
  EXPECT_EQ(Number("AGE * 2"), 84);
  EXPECT_EQ(Number("AGE / 4"), 10.5);
  EXPECT_NEAR(Number("AGE ^ 2"), 1764, 1e-9);
  EXPECT_EQ(Number("-AGE"), -42);
  EXPECT_EQ(Eval("HIRED + 1").type, 'D');
  EXPECT_EQ(Number("HIRED + 1"), DtosToJulian("19990316"));
  EXPECT_EQ(Number("HIRED - 15"), DtosToJulian("19990228"));
  EXPECT_EQ(Eval("HIRED - DEPT->OPENED").type, 'N');
  EXPECT_EQ(Number("HIRED - DEPT->OPENED"), 438);
  struct Case {
    const char* text;
    bool expected;
  };
  for (const Case& c : std::vector<Case>{{"AGE = 42", true},
                                         {"AGE <> 42", false},
                                         {"AGE # 41", true},
                                         {"AGE > 41", true},
                                         {"AGE >= 42", true},
                                         {"AGE <= 41", false},
                                         {"HIRED = HIRED", true},
                                         {"HIRED > DEPT->OPENED", true},
                                         {"HIRED < DEPT->OPENED", false},
                                         {"HIRED <= DEPT->OPENED", false},
                                         {"HIRED <> DEPT->OPENED", true},
                                         {"ACTIVE = .T.", true},
                                         {"ACTIVE .AND. .F.", false},
                                         {"ACTIVE .OR. .F.", true},
                                         {".NOT. ACTIVE", false},
                                         {"SALARY * 1.1 > 5000 .AND. HIRED > START", true}}) {
    EXPECT_EQ(Logical(c.text), c.expected) << c.text;
  }
}

TEST_F(EvaluateTest, TextOperators) {
  // "=" is a prefix test and not the complement of "<>".
  EXPECT_TRUE(Logical("'ABC ' = 'ABC'"));
  EXPECT_FALSE(Logical("'ABC ' == 'ABC'"));
  EXPECT_TRUE(Logical("'ABC' = 'AB'"));
  EXPECT_TRUE(Logical("'ABC' <> 'AB'"));
  EXPECT_FALSE(Logical("'AB' = 'ABC'"));
  EXPECT_FALSE(Logical("'' = ''"));
  EXPECT_FALSE(Logical("'ABC' = ''"));
  // "$": the left text occurs in the right one.
  EXPECT_TRUE(Logical("'BC' $ 'ABC'"));
  EXPECT_FALSE(Logical("'' $ 'ABC'"));
  EXPECT_FALSE(Logical("'ABCD' $ 'ABC'"));
  // Ordinal order, case-sensitive, unsigned bytes, shorter prefix first.
  EXPECT_TRUE(Logical("'a' > 'B'"));
  EXPECT_TRUE(Logical("'AB' < 'ABC'"));
  EXPECT_TRUE(Logical("'\xe9' > 'z'"));
  EXPECT_TRUE(Logical("'AB' <= 'AB'"));
  EXPECT_FALSE(Logical("'AB' >= 'AC'"));
  // "+" joins; "-" moves the left text's trailing blanks to the end.
  EXPECT_EQ(Text("'AB  ' + 'CD'"), "AB  CD");
  EXPECT_EQ(Text("'AB  ' - 'CD'"), "ABCD  ");
  EXPECT_EQ(Text("'AB' - 'CD'"), "ABCD");
  EXPECT_EQ(Text("'   ' - 'CD'"), "CD   ");
  EXPECT_EQ(Text("'A ' - 'B ' - 'C'"), "ABC  ");
}

TEST_F(EvaluateTest, TextsAreCutAt255Characters) {
  Open(1, "wide", {{"A", 'C', 200}, {"B", 'C', 200}},
       {std::string(200, 'a') + std::string(200, 'b')});
  EXPECT_EQ(Text("A + B"), std::string(200, 'a') + std::string(55, 'b'));
  EXPECT_EQ(Text("A - B").size(), 255u);
  EXPECT_EQ(Text("UPPER(A + B + A)").size(), 255u);
}

TEST_F(EvaluateTest, DivisionByZeroAndPowersWithoutTraps) {
  EXPECT_EQ(Number("1 / 0"), 1E250);
  EXPECT_EQ(ErrorCode, 358);
  EXPECT_EQ(ErrorText, "Error during evaluation: Divide by 0 [Evaluate/Engine]");
  ErrorCode = 0;
  EXPECT_EQ(Number("0 ^ 2"), 0);
  EXPECT_EQ(Number("0 ^ 0"), 1);
  EXPECT_EQ(Number("0 ^ -1"), 1E250);
  EXPECT_NEAR(Number("-2 ^ 3"), -8, 1e-9);
  EXPECT_NEAR(Number("-2 ^ -2"), 0.25, 1e-12);
  EXPECT_EQ(Number("-8 ^ 0.5"), 0);
  EXPECT_NEAR(Number("2 ^ 0.5"), std::sqrt(2.0), 1e-12);
  EXPECT_EQ(ErrorCode, 0);
}

TEST_F(EvaluateTest, WorkAreaClosedSinceCompilation) {
  OpenAll();
  ExprRecord* qualified = Compile("DEPT->CODE + 'x'");
  ExprRecord* plain_number = Compile("AGE + 1");
  ExprRecord* dates = Compile("DEPT->OPENED");
  ASSERT_NE(qualified, nullptr);
  Select(2);
  Close();
  Select(1);
  EXPECT_STREQ(static_cast<const char*>(EvalExpr(qualified)), "x");
  EXPECT_EQ(ErrorCode, 215);
  ErrorCode = 0;
  EXPECT_EQ(*static_cast<double*>(EvalExpr(dates)), BlankDateValue);
  EXPECT_EQ(ErrorCode, 215);
  // An unqualified field evaluated where the current table has fewer fields.
  Select(3);
  ErrorCode = 0;
  Select(2);  // now empty
  EXPECT_EQ(*static_cast<double*>(EvalExpr(plain_number)), 1);
  EXPECT_EQ(ErrorCode, 215);
  Select(3);
  ErrorCode = 0;
  EXPECT_EQ(*static_cast<double*>(EvalExpr(plain_number)), 1);  // field 7 of 4
  EXPECT_EQ(ErrorCode, 220);
  // A text field compiled at 4 characters and read where field 1 is wider
  // does not fit the pool: reported, and the value reads as empty text.
  Select(3);
  ExprRecord* code = Compile("CODE");
  ASSERT_NE(code, nullptr);
  EXPECT_STREQ(static_cast<const char*>(EvalExpr(code)), "    ");
  Select(1);
  ErrorCode = 0;
  EXPECT_STREQ(static_cast<const char*>(EvalExpr(code)), "");
  EXPECT_EQ(ErrorCode, 354);
  EXPECT_EQ(ErrorText, "Working pool overflow [PARSER/Allocate]");
}

TEST_F(EvaluateTest, ResultPlacesAndNoAllocationAfterFirstRun) {
  OpenAll();
  for (const char* text :
       {"LAST + FIRST", "SALARY * 1.1 > 5000 .AND. HIRED > START", "UPPER(LAST) + DTOS(HIRED)",
        "STR(SALARY, 12, 2) + SUBSTR(LAST, 2, 3) + IIF(ACTIVE, 'y', 'n')",
        "DTOC(HIRED) + CMONTH(HIRED) + CDOW(HIRED) + SOUNDEX(LAST)", "HIRED + 30",
        "LTRIM(STR(AGE)) - REPLICATE('-', 3) + SPACE(2) + CHR(65) + LOWER(DEPT->CODE)",
        "VAL('12') + LEN(LAST) + AT('i', LAST) + ROUND(SALARY, 1) + MOD(AGE, 5) + ASC(LAST)",
        "STR(SALARY / 3, 40, 12) + STR(-SALARY * 1E20, 60, 4)"}) {
    ExprRecord* record = Compile(text);
    ASSERT_NE(record, nullptr) << text;
    void* first = EvalExpr(record);
    if (record->result_type == 'C') {
      EXPECT_EQ(first, record->pool_base) << text;
    }
    const std::string first_text =
        record->result_type == 'C' ? std::string(static_cast<const char*>(first)) : "";
    const long before = AllocationCount;
    void* second = EvalExpr(record);
    for (int i = 0; i < 10; ++i) EvalExpr(record);
    EXPECT_EQ(AllocationCount, before) << text;
    EXPECT_EQ(first, second) << text;
    if (record->result_type == 'C') {
      EXPECT_EQ(first_text, static_cast<const char*>(second)) << text;
    }
  }
  EXPECT_EQ(ErrorCode, 0) << ErrorText;
}

// Memo values come through the memo hook's text binding.
std::string MemoStore;
std::string MemoForTest(std::int32_t block) { return block == 7 ? MemoStore : std::string(); }

TEST_F(EvaluateTest, MemoFields) {
  Open(1, "notes", {{"NAME", 'C', 4}, {"NOTES", 'M', 10}}, {"abcd         7"});
  // Without the memo unit a memo field reads as empty text.
  const MemoHookTable saved = MemoHooks;
  MemoHooks = MemoHookTable{};
  Value v = Eval("NOTES");
  EXPECT_EQ(v.type, 'M');
  EXPECT_EQ(v.text, "");

  test_support::MemoTextOf = MemoForTest;
  MemoHooks.AssignMemo = test_support::AssignStubMemo;
  MemoStore = "first line\r\nsecond line";
  EXPECT_EQ(Text("NOTES"), "first linesecond line");
  EXPECT_EQ(Text("NOTES->NOTES"), "first linesecond line");
  // The memo size bounds the text (one byte for the terminator).
  SetMemoSize(6);
  ExprRecord* small = Compile("NOTES");
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(small->result_width, 6);
  EXPECT_STREQ(static_cast<const char*>(EvalExpr(small)), "first");
  // With memo size 0 the result is an empty text, not a nil pointer.
  SetMemoSize(0);
  ExprRecord* none = Compile("NOTES");
  ASSERT_NE(none, nullptr);
  const char* result = static_cast<const char*>(EvalExpr(none));
  ASSERT_NE(result, nullptr);
  EXPECT_STREQ(result, "");
  // Memo values take no operators.
  EXPECT_NE(CompileError("NOTES + 'x'").find("Type mismatch"), std::string::npos);
  EXPECT_NE(CompileError("UPPER(NOTES)").find("Type mismatch"), std::string::npos);
  // A memo read that ends by raising its error leaves the previous work area
  // current, not the memo's.
  SetMemoSize(256);
  ExprRecord* qualified = Compile("NOTES->NOTES");
  ASSERT_NE(qualified, nullptr);
  Open(2, "other", {{"X", 'C', 1}}, {"x"});
  MemoHooks.AssignMemo = [](platform::TextFile&, std::int32_t*) -> bool {
    throw std::runtime_error("memo read failed");
  };
  EXPECT_THROW(EvalExpr(qualified), std::runtime_error);
  EXPECT_EQ(CurrentArea, 2);
  MemoHooks = saved;
}

}  // namespace
}  // namespace qd::expr_test
