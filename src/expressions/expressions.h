// The expression interface seen by the rest of the engine: compile a dBASE
// expression text into an expression record, evaluate it against the current
// records of the open work areas, check key and condition texts, and release
// records. Also the expression record itself, whose result fields callers
// read after compiling and evaluating.
#pragma once

#include <cstdint>
#include <string>

#include "table/hooks.h"

namespace qd {

// Value type codes of expression values (and of the grammar's symbols).
inline constexpr int kTypeChar = 331;     // "C": NUL-terminated text, at most 255
inline constexpr int kTypeNumber = 332;   // "N": double
inline constexpr int kTypeLogical = 333;  // "L": 32-bit integer, non-zero true
inline constexpr int kTypeDate = 334;     // "D": double day number
inline constexpr int kTypeMemo = 335;     // "M": NUL-terminated text

// Longest text value; every text buffer holds this plus a terminator.
inline constexpr std::size_t kMaxText = 255;

// One entry of the code list or of the value stack.
struct ExprEntry {
  std::int32_t op = 0;    // 0 data, 257..383 operation, -1 end
  std::int32_t argc = 0;  // arguments of an operation
  std::int32_t type = 0;  // value type of a data entry
  union {
    double number;
    std::int32_t integer;
    char* text;
  } value{0.0};
};

// A node of the circular doubly linked code and value lists.
struct ExprNode {
  ExprNode* next = nullptr;
  ExprNode* prev = nullptr;
  std::uint16_t size = 0;
  ExprEntry entry;
};

// A node of the constant list holding one string literal (its bytes follow
// the node header).
struct ConstNode {
  ConstNode* next = nullptr;
  ConstNode* prev = nullptr;
  std::uint16_t size = 0;
  char* text() { return reinterpret_cast<char*>(this + 1); }
};

struct ExprRecord {
  // Links of the process-wide list of records.
  ExprRecord* list_next = nullptr;
  ExprRecord* list_prev = nullptr;

  std::string text;        // the expression text
  char result_type = 'C';  // C, N, L, D or M
  std::uint16_t result_width = 0;
  std::uint8_t result_decimals = 0;
  // After evaluation: the text at the pool base for C and M; the value slot
  // of the bottom value-stack entry for N, L (32-bit int) and D.
  void* result = nullptr;

  ConstNode* constants = nullptr;
  ExprNode* code_base = nullptr;
  ExprNode* code_current = nullptr;
  ExprNode* value_base = nullptr;
  ExprNode* value_current = nullptr;
  bool value_empty = true;

  std::uint16_t pool_size = 0;
  char* pool_base = nullptr;  // nil when pool_size is 0
  char* pool_current = nullptr;
};

// Working-pool size of memo expressions (start value 256).
std::uint16_t GetMemoSize();
void SetMemoSize(std::uint16_t size);

// The index engine's expression slot, evaluated by EvalIndexExpr.
inline ExprRecord* IndexExpr = nullptr;

// Compiles a text (at most 255 characters); nil after reporting a failure.
ExprRecord* AssignExpr(const std::string& text);
// Releases a record and sets the variable to nil; ignores nil and addresses
// that are not expression records.
void FreeExpr(ExprRecord*& record);
// Evaluates a record; returns its result pointer (nil for nil).
void* EvalExpr(ExprRecord* record);
void* EvalIndexExpr();
std::string ExprSource(const ExprRecord* record);

// 0 when acceptable; 359 empty, 360 key over 220 characters, 361 key of type
// L or M, 362 condition not of type L, otherwise the compile error's code.
// Removes trailing blanks from the text; always leaves ErrorCode clear.
std::uint16_t CheckExpression(std::string& text, bool key);
std::uint16_t CheckCondition(const std::string& text);

// Unit start-up: fills ExprHooks (and with it the index engine's
// evaluation hook).
void InitExpressionUnit();

}  // namespace qd
