// The table dataset over real table files: layout and field definitions,
// typed values against the stored bytes, walking, editing, appending and
// deleting, both ends of the table, hidden deleted records, searching,
// dates in every format, design-time behaviour and the work-area guard.
#include <cstring>

#include "dataset/dataset_test_support.h"
#include "dataset/field_classes.h"
#include "foundation/number_settings.h"
#include "table/table_test_support.h"
#include "support/messages.h"

namespace qd::dataset_test {
namespace {

using fw::EncodeDate;
using fw::Variant;
using test_support::MessageOf;

void AddPeople(TestDbf& ds) {
  ds.AppendRecord({"Ann", 1, 1.5, true, Variant::FromDateTime(EncodeDate(1999, 12, 31))});
  ds.AppendRecord({"Bob", 2, 2.5, false, Variant()});
  ds.AppendRecord({"Cid", 3, 3.5, true, Variant()});
}

std::string Name(TestDbf& ds) { return ds.FieldByName("NAME")->AsString(); }

TEST_F(DatasetTest, LayoutDefinitionsAndStoredValues) {
  const std::string path = SampleTable();
  TestDbf ds;
  ds.SetName("DS");
  ds.SetDbfFileName(path);
  ds.Open();
  EXPECT_EQ(ds.RecDataSize(), 34);
  EXPECT_EQ(ds.FieldOffsets(), (std::vector<std::uint16_t>{1, 12, 16, 24, 26}));
  const fw::TFieldType types[] = {fw::ftString, fw::ftInteger, fw::ftFloat, fw::ftBoolean, fw::ftDate};
  const int sizes[] = {10, 5, 8, 0, 0};
  ASSERT_EQ(ds.FieldDefs().Count(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(ds.FieldDefs()[i].DataType(), types[i]) << i;
    EXPECT_EQ(ds.FieldDefs()[i].Size(), sizes[i]) << i;
    EXPECT_EQ(ds.FieldDefs()[i].FieldNo(), i + 1);
    EXPECT_FALSE(ds.FieldDefs()[i].Required());
  }
  EXPECT_NE(dynamic_cast<TQdIntegerField*>(ds.FieldByName("AGE")), nullptr);
  EXPECT_NE(dynamic_cast<TQdFloatField*>(ds.FieldByName("PRICE")), nullptr);
  EXPECT_NE(dynamic_cast<TQdDateField*>(ds.FieldByName("BORN")), nullptr);

  ds.Append();
  ds.FieldByName("NAME")->SetAsString("Ann");
  ds.FieldByName("AGE")->SetAsInteger(-42);
  ds.FieldByName("PRICE")->SetAsFloat(3.14159);
  ds.FieldByName("OK")->SetAsBoolean(true);
  ds.FieldByName("BORN")->SetAsDateTime(EncodeDate(1999, 12, 31));
  ds.Post();
  ds.AppendRecord({"Bob", 7, 10.5, false, Variant()});
  // A text longer than the field reaching the record is cut to the field.
  ds.Edit();
  ds.FieldByName("NAME")->SetData("Bobby Tables the Third");
  EXPECT_EQ(Name(ds), "Bobby Tabl");
  EXPECT_EQ(ds.FieldByName("AGE")->AsInteger(), 7);
  ds.Post();
  EXPECT_EQ(Stored(path, 1, 2), "Bobby Tabl");
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Bob");
  ds.Post();
  EXPECT_EQ(Stored(path, 1, 1), "Ann       ");
  EXPECT_EQ(Stored(path, 2, 1), "  -42");
  EXPECT_EQ(Stored(path, 3, 1), "    3.14");
  EXPECT_EQ(Stored(path, 4, 1), "T");
  EXPECT_EQ(Stored(path, 5, 1), "19991231");
  EXPECT_EQ(Stored(path, 5, 2), "        ");

  // The framework sees what the engine stored: the float rounded to the
  // field's decimals, the blank date as null.
  ds.First();
  EXPECT_EQ(Name(ds), "Ann");
  EXPECT_EQ(ds.FieldByName("AGE")->AsInteger(), -42);
  EXPECT_DOUBLE_EQ(ds.FieldByName("PRICE")->AsFloat(), 3.14);
  EXPECT_TRUE(ds.FieldByName("OK")->AsBoolean());
  EXPECT_EQ(ds.FieldByName("BORN")->AsDateTime(), EncodeDate(1999, 12, 31));
  ds.Next();
  EXPECT_EQ(Name(ds), "Bob");
  EXPECT_TRUE(ds.FieldByName("BORN")->IsNull());

  // Editing one field rewrites only that one; deleting marks the record.
  ds.First();
  ds.Edit();
  ds.FieldByName("AGE")->SetAsInteger(43);
  ds.Post();
  EXPECT_EQ(Stored(path, 2, 1), "   43");
  EXPECT_EQ(Stored(path, 5, 1), "19991231");
  ds.Last();
  ds.Delete();
  EXPECT_EQ(Stored(path, 0, 2), "*");
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.calls, (std::vector<std::string>{"append", "append", "replace", "replace", "replace",
                                               "delete"}));

  // Bookmarks are record numbers.
  const fw::TBookmark second = ds.GetBookmark();
  ds.First();
  const fw::TBookmark first = ds.GetBookmark();
  EXPECT_EQ(ds.CompareBookmarks(first, second), -1);
  ds.GotoBookmark(second);
  EXPECT_EQ(Name(ds), "Bob");
  EXPECT_EQ(ds.RecNo(), 2);
}

TEST_F(DatasetTest, BothEndsOfTheTableAndEmptyTables) {
  const std::string path = SampleTable();
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof() && ds.Bof());
  EXPECT_TRUE(ds.FieldByName("NAME")->IsNull());
  std::int32_t n = 0;
  EXPECT_EQ(ds.QdiSetToBegin(), kDsOk);
  EXPECT_EQ(ds.QdiGetPriorRecord(nullptr, n), kDsBof);
  EXPECT_EQ(ds.QdiGetNextRecord(nullptr, n), kDsEof);
  EXPECT_TRUE(ds.AtEOF());
  EXPECT_EQ(ErrorCode, 0);

  AddPeople(ds);
  ds.QdiSetToBegin();
  for (int expected = 1; expected <= 3; ++expected) {
    ASSERT_EQ(ds.QdiGetNextRecord(nullptr, n), kDsOk);
    EXPECT_EQ(n, expected);
  }
  EXPECT_EQ(ds.QdiGetNextRecord(nullptr, n), kDsEof);
  EXPECT_EQ(RecNo(), 3);  // the engine stays on the last record
  EXPECT_EQ(ds.QdiGetPriorRecord(nullptr, n), kDsOk);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(ds.QdiGetPriorRecord(nullptr, n), kDsOk);
  EXPECT_EQ(ds.QdiGetPriorRecord(nullptr, n), kDsOk);
  EXPECT_EQ(ds.QdiGetPriorRecord(nullptr, n), kDsBof);
  EXPECT_EQ(ds.QdiGetNextRecord(nullptr, n), kDsOk);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(ErrorCode, 0);

  ds.Last();
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(Name(ds), "Cid");
}

TEST_F(DatasetTest, HiddenDeletedRecordsLeaveNoPhantom) {
  const std::string path = SampleTable();
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.SetHideDeletedRecs(true);
  ds.Open();
  AddPeople(ds);
  ASSERT_TRUE(ds.Locate("NAME", "Bob", 0));
  ds.Delete();
  EXPECT_EQ(Name(ds), "Cid");
  EXPECT_EQ(ds.RecordCount(), 3);  // deleted records are counted
  std::vector<std::string> seen;
  for (ds.First(); !ds.Eof(); ds.Next()) seen.push_back(Name(ds));
  EXPECT_EQ(seen, (std::vector<std::string>{"Ann", "Cid"}));

  // A pending edit is posted before the records shown change, as before
  // any move.
  ds.First();
  ds.Edit();
  ds.FieldByName("AGE")->SetAsInteger(7);
  ds.SetHideDeletedRecs(false);
  EXPECT_EQ(ds.State(), fw::dsBrowse);
  EXPECT_EQ(ds.FieldByName("AGE")->AsInteger(), 7);
  EXPECT_EQ(Stored(path, 2, 1), "    7");
  seen.clear();
  for (ds.First(); !ds.Eof(); ds.Next()) seen.push_back(Name(ds));
  EXPECT_EQ(seen, (std::vector<std::string>{"Ann", "Bob", "Cid"}));

  ds.SetHideDeletedRecs(true);
  ds.First();
  ds.Delete();
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof() && ds.Bof());
  EXPECT_TRUE(ds.FieldByName("NAME")->IsNull());
  ds.First();
  EXPECT_TRUE(ds.IsEmpty());

  // Showing deleted records again on a table where none is visible brings
  // the first of them back.
  ds.SetHideDeletedRecs(false);
  EXPECT_FALSE(ds.IsEmpty());
  EXPECT_EQ(Name(ds), "Ann");
}

TEST_F(DatasetTest, LocateMovesLookupDoesNot) {
  TestDbf ds;
  ds.SetDbfFileName(SampleTable());
  ds.Open();
  AddPeople(ds);
  ds.First();
  ds.Next();
  EXPECT_EQ(ds.Lookup("NAME", "Cid", "AGE").AsInteger(), 3);
  const Variant both = ds.Lookup("NAME;AGE", fw::VarArrayOf({"Ann", 1}), "NAME;PRICE");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both[0].AsString(), "Ann");
  EXPECT_DOUBLE_EQ(both[1].AsFloat(), 1.5);
  EXPECT_TRUE(ds.Lookup("NAME", "Zed", "AGE").IsNull());
  EXPECT_EQ(Name(ds), "Bob");
  EXPECT_EQ(RecNo(), 2);
  ds.Next();
  EXPECT_EQ(Name(ds), "Cid");

  EXPECT_TRUE(ds.Locate("NAME", "ann", fw::loCaseInsensitive));
  EXPECT_EQ(Name(ds), "Ann");
  EXPECT_TRUE(ds.Locate("BORN", Variant::FromDateTime(EncodeDate(1999, 12, 31)), 0));
  EXPECT_EQ(Name(ds), "Ann");
  EXPECT_FALSE(ds.Locate("NAME", "Ci", 0));
  EXPECT_TRUE(ds.Locate("NAME", "Ci", fw::loPartialKey));
  EXPECT_EQ(Name(ds), "Cid");
  EXPECT_FALSE(ds.Locate("NAME", "Zed", 0));
  EXPECT_EQ(Name(ds), "Cid");
}

TEST_F(DatasetTest, DatesInEveryFormatAndCentury) {
  const std::string path = SampleTable();
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.Open();
  ds.AppendRecord({"Ann"});
  fw::TField* born = ds.FieldByName("BORN");
  struct Case {
    int code;
    bool century;
    const char* shown;  // 1999-12-31
    const char* typed;  // 2001-02-03
  };
  const Case cases[] = {
      {0, false, "12/31/99", "02/03/01"},     {0, true, "12/31/1999", "2/3/2001"},
      {1, false, "99.12.31", "01.02.03"},     {1, true, "1999.12.31", "2001.02.03"},
      {2, false, "31/12/99", "03/02/01"},     {3, false, "31-12-99", "03-02-01"},
      {5, true, "31.12.1999", "03.02.2001"},  {6, false, "31.12.99", "3.2.01"},
      {8, true, "31.12.1999", "03.02.2001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    CenturyOn = c.century;
    SetDateFormat(static_cast<std::uint8_t>(c.code));
    ds.Edit();
    born->SetAsDateTime(EncodeDate(1999, 12, 31));
    ds.Post();
    ds.Refresh();
    EXPECT_EQ(born->Text(), c.shown);
    EXPECT_EQ(Stored(path, 5, 1), "19991231");
    ds.Edit();
    born->SetAsString(c.typed);
    ds.Post();
    EXPECT_EQ(Stored(path, 5, 1), "20010203");
    EXPECT_EQ(born->AsDateTime(), EncodeDate(2001, 2, 3));
    // The format's blank date clears the field; a blank field shows no text.
    ds.Edit();
    born->SetAsString(BlankDate(static_cast<std::uint8_t>(c.code)));
    ds.Post();
    EXPECT_EQ(Stored(path, 5, 1), "        ");
    EXPECT_TRUE(born->IsNull());
    EXPECT_EQ(born->Text(), "");
  }
  CenturyOn = false;
  SetDateFormat(0);
  ds.Edit();
  EXPECT_THROW(born->SetAsString("13/45/99"), fw::EConvertError);
  ds.Cancel();
}

TEST_F(DatasetTest, DatesOutsideTheTwoDigitWindowSurviveEdits) {
  const std::string path = Path("dates.dbf");
  table_test::WriteAll(path, table_test::BuildDbf(0x03, {{"NAME", 'C', 3}, {"AGE", 'N', 2}, {"BORN", 'D', 8}},
                                                  {" Old 118991231", " Bad 219991345"}));
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.Open();
  EXPECT_EQ(ds.FieldByName("BORN")->Text(), "12/31/99");
  // Rewriting the record for another field leaves the stored date alone,
  // even an impossible one the dataset shows as blank.
  ds.Edit();
  ds.FieldByName("AGE")->SetAsInteger(2);
  ds.Post();
  EXPECT_EQ(Stored(path, 3, 1), "18991231");
  ds.Next();
  EXPECT_TRUE(ds.FieldByName("BORN")->IsNull());
  ds.Edit();
  ds.FieldByName("AGE")->SetAsInteger(3);
  ds.Post();
  EXPECT_EQ(Stored(path, 3, 2), "19991345");
  ds.First();
  // A date given as a value is stored as that date, window or not.
  ds.Edit();
  ds.FieldByName("BORN")->SetAsDateTime(EncodeDate(1950, 1, 1));
  ds.Post();
  EXPECT_EQ(Stored(path, 3, 1), "19500101");
  // A date the engine cannot hold shows the invalid-date box and stores the
  // blank date.
  ds.Edit();
  const double far_future = 4e6;
  std::memcpy(ds.ActiveBuffer() + ds.FieldOffsets()[2], &far_future, 8);
  ds.StoreRecord(ds.ActiveBuffer(), 3);
  ASSERT_FALSE(host_.host.boxes.empty());
  EXPECT_EQ(host_.host.boxes.back().text, "        Invalid date       ");
  const std::uint8_t* slot = ds.FieldProps()->Address(3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot + 1), slot[0]), "  /  /  ");
  ds.Cancel();
}

// Fields are converted from the loaded native record when they are read:
// walking both ways while reading one field, reading others later, editing
// one field of a record nothing else was read of, and taking the whole
// record all see every value as stored.
TEST_F(DatasetTest, FieldsConvertWhenReadAndRecordsStayWhole) {
  const std::string path = SampleTable();
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.Open();
  AddPeople(ds);
  ds.First();
  double total = 0;
  while (!ds.Eof()) {
    total += ds.FieldByName("PRICE")->AsFloat();
    ds.Next();
  }
  EXPECT_EQ(total, 7.5);
  ds.Prior();  // from the last record
  EXPECT_EQ(Name(ds), "Bob");
  EXPECT_EQ(ds.FieldByName("AGE")->AsInteger(), 2);
  EXPECT_TRUE(ds.FieldByName("BORN")->IsNull());

  ds.First();
  ds.Edit();
  ds.FieldByName("AGE")->SetAsInteger(9);
  ds.Post();
  EXPECT_EQ(Stored(path, 1, 1), "Ann       ");
  EXPECT_EQ(Stored(path, 2, 1), "    9");
  EXPECT_EQ(Stored(path, 3, 1), "    1.50");
  EXPECT_EQ(Stored(path, 4, 1), "T");
  EXPECT_EQ(Stored(path, 5, 1), "19991231");

  std::vector<std::uint8_t> buffer(ds.RecBufSize());
  ASSERT_TRUE(ds.GetCurrentRecord(buffer.data()));
  const std::uint8_t* data = buffer.data();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + ds.FieldOffsets()[0] + 1), 3), "Ann");
  std::int32_t age = 0;
  std::memcpy(&age, data + ds.FieldOffsets()[1], 4);
  EXPECT_EQ(age, 9);
  double price = 0, born = 0;
  std::memcpy(&price, data + ds.FieldOffsets()[2], 8);
  std::memcpy(&born, data + ds.FieldOffsets()[4], 8);
  EXPECT_EQ(price, 1.5);
  EXPECT_EQ(born, EncodeDate(1999, 12, 31));
}

TEST_F(DatasetTest, WideIntegersUseSixtyFourBits) {
  const std::string path = Path("wide.dbf");
  table_test::WriteAll(path, table_test::BuildDbf(0x03, {{"BIG", 'N', 15}, {"TAG", 'C', 3}},
                                                  {" 123456789012345abc"}));
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.Open();
  EXPECT_EQ(ds.RecDataSize(), 1 + 8 + 4);
  fw::TField* big = ds.FieldByName("BIG");
  EXPECT_NE(dynamic_cast<TQdLargeintField*>(big), nullptr);
  EXPECT_EQ(big->Size(), 15);
  EXPECT_EQ(big->AsLargeInt(), 123456789012345);
  ds.Edit();
  ds.FieldByName("TAG")->SetAsString("xyz");
  ds.Post();
  EXPECT_EQ(Stored(path, 1, 1), "123456789012345");
  ds.Edit();
  big->SetAsLargeInt(-98765432109876);
  ds.Post();
  EXPECT_EQ(Stored(path, 1, 1), "-98765432109876");
}

// Numeric fields wider than 20 (GIS programs write N(24,15) and wider) and
// integers of 19 digits or more, whose values no binary form holds: a
// number-text field shows the stored value exactly, keeps it when the
// record is rewritten for another field, and takes new values in the
// field's form. None of them reads as a different number.
TEST_F(DatasetTest, WideNumbersShowAndKeepTheirStoredText) {
  const std::string path = Path("gis.dbf");
  table_test::WriteAll(
      path, table_test::BuildDbf(0x03,
                                 {{"NAME", 'C', 5}, {"BIG", 'N', 30}, {"LON", 'N', 24, 15},
                                  {"HUGE", 'N', 20}, {"N19", 'N', 19}},
                                 {" Ann  " + std::string(30, '9') + "    -122.419415999999998" +
                                      std::string(20, '9') + "-999999999999999999"}));
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.Open();
  EXPECT_EQ(ds.RecDataSize(), 1 + 6 + 31 + 25 + 21 + 20);
  const char* wide[] = {"BIG", "LON", "HUGE", "N19"};
  const int sizes[] = {30, 24, 20, 19};
  for (int i = 0; i < 4; ++i) {
    fw::TField* field = ds.FieldByName(wide[i]);
    EXPECT_EQ(field->DataType(), fw::ftFMTBcd) << wide[i];
    EXPECT_NE(dynamic_cast<fw::TFMTBCDField*>(field), nullptr) << wide[i];
    EXPECT_EQ(field->Size(), sizes[i]) << wide[i];
  }
  fw::TField* lon = ds.FieldByName("LON");
  EXPECT_EQ(ds.FieldByName("BIG")->AsString(), std::string(30, '9'));
  EXPECT_EQ(lon->AsString(), "-122.419415999999998");
  EXPECT_DOUBLE_EQ(lon->AsFloat(), -122.419416);
  EXPECT_EQ(ds.FieldByName("HUGE")->AsString(), std::string(20, '9'));
  EXPECT_EQ(ds.FieldByName("N19")->AsLargeInt(), -999999999999999999LL);
  EXPECT_THROW(ds.FieldByName("HUGE")->AsLargeInt(), fw::ERangeError);

  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Bob");
  ds.Post();
  EXPECT_EQ(Stored(path, 2, 1), std::string(30, '9'));
  EXPECT_EQ(Stored(path, 3, 1), "    -122.419415999999998");
  EXPECT_EQ(Stored(path, 4, 1), std::string(20, '9'));

  ds.Edit();
  lon->SetAsString("1.5");
  ds.FieldByName("BIG")->SetAsFloat(12.5);
  ds.FieldByName("HUGE")->SetAsLargeInt(-5);
  ds.FieldByName("N19")->Clear();
  EXPECT_THROW(lon->SetAsString("abc"), fw::EConvertError);
  EXPECT_THROW(lon->SetAsString("1e5"), fw::EConvertError);
  EXPECT_THROW(lon->SetAsString(std::string(25, '1')), fw::ERangeError);
  ds.Post();
  EXPECT_EQ(Stored(path, 2, 1), std::string(28, ' ') + "13");
  EXPECT_EQ(Stored(path, 3, 1), "       1.500000000000000");
  EXPECT_EQ(Stored(path, 4, 1), std::string(18, ' ') + "-5");
  EXPECT_EQ(Stored(path, 5, 1), std::string(19, ' '));
  EXPECT_EQ(lon->AsString(), "1.500000000000000");
  EXPECT_TRUE(ds.FieldByName("N19")->IsNull());

  // The text follows the host's decimal separator both ways.
  host_.host.Regional().decimal_separator = ',';
  EXPECT_EQ(lon->AsString(), "1,500000000000000");
  ds.Edit();
  lon->SetAsString("-0,25");
  ds.Post();
  EXPECT_EQ(Stored(path, 3, 1), "      -0.250000000000000");
}

// A field whose descriptor has no name is shown under the name the table
// layer gives it, in its place among the others, and can be edited.
TEST_F(DatasetTest, NamelessFieldsAreShownUnderTheirTableName) {
  const std::string path = Path("anon.dbf");
  table_test::WriteAll(path, table_test::BuildDbf(0x03, {{"", 'C', 3}, {"", 'N', 4}, {"TAG", 'C', 3}},
                                                  {" one  77abc"}));
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.Open();
  ASSERT_EQ(ds.FieldDefs().Count(), 3);
  EXPECT_EQ(ds.FieldDefs()[0].Name(), "FIELD1");
  EXPECT_EQ(ds.FieldDefs()[1].Name(), "FIELD2");
  EXPECT_EQ(ds.RecDataSize(), 1 + 4 + 4 + 4);
  EXPECT_EQ(ds.Fields()[0]->AsString(), "one");
  EXPECT_EQ(ds.Fields()[1]->AsInteger(), 77);
  EXPECT_EQ(ds.FieldByName("TAG")->AsString(), "abc");
  ds.Edit();
  ds.FieldByName("FIELD2")->SetAsInteger(5);
  ds.Post();
  EXPECT_EQ(Stored(path, 2, 1), "   5");
  EXPECT_EQ(Stored(path, 3, 1), "abc");
  EXPECT_TRUE(ds.Locate("FIELD1", "one", 0));
}

// Editing one field rewrites that field only: blank numbers, an unknown
// logical ("?"), overflowed numbers ("***") and numbers stored with more
// decimals than the field shows stay as they were for other programs.
TEST_F(DatasetTest, EditingOneFieldKeepsTheOthersAsStored) {
  const std::string path = Path("keep.dbf");
  const std::string record = std::string(" ") + "Ann  " + "     " + "        " + "?" + "***" +
                             "   1.005" + "        ";
  table_test::WriteAll(path, table_test::BuildDbf(0x03,
                                                  {{"NAME", 'C', 5}, {"QTY", 'N', 5},
                                                   {"PRICE", 'N', 8, 2}, {"OK", 'L', 1},
                                                   {"OVER", 'N', 3}, {"RATE", 'N', 8, 2},
                                                   {"BORN", 'D', 8}},
                                                  {record}));
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.Open();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Bob");
  ds.Post();
  const char* expected[] = {"Bob  ", "     ", "        ", "?", "***", "   1.005", "        "};
  for (int n = 1; n <= 7; ++n) EXPECT_EQ(Stored(path, n, 1), expected[n - 1]) << n;
  // What the framework shows of them: 0, false and the value rounded to the
  // field's decimals.
  EXPECT_EQ(ds.FieldByName("QTY")->AsInteger(), 0);
  EXPECT_FALSE(ds.FieldByName("OK")->AsBoolean());
  EXPECT_DOUBLE_EQ(ds.FieldByName("RATE")->AsFloat(), 1.0);
  ds.Edit();
  ds.FieldByName("RATE")->SetAsFloat(2.5);
  ds.FieldByName("OK")->SetAsBoolean(true);
  ds.Post();
  EXPECT_EQ(Stored(path, 6, 1), "    2.50");
  EXPECT_EQ(Stored(path, 4, 1), "T");
}

// With every record but the last deleted and hidden, the dataset opens on
// the last record and First finds it again.
TEST_F(DatasetTest, OpeningWithOnlyTheLastRecordVisible) {
  const std::string path = Path("last.dbf");
  table_test::WriteAll(path, table_test::BuildDbf(0x03, {{"NAME", 'C', 3}},
                                                  {"*aaa", "*bbb", " ccc"}));
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.SetHideDeletedRecs(true);
  ds.Open();
  EXPECT_FALSE(ds.IsEmpty());
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "ccc");
  EXPECT_EQ(ds.RecNo(), 3);
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  ds.First();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "ccc");
  EXPECT_TRUE(ds.Bof());
}

TEST_F(DatasetTest, WithoutAWorkAreaNothingRunsElsewhere) {
  const std::string other = SampleTable("other.dbf");
  Select(1);
  Use(other + " EXCLUSIVE", nullptr, 0);
  qd::Append();
  qd::Append();
  Go(2);
  TestDbf ds;
  ds.SetName("DS");
  EXPECT_EQ(ds.QdiSetToBegin(), 1103);
  EXPECT_EQ(ErrorText, "Database is not open [DS.QdiSetToBegin]");
  EXPECT_EQ(host_.host.terminate_requests, 1);
  EXPECT_EQ(ds.QdiGetRecordCount(), 0);
  EXPECT_EQ(Selected(), 1);
  EXPECT_EQ(RecNo(), 2);
  ErrorCode = 0;
  ds.DirectOpenClose(true);
  EXPECT_EQ(ErrorCode, 1103);
  EXPECT_EQ(ErrorText, "DataSet must be active. DS");
}

TEST_F(DatasetTest, DesignTimeKeepsOneRecordImage) {
  const std::string path = SampleTable();
  {
    TestDbf writer;
    writer.SetDbfFileName(path);
    writer.Open();
    AddPeople(writer);
  }
  fw::TComponent owner;
  owner.SetDesigning(true);
  auto* ds = new TestDbf(&owner);
  EXPECT_TRUE(ds->Designing());
  EXPECT_TRUE(RaiseExceptions);
  SetRaiseExceptions(false);
  ds->SetName("DS");
  ds->SetDbfFileName(path);
  ds->Open();
  EXPECT_EQ(Name(*ds), "Ann");
  EXPECT_EQ(ds->RecordCount(), 1);
  ds->Next();
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(Name(*ds), "Ann");
  // The image is a table of one record: walking it ends, in either
  // direction and with the rows of a grid.
  ds->SetBufferCount(4);
  int rows = 0;
  for (ds->First(); !ds->Eof() && rows < 10; ds->Next()) ++rows;
  EXPECT_EQ(rows, 1);
  rows = 0;
  for (ds->Last(); !ds->Bof() && rows < 10; ds->Prior()) ++rows;
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(Name(*ds), "Ann");
  EXPECT_EQ(ds->DbfFields().Text(),
            "NAME, C, 10, 0\r\nAGE, N, 5, 0\r\nPRICE, N, 8, 2\r\nOK, L, 1, 0\r\nBORN, D, 8, 0\r\n");
  const int area = ds->WorkArea();
  Select(area);
  EXPECT_EQ(CurrentWorkArea(), nullptr);  // the table is not held open
  ds->DirectOpenClose(true);
  Select(area);
  EXPECT_NE(CurrentWorkArea(), nullptr);
  ds->DirectOpenClose(false);
  EXPECT_EQ(CurrentWorkArea(), nullptr);

  // Another table opened in the same work area meanwhile stays open when
  // the dataset closes.
  Select(area);
  Use(SampleTable("other.dbf"), nullptr, 0);
  ds->Close();
  Select(area);
  EXPECT_NE(CurrentWorkArea(), nullptr);
}

TEST_F(DatasetTest, FileNamesOpeningAndReadOnly) {
  TestDbf ds;
  ds.SetDbfFileName(" movie ");
  EXPECT_EQ(ds.DbfFileName(), "movie.DBF");
  ds.SetDbfFileName("movie.");
  EXPECT_EQ(ds.DbfFileName(), "movie.");
  ds.SetDbfFileName("");
  EXPECT_EQ(MessageOf<Exception>([&] { ds.Open(); }), "Missing DbfFilename property");
  ds.SetDbfFileName(Path("missing"));
  Select(7);
  try {
    ds.Open();
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Dataset error: Error # ", 0), 0u) << e.what();
  }
  EXPECT_FALSE(ds.Active());
  EXPECT_NE(ErrorCode, 0);  // left standing: the next open is not failed by it
  EXPECT_EQ(Selected(), 7);
  // A failure that the engine raises leaves the caller's work area selected
  // too.
  SetRaiseExceptions(true);
  SetImmediateDispatch(true);
  EXPECT_THROW(ds.Open(), Exception);
  SetImmediateDispatch(false);
  SetRaiseExceptions(false);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(Selected(), 7);
  Select(1);

  // Changing the name of an open dataset reopens it on the new table.
  const std::string first = SampleTable("first.dbf");
  const std::string second = SampleTable("second.dbf");
  ds.SetDbfFileName(first);
  ds.Open();
  ds.AppendRecord({"One"});
  ds.SetDbfFileName(second);
  EXPECT_TRUE(ds.Active());
  EXPECT_TRUE(ds.IsEmpty());
  ds.Close();

  ds.SetReadOnly(true);
  ds.SetDbfFileName(first);
  ds.Open();
  EXPECT_THROW(ds.Edit(), fw::EDatabaseError);
}

TEST_F(DatasetTest, RestoreRecallsTheCurrentRecord) {
  const std::string path = SampleTable();
  TestDbf ds;
  ds.SetDbfFileName(path);
  ds.Open();
  ds.AppendRecord({"Ann"});
  ds.Delete();
  EXPECT_EQ(Stored(path, 0, 1), "*");
  ds.BeforeRestore = [&](fw::TDataSet*) { ds.calls.push_back("before"); };
  ds.AfterRestore = [&](fw::TDataSet*) { ds.calls.push_back("after"); };
  ds.calls.clear();
  ds.Restore();
  EXPECT_EQ(ds.calls, (std::vector<std::string>{"before", "restore", "after"}));
  EXPECT_EQ(Stored(path, 0, 1), " ");
  EXPECT_EQ(Name(ds), "Ann");

  // With no record in view there is nothing to recall: refused like a
  // delete, and the engine is not asked to recall at the end of the file.
  ds.SetHideDeletedRecs(true);
  ds.Delete();
  ASSERT_TRUE(ds.IsEmpty());
  ds.calls.clear();
  EXPECT_THROW(ds.Restore(), fw::EDatabaseError);
  EXPECT_TRUE(ds.calls.empty());
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(Stored(path, 0, 1), "*");
}

TEST_F(DatasetTest, StartUpFollowsTheRegionalSettings) {
  auto& regional = platform::CurrentHost().Regional();
  regional = {"dd.MM.yyyy", '.', ',', '.'};
  InitDatasetUnit();
  EXPECT_EQ(DateFormat, 5);
  EXPECT_TRUE(CenturyOn);
  EXPECT_EQ(DecimalChar, ',');
  EXPECT_EQ(ThousandsChar, '.');
  regional = {"M/d/yy", '/', '.', ','};
  InitDatasetUnit();
  EXPECT_EQ(DateFormat, 0);
  EXPECT_FALSE(CenturyOn);
  EXPECT_EQ(DecimalChar, '.');
  EXPECT_EQ(regional.short_date_pattern, "MM/dd/yy");
}

}  // namespace
}  // namespace qd::dataset_test
