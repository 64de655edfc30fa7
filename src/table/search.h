// Sequential search by field value without an index: a scan in record-number
// order over the stored field text, with option words for case-insensitive
// (" NOCASE"), whole-field (" EXACT") and substring (" CONTAINED") matching,
// Continue after the last match, and the multi-field search behind the
// dataset components' locate and lookup. Memo fields are searched line by
// line through the memo hooks.
//
// Matching compares the field text as stored (C with its trailing blanks, N
// and F right-aligned, D as eight digits, L as one character, M as the block
// number). By default a record matches when its field starts with the search
// text; with EXACT the whole field must equal it; with CONTAINED it may occur
// anywhere. Field text of OEM tables is compared in the Windows character
// set; case-insensitive matching uses the Windows upper-case mapping.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "table/work_areas.h"

namespace qd {

// Process-wide search state, one for all work areas: Continue in another
// work area continues with that work area's field of the same number.
inline std::string SearchText;
inline int SearchField = 0;  // 0: no search to continue
inline bool SearchCaseSensitive = true;
inline bool SearchExact = false;
inline bool SearchContained = false;

// Removes the option words from the field request, sets the three switches
// from their presence (every call sets all three) and returns the number of
// the named field; 0 after reporting code 220 when the name is empty or not
// a field of the current table.
int FieldSpec(const std::string& field_request);

// Scans records `start` to the record count for field `field` holding the
// search text and goes to the first match. A new search first prepares the
// search text (trailing blanks removed unless exact, upper-cased unless case
// sensitive) and remembers the field for Continue. Without a match the work
// area is left at end of file and Continue is no longer possible.
void LocateFrom(std::int32_t start, int field, bool new_search);
// Resumes the last search at the record after the current one.
void Continue();

// A typed value to search for, as the dataset components hand it over.
struct SearchValue {
  enum class Kind : std::uint8_t { Null, Text, Number, Boolean, Date };
  Kind kind = Kind::Null;
  std::string text;     // Text
  double number = 0;    // Number; the day number for Date
  bool boolean = false; // Boolean

  static SearchValue OfText(std::string value);
  static SearchValue OfNumber(double value);
  static SearchValue OfBoolean(bool value);
  static SearchValue OfDate(double day_number);
};

// Searches from record `start` for the first visible record whose field
// (named by the first word of `field_request`) holds `value` in the field's
// stored form; true when found, the work area is then on it.
bool LocateValue(const std::string& field_request, const SearchValue& value,
                 bool case_insensitive, std::int32_t start, bool exact);
// Finds the first record that matches every field of the ";"-separated list
// with the value of the same position. Unless `move_to_found`, and whenever
// nothing is found, the work area goes back to the record it started on.
bool LocateFields(const std::string& field_list, const std::vector<SearchValue>& values,
                  bool case_insensitive, bool exact, bool move_to_found);

// Whether any line of the memo whose block number `field_text` holds
// contains `text` (lines upper-cased unless the search is case sensitive).
bool MemoContains(const std::string& text, const std::string& field_text);

}  // namespace qd
