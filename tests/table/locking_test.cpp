// Table, record and semaphore locks within one process: the lock list and
// kinds, the regions another handle of the same file sees, exclusive tables,
// ResyncVisible and the table lock sections used at close.
#include <gtest/gtest.h>

#include <string>

#include "foundation/exception.h"
#include "table/locking.h"
#include "table/locking_test_support.h"
#include "table/record_updates.h"

namespace qd {
namespace {

class LockingTest : public lock_testing::TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    CreateNamesTable("PEOPLE.DBF", {"ANN", "BOB", "CAY", "DAN", "EVE", "FAY", "GUS", "HAL", "IDA"});
  }
  void TearDown() override {
    if (other_ != platform::kNoFile) platform::CloseFile(other_);
    TableTest::TearDown();
  }
  // A second handle on the table, as another program would hold it.
  platform::FileHandle Other() {
    if (other_ == platform::kNoFile) {
      EXPECT_EQ(platform::OpenFile(Path("PEOPLE.DBF"), kSharedOpenMode, other_), 0u);
    }
    return other_;
  }
  // Whether the other handle can lock the range (released again at once).
  bool OtherCanLock(std::uint64_t offset, std::uint64_t length) {
    const std::uint32_t code = platform::LockRange(Other(), offset, length);
    if (code == 0) platform::UnlockRange(Other(), offset, length);
    return code == 0;
  }
  bool RecordFree(std::int32_t record) {
    const WorkArea& area = *CurrentWorkArea();
    return OtherCanLock(RecordLockOffset(area, record), area.record_length);
  }
  void LockRecords(std::initializer_list<std::int32_t> records) {
    for (std::int32_t r : records) {
      Go(r);
      ASSERT_TRUE(RLock()) << r;
    }
  }

  platform::FileHandle other_ = platform::kNoFile;
};

TEST_F(LockingTest, RecordLocksAndTheTableLockExcludeEachOther) {
  Open("PEOPLE.DBF");
  Go(3);
  EXPECT_TRUE(RLock());
  EXPECT_TRUE(RLock());
  EXPECT_EQ(CurrentWorkArea()->record_locks.size(), 1u);
  EXPECT_EQ(CurrentWorkArea()->lock_kind, 3);
  EXPECT_TRUE(IsLocked(3));
  EXPECT_FALSE(IsLocked(4));
  EXPECT_FALSE(ALock());
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_TRUE(OtherCanLock(kTableLockOffset, 1));

  Unlock();
  EXPECT_EQ(CurrentWorkArea()->lock_kind, 0);
  EXPECT_TRUE(RecordFree(3));
  EXPECT_TRUE(ALock());
  EXPECT_TRUE(ALock());
  EXPECT_FALSE(OtherCanLock(kTableLockOffset, 1));
  EXPECT_TRUE(OtherCanLock(kSemaphoreLockOffset, 1));
  Go(4);
  EXPECT_FALSE(RLock());
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_TRUE(CurrentWorkArea()->record_locks.empty());
  Unlock();
  EXPECT_TRUE(OtherCanLock(kTableLockOffset, 1));

  // The index engine's semaphore byte is a region of its own.
  EXPECT_TRUE(LockSemaphoreByte());
  EXPECT_FALSE(OtherCanLock(kSemaphoreLockOffset, 1));
  UnlockSemaphoreByte();
  EXPECT_TRUE(OtherCanLock(kSemaphoreLockOffset, 1));
}

TEST_F(LockingTest, UnlockRecReleasesByNumberOldestNewestOrAll) {
  Open("PEOPLE.DBF");
  LockRecords({5, 7, 9});
  EXPECT_FALSE(RecordFree(5));

  EXPECT_TRUE(UnlockRec(-1));  // the oldest
  EXPECT_FALSE(IsLocked(5));
  EXPECT_TRUE(RecordFree(5));
  EXPECT_TRUE(IsLocked(7));
  EXPECT_TRUE(IsLocked(9));

  EXPECT_TRUE(UnlockRec(-2));  // the newest
  EXPECT_FALSE(IsLocked(9));
  EXPECT_TRUE(RecordFree(9));
  EXPECT_FALSE(RecordFree(7));
  EXPECT_EQ(CurrentWorkArea()->lock_kind, 3);

  LockRecords({2, 4});
  EXPECT_TRUE(UnlockRec(4));
  EXPECT_TRUE(RecordFree(4));
  EXPECT_TRUE(UnlockRec(-3));
  EXPECT_TRUE(CurrentWorkArea()->record_locks.empty());
  EXPECT_EQ(CurrentWorkArea()->lock_kind, 0);
  EXPECT_TRUE(RecordFree(2));
  EXPECT_TRUE(RecordFree(7));

  // The last lock going clears the kind, so the table lock is possible again.
  LockRecords({6});
  EXPECT_TRUE(UnlockRec(6));
  EXPECT_TRUE(ALock());
  Unlock();

  for (std::int32_t n : {-1, -2, -3}) {
    EXPECT_TRUE(UnlockRec(n)) << n;
    EXPECT_EQ(ErrorCode, 0);
  }
}

TEST_F(LockingTest, UnlockRecOfWhatIsNotLockedFailsWithoutDispatch) {
  Open("PEOPLE.DBF");
  LockRecords({3});
  ImmediateDispatch = true;
  RaiseExceptions = true;  // a dispatch would throw
  EXPECT_NO_THROW({
    EXPECT_FALSE(UnlockRec(4));
    EXPECT_EQ(ErrorCode, 220);
    EXPECT_EQ(ErrorText, "Record not locked. [UnlockRec(4)]");
    EXPECT_FALSE(UnlockRec(-4));
    EXPECT_EQ(ErrorCode, 220);
    EXPECT_EQ(ErrorText, "[UnlockRec(-4)]");
    EXPECT_FALSE(UnlockRec(0));
    EXPECT_EQ(ErrorCode, 220);
  });
  EXPECT_TRUE(IsLocked(3));
  EXPECT_FALSE(RecordFree(3));
}

TEST_F(LockingTest, ExclusiveTablesKeepTheLockStateWithoutSystemLocks) {
  Open("PEOPLE.DBF", true);
  WorkArea& area = *CurrentWorkArea();
  EXPECT_TRUE(ALock());
  EXPECT_EQ(area.lock_kind, 2);
  EXPECT_EQ(platform::UnlockRange(area.file, kTableLockOffset, 1), 158u);  // never taken
  Go(3);
  EXPECT_FALSE(RLock());
  Unlock();
  EXPECT_EQ(ErrorCode, 0);

  EXPECT_TRUE(RLock());
  EXPECT_TRUE(IsLocked(3));
  EXPECT_EQ(area.lock_kind, 3);
  EXPECT_EQ(platform::UnlockRange(area.file, RecordLockOffset(area, 3), area.record_length), 158u);
  EXPECT_FALSE(ALock());
  EXPECT_TRUE(UnlockRec(3));
  EXPECT_EQ(area.lock_kind, 0);

  // The index engine's semaphore byte is locked even here.
  EXPECT_TRUE(LockSemaphoreByte());
  UnlockSemaphoreByte();
  EXPECT_EQ(ErrorCode, 0);
  UnlockSemaphoreByte();
  EXPECT_EQ(ErrorCode, 158);
  EXPECT_EQ(ErrorText, "Error attempting to UNLOCK file " + area.file_name + " in Workarea 1");
}

TEST_F(LockingTest, CloseReleasesEveryLock) {
  Open("PEOPLE.DBF");
  LockRecords({1, 9});
  Select(2);
  Open("PEOPLE.DBF ALIAS SECOND");
  ASSERT_TRUE(ALock());
  Close();
  Select(1);
  Close();
  EXPECT_TRUE(OtherCanLock(kTableLockOffset, 1));
  Open("PEOPLE.DBF");
  EXPECT_TRUE(RecordFree(1));
  EXPECT_TRUE(RecordFree(9));
}

TEST_F(LockingTest, RecordZeroOfAnEmptyTableIsNeverLocked) {
  // With a record length above the header length the region "before record
  // 1" would cover the table lock and the semaphore byte of every program.
  ASSERT_TRUE(CreateDBF(Path("WIDE.DBF"), {{"TEXT", 'C', 200, 0}}));
  Use(Path("WIDE.DBF"), nullptr, 0);
  ASSERT_EQ(ErrorCode, 0);
  ASSERT_EQ(RecNo(), 0);
  EXPECT_FALSE(RLock());
  EXPECT_TRUE(CurrentWorkArea()->record_locks.empty());
  EXPECT_TRUE(ALock());
}

TEST_F(LockingTest, ResyncVisibleMovesOffAHiddenRecordAndReleasesLocks) {
  Open("PEOPLE.DBF");
  SetIgnoreDel(true);
  Go(4);
  EXPECT_FALSE(ResyncVisible());  // visible: nothing happens
  EXPECT_EQ(RecNo(), 4);

  ASSERT_TRUE(RLock());
  DeleteRec();
  ASSERT_EQ(ErrorCode, 0);
  EXPECT_TRUE(ResyncVisible());
  EXPECT_EQ(RecNo(), 5);
  EXPECT_TRUE(CurrentWorkArea()->record_locks.empty());
  EXPECT_TRUE(RecordFree(4));

  // The last record hidden: back to the nearest visible one before it.
  Go(9);
  ASSERT_TRUE(RLock());
  DeleteRec();
  Go(8);
  ASSERT_TRUE(RLock());
  DeleteRec();
  EXPECT_TRUE(ResyncVisible());
  EXPECT_EQ(RecNo(), 7);
  EXPECT_FALSE(dEOF());
}

TEST_F(LockingTest, TableLockSectionsWaitForTheLockAndReleaseIt) {
  Open("PEOPLE.DBF");
  WorkArea& area = *CurrentWorkArea();
  ASSERT_EQ(platform::LockRange(Other(), kTableLockOffset, 1), 0u);
  EXPECT_EQ(EnterTableLockSection(area, 30), TableLockSection::Unavailable);
  ASSERT_EQ(platform::UnlockRange(Other(), kTableLockOffset, 1), 0u);

  const TableLockSection section = EnterTableLockSection(area, 30);
  ASSERT_EQ(section, TableLockSection::Taken);
  EXPECT_FALSE(OtherCanLock(kTableLockOffset, 1));
  EXPECT_EQ(area.lock_kind, 0);
  LeaveTableLockSection(area, section);
  EXPECT_TRUE(OtherCanLock(kTableLockOffset, 1));

  ASSERT_TRUE(ALock());
  EXPECT_EQ(EnterTableLockSection(area, 30), TableLockSection::NotNeeded);
  LeaveTableLockSection(area, TableLockSection::NotNeeded);
  EXPECT_FALSE(OtherCanLock(kTableLockOffset, 1));  // still ALock's
}

}  // namespace
}  // namespace qd
