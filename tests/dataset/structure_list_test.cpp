// The structure list: reading and correcting structure lines with their
// warnings, creating a missing table from them, and the lines that make
// creation fail without creating anything.
#include <filesystem>
#include <string>

#include "dataset/dataset_test_support.h"
#include "dataset/field_classes.h"
#include "dataset/structure_list.h"

namespace qd::dataset_test {
namespace {

struct LineCase {
  const char* line;
  const char* name;
  char type;
  int length;
  int decimals;
  bool corrected;  // a warning shows the line and its correction
};

TEST_F(DatasetTest, StructureLinesAreReadAndCorrected) {
  const LineCase cases[] = {
      {"  name , C , 10 , 0 ", "name", 'C', 10, 0, false},
      {"VERYLONGNAME12, C, 5, 0", "VERYLONGNA", 'C', 5, 0, false},
      {"PIC, B, 10, 0", "PIC", 'M', 10, 0, false},
      {"IMG, P, 10, 0", "IMG", 'M', 10, 0, false},
      {"NOTE, C, 300, 0", "NOTE", 'C', 254, 0, true},
      {"N4, N, 4, 3", "N4", 'N', 4, 2, true},
      {"N2, N, 2, 1", "N2", 'N', 2, 0, true},
      {"WIDE, N, 25, 19", "WIDE", 'N', 20, 18, true},
      {"ODD, Z, 5, 0", "ODD", 'C', 5, 0, true},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.line);
    host_.host.boxes.clear();
    DbfFieldDescriptor d;
    ASSERT_TRUE(ParseFieldLine(c.line, d, "DS"));
    EXPECT_EQ(d.name, c.name);
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.length, c.length);
    EXPECT_EQ(d.decimals, c.decimals);
    if (!c.corrected) {
      EXPECT_TRUE(host_.host.boxes.empty());
      continue;
    }
    std::string given = c.line;
    std::erase(given, ' ');
    ASSERT_EQ(host_.host.boxes.size(), 1u);
    EXPECT_EQ(host_.host.boxes[0].text,
              "Invalid field definition for DS: " + given + ". Will use corrected definition: " + c.name +
                  "," + c.type + "," + std::to_string(c.length) + "," + std::to_string(c.decimals));
  }
  DbfFieldDescriptor d;
  EXPECT_FALSE(ParseFieldLine("GONE, X, 1, 0", d, "DS"));
  EXPECT_THROW(ParseFieldLine("A, , 1, 0", d, "DS"), fw::ERangeError);
  EXPECT_THROW(ParseFieldLine("A, C, 65536, 0", d, "DS"), fw::ERangeError);
  EXPECT_THROW(ParseFieldLine("A, N, 5, 256", d, "DS"), fw::ERangeError);
  EXPECT_THROW(ParseFieldLine("A, N, 5, -1", d, "DS"), fw::ERangeError);
  EXPECT_THROW(ParseFieldLine("A, C, ten, 0", d, "DS"), fw::EConvertError);
  EXPECT_EQ(FieldLine({"PRICE", 'N', 8, 2}), "PRICE, N, 8, 2");

  // Below level 2 the corrections are made silently.
  host_.host.boxes.clear();
  EXPECT_EQ(WarningLevel(1), 2);
  ASSERT_TRUE(ParseFieldLine("NOTE, C, 300, 0", d, "DS"));
  EXPECT_EQ(d.length, 254);
  EXPECT_TRUE(host_.host.boxes.empty());
  WarningLevel(2);
}

TEST_F(DatasetTest, MissingTableIsCreatedFromTheStructureList) {
  const std::string path = Path("fresh.dbf");
  TestDbf ds;
  ds.SetName("DS");
  ds.create_if_missing = true;
  ds.DbfFields().SetText(
      "NAME, C, 10, 0\nGONE, X, 5, 0\nPRICE, N, 4, 3\nPIC, B, 10, 0\nBORN, D, 8, 0\n");
  ds.SetDbfFileName(path);
  ds.Open();
  ASSERT_TRUE(std::filesystem::exists(path));
  ASSERT_EQ(host_.host.boxes.size(), 1u);
  EXPECT_EQ(host_.host.boxes[0].text,
            "Invalid field definition for DS: PRICE,N,4,3. Will use corrected definition: "
            "PRICE,N,4,2");
  ASSERT_EQ(qd::FieldCount(), 4);
  EXPECT_EQ(qd::Field(2), "PRICE");
  EXPECT_EQ(FieldDec(2), 2);
  EXPECT_EQ(FieldType(3), 'M');
  EXPECT_EQ(ds.FieldByName("PIC")->DataType(), fw::ftMemo);
}

TEST_F(DatasetTest, BadStructureListsCreateNothing) {
  const std::string path = Path("bad.dbf");
  TestDbf ds;
  ds.SetDbfFileName(path);
  const char* malformed[] = {"NAME, C, 10, 0\nAGE, N, 5\n", "NAME, C, 10, 0, 1\n"};
  for (const char* text : malformed) {
    ds.DbfFields().SetText(text);
    EXPECT_FALSE(ds.CreateTableFromDbfFields()) << text;
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(host_.host.boxes.empty());
  }

  ds.DbfFields().Clear();
  EXPECT_FALSE(ds.CreateTableFromDbfFields());
  ASSERT_EQ(host_.host.boxes.size(), 1u);
  EXPECT_EQ(host_.host.boxes[0].text, "FieldList.Count is <= 0 trying to create a database");
  EXPECT_FALSE(CreateTableFromFieldLines(path, nullptr, "DS"));
  EXPECT_EQ(host_.host.boxes.back().text, "DbfFieldList is Nil trying to create a database");

  // 255 fields make a table the engine opens; the 256th is refused before
  // anything is written. Skipped lines do not count.
  ds.DbfFields().Clear();
  ds.DbfFields().Add("SKIPPED, X, 1, 0");
  for (int i = 1; i <= 255; ++i) ds.DbfFields().Add("F" + std::to_string(i) + ", C, 1, 0");
  ds.DbfFields().Add("F256, C, 1, 0");
  EXPECT_FALSE(ds.CreateTableFromDbfFields());
  EXPECT_EQ(ErrorCode, 211);
  EXPECT_EQ(ErrorText, "Invalid dBASE field definition [CreateDBF]");
  EXPECT_FALSE(std::filesystem::exists(path));
  ds.DbfFields().Delete(ds.DbfFields().Count() - 1);
  EXPECT_TRUE(ds.CreateTableFromDbfFields());
  ds.Open();
  EXPECT_EQ(ds.FieldDefs().Count(), 255);
}

}  // namespace
}  // namespace qd::dataset_test
