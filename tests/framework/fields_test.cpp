// Field objects over the in-memory dataset: conversions between the native
// forms and text or numbers, null values, validation, required fields and
// size checks.
#include <gtest/gtest.h>

#include <limits>

#include "framework/dataset.h"
#include "memory_dataset.h"
#include "support/recording_host.h"
#include "support/messages.h"

namespace qd::fw {
namespace {

using testing::MemoryDataSet;
using test_support::MessageOf;

class FieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& regional = scope.host.Regional();
    regional.short_date_pattern = "dd/MM/yyyy";
    regional.date_separator = '.';
    regional.decimal_separator = ',';
    ds.AddRow({"", "", "", "", "", "", ""});
    ds.Open();
    ds.Edit();
  }
  TField* F(const char* name) { return ds.FieldByName(name); }

  testing::ScopedHost scope;
  MemoryDataSet ds{{{"S", ftString, 5}, {"I", ftInteger, 0}, {"L", ftLargeint, 0}, {"F", ftFloat, 0},
                    {"B", ftBoolean, 0}, {"D", ftDate, 0}, {"T", ftDateTime, 0}}};
};

TEST_F(FieldsTest, NullValuesAndClearing) {
  for (const char* name : {"I", "L", "F", "B", "D", "T"}) {
    EXPECT_TRUE(F(name)->IsNull()) << name;
    EXPECT_EQ(F(name)->AsString(), "") << name;
    EXPECT_TRUE(F(name)->AsVariant().IsNull()) << name;
  }
  F("I")->SetAsInteger(0);
  EXPECT_FALSE(F("I")->IsNull());
  F("I")->SetAsString("  ");  // an empty text clears a number
  EXPECT_TRUE(F("I")->IsNull());
  F("D")->SetAsString("01.02.2003");
  F("D")->Clear();
  EXPECT_TRUE(F("D")->IsNull());
  EXPECT_EQ(F("D")->AsDateTime(), 0);
}

TEST_F(FieldsTest, NumbersTextAndRanges) {
  F("I")->SetAsString("-17");
  EXPECT_EQ(F("I")->AsInteger(), -17);
  EXPECT_DOUBLE_EQ(F("I")->AsFloat(), -17);
  F("I")->SetAsFloat(2.5);  // rounds half away from zero
  EXPECT_EQ(F("I")->AsInteger(), 3);
  EXPECT_THROW(F("I")->SetAsString("12x"), EConvertError);
  EXPECT_THROW(F("I")->SetAsLargeInt(std::int64_t{1} << 40), ERangeError);
  auto* range = static_cast<TIntegerField*>(F("I"));
  range->MinValue = 1;
  range->MaxValue = 9;
  EXPECT_EQ(MessageOf<ERangeError>([&] { range->SetAsInteger(10); }),
            "10 is not a valid value for field 'I'. The allowed range is 1 to 9");
  EXPECT_THROW(F("I")->SetAsBoolean(true), EDatabaseError);  // no such conversion

  const std::int64_t wide = 123456789012345678;  // beyond 32 bits, exact in 64
  F("L")->SetAsString("123456789012345678");
  EXPECT_EQ(F("L")->AsLargeInt(), wide);
  EXPECT_EQ(F("L")->AsString(), "123456789012345678");
  EXPECT_EQ(F("L")->AsVariant().AsInteger(), wide);
  EXPECT_THROW(F("L")->AsInteger(), ERangeError);
  F("L")->SetAsVariant(Variant(std::numeric_limits<std::int64_t>::min()));
  EXPECT_EQ(F("L")->AsLargeInt(), std::numeric_limits<std::int64_t>::min());

  F("F")->SetAsString("3,25");  // the host's decimal comma
  EXPECT_DOUBLE_EQ(F("F")->AsFloat(), 3.25);
  EXPECT_EQ(F("F")->AsString(), "3,25");
  EXPECT_EQ(F("F")->AsInteger(), 3);
  EXPECT_THROW(F("F")->SetAsString("3.25.1"), EConvertError);
}

TEST_F(FieldsTest, TextBooleansAndDates) {
  F("S")->SetAsString("abcdefgh");
  EXPECT_EQ(F("S")->AsString(), "abcde");
  F("S")->SetAsInteger(42);
  EXPECT_EQ(F("S")->AsInteger(), 42);
  F("S")->SetAsString("y");
  EXPECT_TRUE(F("S")->AsBoolean());

  F("B")->SetAsString("f");
  EXPECT_FALSE(F("B")->AsBoolean());
  EXPECT_EQ(F("B")->AsString(), "False");
  F("B")->SetAsString("TRUE");
  EXPECT_EQ(F("B")->AsString(), "True");
  EXPECT_THROW(F("B")->SetAsString("maybe"), EConvertError);

  // A date field holds the timestamp day number; its text follows the
  // host's short date pattern.
  F("D")->SetAsString("31.12.1999");
  std::int32_t day = 0;
  ASSERT_TRUE(F("D")->GetData(&day));
  EXPECT_EQ(day, DateTimeToTimeStamp(EncodeDate(1999, 12, 31)).Date);
  EXPECT_EQ(F("D")->Text(), "31.12.1999");
  F("D")->SetAsDateTime(EncodeDate(2001, 5, 6) + 0.75);  // the time is dropped
  EXPECT_EQ(F("D")->AsDateTime(), EncodeDate(2001, 5, 6));
  EXPECT_THROW(F("D")->SetAsString("31.02.1999"), EConvertError);
  EXPECT_THROW(F("D")->SetAsDateTime(-700000), EConvertError);  // before year 1
  // Numbers far beyond any day a timestamp can hold are refused as well,
  // not wrapped round into some other date or taken for a blank one.
  EXPECT_THROW(F("D")->SetAsDateTime(4294967296.0 + 100000 - DateDelta), EConvertError);
  EXPECT_THROW(F("D")->SetAsDateTime(1e300), EConvertError);
  EXPECT_THROW(F("D")->SetAsDateTime(-1e300), EConvertError);
  EXPECT_EQ(F("D")->AsDateTime(), EncodeDate(2001, 5, 6));

  // A date-time field holds the timestamp as a millisecond count.
  const TDateTime moment = EncodeDate(2010, 7, 8) + EncodeTime(9, 30, 15, 0);
  F("T")->SetAsDateTime(moment);
  double msecs = 0;
  ASSERT_TRUE(F("T")->GetData(&msecs));
  EXPECT_DOUBLE_EQ(msecs, TimeStampToMSecs(DateTimeToTimeStamp(moment)));
  EXPECT_EQ(F("T")->Text(), "08.07.2010 09:30:15");
  EXPECT_EQ(F("T")->AsVariant().kind(), Variant::vkDateTime);
}

TEST_F(FieldsTest, ValidationSeesTheNewValueAndCanRefuseIt) {
  TField* age = F("I");
  age->SetAsInteger(5);
  std::vector<std::int32_t> seen;
  age->OnValidate = [&](TField* field) {
    seen.push_back(field->AsInteger());
    if (field->AsInteger() < 0) throw EDatabaseError("no negative ages");
  };
  age->SetAsInteger(7);
  EXPECT_THROW(age->SetAsInteger(-1), EDatabaseError);
  EXPECT_EQ(seen, (std::vector<std::int32_t>{7, -1}));
  EXPECT_EQ(age->AsInteger(), 7);  // the refused value was not stored

  int changes = 0;
  age->OnChange = [&](TField*) { ++changes; };
  age->SetAsInteger(8);
  EXPECT_EQ(changes, 1);

  F("S")->SetDisplayLabel("Surname");
  EXPECT_EQ(F("S")->DisplayName(), "Surname");
  F("S")->SetRequired(true);
  F("S")->Clear();
  ds.FieldByName("I")->SetAsInteger(1);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds.Post(); }), "Field 'Surname' must have a value");
}

TEST(FieldSizes, OnlyTypesWithASizeAcceptOne) {
  MemoryDataSet ds({{"A", ftInteger, 0}});
  auto* f = new TFloatField(&ds);
  EXPECT_NO_THROW(f->SetSize(0));
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { f->SetSize(21); }), "Invalid field size");
  auto* s = new TStringField(&ds);
  EXPECT_EQ(s->Size(), 20);
  EXPECT_NO_THROW(s->SetSize(254));
  EXPECT_THROW(s->SetSize(-1), EDatabaseError);
  // A field without a dataset cannot be read.
  EXPECT_THROW(s->AsString(), EDatabaseError);
}

}  // namespace
}  // namespace qd::fw
