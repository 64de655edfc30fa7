// Compiling expression texts: operator precedence and grouping, names with
// points and arrows, literals, every parse error text with its window, the
// parse stack limit, result width and decimals.
#include "expr_test_support.h"

namespace qd::expr_test {
namespace {

class CompileTest : public ExprTest {};

TEST_F(CompileTest, PrecedenceAndLeftGrouping) {
  EXPECT_EQ(Number("2 + 3 * 4"), 14);
  EXPECT_EQ(Number("(2 + 3) * 4"), 20);
  EXPECT_EQ(Number("10 - 4 - 3"), 3);  // (10 - 4) - 3
  EXPECT_EQ(Number("64 / 4 / 2"), 8);
  EXPECT_NEAR(Number("2 ^ 3 ^ 2"), 64, 1e-9);  // (2 ^ 3) ^ 2
  EXPECT_NEAR(Number("-2 ^ 2"), 4, 1e-9);      // (-2) ^ 2
  EXPECT_NEAR(Number("2 * 3 ^ 2"), 18, 1e-9);
  EXPECT_NEAR(Number("2 ** 3"), 8, 1e-9);
  EXPECT_EQ(Number("- - 5"), 5);
  EXPECT_EQ(Number("+5 - -2"), 7);
  // .NOT. binds to the item right after it: (.NOT. .F.) = .T.
  EXPECT_TRUE(Logical(".NOT. .F. = .T."));
  // .AND. before .OR.
  EXPECT_TRUE(Logical(".T. .OR. .F. .AND. .F."));
  EXPECT_FALSE(Logical("(.T. .OR. .F.) .AND. .F."));
  // (1 < 2) = .T. and ('A' $ 'ABC') = .T.: comparisons before "=".
  EXPECT_TRUE(Logical("1 < 2 = .T."));
  EXPECT_TRUE(Logical("'A' $ 'ABC' = .T."));
  EXPECT_TRUE(Logical("1 + 1 = 2 .AND. 'AB' + 'C' == 'ABC'"));
}

TEST_F(CompileTest, SameCodeForAlternativeSpellings) {
  auto codes = [&](const std::string& text) {
    std::vector<int> ops;
    ExprRecord* r = Compile(text);
    EXPECT_NE(r, nullptr) << text;
    if (r == nullptr) return ops;
    ExprNode* n = r->code_base;
    do {
      ops.push_back(n->entry.op);
      n = n->next;
    } while (n != r->code_base);
    return ops;
  };
  EXPECT_EQ(codes("2 ** 3"), codes("2 ^ 3"));
  EXPECT_EQ(codes("2 # 3"), codes("2 <> 3"));
  // Postfix order: operands before operators, end entry last.
  EXPECT_EQ(codes("1 + 2 * 3"), (std::vector<int>{0, 0, 0, 355, 347, -1}));
  EXPECT_EQ(codes("subs('ABC', 1, 2)"), (std::vector<int>{0, 0, 0, 313, -1}));
}

TEST_F(CompileTest, FieldNamesAliasesAndFunctionsOfTheSameName) {
  Open(2, "cust", {{"NAME", 'C', 6}, {"DATE", 'D', 8}}, {"Alpha 19990101"});
  Open(3, "a_long_alias_name", {{"X", 'N', 4}}, {"  17"});
  Select(2);
  EXPECT_EQ(Text("name"), "Alpha ");
  EXPECT_EQ(Text("cust->name"), "Alpha ");
  Select(3);
  EXPECT_EQ(Text("CUST->NAME + 'x'"), "Alpha x");
  EXPECT_EQ(Number("A_LONG_ALIAS_NAME->X"), 17);
  // The alias is compared whole: a prefix of an alias matches nothing.
  CompileError("A_LONG_AL->X");
  CompileError("CUST.NAME");
  CompileError("NOSUCH->NAME");
  // A field named DATE reads the field; DATE() is the function.
  Select(2);
  EXPECT_EQ(Number("DATE + 1"), DtosToJulian("19990102"));
  EXPECT_EQ(Eval("DATE()").type, 'D');
  EXPECT_EQ(Eval("DATE ( )").type, 'D');
  // Names are upper-cased and abbreviations are keywords of their own.
  EXPECT_EQ(Text("subs(name,1,3)"), "Alp");
  EXPECT_NE(CompileError("SUB(NAME)").find("Syntax error"), std::string::npos);
  EXPECT_NE(CompileError("TRI(NAME)").find("Syntax error"), std::string::npos);
}

TEST_F(CompileTest, AbbreviationsAndPoolBytes) {
  // The operation just before the end entry.
  auto last_op = [&](const std::string& text) {
    ExprRecord* r = Compile(text);
    EXPECT_NE(r, nullptr) << text;
    if (r == nullptr) return 0;
    ExprNode* n = r->code_base;
    while (n->next->entry.op != -1) n = n->next;
    return n->entry.op;
  };
  // Every listed abbreviation is the function itself.
  for (const char* text : {"CMON(DATE())", "CMONT(DATE())", "CMONTH(DATE())"}) {
    EXPECT_EQ(last_op(text), 267) << text;
  }
  for (const char* text : {"REPL('a',2)", "REPLICAT('a',2)", "replicate('a',2)"}) {
    EXPECT_EQ(last_op(text), 301) << text;
  }
  for (const char* text : {"SOUN('a')", "SOUNDEX('a')"}) {
    EXPECT_EQ(last_op(text), 308) << text;
  }
  // Names that are not in the table match nothing.
  for (const char* text : {"CMO(DATE())", "REP('a',2)", "SOU('a')", "UPP('a')", "STRING(1)"}) {
    EXPECT_NE(CompileError(text).find("Syntax error"), std::string::npos) << text;
  }
  // The pool holds every literal with its terminator plus each function's
  // result room.
  auto pool = [&](const std::string& text) {
    ExprRecord* r = Compile(text);
    return r == nullptr ? -1 : int{r->pool_size};
  };
  EXPECT_EQ(pool("'abc'"), 4);
  EXPECT_EQ(pool("CDOW(DATE())"), 15);
  EXPECT_EQ(pool("DTOC(DATE()) + DTOS(DATE())"), 20);
  EXPECT_EQ(pool("STR(1) + CHR(65)"), 258);
  EXPECT_EQ(pool("IIF(.T., 'a', 'b')"), 260);
  EXPECT_EQ(pool("UPPER('ab')"), 3);
}

TEST_F(CompileTest, DottedOperatorsWrittenAgainstNames) {
  Open(1, "flags", {{"A", 'L', 1}, {"B", 'L', 1}, {"X.AND.Y", 'L', 1}, {"N", 'N', 3}}, {"TFT  7"}, {false});
  EXPECT_FALSE(Logical("A .AND. B"));
  EXPECT_TRUE(Logical("(A).OR.(B)"));
  // Other programs store operators and constants against names and numbers.
  EXPECT_FALSE(Logical("A.AND.B"));
  EXPECT_TRUE(Logical("a.or.b"));
  EXPECT_TRUE(Logical(".NOT.DELETED()"));
  EXPECT_TRUE(Logical(".not.B.and.A"));  // (.NOT. B) .AND. A
  EXPECT_FALSE(Logical(".T..AND..F."));
  EXPECT_TRUE(Logical("N=7.AND.A"));
  EXPECT_TRUE(Logical("N = 7.5 .OR. N > 1.OR.B"));
  EXPECT_EQ(Number("1.5 + N"), 8.5);
  // A name that matches something keeps its meaning, points and all.
  EXPECT_TRUE(Logical("X.AND.Y"));
  EXPECT_TRUE(Logical("X.AND.Y.AND.A"));
  // Points that start no operator still make one name; a number still
  // cannot start with a point.
  EXPECT_NE(CompileError("A.B").find("Syntax error"), std::string::npos);
  EXPECT_NE(CompileError("A.ANDB").find("Syntax error"), std::string::npos);
  EXPECT_NE(CompileError(".5 + 1").find("Syntax error"), std::string::npos);
}

TEST_F(CompileTest, StringLiterals) {
  EXPECT_EQ(Text("\"it's\""), "it's");
  EXPECT_EQ(Text("'say \"hi\"'"), "say \"hi\"");
  EXPECT_EQ(Text("''"), "");
  // Byte 255 inside a literal is an ordinary character.
  EXPECT_EQ(Text("'a\xff"
                 "b'"),
            "a\xff"
            "b");
  // The longest literal that fits the text limit is kept whole.
  const std::string long_literal(253, 'x');
  EXPECT_EQ(Text("'" + long_literal + "'"), long_literal);
  // Many literals in one expression each keep their own text.
  std::string many;
  for (int i = 0; i < 40; ++i)
    many += (i ? "+'" : "'") + std::string(1, static_cast<char>('a' + i % 26)) + "'";
  EXPECT_EQ(Text(many).size(), 40u);
}

TEST_F(CompileTest, SyntaxErrors) {
  for (const char* text :
       {"", "   ", "1 +", "SUBSTR('ABC', 1)", "DATE", "DATE + 1", "(1", "UPPER('a', 'b')",
        "STR(1, 2, 3, 4)", "[1]", "1 + !", "NOSUCHNAME", "'open", "\"open"}) {
    const std::string error = CompileError(text);
    EXPECT_EQ(error.rfind("Error in expression : Syntax error\r\n", 0), 0u) << text << error;
  }
  // A literal that the text ends inside is an error also after a complete
  // expression.
  EXPECT_NE(CompileError("1 'abc").find("Syntax error"), std::string::npos);
  EXPECT_NE(CompileError("'A' + 'B").find("Syntax error"), std::string::npos);
}

TEST_F(CompileTest, TrailingTokensReportStackOverflow) {
  Open(1, "two", {{"A", 'C', 1}, {"B", 'C', 1}}, {"xy"});
  for (const char* text : {"A B", "1 2", "(1))", "'a' 'b'", "1 + 2 3", "A ,"}) {
    const std::string error = CompileError(text);
    EXPECT_EQ(error.rfind("Error in expression : Parser_stack_overflow\r\n", 0), 0u)
        << text << error;
  }
}

TEST_F(CompileTest, TypeMismatchTexts) {
  EXPECT_EQ(CompileError("1 + 'A'"),
            "Error in expression : PARSER:Type mismatch in expression \"+\"\r\n[1 + 'A']\r\n"
            " [AssignExpr]");
  EXPECT_NE(CompileError("2 ** 'x'").find("expression \"** or ^\""), std::string::npos);
  EXPECT_NE(CompileError("-'x'").find("expression \"Unary -\""), std::string::npos);
  EXPECT_NE(CompileError(".T. < .F.").find("expression \"<\""), std::string::npos);
  EXPECT_NE(CompileError("subs(1, 1, 1)").find("function \"SUBSTR\""), std::string::npos);
  EXPECT_NE(CompileError("MAX(1, DATE())").find("function \"MAX\""), std::string::npos);
}

TEST_F(CompileTest, ErrorWindow) {
  // Short texts are shown whole.
  EXPECT_NE(CompileError("1 + 'A'").find("\r\n[1 + 'A']\r\n"), std::string::npos);
  // Far into a long text the window starts 51 characters before the reading
  // position and ends with "..." when text follows.
  std::string text = "1";
  for (int i = 0; i < 40; ++i) text += " + 1";
  text += " + 'A' + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1";
  // The mismatch is found when the "+" after 'A' has been read.
  const std::size_t pos = text.find("'A'") + 5;
  const std::string error = CompileError(text);
  const std::string window = "[..." + text.substr(pos - 51, 51) + "...]";
  EXPECT_NE(error.find("\r\n" + window + "\r\n"), std::string::npos) << error;
}

TEST_F(CompileTest, ParseStackLimit) {
  // Each unary minus holds one state: the start state, 148 minus signs and
  // the number fill the 150 entries exactly; one more sign overflows.
  EXPECT_EQ(Number(std::string(148, '-') + "1"), 1);
  EXPECT_NE(CompileError(std::string(149, '-') + "1").find("Parser_stack_overflow"),
            std::string::npos);
  EXPECT_NE(CompileError("(" + std::string(149, '-') + "1)").find("Parser_stack_overflow"),
            std::string::npos);
  // Parentheses nest as deep as the text limit allows.
  EXPECT_EQ(Number(std::string(127, '(') + "1" + std::string(127, ')')), 1);
}

TEST_F(CompileTest, OverlongTextIsRefusedNotCut) {
  // 256 characters whose first 255 would be a valid expression.
  const std::string text = "1" + std::string(254, ' ') + "+";
  EXPECT_NE(CompileError(text).find("Syntax error"), std::string::npos);
  const std::string fits = "1" + std::string(253, ' ') + "+1";
  EXPECT_EQ(fits.size(), 256u);
  CompileError(fits);
  EXPECT_EQ(Number("1" + std::string(252, ' ') + "+1"), 2);
}

TEST_F(CompileTest, NumberLiterals) {
  EXPECT_EQ(Number("1.5"), 1.5);
  EXPECT_EQ(Number("12E2"), 1200);
  EXPECT_EQ(Number("1e3"), 1000);
  EXPECT_EQ(Number("1E"), 1);  // the conversion reads what forms a number
  EXPECT_EQ(Number("007"), 7);
}

TEST_F(CompileTest, ResultWidthAndDecimals) {
  Open(1, "nums",
       {{"AMOUNT", 'N', 10, 3}, {"QTY", 'N', 5}, {"NAME", 'C', 20}, {"D", 'D', 8}, {"OK", 'L', 1}},
       {"     1.250    3Bob                 19990101T"});
  auto shape = [&](const std::string& text) {
    ExprRecord* r = Compile(text);
    EXPECT_NE(r, nullptr) << text;
    return r == nullptr
               ? std::make_tuple('?', 0, 0)
               : std::make_tuple(r->result_type, int{r->result_width}, int{r->result_decimals});
  };
  EXPECT_EQ(shape("AMOUNT"), std::make_tuple('N', 10, 3));
  EXPECT_EQ(shape("AMOUNT + 1"), std::make_tuple('N', 13, 2));
  EXPECT_EQ(shape("QTY"), std::make_tuple('N', 5, 0));
  EXPECT_EQ(shape("QTY * 2"), std::make_tuple('N', 13, 2));
  EXPECT_EQ(shape("1 + QTY"), std::make_tuple('N', 5, 2));  // the field is read last
  EXPECT_EQ(shape("NAME"), std::make_tuple('C', 20, 0));
  EXPECT_EQ(shape("TRIM(NAME)"), std::make_tuple('C', 20, 0));
  EXPECT_EQ(shape("NAME + 'x'"), std::make_tuple('C', 0, 0));
  EXPECT_EQ(shape("STR(QTY)"), std::make_tuple('C', 0, 0));
  EXPECT_EQ(shape("QTY > 1"), std::make_tuple('L', 1, 0));
}

}  // namespace
}  // namespace qd::expr_test
