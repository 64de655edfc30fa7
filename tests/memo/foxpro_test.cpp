// FoxPro memo files: a 512-byte header with big-endian numbers, values with
// a type and length block header, placed at the end of the file.
#include "memo_test_support.h"

namespace qd::memo_test {
namespace {

class FoxProTest : public MemoTest {
 protected:
  void SetUp() override {
    MemoTest::SetUp();
    MakeMemoTable("notes", 0xF5, 64);
    Open("notes");
  }
  Bytes File() const { return MemoBytes("notes", 0xF5); }
};

TEST_F(FoxProTest, ValuesFollowTheHeaderWithBigEndianNumbers) {
  EXPECT_EQ(State().block_size, 64u);
  EXPECT_EQ(Be32(File(), 0), 8u);
  EXPECT_EQ(AppendValue("hello"), 8);  // the header takes blocks 0 to 7
  Bytes file = File();
  ASSERT_EQ(file.size(), 512u + 64);  // the rest of the block is zero
  EXPECT_EQ(Text(file, 512, 8), std::string("\0\0\0\x01\0\0\0\x05", 8));
  EXPECT_EQ(Be32(file, 0), 9u);  // next free block, big-endian
  // 56 bytes fill a block with the header; 57 take two.
  EXPECT_EQ(AppendValue(std::string(56, 'a')), 9);
  EXPECT_EQ(AppendValue(std::string(57, 'b')), 10);
  EXPECT_EQ(AppendValue("c"), 12);
  EXPECT_EQ(ValueOf(2), std::string(56, 'a'));
  EXPECT_EQ(ValueOf(3), std::string(57, 'b'));
  const std::string binary("\0\x1A\r\n", 4);
  EXPECT_EQ(SetValue(4, binary), 13);  // a rewrite goes to the end
  EXPECT_EQ(ValueOf(4), binary);
  EXPECT_EQ(ReadGroupHeader(State(), 10), 2u);
}

TEST_F(FoxProTest, AValueOfAnyTypeReadsAndADamagedLengthIsReported) {
  AppendValue("picture");
  Close();
  Bytes file = File();
  file[515] = 2;  // type 2
  table_test::WriteAll(MemoPath("notes", 0xF5), file);
  Open("notes");
  EXPECT_EQ(ValueOf(1), "picture");
  Close();
  file[519] = 200;  // longer than the file holds
  table_test::WriteAll(MemoPath("notes", 0xF5), file);
  Open("notes");
  Go(1);
  std::string value;
  EXPECT_FALSE(ReadMemoValue(Slot(), value, "test"));
  ExpectError(30);
  EXPECT_NE(ErrorText.find("Record # 1 [test]"), std::string::npos);
  // Inside the header there is no value.
  EXPECT_FALSE(ReadMemoValue(3, value, "test"));
  ExpectError(1003);
}

TEST_F(FoxProTest, ABlockSizeOfZeroIsTheDefault) {
  Close();
  Bytes file = File();
  file[6] = file[7] = 0;
  table_test::WriteAll(MemoPath("notes", 0xF5), file);
  Open("notes");
  EXPECT_EQ(State().block_size, 512u);
  EXPECT_EQ(AppendValue("x"), 1);
}

}  // namespace
}  // namespace qd::memo_test
