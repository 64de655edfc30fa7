// Internal parts of the expression unit shared by the lexer, the parser, the
// evaluator and the function library: the parser state, the code list and
// value stack operations, and the working pool.
#pragma once

#include <cstdint>
#include <string>

#include "expressions/expressions.h"

namespace qd::expr {

// ------------------------------------------------------------- tokens -----

inline constexpr int kTokCharField = 321;  // 321..325 plain, 326..330 qualified
inline constexpr int kTokQualifiedOffset = 5;
inline constexpr int kTokString = 331;
inline constexpr int kTokNumber = 332;
inline constexpr int kTokUnmatched = 336;
inline constexpr int kTokFalse = 337;
inline constexpr int kTokTrue = 338;
inline constexpr int kTokNot = 339;
inline constexpr int kTokOr = 340;
inline constexpr int kTokAnd = 341;
inline constexpr int kTokNotEqual = 342;
inline constexpr int kTokLessEqual = 343;
inline constexpr int kTokGreaterEqual = 344;
inline constexpr int kTokExactEqual = 345;
inline constexpr int kTokContains = 346;
// The lexer met a literal that the text ends inside.
inline constexpr int kTokBadLiteral = -2;

inline constexpr int DefaultDecimals = 2;
inline constexpr int kNoDecimalsYet = 19;
inline constexpr int kParseStackSize = 150;
inline constexpr int kLiteralBufferSize = 511;
inline constexpr int kMaxNameLength = 80;

struct Keyword {
  const char* name;
  std::int16_t code;
  std::uint16_t pool;
};
// Searched in order; the last entry "$EOT$" ends the search.
extern const Keyword KeywordTable[68];

// The full name of a function token, for messages ("" when unknown).
const char* FunctionName(int code);

// ------------------------------------------------------- parser state -----

struct ParserState {
  char ExprText[kMaxText + 2] = {};  // the expression text, NUL-terminated
  int ReadPos = 0;
  char LiteralBuffer[kLiteralBufferSize] = {};
  int LiteralEnd = 0;
  // Token attributes of the last number, string and field.
  double LastNumber = 0;
  char* LastString = nullptr;
  int LastFieldNumber = 0;
  int LastFieldArea = 0;
  // Result attributes collected for AssignExpr.
  int ResultWidth = 0;
  int ResultDecimals = kNoDecimalsYet;
  std::uint32_t PoolSize = 0;  // saturated at 65535 when stored
  char ResultType = 'C';
  // The first parse error's full report text, and an allocation failure
  // (already reported) that ends the compilation.
  std::string ErrorReport;
  bool OutOfMemory = false;
};
inline ParserState Parser;

// Copies the text (the caller has checked it is at most 255 characters) and
// resets the parser state.
void ResetParser(const std::string& text);
// The character at ReadPos (upper-cased on request) and advance; kEndChar at
// the end of the text.
inline constexpr int kEndChar = -1;
int ReadChar(bool upper);
void UnreadChar();
int NextToken();
int LookupField(const std::string& name, bool qualified);
int LookupKeyword(const std::string& name);

// 0 on success, 1 on failure: Parser.error then holds the report text
// (AssignExpr reports it with code 351 after releasing the record), or an
// allocation failure has already been reported.
int ParseExpr();
// Builds the report text of a parse error with its window on the text.
void ReportParseError(const std::string& message);

// ------------------------------------------------ code list and stacks ----

inline ExprRecord* CurrentExpr = nullptr;

bool SStackCheck();
bool PushOp(int op, int argc);
bool PushSD(int type, const void* address);
bool WStackCheck();
char* Allocate(const char* source, std::size_t length);
// length below 1: the text's length plus one.
void PushWD(int type, const void* address, int length);
void* PopWD();
char* TopText();
void SelectExpr(ExprRecord* record);
void* Evaluate();

// Typed helpers of the evaluator and the functions.
double PopNumber();
std::int32_t PopLogical();
char* PopText();
void PushNumber(double value);
void PushLogical(bool value);
void PushDate(double value);
// Pushes a text of the given length (cut at 255) and a terminator.
void PushText(const char* text, std::size_t length);

// The longest number at the start of a text (leading blanks skipped, optional
// sign, digits, point and digits, exponent); 0 when there is none.
double ReadLeadingNumber(const char* text, std::size_t length);

// A static empty text used where no pool byte is available.
extern char EmptyText[1];

// Runs a function operation (257..320). False when the code has no function.
bool RunFunction(int op, int argc);

// Number argument used as a count, position or width: truncated toward zero,
// saturated to the int range, NaN as 0.
int CountArgument(double value);

// Number of live expression records (for leak checks).
std::size_t ExprRecordCount();

// Allocation of stack and constant nodes (operator new, nothrow).
ExprNode* NewExprNode();
void FreeNodeList(ExprNode*& base);
void FreeConstList(ConstNode*& base);
ConstNode* AddConstant(const char* text, std::size_t length);

}  // namespace qd::expr
