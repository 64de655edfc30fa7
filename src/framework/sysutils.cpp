// Runtime services: date-time numbers, timestamps, and the date and number
// texts of the host's regional settings.
#include "framework/sysutils.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/platform.h"

namespace qd::fw {

void Abort() { throw EAbort(); }

namespace {

// Days from 1 January 1970 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Date-time 0 (30 December 1899) in days from 1970.
constexpr std::int64_t kUnixDelta = -25569;
constexpr std::int32_t kLastTimeStampDay = 3652059;  // 31 December 9999

const qd::platform::RegionalSettings& Regional() { return qd::platform::CurrentHost().Regional(); }

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value % 100);
  return text;
}

// Order of day, month and year in the short date pattern: 'M' (MDY), 'D'
// (DMY) or 'Y' (YMD), from the first of those letters.
char DateOrder() {
  for (char c : Regional().short_date_pattern) {
    if (c == 'm' || c == 'M') return 'M';
    if (c == 'd' || c == 'D') return 'D';
    if (c == 'y' || c == 'Y') return 'Y';
  }
  return 'M';
}

int CurrentYear() {
  int y = 0, m = 0, d = 0;
  qd::platform::LocalDate(y, m, d);
  return y;
}

bool IsDateSeparator(char c) { return c == Regional().date_separator || c == '/' || c == '-' || c == '.'; }

// Reads up to three numbers of a date; answers how many, or -1 for a text
// that is not a date. digits[i] is the number of digits of number i.
int ScanDateNumbers(std::string_view text, std::size_t& pos, int numbers[3], int digits[3]) {
  int count = 0;
  while (count < 3) {
    std::size_t start = pos;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 4) {
      value = value * 10 + (text[pos] - '0');
      ++pos;
    }
    if (pos == start) return -1;
    numbers[count] = value;
    digits[count] = static_cast<int>(pos - start);
    ++count;
    if (pos < text.size() && IsDateSeparator(text[pos]) && count < 3) {
      ++pos;
      continue;
    }
    break;
  }
  return count;
}

bool ScanDate(std::string_view text, std::size_t& pos, TDateTime& out) {
  int n[3] = {0, 0, 0}, digits[3] = {0, 0, 0};
  const int count = ScanDateNumbers(text, pos, n, digits);
  if (count < 2) return false;
  int year = 0, month = 0, day = 0, year_digits = 4;
  const char order = DateOrder();
  if (count == 2) {
    year = CurrentYear();
    if (order == 'D') { day = n[0]; month = n[1]; }
    else { month = n[0]; day = n[1]; }
  } else if (order == 'M') {
    month = n[0]; day = n[1]; year = n[2]; year_digits = digits[2];
  } else if (order == 'D') {
    day = n[0]; month = n[1]; year = n[2]; year_digits = digits[2];
  } else {
    year = n[0]; month = n[1]; day = n[2]; year_digits = digits[0];
  }
  if (year_digits <= 2) {
    // A two-digit year falls within fifty years of the current one.
    const int current = CurrentYear();
    year += current / 100 * 100;
    if (year < current - 50) year += 100;
    else if (year > current + 49) year -= 100;
  }
  return TryEncodeDate(year, month, day, out);
}

bool ScanTime(std::string_view text, std::size_t& pos, TDateTime& out) {
  int parts[3] = {0, 0, 0};
  int count = 0;
  while (count < 3) {
    std::size_t start = pos;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 2) {
      value = value * 10 + (text[pos] - '0');
      ++pos;
    }
    if (pos == start) return false;
    parts[count++] = value;
    if (pos < text.size() && text[pos] == ':' && count < 3) {
      ++pos;
      continue;
    }
    break;
  }
  if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return false;
  out = EncodeTime(parts[0], parts[1], parts[2], 0);
  return true;
}

void SkipBlanks(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
}

}  // namespace

// ------------------------------------------------------------- dates ---

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  out = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                          static_cast<unsigned>(day)) -
                            kUnixDelta);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime value = 0;
  if (!TryEncodeDate(year, month, day, value))
    throw EConvertError("Invalid argument to date encode");
  return value;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  const TTimeStamp stamp = DateTimeToTimeStamp(value);
  CivilFromDays(static_cast<std::int64_t>(stamp.Date) - DateDelta + kUnixDelta, year, month, day);
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  std::int32_t ms = DateTimeToTimeStamp(value).Time;
  msec = ms % 1000;
  ms /= 1000;
  second = ms % 60;
  ms /= 60;
  minute = ms % 60;
  hour = ms / 60;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  TTimeStamp stamp;
  if (!std::isfinite(value)) return stamp;
  const double whole = std::trunc(value);
  // Beyond the days a timestamp can count there is no date: the zero stamp,
  // which no caller takes for a valid one (rather than a day number wrapped
  // round into some other date).
  if (std::fabs(whole) > 2.0e9) return stamp;
  std::int64_t time = std::llround(std::fabs(value - whole) * MSecsPerDay);
  std::int64_t date = DateDelta + static_cast<std::int64_t>(whole);
  if (time >= MSecsPerDay) {  // rounding reached the next day
    time -= MSecsPerDay;
    date += value < 0 ? -1 : 1;
  }
  stamp.Time = static_cast<std::int32_t>(time);
  stamp.Date = static_cast<std::int32_t>(date);
  return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  const double days = static_cast<double>(stamp.Date) - DateDelta;
  const double fraction = static_cast<double>(stamp.Time) / MSecsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

double TimeStampToMSecs(const TTimeStamp& stamp) {
  return static_cast<double>(stamp.Date) * MSecsPerDay + stamp.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  if (!std::isfinite(msecs) || msecs < MSecsPerDay ||
      msecs >= (static_cast<double>(kLastTimeStampDay) + 1) * MSecsPerDay)
    throw EConvertError("Invalid millisecond count for a timestamp");
  TTimeStamp stamp;
  const double days = std::floor(msecs / MSecsPerDay);
  stamp.Date = static_cast<std::int32_t>(days);
  stamp.Time = static_cast<std::int32_t>(msecs - days * MSecsPerDay);
  return stamp;
}

TDateTime Date() {
  int y = 0, m = 0, d = 0;
  qd::platform::LocalDate(y, m, d);
  return EncodeDate(y, m, d);
}

std::string DateToStr(TDateTime value) {
  int year = 0, month = 0, day = 0;
  DecodeDate(value, year, month, day);
  const auto& regional = Regional();
  const std::string& pattern = regional.short_date_pattern;
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    const char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (lower == 'd' || lower == 'm' || lower == 'y') {
      std::size_t run = 0;
      while (i + run < pattern.size() && (pattern[i + run] | 0x20) == lower) ++run;
      i += run;
      if (lower == 'y') out += run >= 3 ? std::to_string(year) : TwoDigits(year);
      else {
        const int v = lower == 'd' ? day : month;
        out += run >= 2 ? TwoDigits(v) : std::to_string(v);
      }
    } else if (c == '/') {
      out += regional.date_separator;
      ++i;
    } else if (c == '\'' || c == '"') {
      std::size_t end = pattern.find(c, i + 1);
      if (end == std::string::npos) end = pattern.size();
      out.append(pattern, i + 1, end - i - 1);
      i = end + 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::string TimeToStr(TDateTime value) {
  int h = 0, m = 0, s = 0, ms = 0;
  DecodeTime(value, h, m, s, ms);
  return TwoDigits(h) + ":" + TwoDigits(m) + ":" + TwoDigits(s);
}

std::string DateTimeToStr(TDateTime value) {
  std::string text = DateToStr(value);
  if (DateTimeToTimeStamp(value).Time != 0) text += " " + TimeToStr(value);
  return text;
}

bool TryStrToDate(std::string_view text, TDateTime& out) {
  std::size_t pos = 0;
  SkipBlanks(text, pos);
  TDateTime value = 0;
  if (!ScanDate(text, pos, value)) return false;
  SkipBlanks(text, pos);
  if (pos != text.size()) return false;
  out = value;
  return true;
}

TDateTime StrToDate(std::string_view text) {
  TDateTime value = 0;
  if (!TryStrToDate(text, value))
    throw EConvertError("'" + std::string(text) + "' is not a valid date");
  return value;
}

bool TryStrToDateTime(std::string_view text, TDateTime& out) {
  std::size_t pos = 0;
  SkipBlanks(text, pos);
  const std::size_t start = pos;
  TDateTime date = 0, time = 0;
  if (ScanDate(text, pos, date)) {
    SkipBlanks(text, pos);
    if (pos < text.size() && !ScanTime(text, pos, time)) return false;
  } else {
    pos = start;  // a time alone
    if (!ScanTime(text, pos, time)) return false;
  }
  SkipBlanks(text, pos);
  if (pos != text.size()) return false;
  out = date < 0 ? date - time : date + time;
  return true;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime value = 0;
  if (!TryStrToDateTime(text, value))
    throw EConvertError("'" + std::string(text) + "' is not a valid date and time");
  return value;
}

// ----------------------------------------------------------- numbers ---

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

bool TryStrToInt64(std::string_view text, std::int64_t& out) {
  std::string trimmed = Trim(text);
  std::string_view digits = trimmed;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || digits.front() == '+') return false;
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return false;
  out = value;
  return true;
}

std::int64_t StrToInt64(std::string_view text) {
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

int StrToInt(std::string_view text) {
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value) || value < std::numeric_limits<int>::min() ||
      value > std::numeric_limits<int>::max())
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return static_cast<int>(value);
}

std::string FloatToStr(double value) {
  // Independent of the C locale: the separator is the host's.
  char text[40];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
  std::string out(text, result.ptr);
  for (char& c : out) {
    if (c == '.') c = Regional().decimal_separator;
    else if (c == 'e') c = 'E';
  }
  return out;
}

bool TryStrToFloat(std::string_view text, double& out) {
  std::string value = Trim(text);
  const char separator = Regional().decimal_separator;
  for (char& c : value)
    if (c == separator) c = '.';
  std::string_view view = value;
  if (!view.empty() && view.front() == '+') view.remove_prefix(1);
  // Only decimal notation: digits, one point, an optional exponent.
  bool digit = false;
  for (char c : view) {
    if (c >= '0' && c <= '9') digit = true;
    else if (c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E') return false;
  }
  if (!digit) return false;
  double result = 0;
  auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), result);
  if (error != std::errc() || end != view.data() + view.size()) return false;
  out = result;
  return true;
}

double StrToFloat(std::string_view text) {
  double value = 0;
  if (!TryStrToFloat(text, value))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return value;
}

std::string TrimLeft(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return std::string(text.substr(start));
}

std::string TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

std::string Trim(std::string_view text) { return TrimLeft(TrimRight(text)); }

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

bool SameText(std::string_view a, std::string_view b) { return UpperCase(a) == UpperCase(b); }

}  // namespace qd::fw
