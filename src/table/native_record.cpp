// Raw record <-> native record. The native record starts with the deletion
// byte (1 deleted, 0 active) and holds one slot per field: C a length-prefixed
// text, D a length-prefixed display date, L one byte, M a 32-bit block number,
// N/F a 32-bit integer (no decimals, up to 9 digits), a 64-bit integer (no
// decimals, 10 to 18 digits), a 64-bit float (with decimals, at most 20 wide)
// or, for the numbers none of these holds exactly (19 digits or more without
// decimals, anything wider than 20), the stored text itself.
#include "table/native_record.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "foundation/dates.h"

namespace qd {

namespace {

// Blanks around a number; some writers pad numeric fields with zero bytes.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\0'; }

std::string_view TrimmedField(const char* p, std::size_t n) {
  std::size_t b = 0, e = n;
  while (b < e && IsBlank(p[b])) ++b;
  while (e > b && IsBlank(p[e - 1])) --e;
  return std::string_view(p + b, e - b);
}

// A dBASE number text: an optional sign, digits and at most one decimal
// point, with at least one digit (blanks around it already trimmed). Nothing
// else is a number: no exponent, no "nan" or "inf", no separators.
bool IsNumberText(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  bool digit = false, point = false;
  for (; i < t.size(); ++i) {
    if (t[i] >= '0' && t[i] <= '9') digit = true;
    else if (t[i] == '.' && !point) point = true;
    else return false;
  }
  return digit;
}

// The whole part of a field's number (fractions are cut off), 0 for text
// that is no number. Fields read this way hold at most 18 digits, which
// always fit. One pass: the text is checked while it is read.
std::int64_t ReadInteger(const char* p, std::size_t n) {
  const std::string_view t = TrimmedField(p, n);
  std::size_t i = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) ++i;
  std::uint64_t v = 0;
  bool digit = false;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    v = v * 10 + static_cast<std::uint64_t>(t[i] - '0');
    digit = true;
  }
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) digit = true;
  }
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  // Anything left over, no digit at all, or (only in a corrupt layout) more
  // digits than 64 bits hold: no number.
  if (i != t.size() || !digit || v > kMax) return 0;
  return negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
}

double ReadFloat(const char* p, std::size_t n) {
  std::string_view t = TrimmedField(p, n);
  if (!t.empty() && t[0] == '+') {
    t.remove_prefix(1);
    if (!t.empty() && t[0] == '-') return 0;
  }
  // The fixed format takes exactly sign, digits and one point, except for
  // the words "nan" and "inf", which the first character rules out.
  const std::size_t first = !t.empty() && t[0] == '-' ? 1 : 0;
  if (first >= t.size() || !((t[first] >= '0' && t[first] <= '9') || t[first] == '.')) return 0;
  double v = 0;
  const auto result = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::fixed);
  if (result.ec != std::errc() || result.ptr != t.data() + t.size()) return 0;
  return v;
}

// The number text `t` (a number text, see IsNumberText) written with
// `decimals` decimals, rounded half away from zero in decimal, without
// leading zeros and without a sign on zero.
std::string FormatNumberText(std::string_view t, int decimals) {
  bool negative = false;
  if (t[0] == '-' || t[0] == '+') {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  const std::size_t point = t.find('.');
  std::string digits(t.substr(0, point));  // whole part, then the decimals kept
  std::string_view fraction = point == std::string_view::npos ? std::string_view() : t.substr(point + 1);
  const std::size_t keep = static_cast<std::size_t>(decimals);
  digits += std::string(fraction.substr(0, keep));
  if (fraction.size() < keep) digits.append(keep - fraction.size(), '0');
  if (fraction.size() > keep && fraction[keep] >= '5') {
    std::size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0) digits.insert(digits.begin(), '1');
    else ++digits[i - 1];
  }
  std::string whole = digits.substr(0, digits.size() - keep);
  const std::string decimal = digits.substr(digits.size() - keep);
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.empty()) whole = "0";
  std::string text = whole;
  if (keep > 0) text += "." + decimal;
  if (negative && text.find_first_not_of("0.") != std::string::npos) text.insert(0, 1, '-');
  return text;
}

std::int32_t ClampTo32(std::int64_t v) {
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

// Writes text right-aligned into a field of `width` bytes; text that does
// not fit fills the field with asterisks.
void PutRightAligned(std::uint8_t* field, std::size_t width, const char* text, std::size_t n) {
  if (n > width) {
    std::memset(field, '*', width);
    return;
  }
  std::memset(field, ' ', width - n);
  std::memcpy(field + (width - n), text, n);
}

void PutInteger(std::uint8_t* field, std::size_t width, std::int64_t v) {
  char buffer[24];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  PutRightAligned(field, width, buffer, static_cast<std::size_t>(r.ptr - buffer));
}

void PutFloat(std::uint8_t* field, std::size_t width, int decimals, double v) {
  if (!std::isfinite(v)) {
    std::memset(field, '*', width);
    return;
  }
  if (v == 0) v = 0;  // no "-0.00"
  char buffer[400];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) {
    std::memset(field, '*', width);
    return;
  }
  std::size_t n = static_cast<std::size_t>(r.ptr - buffer);
  // A rounded negative zero ("-0.00") is stored as zero.
  if (buffer[0] == '-' && std::string_view(buffer + 1, n - 1).find_first_not_of("0.") ==
                              std::string_view::npos) {
    std::memmove(buffer, buffer + 1, n - 1);
    --n;
  }
  PutRightAligned(field, width, buffer, n);
}

bool BlankDateText(const std::string& s) {
  static const char* const kBlanks[] = {"        ",   "          ", "  /  /  ",   "  /  /    ",
                                        "  -  -  ",   "  -  -    ", "  .  .  ",   "  .  .    ",
                                        "    .  .  "};
  if (s.empty()) return true;
  for (const char* b : kBlanks)
    if (s == b) return true;
  return s.find_first_not_of(' ') == std::string::npos;
}

// Writes the stored date (YYYYMMDD, blanks when empty) of a D field in the
// display pattern of the current format; answers the number of characters
// (at most 10).
std::size_t StoredDateDisplay(const char* text, std::size_t length, std::uint8_t* display) {
  char stored[8];
  std::memset(stored, ' ', 8);
  std::memcpy(stored, text, length < 8 ? length : 8);
  const char* y = CenturyOn ? stored : stored + 2;
  const std::size_t yw = CenturyOn ? 4 : 2;
  const char* m = stored + 4;
  const char* d = stored + 6;
  char* out = reinterpret_cast<char*>(display);
  std::size_t n = 0;
  auto put = [&](const char* p, std::size_t w) {
    std::memcpy(out + n, p, w);
    n += w;
  };
  auto sep = [&](char c) { out[n++] = c; };
  switch (DateFormat) {
    case 0: put(m, 2); sep('/'); put(d, 2); sep('/'); put(y, yw); break;
    case 1: put(y, yw); sep('.'); put(m, 2); sep('.'); put(d, 2); break;
    case 2: put(d, 2); sep('/'); put(m, 2); sep('/'); put(y, yw); break;
    case 3: put(d, 2); sep('-'); put(m, 2); sep('-'); put(y, yw); break;
    default: put(d, 2); sep('.'); put(m, 2); sep('.'); put(y, yw); break;
  }
  return n;
}

void FieldToNative(const FieldEntry& f, const std::uint8_t* raw, std::uint8_t* slot) {
  const char* text = reinterpret_cast<const char*>(raw + f.offset);
  switch (f.slot) {
    case NativeSlot::Text:
      slot[0] = f.length;
      std::memcpy(slot + 1, text, f.length);
      break;
    case NativeSlot::Date:
      slot[0] = static_cast<std::uint8_t>(StoredDateDisplay(text, f.length, slot + 1));
      break;
    case NativeSlot::Logical: {
      const char c = f.length > 0 ? text[0] : ' ';  // a zero-length field reads false
      slot[0] = (c == 'T' || c == 't' || c == 'Y' || c == 'y') ? 1 : 0;
      break;
    }
    case NativeSlot::Memo:
    case NativeSlot::Int32: {
      const std::int32_t v = ClampTo32(ReadInteger(text, f.length));
      std::memcpy(slot, &v, 4);
      break;
    }
    case NativeSlot::Int64: {
      const std::int64_t v = ReadInteger(text, f.length);
      std::memcpy(slot, &v, 8);
      break;
    }
    case NativeSlot::Double: {
      const double v = ReadFloat(text, f.length);
      std::memcpy(slot, &v, 8);
      break;
    }
    case NativeSlot::NumberText:
      slot[0] = f.length;
      std::memcpy(slot + 1, text, f.length);
      break;
  }
}

// Whether a stored text is kept although the slot's value could be written
// in its place. Every field keeps its text while the slot still reads as it
// (numbers, logicals, memo references) or still shows it (dates): values a
// slot cannot carry exactly survive a rewrite, and so do blanks, "?",
// asterisks and other texts that only read as 0 or false. A new record keeps
// only number texts with digits: what it holds besides comes from its slots,
// so an explicit 0 or false is stored as such.
bool KeepsStoredText(const char* text, std::size_t n, StoredTexts keep) {
  if (keep == StoredTexts::KeepAll) return true;
  bool digit = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (text[i] == '*') return false;
    if (text[i] >= '0' && text[i] <= '9') digit = true;
  }
  return digit;
}

void NativeToField(const FieldEntry& f, const std::uint8_t* slot, std::uint8_t* raw,
                   StoredTexts keep) {
  std::uint8_t* field = raw + f.offset;
  const char* text = reinterpret_cast<const char*>(field);
  switch (f.slot) {
    case NativeSlot::Text: {
      std::size_t n = slot[0] < f.length ? slot[0] : f.length;
      std::memcpy(field, slot + 1, n);
      std::memset(field + n, ' ', f.length - n);
      break;
    }
    case NativeSlot::Date: {
      std::size_t n = slot[0] < 10 ? slot[0] : 10;
      // A text that still shows the stored date keeps it: without the
      // century a rewrite would move the date into the two-digit-year
      // window (18991231 shown as 12/31/99 would come back as 19991231).
      std::uint8_t shown[10];
      if (StoredDateDisplay(text, f.length, shown) == n && std::memcmp(shown, slot + 1, n) == 0)
        break;
      std::string display(reinterpret_cast<const char*>(slot + 1), n);
      // Every text is checked and normalised; an impossible one stores the
      // empty date.
      std::string stored = BlankDateText(display) ? std::string(8, ' ') : DateToDtos(display);
      if (stored.size() != 8) stored = std::string(8, ' ');
      std::size_t w = f.length;
      std::memset(field, ' ', w);
      std::memcpy(field, stored.data(), w < 8 ? w : 8);
      break;
    }
    case NativeSlot::Logical: {
      const char c = text[0];
      const bool stored = c == 'T' || c == 't' || c == 'Y' || c == 'y';
      if (keep == StoredTexts::KeepAll && stored == (slot[0] != 0)) break;
      field[0] = slot[0] ? 'T' : 'F';
      if (f.length > 1) std::memset(field + 1, ' ', f.length - 1u);
      break;
    }
    case NativeSlot::Memo: {
      // A memo field without a value is blank, as dBASE keeps it (other
      // programs take "0" for a block number and fail on it).
      std::int32_t v;
      std::memcpy(&v, slot, 4);
      if ((keep == StoredTexts::KeepAll || std::memchr(text, '*', f.length) == nullptr) &&
          ClampTo32(ReadInteger(text, f.length)) == v)
        break;
      if (v == 0) {
        std::memset(field, ' ', f.length);
        break;
      }
      PutInteger(field, f.length, v);
      break;
    }
    case NativeSlot::Int32: {
      std::int32_t v;
      std::memcpy(&v, slot, 4);
      if (KeepsStoredText(text, f.length, keep) && ClampTo32(ReadInteger(text, f.length)) == v)
        break;
      PutInteger(field, f.length, v);
      break;
    }
    case NativeSlot::Int64: {
      std::int64_t v;
      std::memcpy(&v, slot, 8);
      if (KeepsStoredText(text, f.length, keep) && ReadInteger(text, f.length) == v) break;
      PutInteger(field, f.length, v);
      break;
    }
    case NativeSlot::Double: {
      double v;
      std::memcpy(&v, slot, 8);
      if (KeepsStoredText(text, f.length, keep) && ReadFloat(text, f.length) == v) break;
      PutFloat(field, f.length, f.decimals, v);
      break;
    }
    case NativeSlot::NumberText: {
      // The slot holds text: unchanged (blanks aside) it is the stored
      // text; otherwise it must be a number, written in the field's form.
      const std::size_t n = slot[0] < f.length ? slot[0] : f.length;
      const std::string_view given = TrimmedField(reinterpret_cast<const char*>(slot + 1), n);
      if (given == TrimmedField(text, f.length)) break;
      if (given.empty()) {
        std::memset(field, ' ', f.length);
        break;
      }
      if (!IsNumberText(given)) {
        std::memset(field, '*', f.length);
        break;
      }
      const std::string number = FormatNumberText(given, f.decimals);
      PutRightAligned(field, f.length, number.data(), number.size());
      break;
    }
  }
}

}  // namespace

std::uint32_t ComputeNativeLayout(WorkArea& area) {
  std::uint32_t offset = 1;
  for (FieldEntry& f : area.fields) {
    std::uint32_t size = 0;
    switch (f.type) {
      case 'C': f.slot = NativeSlot::Text; size = 1u + f.length; break;
      case 'D': f.slot = NativeSlot::Date; size = 11; break;
      case 'L': f.slot = NativeSlot::Logical; size = 1; break;
      case 'M': f.slot = NativeSlot::Memo; size = 4; break;
      default:  // N, F
        if (f.length > 20 || (f.decimals == 0 && f.length >= 19)) {
          f.slot = NativeSlot::NumberText;
          size = 1u + f.length;
        } else if (f.decimals > 0) {
          f.slot = NativeSlot::Double;
          size = 8;
        } else if (f.length >= 10) {
          f.slot = NativeSlot::Int64;
          size = 8;
        } else {
          f.slot = NativeSlot::Int32;
          size = 4;
        }
        break;
    }
    f.native_offset = static_cast<std::uint16_t>(offset);
    f.native_size = static_cast<std::uint16_t>(size);
    offset += size;
  }
  return offset;
}

void ConvertRecordToNative(WorkArea& area) {
  if (area.native == nullptr || area.record.empty()) return;
  const std::uint8_t* raw = area.record.data();
  std::uint8_t* native = area.native;
  native[0] = raw[dbf::record::kDeletionFlag] == dbf::record::kDeleted ? 1 : 0;
  for (const FieldEntry& f : area.fields) FieldToNative(f, raw, native + f.native_offset);
}

void ConvertNativeToRecord(WorkArea& area, StoredTexts keep) {
  if (area.native == nullptr || area.record.empty()) return;
  std::uint8_t* raw = area.record.data();
  const std::uint8_t* native = area.native;
  namespace rec = dbf::record;
  std::uint8_t& flag = raw[rec::kDeletionFlag];
  if ((flag == rec::kDeleted) != (native[0] != 0)) flag = native[0] ? rec::kDeleted : rec::kActive;
  for (const FieldEntry& f : area.fields) {
    if (f.length == 0) continue;
    NativeToField(f, native + f.native_offset, raw, keep);
  }
}

void ClearAreaRecord(WorkArea& area) {
  if (area.record.empty()) return;
  std::memset(area.record.data(), ' ', area.record.size());
  ConvertRecordToNative(area);
}

}  // namespace qd
