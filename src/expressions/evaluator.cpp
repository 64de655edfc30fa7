// The evaluator of compiled expressions: the code list and value stack of an
// expression record, its working pool for text values, field and memo access,
// the evaluation loop and the operators. Nodes and pool are allocated on the
// first run and reused afterwards, so later runs allocate nothing.
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "expressions/expr_internal.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "platform/text_files.h"
#include "table/work_areas.h"

namespace qd::expr {

char EmptyText[1] = {'\0'};

namespace {

const char* const kUnknownType =
    "Unknown data type (none of \"C\",\"N\",\"F\",\"L\",\"D\"or\"M\") [PARSER/";

constexpr double kDivideByZeroResult = 1E250;

char Scratch[kMaxText + 1];

// The next value-stack slot: the base again after the stack was emptied,
// otherwise the next node (allocated on first use).
ExprEntry* NextValueSlot() {
  ExprRecord& r = *CurrentExpr;
  if (r.value_empty && r.value_base != nullptr) {
    r.value_current = r.value_base;
  } else if (!WStackCheck()) {
    return nullptr;
  }
  r.value_empty = false;
  return &r.value_current->entry;
}

ExprEntry* PopEntry() {
  ExprRecord& r = *CurrentExpr;
  static ExprEntry missing;  // only reached by a corrupt code list
  if (r.value_empty || r.value_current == nullptr) {
    missing = ExprEntry{};
    missing.value.text = EmptyText;
    return &missing;
  }
  ExprEntry* entry = &r.value_current->entry;
  if (r.value_current == r.value_base) {
    r.value_empty = true;
  } else {
    r.value_current = r.value_current->prev;
  }
  return entry;
}

bool InPool(const char* text) {
  const ExprRecord& r = *CurrentExpr;
  return r.pool_base != nullptr && text >= r.pool_base && text < r.pool_base + r.pool_size;
}

// ----------------------------------------------------------- numbers ----

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

double ReadLeadingNumber(const char* text, std::size_t length) {
  std::size_t i = 0;
  while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t digits_start = i;
  std::uint64_t mantissa = 0;
  int significant = 0;
  while (i < length && text[i] >= '0' && text[i] <= '9') {
    if (significant > 0 || text[i] != '0') ++significant;
    mantissa = mantissa * 10 + static_cast<unsigned>(text[i] - '0');
    ++i;
  }
  int int_digits = static_cast<int>(i - digits_start);
  int fraction_digits = 0;
  if (i < length && text[i] == '.') {
    ++i;
    while (i < length && text[i] >= '0' && text[i] <= '9') {
      if (significant > 0 || text[i] != '0') ++significant;
      mantissa = mantissa * 10 + static_cast<unsigned>(text[i] - '0');
      ++fraction_digits;
      ++i;
    }
  }
  if (int_digits + fraction_digits == 0) return 0;
  std::size_t end = i;
  bool exponent = false;
  if (i < length && (text[i] == 'E' || text[i] == 'e')) {
    std::size_t j = i + 1;
    if (j < length && (text[j] == '+' || text[j] == '-')) ++j;
    const std::size_t exponent_digits = j;
    while (j < length && text[j] >= '0' && text[j] <= '9') ++j;
    if (j > exponent_digits) {
      exponent = true;
      end = j;
    }
  }
  double value;
  if (!exponent && significant <= 15 && int_digits + fraction_digits <= 19 &&
      fraction_digits <= 22) {
    // Exact mantissa and power of ten: one correctly rounded division.
    value = static_cast<double>(mantissa) / kPowersOfTen[fraction_digits];
  } else {
    value = 0;
    std::from_chars(text + digits_start, text + end, value);
  }
  return negative ? -value : value;
}

// ------------------------------------------------------ node allocation ---

ExprNode* NewExprNode() {
  ExprNode* node = new (std::nothrow) ExprNode;
  if (node == nullptr) return nullptr;
  node->next = node;
  node->prev = node;
  node->size = sizeof(ExprEntry);
  return node;
}

void FreeNodeList(ExprNode*& base) {
  if (base == nullptr) return;
  ExprNode* node = base->next;
  while (node != base) {
    ExprNode* next = node->next;
    delete node;
    node = next;
  }
  delete base;
  base = nullptr;
}

void FreeConstList(ConstNode*& base) {
  if (base == nullptr) return;
  ConstNode* node = base->next;
  while (node != base) {
    ConstNode* next = node->next;
    ::operator delete(node);
    node = next;
  }
  ::operator delete(base);
  base = nullptr;
}

ConstNode* AddConstant(const char* text, std::size_t length) {
  void* block = ::operator new(sizeof(ConstNode) + length + 1, std::nothrow);
  if (block == nullptr) {
    Parser.OutOfMemory = true;
    return nullptr;
  }
  ConstNode* node = new (block) ConstNode;
  node->size = static_cast<std::uint16_t>(length + 1);
  std::memcpy(node->text(), text, length);
  node->text()[length] = '\0';
  ConstNode*& base = CurrentExpr->constants;
  if (base == nullptr) {
    node->next = node->prev = node;
    base = node;
  } else {
    node->next = base;
    node->prev = base->prev;
    base->prev->next = node;
    base->prev = node;
  }
  return node;
}

namespace {

// Moves `current` to the next slot of a circular list, appending a node when
// the list is full. False when no node could be allocated.
bool AdvanceList(ExprNode*& base, ExprNode*& current, bool& created_base) {
  created_base = false;
  if (base == nullptr) {
    ExprNode* node = NewExprNode();
    if (node == nullptr) return false;
    base = current = node;
    created_base = true;
    return true;
  }
  if (current->next != base) {
    current = current->next;
    return true;
  }
  ExprNode* node = NewExprNode();
  if (node == nullptr) return false;
  node->prev = current;
  node->next = base;
  current->next = node;
  base->prev = node;
  current = node;
  return true;
}

}  // namespace

// ------------------------------------------------------------ code list ---

bool SStackCheck() {
  ExprRecord& r = *CurrentExpr;
  bool created = false;
  if (!AdvanceList(r.code_base, r.code_current, created)) {
    Parser.OutOfMemory = true;
    SetError(217, " [PARSER/SStackCheck]");
    return false;
  }
  return true;
}

bool PushOp(int op, int argc) {
  if (!SStackCheck()) return false;
  ExprEntry& entry = CurrentExpr->code_current->entry;
  entry = ExprEntry{};
  entry.op = op;
  entry.argc = argc;
  return true;
}

bool PushSD(int type, const void* address) {
  if (type != kTypeChar && type != kTypeNumber && type != kTypeLogical && type != kTypeDate) {
    SetError(356, std::string(kUnknownType) + "PushSD]");
    return false;
  }
  if (!SStackCheck()) return false;
  ExprEntry& entry = CurrentExpr->code_current->entry;
  entry = ExprEntry{};
  entry.type = type;
  if (type == kTypeChar) {
    entry.value.text = static_cast<char*>(const_cast<void*>(address));
  } else if (type == kTypeLogical) {
    std::memcpy(&entry.value.integer, address, 4);
  } else {
    std::memcpy(&entry.value.number, address, 8);
  }
  return true;
}

// ---------------------------------------------------------- value stack ---

bool WStackCheck() {
  ExprRecord& r = *CurrentExpr;
  bool created = false;
  if (!AdvanceList(r.value_base, r.value_current, created)) {
    SetError(217, " [PARSER/WStackCheck]");
    return false;
  }
  if (created && r.result_type != 'C' && r.result_type != 'M') {
    r.result = &r.value_base->entry.value;
  }
  return true;
}

namespace {

// Takes `length` bytes from the pool; nil after reporting an overflow.
char* Reserve(std::size_t length) {
  ExprRecord& r = *CurrentExpr;
  if (r.pool_base == nullptr ||
      length > static_cast<std::size_t>(r.pool_base + r.pool_size - r.pool_current)) {
    SetError(354, "Working pool overflow [PARSER/Allocate]");
    return nullptr;
  }
  char* address = r.pool_current;
  r.pool_current += length;
  return address;
}

}  // namespace

char* Allocate(const char* source, std::size_t length) {
  char* address = Reserve(length);
  // Sources may lie in the pool just above the free byte.
  if (address != nullptr) std::memmove(address, source, length);
  return address;
}

void PushWD(int type, const void* address, int length) {
  if (type != kTypeChar && type != kTypeNumber && type != kTypeLogical && type != kTypeDate) {
    SetError(356, std::string(kUnknownType) + "PushWD]");
    return;
  }
  if (type == kTypeChar) {
    const char* text = static_cast<const char*>(address);
    const std::size_t size = length < 1 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
    PushText(text, size - 1);
    return;
  }
  ExprEntry* entry = NextValueSlot();
  if (entry == nullptr) return;
  entry->op = 0;
  entry->type = type;
  if (type == kTypeLogical) {
    std::memcpy(&entry->value.integer, address, 4);
  } else {
    std::memcpy(&entry->value.number, address, 8);
  }
}

void* PopWD() {
  ExprEntry* entry = PopEntry();
  switch (entry->type) {
    case kTypeChar:
    case kTypeMemo:
      if (InPool(entry->value.text)) CurrentExpr->pool_current = entry->value.text;
      return entry->value.text;
    case kTypeNumber:
    case kTypeLogical:
    case kTypeDate:
      return &entry->value;
    default:
      SetError(356, std::string(kUnknownType) + "PopWD]");
      return nullptr;
  }
}

char* TopText() {
  const ExprRecord& r = *CurrentExpr;
  if (r.value_empty || r.value_current == nullptr) return EmptyText;
  char* text = r.value_current->entry.value.text;
  return text != nullptr ? text : EmptyText;
}

double PopNumber() {
  ExprEntry* entry = PopEntry();
  return entry->type == kTypeLogical ? entry->value.integer : entry->value.number;
}

std::int32_t PopLogical() { return PopEntry()->value.integer; }

char* PopText() {
  ExprEntry* entry = PopEntry();
  char* text = entry->value.text;
  if (text == nullptr) return EmptyText;
  if (InPool(text)) CurrentExpr->pool_current = text;
  return text;
}

void PushNumber(double value) {
  ExprEntry* entry = NextValueSlot();
  if (entry == nullptr) return;
  entry->op = 0;
  entry->type = kTypeNumber;
  entry->value.number = value;
}

void PushDate(double value) {
  ExprEntry* entry = NextValueSlot();
  if (entry == nullptr) return;
  entry->op = 0;
  entry->type = kTypeDate;
  entry->value.number = value;
}

void PushLogical(bool value) {
  ExprEntry* entry = NextValueSlot();
  if (entry == nullptr) return;
  entry->op = 0;
  entry->type = kTypeLogical;
  entry->value.integer = value ? 1 : 0;
}

void PushText(const char* text, std::size_t length) {
  if (length > kMaxText) length = kMaxText;
  ExprEntry* entry = NextValueSlot();
  if (entry == nullptr) return;
  entry->op = 0;
  entry->type = kTypeChar;
  char* address = Reserve(length + 1);
  if (address == nullptr) {
    // The overflow is reported; the value reads as the empty text, kept in
    // the pool when a byte is left so that a result at the pool base never
    // shows the text of an earlier run.
    ExprRecord& r = *CurrentExpr;
    if (r.pool_base != nullptr && r.pool_current < r.pool_base + r.pool_size) {
      *r.pool_current = '\0';
      entry->value.text = r.pool_current++;
    } else {
      entry->value.text = EmptyText;
    }
    return;
  }
  // Only `length` bytes of the source are read (it may be a field at the end
  // of the record buffer, or lie in the pool just above); the terminator is
  // written here.
  std::memmove(address, text, length);
  address[length] = '\0';
  entry->value.text = address;
}

// ---------------------------------------------------------------- fields ---

namespace {

// Pushes the empty value of a field kind (0 C, 1 N, 2 L, 3 D, 4 M).
void PushEmptyField(int kind) {
  switch (kind) {
    case 0:
      PushText("", 0);
      break;
    case 1:
      PushNumber(0);
      break;
    case 2:
      PushLogical(false);
      break;
    case 3:
      PushDate(BlankDateValue);
      break;
    default: {
      ExprEntry* entry = NextValueSlot();
      if (entry == nullptr) return;
      entry->op = 0;
      entry->type = kTypeMemo;
      entry->value.text = EmptyText;
      break;
    }
  }
}

std::string MemoLine;  // reused between reads

void PushMemo(std::int32_t reference, int area_number) {
  ExprRecord& r = *CurrentExpr;
  ExprEntry* entry = NextValueSlot();
  if (entry == nullptr) return;
  entry->op = 0;
  entry->type = kTypeMemo;
  if (r.pool_base == nullptr || r.pool_current >= r.pool_base + r.pool_size) {
    entry->value.text = EmptyText;
    return;
  }
  char* out = r.pool_current;
  entry->value.text = out;
  char* const last = r.pool_base + r.pool_size - 1;  // room for the terminator
  if (MemoHooks.AssignMemo != nullptr && reference != 0) {
    // The memo's lines are read through a text file bound to the value and
    // joined without their line breaks. The previous work area comes back
    // also when the read reports an error by raising it, so that later
    // table operations do not act on the memo's work area; the text file
    // is closed on that way out too.
    struct Reading {
      int previous;
      platform::TextFile file;
      ~Reading() {
        if (file.mode != platform::TextMode::Closed) platform::TextClose(file);
        CurrentArea = previous;
      }
    } reading{CurrentArea, {}};
    CurrentArea = area_number;
    std::int32_t block = reference;
    if (MemoHooks.AssignMemo(reading.file, &block) && platform::TextReset(reading.file) == 0) {
      while (out < last && !platform::TextEof(reading.file)) {
        if (platform::TextReadLine(reading.file, MemoLine) != 0) break;
        const std::size_t room = static_cast<std::size_t>(last - out);
        const std::size_t n = MemoLine.size() < room ? MemoLine.size() : room;
        std::memcpy(out, MemoLine.data(), n);
        out += n;
      }
    }
  }
  *out++ = '\0';
  r.pool_current = out;
}

const char* Blanks() {
  static char blanks[kMaxText + 1];
  if (blanks[0] != ' ') std::memset(blanks, ' ', kMaxText);
  return blanks;
}

void ReportMissingArea(int area_number) {
  SetError(215, "No database in use [Evaluate]  WorkArea = " + std::to_string(area_number));
}

// Field operations 321..330: pushes field `number` of work area `area_number`
// as the kind compiled into the operation, never reading beyond the field's
// bytes.
void GetFieldValue(int kind, int number, int area_number) {
  const WorkArea* area = area_number >= 1 && area_number <= kWorkAreaCount
                             ? WorkAreas[static_cast<std::size_t>(area_number)].get()
                             : nullptr;
  if (area == nullptr) {
    ReportMissingArea(area_number);
    PushEmptyField(kind);
    return;
  }
  if (number < 1 || static_cast<std::size_t>(number) > area->fields.size()) {
    SetError(220, "Invalid field number " + std::to_string(number) + " [Evaluate]");
    PushEmptyField(kind);
    return;
  }
  const FieldEntry& field = area->fields[static_cast<std::size_t>(number - 1)];
  const std::size_t end = static_cast<std::size_t>(field.offset) + field.length;
  const bool empty = area->record_count == 0 || end > area->record.size() || field.offset == 0;
  const char* bytes =
      empty ? nullptr : reinterpret_cast<const char*>(area->record.data()) + field.offset;
  const std::size_t length = field.length;
  switch (kind) {
    case 0:  // character: the bytes with trailing blanks
      PushText(empty ? Blanks() : bytes, length);
      break;
    case 1:
      PushNumber(empty ? 0.0 : ReadLeadingNumber(bytes, length));
      break;
    case 2: {
      const char c = empty || length == 0 ? ' ' : bytes[0];
      PushLogical(c == 'Y' || c == 'y' || c == 'T' || c == 't');
      break;
    }
    case 3:
      PushDate(empty ? BlankDateValue
                     : DtosToJulian(std::string_view(bytes, length < 8 ? length : 8)));
      break;
    default: {
      const double reference = empty ? 0.0 : ReadLeadingNumber(bytes, length);
      const std::int32_t block = std::isfinite(reference) && std::fabs(reference) < 2147483647.0
                                     ? static_cast<std::int32_t>(reference)
                                     : 0;
      PushMemo(block, area_number);
      break;
    }
  }
}

// -------------------------------------------------------------- operators -

int Compare(const char* a, const char* b) { return std::strcmp(a, b); }

// a begins with b; an empty b never matches.
bool BeginsWith(const char* a, const char* b) {
  if (*b == '\0') return false;
  while (*b != '\0') {
    if (*a != *b) return false;
    ++a;
    ++b;
  }
  return true;
}

void Concatenate(bool move_blanks) {
  const char* b = PopText();
  const char* a = PopText();
  std::size_t la = std::strlen(a);
  const std::size_t lb = std::strlen(b);
  std::size_t blanks = 0;
  if (move_blanks) {
    while (la > 0 && a[la - 1] == ' ') {
      --la;
      ++blanks;
    }
  }
  std::size_t length = la < kMaxText ? la : kMaxText;
  std::memcpy(Scratch, a, length);
  const std::size_t take_b = lb < kMaxText - length ? lb : kMaxText - length;
  std::memcpy(Scratch + length, b, take_b);
  length += take_b;
  const std::size_t take_blanks = blanks < kMaxText - length ? blanks : kMaxText - length;
  std::memset(Scratch + length, ' ', take_blanks);
  length += take_blanks;
  PushText(Scratch, length);
}

double Power(double a, double b) {
  if (a == 0) {
    if (b > 0) return 0;
    if (b == 0) return 1;
    return kDivideByZeroResult;
  }
  if (a > 0) return std::exp(b * std::log(a));
  // A negative base has a real power only for whole exponents.
  if (b != std::trunc(b)) return 0;
  const double magnitude = std::exp(b * std::log(-a));
  return std::fmod(b, 2.0) != 0 ? -magnitude : magnitude;
}

void RunOperation(const ExprEntry& entry) {
  const int op = entry.op;
  if (op >= kTokCharField && op <= kTokCharField + 9) {
    const int kind = (op - kTokCharField) % kTokQualifiedOffset;
    if (op >= kTokCharField + kTokQualifiedOffset) {
      const int area = PopLogical();
      const int number = PopLogical();
      GetFieldValue(kind, number, area);
    } else {
      const int number = PopLogical();
      GetFieldValue(kind, number, CurrentArea);
    }
    return;
  }
  if (op < 347) {
    RunFunction(op, entry.argc);
    return;
  }
  switch (op) {
    case 347:
    case 348:
    case 349: {
      const double b = PopNumber();
      const double a = PopNumber();
      if (op == 347)
        PushNumber(a + b);
      else
        PushDate(a + b);
      return;
    }
    case 350:
      Concatenate(false);
      return;
    case 351:
    case 352:
    case 353: {
      const double b = PopNumber();
      const double a = PopNumber();
      if (op == 352)
        PushDate(a - b);
      else
        PushNumber(a - b);
      return;
    }
    case 354:
      Concatenate(true);
      return;
    case 355: {
      const double b = PopNumber();
      const double a = PopNumber();
      PushNumber(a * b);
      return;
    }
    case 356: {
      const double b = PopNumber();
      const double a = PopNumber();
      if (b == 0) {
        // Pushed first: the run goes on with this value when the report
        // does not end it.
        PushNumber(kDivideByZeroResult);
        SetError(358, "Error during evaluation: Divide by 0 [Evaluate/Engine]");
        return;
      }
      PushNumber(a / b);
      return;
    }
    case 357: {
      const double b = PopNumber();
      const double a = PopNumber();
      PushNumber(Power(a, b));
      return;
    }
    case 358:
    case 359:
    case 364:
    case 365:
    case 367:
    case 368:
    case 370:
    case 371:
    case 374:
    case 375:
    case 377:
    case 378: {
      const double b = PopNumber();
      const double a = PopNumber();
      bool result = false;
      switch (op) {
        case 358:
        case 359:
          result = a == b;
          break;
        case 364:
        case 365:
          result = a > b;
          break;
        case 367:
        case 368:
          result = a < b;
          break;
        case 370:
        case 371:
          result = a != b;
          break;
        case 374:
        case 375:
          result = a <= b;
          break;
        default:
          result = a >= b;
          break;
      }
      PushLogical(result);
      return;
    }
    case 360:
    case 362:
    case 363:
    case 366:
    case 369:
    case 372:
    case 376:
    case 379: {
      const char* b = PopText();
      const char* a = PopText();
      bool result = false;
      switch (op) {
        case 360:
          result = BeginsWith(a, b);
          break;
        case 362:
          result = Compare(a, b) == 0;
          break;
        case 363:
          result = *a != '\0' && std::strstr(b, a) != nullptr;
          break;
        case 366:
          result = Compare(a, b) > 0;
          break;
        case 369:
          result = Compare(a, b) < 0;
          break;
        case 372:
          result = Compare(a, b) != 0;
          break;
        case 376:
          result = Compare(a, b) <= 0;
          break;
        default:
          result = Compare(a, b) >= 0;
          break;
      }
      PushLogical(result);
      return;
    }
    case 361:
    case 373:
    case 380:
    case 381: {
      const std::int32_t b = PopLogical();
      const std::int32_t a = PopLogical();
      bool result = false;
      switch (op) {
        case 361:
          result = a == b;
          break;
        case 373:
          result = a != b;
          break;
        case 380:
          result = a != 0 || b != 0;
          break;
        default:
          result = a != 0 && b != 0;
          break;
      }
      PushLogical(result);
      return;
    }
    case 382:
      PushLogical(PopLogical() == 0);
      return;
    case 383:
      PushNumber(-PopNumber());
      return;
    default:
      return;
  }
}

}  // namespace

// ------------------------------------------------------------ evaluation ---

void SelectExpr(ExprRecord* record) {
  CurrentExpr = record;
  record->pool_current = record->pool_base;
  record->code_current = record->code_base;
  record->value_current = record->value_base;
  record->value_empty = true;
}

void* Evaluate() {
  ExprRecord& r = *CurrentExpr;
  ExprNode* node = r.code_base;
  if (node == nullptr) return r.result;
  do {
    const ExprEntry& entry = node->entry;
    if (entry.op == -1) break;
    if (entry.op == 0) {
      if (entry.type == kTypeChar) {
        PushText(entry.value.text, std::strlen(entry.value.text));
      } else {
        PushWD(entry.type, &entry.value, 0);
      }
    } else if (entry.op >= 0 && entry.op <= 383) {
      RunOperation(entry);
    }
    node = node->next;
  } while (node != r.code_base);
  return r.result;
}

}  // namespace qd::expr
