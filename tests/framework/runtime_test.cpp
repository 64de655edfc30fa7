// Runtime services: date-time numbers and timestamps, regional date and
// number texts, variants, streams, string lists and component ownership.
#include <gtest/gtest.h>

#include "framework/classes.h"
#include "framework/component.h"
#include "framework/sysutils.h"
#include "framework/variant.h"
#include "support/recording_host.h"
#include "support/messages.h"

namespace qd::fw {
namespace {

using testing::ScopedHost;
using test_support::MessageOf;

void UseRegional(ScopedHost& scope, const std::string& pattern, char date_sep, char decimal = '.') {
  auto& regional = scope.host.Regional();
  regional.short_date_pattern = pattern;
  regional.date_separator = date_sep;
  regional.decimal_separator = decimal;
}

TEST(DateTimeNumbers, TimestampSplitAndMilliseconds) {
  EXPECT_EQ(DateTimeToTimeStamp(0).Date, DateDelta);
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(1, 1, 1)).Date, 1);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
  // Negative values: whole days backwards, the fraction is a positive time.
  const TTimeStamp before = DateTimeToTimeStamp(-1.25);
  EXPECT_EQ(before.Date, DateDelta - 1);
  EXPECT_EQ(before.Time, MSecsPerDay / 4);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(before), -1.25);
  // Rounding to the next day carries into the date.
  EXPECT_EQ(DateTimeToTimeStamp(1.9999999999).Date, DateDelta + 2);
  EXPECT_EQ(DateTimeToTimeStamp(1.9999999999).Time, 0);

  const TDateTime noon = EncodeDate(1999, 12, 31) + 0.5;
  const double msecs = TimeStampToMSecs(DateTimeToTimeStamp(noon));
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(MSecsToTimeStamp(msecs)), noon);
  EXPECT_THROW(MSecsToTimeStamp(0), EConvertError);

  int y = 0, m = 0, d = 0;
  DecodeDate(EncodeDate(2024, 2, 29), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
  DecodeDate(-1.25, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
}

TEST(DateTimeText, FollowsTheShortDatePatternAndSeparator) {
  ScopedHost scope;
  const TDateTime date = EncodeDate(2005, 3, 7);
  UseRegional(scope, "M/d/yyyy", '/');
  EXPECT_EQ(DateToStr(date), "3/7/2005");
  UseRegional(scope, "dd/MM/yyyy", '.');
  EXPECT_EQ(DateToStr(date), "07.03.2005");
  EXPECT_EQ(StrToDate(" 07.03.2005 "), date);
  UseRegional(scope, "yy/MM/dd", '-');
  EXPECT_EQ(DateToStr(date), "05-03-07");
  EXPECT_EQ(StrToDate("2005-03-07"), date);

  // Two-digit years fall within fifty years of the current year.
  UseRegional(scope, "MM/dd/yy", '/');
  int this_year = 0, m = 0, d = 0;
  DecodeDate(Date(), this_year, m, d);
  int y = 0;
  DecodeDate(StrToDate("01/01/" + std::to_string((this_year + 10) % 100)), y, m, d);
  EXPECT_EQ(y, this_year + 10);
  DecodeDate(StrToDate("01/01/" + std::to_string((this_year + 60) % 100)), y, m, d);
  EXPECT_EQ(y, this_year + 60 - 100);

  EXPECT_EQ(MessageOf<EConvertError>([&] { StrToDate("02/30/2001"); }), "'02/30/2001' is not a valid date");
  TDateTime out = 0;
  EXPECT_FALSE(TryStrToDate("1/2/3/4", out));
  EXPECT_FALSE(TryStrToDate("12/31/1999x", out));
  EXPECT_TRUE(TryStrToDateTime("12/31/1999 13:45", out));
  EXPECT_DOUBLE_EQ(out, EncodeDate(1999, 12, 31) + EncodeTime(13, 45, 0, 0));
  EXPECT_EQ(DateTimeToStr(out), "12/31/99 13:45:00");
}

TEST(NumberText, DecimalSeparatorAndErrors) {
  ScopedHost scope;
  UseRegional(scope, "M/d/yyyy", '/', ',');
  EXPECT_EQ(FloatToStr(1234.5), "1234,5");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0,3");
  EXPECT_DOUBLE_EQ(StrToFloat(" 12,25 "), 12.25);
  EXPECT_THROW(StrToFloat("12,5x"), EConvertError);
  EXPECT_THROW(StrToFloat("nan"), EConvertError);
  EXPECT_EQ(StrToInt64(" -42 "), -42);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_THROW(StrToInt("3000000000"), EConvertError);
  EXPECT_EQ(MessageOf<EConvertError>([&] { StrToInt("4a"); }), "'4a' is not a valid integer value");
}

TEST(Variants, ConversionsArraysAndEquality) {
  const Variant keys = VarArrayOf({Variant("Smith"), Variant(42)});
  EXPECT_TRUE(keys.IsArray());
  EXPECT_EQ(keys.Count(), 2);
  EXPECT_EQ(keys[0].AsString(), "Smith");
  EXPECT_EQ(keys[1].AsInteger(), 42);
  const Variant single("x");
  EXPECT_EQ(single.Count(), 1);
  EXPECT_EQ(single[0].AsString(), "x");
  EXPECT_THROW(single[1], ERangeError);

  EXPECT_TRUE(Variant().IsNull());
  EXPECT_EQ(Variant("12").AsInteger(), 12);
  EXPECT_THROW(Variant("twelve").AsInteger(), EConvertError);
  EXPECT_TRUE(Variant("True").AsBoolean());
  EXPECT_TRUE(Variant(2) == Variant(2.0));
  EXPECT_FALSE(Variant() == Variant(0));
  EXPECT_FALSE(Variant("1") == Variant(1));
  EXPECT_TRUE(keys == VarArrayOf({Variant("Smith"), Variant(42)}));
  EXPECT_EQ(Variant::FromDateTime(36526).kind(), Variant::vkDateTime);
}

TEST(Streams, MemoryStreamReadWriteSeek) {
  TMemoryStream stream;
  stream.WriteBuffer("hello world", 11);
  EXPECT_EQ(stream.Size(), 11);
  EXPECT_EQ(stream.Seek(-5, soEnd), 6);
  char text[8] = {};
  EXPECT_EQ(stream.Read(text, 8), 5);
  EXPECT_STREQ(text, "world");
  EXPECT_EQ(stream.Read(text, 8), 0);
  EXPECT_THROW(stream.ReadBuffer(text, 1), EStreamError);
  stream.SetPosition(20);  // writing past the end fills the gap with zeros
  stream.WriteBuffer("!", 1);
  EXPECT_EQ(stream.Size(), 21);
  EXPECT_EQ(stream.Memory()[15], 0);
  TMemoryStream copy;
  EXPECT_EQ(copy.CopyFrom(stream, 0), 21);
  EXPECT_EQ(copy.AsString(), stream.AsString());
  stream.SetSize(5);
  EXPECT_EQ(stream.Position(), 5);
  EXPECT_EQ(stream.AsString(), "hello");
}

TEST(StringLists, TextIndexOfAndChangeNotification) {
  TStringList list;
  int changes = 0;
  list.OnChange = [&](TStringList*) { ++changes; };
  list.SetText("NAME, C, 10, 0\r\nAGE, N, 3, 0\nLAST");
  EXPECT_EQ(changes, 1);  // one notification for the whole text
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[2], "LAST");
  EXPECT_EQ(list.IndexOf("last"), 2);
  EXPECT_EQ(list.Text(), "NAME, C, 10, 0\r\nAGE, N, 3, 0\r\nLAST\r\n");
  list.Delete(0);
  EXPECT_EQ(changes, 2);
  EXPECT_THROW(list.Get(5), EStringListError);
  EXPECT_THROW(list.Insert(4, "x"), EStringListError);
  TStringList copy;
  copy.Assign(list);
  EXPECT_EQ(copy.Text(), list.Text());
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
}

TEST(Components, OwnershipAndStates) {
  struct Probe : TComponent {
    Probe(TComponent* owner, int& deaths) : TComponent(owner), deaths_(deaths) {}
    ~Probe() override { ++deaths_; }
    int& deaths_;
  };
  int deaths = 0;
  {
    TComponent owner;
    owner.SetDesigning(true);
    auto* a = new Probe(&owner, deaths);
    auto* b = new Probe(&owner, deaths);
    new Probe(b, deaths);  // owned by b
    EXPECT_TRUE(a->IsDesigning());
    EXPECT_EQ(owner.ComponentCount(), 2);
    delete a;  // an early delete leaves the owner's list
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Components(0), b);
    EXPECT_EQ(deaths, 1);
  }
  EXPECT_EQ(deaths, 3);

  struct Loader : TComponent {
    int loaded = 0;
    void Loaded() override { ++loaded; }
  } loader;
  loader.BeginLoading();
  EXPECT_TRUE(loader.IsLoading());
  EXPECT_TRUE(loader.IsReading());
  loader.EndLoading();
  EXPECT_FALSE(loader.IsLoading());
  EXPECT_EQ(loader.loaded, 1);
}

}  // namespace
}  // namespace qd::fw
