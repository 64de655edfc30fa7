// The expression function library: each function pops its arguments from the
// value stack (the last one first) and pushes one result. Text functions that
// only shorten or case-convert their argument work in place on the top of the
// stack; the others build their result in a 256-byte scratch buffer.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "expressions/expr_internal.h"
#include "foundation/dates.h"
#include "platform/platform.h"
#include "table/work_areas.h"

namespace qd::expr {

namespace {

char Scratch[kMaxText + 1];

constexpr const char* kSoundexDigits = "01230120022455012623010202";
constexpr int SoundexLength = 4;
constexpr std::size_t kSoundexInput = 100;

// Truncated toward zero and saturated to 64 bits; NaN counts as 0.
std::int64_t WholeNumber(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2e18) return INT64_MAX;
  if (value <= -9.2e18) return INT64_MIN;
  return static_cast<std::int64_t>(value);
}

void PushString(const std::string& text) { PushText(text.data(), text.size()); }

bool IsAsciiLetter(unsigned char c) { return c >= 'A' && c <= 'Z'; }
unsigned char AsciiUpper(unsigned char c) {
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

double Round(double x, int decimals) {
  if (!std::isfinite(x)) return x;
  const double whole = std::trunc(x);
  if (decimals <= 0) return whole;
  double fraction = x - whole;
  // Scaling stops once no fraction is left: further factors of ten would
  // change nothing but could overflow to infinity.
  int scaled = 0;
  while (scaled < decimals && fraction != std::trunc(fraction)) {
    fraction *= 10;
    ++scaled;
  }
  fraction = std::trunc(fraction);
  for (int i = 0; i < scaled; ++i) fraction /= 10;
  return fraction + whole;
}

// Rounds a plain decimal text (digits with at most one point, no sign) half
// away from zero to `decimals` places and writes it to `out`, which holds
// at least the text's length plus `decimals` plus 3 bytes. Returns the
// length written. Works in fixed buffers: STR runs on every evaluation and
// must not allocate.
std::size_t RoundDecimalText(const char* digits, std::size_t length, int decimals, char* out) {
  const char* point = static_cast<const char*>(std::memchr(digits, '.', length));
  const std::size_t whole_length =
      point == nullptr ? length : static_cast<std::size_t>(point - digits);
  const char* fraction = point == nullptr ? digits + length : point + 1;
  const std::size_t fraction_length = static_cast<std::size_t>(digits + length - fraction);
  const std::size_t places = static_cast<std::size_t>(decimals);
  // out[0] stays free for a carry out of the leading digit.
  char* all = out + 1;
  std::memcpy(all, digits, whole_length);
  std::size_t n = whole_length;
  for (std::size_t i = 0; i < places; ++i) all[n++] = i < fraction_length ? fraction[i] : '0';
  bool carry = fraction_length > places && fraction[places] >= '5';
  for (std::size_t i = n; carry && i > 0; --i) {
    if (all[i - 1] == '9') {
      all[i - 1] = '0';
    } else {
      ++all[i - 1];
      carry = false;
    }
  }
  char* first = all;
  std::size_t whole = whole_length;
  if (carry) {
    *--first = '1';
    ++whole;
  }
  // Assembled in place: the whole digits stay, the point goes between.
  std::size_t result = 0;
  if (whole == 0) {
    out[result++] = '0';
  } else {
    std::memmove(out, first, whole);
    result = whole;
  }
  if (places > 0) {
    std::memmove(out + result + 1, first + whole, places);
    out[result] = '.';
    result += places + 1;
  }
  return result;
}

// STR: the number in fixed-point notation with `decimals` places, rounded,
// right-aligned in `width` characters; asterisks when it does not fit.
void PushStr(double x, int width, int decimals) {
  if (width <= 0) {
    PushText("", 0);
    return;
  }
  width = std::min(width, static_cast<int>(kMaxText));
  decimals = std::clamp(decimals, 0, static_cast<int>(kMaxText));
  // The longest fixed text of a double has 326 characters.
  char digits[400];
  char text[sizeof digits + kMaxText + 4];
  std::size_t length = 0;
  if (std::isfinite(x)) {
    // The shortest text that reads back as x, then decimal rounding, so that
    // 2.5 gives 3 and 2.675 gives 2.68 as written.
    const auto converted =
        std::to_chars(digits, digits + sizeof digits, std::fabs(x), std::chars_format::fixed);
    if (converted.ec == std::errc()) {
      length = RoundDecimalText(digits, static_cast<std::size_t>(converted.ptr - digits),
                                decimals, text + 1);
      bool zero = true;
      for (std::size_t i = 1; i <= length; ++i) {
        if (text[i] != '0' && text[i] != '.') zero = false;
      }
      if (x < 0 && !zero) {
        text[0] = '-';
        ++length;
      } else {
        std::memmove(text, text + 1, length);
      }
    }
  }
  if (length == 0 || length > static_cast<std::size_t>(width)) {
    std::memset(Scratch, '*', static_cast<std::size_t>(width));
  } else {
    const std::size_t pad = static_cast<std::size_t>(width) - length;
    std::memset(Scratch, ' ', pad);
    std::memcpy(Scratch + pad, text, length);
  }
  PushText(Scratch, static_cast<std::size_t>(width));
}

void PushSoundex(const char* s) {
  char result[SoundexLength] = {'0', '0', '0', '0'};
  const std::size_t length = std::min(std::strlen(s), kSoundexInput);
  if (length > 0) {
    const unsigned char first = AsciiUpper(static_cast<unsigned char>(s[0]));
    result[0] = static_cast<char>(first);
    char last = IsAsciiLetter(first) ? kSoundexDigits[first - 'A'] : '0';
    int filled = 1;
    for (std::size_t i = 1; i < length && filled < SoundexLength; ++i) {
      const unsigned char c = AsciiUpper(static_cast<unsigned char>(s[i]));
      if (!IsAsciiLetter(c)) continue;
      const char digit = kSoundexDigits[c - 'A'];
      if (digit == last) continue;
      if (digit != '0') result[filled++] = digit;
      last = digit;
    }
  }
  PushText(result, SoundexLength);
}

void PushSubstr(const char* s, double start_value, double count_value) {
  const std::size_t length = std::strlen(s);
  int start = CountArgument(start_value);
  const int count = CountArgument(count_value);
  if (start < 1) start = 1;  // the count is not reduced
  if (static_cast<std::size_t>(start) > length || count < 0) {
    PushText("", 0);
    return;
  }
  const std::size_t from = static_cast<std::size_t>(start - 1);
  const std::size_t take = std::min(static_cast<std::size_t>(count), length - from);
  std::memmove(Scratch, s + from, take);
  PushText(Scratch, take);
}

void PushStuff(const char* s, double start_value, double count_value, const char* r) {
  const std::size_t length = std::min(std::strlen(s), kMaxText);
  const std::size_t r_length = std::min(std::strlen(r), kMaxText);
  const int start = CountArgument(start_value);
  const int count = CountArgument(count_value);
  // Delete.
  char kept[kMaxText + 1];
  std::memcpy(kept, s, length);
  std::size_t kept_length = length;
  if (length > 0 && start >= 1 && static_cast<std::size_t>(start) <= length && count > 0) {
    const std::size_t from = static_cast<std::size_t>(start - 1);
    const std::size_t removed = std::min(static_cast<std::size_t>(count), length - from);
    std::memmove(kept + from, kept + from + removed, length - from - removed);
    kept_length -= removed;
  }
  // Insert.
  std::size_t at = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
  if (at > kept_length) at = kept_length;
  std::size_t out = 0;
  auto append = [&](const char* bytes, std::size_t n) {
    const std::size_t take = std::min(n, kMaxText - out);
    std::memcpy(Scratch + out, bytes, take);
    out += take;
  };
  append(kept, at);
  append(r, r_length);
  append(kept + at, kept_length - at);
  PushText(Scratch, out);
}

void PushReplicate(const char* s, double times) {
  const std::size_t length = std::strlen(s);
  const int count = CountArgument(times);
  std::size_t out = 0;
  for (int i = 0; i < count && length > 0 && out < kMaxText; ++i) {
    const std::size_t take = std::min(length, kMaxText - out);
    std::memmove(Scratch + out, s, take);
    out += take;
  }
  PushText(Scratch, out);
}

// In place on the top of the stack.
void KeepLeft(double n_value) {
  char* s = TopText();
  const int n = CountArgument(n_value);
  const std::size_t length = std::strlen(s);
  if (n <= 0) {
    s[0] = '\0';
  } else if (static_cast<std::size_t>(n) < length) {
    s[n] = '\0';
  }
}

void KeepRight(double n_value) {
  char* s = TopText();
  const int m = CountArgument(n_value);
  const std::size_t length = std::strlen(s);
  if (m <= -1 || static_cast<std::size_t>(std::max(m, 0)) >= length) return;
  const std::size_t take = static_cast<std::size_t>(m);
  std::memmove(s, s + length - take, take + 1);
}

void TrimRight() {
  char* s = TopText();
  std::size_t length = std::strlen(s);
  while (length > 0 && s[length - 1] == ' ') --length;
  s[length] = '\0';
}

void TrimLeft() {
  char* s = TopText();
  std::size_t skip = 0;
  while (s[skip] == ' ') ++skip;
  if (skip > 0) std::memmove(s, s + skip, std::strlen(s + skip) + 1);
}

void ChangeCase(bool upper) {
  char* s = TopText();
  const std::size_t length = std::strlen(s);
  if (length == 0) return;
  auto* bytes = reinterpret_cast<std::uint8_t*>(s);
  if (upper) {
    platform::AnsiUpper(bytes, length);
  } else {
    platform::AnsiLower(bytes, length);
  }
}

const WorkArea* CurrentTable() {
  return CurrentArea >= 1 && CurrentArea <= kWorkAreaCount
             ? WorkAreas[static_cast<std::size_t>(CurrentArea)].get()
             : nullptr;
}

int TopType() {
  const ExprRecord& r = *CurrentExpr;
  if (r.value_empty || r.value_current == nullptr) return kTypeNumber;
  return r.value_current->entry.type;
}

}  // namespace

int CountArgument(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT_MAX;
  if (value <= -2147483647.0) return -INT_MAX;
  return static_cast<int>(value);
}

bool RunFunction(int op, int argc) {
  switch (op) {
    case 257:
      PushNumber(std::fabs(PopNumber()));
      return true;
    case 259:
      PushNumber(static_cast<unsigned char>(PopText()[0]));
      return true;
    case 261: {  // AT
      const char* b = PopText();
      const char* a = PopText();
      const char* found = *a == '\0' ? nullptr : std::strstr(b, a);
      PushNumber(found == nullptr ? 0.0 : static_cast<double>(found - b + 1));
      return true;
    }
    case 264:
      PushString(DayName(JulianToDate(PopNumber())));
      return true;
    case 266: {  // CHR
      const char c = static_cast<char>(WholeNumber(PopNumber()) & 0xFF);
      PushText(&c, c == '\0' ? 0 : 1);
      return true;
    }
    case 267:
      PushString(MonthName(JulianToDate(PopNumber())));
      return true;
    case 269: {  // CTOD
      const char* text = PopText();
      PushDate(DateToJulian(std::string_view(text, std::min<std::size_t>(std::strlen(text), 10))));
      return true;
    }
    case 270: {  // DATE
      int year = 0, month = 0, day = 0, day_of_week = 0;
      Today(year, month, day, day_of_week);
      PushDate(JulianDate(year, month, day));
      return true;
    }
    case 271:
      PushNumber(DateDay(JulianToDate(PopNumber())));
      return true;
    case 272: {  // DELETED: false without a table
      const WorkArea* area = CurrentTable();
      PushLogical(area != nullptr && !area->record.empty() && area->record[0] == '*');
      return true;
    }
    case 274:
      PushNumber(DayOfWeek(JulianToDate(PopNumber())));
      return true;
    case 275:
      PushString(JulianToDate(PopNumber()));
      return true;
    case 277:
      PushString(JulianToDtos(PopNumber()));
      return true;
    case 283: {  // IIF: both branches were evaluated
      const char* otherwise = PopText();
      const char* then = PopText();
      const bool condition = PopLogical() != 0;
      const char* chosen = condition ? then : otherwise;
      PushText(chosen, std::strlen(chosen));
      return true;
    }
    case 284:
      PushNumber(std::trunc(PopNumber()));
      return true;
    case 288:
      KeepLeft(PopNumber());
      return true;
    case 289:
      PushNumber(static_cast<double>(std::strlen(PopText())));
      return true;
    case 292:
      ChangeCase(false);
      return true;
    case 293:
      TrimLeft();
      return true;
    case 294:
    case 295: {  // MAX, MIN of two numbers or two dates
      const int type = TopType();
      const double b = PopNumber();
      const double a = PopNumber();
      const double result = op == 294 ? (a > b ? a : b) : (a < b ? a : b);
      if (type == kTypeDate)
        PushDate(result);
      else
        PushNumber(result);
      return true;
    }
    case 296: {  // MOD
      const std::int64_t b = WholeNumber(PopNumber());
      const std::int64_t a = WholeNumber(PopNumber());
      // A divisor of 0 leaves the dividend; -1 always leaves no remainder
      // (and would overflow for the smallest dividend).
      const std::int64_t result = b == 0 ? a : (b == -1 ? 0 : a % b);
      PushNumber(static_cast<double>(result));
      return true;
    }
    case 297:
      PushNumber(DateMonth(JulianToDate(PopNumber())));
      return true;
    case 300: {  // RECNO
      const WorkArea* area = CurrentTable();
      PushNumber(area == nullptr ? 0.0 : area->record_number);
      return true;
    }
    case 301: {
      const double times = PopNumber();
      PushReplicate(PopText(), times);
      return true;
    }
    case 302:
      KeepRight(PopNumber());
      return true;
    case 303: {
      const int decimals = CountArgument(PopNumber());
      PushNumber(Round(PopNumber(), decimals));
      return true;
    }
    case 305:
    case 316:
      TrimRight();
      return true;
    case 308:
      PushSoundex(PopText());
      return true;
    case 310: {  // SPACE
      const int count = std::clamp(CountArgument(PopNumber()), 0, static_cast<int>(kMaxText));
      std::memset(Scratch, ' ', static_cast<std::size_t>(count));
      PushText(Scratch, static_cast<std::size_t>(count));
      return true;
    }
    case 311: {  // STR
      const int decimals = argc >= 3 ? CountArgument(PopNumber()) : 0;
      const int width = argc >= 2 ? CountArgument(PopNumber()) : 10;
      PushStr(PopNumber(), width, decimals);
      return true;
    }
    case 312: {  // STUFF
      const char* r = PopText();
      const double count = PopNumber();
      const double start = PopNumber();
      const char* s = PopText();
      PushStuff(s, start, count, r);
      return true;
    }
    case 313: {  // SUBSTR
      const double count = PopNumber();
      const double start = PopNumber();
      PushSubstr(PopText(), start, count);
      return true;
    }
    case 318:
      ChangeCase(true);
      return true;
    case 319: {
      const char* text = PopText();
      PushNumber(ReadLeadingNumber(text, std::strlen(text)));
      return true;
    }
    case 320:
      PushNumber(DateYear(JulianToDate(PopNumber())));
      return true;
    default:
      return false;
  }
}

}  // namespace qd::expr
