// The expression interface: key and condition checks, releasing records,
// error state around compilation, and the hooks filled at start-up.
#include "expr_test_support.h"
#include "expressions/expr_internal.h"
#include "foundation/exception.h"

namespace qd::expr_test {
namespace {

class InterfaceTest : public ExprTest {
 protected:
  void OpenChecks() {
    Open(1, "checks", {{"NAME", 'C', 10}, {"OK", 'L', 1}, {"NOTES", 'M', 10}, {"N", 'N', 4}},
         {"x         T         0   1"});
  }
};

TEST_F(InterfaceTest, CheckExpressionCodes) {
  OpenChecks();
  std::string blanks = "    ";
  EXPECT_EQ(CheckExpression(blanks, true), 359);
  EXPECT_EQ(blanks, "");
  std::string padded = "NAME   ";
  EXPECT_EQ(CheckExpression(padded, true), 0);
  EXPECT_EQ(padded, "NAME");

  // Keys are limited to 220 characters; conditions are compiled.
  std::string long_key = "NAME" + std::string(200, ' ') + "+ 'abcdefghijklm'";
  ASSERT_EQ(long_key.size(), 221u);
  std::string copy = long_key;
  EXPECT_EQ(CheckExpression(copy, true), 360);
  EXPECT_EQ(CheckCondition(long_key), 362);  // compiled: a text, not logical
  std::string long_condition = "OK" + std::string(215, ' ') + ".AND. OK";
  EXPECT_EQ(CheckCondition(long_condition), 0);

  std::string logical_key = "OK";
  EXPECT_EQ(CheckExpression(logical_key, true), 361);
  std::string memo_key = "NOTES";
  EXPECT_EQ(CheckExpression(memo_key, true), 361);
  EXPECT_EQ(CheckCondition("NAME"), 362);
  EXPECT_EQ(CheckCondition("N + 1"), 362);
  EXPECT_EQ(CheckCondition("N > 0 .AND. OK"), 0);
  EXPECT_EQ(GetMemoSize(), 256);

  // A syntax error gives its code and leaves no error behind.
  SetImmediateDispatch(true);
  SetRaiseExceptions(true);
  std::string broken = "NAME +";
  EXPECT_EQ(CheckExpression(broken, true), 351);
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(ErrorText, "");
  EXPECT_EQ(PendingErrorCode, 0);
  EXPECT_TRUE(ImmediateDispatch);
  SetRaiseExceptions(false);
  SetImmediateDispatch(false);
  EXPECT_EQ(expr::ExprRecordCount(), 0u);
}

TEST_F(InterfaceTest, FailedCompilationReleasesTheRecordBeforeReporting) {
  OpenChecks();
  const std::size_t before = expr::ExprRecordCount();
  SetImmediateDispatch(true);
  SetRaiseExceptions(true);
  for (const char* text : {"NAME + 1", "NAME NAME", "(((", "'unterminated"}) {
    EXPECT_THROW(AssignExpr(text), EQuindleError) << text;
    EXPECT_EQ(expr::ExprRecordCount(), before) << text;
  }
  SetRaiseExceptions(false);
  SetImmediateDispatch(false);
  ErrorCode = 0;
}

TEST_F(InterfaceTest, CompilationClearsEarlierExpressionErrors) {
  OpenChecks();
  ErrorCode = 358;
  ExprRecord* record = AssignExpr("NAME");
  EXPECT_EQ(ErrorCode, 0);
  FreeExpr(record);
  ErrorCode = 215;  // other errors stay
  record = AssignExpr("NAME");
  EXPECT_EQ(ErrorCode, 215);
  FreeExpr(record);
}

TEST_F(InterfaceTest, FreeExprRefusesWhatItDidNotMake) {
  OpenChecks();
  ExprRecord* record = AssignExpr("UPPER(NAME)");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(ExprSource(record), "UPPER(NAME)");
  ExprRecord* alias = record;
  FreeExpr(record);
  EXPECT_EQ(record, nullptr);
  FreeExpr(record);  // nil: nothing happens
  FreeExpr(alias);   // already released: not in the list any more
  EXPECT_NE(alias, nullptr);
  ExprRecord stranger;
  ExprRecord* stranger_address = &stranger;
  FreeExpr(stranger_address);
  EXPECT_EQ(stranger_address, &stranger);
  EXPECT_EQ(EvalExpr(nullptr), nullptr);
  EXPECT_EQ(expr::ExprRecordCount(), 0u);
}

TEST_F(InterfaceTest, HooksAndIndexSlot) {
  OpenChecks();
  InitExpressionUnit();
  ASSERT_TRUE(ExprHooks.present);
  std::string text = "TRIM(NAME) + '!'";
  ExprRecord* record = ExprHooks.AssignExpr(text);
  ASSERT_NE(record, nullptr);
  EXPECT_STREQ(static_cast<const char*>(ExprHooks.EvalExpr(record)), "x!");
  EXPECT_EQ(ExprHooks.ExprSource(record), text);
  IndexExpr = record;
  EXPECT_STREQ(static_cast<const char*>(ExprHooks.EvalIndexExpr()), "x!");
  ExprHooks.FreeExpr(record);
  EXPECT_EQ(record, nullptr);
  // Releasing the index expression empties the slot.
  EXPECT_EQ(IndexExpr, nullptr);
  EXPECT_EQ(EvalIndexExpr(), nullptr);
}

TEST_F(InterfaceTest, MemoResultsTakeTheMemoSize) {
  OpenChecks();
  ExprRecord* memo = Compile("NOTES");
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->result_type, 'M');
  EXPECT_EQ(memo->result_width, 256);
  EXPECT_EQ(memo->pool_size, 256);
  SetMemoSize(1000);
  EXPECT_EQ(GetMemoSize(), 1000);
  ExprRecord* larger = Compile("(NOTES)");
  ASSERT_NE(larger, nullptr);
  EXPECT_EQ(larger->result_width, 1000);
}

}  // namespace
}  // namespace qd::expr_test
