// Runtime services of the record-set framework: its exception classes, the
// date-time number (days since 30 December 1899, fraction = time of day) and
// the timestamp split (day number counted from 1 January of year 1 as day 1,
// milliseconds of the day), and the text conversions of dates and numbers
// that follow the host's regional settings (short date pattern, date,
// decimal and thousands separators), read at the moment of each call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/exception.h"

namespace qd::fw {

using qd::Exception;

// Text that is not a date or a number.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};
// A value outside the range of its type ("Range check error").
class ERangeError : public Exception {
 public:
  explicit ERangeError(const std::string& message = "Range check error") : Exception(message) {}
};
// The silent exception: ends an operation without a message to the user.
class EAbort : public Exception {
 public:
  explicit EAbort(const std::string& message = "Operation aborted") : Exception(message) {}
};
// Raises EAbort.
[[noreturn]] void Abort();

// ----------------------------------------------------------- date-time ---

using TDateTime = double;

struct TTimeStamp {
  std::int32_t Time = 0;  // milliseconds since midnight
  std::int32_t Date = 0;  // 1 = 1 January of year 1
};

// Day number of 30 December 1899 (date-time 0) in the timestamp count.
inline constexpr std::int32_t DateDelta = 693594;
inline constexpr std::int32_t MSecsPerDay = 86400000;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// False for an impossible date (year 1 to 9999).
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
// Raises EConvertError "Invalid argument to date encode" for an impossible date.
TDateTime EncodeDate(int year, int month, int day);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);

// Splits a date-time into its timestamp and back. Negative date-times count
// days backwards with a positive time of day (-1.25 is 29 December 1899 06:00).
TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
// A timestamp as a millisecond count (64-bit float) and back; the second
// raises EConvertError when the count gives no valid timestamp.
double TimeStampToMSecs(const TTimeStamp& stamp);
TTimeStamp MSecsToTimeStamp(double msecs);

// Today's date at midnight (host clock).
TDateTime Date();

// Text of a date in the short date pattern ("M/d/yyyy", "dd.MM.yyyy",
// "yy.MM.dd", ...), where '/' stands for the date separator.
std::string DateToStr(TDateTime value);
// Time of day as hh:mm:ss (24 hours).
std::string TimeToStr(TDateTime value);
// Date, and the time after a blank when it is not midnight.
std::string DateTimeToStr(TDateTime value);
// Reads a date in the order of the short date pattern (day, month and year
// separated by the date separator; '/' is also accepted). A two-digit year
// falls in the hundred years around the current one; a missing year is the
// current one. The first raises EConvertError "'<text>' is not a valid date".
bool TryStrToDate(std::string_view text, TDateTime& out);
TDateTime StrToDate(std::string_view text);
// A date optionally followed by a time h:mm[:ss]; or a time alone.
bool TryStrToDateTime(std::string_view text, TDateTime& out);
TDateTime StrToDateTime(std::string_view text);

// --------------------------------------------------------------- numbers ---

std::string IntToStr(std::int64_t value);
// Raises EConvertError "'<text>' is not a valid integer value".
bool TryStrToInt64(std::string_view text, std::int64_t& out);
std::int64_t StrToInt64(std::string_view text);
int StrToInt(std::string_view text);
// Shortest text with up to 15 significant digits, with the host's decimal
// separator; exponent form only for very large or small magnitudes.
std::string FloatToStr(double value);
// Accepts the host's decimal separator (and '.'); surrounding blanks are
// ignored. Raises EConvertError "'<text>' is not a valid floating point value".
bool TryStrToFloat(std::string_view text, double& out);
double StrToFloat(std::string_view text);

// Removes leading and trailing characters up to the blank (control characters
// included), as the runtime's Trim does.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
std::string UpperCase(std::string_view text);  // ASCII letters only
bool SameText(std::string_view a, std::string_view b);  // ASCII, case-insensitive

}  // namespace qd::fw
