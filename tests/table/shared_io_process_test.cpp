// Reading ahead and collecting appends, seen from outside: another real
// process changes records between the steps of this one (a step served from
// the block read earlier shows the record as it was then, every drop of the
// block shows the change, a record under this program's own lock is always
// read from the file), and a reader sees every record another program
// appended as soon as that program released its table lock. Collected
// appends leave the file exactly as record-by-record writes did, are in the
// file before they are read back, and a full disk loses none of them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "table/locking_test_support.h"
#include "table/record_updates.h"

namespace qd {
namespace {

class SharedIoTest : public lock_testing::TableTest {
 protected:
  std::string Quoted(const std::string& name) { return "\"" + Path(name) + "\""; }

  // Twelve records "A1" to "A12" in NAME C(10), AMOUNT N(5,0).
  void CreateSteps() {
    std::vector<std::string> names;
    for (int i = 1; i <= 12; ++i) names.push_back("A" + std::to_string(i));
    CreateNamesTable("STEPS.DBF", names);
  }

  // NAME of the current record without its trailing blanks.
  static std::string Name() {
    std::string text = table_test::SlotText(1);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }

  static std::int32_t Amount() {
    std::int32_t value = 0;
    std::memcpy(&value, FieldAddress(2), 4);
    return value;
  }

  static void Fill(std::int32_t n) {
    ClearRecord();
    SetText(1, "R" + std::to_string(n));
    std::memcpy(FieldAddress(2), &n, 4);
  }

  // The stored record count of a closed table's header.
  std::uint32_t HeaderCount(const std::string& name) {
    const auto bytes = FileBytes(name);
    return table_test::Get32(bytes, 4);
  }
};

#ifdef QD_LOCK_CHILD

class SharedIoProcessTest : public SharedIoTest {
 protected:
  std::string Child(const std::string& arguments) {
    return lock_testing::RunChild(Path("result.txt"), arguments);
  }
  void Rewrite(int record, const std::string& text) {
    EXPECT_EQ(Child("rewrite " + Quoted("STEPS.DBF") + " " + std::to_string(record) + " " + text), "ok");
  }
  void Poke(int record, const std::string& text) {
    EXPECT_EQ(Child("poke " + Quoted("STEPS.DBF") + " " + std::to_string(record) + " " + text), "ok");
  }
};

TEST_F(SharedIoProcessTest, StepsSeeAnotherProgramsChangesOnceTheBlockIsDropped) {
  CreateSteps();
  Open("STEPS.DBF");
  // Without a drop, the step is served from the block read at the first
  // step: the record as it was then.
  GoTop();
  Skip(1);
  Rewrite(3, "OLD3");
  Skip(1);
  EXPECT_EQ(Name(), "A3");

  const std::vector<std::pair<const char*, std::function<void()>>> drops = {
      {"record lock and release", [] { ASSERT_TRUE(RLock()); Unlock(); }},
      {"table lock and release", [] { ASSERT_TRUE(ALock()); Unlock(); }},
      {"position by number", [] { Go(2); }},
      {"record count", [] { RecCount(); }},
      {"index semaphore byte", [] { ASSERT_TRUE(LockSemaphoreByte()); UnlockSemaphoreByte(); }},
  };
  int round = 0;
  for (const auto& [name, drop] : drops) {
    GoTop();
    Skip(1);
    const std::string text = "NEW" + std::to_string(++round);
    Rewrite(3, text);
    drop();
    Skip(1);
    EXPECT_EQ(RecNo(), 3) << name;
    EXPECT_EQ(Name(), text) << name;
  }

  // A write of this program's own drops the block too.
  GoTop();
  Skip(1);
  ASSERT_TRUE(RLock());  // record 2, taken before the block below is read
  Skip(1);
  Rewrite(5, "W5");
  qd::Poke("Z", 1, 2);
  Skip(1);
  Skip(1);
  EXPECT_EQ(Name(), "W5");
  Unlock();

  // Backward steps read the block that ends at the record.
  GoBottom();
  Skip(-1);
  Rewrite(10, "B10");
  Skip(-1);
  EXPECT_EQ(Name(), "A10");
  RecCount();
  Rewrite(9, "B9");
  Skip(-1);
  EXPECT_EQ(Name(), "B9");
}

TEST_F(SharedIoProcessTest, ARecordUnderThisProgramsLockIsReadFromTheFile) {
  CreateSteps();
  Open("STEPS.DBF");
  Go(6);
  ASSERT_TRUE(RLock());
  GoTop();
  Skip(1);  // the block from record 2 on, read while record 6 is locked here
  // A program that ignores locks writes both records.
  Poke(5, "P5");
  Poke(6, "P6");
  Skip(3);
  EXPECT_EQ(Name(), "A5");
  Skip(1);
  EXPECT_EQ(Name(), "P6");
  Unlock();
  Skip(-1);
  EXPECT_EQ(Name(), "P5");
}

// The append-hold child in a thread of its own, waiting at its mark.
class HoldingChild {
 public:
  HoldingChild(std::string result, const std::string& arguments) : result_(std::move(result)) {
    for (const char* suffix : {"", ".ready", ".go"}) std::filesystem::remove(result_ + suffix);
    std::string command = "\"" + lock_testing::ChildProgram() + "\" \"" + result_ + "\" " + arguments;
#ifdef _WIN32
    command = "\"" + command + "\"";  // cmd.exe drops the outer pair of quotes
#endif
    thread_ = std::thread([this, command] { status_ = std::system(command.c_str()); });
  }
  ~HoldingChild() {
    if (thread_.joinable()) Finish();
  }
  HoldingChild(const HoldingChild&) = delete;
  HoldingChild& operator=(const HoldingChild&) = delete;

  bool Ready() {
    for (int i = 0; i < 6000 && !std::filesystem::exists(result_ + ".ready"); ++i) platform::SleepMs(10);
    return std::filesystem::exists(result_ + ".ready");
  }
  std::string Finish() {
    std::ofstream(result_ + ".go") << "go";
    thread_.join();
    EXPECT_EQ(status_, 0);
    std::ifstream in(result_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string result_;
  std::thread thread_;
  int status_ = -1;
};

TEST_F(SharedIoProcessTest, AReaderSeesEveryRecordAnotherProgramAppendedAndReleased) {
  CreateNamesTable("LOG.DBF", {"FIRST"});
  Open("LOG.DBF");
  Skip(1);  // the reader stands at the end with the count of one
  constexpr int kAppended = 20000;  // more than one collection of appends
  HoldingChild child(Path("hold.txt"), "append-hold " + Quoted("LOG.DBF") + " " +
                                           std::to_string(kAppended));
  ASSERT_TRUE(child.Ready());
  // The other program released its lock but keeps the table open.
  EXPECT_EQ(RecCount(), kAppended + 1);
  GoTop();
  for (int n = 1; n <= kAppended; ++n) {
    Skip(1);
    ASSERT_EQ(RecNo(), n + 1);
    ASSERT_EQ(Name(), "R" + std::to_string(n));
    ASSERT_EQ(Amount(), n);
  }
  Skip(1);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(child.Finish(), "ok");
}

#endif  // QD_LOCK_CHILD

// Collected appends, shared under the table lock and exclusive: the file
// ends up byte for byte as a record-by-record append leaves it.
TEST_F(SharedIoTest, CollectedAppendsLeaveTheFileAsSingleWritesDid) {
  constexpr int kRecords = 20000;  // 320,000 bytes: more than one collection
  for (const bool exclusive : {false, true}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    CreateNamesTable("APP.DBF", {});
    Open("APP.DBF", exclusive);
    ASSERT_TRUE(ALock());
    const std::size_t header = CurrentWorkArea()->header_length;
    for (int n = 1; n <= kRecords; ++n) {
      Fill(n);
      Append();
      ASSERT_EQ(ErrorCode, 0) << ErrorText;
    }
    // Reading one back writes them first.
    Go(kRecords - 1);
    EXPECT_EQ(Name(), "R" + std::to_string(kRecords - 1));
    // (Where share modes are enforced, an exclusive table cannot be read
    // through another handle.)
    if (!exclusive) {
      EXPECT_EQ(FileBytes("APP.DBF").size(), header + 16u * kRecords);
    }
    Fill(kRecords + 1);
    Append();
    Unlock();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    if (!exclusive) {
      EXPECT_EQ(FileBytes("APP.DBF").size(), header + 16u * (kRecords + 1));
    }
    Close();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    const auto bytes = FileBytes("APP.DBF");
    ASSERT_EQ(bytes.size(), header + 16u * (kRecords + 1) + 1);
    EXPECT_EQ(bytes.back(), 0x1A);
    EXPECT_EQ(HeaderCount("APP.DBF"), kRecords + 1u);
    const std::string last(bytes.end() - 17, bytes.end() - 1);
    EXPECT_EQ(last, " R20001    20001");
    std::filesystem::remove(Path("APP.DBF"));
  }
}

// An index unit's append hook sees the new record and reads it back; on a
// shared table with an index order the record is in the file before the
// index is given back to the other programs.
TEST_F(SharedIoTest, AnAppendHookReadsTheNewRecordBack) {
  CreateNamesTable("HOOK.DBF", {"FIRST"});
  Open("HOOK.DBF");
  const std::size_t header = CurrentWorkArea()->header_length;
  static std::string seen;
  seen.clear();
  IndexHooks.OrderActive = [] { return true; };
  IndexHooks.AppendNewKey = [] {
    WorkArea* area = CurrentWorkArea();
    ASSERT_TRUE(GetDbfRecord(*area, area->record_number));
    seen += std::string(area->record.begin() + 1, area->record.begin() + 4) + ",";
  };
  ASSERT_TRUE(ALock());
  for (int n = 1; n <= 3; ++n) {
    Fill(n);
    Append();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    EXPECT_EQ(FileBytes("HOOK.DBF").size(), header + 16u * (n + 1));
  }
  EXPECT_EQ(seen, "R1 ,R2 ,R3 ,");
  Unlock();
}

#ifndef _WIN32
// A full disk, simulated by a small file system of its own: the append that
// finds no room reports it, and every append reported before is in the
// file, counted in its header.
TEST_F(SharedIoTest, AFullDiskLosesNoAppendReportedDone) {
  const std::string dir = Path("small");
  std::filesystem::create_directories(dir);
  const std::string mount = "mount -t tmpfs -o size=1m none \"" + dir + "\" 2>/dev/null";
  if (std::system(mount.c_str()) != 0) GTEST_SKIP() << "no small file system can be mounted here";
  struct Unmount {
    std::string dir;
    ~Unmount() {
      CloseEveryWorkArea();
      const std::string command = "umount \"" + dir + "\"";
      EXPECT_EQ(std::system(command.c_str()), 0);
    }
  } unmount{dir};

  const std::string table = dir + "/FULL.DBF";
  for (const bool exclusive : {false, true}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    std::filesystem::remove(table);
    ASSERT_TRUE(CreateDBF(table, {{"NAME", 'C', 100, 0}, {"AMOUNT", 'N', 5, 0}}));
    Use(table + (exclusive ? " EXCLUSIVE" : ""), nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    ASSERT_TRUE(ALock());
    std::int32_t appended = 0;
    for (std::int32_t n = 1; n < 100000; ++n) {
      Fill(n);
      Append();
      if (ErrorCode != 0) break;
      ++appended;
    }
    ExpectError(101);
    EXPECT_GT(appended, 1000);
    Unlock();
    EXPECT_EQ(ErrorCode, 0) << ErrorText;
    Close();
    ErrorCode = 0;  // the end-of-file byte may find no room either
    Use(table, nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    ASSERT_EQ(RecCount(), appended);
    GoTop();
    for (std::int32_t n = 1; n <= appended; ++n, Skip(1)) {
      ASSERT_EQ(Name(), "R" + std::to_string(n));
      ASSERT_EQ(Amount(), n);
    }
    Close();
    std::uint8_t count[4] = {};
    std::ifstream(table, std::ios::binary).seekg(4).read(reinterpret_cast<char*>(count), 4);
    EXPECT_EQ(static_cast<std::int32_t>(count[0] | count[1] << 8 | count[2] << 16 | count[3] << 24),
              appended);
  }
}
#endif

}  // namespace
}  // namespace qd
