// The dataset's field classes and helpers: numeric field sizes, engine date
// text to date-time numbers in both modes, and the warning display.
#include "dataset/dataset_test_support.h"
#include "dataset/field_classes.h"

namespace qd::dataset_test {
namespace {

using fw::EncodeDate;

TEST(FieldClassesTest, NumericFieldsTakeTheTableFieldLength) {
  TQdIntegerField integer(nullptr);
  TQdLargeintField large(nullptr);
  TQdFloatField floating(nullptr);
  for (fw::TField* field : std::initializer_list<fw::TField*>{&integer, &large, &floating}) {
    field->SetSize(20);
    EXPECT_EQ(field->Size(), 20);
    EXPECT_THROW(field->SetSize(21), fw::EDatabaseError);
    EXPECT_THROW(field->SetSize(-1), fw::EDatabaseError);
  }
  fw::TIntegerField plain(nullptr);
  EXPECT_THROW(plain.SetSize(5), fw::EDatabaseError);
}

TEST_F(DatasetTest, EngineDateTextToDateTime) {
  struct Case {
    int code;
    bool century;
    const char* text;
    fw::TDateTime expected;
  };
  const Case cases[] = {
      {0, false, "12/31/99", EncodeDate(1999, 12, 31)},
      {0, false, "01/01/55", EncodeDate(2055, 1, 1)},  // the window runs 1956 to 2055
      {0, false, "  1/5/99", EncodeDate(1999, 1, 5)},
      {0, false, "12/31/1899", EncodeDate(1899, 12, 31)},  // a written century is kept
      {0, false, "  /  /  ", 0},
      {1, false, "99.12.31", EncodeDate(1999, 12, 31)},
      {1, true, "    .  .  ", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CenturyOn = c.century;
    SetDateFormat(static_cast<std::uint8_t>(c.code));
    EXPECT_EQ(DateTextToDateTime(c.text, false), c.expected);
    EXPECT_EQ(DateTextToDateTime(c.text, true), c.expected);
  }
  CenturyOn = false;
  SetDateFormat(0);
  // Text the engine does not take: lenient mode gives a blank date, strict
  // mode leaves it to the host's date reading.
  EXPECT_EQ(DateTextToDateTime("13/45/99", false), 0);
  EXPECT_EQ(DateTextToDateTime("02/30/99", false), 0);
  EXPECT_THROW(DateTextToDateTime("13/45/99", true), fw::EConvertError);
  EXPECT_THROW(DateTextToDateTime("soon", true), fw::EConvertError);
  EXPECT_EQ(DateTextToDateTime("", true), 0);
}

TEST_F(DatasetTest, WarningsAreFormattedAndShownFromTheOemSet) {
  ShowWarning("Lock failed [%s] after %d tries", {"Insert", "3"});
  ShowWarning("M\x81nchen");
  ASSERT_EQ(host_.host.boxes.size(), 2u);
  EXPECT_EQ(host_.host.boxes[0].text, "Lock failed [Insert] after 3 tries");
  EXPECT_EQ(host_.host.boxes[1].text, "M\xFCnchen");
}

}  // namespace
}  // namespace qd::dataset_test
