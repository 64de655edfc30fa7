// The sequential search: option words, the record scan over stored field
// text, Continue, typed single-field and multi-field searches, and memo text
// search through the memo hooks (see search.h).
#include "table/search.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "platform/platform.h"
#include "platform/text_files.h"
#include "table/table_text.h"
#include "table/work_areas.h"

namespace qd {

namespace {

using table_text::TrimBlanks;
using table_text::TrimRight;
using table_text::Upper;

constexpr std::size_t kMaxSearchText = 255;
// Records are read from the file in blocks that start at about the first
// size and double up to the second, so that a match close to the start (as
// in each Continue past a hidden record) reads little, and a long scan few
// times.
constexpr std::size_t kFirstScanBlockBytes = 4 * 1024;
constexpr std::size_t kScanBlockBytes = 256 * 1024;

bool WordCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '\\' || c == '_';
}

// Removes every occurrence of `word` (which starts with a blank) that is not
// followed by a letter, digit, backslash or underscore; true if any was.
bool RemoveOptionWord(std::string& text, std::string_view word) {
  bool removed = false;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(word, from);
    if (at == std::string::npos) return removed;
    const std::size_t after = at + word.size();
    if (after < text.size() && WordCharacter(text[after])) {
      from = at + 1;
      continue;
    }
    text.erase(at, word.size());
    removed = true;
    from = at;
  }
}

void UpperAnsi(std::string& text) {
  platform::AnsiUpper(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
}

// Whether a field text matches the prepared search text under the current
// switches; the compared part of `text` is upper-cased in place when case is
// ignored.
bool FieldMatches(std::uint8_t* text, std::size_t length, std::string_view search) {
  if (!SearchExact && !SearchContained && length > search.size()) length = search.size();
  if (!SearchCaseSensitive) platform::AnsiUpper(text, length);
  const std::string_view field(reinterpret_cast<const char*>(text), length);
  if (SearchContained) return field.find(search) != std::string_view::npos;
  return field == search;
}

// Leaves the work area at end of file after a search that found nothing.
void EndFailedSearch(WorkArea& area) {
  GoBottom();
  // A table whose records are all hidden is already at end of file here;
  // another Skip would report "past EOF" for a search that merely failed.
  if (area.record_count > 0 && !area.at_end) Skip(1);
  SearchField = 0;
}

std::string FormatNumber(double value, int width, int decimals) {
  if (!std::isfinite(value)) return std::string(static_cast<std::size_t>(width) + 1, '*');
  if (value == 0) value = 0;  // no "-0"
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return std::string(static_cast<std::size_t>(width) + 1, '*');
  std::string text(buffer, result.ptr);
  if (text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) text.erase(0, 1);
  if (text.size() < static_cast<std::size_t>(width)) {
    text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  }
  // A number wider than the field is left wider, so that it matches no
  // record: the asterisks of an overflowed field do not stand for it.
  return text;
}

double TextAsNumber(const std::string& text, bool& valid) {
  const std::string trimmed = TrimBlanks(text);
  double value = 0;
  const auto result =
      std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
  valid = !trimmed.empty() && result.ec == std::errc() &&
          result.ptr == trimmed.data() + trimmed.size();
  return value;
}

std::string NumberAsText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool TextAsBoolean(const std::string& text) {
  const std::string t = Upper(TrimBlanks(text));
  return t == "T" || t == "Y" || t == "TRUE" || t == "YES";
}

// The stored form of `value` for a field of the given type, as it must
// appear in the record.
std::string StoredForm(const FieldEntry& field, const SearchValue& value, bool exact) {
  using Kind = SearchValue::Kind;
  // Longer than the field: such a search text matches no record.
  const std::string no_match(static_cast<std::size_t>(field.length) + 1, '\xFF');
  switch (field.type) {
    case 'D':
      switch (value.kind) {
        case Kind::Date:
        case Kind::Number: return JulianToDtos(value.number);
        case Kind::Text: return DateToDtos(value.text);
        case Kind::Null: return std::string(8, ' ');
        case Kind::Boolean: return no_match;
      }
      return no_match;
    case 'N':
    case 'F': {
      double number = value.number;
      if (value.kind == Kind::Boolean) number = value.boolean ? 1 : 0;
      if (value.kind == Kind::Null) return std::string(field.length, ' ');
      if (value.kind == Kind::Text) {
        bool valid = false;
        number = TextAsNumber(value.text, valid);
        if (!valid) return no_match;
      }
      return FormatNumber(number, field.length, field.decimals);
    }
    case 'L': {
      bool truth = value.boolean;
      if (value.kind == Kind::Text) truth = TextAsBoolean(value.text);
      if (value.kind == Kind::Number || value.kind == Kind::Date) truth = value.number != 0;
      if (value.kind == Kind::Null) truth = false;
      return truth ? "T" : "F";
    }
    default: {  // C, M
      std::string text;
      switch (value.kind) {
        case Kind::Text: text = value.text; break;
        case Kind::Number: text = NumberAsText(value.number); break;
        case Kind::Boolean: text = value.boolean ? "True" : "False"; break;
        case Kind::Date: text = JulianToDate(value.number); break;
        case Kind::Null: break;
      }
      if (text.size() > kMaxSearchText) text.resize(kMaxSearchText);
      if (exact && field.type == 'C' && text.size() < field.length) {
        text.append(field.length - text.size(), ' ');
      }
      return text;
    }
  }
}

}  // namespace

SearchValue SearchValue::OfText(std::string value) {
  SearchValue v;
  v.kind = Kind::Text;
  v.text = std::move(value);
  return v;
}
SearchValue SearchValue::OfNumber(double value) {
  SearchValue v;
  v.kind = Kind::Number;
  v.number = value;
  return v;
}
SearchValue SearchValue::OfBoolean(bool value) {
  SearchValue v;
  v.kind = Kind::Boolean;
  v.boolean = value;
  return v;
}
SearchValue SearchValue::OfDate(double day_number) {
  SearchValue v;
  v.kind = Kind::Date;
  v.number = day_number;
  return v;
}

int FieldSpec(const std::string& field_request) {
  if (RequireTable("Locate/Count/Sum") == nullptr) return 0;
  std::string text = Upper(TrimBlanks(field_request));
  SearchCaseSensitive = !RemoveOptionWord(text, " NOCASE");
  SearchExact = RemoveOptionWord(text, " EXACT");
  SearchContained = RemoveOptionWord(text, " CONTAINED");
  text = TrimBlanks(text);
  if (text.empty()) {
    SetError(220, "No field name specified [Locate/Count/Sum]");
    return 0;
  }
  const int field = FieldNo(text);
  if (field == 0) {
    SetError(220, "Unrecognized field name [Locate/Count/Sum(" + field_request + ")]");
  }
  return field;
}

void LocateFrom(std::int32_t start, int field, bool new_search) {
  WorkArea* area = RequireTable("Locate");
  if (area == nullptr) return;
  // Both ways out move the work area, which clears the error code anyway;
  // clearing it here lets the scan tell a memo read failure apart.
  ErrorCode = 0;
  if (new_search) {
    if (!SearchExact) SearchText = TrimRight(SearchText);
    if (!SearchCaseSensitive) UpperAnsi(SearchText);
    SearchField = field;
  }
  if (SearchText.size() > kMaxSearchText) SearchText.resize(kMaxSearchText);

  // Where the field lies in each record; field 0 is the deletion flag and a
  // field that does not exist reads as empty text.
  std::size_t offset = 0;
  std::size_t length = 1;
  bool memo = false;
  if (field > static_cast<int>(area->fields.size()) || field < 0) {
    length = 0;
  } else if (field >= 1) {
    const FieldEntry& entry = area->fields[static_cast<std::size_t>(field - 1)];
    offset = entry.offset;
    length = entry.length;
    memo = entry.type == 'M';
  }
  const bool oem = area->language == tlOem;

  // The scan reads the file itself: collected appends go there first.
  if (!WritePendingAppends(*area)) return;
  RefreshRecordCount(*area);
  const std::int32_t count = area->record_count;
  const std::size_t record_length = area->record_length;
  const std::size_t most_per_block = std::max<std::size_t>(1, kScanBlockBytes / record_length);
  std::size_t per_block = std::max<std::size_t>(1, kFirstScanBlockBytes / record_length);
  std::vector<std::uint8_t> block;
  std::uint8_t text[256];
  const std::string search = SearchText;

  for (std::int32_t first = std::max<std::int32_t>(start, 1); first <= count;) {
    const std::size_t wanted =
        std::min<std::size_t>(per_block, static_cast<std::size_t>(count - first) + 1);
    per_block = std::min(per_block * 2, most_per_block);
    block.resize(wanted * record_length);
    std::size_t done = 0;
    const std::uint64_t position = static_cast<std::uint64_t>(area->header_length) +
                                   static_cast<std::uint64_t>(first - 1) * record_length;
    if (platform::ReadAt(area->file, position, block.data(), wanted * record_length, done) != 0) {
      done = 0;
    }
    for (std::size_t i = 0; i < wanted; ++i) {
      // A record the file no longer holds in full gives the bytes it has.
      const std::size_t begin = i * record_length + offset;
      std::size_t have = 0;
      if (begin < done) have = std::min(length, done - begin);
      if (have > 0) std::memcpy(text, block.data() + begin, have);
      if (oem) platform::OemToAnsi(text, have);
      bool matched;
      if (memo) {
        matched = MemoContains(search, std::string(reinterpret_cast<char*>(text), have));
        if (ErrorCode != 0) {
          // The memo text cannot be read (no memo unit, or a failed read):
          // the search stops where it stands with the error reported.
          SearchField = 0;
          return;
        }
      } else {
        matched = FieldMatches(text, have, search);
      }
      if (matched) {
        Go(first + static_cast<std::int32_t>(i));
        return;
      }
    }
    first += static_cast<std::int32_t>(wanted);
  }
  EndFailedSearch(*area);
}

void Continue() {
  WorkArea* area = RequireTable("Continue");
  if (area == nullptr) return;
  if (SearchField == 0) {
    SetError(220, "Call to CONTINUE not preceeded by call to LOCATE. [Continue]");
    return;
  }
  LocateFrom(area->record_number + 1, SearchField, false);
}

bool LocateValue(const std::string& field_request, const SearchValue& value,
                 bool case_insensitive, std::int32_t start, bool exact) {
  WorkArea* area = RequireTable("Locate");
  if (area == nullptr) return false;
  std::string request = TrimBlanks(field_request);
  const std::size_t blank = request.find(' ');
  if (blank != std::string::npos) request.resize(blank);
  if (case_insensitive) request += " NOCASE";
  if (exact) request += " EXACT";
  const int field = FieldSpec(request);
  if (field == 0) return false;

  SearchText = StoredForm(area->fields[static_cast<std::size_t>(field - 1)], value, exact);
  LocateFrom(start, field, true);
  while (!area->at_end && !RecordVisible(*area) && ErrorCode == 0) Continue();
  return !area->at_end && ErrorCode == 0;
}

bool LocateFields(const std::string& field_list, const std::vector<SearchValue>& values,
                  bool case_insensitive, bool exact, bool move_to_found) {
  WorkArea* area = RequireTable("Locate");
  if (area == nullptr) return false;
  const std::int32_t remembered = area->record_number;

  std::vector<std::string> names;
  for (std::size_t from = 0;;) {
    const std::size_t semicolon = field_list.find(';', from);
    names.push_back(field_list.substr(from, semicolon - from));
    if (semicolon == std::string::npos) break;
    from = semicolon + 1;
  }

  bool found = false;
  if (names.size() > values.size()) {
    found = false;  // a field without a value cannot match
  } else if (names.size() == 1) {
    found = LocateValue(field_list, values[0], case_insensitive, 1, exact);
  } else {
    // Each field is searched from the record where the previous ones
    // matched; when a later field first matches further on, the earlier
    // fields must match again at that record.
    std::size_t i = 0;
    std::int32_t from = 1;
    for (;;) {
      found = LocateValue(names[i], values[i], case_insensitive, from, exact);
      if (!found) break;
      ++i;
      const std::int32_t at = area->record_number;
      if (i >= 2) {
        if (at != from) {
          i = 0;
        } else if (i == names.size()) {
          break;
        }
      }
      from = at;
    }
  }

  if ((!found || !move_to_found) && remembered >= 1 && remembered <= area->record_count) {
    Go(remembered);
  }
  return found;
}

bool MemoContains(const std::string& text, const std::string& field_text) {
  // dBASE III values written with a block header are named by the negated
  // block: the value is the same.
  const long number = std::strtol(field_text.c_str(), nullptr, 10);
  if (number == 0 || number < -2147483647L || number > 2147483647L) return false;
  if (MemoHooks.AssignMemo == nullptr) {
    SetError(220, kMemoUnitMissing);
    return false;
  }
  std::int32_t block = static_cast<std::int32_t>(number);
  platform::TextFile memo;
  if (!MemoHooks.AssignMemo(memo, &block)) return false;
  bool found = false;
  if (platform::TextReset(memo) == 0) {
    std::string line;
    while (!found && !platform::TextEof(memo)) {
      if (platform::TextReadLine(memo, line) != 0) break;
      if (!SearchCaseSensitive) UpperAnsi(line);
      found = line.find(text) != std::string::npos;
    }
    platform::TextClose(memo);
  }
  return found;
}

}  // namespace qd
