// Shared tables with a second real process: records another program appends
// appear in the record count and in navigation without reopening, and
// closing after appends writes the header count and end-of-file byte at the
// end the file really has.
#include <cstdlib>
#include <cstring>

#include "table/record_updates.h"
#include "table_test_support.h"

namespace qd::table_test {
namespace {

class SharedTableTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    WriteAll(Path("shared.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {" one", " two", " thr"}));
  }
  // Runs the child program appending one record per text; its exit status.
  int OtherProgramAppends(const std::vector<std::string>& texts) {
    std::string command = std::string("\"") + QD_TABLE_CHILD + "\" \"" + Path("shared.dbf") + "\"";
    for (const auto& t : texts) command += " " + t;
#ifdef _WIN32
    command = "\"" + command + "\"";  // cmd.exe drops the outer pair of quotes
#endif
    return std::system(command.c_str());
  }
};

TEST_F(SharedTableTest, AppendsOfAnotherProgramAppearWhileNavigating) {
  Use(Path("shared"), nullptr, 0);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  Skip(1);
  EXPECT_EQ(RecNo(), 2);
  ASSERT_EQ(OtherProgramAppends({"fou", "fiv"}), 0);
  EXPECT_EQ(CurrentWorkArea()->record_count, 3);  // nothing asked the file yet
  Skip(1);
  Skip(1);
  EXPECT_EQ(RecNo(), 4);  // the forward step past the known count saw them
  EXPECT_EQ(SlotText(1), "fou");
  EXPECT_EQ(RecCount(), 5);
  ASSERT_EQ(OtherProgramAppends({"six"}), 0);
  GoBottom();
  EXPECT_EQ(RecNo(), 6);
  EXPECT_EQ(SlotText(1), "six");
  Skip(1);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 7);
  ASSERT_EQ(OtherProgramAppends({"sev"}), 0);
  // The end of file moves with the count: a delete there does not reach the
  // other program's new record.
  EXPECT_EQ(RecCount(), 7);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 8);
  ASSERT_TRUE(RLock());
  DeleteRec();
  Unlock();
  Go(7);
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(SlotText(1), "sev");
  EXPECT_EQ(FieldAddress(0)[0], 0);
}

TEST_F(SharedTableTest, AnEmptyTableSeesAnotherProgramsFirstRecords) {
  WriteAll(Path("shared.dbf"), BuildDbf(0x03, {{"A", 'C', 3}}, {}));
  Use(Path("shared"), nullptr, 0);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  ASSERT_EQ(OtherProgramAppends({"fir", "sec"}), 0);
  EXPECT_TRUE(dEOF());  // still at the empty table's position
  GoTop();
  EXPECT_FALSE(dEOF());
  EXPECT_EQ(RecNo(), 1);
  EXPECT_EQ(SlotText(1), "fir");
}

TEST_F(SharedTableTest, EndOfFileByteNeverLandsOnAnotherProgramsRecord) {
  // Our table appends record 4; before it closes, another program appends
  // record 5. Closing with the count of 4 known so far must not put the
  // end-of-file byte on record 5's deletion flag.
  WorkArea area;
  area.open_mode = kSharedOpenMode;
  area.language = tlAnsi;
  ASSERT_TRUE(OpenDbf(area, Path("shared.dbf")));
  std::memcpy(area.record.data(), " our", 4);
  ASSERT_TRUE(AppendDbfRecord(area));
  ASSERT_EQ(OtherProgramAppends({"oth"}), 0);
  EXPECT_EQ(area.record_count, 4);
  ASSERT_TRUE(CloseDbf(area));
  const Bytes b = ReadAll(Path("shared.dbf"));
  const std::size_t hl = 65, rl = 4;
  ASSERT_EQ(b.size(), hl + 5 * rl + 1);
  EXPECT_EQ(std::string(b.begin() + hl + 3 * rl, b.begin() + hl + 5 * rl), " our oth");
  EXPECT_EQ(b.back(), 0x1A);
  EXPECT_EQ(Get32(b, 4), 5u);
}

TEST_F(SharedTableTest, TablesLeftOpenAreClosedAtProcessEnd) {
  ASSERT_EQ(OtherProgramAppends({"fou", "--exit"}), 0);
  const Bytes b = ReadAll(Path("shared.dbf"));
  ASSERT_EQ(b.size(), 65u + 4 * 4 + 1);
  EXPECT_EQ(Get32(b, 4), 4u);
  EXPECT_EQ(b.back(), 0x1A);
}

}  // namespace
}  // namespace qd::table_test
