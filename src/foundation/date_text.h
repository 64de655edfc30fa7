// Small text helpers shared by the date unit's source files (not part of the
// unit's interface).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qd::date_text {

// A small fixed buffer for building date texts without allocations; large
// enough for any canonical date built from three parts of four characters.
struct DateBuffer {
  char text[24];
  std::size_t size = 0;
  void Put(char c) { text[size++] = c; }
  void Put(std::string_view part) {
    for (const char c : part) text[size++] = c;
  }
  // A date part padded on the left with '0' to two characters.
  void PutPart(std::string_view part) {
    for (std::size_t i = part.size(); i < 2; ++i) Put('0');
    Put(part);
  }
  // A date part padded to two characters and then widened as a year: with
  // CenturyOn a two-character year gets the window's century in front and a
  // shorter one is padded with '0' to four.
  void PutYear(std::string_view part);
  std::string_view View() const { return std::string_view(text, size); }
};

// The canonical form MM/DD/YY (MM/DD/YYYY with CenturyOn) of a display date
// read in the order of the current format; what NormalizeDate stores.
void CanonicalDate(std::string_view date, DateBuffer& out);

// Cuts a display date at its first NUL and to at most 10 characters.
inline std::string_view CutDisplay(std::string_view text) {
  const auto nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  return text.substr(0, 10);
}

// Drops characters with codes 0 to 32 (blanks and control characters) from
// both ends.
inline std::string_view TrimControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

// Reads a number made only of decimal digits (at most 9 of them). False, and
// 0 in `value`, for anything else, the empty text included.
inline bool ReadNumber(std::string_view text, int& value) {
  value = 0;
  if (text.empty() || text.size() > 9) return false;
  int result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  value = result;
  return true;
}

// The number in `length` characters from zero-based `start`, 0 when those
// characters are missing or not a number.
inline int NumberAt(std::string_view text, std::size_t start, std::size_t length) {
  int value = 0;
  if (start < text.size()) ReadNumber(text.substr(start, length), value);
  return value;
}

// Writes `value` (non-negative) with at least `width` digits, zero-padded.
inline void AppendPadded(std::string& out, int value, int width) {
  char digits[12];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && count < 11);
  for (int i = count; i < width; ++i) out.push_back('0');
  while (count > 0) out.push_back(digits[--count]);
}

}  // namespace qd::date_text
