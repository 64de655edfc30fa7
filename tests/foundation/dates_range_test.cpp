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
#if defined(__OPTIMIZE__) || defined(NDEBUG)
constexpr bool kOptimized = true;
#else
constexpr bool kOptimized = false;
#endif
// Optimised builds check every day; instrumented and unoptimised builds
// check every 29th day (all months and weekdays still come round), so the
// suite stays fast there too.
constexpr long kStride = kSanitized || !kOptimized ? 29 : 1;

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
  // Records a failure; false once enough have been seen to stop the loop.
  bool Fail(long day, int code, const std::string& what) {
    ADD_FAILURE() << "day " << day << " code " << code << ": " << what;
    return ++failures_ < 10;
  }
  long failures_ = 0;
};

TEST_F(DatesRangeTest, EveryDayWithCentury) {
  // Day number, stored form and the four-digit display form of every code
  // convert into each other. The readings that share DateToJulian's path
  // (stored form, digits, weekday, ValidDate) run every 11th day, which still
  // meets every weekday, day of the month and year.
  CenturyOn = true;
  for (long n = kFirst; n <= kLast && failures_ < 10; n += kStride) {
    const Civil c = Reference(n);
    const std::string stored = Stored(c);
    if ((JulianToDtos(double(n)) != stored || DtosToJulian(stored) != double(n) ||
         JulianDate(c.year, c.month, c.day) != double(n)) &&
        !Fail(n, -1, stored + " / " + JulianToDtos(double(n)))) {
      break;
    }
    const bool parts = n % 11 == 0;
    for (int code = 0; code <= 8; ++code) {
      DateFormat = std::uint8_t(code);
      const std::string shown = JulianToDate(double(n));
      std::string checked = shown;
      if (shown != std::string_view(Display(c, code, true)) || DateToJulian(shown) != double(n) ||
          (parts && (DateToDtos(shown) != stored || DateDigits(shown) != stored ||
                     DayOfWeek(shown) != c.weekday || !ValidDate(checked) ||
                     checked != std::string_view(Display(c, code == 8 ? 7 : code, true))))) {
        if (!Fail(n, code, "'" + shown + "' reads as " + DateToDtos(shown))) break;
      }
    }
  }
  EXPECT_TRUE(CenturyOn);
}

TEST_F(DatesRangeTest, EveryDayWithoutCentury) {
  // Two-digit texts repeat every hundred years: every day must show the right
  // text, and each text is read back in the window 1956 to 2055 that places it.
  CenturyOn = false;
  for (long n = kFirst; n <= kLast && failures_ < 10; n += kStride) {
    const Civil c = Reference(n);
    for (int code = 0; code <= 8; ++code) {
      DateFormat = std::uint8_t(code);
      const std::string shown = JulianToDate(double(n));
      if (shown != std::string_view(Display(c, code, false)) && !Fail(n, code, shown)) break;
    }
  }
  const long window_last = long(JulianDate(2055, 12, 31));
  for (long n = long(JulianDate(1956, 1, 1)); n <= window_last && failures_ < 10; n += kStride) {
    const Civil c = Reference(n);
    for (int code = 0; code <= 8; ++code) {
      DateFormat = std::uint8_t(code);
      const std::string shown = JulianToDate(double(n));
      std::string checked = shown;
      if (DateToJulian(shown) != double(n) || DateToDtos(shown) != Stored(c) ||
          DateDigits(shown) != Stored(c) || DayOfWeek(shown) != c.weekday ||
          DateYear(shown) != c.year % 100 || DateMonth(shown) != c.month ||
          DateDay(shown) != c.day || !ValidDate(checked) ||
          checked != std::string_view(Display(c, code == 8 ? 7 : code, false))) {
        if (!Fail(n, code, "'" + shown + "' reads as " + DateToDtos(shown))) break;
      }
    }
  }
}

TEST_F(DatesRangeTest, ImpossibleDatesAreEmpty) {
  // For every year: month 0 and 13, day 0, the day after each month's last,
  // 29 February of common years, and every day of year 0.
  static constexpr int kLength[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int year = 0; year <= 9999 && failures_ < 10; year += kStride == 1 ? 1 : 7) {
    const bool leap = year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
    auto check = [&](int month, int day) {
      const Civil c{year, month, day, 0};
      const std::string shown(std::string_view(Display(c, 0, true)));
      if (DtosToJulian(Stored(c)) != BlankDateValue || DateToJulian(shown) != BlankDateValue ||
          DateToDtos(shown) != "        " || JulianDate(year, month, day) != BlankDateValue) {
        Fail(year, 0, shown + " is not empty");
      }
    };
    check(0, 1);
    check(13, 1);
    if (!leap) check(2, 29);
    for (int month = 1; month <= 12; ++month) {
      check(month, 0);
      check(month, kLength[month] + (month == 2 && leap ? 1 : 0) + 1);
      if (year == 0) check(month, 1);
    }
  }
}

}  // namespace
}  // namespace qd
