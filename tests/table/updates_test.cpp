// Record updates: the lock rule of each operation, what reaches the file
// (and that refused or failed requests change nothing), Peek and Poke, and
// the order of the index hook calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/exception.h"
#include "table/locking.h"
#include "table/locking_test_support.h"
#include "table/record_updates.h"

namespace qd {
namespace {

class UpdatesTest : public lock_testing::TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    CreateNamesTable("PEOPLE.DBF", {"ANN", "BOB", "CAY", "DAN"});
  }
  std::vector<std::uint8_t> Table() const { return FileBytes("PEOPLE.DBF"); }
  // The stored bytes of record r (read through the table's own handle, as
  // an exclusively opened file cannot be read through another).
  std::string Stored(std::int32_t r) { return Peek(0, r) + Peek(1, r) + Peek(2, r); }
  static void SetAmount(std::int32_t value) { std::memcpy(FieldAddress(2), &value, 4); }
  static std::int32_t Amount() {
    std::int32_t value = 0;
    std::memcpy(&value, FieldAddress(2), 4);
    return value;
  }
};

TEST_F(UpdatesTest, AppendNeedsTheTableLockAndFollowsOtherAppends) {
  Open("PEOPLE.DBF");
  const auto before = Table();
  ClearRecord();
  SetText(1, "EVE");
  Append();
  EXPECT_EQ(ErrorCode, 5);
  EXPECT_EQ(ErrorText, "File must be locked to append: " + CurrentWorkArea()->file_name +
                           " [APPEND]");
  EXPECT_EQ(Table(), before);

  // A record lock does not grant appends either.
  Go(2);
  ASSERT_TRUE(RLock());
  Append();
  EXPECT_EQ(ErrorCode, 5);
  Unlock();

  // Another work area (its own handle, like another program) appends first.
  Select(2);
  Open("PEOPLE.DBF ALIAS OTHER");
  ASSERT_TRUE(ALock());
  ClearRecord();
  SetText(1, "OTTO");
  Append();
  ASSERT_EQ(ErrorCode, 0);
  Unlock();

  Select(1);
  ASSERT_TRUE(ALock());
  ClearRecord();
  SetText(1, "EVE");
  SetAmount(5);
  Append();
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(RecNo(), 6);
  EXPECT_FALSE(dEOF());
  EXPECT_FALSE(dBOF());
  ClearRecord();
  SetText(1, "FAY");
  Append();  // the count taken at the first append under this lock holds
  EXPECT_EQ(RecNo(), 7);
  Unlock();
  EXPECT_EQ(Stored(5).substr(1, 4), "OTTO");
  EXPECT_EQ(Stored(6).substr(0, 4), " EVE");
  EXPECT_EQ(Stored(7).substr(0, 4), " FAY");
}

TEST_F(UpdatesTest, AppendLeavesTheStoredValuesInTheNativeRecord) {
  Open("PEOPLE.DBF", true);  // exclusive use needs no lock
  ClearRecord();
  SetText(1, "A NAME LONGER THAN TEN");
  SetAmount(123456);  // does not fit N(5,0): stored as asterisks
  Append();
  ASSERT_EQ(ErrorCode, 0);
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(Stored(5), " A NAME LON*****");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(FieldAddress(1)), 11), "\x0A" "A NAME LON");
  EXPECT_EQ(Amount(), 0);  // the value of the stored text
}

TEST_F(UpdatesTest, ReplaceNeedsTheRecordLockAndAnExistingRecord) {
  Open("PEOPLE.DBF");
  const auto before = Table();
  const std::string file = CurrentWorkArea()->file_name;
  Go(2);
  SetText(1, "ROBERT");
  Replace();
  EXPECT_EQ(ErrorCode, 1200);
  EXPECT_EQ(ErrorText, "Record #2 in " + file + " [REPLACE]");
  ASSERT_TRUE(ALock());  // the table lock does not count
  Replace();
  EXPECT_EQ(ErrorCode, 1200);
  Unlock();
  Go(3);
  ASSERT_TRUE(RLock());  // another record's lock does not count either
  Go(2);
  SetText(1, "ROBERT");
  Replace();
  EXPECT_EQ(ErrorCode, 1200);
  EXPECT_EQ(Table(), before);

  Go(5);  // end of file
  ASSERT_TRUE(dEOF());
  Replace();
  EXPECT_EQ(ErrorCode, 212);
  EXPECT_EQ(ErrorText, "Database \"" + file + "\" is at EOF. [REPLACE]");
  EXPECT_EQ(Table(), before);

  Go(2);
  ASSERT_TRUE(RLock());
  SetText(1, "ROBERT");
  SetAmount(22);
  Replace();
  ASSERT_EQ(ErrorCode, 0);
  EXPECT_EQ(Stored(2), " ROBERT       22");
  // The header count and date wait for the close.
  const auto after = Table();
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 32, after.begin()));
  EXPECT_EQ(Stored(1), " ANN           1");
  EXPECT_EQ(Stored(3), " CAY           3");

  ASSERT_TRUE(CreateDBF(Path("EMPTY.DBF"), {{"NAME", 'C', 10, 0}}));
  Select(2);
  Open("EMPTY.DBF", true);
  Replace();
  EXPECT_EQ(ErrorCode, 212);
  EXPECT_EQ(ErrorText,
            "Database \"" + CurrentWorkArea()->file_name + "\" is empty. [REPLACE]");
}

TEST_F(UpdatesTest, DeleteAndRecallWriteOnlyTheFlagOfALockedRecord) {
  Open("PEOPLE.DBF");
  const auto before = Table();
  Go(3);
  ASSERT_TRUE(ALock());
  DeleteRec();
  EXPECT_EQ(ErrorCode, 1200);
  EXPECT_EQ(ErrorText, CurrentWorkArea()->file_name + " Record not locked [DeleteRec]");
  RecallRec();
  EXPECT_EQ(ErrorCode, 1200);
  EXPECT_EQ(ErrorText, "Record not locked [RecallRec]");
  EXPECT_EQ(Table(), before);
  Unlock();

  ASSERT_TRUE(RLock());
  SetText(1, "CHANGED");  // only the flag may reach the file
  DeleteRec();
  ASSERT_EQ(ErrorCode, 0);
  EXPECT_EQ(FieldAddress(0)[0], 1);
  std::vector<std::uint8_t> expected = before;
  const std::size_t flag =
      CurrentWorkArea()->header_length + 2u * CurrentWorkArea()->record_length;
  expected[flag] = '*';
  EXPECT_EQ(Table(), expected);
  EXPECT_EQ(RecNo(), 3);  // no move

  RecallRec();
  ASSERT_EQ(ErrorCode, 0);
  EXPECT_EQ(FieldAddress(0)[0], 0);
  EXPECT_EQ(Table(), before);

  // At end of file deletion does nothing silently; recall reports it.
  Go(5);
  ASSERT_TRUE(RLock());
  DeleteRec();
  EXPECT_EQ(ErrorCode, 0);
  RecallRec();
  EXPECT_EQ(ErrorCode, 1103);
  EXPECT_EQ(ErrorText, CurrentWorkArea()->file_name + " at EOF [RecallRec]");
  EXPECT_EQ(Table(), before);
}

TEST_F(UpdatesTest, PeekReadsStoredBytesOfAnyRecord) {
  Open("PEOPLE.DBF");
  Go(2);
  ASSERT_TRUE(RLock());
  DeleteRec();
  Go(4);
  EXPECT_EQ(Peek(1, 1), "ANN       ");
  EXPECT_EQ(Peek(2, 3), "    3");
  EXPECT_EQ(Peek(0, 2), "*");
  EXPECT_EQ(Peek(0, 1), " ");
  EXPECT_EQ(RecNo(), 4);  // position and buffers untouched
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(FieldAddress(1)) + 1, 3), "DAN");
  for (auto [field, record] : {std::pair{1, 0}, {1, 5}, {3, 1}, {-1, 1}}) {
    EXPECT_EQ(Peek(field, record), "") << field << "," << record;
  }
  EXPECT_EQ(ErrorCode, 0);
}

TEST_F(UpdatesTest, PokeWritesTheLeadingBytesOfALockedField) {
  Open("PEOPLE.DBF");
  const auto before = Table();
  Poke("XY", 1, 2);
  EXPECT_EQ(ErrorCode, 1200);
  EXPECT_EQ(ErrorText, "Record not locked [Poke(XY,1,2)]");
  EXPECT_EQ(Table(), before);

  Go(2);
  ASSERT_TRUE(RLock());
  Poke("XY", 1, 2);
  ASSERT_EQ(ErrorCode, 0);
  EXPECT_EQ(Peek(1, 2), "XYB       ");
  Poke("ABCDEFGHIJKLMNOP", 1, 2);  // cut to the field
  EXPECT_EQ(Stored(2), " ABCDEFGHIJ    2");
  Poke("*", 0, 2);
  EXPECT_EQ(Peek(0, 2), "*");
  const auto poked = Table();
  Poke("", 1, 2);    // nothing to write
  Poke("Q", 3, 2);   // no such field
  Poke("Q", 1, 9);   // no such record: refused by the lock rule first
  EXPECT_EQ(ErrorCode, 1200);
  EXPECT_EQ(Table(), poked);

  // Exclusive use: the change is seen by the next read of the record.
  Close();
  Open("PEOPLE.DBF", true);
  Go(3);
  Poke("ZZ", 1, 3);
  Go(3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(FieldAddress(1)) + 1, 3), "ZZY");
}

TEST_F(UpdatesTest, UpdatesOfAReadOnlyTableChangeNothing) {
  OpenModeOverride = kReadOnlySharedOpenMode;
  Open("PEOPLE.DBF");
  OpenModeOverride = -1;
  const auto before = Table();
  Go(2);
  ASSERT_TRUE(RLock());
  SetText(1, "ROBERT");
  Replace();
  EXPECT_NE(ErrorCode, 0);
  DeleteRec();
  EXPECT_NE(ErrorCode, 0);
  // The buffers do not show the deletion either: a later Replace would
  // store it.
  EXPECT_EQ(FieldAddress(0)[0], 0);
  EXPECT_EQ(CurrentWorkArea()->record[0], ' ');
  ASSERT_TRUE(UnlockRec(2));
  ASSERT_TRUE(ALock());
  Append();
  EXPECT_NE(ErrorCode, 0);
  EXPECT_EQ(Table(), before);
}

// Index hooks that record their calls and what the table held at the time.
std::vector<std::string> hook_calls;
int semaphore_depth = 0;

void InstallRecordingHooks() {
  hook_calls.clear();
  semaphore_depth = 0;
  IndexHooks.OrderActive = [] { return true; };
  IndexHooks.SetLockSemaphoreProc = [](bool hold) {
    semaphore_depth += hold ? 1 : -1;
    hook_calls.push_back(hold ? "hold" : "release");
  };
  auto native_name = [] {
    return std::string(reinterpret_cast<const char*>(FieldAddress(1)) + 1, FieldAddress(1)[0]);
  };
  static std::string (*name_of)() = +native_name;
  IndexHooks.AppendNewKey = [] { hook_calls.push_back("append " + name_of()); };
  IndexHooks.NoteOldKeys = [] { hook_calls.push_back("old " + name_of()); };
  IndexHooks.UpdateKeys = [] { hook_calls.push_back("new " + name_of() + " " + Peek(1, RecNo())); };
  // Moves in order are not under test: stay in file order for them.
  IndexHooks.ResyncOrder = [] {};
  IndexHooks.EndOrderMove = [] {};
  IndexHooks.SetReadSemaphoreProc = [](bool) {};
}

TEST_F(UpdatesTest, IndexHooksSeeTheOldRecordThenTheNewOneUnderTheSemaphore) {
  Open("PEOPLE.DBF", true);
  Go(2);
  InstallRecordingHooks();
  SetText(1, "ROBERT");
  Replace();
  ASSERT_EQ(ErrorCode, 0);
  EXPECT_EQ(hook_calls, (std::vector<std::string>{"hold", "old BOB       ", "new ROBERT     ROBERT    ",
                                                  "release"}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(FieldAddress(1)) + 1, 6), "ROBERT");

  hook_calls.clear();
  ClearRecord();
  SetText(1, "EVE");
  Append();
  EXPECT_EQ(hook_calls, (std::vector<std::string>{"hold", "append EVE       ", "release"}));

  // Deletion and recall leave the index alone.
  hook_calls.clear();
  DeleteRec();
  RecallRec();
  EXPECT_TRUE(hook_calls.empty());
  EXPECT_EQ(semaphore_depth, 0);
}

TEST_F(UpdatesTest, TheIndexSemaphoreIsReleasedWhenAWriteErrorRaises) {
  OpenModeOverride = kReadOnlySharedOpenMode;
  Open("PEOPLE.DBF");
  OpenModeOverride = -1;
  Go(2);
  ASSERT_TRUE(RLock());
  InstallRecordingHooks();
  ImmediateDispatch = true;
  RaiseExceptions = true;
  SetText(1, "ROBERT");
  EXPECT_THROW(Replace(), EQuindleError);
  EXPECT_EQ(semaphore_depth, 0);
  EXPECT_EQ(hook_calls.back(), "release");
  for (const std::string& call : hook_calls) EXPECT_NE(call.substr(0, 3), "new");
}

}  // namespace
}  // namespace qd
