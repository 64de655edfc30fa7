// The engine's three date forms and every conversion between them:
//   stored form  - "YYYYMMDD" as kept in records and index keys, eight blanks
//                  when empty;
//   display form - the text users type and read, in one of nine formats
//                  (12/31/99, 99.12.31, 31.12.1999, ...);
//   day number   - the Julian day number in a double, BlankDateValue for an
//                  empty or impossible date.
// Also the process-wide date settings, the day and month names of six
// languages and a seconds counter. Nothing here reports an error: text that is
// not a number counts as 0 and impossible dates become empty.
// The settings are process-wide and unguarded (one engine thread).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/number_settings.h"

namespace qd {

// ------------------------------------------------------------- settings ---

// Date format codes (display order, separator, language of names):
//   0 MM/DD/YY English    1 YY.MM.DD English    2 DD/MM/YY English
//   3 DD-MM-YY Italian    4 DD.MM.YY French     5 DD.MM.YY German
//   6 DD.MM.YY Spanish    7 DD.MM.YY French     8 DD.MM.YY Russian
// (code 8 writes day numbers back with '/' separators; see JulianToDate).
inline std::uint8_t DateFormat = 0;        // never above 8
inline bool CenturyOn = false;             // four-digit years in display forms
inline std::uint8_t LocaleDateFormat = 0;  // derived from the user's language
// First year of the hundred-year window for two-digit years: the current year
// minus 70, set by InitDateUnit (the value here only serves until it runs).
inline std::uint16_t EpochYear = 1956;

// The day number of an empty or invalid date; sorts after every real date.
inline constexpr double BlankDateValue = 1E100;
inline constexpr double FirstDayNumber = 1721426;  // 0001-01-01
inline constexpr double LastDayNumber = 5373484;   // 9999-12-31

// Start-up rules, run once when the library loads: LocaleDateFormat (and
// DateFormat) from the user's language, DecimalChar/ThousandsChar to match,
// CenturyOn off, EpochYear = current year - 70. The host pattern is left
// alone (SetDateFormat writes it).
// The first form asks the platform for the language and today's date; the
// second takes both as given (tests, or a host that knows better).
void InitDateUnit();
void InitDateUnit(std::uint16_t lang_id, int current_year);

// The format code for a Windows language identifier (primary language in the
// low 10 bits, sub-language above).
std::uint8_t DateFormatForLangID(std::uint16_t lang_id);

// Stores the code (9 or more becomes 0) and writes the host's short date
// pattern and date separator to match. Set CenturyOn first.
void SetDateFormat(std::uint8_t code);
// The code that follows a host short date pattern; sets CenturyOn when the
// pattern holds "yyyy" (any case).
std::uint8_t DateFormatFromPattern(std::string_view pattern, char separator);

// Whole seconds of the platform's millisecond tick count.
std::int32_t SecondsCounter();
// Today's local date; day_of_week 1 = Sunday to 7 = Saturday.
void Today(int& year, int& month, int& day, int& day_of_week);

// ------------------------------------------------------- display forms ---
// Inputs are cut at their first NUL and to 10 characters.

// Rewrites a display date into the canonical form MM/DD/YY (MM/DD/YYYY with
// CenturyOn) read in the order of DateFormat.
void NormalizeDate(std::string& date);
// Rewrites a canonical date into the display form of DateFormat.
void FormatDate(std::string& date);
// The empty display date of a format code ("  /  /  ", "    .  .  " ...).
std::string BlankDate(std::uint8_t code);
// Two-digit year window: the century base (1900, 2000, ...) of a two-digit
// year, and its first two digits as text ("19", "20").
int CenturyOf(std::string_view two_digit_year);
std::string CenturyDigits(std::string_view two_digit_year);
// With CenturyOn: puts the century in front of a two-digit year and pads a
// shorter year with '0' to four characters. Without: returns it unchanged.
std::string ExpandYear(std::string_view year);
// True for a possible date or an empty one; then rewrites it into the display
// form of DateFormat. False leaves the argument unchanged.
bool ValidDate(std::string& date);
int DayOfWeek(std::string_view date);  // 1 = Sunday .. 7 = Saturday
// Padded names in the language of DateFormat (single-byte DOS code pages);
// blanks (10 and 9) for an empty date.
std::string DayName(std::string_view date);
std::string MonthName(std::string_view date);
// The numbers the display form shows (DateYear: two digits without century).
int DateDay(std::string_view date);
int DateMonth(std::string_view date);
int DateYear(std::string_view date);
// The stored form (8 characters) of a display date; eight blanks when empty.
std::string DateDigits(std::string_view date);

// ---------------------------------------------------------- day numbers ---

bool IsLeapYear(std::int32_t year);  // year 0 counts as leap
// Days from 0001-01-01 to the first day of the year (0 for years <= 1).
std::int64_t DaysBeforeYear(std::int32_t year);
// 1..366, or -1 for an impossible date (negative year, bad month or day).
int DayOfYear(std::int32_t year, std::int32_t month, std::int32_t day);
// Month and day of a day of the year (1..365/366).
void MonthAndDay(int day_of_year, bool leap, int& month, int& day);

// Day number of a date; BlankDateValue when impossible or before year 1.
double JulianDate(std::int32_t year, std::int32_t month, std::int32_t day);
// Stored form (first 8 characters used, cut at NUL) to day number.
double DtosToJulian(std::string_view stored);
// Display form (read in the order of DateFormat) to day number.
double DateToJulian(std::string_view date);
// Day number to stored form; eight blanks outside 0001-01-01..9999-12-31.
std::string JulianToDtos(double day_number);
// Day number to the display form of DateFormat; the empty display date
// outside 0001-01-01..9999-12-31.
std::string JulianToDate(double day_number);
// Display form to stored form; eight blanks when empty or impossible.
std::string DateToDtos(std::string_view date);

}  // namespace qd
