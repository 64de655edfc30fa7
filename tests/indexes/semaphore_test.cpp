// The semaphore protocol inside one process: two work areas sharing a table
// behave as two programs (their handles' byte-range locks conflict as other
// programs' do). Login counts, reader registration and its nesting, the
// writer's wait and its timeout text, the change counter, unbalanced calls,
// exclusive tables.
#include <filesystem>

#include "index_test_support.h"

namespace qd::index_test {
namespace {

class SemaphoreTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    OpenPeople();
    name_ = SemaphoreFileName(CurrentWorkArea()->file_name);
  }
  // Opens the same table in work area 2 under another alias: a second
  // program.
  void OpenSecond() {
    Select(2);
    Use(Path("people.dbf") + " ALIAS SECOND", nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    Select(1);
  }
  template <typename Action>
  void In(int area, Action action) {
    Select(area);
    action();
    Select(1);
  }
  Bytes Record() const { return table_test::ReadAll(Path("PEOPLE.@S@")); }
  // The record as this work area last wrote it: what the file holds while
  // it keeps the byte range, where locks are mandatory (Windows) the file
  // cannot be read through another handle then.
  static Bytes OwnRecord() {
    std::uint8_t record[4];
    SemaphoreRecord(record);
    return Bytes(record, record + 4);
  }
  bool FileThere() const { return std::filesystem::exists(Path("PEOPLE.@S@")); }

  std::string name_;
};

TEST_F(SemaphoreTest, LoginsAndReadersAreCountedInTheFile) {
  OpenSecond();
  EXPECT_FALSE(FileThere());
  HandleSemafore(LOGIN);
  EXPECT_TRUE(SemaphoreLoggedIn());
  EXPECT_EQ(Record(), (Bytes{1, 0, 0, 0}));
  HandleSemafore(LOGIN);  // already logged in: nothing
  In(2, [] { HandleSemafore(LOGIN); });
  EXPECT_EQ(Record(), (Bytes{2, 0, 0, 0}));

  // Only the outermost read phase registers and deregisters.
  SetReadSemaphoreProc(true);
  EXPECT_EQ(Record(), (Bytes{2, 1, 0, 0}));
  SetReadSemaphoreProc(true);
  In(2, [] { IndexHooks.SetReadSemaphoreProc(true); });
  EXPECT_EQ(Record(), (Bytes{2, 2, 0, 0}));
  SetReadSemaphoreProc(false);
  EXPECT_EQ(Record(), (Bytes{2, 2, 0, 0}));
  SetReadSemaphoreProc(false);
  EXPECT_EQ(Record(), (Bytes{2, 1, 0, 0}));

  // Logging out while registered takes the registration back too.
  In(2, [] { HandleSemafore(LOGOUT); });
  EXPECT_EQ(Record(), (Bytes{1, 0, 0, 0}));
  HandleSemafore(LOGOUT);
  EXPECT_FALSE(SemaphoreLoggedIn());
  EXPECT_FALSE(FileThere());  // the last logout erases it
  HandleSemafore(INCREAD);   // not logged in: nothing
  EXPECT_FALSE(FileThere());
}

TEST_F(SemaphoreTest, AWriterWaitsForReadersAndGivesUpWithTheCure) {
  OpenSecond();
  HandleSemafore(LOGIN);
  In(2, [] {
    HandleSemafore(LOGIN);
    SetReadSemaphoreProc(true);
  });
  SemaphoreWaitLimit = 1;
  EXPECT_EQ(Raised([] { SetLockSemaphoreProc(true); }),
            ErrorMessage(1202) + "\r\n1 second timeout, cannot read: " + name_ +
                "\r\nPossible cause: Other user's program has terminated abnormally.\r\n"
                "Cure: Log all users of this application off the network,\r\nthen delete " + name_);
  EXPECT_EQ(Record(), (Bytes{2, 1, 0, 0}));
  // The failed call left no depth behind.
  EXPECT_EQ(Raised([] { SetLockSemaphoreProc(false); }),
            ErrorMessage(254) + "\r\nNon-symmetrical Lock-Unlock [SetLockSemaphoreProc]");

  In(2, [] { SetReadSemaphoreProc(false); });
  SetLockSemaphoreProc(true);
  EXPECT_EQ(OwnRecord(), (Bytes{2, 1, 0, 0}));  // the writer counts itself
  SetLockSemaphoreProc(true);                  // nested: nothing more
  SetReadSemaphoreProc(true);                  // inside the write phase: nothing
  EXPECT_EQ(OwnRecord(), (Bytes{2, 1, 0, 0}));
  SetReadSemaphoreProc(false);
  SetLockSemaphoreProc(false);
  SetLockSemaphoreProc(false);
  EXPECT_EQ(Record(), (Bytes{2, 0, 1, 0}));  // the change counter moved
}

TEST_F(SemaphoreTest, AReaderCannotRegisterDuringAWritePhase) {
  OpenSecond();
  HandleSemafore(LOGIN);
  In(2, [] { HandleSemafore(LOGIN); });
  SetLockSemaphoreProc(true);
  SemaphoreLockPause = 1;
  Select(2);
  EXPECT_EQ(Raised([] { SetReadSemaphoreProc(true); }),
            ErrorMessage(1202) + "\r\n10 second timeout: Cannot lock index semaphore file: " + name_ +
                " INCREAD\r\nPossible cause: Network lock limit exceeded\r\n Lock result code: 33");
  Select(1);
  SetLockSemaphoreProc(false);
  // The reader's next attempt goes through.
  In(2, [] { SetReadSemaphoreProc(true); });
  EXPECT_EQ(Record(), (Bytes{2, 1, 1, 0}));
  In(2, [] { SetReadSemaphoreProc(false); });
}

TEST_F(SemaphoreTest, TheChangeCounterTellsOfOtherProgramsChanges) {
  table_test::WriteAll(Path("PEOPLE.@S@"), Bytes{0, 0, 0xFE, 0xFF});  // 65534
  OpenSecond();
  HandleSemafore(LOGIN);
  In(2, [] { HandleSemafore(LOGIN); });
  EXPECT_TRUE(IndexChangedElsewhere());  // 65534 was never seen here
  EXPECT_FALSE(IndexChangedElsewhere());
  In(2, [] {
    SetLockSemaphoreProc(true);
    SetLockSemaphoreProc(false);
    EXPECT_FALSE(IndexChangedElsewhere());  // its own change
  });
  EXPECT_EQ(Record(), (Bytes{2, 0, 0, 0}));  // 65535 is stored as 0
  EXPECT_FALSE(IndexChangedElsewhere());     // nothing read since
  SetReadSemaphoreProc(true);
  EXPECT_TRUE(IndexChangedElsewhere());
  EXPECT_FALSE(IndexChangedElsewhere());
  SetReadSemaphoreProc(false);
}

TEST_F(SemaphoreTest, UnbalancedCallsAreReported) {
  EXPECT_EQ(Raised([] { SetReadSemaphoreProc(false); }),
            ErrorMessage(254) + "\r\nNon-symmetrical Lock-Unlock [SetReadSemaphoreProc]");
  HandleSemafore(LOGIN);
  EXPECT_EQ(Raised([] { HandleSemafore(DECREAD); }),
            ErrorMessage(254) + "\r\nUnbalanced IncRead/DecRead for semaphore file: " + name_);
  EXPECT_EQ(Raised([] { HandleSemafore(UNLOCKSEMAPHORE); }),
            ErrorMessage(254) + "\r\nUnbalanced Lock/Unlock for semaphore file: " + name_);
  // Neither left a count below zero behind.
  SetReadSemaphoreProc(true);
  EXPECT_EQ(Record(), (Bytes{1, 1, 0, 0}));
  SetReadSemaphoreProc(false);
  EXPECT_EQ(Record(), (Bytes{1, 0, 0, 0}));
  HandleSemafore(LOGOUT);
}

TEST_F(SemaphoreTest, ExclusiveTablesAndWorkAreasAbove34) {
  Close();
  OpenPeople(true);
  HandleSemafore(LOGIN);
  SetReadSemaphoreProc(true);
  SetLockSemaphoreProc(true);
  SetLockSemaphoreProc(false);
  SetReadSemaphoreProc(false);
  EXPECT_FALSE(SemaphoreLoggedIn());
  EXPECT_FALSE(FileThere());
  CurrentArea = 35;
  EXPECT_EQ(Raised([] { HandleSemafore(LOGIN); }),
            ErrorMessage(254) + "\r\nWork area [35] out of range. [HandleSemafore]");
  CurrentArea = 1;
}

}  // namespace
}  // namespace qd::index_test
