// Expression normalisation, the numeric and date key encodings, the key
// comparisons and the key and item length rules (see keys.h).
#include "indexes/keys.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace qd {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Characters the lexer reads into one name or number when they touch.
bool JoinsWithNeighbour(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.';
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void NormaliseExpression(std::string& text, bool keep_blanks) {
  std::string out;
  out.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      const std::size_t close = text.find(c, i + 1);
      const std::size_t end = close == std::string::npos ? n : close;
      const std::string_view body(text.data() + i + 1, end - i - 1);
      char delimiter = c;
      // A literal written in single quotes around a double quote cannot be
      // delimited by double quotes: it keeps its own.
      if (!keep_blanks && !(c == '\'' && body.find('"') != std::string_view::npos)) delimiter = '"';
      out += delimiter;
      out += body;
      if (close != std::string::npos) out += delimiter;
      i = close == std::string::npos ? n : close + 1;
      continue;
    }
    if (IsBlank(c)) {
      std::size_t next = i;
      while (next < n && IsBlank(text[next])) ++next;
      const char following = next < n ? text[next] : '\0';
      if (keep_blanks) {
        if (following != '\0' && following != '"' && following != '\'' && following != '=') out += ' ';
      } else if (!out.empty() && JoinsWithNeighbour(out.back()) && JoinsWithNeighbour(following)) {
        // Dropping it would join the neighbours into one name: A .AND. B
        // must not become A.AND.B.
        out += ' ';
      }
      i = next;
      continue;
    }
    out += Upper(c);
    ++i;
  }
  text = std::move(out);
}

void EncodeNumericText(std::string_view s, int decimals, std::uint8_t* key) {
  std::memset(key, 0, kNumericKeyLength);
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n && s[i] == ' ') ++i;
  if (i < n && s[i] == '+') {
    ++i;
  } else if (i < n && s[i] == '-') {
    key[1] |= 0x80;
    ++i;
  }
  while (i < n && (s[i] == '0' || s[i] == ' ')) ++i;
  int exponent = 52;
  bool point = false;
  if (i < n && s[i] == '.') {
    point = true;
    ++i;
    int zeros = 0;
    while (i < n && s[i] == '0') {
      ++zeros;
      ++i;
    }
    if (i < n && s[i] >= '1' && s[i] <= '9') exponent -= zeros;
  }
  int stored = 0;
  int trailing_zeros = 0;
  for (; i < n; ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      // Every integer digit counts for the exponent, also those beyond the
      // 20 stored, so that keys of 10^20 and more keep the order of values.
      if (!point) ++exponent;
      if (stored < kNumericKeyDigits) {
        const int digit = c - '0';
        key[2 + stored / 2] |= static_cast<std::uint8_t>(stored % 2 == 0 ? digit << 4 : digit);
        ++stored;
        trailing_zeros = digit == 0 ? trailing_zeros + 1 : 0;
      } else if (point) {
        break;  // further decimals change nothing
      }
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  key[1] |= 1;
  int minimum = 10;
  if (point && decimals > trailing_zeros) {
    minimum = 0;
    trailing_zeros = 0;
  }
  int count = stored - trailing_zeros;
  if (count != 0 && count < minimum) count = minimum;
  count = std::min(count, kNumericKeyDigits);
  if (count != 0) {
    key[1] |= static_cast<std::uint8_t>(count << 2);
  } else {
    key[1] &= 0x7F;
  }
  key[0] = static_cast<std::uint8_t>(std::clamp(exponent, 1, 255));
}

void EncodeNumericKey(double value, int decimals, std::uint8_t* key) {
  decimals = std::clamp(decimals, 0, 30);
  // 309 integer digits, sign, point, decimals.
  char buffer[360];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  const std::size_t length = result.ec == std::errc() ? static_cast<std::size_t>(result.ptr - buffer) : 0;
  EncodeNumericText(std::string_view(buffer, length), decimals, key);
}

void EncodeDateKey(double day_number, std::uint8_t* key) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(day_number);
  for (int i = 0; i < kDateKeyLength; ++i) key[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

double DecodeDateKey(const std::uint8_t* key) {
  std::uint64_t bits = 0;
  for (int i = kDateKeyLength - 1; i >= 0; --i) bits = (bits << 8) | key[i];
  return std::bit_cast<double>(bits);
}

int CompareCharacterKeys(const std::uint8_t* a, const std::uint8_t* b, int length) {
  for (int i = 0; i < length; ++i) {
    if (a[i] != b[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
  }
  return 0;
}

int CompareNumericKeys(const std::uint8_t* a, const std::uint8_t* b, int /*length*/) {
  const bool negative_a = (a[1] & 0x80) != 0;
  const bool negative_b = (b[1] & 0x80) != 0;
  if (negative_a != negative_b) return negative_a ? -1 : 1;
  const int sign = negative_a ? -1 : 1;
  const int count_a = (a[1] >> 2) & 0x1F;
  const int count_b = (b[1] >> 2) & 0x1F;
  const int exponent_a = count_a != 0 ? a[0] : 0;
  const int exponent_b = count_b != 0 ? b[0] : 0;
  if (exponent_a != exponent_b) return exponent_a > exponent_b ? sign : -sign;
  // A count read from a damaged file may exceed 20: never beyond the key.
  const int bytes = std::min((std::max(count_a, count_b) + 1) / 2, (kNumericKeyLength - 2));
  const std::uint8_t* x = negative_a ? b : a;
  const std::uint8_t* y = negative_a ? a : b;
  for (int i = 2; i < 2 + bytes; ++i) {
    if (x[i] != y[i]) return static_cast<int>(x[i]) - static_cast<int>(y[i]);
  }
  return 0;
}

int CompareDateKeys(const std::uint8_t* a, const std::uint8_t* b, int /*length*/) {
  const double x = DecodeDateKey(a);
  const double y = DecodeDateKey(b);
  if (x > y) return 1;
  if (x < y) return -1;
  return 0;
}

int CompareCharacterKeysDescending(const std::uint8_t* a, const std::uint8_t* b, int length) {
  return CompareCharacterKeys(b, a, length);
}
int CompareNumericKeysDescending(const std::uint8_t* a, const std::uint8_t* b, int length) {
  return CompareNumericKeys(b, a, length);
}
int CompareDateKeysDescending(const std::uint8_t* a, const std::uint8_t* b, int length) {
  return CompareDateKeys(b, a, length);
}

KeyCompare ChooseComparison(char key_type, bool descending) {
  switch (key_type) {
    case 'C':
      return descending ? CompareCharacterKeysDescending : CompareCharacterKeys;
    case 'N':
    case 'F':
      return descending ? CompareNumericKeysDescending : CompareNumericKeys;
    case 'D':
      return descending ? CompareDateKeysDescending : CompareDateKeys;
    default:
      return nullptr;
  }
}

int ItemLength(int key_length) { return (key_length + 4 + 3) / 4 * 4; }
int NodeCapacity(int item_length) {
  return item_length > 0 ? static_cast<int>(mdx::node::kEntrySpace) / item_length : 0;
}
int SecondaryKeyType(char key_type) { return key_type == 'D' ? 1 : 0; }

}  // namespace qd
