// dBASE III memo files: text values ended by 0x1A in blocks of 512 bytes,
// the empty 513-byte file, values that need a block header, and AddMemo.
#include <cstdio>

#include "memo/memo_layouts.h"
#include "memo_test_support.h"

namespace qd::memo_test {
namespace {

class Dbase3Test : public MemoTest {
 protected:
  void SetUp() override {
    MemoTest::SetUp();
    MakeMemoTable("notes", 0x83);
    Open("notes");
  }
  Bytes File() const { return MemoBytes("notes", 0x83); }
};

TEST_F(Dbase3Test, FirstValueGoesToBlockOneOfTheEmptyFileAndFillsItsBlock) {
  EXPECT_EQ(File().size(), 513u);
  EXPECT_EQ(State().block_size, 512u);
  EXPECT_EQ(AppendValue("hello"), 1);
  Bytes file = File();
  ASSERT_EQ(file.size(), 1024u);  // padded: never left at the empty file's 513 bytes
  EXPECT_EQ(Text(file, 512, 7), "hello\x1A\x1A");
  EXPECT_EQ(file[519], 0);
  EXPECT_EQ(Le32(file, 0), 2u);  // next free block: the block count
  EXPECT_EQ(ValueOf(1), "hello");

  // 510 bytes and the two end bytes fill one block; one byte more takes two.
  EXPECT_EQ(AppendValue(std::string(510, 'a')), 2);
  EXPECT_EQ(AppendValue(std::string(511, 'b')), 3);
  EXPECT_EQ(AppendValue("c"), 5);
  file = File();
  EXPECT_EQ(file.size(), 6u * 512);
  EXPECT_EQ(Le32(file, 0), 6u);
  EXPECT_EQ(ValueOf(2), std::string(510, 'a'));
  EXPECT_EQ(ValueOf(3), std::string(511, 'b'));
  EXPECT_EQ(ValueOf(4), "c");
}

TEST_F(Dbase3Test, EmptyValuesTakeNoBlockAndRewritesGoToTheEnd) {
  // An empty value is block 0: nothing is written, so the file stays empty
  // and the next value still starts at block 1 (a lone end marker at offset
  // 512 would leave the file at 513 bytes, looking empty, and be overwritten).
  EXPECT_EQ(AppendValue(""), 0);
  EXPECT_EQ(File().size(), 513u);
  EXPECT_EQ(Peek(2, 1), std::string(10, ' '));  // the field stays blank
  EXPECT_EQ(AppendValue("second"), 1);
  EXPECT_EQ(SetValue(1, "first"), 2);
  EXPECT_EQ(ValueOf(1), "first");
  EXPECT_EQ(ValueOf(2), "second");
  // A rewrite always goes to the end; the old value stays as dead space.
  EXPECT_EQ(SetValue(2, "second, longer"), 3);
  EXPECT_EQ(ValueOf(2), "second, longer");
  EXPECT_EQ(SetValue(2, ""), 0);
  EXPECT_EQ(Peek(2, 2), std::string(10, ' '));  // cleared to blanks, not "0"
  EXPECT_EQ(ValueOf(2), "");
}

TEST_F(Dbase3Test, ValuesHoldingEndMarkersOrZeroBytesAreStoredWithABlockHeader) {
  const std::string binary("a\x1A" "b\0c", 5);
  const std::int32_t block = AppendValue(binary);
  EXPECT_EQ(block, -1);  // named by the negated block
  const Bytes file = File();
  EXPECT_EQ(Text(file, 512, 8), std::string("\xFF\xFF\x08\x00\x0D\x00\x00\x00", 8));
  EXPECT_EQ(Text(file, 520, 5), binary);
  EXPECT_EQ(ValueOf(1), binary);
  EXPECT_EQ(Peek(2, 1), "        -1");
  // Text that begins like a block header would be read as one.
  const std::string lookalike("\xFF\xFF\x08\x00plain", 9);
  EXPECT_LT(AppendValue(lookalike), 0);
  EXPECT_EQ(ValueOf(2), lookalike);
}

TEST_F(Dbase3Test, ReadersStopAtTheFirstEndMarkerOrTheEndOfTheFile) {
  AppendValue("x");
  AppendValue("y");
  Close();
  Bytes file = File();
  // Block 1: "ab", CR LF, "cd", one end marker and more text behind it.
  const std::string first = "ab\r\ncd\x1Aignored";
  std::copy(first.begin(), first.end(), file.begin() + 512);
  // Block 2 runs to the end of the file without an end marker.
  file.resize(1024);
  const std::string last = "to the end";
  file.insert(file.end(), last.begin(), last.end());
  table_test::WriteAll(MemoPath("notes", 0x83), file);
  Open("notes");
  EXPECT_EQ(ValueOf(1), "ab\r\ncd");
  EXPECT_EQ(ValueOf(2), "to the end");
  // A value written now goes to the next whole block.
  EXPECT_EQ(AppendValue("z"), 3);
  EXPECT_EQ(ValueOf(2), "to the end");
  EXPECT_EQ(ValueOf(3), "z");
}

TEST_F(Dbase3Test, BlocksOutsideTheFileAreReportedNotRead) {
  AppendValue("x");
  std::string value = "unchanged";
  EXPECT_FALSE(ReadMemoValue(2, value, "test"));
  ExpectError(1003);
  EXPECT_EQ(value, "");
  EXPECT_NE(ErrorText.find("Memo block # 2"), std::string::npos);
  EXPECT_FALSE(ReadMemoValue(-7, value, "test"));
  ExpectError(1003);
  EXPECT_TRUE(ReadMemoValue(0, value, "test"));
  EXPECT_EQ(value, "");
}

TEST_F(Dbase3Test, AddMemoWritesWholeUnitsAndAnEmptyTextNothing) {
  EXPECT_EQ(AddMemo("   "), 0);
  EXPECT_EQ(File().size(), 513u);
  const std::string text(600, 't');
  EXPECT_EQ(AddMemo(text + "   "), 1);  // trailing blanks removed
  const Bytes file = File();
  ASSERT_EQ(file.size(), 512u + 1024u);
  EXPECT_EQ(Text(file, 512, 600), text);
  EXPECT_EQ(file[512 + 600], 0x1A);
  EXPECT_EQ(Bytes(file.begin() + 512 + 602, file.end()), Bytes(1024 - 602, 0));
  EXPECT_EQ(Le32(file, 0), 3u);
  EXPECT_EQ(AddMemo("next"), 3);
}

TEST_F(Dbase3Test, AShortOrEmptyFileNeverPutsAValueIntoTheHeader) {
  Close();
  table_test::WriteAll(MemoPath("notes", 0x83), Bytes{});
  Open("notes");
  EXPECT_EQ(AppendValue("first"), 1);
  EXPECT_EQ(ValueOf(1), "first");
  EXPECT_EQ(Le32(File(), 0), 2u);
}

}  // namespace
}  // namespace qd::memo_test
