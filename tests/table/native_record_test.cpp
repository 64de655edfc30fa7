// The native record: slot layout for every field type, conversions both
// ways for every date format, overflowing numbers, impossible dates, wide
// integers that need 64 bits, and values kept unchanged through a rewrite.
#include <algorithm>
#include <cstring>
#include <limits>

#include "table/record_updates.h"
#include "table_test_support.h"

namespace qd::table_test {
namespace {

class NativeRecordTest : public TableTest {
 protected:
  // Opens a one-record table with the given fields and raw record text.
  void OpenWith(const std::vector<RawField>& fields, const std::string& record) {
    WriteAll(Path("n.dbf"), BuildDbf(0x03, fields, {record}));
    Use(Path("n") + " exclusive", nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
  }
  std::string Raw() {
    const WorkArea* a = CurrentWorkArea();
    return std::string(a->record.begin(), a->record.end());
  }
  // Sets a text slot's length byte to the text's length, copying only what
  // the slot holds.
  void SetSlotText(int field, const std::string& text) {
    std::uint8_t* p = FieldAddress(field);
    const std::size_t room = CurrentWorkArea()->fields[field - 1].native_size - 1u;
    p[0] = static_cast<std::uint8_t>(text.size());
    std::memcpy(p + 1, text.data(), std::min(room, text.size()));
  }
  template <typename T>
  T Slot(int field) {
    T v;
    std::memcpy(&v, FieldAddress(field), sizeof v);
    return v;
  }
  template <typename T>
  void SetSlot(int field, T v) {
    std::memcpy(FieldAddress(field), &v, sizeof v);
  }
};

TEST_F(NativeRecordTest, LayoutAndReadingEveryType) {
  OpenWith({{"C", 'C', 10}, {"I", 'N', 5}, {"P", 'N', 8, 2}, {"D", 'D', 8}, {"L", 'L', 1},
            {"M", 'M', 10}, {"W", 'N', 12}, {"F", 'F', 9}},
           std::string("*") + "hello     " + "-1234" + " 1234.56" + "19991231" + "y" +
               "        42" + " 12345678901" + "       -7");
  EXPECT_EQ(CurrentWorkArea()->native_size, 40 + 8 + 4);
  EXPECT_EQ(FieldAddress(7) - FieldAddress(0), 40);
  EXPECT_EQ(FieldAddress(8) - FieldAddress(0), 48);
  EXPECT_EQ(*FieldAddress(0), 1);
  EXPECT_EQ(SlotText(1), "hello     ");
  EXPECT_EQ(Slot<std::int32_t>(2), -1234);
  EXPECT_DOUBLE_EQ(Slot<double>(3), 1234.56);
  EXPECT_EQ(SlotText(4), "12/31/99");
  EXPECT_EQ(*FieldAddress(5), 1);
  EXPECT_EQ(Slot<std::int32_t>(6), 42);
  EXPECT_EQ(Slot<std::int64_t>(7), 12345678901LL);
  EXPECT_EQ(Slot<std::int32_t>(8), -7);
}

TEST_F(NativeRecordTest, OddTextReadsSafely) {
  OpenWith({{"I", 'N', 5}, {"P", 'N', 6, 2}, {"L", 'L', 1}, {"M", 'M', 10}},
           "  *****  abc x          ");
  EXPECT_EQ(Slot<std::int32_t>(1), 0);
  EXPECT_DOUBLE_EQ(Slot<double>(2), 0);
  EXPECT_EQ(*FieldAddress(3), 0);
  EXPECT_EQ(Slot<std::int32_t>(4), 0);
  EXPECT_EQ(*FieldAddress(0), 0);
  Close();
  // A zero-length last field reads nothing past the record.
  OpenWith({{"C", 'C', 2}, {"L", 'L', 0}, {"D", 'D', 0}}, " ab");
  EXPECT_EQ(*FieldAddress(2), 0);
  NativeToRecord();
  EXPECT_EQ(Raw(), " ab");
}

TEST_F(NativeRecordTest, DateDisplayFormats) {
  OpenWith({{"D", 'D', 8}, {"E", 'D', 8}}, " 20240305        ");
  const struct {
    std::uint8_t format;
    bool century;
    const char* date;
    const char* blank;
  } cases[] = {
      {0, false, "03/05/24", "  /  /  "},     {0, true, "03/05/2024", "  /  /    "},
      {1, false, "24.03.05", "  .  .  "},     {1, true, "2024.03.05", "    .  .  "},
      {2, false, "05/03/24", "  /  /  "},     {3, true, "05-03-2024", "  -  -    "},
      {4, false, "05.03.24", "  .  .  "},     {8, true, "05.03.2024", "  .  .    "},
  };
  for (const auto& c : cases) {
    DateFormat = c.format;
    CenturyOn = c.century;
    RecordToNative();
    EXPECT_EQ(SlotText(1), c.date) << int(c.format);
    EXPECT_EQ(SlotText(2), c.blank) << int(c.format);
    // And back: the display text gives the stored digits again.
    NativeToRecord();
    EXPECT_EQ(Raw(), " 20240305        ") << int(c.format);
  }
}

TEST_F(NativeRecordTest, WritingDatesChecksEveryText) {
  OpenWith({{"D", 'D', 8}, {"X", 'C', 1}}, " 20240305Z");
  DateFormat = 0;
  CenturyOn = false;
  const struct {
    const char* text;
    const char* stored;
  } cases[] = {
      {"13/45/99", "        "}, {"02/30/99", "        "}, {"1/5/99", "19990105"},
      {"12/31/99", "19991231"}, {"", "        "},         {"  /  /  ", "        "},
      {"garbage", "        "},  {"02/29/96", "19960229"},
  };
  for (const auto& c : cases) {
    SetSlotText(1, c.text);
    NativeToRecord();
    EXPECT_EQ(Raw(), std::string(" ") + c.stored + "Z") << c.text;
  }
  DateFormat = 2;
  SetSlotText(1, "31/12/99");
  NativeToRecord();
  EXPECT_EQ(Raw(), " 19991231Z");
}

TEST_F(NativeRecordTest, WritingEveryTypeStaysInsideItsField) {
  OpenWith({{"A", 'C', 1}, {"C", 'C', 4}, {"B", 'C', 1}, {"I", 'N', 5}, {"E", 'C', 1},
            {"P", 'N', 7, 2}, {"G", 'C', 1}, {"L", 'L', 1}, {"M", 'M', 10}, {"H", 'C', 1}},
           " |abcd|    1|   1.00|T         3|");
  *FieldAddress(0) = 1;
  SetSlotText(2, "toolongtext");
  SetSlot<std::int32_t>(4, 123456);
  SetSlot<double>(6, -2.345);
  *FieldAddress(8) = 0;
  SetSlot<std::int32_t>(9, 1234);
  NativeToRecord();
  EXPECT_EQ(Raw(), "*|tool|*****|  -2.35|F      1234|");
  SetSlotText(2, "x");
  SetSlot<std::int32_t>(4, -9999);
  SetSlot<double>(6, 12345.678);
  NativeToRecord();
  EXPECT_EQ(Raw(), "*|x   |-9999|*******|F      1234|");
  SetSlot<double>(6, -0.001);
  SetSlot<double>(6, std::numeric_limits<double>::infinity());
  NativeToRecord();
  EXPECT_EQ(Raw().substr(13, 7), "*******");
  SetSlot<double>(6, -0.001);
  NativeToRecord();
  EXPECT_EQ(Raw().substr(13, 7), "   0.00");
}

TEST_F(NativeRecordTest, WideIntegersUseSixtyFourBitsAndSurviveRewrites) {
  OpenWith({{"N9", 'N', 9}, {"N10", 'N', 10}, {"N18", 'N', 18}, {"F20", 'F', 20, 2}},
           std::string(" ") + "-99999999" + "9999999999" + "999999999999999999" +
               "  123456789012345.67");
  WorkArea* area = CurrentWorkArea();
  EXPECT_EQ(area->fields[0].native_size, 4);
  EXPECT_EQ(area->fields[1].native_size, 8);
  EXPECT_EQ(area->fields[2].native_size, 8);
  EXPECT_EQ(Slot<std::int32_t>(1), -99999999);
  EXPECT_EQ(Slot<std::int64_t>(2), 9999999999LL);
  EXPECT_EQ(Slot<std::int64_t>(3), 999999999999999999LL);
  const std::string before = Raw();
  NativeToRecord();  // rewriting unchanged values changes nothing
  EXPECT_EQ(Raw(), before);
  Go(1);
  Replace();
  Close();
  Use(Path("n") + " exclusive", nullptr, 0);
  EXPECT_EQ(Raw(), before);
  // A changed value is written from the slot.
  SetSlot<std::int64_t>(3, -12345678901234567LL);
  SetSlot<double>(4, 0.5);
  NativeToRecord();
  EXPECT_EQ(Raw(), std::string(" ") + "-99999999" + "9999999999" + "-12345678901234567" +
                      "                0.50");
}

// Integer fields of 19 digits or more and every numeric field wider than 20
// hold values that no 64-bit slot carries exactly: their slot is the stored
// text, so no value reads as another number, an unchanged one is written
// back as stored and a new one is written in the field's form.
TEST_F(NativeRecordTest, NumbersNoBinarySlotHoldsKeepTheirText) {
  const std::string record = std::string(" ") + "9999999999999999999" +
                             "-9999999999999999999" + std::string(30, '9') +
                             "    -122.419415999999998" + "-99999999999999999";
  OpenWith({{"N19", 'N', 19}, {"N20", 'N', 20}, {"BIG", 'N', 30}, {"GIS", 'N', 24, 15},
            {"N18", 'N', 18}},
           record);
  WorkArea* area = CurrentWorkArea();
  const int sizes[] = {20, 21, 31, 25, 8};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(area->fields[i].native_size, sizes[i]) << i;
  EXPECT_EQ(SlotText(1), "9999999999999999999");
  EXPECT_EQ(SlotText(2), "-9999999999999999999");
  EXPECT_EQ(SlotText(3), std::string(30, '9'));
  EXPECT_EQ(SlotText(4), "    -122.419415999999998");
  EXPECT_EQ(Slot<std::int64_t>(5), -99999999999999999LL);
  Go(1);
  Replace();
  Close();
  Use(Path("n") + " exclusive", nullptr, 0);
  EXPECT_EQ(Raw(), record);

  // New values: trimmed, then formatted with the field's decimals (rounded
  // half away from zero in decimal); what does not fit or is no number
  // becomes asterisks; an empty text a blank field.
  const struct {
    int field;
    std::string text;
    std::string stored;
  } cases[] = {
      {1, "-123", std::string(15, ' ') + "-123"},
      {1, "  0042 ", std::string(17, ' ') + "42"},
      {2, "", std::string(20, ' ')},
      {2, "abc", std::string(20, '*')},
      {2, "1e5", std::string(20, '*')},
      {4, "123456789.5", std::string(24, '*')},  // 25 characters with its decimals
      {3, "12.5", std::string(28, ' ') + "13"},
      {4, "1.5", "       1.500000000000000"},
      {4, "-0.0000000000000004", "       0.000000000000000"},
      {4, "0.0000000000000005", "       0.000000000000001"},
      {4, "-.9999999999999995", "      -1.000000000000000"},
  };
  for (const auto& c : cases) {
    SetSlotText(c.field, c.text);
    NativeToRecord();
    const FieldEntry& f = CurrentWorkArea()->fields[static_cast<std::size_t>(c.field - 1)];
    EXPECT_EQ(Raw().substr(f.offset, f.length), c.stored) << c.text;
  }
}

// Only dBASE number texts (blanks, a sign, digits and one decimal point)
// read as numbers; any other text reads as 0 and, left unchanged, is
// written back as it was.
TEST_F(NativeRecordTest, OnlyNumberTextsReadAsNumbers) {
  const struct {
    std::string text;  // eight characters
    std::int32_t integer;
    double fraction;
  } cases[] = {
      {"     nan", 0, 0},   {"     inf", 0, 0},     {"    -inf", 0, 0},   {"infinity", 0, 0},
      {"     1e5", 0, 0},   {"    0x1F", 0, 0},     {"   12abc", 0, 0},   {"   - 7  ", 0, 0},
      {"    1 2 ", 0, 0},   {"       .", 0, 0},     {"       -", 0, 0},   {"   12,5 ", 0, 0},
      {"   -12  ", -12, -12}, {"     12.", 12, 12}, {"     .25", 0, 0.25}, {"      +7", 7, 7},
      {"  -1.75 ", -1, -1.75}, {"00000042", 42, 42},
      {std::string("\0\0\0\0\0\0 5", 8), 5, 5},  // zero bytes count as blanks
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    OpenWith({{"I", 'N', 8}, {"P", 'N', 8, 2}, {"W", 'N', 12}},
             " " + c.text + c.text + "    " + c.text);
    EXPECT_EQ(Slot<std::int32_t>(1), c.integer);
    EXPECT_EQ(Slot<double>(2), c.fraction);
    EXPECT_EQ(Slot<std::int64_t>(3), c.integer);
    const std::string before = Raw();
    Go(1);
    Replace();
    EXPECT_EQ(Raw(), before);
    Close();
  }
}

TEST_F(NativeRecordTest, ClearRecordBlanksBothBuffers) {
  OpenWith({{"C", 'C', 3}, {"N", 'N', 4}, {"D", 'D', 8}, {"M", 'M', 10}},
           "*abc  1220240101         7");
  ClearRecord();
  EXPECT_EQ(Raw(), std::string(26, ' '));
  EXPECT_EQ(*FieldAddress(0), 0);
  EXPECT_EQ(SlotText(1), "   ");
  EXPECT_EQ(Slot<std::int32_t>(2), 0);
  EXPECT_EQ(SlotText(3), "  /  /  ");
  // Written back over the blank record every field stays blank. A new
  // record takes its number from the slot: an explicit 0; the date and the
  // memo reference stay empty.
  NativeToRecord();
  EXPECT_EQ(Raw(), std::string(26, ' '));
  Append();
  EXPECT_EQ(Raw(), std::string(4, ' ') + "   0" + std::string(18, ' '));
}

// Rewriting a record for one field leaves every other field as stored, also
// those whose text is no value the slot could write: blanks, "?" and
// asterisks.
TEST_F(NativeRecordTest, RewritingOneFieldKeepsTheOthersAsStored) {
  const std::string record = std::string(" ") + "Ann  " + "     " + "        " + "?" + "***" +
                             "        " + "          " + "  ***.*" + "x" + "  -0";
  OpenWith({{"NAME", 'C', 5}, {"QTY", 'N', 5}, {"PRICE", 'N', 8, 2}, {"OK", 'L', 1},
            {"OVER", 'N', 3}, {"BORN", 'D', 8}, {"NOTES", 'M', 10}, {"RATE", 'F', 7, 1},
            {"YES", 'L', 1}, {"ZERO", 'N', 4}},
           record);
  Go(1);
  SetSlotText(1, "Bob");
  Replace();
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  std::string expected = record;
  expected.replace(1, 5, "Bob  ");
  EXPECT_EQ(Raw(), expected);
  Close();
  Use(Path("n") + " exclusive", nullptr, 0);
  EXPECT_EQ(Raw(), expected);
  // A value the caller did change is written; a 0 given to a blank number
  // still reads as its text and leaves it blank.
  SetSlot<std::int32_t>(2, 0);
  *FieldAddress(4) = 1;
  NativeToRecord();
  EXPECT_EQ(Raw().substr(6, 5), "     ");
  EXPECT_EQ(Raw().substr(19, 1), "T");
  SetSlot<std::int32_t>(2, 7);
  NativeToRecord();
  EXPECT_EQ(Raw().substr(6, 5), "    7");
}

}  // namespace
}  // namespace qd::table_test
