// The semaphore protocol between real processes: the child program
// (index_child.cpp) plays the other programs sharing the table. Login
// counts, reader registration holding off a writer until its (shortened)
// wait limit, a writer going ahead once the reader leaves, the change
// counter seen by the other process, the last logout erasing the file, and
// no file at all for a program that uses the table exclusively.
#include <filesystem>
#include <fstream>
#include <thread>

#include "index_test_support.h"
#include "platform/platform.h"

#ifdef QD_INDEX_CHILD

namespace qd::index_test {
namespace {

// One run of the child program in a thread of its own, with the marks it
// and the test synchronise through.
class Child {
 public:
  Child(std::string result, const std::string& arguments) : result_(std::move(result)) {
    for (const char* suffix : {"", ".ready", ".go"}) std::filesystem::remove(result_ + suffix);
    std::string command = std::string("\"") + QD_INDEX_CHILD + "\" \"" + result_ + "\" " + arguments;
#ifdef _WIN32
    command = "\"" + command + "\"";  // cmd.exe drops the outer pair of quotes
#endif
    thread_ = std::thread([this, command] { status_ = std::system(command.c_str()); });
  }
  ~Child() {
    if (thread_.joinable()) Finish();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Waits until the child reached its waiting point (a minute at most);
  // its result text so far.
  std::string Ready() {
    for (int i = 0; i < 6000 && !std::filesystem::exists(result_ + ".ready"); ++i) platform::SleepMs(10);
    EXPECT_TRUE(std::filesystem::exists(result_ + ".ready")) << Text();
    return Text();
  }
  // Lets it go on, waits for its end and returns its result.
  std::string Finish() {
    std::ofstream(result_ + ".go") << "go";
    thread_.join();
    EXPECT_EQ(status_, 0);
    return Text();
  }

 private:
  std::string Text() const {
    const Bytes bytes = table_test::ReadAll(result_);
    return std::string(bytes.begin(), bytes.end());
  }
  std::string result_;
  std::thread thread_;
  int status_ = -1;
};

class SemaphoreProcessTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    OpenPeople();
    name_ = SemaphoreFileName(CurrentWorkArea()->file_name);
  }
  std::unique_ptr<Child> Start(const std::string& result, const std::string& arguments) {
    return std::make_unique<Child>(Path(result), "\"" + Path("people.dbf") + "\" " + arguments);
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
  std::string Timeout(int seconds) const {
    return ErrorMessage(1202) + "\r\n" + std::to_string(seconds) + " second timeout, cannot read: " + name_ +
           "\r\nPossible cause: Other user's program has terminated abnormally.\r\n"
           "Cure: Log all users of this application off the network,\r\nthen delete " + name_;
  }

  std::string name_;
};

TEST_F(SemaphoreProcessTest, LoginsAreCountedAcrossProgramsAndTheLastLogoutErases) {
  // Alone, another program creates the file and erases it again.
  auto alone = Start("alone.txt", "hold");
  EXPECT_EQ(alone->Ready(), "users 1");
  EXPECT_EQ(Record(), (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(alone->Finish(), "users 1 done");
  EXPECT_FALSE(FileThere());

  HandleSemafore(LOGIN);
  auto first = Start("first.txt", "hold");
  EXPECT_EQ(first->Ready(), "users 2");
  auto second = Start("second.txt", "hold");
  EXPECT_EQ(second->Ready(), "users 3");
  EXPECT_EQ(Record(), (Bytes{3, 0, 0, 0}));
  EXPECT_EQ(first->Finish(), "users 2 done");
  EXPECT_EQ(second->Finish(), "users 3 done");
  EXPECT_EQ(Record(), (Bytes{1, 0, 0, 0}));
  HandleSemafore(LOGOUT);
  EXPECT_FALSE(FileThere());
}

TEST_F(SemaphoreProcessTest, AReaderElsewhereHoldsOffAWriterUntilItsWaitLimit) {
  HandleSemafore(LOGIN);
  auto reader = Start("reader.txt", "read");
  EXPECT_EQ(reader->Ready(), "reading");
  EXPECT_EQ(Record(), (Bytes{2, 1, 0, 0}));
  SemaphoreWaitLimit = 1;
  EXPECT_EQ(Raised([] { SetLockSemaphoreProc(true); }), Timeout(1));
  EXPECT_EQ(reader->Finish(), "reading done");
  EXPECT_EQ(Record(), (Bytes{1, 0, 0, 0}));
  SetLockSemaphoreProc(true);  // the failed attempt left nothing behind
  EXPECT_EQ(OwnRecord(), (Bytes{1, 1, 0, 0}));
  SetLockSemaphoreProc(false);
  EXPECT_EQ(Record(), (Bytes{1, 0, 1, 0}));
  HandleSemafore(LOGOUT);
}

TEST_F(SemaphoreProcessTest, AWriterGoesAheadOnceTheReaderLeaves) {
  HandleSemafore(LOGIN);
  auto reader = Start("reader.txt", "read-for 300");
  EXPECT_EQ(reader->Ready(), "reading");
  SetLockSemaphoreProc(true);
  // Only this writer is counted now: the reader deregistered first (and
  // may have logged out too).
  EXPECT_EQ(OwnRecord()[1], 1);
  SetLockSemaphoreProc(false);
  EXPECT_EQ(reader->Finish(), "reading done");
  EXPECT_EQ(Record(), (Bytes{1, 0, 1, 0}));
  HandleSemafore(LOGOUT);
}

TEST_F(SemaphoreProcessTest, AWriterElsewhereWaitsForOurReadPhase) {
  HandleSemafore(LOGIN);
  SetReadSemaphoreProc(true);
  EXPECT_EQ(Start("writer.txt", "write 1")->Finish(), "error " + Timeout(1) + " done");
  SetReadSemaphoreProc(false);
  EXPECT_EQ(Start("writer.txt", "write 5")->Finish(), "locked 2 1 0 done");
  EXPECT_EQ(Record(), (Bytes{1, 0, 1, 0}));
  HandleSemafore(LOGOUT);
}

TEST_F(SemaphoreProcessTest, AnotherProgramsChangeIsSeenThroughTheCounter) {
  WriteMdx(PeopleIndex());
  OpenIndex();
  EXPECT_EQ(TagInSlot(1)->RootPage(), 4u);
  // The other program moves tag 1's root to page 8 (a leaf of the file).
  EXPECT_EQ(Start("change.txt", "change \"" + MdxPath() + "\" 8")->Finish(), "changed 2 0 1 done");
  EXPECT_FALSE(IndexChangedElsewhere());  // nothing read from the file yet
  SetReadSemaphoreProc(true);
  EXPECT_TRUE(IndexChangedElsewhere());
  EXPECT_EQ(TagInSlot(1)->RootPage(), 8u);
  EXPECT_FALSE(IndexChangedElsewhere());
  SetReadSemaphoreProc(false);
  EXPECT_EQ(Record(), (Bytes{1, 0, 1, 0}));
  CloseIndex();
  EXPECT_FALSE(FileThere());
}

TEST_F(SemaphoreProcessTest, AProgramUsingTheTableExclusivelyMakesNoSemaphoreFile) {
  WriteMdx(PeopleIndex());
  Close();
  EXPECT_EQ(Start("exclusive.txt", "exclusive \"" + MdxPath() + "\"")->Finish(),
            "opened, semaphore file absent done");
  EXPECT_FALSE(FileThere());
}

}  // namespace
}  // namespace qd::index_test

#endif  // QD_INDEX_CHILD
