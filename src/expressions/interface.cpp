// The expression interface: compiling texts into expression records, the
// process-wide list of records, evaluation entry points, key and condition
// checks, the memo size setting and the unit's start-up.
#include <algorithm>
#include <new>

#include "expressions/expr_internal.h"
#include "foundation/errors.h"

namespace qd {

using namespace expr;

namespace {

std::uint16_t MemoSize = 256;
ExprRecord* RecordList = nullptr;

constexpr std::size_t kMaxKeyText = 220;

bool IsListed(const ExprRecord* record) {
  for (const ExprRecord* r = RecordList; r != nullptr; r = r->list_next) {
    if (r == record) return true;
  }
  return false;
}

void Unlist(ExprRecord* record) {
  if (record->list_prev != nullptr) {
    record->list_prev->list_next = record->list_next;
  } else {
    RecordList = record->list_next;
  }
  if (record->list_next != nullptr) record->list_next->list_prev = record->list_prev;
  record->list_next = record->list_prev = nullptr;
}

std::uint16_t Saturate16(std::uint32_t value) {
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(value, 0xFFFF));
}

}  // namespace

std::size_t expr::ExprRecordCount() {
  std::size_t count = 0;
  for (const ExprRecord* r = RecordList; r != nullptr; r = r->list_next) ++count;
  return count;
}

std::uint16_t GetMemoSize() { return MemoSize; }
void SetMemoSize(std::uint16_t size) { MemoSize = size; }

ExprRecord* AssignExpr(const std::string& text) {
  if (ErrorCode >= 350 && ErrorCode <= 363) ErrorCode = 0;

  ExprRecord* record = new (std::nothrow) ExprRecord;
  if (record == nullptr) {
    SetError(217, " [AssignExpr]");
    return nullptr;
  }
  record->list_next = RecordList;
  if (RecordList != nullptr) RecordList->list_prev = record;
  RecordList = record;

  ResetParser(text);
  SelectExpr(record);
  // Texts longer than the parser's buffer are refused rather than cut, so
  // that a longer key is never compiled as a different expression.
  const int failed = text.size() > kMaxText ? (ReportParseError("Syntax error"), 1) : ParseExpr();
  if (failed != 0) {
    // The partial record goes first: the report may end the caller's run.
    const std::string report = Parser.ErrorReport;
    FreeExpr(record);
    if (!report.empty()) SetError(351, report);
    return nullptr;
  }

  record->text = text;
  record->result_type = Parser.ResultType;
  std::uint32_t pool = Parser.PoolSize;
  if (record->result_type == 'M') pool = MemoSize;
  record->pool_size = Saturate16(pool);
  if (record->pool_size > 0) {
    record->pool_base = new (std::nothrow) char[record->pool_size];
    if (record->pool_base == nullptr) {
      FreeExpr(record);
      SetError(217, " [AssignExpr]");
      return nullptr;
    }
    record->pool_base[0] = '\0';
  }
  record->pool_current = record->pool_base;

  const int width = Parser.ResultWidth;
  switch (record->result_type) {
    case 'C':
      record->result_width =
          Parser.PoolSize == static_cast<std::uint32_t>(width) + 1 ? Saturate16(width) : 0;
      record->result_decimals = 0;
      break;
    case 'N': {
      const int decimals =
          Parser.ResultDecimals < kNoDecimalsYet ? Parser.ResultDecimals : DefaultDecimals;
      record->result_decimals = static_cast<std::uint8_t>(decimals);
      record->result_width = Saturate16(width >= decimals + 2 ? width : decimals + 11);
      break;
    }
    case 'D':
      record->result_width = 8;
      record->result_decimals = 0;
      break;
    case 'L':
      record->result_width = 1;
      record->result_decimals = 0;
      break;
    default:  // 'M'
      record->result_width = MemoSize;
      record->result_decimals = 0;
      break;
  }
  if (record->result_type == 'C' || record->result_type == 'M') {
    // An expression without a pool (a memo with MemoSize 0) reads as the
    // empty text.
    record->result = record->pool_base != nullptr ? record->pool_base : EmptyText;
  }
  return record;
}

void FreeExpr(ExprRecord*& record) {
  if (record == nullptr || !IsListed(record)) return;
  ExprRecord* doomed = record;
  record = nullptr;
  Unlist(doomed);
  if (CurrentExpr == doomed) CurrentExpr = nullptr;
  if (IndexExpr == doomed) IndexExpr = nullptr;
  delete[] doomed->pool_base;
  FreeConstList(doomed->constants);
  FreeNodeList(doomed->code_base);
  FreeNodeList(doomed->value_base);
  delete doomed;
}

void* EvalExpr(ExprRecord* record) {
  if (record == nullptr) return nullptr;
  SelectExpr(record);
  return Evaluate();
}

void* EvalIndexExpr() { return EvalExpr(IndexExpr); }

std::string ExprSource(const ExprRecord* record) {
  return record == nullptr ? std::string() : record->text;
}

std::uint16_t CheckExpression(std::string& text, bool key) {
  const std::size_t end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
  if (text.empty()) return 359;
  if (key && text.size() > kMaxKeyText) return 360;

  const bool dispatch = ImmediateDispatch;
  const std::uint16_t memo_size = MemoSize;
  MemoSize = 0;
  ImmediateDispatch = false;
  ExprRecord* record = AssignExpr(text);
  ImmediateDispatch = dispatch;

  std::uint16_t result = 0;
  if (record != nullptr) {
    const char type = record->result_type;
    FreeExpr(record);
    if (key && (type == 'M' || type == 'L')) result = 361;
    if (!key && type != 'L') result = 362;
  } else {
    result = ErrorCode;
  }
  // The check leaves no error behind, neither the code nor its text.
  ErrorCode = 0;
  TakeErrorText();
  MemoSize = memo_size;
  return result;
}

std::uint16_t CheckCondition(const std::string& text) {
  std::string copy = text;
  return CheckExpression(copy, false);
}

void InitExpressionUnit() {
  ExprHooks.AssignExpr = [](std::string& text) { return AssignExpr(text); };
  ExprHooks.FreeExpr = [](ExprRecord*& record) { FreeExpr(record); };
  ExprHooks.EvalExpr = [](ExprRecord*& record) { return EvalExpr(record); };
  ExprHooks.ExprSource = [](ExprRecord* record) { return ExprSource(record); };
  ExprHooks.EvalIndexExpr = [] { return EvalIndexExpr(); };
  ExprHooks.present = true;
}

}  // namespace qd
