// The expression lexer: reads the expression text character by character,
// turns it into tokens, resolves field names against the open work areas and
// function names against the keyword table, and collects the attributes that
// the compiled expression's result width, decimals and pool size come from.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "expressions/expr_internal.h"
#include "foundation/errors.h"
#include "table/work_areas.h"

namespace qd::expr {

// Function names in alphabetical order (abbreviations as entries of their
// own), then the logical constants and operators, then the end mark. The
// pool column is the working-pool room the function's result needs.
const Keyword KeywordTable[68] = {
    {"ABS", 257, 0},       {"ASC", 259, 0},        {"AT", 261, 0},          {"CDOW", 264, 15},
    {"CHR", 266, 2},       {"CMON", 267, 15},      {"CMONT", 267, 15},      {"CMONTH", 267, 15},
    {"CTOD", 269, 0},      {"DATE", 270, 0},       {"DAY", 271, 0},         {"DELE", 272, 0},
    {"DELET", 272, 0},     {"DELETE", 272, 0},     {"DELETED", 272, 0},     {"DOW", 274, 0},
    {"DTOC", 275, 11},     {"DTOS", 277, 9},       {"IIF", 283, 256},       {"INT", 284, 0},
    {"LEFT", 288, 0},      {"LEN", 289, 0},        {"LOWE", 292, 0},        {"LOWER", 292, 0},
    {"LTRI", 293, 0},      {"LTRIM", 293, 0},      {"MAX", 294, 0},         {"MIN", 295, 0},
    {"MOD", 296, 0},       {"MONT", 297, 0},       {"MONTH", 297, 0},       {"RECN", 300, 0},
    {"RECNO", 300, 0},     {"REPL", 301, 256},     {"REPLI", 301, 256},     {"REPLIC", 301, 256},
    {"REPLICA", 301, 256}, {"REPLICAT", 301, 256}, {"REPLICATE", 301, 256}, {"RIGH", 302, 0},
    {"RIGHT", 302, 0},     {"ROUN", 303, 0},       {"ROUND", 303, 0},       {"RTRI", 305, 0},
    {"RTRIM", 305, 0},     {"SOUN", 308, 15},      {"SOUND", 308, 15},      {"SOUNDE", 308, 15},
    {"SOUNDEX", 308, 15},  {"SPAC", 310, 256},     {"SPACE", 310, 256},     {"STR", 311, 256},
    {"STUF", 312, 0},      {"STUFF", 312, 0},      {"SUBS", 313, 0},        {"SUBST", 313, 0},
    {"SUBSTR", 313, 0},    {"TRIM", 316, 0},       {"UPPE", 318, 0},        {"UPPER", 318, 0},
    {"VAL", 319, 0},       {"YEAR", 320, 0},       {".F.", 337, 0},         {".T.", 338, 0},
    {".NOT.", 339, 0},     {".OR.", 340, 0},       {".AND.", 341, 0},       {"$EOT$", 336, 0},
};

const char* FunctionName(int code) {
  // The longest name of a code is its full name.
  const char* best = "";
  for (const Keyword& entry : KeywordTable) {
    if (entry.code == code && std::strlen(entry.name) > std::strlen(best)) best = entry.name;
  }
  return best;
}

namespace {

bool IsLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

void AddPool(std::uint32_t bytes) {
  Parser.PoolSize = std::min<std::uint32_t>(Parser.PoolSize + bytes, 0xFFFFFFu);
}

void ResetResultAttributes() {
  Parser.ResultWidth = 0;
  Parser.ResultDecimals = DefaultDecimals;
}

// The logical operators and constants, which are written with points.
constexpr std::string_view kDottedWords[] = {".AND.", ".OR.", ".NOT.", ".T.", ".F."};

// Length of the dotted word the text starts with (upper case), 0 if none.
std::size_t DottedWordLength(std::string_view text) {
  for (std::string_view word : kDottedWords) {
    if (text.substr(0, word.size()) == word) return word.size();
  }
  return 0;
}

// Whether a dotted word starts at `pos` of the expression text (any case).
bool DottedWordAt(int pos) {
  std::string ahead;
  for (int i = pos; i < pos + 5 && i <= static_cast<int>(kMaxText) && Parser.ExprText[i] != '\0'; ++i) {
    const char c = Parser.ExprText[i];
    ahead.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return DottedWordLength(ahead) != 0;
}

// Whether a name is a field of the current work area or a keyword (without
// the side effects of looking it up for a token).
bool KnownName(std::string_view name) {
  if (CurrentArea >= 1 && CurrentArea <= kWorkAreaCount) {
    if (const WorkArea* area = WorkAreas[static_cast<std::size_t>(CurrentArea)].get()) {
      for (const FieldEntry& field : area->fields) {
        if (field.name == name) return true;
      }
    }
  }
  for (const Keyword& entry : KeywordTable) {
    if (entry.code != kTokUnmatched && name == entry.name) return true;
  }
  return false;
}

// Where a name that matches nothing splits because a dotted word is written
// against it (.NOT.DELETED, A.AND.B): the length of its first part, 0 when
// it holds no dotted word. Of several places the longest first part that is
// a known name wins (a field may have points in its name), else the first.
// Names that match something never get here, so no text that compiled
// before reads differently.
std::size_t DottedSplit(std::string_view name) {
  if (name.empty()) return 0;
  if (name[0] == '.') {
    const std::size_t length = DottedWordLength(name);
    return length < name.size() ? length : 0;
  }
  std::size_t first = 0;
  std::size_t known = 0;
  for (std::size_t dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.', dot + 1)) {
    if (DottedWordLength(name.substr(dot)) == 0) continue;
    if (first == 0) first = dot;
    if (KnownName(name.substr(0, dot))) known = dot;
  }
  return known != 0 ? known : first;
}

int ReadNumber(int first) {
  char digits[kMaxNameLength + 1];
  int count = 0;
  bool point = false;
  bool exponent = false;
  int c = first;
  for (;;) {
    const bool takes = IsDigit(c) || (c == '.' && !point && !exponent) || (c == 'E' && !exponent);
    if (!takes) break;
    // 1.AND.X: the point starts an operator, not the decimals.
    if (c == '.' && DottedWordAt(Parser.ReadPos - 1)) break;
    if (c == '.') point = true;
    if (c == 'E') exponent = true;
    if (count < kMaxNameLength) digits[count++] = static_cast<char>(c);
    c = ReadChar(true);
  }
  UnreadChar();
  // Reads as much of the text as forms a number ("1E" reads as 1).
  double value = 0;
  std::from_chars(digits, digits + count, value);
  Parser.LastNumber = value;
  ResetResultAttributes();
  return kTokNumber;
}

int ReadLiteral(int quote) {
  const int start = Parser.LiteralEnd;
  for (;;) {
    const int c = ReadChar(false);
    if (c == kEndChar) return kTokBadLiteral;
    if (c == quote) break;
    // When the buffer is full further characters are dropped; the last byte
    // stays free for the terminator.
    if (Parser.LiteralEnd < kLiteralBufferSize - 1) {
      Parser.LiteralBuffer[Parser.LiteralEnd++] = static_cast<char>(c);
    }
    AddPool(1);
  }
  const int length = Parser.LiteralEnd - start;
  if (Parser.LiteralEnd < kLiteralBufferSize) {
    Parser.LiteralBuffer[Parser.LiteralEnd++] = '\0';
  } else {
    Parser.LiteralBuffer[kLiteralBufferSize - 1] = '\0';
  }
  AddPool(1);
  ConstNode* node = AddConstant(Parser.LiteralBuffer + start, static_cast<std::size_t>(length));
  if (node == nullptr) {
    SetError(217, " [AssignExpr()]");
    return kEndChar;
  }
  Parser.LastString = node->text();
  ResetResultAttributes();
  return kTokString;
}

// Field or keyword token of a collected name.
int NameToken(const std::string& name, bool qualified) {
  int token = LookupField(name, qualified);
  if (token != kTokUnmatched) {
    int next = ReadChar(true);
    while (next == ' ' || next == '\t') next = ReadChar(true);
    UnreadChar();
    // A function of the same name wins over the field.
    if (next == '(') token = kTokUnmatched;
  }
  if (token == kTokUnmatched) {
    ResetResultAttributes();
    token = LookupKeyword(name);
  }
  return token;
}

int ReadName(int first) {
  const int start = Parser.ReadPos - 1;
  std::string name;
  bool qualified = false;
  int c = first;
  for (;;) {
    if (IsLetter(c) || IsDigit(c) || c == '_' || (c == '.' && !qualified)) {
      name.push_back(static_cast<char>(c));
    } else if (c == '-' && !qualified) {
      const int next = ReadChar(true);
      if (next != '>') {
        UnreadChar();
        break;
      }
      name.push_back('.');
      qualified = true;
    } else {
      break;
    }
    c = ReadChar(true);
  }
  UnreadChar();
  if (name.size() > static_cast<std::size_t>(kMaxNameLength)) name.resize(kMaxNameLength);

  const int token = NameToken(name, qualified);
  if (token != kTokUnmatched || qualified) return token;
  // Other programs store operators written against names (.NOT.DELETED()):
  // read the part before the dotted word alone and leave the rest for the
  // next token. An unqualified name is the text itself, character for
  // character, so the read position moves back by the rest's length.
  const std::size_t cut = DottedSplit(name);
  if (cut == 0) return token;
  Parser.ReadPos = start + static_cast<int>(cut);
  name.resize(cut);
  return NameToken(name, false);
}

}  // namespace

void ResetParser(const std::string& text) {
  Parser = ParserState{};
  const std::size_t length = std::min<std::size_t>(text.size(), kMaxText);
  std::memcpy(Parser.ExprText, text.data(), length);
  Parser.ExprText[length] = '\0';
}

int ReadChar(bool upper) {
  const int pos = Parser.ReadPos++;
  if (pos < 0 || pos > static_cast<int>(kMaxText)) return kEndChar;
  const int c = static_cast<unsigned char>(Parser.ExprText[pos]);
  if (c == 0) return kEndChar;
  if (upper && c >= 'a' && c <= 'z') return c - 'a' + 'A';
  return c;
}

void UnreadChar() {
  if (Parser.ReadPos > 0) --Parser.ReadPos;
}

int NextToken() {
  int c = ReadChar(true);
  while (c == ' ' || c == '\t') c = ReadChar(true);
  if (c == kEndChar) return kEndChar;
  if (IsDigit(c)) return ReadNumber(c);
  if (c == '\'' || c == '"') {
    // The quote is read again without case conversion (quotes have none).
    return ReadLiteral(c);
  }
  switch (c) {
    case '=': {
      if (ReadChar(true) == '=') return kTokExactEqual;
      UnreadChar();
      return '=';
    }
    case '*': {
      if (ReadChar(true) == '*') return '^';
      UnreadChar();
      return '*';
    }
    case '#':
      return kTokNotEqual;
    case '$':
      return kTokContains;
    case '>': {
      if (ReadChar(true) == '=') return kTokGreaterEqual;
      UnreadChar();
      return '>';
    }
    case '<': {
      const int next = ReadChar(true);
      if (next == '=') return kTokLessEqual;
      if (next == '>') return kTokNotEqual;
      UnreadChar();
      return '<';
    }
    default:
      break;
  }
  if (IsLetter(c) || c == '.' || c == '_') return ReadName(c);
  return c;
}

int LookupField(const std::string& name, bool qualified) {
  int area_number = CurrentArea;
  std::string field_name = name;
  if (qualified) {
    // The arrow became the last point of the name (no point is collected
    // after it). The alias before it is compared whole.
    const std::size_t point = name.rfind('.');
    const std::string alias = name.substr(0, point);
    field_name = name.substr(point + 1);
    area_number = 0;
    for (int n = 1; n <= 32; ++n) {
      const WorkArea* area = WorkAreas[n].get();
      if (area != nullptr && area->alias == alias) {
        area_number = n;
        break;
      }
    }
    if (area_number == 0) return kTokUnmatched;
  }
  if (area_number < 1 || area_number > kWorkAreaCount) return kTokUnmatched;
  const WorkArea* area = WorkAreas[area_number].get();
  if (area == nullptr) return kTokUnmatched;
  int number = 0;
  for (std::size_t i = 0; i < area->fields.size(); ++i) {
    if (area->fields[i].name == field_name) {
      number = static_cast<int>(i) + 1;
      break;
    }
  }
  if (number == 0) return kTokUnmatched;
  const FieldEntry& field = area->fields[static_cast<std::size_t>(number - 1)];
  Parser.LastFieldNumber = number;
  Parser.LastFieldArea = area_number;
  Parser.ResultWidth = field.length;
  const int offset = qualified ? kTokQualifiedOffset : 0;
  switch (field.type) {
    case 'C':
      AddPool(field.length + 1u);
      return kTokCharField + offset;
    case 'D':
      return kTokCharField + 3 + offset;
    case 'L':
      return kTokCharField + 2 + offset;
    case 'M':
      return kTokCharField + 4 + offset;
    case 'N':
    case 'F':
      Parser.ResultDecimals =
          Parser.ResultDecimals == kNoDecimalsYet ? field.decimals : DefaultDecimals;
      return kTokCharField + 1 + offset;
    default:
      return kTokUnmatched;
  }
}

int LookupKeyword(const std::string& name) {
  for (const Keyword& entry : KeywordTable) {
    if (entry.code == kTokUnmatched || name == entry.name) {
      AddPool(entry.pool);
      return entry.code;
    }
  }
  return kTokUnmatched;
}

}  // namespace qd::expr
