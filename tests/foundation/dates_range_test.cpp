// Whole-range check of the date conversions: every day from 0001-01-01 to
// 9999-12-31, in the stored form and in the display form of all nine formats
// with and without century, against the civil calendar of <chrono>.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "foundation/dates.h"

namespace qd {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
// Instrumented builds check every 29th day (all months and weekdays still
// come round); optimised builds check every day.
constexpr long kStride = kSanitized ? 29 : 1;

constexpr long kFirst = 1721426;  // 0001-01-01
constexpr long kLast = 5373484;   // 9999-12-31
constexpr long kUnixEpoch = 2440588;  // day number of 1970-01-01

struct Civil {
  int year, month, day, weekday;  // weekday 1 = Sunday
};

Civil Reference(long day_number) {
  using namespace std::chrono;
  const sys_days when{days{day_number - kUnixEpoch}};
  const year_month_day ymd{when};
  return {int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())),
          int(weekday{when}.c_encoding()) + 1};
}

// A date text built without allocations.
struct Text {
  char chars[12];
  std::size_t size = 0;
  void Put(int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) chars[size + std::size_t(i)] = char('0' + value % 10);
    size += std::size_t(width);
  }
  void Put(char c) { chars[size++] = c; }
  operator std::string_view() const { return {chars, size}; }
};

std::string Stored(const Civil& c) {
  Text out;
  out.Put(c.year, 4);
  out.Put(c.month, 2);
  out.Put(c.day, 2);
  return std::string(std::string_view(out));
}

// The display form a day number must get under each code.
Text Display(const Civil& c, int code, bool century) {
  Text out;
  const int year = century ? c.year : c.year % 100;
  const int width = century ? 4 : 2;
  if (code == 1) {
    out.Put(year, width);
    out.Put('.');
    out.Put(c.month, 2);
    out.Put('.');
    out.Put(c.day, 2);
    return out;
  }
  const char separator = code == 3 ? '-' : (code == 0 || code == 2 || code == 8) ? '/' : '.';
  out.Put(code == 0 ? c.month : c.day, 2);
  out.Put(separator);
  out.Put(code == 0 ? c.day : c.month, 2);
  out.Put(separator);
  out.Put(year, width);
  return out;
}

class DatesRangeTest : public ::testing::Test {
 protected:
  void SetUp() override { InitDateUnit(0x0409, 2026); }  // window 1956 to 2055
  void TearDown() override { InitDateUnit(0x0409, 2026); }
};

TEST_F(DatesRangeTest, DayNumbersAndStoredForms) {
  long failures = 0;
  for (long n = kFirst; n <= kLast && failures < 10; n += kStride) {
    const Civil c = Reference(n);
    const std::string stored = Stored(c);
    const double number = double(n);
    if (JulianToDtos(number) != stored || DtosToJulian(stored) != number ||
        JulianDate(c.year, c.month, c.day) != number) {
      ADD_FAILURE() << n << " " << stored << " gives " << JulianToDtos(number) << ", "
                    << DtosToJulian(stored) << ", " << JulianDate(c.year, c.month, c.day);
      ++failures;
    }
  }
}

TEST_F(DatesRangeTest, DisplayFormsWithCentury) {
  CenturyOn = true;
  long failures = 0;
  for (long n = kFirst; n <= kLast && failures < 10; n += kStride) {
    const Civil c = Reference(n);
    const std::string stored = Stored(c);
    for (int code = 0; code <= 8; ++code) {
      DateFormat = std::uint8_t(code);
      const std::string shown = JulianToDate(double(n));
      // The direct display-to-stored readings and the weekday every 11th
      // day, which still meets every weekday, day of the month and year.
      const bool parts = n % 11 == 0;
      if (shown != std::string_view(Display(c, code, true)) || DateToJulian(shown) != double(n) ||
          (parts && (DateToDtos(shown) != stored || DateDigits(shown) != stored ||
                     DayOfWeek(shown) != c.weekday))) {
        ADD_FAILURE() << "code " << code << " day " << n << ": '" << shown << "' expected '"
                      << std::string_view(Display(c, code, true)) << "', reads back as " << DateToJulian(shown)
                      << ", " << DateToDtos(shown) << ", " << DateDigits(shown) << ", weekday "
                      << DayOfWeek(shown) << " expected " << c.weekday;
        ++failures;
      }
    }
  }
  EXPECT_TRUE(CenturyOn);
}

TEST_F(DatesRangeTest, DisplayFormsWithoutCentury) {
  // Two-digit texts repeat every hundred years: every day must show the right
  // text, and each text is read back once, in the window 1956 to 2055 that
  // places it.
  CenturyOn = false;
  const long window_first = long(JulianDate(1956, 1, 1));
  const long window_last = long(JulianDate(2055, 12, 31));
  long failures = 0;
  for (long n = kFirst; n <= kLast && failures < 10; n += kStride) {
    const Civil c = Reference(n);
    for (int code = 0; code <= 8; ++code) {
      DateFormat = std::uint8_t(code);
      const std::string shown = JulianToDate(double(n));
      if (shown != std::string_view(Display(c, code, false))) {
        ADD_FAILURE() << "code " << code << " day " << n << ": '" << shown << "'";
        ++failures;
      }
    }
  }
  for (int code = 0; code <= 8; ++code) {
    DateFormat = std::uint8_t(code);
    for (long n = window_first; n <= window_last && failures < 10; n += kStride) {
      const Civil c = Reference(n);
      const std::string shown = JulianToDate(double(n));
      if (DateToJulian(shown) != double(n) || DateToDtos(shown) != Stored(c) ||
          DateDigits(shown) != Stored(c) || DayOfWeek(shown) != c.weekday ||
          DateYear(shown) != c.year % 100 || DateMonth(shown) != c.month ||
          DateDay(shown) != c.day) {
        ADD_FAILURE() << "code " << code << " day " << n << ": '" << shown
                      << "' reads back as " << DateToJulian(shown) << ", " << DateToDtos(shown);
        ++failures;
      }
    }
  }
}

TEST_F(DatesRangeTest, ValidDateKeepsEveryDisplayForm) {
  // A display form is valid and ValidDate leaves it as it is (code 8 shows
  // its dates with points once checked).
  for (bool century : {true, false}) {
    CenturyOn = century;
    for (int code = 0; code <= 8; ++code) {
      DateFormat = std::uint8_t(code);
      long failures = 0;
      const long first = century ? kFirst : long(JulianDate(1956, 1, 1));
      const long last = century ? kLast : long(JulianDate(2055, 12, 31));
      const long stride = century ? kStride * 7 : kStride;
      for (long n = first; n <= last && failures < 10; n += stride) {
        const Civil c = Reference(n);
        std::string date = JulianToDate(double(n));
        const Text expected = Display(c, code == 8 ? 7 : code, century);
        if (!ValidDate(date) || date != std::string_view(expected)) {
          ADD_FAILURE() << "code " << code << " day " << n << ": '" << date << "'";
          ++failures;
        }
      }
    }
  }
}

TEST_F(DatesRangeTest, ImpossibleDatesAreEmpty) {
  // For every year: month 0 and 13, day 0, the day after each month's last,
  // 29 February of common years, and year 0 itself.
  static constexpr int kLength[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  CenturyOn = false;
  DateFormat = 0;
  long failures = 0;
  for (int year = 0; year <= 9999 && failures < 10; year += int(kSanitized ? 7 : 1)) {
    const bool leap = year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
    auto check = [&](int month, int day) {
      const Civil c{year, month, day, 0};
      const std::string stored = Stored(c);
      const std::string shown(std::string_view(Display(c, 0, true)));
      if (DtosToJulian(stored) != BlankDateValue || DateToJulian(shown) != BlankDateValue ||
          DateToDtos(shown) != "        " || JulianDate(year, month, day) != BlankDateValue) {
        ADD_FAILURE() << stored << " / " << shown << " is not empty";
        ++failures;
      }
    };
    check(0, 1);
    check(13, 1);
    for (int month = 1; month <= 12; ++month) {
      check(month, 0);
      check(month, kLength[month] + (month == 2 && leap ? 1 : 0) + 1);
      if (year == 0) check(month, 1);
    }
    if (!leap) check(2, 29);
  }
  EXPECT_EQ(DtosToJulian("1999ab01"), BlankDateValue);
  EXPECT_EQ(DtosToJulian("99991232"), BlankDateValue);
}

}  // namespace
}  // namespace qd
