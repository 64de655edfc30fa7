// Date unit: settings and start-up, the two-digit-year window, display-form
// operations, names, and the day-number boundaries.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "foundation/dates.h"
#include "platform/platform.h"

namespace qd {
namespace {

// Runs every test from the start-up state of an English (US) user in 2026,
// so the window is 1956 to 2055, and puts the process settings back after.
class DatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_regional_ = platform::CurrentHost().Regional();
    saved_decimal_ = DecimalChar;
    saved_thousands_ = ThousandsChar;
    InitDateUnit(0x0409, 2026);
  }
  void TearDown() override {
    platform::CurrentHost().Regional() = saved_regional_;
    DecimalChar = saved_decimal_;
    ThousandsChar = saved_thousands_;
    InitDateUnit(0x0409, 2026);
  }
  static std::string Valid(std::string date) {
    return ValidDate(date) ? date : "<invalid " + date + ">";
  }

 private:
  platform::RegionalSettings saved_regional_;
  char saved_decimal_ = '.';
  char saved_thousands_ = ',';
};

TEST_F(DatesTest, StartUpFollowsTheUserLanguage) {
  struct Case {
    std::uint16_t lang_id;
    int format;
    char decimal, thousands;
  };
  const Case cases[] = {
      {0x0409, 0, '.', ','}, {0x0809, 2, '.', ','}, {0x0407, 5, ',', '.'},
      {0x0C0A, 6, ',', '.'}, {0x040C, 4, ',', '.'}, {0x0C0C, 7, '.', ','},
      {0x0410, 3, ',', '.'}, {0x0419, 8, '.', ' '}, {0x0411, 0, '.', ','},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lang_id);
    CenturyOn = true;
    InitDateUnit(c.lang_id, 2026);
    EXPECT_EQ(LocaleDateFormat, c.format);
    EXPECT_EQ(DateFormat, c.format);
    EXPECT_EQ(DecimalChar, c.decimal);
    EXPECT_EQ(ThousandsChar, c.thousands);
    EXPECT_FALSE(CenturyOn);
    EXPECT_EQ(EpochYear, 1956);
  }
  // The real start-up asks the platform; whatever it finds must be usable.
  InitDateUnit();
  EXPECT_LE(DateFormat, 8);
  int year = 0, month = 0, day = 0, weekday = 0;
  Today(year, month, day, weekday);
  EXPECT_EQ(EpochYear, year - 70);
  EXPECT_NE(JulianDate(year, month, day), BlankDateValue);
  EXPECT_EQ(weekday, DayOfWeek(JulianToDate(JulianDate(year, month, day))));
  EXPECT_GE(SecondsCounter(), 0);
}

TEST_F(DatesTest, HostPatternBothWays) {
  const auto& regional = platform::CurrentHost().Regional();
  SetDateFormat(3);
  EXPECT_EQ(regional.short_date_pattern, "dd-MM-yy");
  EXPECT_EQ(regional.date_separator, '-');
  SetDateFormat(8);
  EXPECT_EQ(regional.short_date_pattern, "dd.MM.yy");
  CenturyOn = true;
  SetDateFormat(1);
  EXPECT_EQ(regional.short_date_pattern, "yyyy.MM.dd");
  EXPECT_EQ(regional.date_separator, '.');
  SetDateFormat(9);  // out of range: the American format
  EXPECT_EQ(DateFormat, 0);
  EXPECT_EQ(regional.short_date_pattern, "MM/dd/yyyy");
  EXPECT_EQ(regional.date_separator, '/');

  // Every pattern SetDateFormat writes leads back to a format that reads its
  // dates the same way, with the same century setting.
  for (int code = 0; code <= 8; ++code) {
    for (bool century : {false, true}) {
      CenturyOn = century;
      SetDateFormat(std::uint8_t(code));
      const std::string shown = JulianToDate(2451544);
      CenturyOn = !century;
      SetDateFormat(DateFormatFromPattern(regional.short_date_pattern, regional.date_separator));
      EXPECT_EQ(CenturyOn, century) << code;
      EXPECT_EQ(DateToJulian(shown), 2451544) << code;
    }
  }
  EXPECT_EQ(DateFormatFromPattern("d/M/yy", '/'), 2);
  EXPECT_EQ(DateFormatFromPattern("M/d/YYYY", '/'), 0);
  EXPECT_TRUE(CenturyOn);
  EXPECT_EQ(DateFormatFromPattern("", '/'), 0);
  EXPECT_FALSE(CenturyOn);
}

TEST_F(DatesTest, TwoDigitYearWindow) {
  EXPECT_EQ(CenturyOf("55"), 2000);
  EXPECT_EQ(CenturyOf("56"), 1900);
  EXPECT_EQ(CenturyOf("x9"), 2000);  // not a number: read as 0
  EXPECT_EQ(CenturyDigits("55"), "20");
  EXPECT_EQ(DateToJulian("12/31/55"), JulianDate(2055, 12, 31));
  EXPECT_EQ(DateToJulian("01/01/56"), JulianDate(1956, 1, 1));
  EXPECT_EQ(DateToDtos("02/29/00"), "20000229");

  // A window starting on a century: 00 stays in it, 99 is its last year.
  EpochYear = 2000;
  EXPECT_EQ(CenturyOf("00"), 2000);
  EXPECT_EQ(CenturyOf("99"), 2000);
  EXPECT_EQ(DateToDtos("12/31/99"), "20991231");
  EpochYear = 1999;
  EXPECT_EQ(DateToDtos("12/31/98"), "20981231");
  EXPECT_EQ(DateToDtos("12/31/99"), "19991231");

  // Start-up derives the window from the year it is given.
  InitDateUnit(0x0409, 2090);
  EXPECT_EQ(EpochYear, 2020);
  EXPECT_EQ(DateToDtos("01/01/19"), "21190101");
  EXPECT_EQ(DateToDtos("01/01/20"), "20200101");

  // With century display a two-digit year is widened through the window.
  CenturyOn = true;
  EXPECT_EQ(ExpandYear("19"), "2119");
  EXPECT_EQ(ExpandYear("999"), "0999");
  EXPECT_EQ(ExpandYear("5"), "0005");
  CenturyOn = false;
  EXPECT_EQ(ExpandYear("19"), "19");
}

TEST_F(DatesTest, NormalizeReadsInTheOrderOfTheFormat) {
  auto normalized = [](std::string date) {
    NormalizeDate(date);
    return date;
  };
  DateFormat = 2;
  EXPECT_EQ(normalized("5.1.99"), "01/05/99");
  DateFormat = 1;
  EXPECT_EQ(normalized("99.1.5"), "01/05/99");
  DateFormat = 0;
  EXPECT_EQ(normalized("1/5/99"), "01/05/99");
  // "/" wins over "-" and "-" over ".": the other characters stay in parts.
  EXPECT_EQ(normalized("1.2/3/99"), "1.2/03/99");
  EXPECT_EQ(normalized("1.2-3-99"), "1.2/03/99");
  // Parts are trimmed of blanks and control characters and cut to four.
  EXPECT_EQ(normalized(" 1 /\t5/ 99"), "01/05/99");
  EXPECT_EQ(normalized("1/5/12345"), "01/05/1234");
  // Input is cut at NUL and to ten characters; no separator leaves it as is.
  EXPECT_EQ(normalized(std::string("1/5/99\0/7", 9)), "01/05/99");
  EXPECT_EQ(normalized("19991231"), "19991231");
  // Any empty display date becomes the canonical empty date.
  EXPECT_EQ(normalized("  .  .  "), "  /  /  ");
  CenturyOn = true;
  EXPECT_EQ(normalized(" / / "), "  /  /    ");
  EXPECT_EQ(normalized("1/5/99"), "01/05/1999");
  EXPECT_EQ(normalized("1/5/5"), "01/05/2005");
  EXPECT_EQ(normalized("1/5/999"), "01/05/0999");
}

TEST_F(DatesTest, FormatAndBlankDate) {
  // Every day's display form goes through FormatDate in the whole-range
  // check; here the empty date and loose parts.
  for (int code = 0; code <= 8; ++code) {
    DateFormat = std::uint8_t(code);
    std::string date = " / / ";
    FormatDate(date);
    EXPECT_EQ(date, BlankDate(DateFormat));
  }
  CenturyOn = true;
  EXPECT_EQ(BlankDate(1), "    .  .  ");
  EXPECT_EQ(BlankDate(9), "  /  /    ");
  DateFormat = 1;
  std::string date = "1/5/99";
  FormatDate(date);
  EXPECT_EQ(date, "1999.01.05");
}

TEST_F(DatesTest, ValidDateChecksAndRewrites) {
  for (const char* bad : {"02/30/99", "04/31/99", "13/01/99", "2/29/1999", "00/10/99", "1/0/99",
                          "1/32/99", "ab/01/99", "1/5/9x", "", "19991231", "123/4/99",
                          "01/01/0000", "02/29/1900"}) {
    std::string date = bad;
    EXPECT_FALSE(ValidDate(date)) << bad;
    EXPECT_EQ(date, bad) << "a rejected date stays as it was";
  }
  EXPECT_EQ(Valid("2/29/2000"), "02/29/00");
  EXPECT_EQ(Valid("1/5/1999"), "01/05/99");
  EXPECT_EQ(Valid("  1/5/99\t"), "01/05/99");
  CenturyOn = true;
  EXPECT_EQ(Valid("1/5/99"), "01/05/1999");
  EXPECT_EQ(Valid("1/5/1850"), "01/05/1850");
  CenturyOn = false;
  DateFormat = 5;
  EXPECT_EQ(Valid("5.1.1999"), "05.01.99");
  DateFormat = 1;
  EXPECT_EQ(Valid("99-1-5"), "99.01.05");
  // The empty date is valid in every format and comes back as its blank form.
  for (int code = 0; code <= 8; ++code) {
    DateFormat = static_cast<std::uint8_t>(code);
    for (const char* empty : {"  /  /  ", "  .  .  ", "  -  -  ", " / / "}) {
      EXPECT_EQ(Valid(empty), BlankDate(DateFormat)) << code << " '" << empty << "'";
    }
  }
}

TEST_F(DatesTest, WeekdayAndNames) {
  // The empty date has no weekday and no names.
  EXPECT_EQ(DayOfWeek("  /  /  "), 0);
  EXPECT_EQ(DayName("  /  /  "), std::string(10, ' '));
  EXPECT_EQ(MonthName("  /  /    "), std::string(9, ' '));
  EXPECT_EQ(MonthName("13/01/99"), std::string(9, ' '));
  EXPECT_EQ(DayName("01/01/00"), "Saturday ");
  EXPECT_EQ(MonthName("09/01/00"), "September");
  // Names follow the language of the format, padded to its width, in the
  // DOS code pages.
  DateFormat = 5;
  EXPECT_EQ(DayName("01.01.00"), "Samstag   ");
  EXPECT_EQ(MonthName("01.03.00"), "M\x84rz     ");
  DateFormat = 4;
  EXPECT_EQ(DayName("01.01.00"), "Samedi  ");
  EXPECT_EQ(MonthName("01.08.00"), "Ao\x96t     ");
  DateFormat = 7;
  EXPECT_EQ(MonthName("01.02.00"), "F\x82vrier  ");
  DateFormat = 3;
  EXPECT_EQ(DayName("02-01-00"), "Domenica ");
  DateFormat = 6;
  EXPECT_EQ(MonthName("01.09.00"), "Septiembre");
  DateFormat = 8;
  EXPECT_EQ(DayName("02.01.00"), "\x82\xAE\xE1\xAA\xE0\xA5\xE1\xA5\xAD\xEC\xA5");  // Sunday
  EXPECT_EQ(MonthName("01.05.00"), "\x8C\xA0\xA9     ");                        // May
}

TEST_F(DatesTest, PartsAndDigitsOfDisplayDates) {
  EXPECT_EQ(DateDay("  /  /  ") + DateMonth("  /  /  ") + DateYear("  /  /  "), 0);
  EXPECT_EQ(DateYear("12/31/1999"), 1999);
  CenturyOn = true;
  EXPECT_EQ(DateYear("12/31/99"), 1999);
  CenturyOn = false;
  EXPECT_EQ(DateDigits("1/5/55"), "20550105");
  // The empty display date of any format, with or without century, is the
  // stored empty date.
  for (bool century : {false, true}) {
    CenturyOn = century;
    for (int code = 0; code <= 8; ++code) {
      DateFormat = std::uint8_t(code);
      EXPECT_EQ(DateDigits(BlankDate(DateFormat)), "        ") << code;
      EXPECT_EQ(DateDigits(JulianToDate(BlankDateValue)), "        ") << code;
    }
  }
  EXPECT_EQ(DateDigits(""), "        ");
}

TEST_F(DatesTest, DayNumberHelpers) {
  // The whole-range check covers every real day; these are the rules at the
  // edges of the helpers.
  EXPECT_EQ(JulianDate(1900, 2, 29), BlankDateValue);
  EXPECT_EQ(JulianDate(-5, 1, 1), BlankDateValue);
  EXPECT_GT(JulianDate(2147483647, 12, 31), 7.8e11);  // no overflow far out
  EXPECT_EQ(DayOfYear(0, 2, 29), 60);  // the helper counts year 0 as leap
  EXPECT_EQ(DayOfYear(-1, 1, 1), -1);
  EXPECT_EQ(DaysBeforeYear(0), 0);
  int month = -1, day = -1;
  MonthAndDay(60, true, month, day);
  EXPECT_EQ(month * 100 + day, 229);
  MonthAndDay(60, false, month, day);
  EXPECT_EQ(month * 100 + day, 301);
  MonthAndDay(366, false, month, day);
  EXPECT_EQ(month * 100 + day, 0);
}

TEST_F(DatesTest, DayNumbersOutsideTheCalendar) {
  // The day before 1 January of year 1 is empty in every form.
  EXPECT_EQ(JulianToDtos(1721425), "        ");
  EXPECT_EQ(JulianToDate(1721425), "  /  /  ");
  EXPECT_EQ(JulianToDate(1721425.5), "  /  /  ");
  EXPECT_EQ(JulianToDtos(1721426.9), "00010101");
  EXPECT_EQ(JulianToDtos(5373485), "        ");
  for (double odd : {BlankDateValue, -BlankDateValue, 0.0, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(JulianToDtos(odd), "        ") << odd;
    EXPECT_EQ(JulianToDate(odd), "  /  /  ") << odd;
  }
  DateFormat = 1;
  EXPECT_EQ(JulianToDate(BlankDateValue), "  .  .  ");
  CenturyOn = true;
  EXPECT_EQ(JulianToDate(BlankDateValue), "    .  .  ");
  CenturyOn = false;
  // Code 8 writes slashes, its empty date too; code 7 writes points.
  DateFormat = 8;
  EXPECT_EQ(JulianToDate(BlankDateValue), "  /  /  ");
  DateFormat = 7;
  EXPECT_EQ(JulianToDate(BlankDateValue), "  .  .  ");
}

TEST_F(DatesTest, StoredForms) {
  EXPECT_EQ(DtosToJulian("        "), BlankDateValue);
  EXPECT_EQ(DtosToJulian("2000010"), BlankDateValue);
  EXPECT_EQ(DtosToJulian(std::string("2000\0" "101", 8)), BlankDateValue);
  EXPECT_EQ(DtosToJulian("20000101xyz"), 2451545);  // eight characters used

  EXPECT_EQ(DateToDtos("  /  /  "), "        ");
  EXPECT_EQ(DateToDtos(""), "        ");
  // An impossible date has no stored form, so searches never look for one.
  EXPECT_EQ(DateToDtos("02/30/99"), "        ");
  EXPECT_EQ(DateToDtos("01/01/0000"), "        ");
  EXPECT_FALSE(CenturyOn) << "reading with century must restore the setting";
  CenturyOn = true;
  EXPECT_EQ(DateToJulian("12/31/99"), 2451544);
  EXPECT_TRUE(CenturyOn);
  // Reading follows the format in force at the time.
  DateFormat = 2;
  EXPECT_EQ(DateToDtos("05/01/99"), "19990105");
  DateFormat = 1;
  EXPECT_EQ(DateToDtos("99/01/05"), "19990105");
}

}  // namespace
}  // namespace qd
