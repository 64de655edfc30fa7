// Date helpers shared by the dataset's source files: a date-time number
// written as engine date text, and the stored form read as a date-time.
#pragma once

#include <string>

#include "foundation/dates.h"
#include "framework/sysutils.h"

namespace qd::dataset_dates {

// The date of a date-time number in the order and with the separator of the
// engine's date format, always with a four-digit year (so the text names
// the date whatever the century setting); empty outside years 1 to 9999.
inline std::string EngineDateText(fw::TDateTime value) {
  // 1 January of year 1 and the day after 31 December 9999.
  if (!(value >= -693593.0 && value < 2958466.0)) return "";
  fw::TDateTime probe = 0;
  int year = 0, month = 0, day = 0;
  fw::DecodeDate(value, year, month, day);
  if (!fw::TryEncodeDate(year, month, day, probe)) return "";
  auto two = [](int n) {
    std::string s(2, '0');
    s[0] = static_cast<char>('0' + n / 10);
    s[1] = static_cast<char>('0' + n % 10);
    return s;
  };
  std::string y = std::to_string(year);
  if (y.size() < 4) y.insert(0, 4 - y.size(), '0');
  switch (DateFormat > 8 ? 0 : DateFormat) {
    case 0: return two(month) + "/" + two(day) + "/" + y;
    case 1: return y + "." + two(month) + "." + two(day);
    case 2: return two(day) + "/" + two(month) + "/" + y;
    case 3: return two(day) + "-" + two(month) + "-" + y;
    default: return two(day) + "." + two(month) + "." + y;
  }
}

// "YYYYMMDD" to a date-time number; false for blanks or an impossible date.
inline bool StoredToDateTime(const std::string& stored, fw::TDateTime& out) {
  if (stored.size() != 8) return false;
  int parts[3] = {0, 0, 0};
  const int widths[3] = {4, 2, 2};
  std::size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < widths[i]; ++k, ++at) {
      const char c = stored[at];
      if (c < '0' || c > '9') return false;
      parts[i] = parts[i] * 10 + (c - '0');
    }
  }
  return fw::TryEncodeDate(parts[0], parts[1], parts[2], out);
}

}  // namespace qd::dataset_dates
