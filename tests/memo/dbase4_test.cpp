// dBASE IV memo files: values with the FF FF 08 00 block header, the block
// size in the header, and the free list: blocks given up, reused, merged,
// and a list that never names a live value.
#include <utility>

#include "memo_test_support.h"

namespace qd::memo_test {
namespace {

using Runs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;  // block, length

class Dbase4Test : public MemoTest {
 protected:
  void SetUp() override {
    MemoTest::SetUp();
    MakeMemoTable("notes", 0x8B);
    Open("notes");
  }
  Bytes File() const { return MemoBytes("notes", 0x8B); }
  // The free list as the file holds it, followed from the header; the last
  // link's value in `end`.
  Runs FreeRuns(std::uint32_t* end = nullptr, std::uint32_t block_size = 512) const {
    const Bytes file = File();
    Runs runs;
    std::uint32_t link = Le32(file, 0);
    const std::uint32_t blocks = static_cast<std::uint32_t>((file.size() + block_size - 1) / block_size);
    while (link < blocks && runs.size() < 100) {
      const std::size_t at = static_cast<std::size_t>(link) * block_size;
      runs.emplace_back(link, Le32(file, at + 4));
      link = Le32(file, at);
    }
    if (end != nullptr) *end = link;
    return runs;
  }
  std::uint32_t BlockCount() const { return static_cast<std::uint32_t>((File().size() + 511) / 512); }
  std::uint32_t GivenUp() const { return Le32(File(), 32); }
};

TEST_F(Dbase4Test, ValuesCarryTheirLengthInABlockHeader) {
  EXPECT_EQ(File().size(), 24u);
  EXPECT_EQ(State().block_size, 512u);
  EXPECT_EQ(AppendValue("hello"), 1);
  Bytes file = File();
  ASSERT_EQ(file.size(), 1024u);  // the rest of the block is zero
  EXPECT_EQ(Text(file, 512, 8), std::string("\xFF\xFF\x08\x00\x0D\x00\x00\x00", 8));
  EXPECT_EQ(Text(file, 520, 5), "hello");
  EXPECT_EQ(Le32(file, 0), 2u);  // no run free: the block count
  // A value of 504 bytes fills its block with the header; 505 take two.
  EXPECT_EQ(AppendValue(std::string(504, 'a')), 2);
  EXPECT_EQ(AppendValue(std::string(505, 'b')), 3);
  EXPECT_EQ(AppendValue("c"), 5);
  EXPECT_EQ(ValueOf(2), std::string(504, 'a'));
  EXPECT_EQ(ValueOf(3), std::string(505, 'b'));
  EXPECT_EQ(ValueOf(4), "c");
  // Zero bytes and end markers are ordinary bytes here.
  const std::string binary("\0\x1A\xFF", 3);
  EXPECT_EQ(AppendValue(binary), 6);
  EXPECT_EQ(ValueOf(5), binary);
}

TEST_F(Dbase4Test, AFileEndingInsideABlockIsPaddedBeforeANewValue) {
  Close();
  Bytes file = File();
  file.resize(1000, 'x');
  table_test::WriteAll(MemoPath("notes", 0x8B), file);
  Open("notes");
  EXPECT_EQ(AppendValue("v"), 2);
  file = File();
  EXPECT_EQ(Bytes(file.begin() + 1000, file.begin() + 1024), Bytes(24, 0));
  EXPECT_EQ(ValueOf(1), "v");
}

TEST_F(Dbase4Test, RewritesReuseTheirBlocksAndGiveUpWhatTheyNoLongerNeed) {
  EXPECT_EQ(AppendValue(std::string(1500, 'a')), 1);  // blocks 1 to 3
  EXPECT_EQ(AppendValue("tail"), 4);
  // Shorter: in place, blocks 2 and 3 become one free run.
  EXPECT_EQ(SetValue(1, std::string(300, 'b')), 1);
  EXPECT_EQ(ValueOf(1), std::string(300, 'b'));
  std::uint32_t end = 0;
  EXPECT_EQ(FreeRuns(&end), (Runs{{2, 2}}));
  EXPECT_EQ(end, BlockCount());
  EXPECT_EQ(GivenUp(), 2u);
  // Longer than its blocks: the value moves to the end, its block is given
  // up and merges with the run behind it.
  EXPECT_EQ(SetValue(1, std::string(1200, 'c')), 5);
  EXPECT_EQ(FreeRuns(&end), (Runs{{1, 3}}));
  EXPECT_EQ(end, BlockCount());
  EXPECT_EQ(GivenUp(), 3u);
  // A new value takes the front of the first run long enough; the rest
  // stays free.
  EXPECT_EQ(AppendValue(std::string(600, 'd')), 1);
  EXPECT_EQ(FreeRuns(&end), (Runs{{3, 1}}));
  EXPECT_EQ(AppendValue("e"), 3);
  EXPECT_EQ(FreeRuns(&end), Runs{});
  EXPECT_EQ(end, BlockCount());
  EXPECT_EQ(ValueOf(1), std::string(1200, 'c'));
  EXPECT_EQ(ValueOf(2), "tail");
  EXPECT_EQ(ValueOf(3), std::string(600, 'd'));
  EXPECT_EQ(ValueOf(4), "e");
  // Clearing a value gives its blocks up.
  EXPECT_EQ(SetValue(1, ""), 0);
  EXPECT_EQ(FreeRuns(), (Runs{{5, 3}}));
}

// The old value's blocks are given up only when the record that names its
// successor has been written: a record write that fails or never comes must
// leave the record's value where it is, never on the free list.
TEST_F(Dbase4Test, AReplacedValueIsGivenUpOnlyOnceTheRecordNamesItsSuccessor) {
  EXPECT_EQ(AppendValue(std::string(300, 'a')), 1);
  EXPECT_EQ(AppendValue("tail"), 2);
  // Moved to the end, the record not written (an abandoned edit).
  Go(1);
  std::int32_t block = 0;
  ASSERT_TRUE(WriteMemoValue(Slot(), std::string(1200, 'c'), block, "test"));
  EXPECT_EQ(block, 3);
  Go(2);
  EXPECT_EQ(FreeRuns(), Runs{});
  EXPECT_EQ(AppendValue("new"), 6);  // not over the old value
  EXPECT_EQ(ValueOf(1), std::string(300, 'a'));
  // A later write of the record that still names the old value frees nothing.
  Go(1);
  Replace();
  EXPECT_EQ(FreeRuns(), Runs{});
  // Written with its successor: now the old blocks are free, once.
  EXPECT_EQ(SetValue(1, std::string(700, 'd')), 7);
  EXPECT_EQ(FreeRuns(), (Runs{{1, 1}}));
  Go(1);
  Replace();
  EXPECT_EQ(FreeRuns(), (Runs{{1, 1}}));
  EXPECT_EQ(ValueOf(1), std::string(700, 'd'));
  // Emptied and written: given up; emptied and not written: kept.
  EXPECT_EQ(SetValue(1, ""), 0);
  EXPECT_EQ(FreeRuns(), (Runs{{1, 1}, {7, 2}}));
  Go(2);
  ASSERT_TRUE(WriteMemoValue(Slot(), "", block, "test"));
  Go(3);
  Replace();
  EXPECT_EQ(FreeRuns(), (Runs{{1, 1}, {7, 2}}));
  EXPECT_EQ(ValueOf(2), "tail");
}

TEST_F(Dbase4Test, ASharedRecordWriteRefusedOrUnlockedLeavesTheOldValue) {
  AppendValue(std::string(300, 'a'));  // 1
  AppendValue("tail");                 // 2
  Close();
  Open("notes", false);
  // Without its record lock the record cannot be written (1200).
  Go(1);
  std::int32_t block = 0;
  ASSERT_TRUE(WriteMemoValue(Slot(), std::string(1200, 'c'), block, "test"));
  SetSlot(block);
  Replace();
  EXPECT_EQ(ErrorCode, 1200);
  EXPECT_EQ(FreeRuns(), Runs{});
  EXPECT_EQ(ValueOf(1), std::string(300, 'a'));
  // Emptied under a lock that was let go before the record was written:
  // another program may have changed the record meanwhile, so nothing is
  // given up.
  Go(2);
  ASSERT_TRUE(RLock());
  Go(2);
  ASSERT_TRUE(WriteMemoValue(Slot(), "", block, "test"));
  Unlock();
  ASSERT_TRUE(RLock());
  Go(2);
  SetSlot(0);
  Replace();
  EXPECT_EQ(ErrorCode, 0) << ErrorText;
  Unlock();
  EXPECT_EQ(FreeRuns(), Runs{});
  // The ordinary way still frees.
  EXPECT_EQ(SetValue(1, std::string(900, 'e')), 6);
  EXPECT_EQ(FreeRuns(), (Runs{{1, 1}}));
}

TEST_F(Dbase4Test, TheListKeepsItsHeadAndNeverNamesAValuePlacedAtTheEnd) {
  for (int i = 0; i < 4; ++i) AppendValue(std::string(100, static_cast<char>('a' + i)));  // 1..4
  SetValue(2, "");  // run 2
  // Too long for the run: goes to the end of the file. The header keeps the
  // list's head, and the last run names the new end, past the value.
  EXPECT_EQ(SetValue(4, std::string(900, 'x')), 5);
  std::uint32_t end = 0;
  EXPECT_EQ(FreeRuns(&end), (Runs{{2, 1}, {4, 1}}));
  EXPECT_EQ(end, 7u);
  EXPECT_EQ(BlockCount(), 7u);
  EXPECT_EQ(Le32(File(), 0), 2u);
  // More values at the end, and the value there is never handed out again.
  EXPECT_EQ(AppendValue(std::string(2000, 'y')), 7);
  EXPECT_EQ(AppendValue("z"), 2);
  EXPECT_EQ(AppendValue("w"), 4);
  EXPECT_EQ(AppendValue("v"), 11);
  EXPECT_EQ(ValueOf(4), std::string(900, 'x'));
  EXPECT_EQ(ValueOf(5), std::string(2000, 'y'));
  EXPECT_EQ(ValueOf(8), "v");
}

TEST_F(Dbase4Test, ADamagedListIsNotUsedOverLiveValues) {
  AppendValue("first");   // 1
  AppendValue("second");  // 2
  Close();
  // The head names a live value, then a link goes backwards.
  Bytes file = File();
  table_test::Put32(file, 0, 1);
  table_test::WriteAll(MemoPath("notes", 0x8B), file);
  Open("notes");
  EXPECT_EQ(AppendValue("third"), 3);
  EXPECT_EQ(ValueOf(1), "first");
  EXPECT_EQ(ValueOf(2), "second");
  EXPECT_EQ(Le32(File(), 0), 4u);  // the header update repaired the list's end

  SetValue(2, "");  // a real run at 2
  Close();
  file = File();
  table_test::Put32(file, 2 * 512, 1);  // its next link points back
  table_test::WriteAll(MemoPath("notes", 0x8B), file);
  Open("notes");
  EXPECT_EQ(AppendValue("x"), 2);
  EXPECT_EQ(AppendValue("y"), 4);
  EXPECT_EQ(ValueOf(1), "first");
  EXPECT_EQ(ValueOf(3), "third");
  // A block number that names free blocks, or blocks that are no value, is
  // not given up again.
  GiveUpBlocks(State(), 1, 1, "test");
  EXPECT_EQ(ErrorCode, 0);
}

TEST_F(Dbase4Test, ABlockSizeFromTheHeaderOrTheDefault) {
  Close();
  MakeMemoTable("wide", 0x8B, 1024);
  Open("wide");
  EXPECT_EQ(State().block_size, 1024u);
  EXPECT_EQ(AppendValue(std::string(1017, 'a')), 1);
  EXPECT_EQ(AppendValue("b"), 3);
  EXPECT_EQ(ValueOf(1), std::string(1017, 'a'));
  Close();
  Bytes file = MemoBytes("wide", 0x8B);
  file[20] = file[21] = 0;
  table_test::WriteAll(MemoPath("wide", 0x8B), file);
  Open("wide");
  EXPECT_EQ(State().block_size, 512u);
}

TEST_F(Dbase4Test, LevelSevenTablesUseTheDbase4Layout) {
  Close();
  MakeMemoTable("seven", 0x8C);
  Open("seven");
  EXPECT_EQ(State().memo_type, 0x8C);
  EXPECT_EQ(AppendValue(std::string(700, 'q')), 1);
  EXPECT_EQ(SetValue(1, "r"), 1);
  EXPECT_EQ(ValueOf(1), "r");
  Close();
  const Bytes file = MemoBytes("seven", 0x8C);
  EXPECT_EQ(Text(file, 512, 4), std::string("\xFF\xFF\x08\x00", 4));
  EXPECT_EQ(Le32(file, 0), 2u);  // block 2 was given up
}

TEST_F(Dbase4Test, GroupHeadersAndTheNextFreeBlock) {
  AppendValue(std::string(600, 'a'));
  EXPECT_EQ(ReadGroupHeader(State(), 1), 2u);
  EXPECT_EQ(ReadGroupHeader(State(), 0), 0u);  // the file header is no value
  EXPECT_TRUE(WriteGroupHeader(State(), 1, 504));
  EXPECT_EQ(ReadGroupHeader(State(), 1), 1u);
  EXPECT_EQ(ValueOf(1), std::string(504, 'a'));
  EXPECT_TRUE(MainHeaderWrite(State(), 0x01020304));
  EXPECT_EQ(Text(File(), 0, 4), "\x04\x03\x02\x01");
}

}  // namespace
}  // namespace qd::memo_test
