// The date unit's settings, start-up rules and display-form operations:
// reading a display date in the order of the current format, writing it back,
// validating it and taking it apart.
#include "foundation/dates.h"

#include <algorithm>

#include "foundation/date_text.h"
#include "platform/platform.h"

namespace qd {

using date_text::CutDisplay;
using date_text::NumberAt;
using date_text::ReadNumber;
using date_text::TrimControls;

namespace {

// The format code in force; a stray value above 8 reads as 0.
std::uint8_t CurrentFormat() { return DateFormat > 8 ? 0 : DateFormat; }

std::string_view YearBlanks() { return CenturyOn ? "    " : "  "; }

// Splits at `separator` into the text before the first one, the text between
// the first and the second, and the rest; each trimmed and kept to at most
// four characters.
void SplitParts(std::string_view text, char separator, std::string_view (&parts)[3]) {
  parts[0] = parts[1] = parts[2] = {};
  std::size_t start = 0;
  int index = 0;
  for (std::size_t i = 0; i < text.size() && index < 2; ++i) {
    if (text[i] == separator) {
      parts[index++] = text.substr(start, i - start);
      start = i + 1;
    }
  }
  parts[index] = text.substr(start);
  for (auto& part : parts) part = TrimControls(part).substr(0, 4);
}

bool AllEmpty(const std::string_view (&parts)[3]) {
  return parts[0].empty() && parts[1].empty() && parts[2].empty();
}

constexpr std::string_view kCanonicalEmpty = "  /  /  ";
constexpr std::string_view kCanonicalEmptyCentury = "  /  /    ";

std::string_view CanonicalEmpty() { return CenturyOn ? kCanonicalEmptyCentury : kCanonicalEmpty; }

// The first two digits of the window's century base for a two-digit year,
// written with four digits ("19" for 1900).
void CenturyPair(std::string_view two_digit_year, char (&pair)[2]) {
  std::string base;
  date_text::AppendPadded(base, CenturyOf(two_digit_year), 4);
  pair[0] = base[0];
  pair[1] = base[1];
}

}  // namespace

void date_text::DateBuffer::PutYear(std::string_view part) {
  char padded[2] = {'0', '0'};
  if (part.size() < 2) {
    if (!part.empty()) padded[1] = part[0];
    part = std::string_view(padded, 2);
  }
  if (CenturyOn) {
    if (part.size() == 2) {
      char pair[2];
      CenturyPair(part, pair);
      Put(std::string_view(pair, 2));
    } else {
      for (std::size_t i = part.size(); i < 4; ++i) Put('0');
    }
  }
  Put(part);
}

void date_text::CanonicalDate(std::string_view date, DateBuffer& out) {
  out.size = 0;
  // Cut at NUL and to ten characters, and find the separator on the way:
  // "/" wins over "-", and "-" over ".".
  std::string_view text = date.substr(0, 10);
  char separator = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\0') {
      text = text.substr(0, i);
      break;
    }
    if (c == '/') {
      separator = '/';
    } else if (c == '-' && separator != '/') {
      separator = '-';
    } else if (c == '.' && separator == 0) {
      separator = '.';
    }
  }
  if (separator == 0) {
    out.Put(text);
    return;
  }

  std::string_view parts[3];
  SplitParts(text, separator, parts);
  if (AllEmpty(parts)) {
    out.Put(CanonicalEmpty());
    return;
  }

  std::string_view month, day, year;
  switch (CurrentFormat()) {
    case 0: month = parts[0]; day = parts[1]; year = parts[2]; break;
    case 1: year = parts[0]; month = parts[1]; day = parts[2]; break;
    default: day = parts[0]; month = parts[1]; year = parts[2]; break;
  }
  out.PutPart(month);
  out.Put('/');
  out.PutPart(day);
  out.Put('/');
  out.PutYear(year);
}

namespace {

using date_text::DateBuffer;

// The canonical form of a display date, held in a small buffer.
struct Canonical : DateBuffer {
  explicit Canonical(std::string_view date) { date_text::CanonicalDate(date, *this); }
  operator std::string_view() const { return View(); }
};

bool IsCanonicalEmpty(std::string_view canonical) { return canonical == CanonicalEmpty(); }

// The full year of a canonical date: the two digits of an 8-character text
// placed in the window, else up to four characters from position 7.
int CanonicalYear(std::string_view canonical) {
  if (canonical.size() == 8) {
    const auto digits = canonical.substr(6, 2);
    return NumberAt(digits, 0, 2) + CenturyOf(digits);
  }
  return NumberAt(canonical, 6, 4);
}

struct Language {
  int day_width;
  int month_width;
  const char* days[7];
  const char* months[12];
};

// Day names from Sunday, month names from January, in the DOS code page of
// each language (850 for French and German, 866 for Russian).
constexpr Language kLanguages[] = {
    // English
    {9, 9, {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
     {"January", "February", "March", "April", "May", "June", "July", "August", "September",
      "October", "November", "December"}},
    // Italian
    {9, 9, {"Domenica", "Lunedi", "Martedi", "Mercoledi", "Giovedi", "Venerdi", "Sabato"},
     {"Gennaio", "Febbraio", "Marzo", "Aprile", "Maggio", "Giugno", "Luglio", "Agosto",
      "Settembre", "Ottobre", "Novembre", "Dicembre"}},
    // French
    {8, 9, {"Dimanche", "Lundi", "Mardi", "Mercredi", "Jeudi", "Vendredi", "Samedi"},
     {"Janvier", "F\x82vrier", "Mars", "Avril", "Mai", "Juin", "Juillet", "Ao\x96t", "Septembre",
      "Octobre", "Novembre", "D\x82" "cembre"}},
    // German
    {10, 9, {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"},
     {"Januar", "Februar", "M\x84rz", "April", "Mai", "Juni", "Juli", "August", "September",
      "Oktober", "November", "Dezember"}},
    // Spanish
    {9, 10, {"Domingo", "Lunes", "Martes", "Miercoles", "Jueves", "Viernes", "Sabado"},
     {"Enero", "Febrero", "Marzo", "Abril", "Mayo", "Junio", "Julio", "Agosto", "Septiembre",
      "Octubre", "Noviembre", "Diciembre"}},
    // Russian
    {11, 8,
     {"\x82\xAE\xE1\xAA\xE0\xA5\xE1\xA5\xAD\xEC\xA5", "\x8F\xAE\xAD\xA5\xA4\xA5\xAB\xEC\xAD\xA8\xAA",
      "\x82\xE2\xAE\xE0\xAD\xA8\xAA", "\x91\xE0\xA5\xA4\xA0", "\x97\xA5\xE2\xA2\xA5\xE0\xA3",
      "\x8F\xEF\xE2\xAD\xA8\xE6\xA0", "\x91\xE3\xA1\xA1\xAE\xE2\xA0"},
     {"\x9F\xAD\xA2\xA0\xE0\xEC", "\x94\xA5\xA2\xE0\xA0\xAB\xEC", "\x8C\xA0\xE0\xE2",
      "\x80\xAF\xE0\xA5\xAB\xEC", "\x8C\xA0\xA9", "\x88\xEE\xAD\xEC", "\x88\xEE\xAB\xEC",
      "\x80\xA2\xA3\xE3\xE1\xE2", "\x91\xA5\xAD\xE2\xEF\xA1\xE0\xEC",
      "\x8E\xAA\xE2\xEF\xA1\xE0\xEC", "\x8D\xAE\xEF\xA1\xE0\xEC", "\x84\xA5\xAA\xA0\xA1\xE0\xEC"}},
};

// The language of each format code 0 to 8.
constexpr int kLanguageOfFormat[9] = {0, 0, 0, 1, 2, 3, 4, 2, 5};

const Language& CurrentLanguage() { return kLanguages[kLanguageOfFormat[CurrentFormat()]]; }

std::string Padded(const char* name, int width) {
  std::string out(name);
  if (out.size() < static_cast<std::size_t>(width)) out.resize(static_cast<std::size_t>(width), ' ');
  return out;
}

bool IsEmptyForNames(std::string_view canonical) {
  auto end = canonical.find_last_not_of(' ');
  return canonical.substr(0, end == std::string_view::npos ? 0 : end + 1) == "  /  /";
}

}  // namespace

// ------------------------------------------------------------- settings ---

std::uint8_t DateFormatForLangID(std::uint16_t lang_id) {
  const int primary = lang_id & 0x3FF;
  const int sub = lang_id >> 10;
  switch (primary) {
    case 7: return 5;                   // German
    case 9: return sub == 1 ? 0 : 2;    // English: US, else day first
    case 10: return 6;                  // Spanish
    case 12: return sub == 3 ? 7 : 4;   // French: sub-language 3 (Canada) apart
    case 16: return 3;                  // Italian
    case 25: return 8;                  // Russian
    default: return 0;
  }
}

void InitDateUnit(std::uint16_t lang_id, int current_year) {
  LocaleDateFormat = DateFormatForLangID(lang_id);
  DateFormat = LocaleDateFormat;
  CenturyOn = false;
  if (DateFormat >= 3 && DateFormat <= 6) {
    DecimalChar = ',';
    ThousandsChar = '.';
  } else if (DateFormat == 8) {
    DecimalChar = '.';
    ThousandsChar = ' ';
  } else {
    DecimalChar = '.';
    ThousandsChar = ',';
  }
  EpochYear = static_cast<std::uint16_t>(std::clamp(current_year - 70, 0, 65535));
}

void InitDateUnit() {
  int year = 0, month = 0, day = 0;
  platform::LocalDate(year, month, day);
  InitDateUnit(platform::UserDefaultLangID(), year);
}

void SetDateFormat(std::uint8_t code) {
  if (code > 8) code = 0;
  DateFormat = code;
  const std::string year = CenturyOn ? "yyyy" : "yy";
  std::string pattern;
  char separator = '.';
  switch (code) {
    case 0: pattern = "MM/dd/" + year; separator = '/'; break;
    case 1: pattern = year + ".MM.dd"; break;
    case 2: pattern = "dd/MM/" + year; separator = '/'; break;
    case 3: pattern = "dd-MM-" + year; separator = '-'; break;
    default: pattern = "dd.MM." + year; break;
  }
  auto& regional = platform::CurrentHost().Regional();
  regional.short_date_pattern = pattern;
  regional.date_separator = separator;
}

std::uint8_t DateFormatFromPattern(std::string_view pattern, char separator) {
  std::string upper(pattern);
  for (auto& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  CenturyOn = upper.find("YYYY") != std::string::npos;
  if (upper.empty()) return 0;
  if (upper[0] == 'D') return separator == '-' ? 3 : separator == '.' ? 5 : 2;
  if (upper[0] == 'Y') return 1;
  return 0;
}

std::int32_t SecondsCounter() { return static_cast<std::int32_t>(platform::TickCount() / 1000); }

void Today(int& year, int& month, int& day, int& day_of_week) {
  platform::LocalDate(year, month, day);
  const double number = JulianDate(year, month, day);
  // Day number 0 fell on a Monday, so (number + 1) mod 7 is 0 on Sundays.
  day_of_week = number == BlankDateValue
                    ? 0
                    : static_cast<int>(static_cast<std::int64_t>(number + 1) % 7) + 1;
}

// ------------------------------------------------------- display forms ---

void NormalizeDate(std::string& date) { date = std::string(Canonical(date).View()); }

void FormatDate(std::string& date) {
  std::string_view parts[3];
  SplitParts(CutDisplay(date), '/', parts);
  if (AllEmpty(parts)) {
    date = BlankDate(CurrentFormat());
    return;
  }
  const std::string_view month = parts[0], day = parts[1], year = parts[2];
  DateBuffer out;
  switch (CurrentFormat()) {
    case 0:
      out.PutPart(month);
      out.Put('/');
      out.PutPart(day);
      out.Put('/');
      out.PutYear(year);
      break;
    case 1:
      out.PutYear(year);
      out.Put('.');
      out.PutPart(month);
      out.Put('.');
      out.PutPart(day);
      break;
    default: {
      const char separator = CurrentFormat() == 2 ? '/' : CurrentFormat() == 3 ? '-' : '.';
      out.PutPart(day);
      out.Put(separator);
      out.PutPart(month);
      out.Put(separator);
      out.PutYear(year);
      break;
    }
  }
  date = std::string(out.View());
}

std::string BlankDate(std::uint8_t code) {
  std::string out;
  switch (code) {
    case 1: out.append(YearBlanks()).append(".  .  "); return out;
    case 3: out = "  -  -"; break;
    case 4: case 5: case 6: case 7: case 8: out = "  .  ."; break;
    default: out = "  /  /"; break;
  }
  out.append(YearBlanks());
  return out;
}

int CenturyOf(std::string_view two_digit_year) {
  int year = 0;
  ReadNumber(two_digit_year, year);
  const int base = EpochYear / 100 * 100;
  return EpochYear % 100 > year ? base + 100 : base;
}

std::string CenturyDigits(std::string_view two_digit_year) {
  char pair[2];
  CenturyPair(two_digit_year, pair);
  return std::string(pair, 2);
}

std::string ExpandYear(std::string_view year) {
  std::string out(year);
  if (!CenturyOn) return out;
  if (out.size() == 2) out.insert(0, CenturyDigits(year));
  if (out.size() < 4) out.insert(0, 4 - out.size(), '0');
  return out;
}

bool ValidDate(std::string& date) {
  std::string canonical(Canonical(TrimControls(date).substr(0, 10)).View());
  if (!IsCanonicalEmpty(canonical)) {
    const auto length = canonical.size();
    if ((length != 8 && length != 10) || canonical[2] != '/' || canonical[5] != '/') return false;
    int month = 0, day = 0, year = 0;
    if (!ReadNumber(std::string_view(canonical).substr(0, 2), month) ||
        !ReadNumber(std::string_view(canonical).substr(3, 2), day) ||
        !ReadNumber(std::string_view(canonical).substr(6), year)) {
      return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;
    if (month == 2 && day > 29) return false;
    if (day == 31 && (month == 4 || month == 6 || month == 9 || month == 11)) return false;
    if (length == 8) year += CenturyOf(std::string_view(canonical).substr(6, 2));
    // Year 0 does not exist: day numbers and stored forms start at year 1.
    if (year < 1) return false;
    if (month == 2 && day == 29 && !IsLeapYear(year)) return false;
    if (length == 10 && !CenturyOn) canonical.erase(6, 2);
  }
  if (CurrentFormat() != 0) FormatDate(canonical);
  date = canonical;
  return true;
}

namespace {

// Day of the week (1 = Sunday) of a canonical date; 0 for the empty date,
// which falls on no day of the week.
int WeekdayOfCanonical(std::string_view canonical) {
  if (IsCanonicalEmpty(canonical)) return 0;
  int month = NumberAt(canonical, 0, 2);
  const int day = NumberAt(canonical, 3, 2);
  const int year = CanonicalYear(canonical);
  // Zeller's congruence, counting January and February as months 13 and 14
  // of the year before.
  int century = year / 100;
  int in_century = year % 100;
  if (month < 3) {
    month += 12;
    if (in_century == 0) {
      in_century = 99;
      --century;
    } else {
      --in_century;
    }
  }
  const int h = day + (month + 1) * 26 / 10 + in_century + in_century / 4 + century / 4 - 2 * century;
  const int weekday = ((h % 7) + 7) % 7;
  return weekday == 0 ? 7 : weekday;
}

}  // namespace

int DayOfWeek(std::string_view date) { return WeekdayOfCanonical(Canonical(date)); }

std::string DayName(std::string_view date) {
  const Canonical canonical(date);
  if (IsEmptyForNames(canonical)) return std::string(10, ' ');
  const auto& language = CurrentLanguage();
  const int weekday = WeekdayOfCanonical(canonical);
  if (weekday < 1 || weekday > 7) return std::string(10, ' ');
  return Padded(language.days[weekday - 1], language.day_width);
}

std::string MonthName(std::string_view date) {
  const Canonical canonical(date);
  if (IsEmptyForNames(canonical)) return std::string(9, ' ');
  const int month = NumberAt(canonical, 0, 2);
  // A month outside 1 to 12 has no name.
  if (month < 1 || month > 12) return std::string(9, ' ');
  const auto& language = CurrentLanguage();
  return Padded(language.months[month - 1], language.month_width);
}

int DateDay(std::string_view date) { return NumberAt(Canonical(date), 3, 2); }

int DateMonth(std::string_view date) { return NumberAt(Canonical(date), 0, 2); }

int DateYear(std::string_view date) {
  const Canonical canonical(date);
  const std::string_view view = canonical.View();
  int year = 0;
  if (view.size() > 6) ReadNumber(view.substr(6), year);
  return year;
}

std::string DateDigits(std::string_view date) {
  const Canonical canonical(date);
  // An empty display date has the empty stored form.
  if (IsCanonicalEmpty(canonical) || TrimControls(CutDisplay(date)).empty()) {
    return std::string(8, ' ');
  }
  const std::string_view view = canonical.View();
  std::string year(view.size() > 6 ? view.substr(6, 4) : std::string_view());
  if (year.size() < 4) year.insert(0, CenturyDigits(year));
  std::string out = year;
  out.append(view.substr(0, std::min<std::size_t>(2, view.size())));
  if (view.size() > 3) out.append(view.substr(3, 2));
  if (out.size() > 8) out.resize(8);
  return out;
}

}  // namespace qd
