// Day numbers: Julian day numbers of the proleptic Gregorian calendar for the
// years 1 to 9999, and their conversions to and from the stored form
// (YYYYMMDD) and the display form.
#include "foundation/dates.h"

#include "foundation/date_text.h"

namespace qd {

using date_text::AppendPadded;
using date_text::NumberAt;

namespace {

// Days before the first of each month in a common year, months 1 to 13.
constexpr int kDaysBeforeMonth[14] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Day number of 31 December of year 0: day count 1 is 1 January of year 1.
constexpr std::int64_t kDayZero = 1721425;

int YearLength(std::int32_t year) { return IsLeapYear(year) ? 366 : 365; }

// The day count (1 = 1 January of year 1) of a day number in the range of
// real dates, or 0 when the number lies outside it (NaN included).
std::int64_t DayCount(double day_number) {
  if (!(day_number >= FirstDayNumber && day_number <= LastDayNumber)) return 0;
  return static_cast<std::int64_t>(day_number) - kDayZero;
}

// Year, month and day of a day count of at least 1.
void CivilFromCount(std::int64_t count, int& year, int& month, int& day) {
  // count / 365.2425 (whole 400-year cycles of 146097 days) never lies above
  // the true year and at most one below it: only steps forward remain.
  std::int32_t estimate = static_cast<std::int32_t>(count * 400 / 146097);
  if (estimate == 0) estimate = 1;
  std::int64_t rest = count - DaysBeforeYear(estimate);
  while (rest > YearLength(estimate)) {
    rest -= YearLength(estimate);
    ++estimate;
  }
  year = estimate;
  MonthAndDay(static_cast<int>(rest), IsLeapYear(estimate), month, day);
}

// Month, day and four-digit year of a display date read with century.
void ReadWithCentury(std::string_view date, int& year, int& month, int& day) {
  const bool saved = CenturyOn;
  CenturyOn = true;
  date_text::DateBuffer buffer;
  date_text::CanonicalDate(date, buffer);
  CenturyOn = saved;
  const std::string_view canonical = buffer.View();
  month = NumberAt(canonical, 0, 2);
  day = NumberAt(canonical, 3, 2);
  year = NumberAt(canonical, 6, 4);
}

std::string StoredForm(int year, int month, int day) {
  std::string out;
  out.reserve(8);
  AppendPadded(out, year, 4);
  AppendPadded(out, month, 2);
  AppendPadded(out, day, 2);
  return out;
}

}  // namespace

bool IsLeapYear(std::int32_t year) {
  return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

std::int64_t DaysBeforeYear(std::int32_t year) {
  const std::int64_t n = static_cast<std::int64_t>(year) - 1;
  if (n < 1) return 0;
  return n * 365 + n / 4 - n / 100 + n / 400;
}

int DayOfYear(std::int32_t year, std::int32_t month, std::int32_t day) {
  if (year < 0 || month < 1 || month > 12 || day < 1) return -1;
  const bool leap = IsLeapYear(year);
  const int length = kDaysBeforeMonth[month + 1] - kDaysBeforeMonth[month] + (leap && month == 2 ? 1 : 0);
  if (day > length) return -1;
  return kDaysBeforeMonth[month] + day + (leap && month >= 3 ? 1 : 0);
}

void MonthAndDay(int day_of_year, bool leap, int& month, int& day) {
  month = 0;
  day = 0;
  if (day_of_year < 1 || day_of_year > (leap ? 366 : 365)) return;
  if (leap) {
    if (day_of_year == 60) {
      month = 2;
      day = 29;
      return;
    }
    if (day_of_year > 60) --day_of_year;
  }
  int m = 1;
  while (day_of_year > kDaysBeforeMonth[m + 1]) ++m;
  month = m;
  day = day_of_year - kDaysBeforeMonth[m];
}

double JulianDate(std::int32_t year, std::int32_t month, std::int32_t day) {
  // Years before 1 have no day number: year 0 would share its numbers with
  // year 1.
  if (year < 1) return BlankDateValue;
  const int in_year = DayOfYear(year, month, day);
  if (in_year < 1) return BlankDateValue;
  return static_cast<double>(DaysBeforeYear(year) + in_year + kDayZero);
}

double DtosToJulian(std::string_view stored) {
  const auto nul = stored.find('\0');
  if (nul != std::string_view::npos) stored = stored.substr(0, nul);
  stored = stored.substr(0, 8);
  // A stored form always has eight characters; anything shorter is no date.
  if (stored.size() < 8) return BlankDateValue;
  return JulianDate(NumberAt(stored, 0, 4), NumberAt(stored, 4, 2), NumberAt(stored, 6, 2));
}

double DateToJulian(std::string_view date) {
  int year = 0, month = 0, day = 0;
  ReadWithCentury(date, year, month, day);
  return JulianDate(year, month, day);
}

std::string JulianToDtos(double day_number) {
  const std::int64_t count = DayCount(day_number);
  if (count <= 0) return std::string(8, ' ');
  int year = 0, month = 0, day = 0;
  CivilFromCount(count, year, month, day);
  return StoredForm(year, month, day);
}

std::string JulianToDate(double day_number) {
  const std::uint8_t code = DateFormat > 8 ? 0 : DateFormat;
  const std::int64_t count = DayCount(day_number);
  if (count <= 0) {
    std::string out;
    const char* year_blanks = CenturyOn ? "    " : "  ";
    switch (code) {
      case 1: out.append(year_blanks).append(".  .  "); return out;
      case 3: out = "  -  -"; break;
      case 4: case 5: case 6: case 7: out = "  .  ."; break;
      default: out = "  /  /"; break;  // 0, 2 and 8
    }
    out.append(year_blanks);
    return out;
  }
  int year = 0, month = 0, day = 0;
  CivilFromCount(count, year, month, day);
  const int shown_year = CenturyOn ? year : year % 100;
  const int year_width = CenturyOn ? 4 : 2;
  char text[10];
  std::size_t size = 0;
  auto put = [&](int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) text[size + std::size_t(i)] = char('0' + value % 10);
    size += std::size_t(width);
  };
  if (code == 1) {
    put(shown_year, year_width);
    text[size++] = '.';
    put(month, 2);
    text[size++] = '.';
    put(day, 2);
  } else {
    // Code 8 writes slashes; its day-month-year order reads back the same.
    const char separator = code == 3 ? '-' : (code == 0 || code == 2 || code == 8) ? '/' : '.';
    put(code == 0 ? month : day, 2);
    text[size++] = separator;
    put(code == 0 ? day : month, 2);
    text[size++] = separator;
    put(shown_year, year_width);
  }
  return std::string(text, size);
}

std::string DateToDtos(std::string_view date) {
  int year = 0, month = 0, day = 0;
  ReadWithCentury(date, year, month, day);
  // Only a possible date has a stored form; searches must not look for
  // impossible ones such as 19990230.
  if (JulianDate(year, month, day) == BlankDateValue) return std::string(8, ' ');
  return StoredForm(year, month, day);
}

}  // namespace qd
