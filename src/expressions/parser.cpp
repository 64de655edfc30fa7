// The expression parser: an LALR(1) driver over generated tables whose
// reductions check operand types and emit the compiled code in postfix order,
// and the parse error report with its window on the expression text.
#include <cstring>

#include "expressions/expr_internal.h"
#include "foundation/errors.h"

namespace qd::expr {

namespace {

#include "expressions/parser_tables.inc"

enum RuleAction {
  kActNone = 0,
  kActStart = 1,
  kActBinary = 2,
  kActNot = 3,
  kActPlus = 4,
  kActMinus = 5,
  kActParen = 6,
  kActNumber = 7,
  kActString = 8,
  kActTrue = 9,
  kActFalse = 10,
  kActField = 11,
  kActFunction = 12,
};

constexpr int C = kTypeChar;
constexpr int N = kTypeNumber;
constexpr int L = kTypeLogical;
constexpr int D = kTypeDate;

// One accepted operand pair of a binary operator and what it emits.
struct OperatorCase {
  int left;
  int right;
  int code;
  int result;
};

struct OperatorRule {
  int token;
  const char* name;  // used in the mismatch message
  OperatorCase cases[4];
};

constexpr OperatorRule kOperators[] = {
    {'+', "+", {{N, N, 347, N}, {N, D, 348, D}, {D, N, 349, D}, {C, C, 350, C}}},
    {'-', "-", {{N, N, 351, N}, {D, N, 352, D}, {D, D, 353, N}, {C, C, 354, C}}},
    {'*', "*", {{N, N, 355, N}}},
    {'/', "/", {{N, N, 356, N}}},
    {'^', "** or ^", {{N, N, 357, N}}},
    {'=', "=", {{N, N, 358, L}, {D, D, 359, L}, {C, C, 360, L}, {L, L, 361, L}}},
    {kTokExactEqual, "==", {{C, C, 362, L}}},
    {kTokContains, "$", {{C, C, 363, L}}},
    {'>', ">", {{N, N, 364, L}, {D, D, 365, L}, {C, C, 366, L}}},
    {'<', "<", {{N, N, 367, L}, {D, D, 368, L}, {C, C, 369, L}}},
    {kTokNotEqual, "<>", {{N, N, 370, L}, {D, D, 371, L}, {C, C, 372, L}, {L, L, 373, L}}},
    {kTokLessEqual, "<=", {{N, N, 374, L}, {D, D, 375, L}, {C, C, 376, L}}},
    {kTokGreaterEqual, ">=", {{N, N, 377, L}, {D, D, 378, L}, {C, C, 379, L}}},
    {kTokOr, ".OR.", {{L, L, 380, L}}},
    {kTokAnd, ".AND.", {{L, L, 381, L}}},
};

// Argument and result types of a function; 0 ends the argument list.
struct FunctionRule {
  int code;
  int args[4];
  int result;
};

constexpr FunctionRule kFunctions[] = {
    {257, {N}, N},       {259, {C}, N},          {261, {C, C}, N},    {264, {D}, C},
    {266, {N}, C},       {267, {D}, C},          {269, {C}, D},       {270, {}, D},
    {271, {D}, N},       {272, {}, L},           {274, {D}, N},       {275, {D}, C},
    {277, {D}, C},       {283, {L, C, C}, C},    {284, {N}, N},       {288, {C, N}, C},
    {289, {C}, N},       {292, {C}, C},          {293, {C}, C},       {296, {N, N}, N},
    {297, {D}, N},       {300, {}, N},           {301, {C, N}, C},    {302, {C, N}, C},
    {303, {N, N}, N},    {305, {C}, C},          {308, {C}, C},       {310, {N}, C},
    {311, {N, N, N}, C}, {312, {C, N, N, C}, C}, {313, {C, N, N}, C}, {316, {C}, C},
    {318, {C}, C},       {319, {C}, N},          {320, {D}, N},
};

struct StackEntry {
  int state;
  int type;       // value type of a reduced expression
  double number;  // attributes of a shifted token
  char* string;
  int field_number;
  int field_area;
};

StackEntry Stack[kParseStackSize];
int Top = -1;

char TypeLetter(int type) {
  switch (type) {
    case kTypeNumber:
      return 'N';
    case kTypeLogical:
      return 'L';
    case kTypeDate:
      return 'D';
    case kTypeMemo:
      return 'M';
    default:
      return 'C';
  }
}

bool Push(int state) {
  if (Top + 1 >= kParseStackSize) return false;
  StackEntry& entry = Stack[++Top];
  entry.state = state;
  entry.type = 0;
  entry.number = Parser.LastNumber;
  entry.string = Parser.LastString;
  entry.field_number = Parser.LastFieldNumber;
  entry.field_area = Parser.LastFieldArea;
  return true;
}

void MismatchInExpression(const char* name) {
  std::string message = "PARSER:Type mismatch in expression \"";
  message += name;
  message += "\"";
  ReportParseError(message);
}

void MismatchInFunction(int code) {
  std::string message = "PARSER:Type mismatch in function \"";
  message += FunctionName(code);
  message += "\"";
  ReportParseError(message);
}

bool EmitField(const StackEntry& token_entry, int token, int& type) {
  const bool qualified = token >= kTokCharField + kTokQualifiedOffset;
  const int kind = (token - kTokCharField) % kTokQualifiedOffset;
  type = kTypeChar + kind;
  std::int32_t number = token_entry.field_number;
  if (!PushSD(kTypeLogical, &number)) return false;
  if (qualified) {
    std::int32_t area = token_entry.field_area;
    if (!PushSD(kTypeLogical, &area)) return false;
  }
  return PushOp(token, qualified ? 2 : 1);
}

bool EmitFunction(const StackEntry* rhs, int code, int argc, int& type) {
  // Argument i sits after the name, the parenthesis and i commas.
  auto arg = [&](int i) { return rhs[2 + 2 * i].type; };
  if (code == 294 || code == 295) {  // MAX, MIN: two numbers or two dates
    const int first = arg(0);
    if (first != N && first != D) {
      MismatchInFunction(code);
      return false;
    }
    if (arg(1) != first) {
      MismatchInFunction(code);
      return false;
    }
    type = first;
    return PushOp(code, argc);
  }
  for (const FunctionRule& rule : kFunctions) {
    if (rule.code != code) continue;
    for (int i = 0; i < argc; ++i) {
      if (arg(i) != rule.args[i]) {
        MismatchInFunction(code);
        return false;
      }
    }
    type = rule.result;
    return PushOp(code, argc);
  }
  ReportParseError("Syntax error");
  return false;
}

// Runs the action of a rule over its right-hand side; false after a report.
bool Reduce(const RuleEntry& rule, StackEntry* rhs, int& type) {
  type = rule.length > 0 ? rhs[0].type : 0;
  switch (rule.action) {
    case kActNone:
      return true;
    case kActStart:
      Parser.ResultType = TypeLetter(rhs[0].type);
      return PushOp(-1, 0);
    case kActBinary: {
      for (const OperatorRule& op : kOperators) {
        if (op.token != rule.token) continue;
        for (const OperatorCase& c : op.cases) {
          if (c.code != 0 && c.left == rhs[0].type && c.right == rhs[2].type) {
            type = c.result;
            return PushOp(c.code, 2);
          }
        }
        MismatchInExpression(op.name);
        return false;
      }
      ReportParseError("Syntax error");
      return false;
    }
    case kActNot:
      if (rhs[1].type != L) {
        MismatchInExpression(".NOT.");
        return false;
      }
      type = L;
      return PushOp(382, 1);
    case kActPlus:
      if (rhs[1].type != N) {
        MismatchInExpression("Unary +");
        return false;
      }
      type = N;
      return true;
    case kActMinus:
      if (rhs[1].type != N) {
        MismatchInExpression("Unary -");
        return false;
      }
      type = N;
      return PushOp(383, 1);
    case kActParen:
      type = rhs[1].type;
      return true;
    case kActNumber:
      type = N;
      return PushSD(kTypeNumber, &rhs[0].number);
    case kActString:
      type = C;
      return PushSD(kTypeChar, rhs[0].string);
    case kActTrue:
    case kActFalse: {
      const std::int32_t value = rule.action == kActTrue ? 1 : 0;
      type = L;
      return PushSD(kTypeLogical, &value);
    }
    case kActField:
      return EmitField(rhs[0], rule.token, type);
    case kActFunction:
      return EmitFunction(rhs, rule.token, rule.argc, type);
    default:
      ReportParseError("Syntax error");
      return false;
  }
}

// The action for a state and a token: shift (> 0), reduce (< 0), accept,
// or 0 for an error.
int FindAction(int state, int token) {
  for (int i = kActionStart[state]; i < kActionStart[state + 1]; ++i) {
    if (kActions[i].token == token) return kActions[i].action;
    if (kActions[i].token < token) break;  // sorted by descending token
  }
  const int fallback = kDefaultReduction[state];
  return fallback >= 0 ? -fallback : 0;
}

}  // namespace

void ReportParseError(const std::string& message) {
  if (!Parser.ErrorReport.empty()) return;  // the first error stands
  const std::string text(Parser.ExprText);
  const int pos = Parser.ReadPos;
  std::string window;
  std::size_t start = 0;
  if (pos <= 50) {
    window = "[";
  } else {
    start = static_cast<std::size_t>(pos - 51);
    window = "[...";
  }
  if (start < text.size()) window += text.substr(start, 51);
  window += text.size() > start + 51 ? "...]" : "]";
  Parser.ErrorReport =
      "Error in expression : " + message + "\r\n" + window + "\r\n" + " [AssignExpr]";
}

int ParseExpr() {
  Top = -1;
  Push(0);
  constexpr int kNoToken = -100;
  int lookahead = kNoToken;
  for (;;) {
    if (Parser.OutOfMemory) return 1;
    const int state = Stack[Top].state;
    int action;
    if (kActionStart[state] == kActionStart[state + 1] && kDefaultReduction[state] >= 0) {
      // A state that only reduces does not read a lookahead.
      action = -kDefaultReduction[state];
    } else {
      if (lookahead == kNoToken) {
        lookahead = NextToken();
        if (lookahead == kTokBadLiteral) {
          ReportParseError("Syntax error");
          return 1;
        }
        if (Parser.OutOfMemory) return 1;
        if (lookahead < 0) lookahead = 0;
      }
      action = FindAction(state, lookahead);
    }
    if (action == kAcceptAction) return 0;
    if (action > 0) {
      if (!Push(action - 1)) {
        ReportParseError("Parser_stack_overflow");
        return 1;
      }
      lookahead = kNoToken;
      continue;
    }
    if (action < 0) {
      const RuleEntry& rule = kRules[-action];
      StackEntry* rhs = &Stack[Top - rule.length + 1];
      int type = 0;
      if (!Reduce(rule, rhs, type)) {
        if (Parser.ErrorReport.empty() && !Parser.OutOfMemory) ReportParseError("Syntax error");
        return 1;
      }
      Top -= rule.length;
      const int next = kGoto[Stack[Top].state][rule.lhs];
      if (next < 0 || !Push(next)) {
        ReportParseError("Parser_stack_overflow");
        return 1;
      }
      Stack[Top].type = type;
      continue;
    }
    // No rule accepts the token. A token after a complete expression is
    // reported as a parser stack overflow, the established report for
    // trailing text; every other unexpected token is a syntax error.
    ReportParseError(state == kAcceptState && lookahead != 0 ? "Parser_stack_overflow"
                                                             : "Syntax error");
    return 1;
  }
}

}  // namespace qd::expr
