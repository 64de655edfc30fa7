// The function library: each function's edge cases, grouped by function, and
// the date functions under every date format, language and century setting.
#include <cmath>
#include <limits>

#include "expr_test_support.h"

namespace qd::expr_test {
namespace {

class FunctionsTest : public ExprTest {};

TEST_F(FunctionsTest, SearchingAndMeasuring) {
  EXPECT_EQ(Number("AT('', 'ABC')"), 0);
  EXPECT_EQ(Number("AT('B', 'ABC')"), 2);
  EXPECT_EQ(Number("AT('ABCD', 'ABC')"), 0);
  EXPECT_EQ(Number("LEN('AB  ')"), 4);
  EXPECT_EQ(Number("ASC('A')"), 65);
  EXPECT_EQ(Number("ASC('\xe9')"), 233);
  EXPECT_EQ(Number("ASC('')"), 0);
}

TEST_F(FunctionsTest, Characters) {
  EXPECT_EQ(Text("CHR(65)"), "A");
  EXPECT_EQ(Text("CHR(0)"), "");
  EXPECT_EQ(Text("CHR(256)"), "");
  EXPECT_EQ(Text("CHR(321)"), "A");
  EXPECT_EQ(Text("CHR(-191)"), "A");  // low 8 bits
  EXPECT_EQ(Text("CHR(-5)"), "\xfb");
  EXPECT_EQ(Text("CHR(65.9)"), "A");
  EXPECT_EQ(Text("CHR(1E300)").size(), 1u);
  EXPECT_EQ(Text("SPACE(3)"), "   ");
  EXPECT_EQ(Text("SPACE(-5)"), "");
  EXPECT_EQ(Text("SPACE(1000)").size(), 255u);
  EXPECT_EQ(Text("REPLICATE('ab', 3)"), "ababab");
  EXPECT_EQ(Text("REPLICATE('ab', -1)"), "");
  EXPECT_EQ(Text("REPLICATE('', 5)"), "");
  EXPECT_EQ(Text("REPLICATE('abc', 1E9)").size(), 255u);
}

TEST_F(FunctionsTest, LeftRightSubstrStuff) {
  EXPECT_EQ(Text("LEFT('ABC', 5)"), "ABC");
  EXPECT_EQ(Text("LEFT('ABC', 2)"), "AB");
  EXPECT_EQ(Text("LEFT('ABC', 0.9)"), "");
  EXPECT_EQ(Text("LEFT('ABC', -1)"), "");
  EXPECT_EQ(Text("RIGHT('ABC', 2)"), "BC");
  EXPECT_EQ(Text("RIGHT('ABC', 5)"), "ABC");
  EXPECT_EQ(Text("RIGHT('ABC', -3)"), "ABC");
  EXPECT_EQ(Text("RIGHT('ABC', 2) + 'x'"), "BCx");  // the pool stays consistent
  EXPECT_EQ(Text("SUBSTR('ABCDEF', 0, 2)"), "AB");
  EXPECT_EQ(Text("SUBSTR('ABCDEF', -5, 2)"), "AB");
  EXPECT_EQ(Text("SUBSTR('ABCDEF', 3, 100)"), "CDEF");
  EXPECT_EQ(Text("SUBSTR('ABCDEF', 7, 1)"), "");
  EXPECT_EQ(Text("SUBSTR('ABCDEF', 2, -1)"), "");
  EXPECT_EQ(Text("STUFF('ABCDEF', 2, 3, 'xy')"), "AxyEF");
  EXPECT_EQ(Text("STUFF('ABC', 5, 1, 'X')"), "ABCX");
  EXPECT_EQ(Text("STUFF('ABC', 0, 1, 'X')"), "XABC");
  EXPECT_EQ(Text("STUFF('ABC', 2, 0, 'X')"), "AXBC");
  EXPECT_EQ(Text("STUFF('ABC', 2, 99, '')"), "A");
  EXPECT_EQ(Text("STUFF('', 3, 2, 'X')"), "X");
  EXPECT_EQ(Text("STUFF(SPACE(200), 1, 0, SPACE(200))").size(), 255u);
}

TEST_F(FunctionsTest, TrimAndCase) {
  EXPECT_EQ(Text("TRIM('  A B  ')"), "  A B");
  EXPECT_EQ(Text("LTRIM('  A B  ')"), "A B  ");
  EXPECT_EQ(Text("TRIM('   ')"), "");
  EXPECT_EQ(Text("LTRIM(TRIM('  x  ')) + '|'"), "x|");
  EXPECT_EQ(Text("TRIM('a\t')"), "a\t");  // blanks only
  EXPECT_EQ(Text("UPPER('abc xyz 1')"), "ABC XYZ 1");
  EXPECT_EQ(Text("LOWER('ABC XYZ 1')"), "abc xyz 1");
  // The ANSI code page's accented letters change case too.
  EXPECT_EQ(Text("UPPER('\xe9\xe0')"), "\xc9\xc0");
  EXPECT_EQ(Text("LOWER('\xc9')"), "\xe9");
}

TEST_F(FunctionsTest, Numbers) {
  EXPECT_EQ(Number("ABS(-2.5)"), 2.5);
  EXPECT_EQ(Number("INT(-2.5)"), -2);
  EXPECT_EQ(Number("ROUND(2.567, 2)"), 2.56);
  EXPECT_EQ(Number("ROUND(-2.567, 1)"), -2.5);
  EXPECT_EQ(Number("ROUND(2.999, 0)"), 2);
  EXPECT_EQ(Number("ROUND(2.5, -1)"), 2);
  // Scaling stops once no fraction is left: no overflow for huge counts.
  EXPECT_EQ(Number("ROUND(2.5, 1000000)"), 2.5);
  EXPECT_EQ(Number("ROUND(0.1, 400)"), 0.1);
  EXPECT_EQ(Number("ROUND(12345678.25, 999)"), 12345678.25);
  EXPECT_EQ(Number("MOD(-7, 3)"), -1);
  EXPECT_EQ(Number("MOD(7, -3)"), 1);
  EXPECT_EQ(Number("MOD(7.9, 3.9)"), 1);
  EXPECT_EQ(Number("MOD(7, 0)"), 7);
  EXPECT_EQ(Number("MOD(7, 0.5)"), 7);
  EXPECT_EQ(Number("MOD(-9E18, -1)"), 0);
  EXPECT_EQ(Number("MAX(1, 2)"), 2);
  EXPECT_EQ(Number("MAX(-1, -2)"), -1);
  const Value later = Eval("MAX(CTOD('01/01/99'), CTOD('12/31/98'))");
  EXPECT_EQ(later.type, 'D');
  EXPECT_EQ(later.number, DtosToJulian("19990101"));
  EXPECT_EQ(Number("MIN(CTOD('01/01/99'), CTOD('12/31/98'))"), DtosToJulian("19981231"));
}

TEST_F(FunctionsTest, Str) {
  EXPECT_EQ(Text("STR(3.7)"), "         4");
  EXPECT_EQ(Text("STR(-2.5)"), "        -3");
  EXPECT_EQ(Text("STR(-0.4)"), "         0");
  EXPECT_EQ(Text("STR(1234.5, 3)"), "***");
  EXPECT_EQ(Text("STR(5, 0)"), "");
  EXPECT_EQ(Text("STR(5, -1)"), "");
  EXPECT_EQ(Text("STR(3.14159, 8, 3)"), "   3.142");
  EXPECT_EQ(Text("STR(2.675, 6, 2)"), "  2.68");
  EXPECT_EQ(Text("STR(99.96, 5, 1)"), "100.0");
  EXPECT_EQ(Text("STR(99.96, 4, 1)"), "****");
  EXPECT_EQ(Text("STR(42, 5, -2)"), "   42");
  EXPECT_EQ(Text("STR(1, 300)").size(), 255u);
  EXPECT_EQ(Text("STR(1E300, 20)"), std::string(20, '*'));
  // Non-finite numbers give asterisks.
  EXPECT_EQ(Text("STR(1E308 * 10, 6)"), "******");
  EXPECT_EQ(Text("STR((1E308 * 10) - (1E308 * 10), 4)"), "****");
}

TEST_F(FunctionsTest, Val) {
  EXPECT_EQ(Number("VAL('  -12.5  ')"), -12.5);
  EXPECT_EQ(Number("VAL('   ')"), 0);
  EXPECT_EQ(Number("VAL('12AB')"), 12);
  EXPECT_EQ(Number("VAL('+7')"), 7);
  EXPECT_EQ(Number("VAL('1.5E2')"), 150);
  EXPECT_EQ(Number("VAL('1.5e-1x')"), 0.15);
  EXPECT_EQ(Number("VAL('2E')"), 2);
  EXPECT_EQ(Number("VAL('.5')"), 0.5);
  EXPECT_EQ(Number("VAL('12345678901234567890')"), 12345678901234567890.0);
}

TEST_F(FunctionsTest, Soundex) {
  EXPECT_EQ(Text("SOUNDEX('Robert')"), "R163");
  EXPECT_EQ(Text("SOUNDEX('Tymczak')"), "T522");
  EXPECT_EQ(Text("SOUNDEX('1ABC')"), "1120");
  EXPECT_EQ(Text("SOUNDEX('')"), "0000");
  EXPECT_EQ(Text("SOUNDEX('a')"), "A000");
  EXPECT_EQ(Text("SOUNDEX('B-B-B')"), "B000");  // other characters do not separate
  EXPECT_EQ(Text("SOUNDEX(SPACE(101) + 'Robert')"), " 000");
}

TEST_F(FunctionsTest, IifEvaluatesBothBranches) {
  EXPECT_EQ(Text("IIF(.T., 'yes', 'no')"), "yes");
  EXPECT_EQ(Text("IIF(1 > 2, 'a', 'bbbb') + '|'"), "bbbb|");
  // The unused branch still runs (its division is reported).
  EXPECT_EQ(Text("IIF(.T., 'a', STR(1 / 0))"), "a");
  EXPECT_EQ(ErrorCode, 358);
}

TEST_F(FunctionsTest, RecordFunctions) {
  // Without a table: DELETED is false and RECNO 0.
  Select(5);
  EXPECT_FALSE(Logical("DELETED()"));
  EXPECT_EQ(Number("RECNO()"), 0);
  Open(1, "marks", {{"A", 'C', 2}}, {"r1", "r2", "r3"}, {false, true, false});
  GoTop();
  EXPECT_FALSE(Logical("DELETED()"));
  EXPECT_EQ(Number("RECNO()"), 1);
  Skip(1);
  EXPECT_TRUE(Logical("DELE()"));
  EXPECT_EQ(Number("RECN()"), 2);
}

TEST_F(FunctionsTest, DateParts) {
  EXPECT_EQ(Number("YEAR(CTOD('12/31/1999'))"), 99);
  EXPECT_EQ(Text("DTOS(CTOD('12/31/1999'))"), "19991231");
  EXPECT_EQ(Number("MONTH(CTOD('12/31/99'))"), 12);
  EXPECT_EQ(Number("DAY(CTOD('12/31/99'))"), 31);
  EXPECT_EQ(Number("DOW(CTOD('03/15/99'))"), 2);  // a Monday
  CenturyOn = true;
  EXPECT_EQ(Number("YEAR(CTOD('12/31/1999'))"), 1999);
  CenturyOn = false;
  // Empty and impossible dates.
  EXPECT_EQ(Number("CTOD('')"), BlankDateValue);
  EXPECT_EQ(Number("CTOD('02/30/99')"), BlankDateValue);
  EXPECT_EQ(Number("YEAR(CTOD(''))"), 0);
  EXPECT_EQ(Text("DTOS(CTOD(''))"), "        ");
  EXPECT_EQ(Text("DTOC(CTOD(''))"), "  /  /  ");
  EXPECT_EQ(Text("CDOW(CTOD(''))"), std::string(10, ' '));
  EXPECT_EQ(Text("CMONTH(CTOD(''))"), std::string(9, ' '));
  // CTOD reads the first 10 characters.
  EXPECT_EQ(Number("CTOD('03/15/1999xyz')"), DtosToJulian("19990315"));
  // DATE() is today.
  int year, month, day, weekday;
  Today(year, month, day, weekday);
  EXPECT_EQ(Number("DATE()"), JulianDate(year, month, day));
}

TEST_F(FunctionsTest, DateTextsInEveryFormatAndLanguage) {
  // 15 March 1999, a Monday.
  struct Format {
    int code;
    const char* short_form;
    const char* long_form;
    const char* day_name;
    const char* month_name;
  };
  const std::vector<Format> formats = {
      {0, "03/15/99", "03/15/1999", "Monday   ", "March    "},
      {1, "99.03.15", "1999.03.15", "Monday   ", "March    "},
      {2, "15/03/99", "15/03/1999", "Monday   ", "March    "},
      {3, "15-03-99", "15-03-1999", "Lunedi   ", "Marzo    "},
      {4, "15.03.99", "15.03.1999", "Lundi   ", "Mars     "},
      {5, "15.03.99", "15.03.1999", "Montag    ", "M\x84rz     "},
      {6, "15.03.99", "15.03.1999", "Lunes    ", "Marzo     "},
      {7, "15.03.99", "15.03.1999", "Lundi   ", "Mars     "},
      {8, nullptr, nullptr, "\x8F\xAE\xAD\xA5\xA4\xA5\xAB\xEC\xAD\xA8\xAA", "\x8C\xA0\xE0\xE2    "},
  };
  Open(1, "days", {{"D", 'D', 8}}, {"19990315"});
  for (const Format& f : formats) {
    for (const bool century : {false, true}) {
      SetDateFormat(static_cast<std::uint8_t>(f.code));
      CenturyOn = century;
      const std::string shown = Text("DTOC(D)");
      if (f.short_form != nullptr) {
        EXPECT_EQ(shown, century ? f.long_form : f.short_form) << f.code;
      }
      EXPECT_EQ(shown.size(), century ? 10u : 8u) << f.code;
      // CTOD reads the display form of the current format back.
      EXPECT_EQ(Number("CTOD(DTOC(D))"), DtosToJulian("19990315")) << f.code << century;
      EXPECT_EQ(Text("CDOW(D)"), f.day_name) << f.code;
      EXPECT_EQ(Text("CMONTH(D)"), f.month_name) << f.code;
      EXPECT_EQ(Number("YEAR(D)"), century ? 1999 : 99) << f.code;
    }
  }
  SetDateFormat(0);
  CenturyOn = false;
}

}  // namespace
}  // namespace qd::expr_test
