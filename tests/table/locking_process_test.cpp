// Several real processes sharing one table: locks held here refuse the same
// locks elsewhere at once, the regions sit exactly where other programs look
// for them, appends under the table lock from four processes lose and tear
// nothing, and record rewrites under record locks never mix two records.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "table/locking.h"
#include "table/locking_test_support.h"
#include "table/record_updates.h"

namespace qd {
namespace {

class LockingProcessTest : public lock_testing::TableTest {
 protected:
  std::string Child(const std::string& arguments, const std::string& result = "result.txt") {
    return lock_testing::RunChild(Path(result), arguments);
  }
  std::string Quoted(const std::string& name) { return "\"" + Path(name) + "\""; }

  // Runs the children side by side and returns what each reported.
  std::vector<std::string> RunTogether(const std::vector<std::string>& arguments) {
    std::vector<std::string> results(arguments.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      threads.emplace_back([&, i] {
        results[i] = Child(arguments[i], "result" + std::to_string(i) + ".txt");
      });
    }
    for (std::thread& thread : threads) thread.join();
    return results;
  }

  // Table of the append and replace children: WRITER and NUMBER (both
  // 32-bit native slots) and DATA, a text its writer fills completely.
  void CreateWorkTable(const std::string& name) {
    ASSERT_TRUE(CreateDBF(Path(name), {{"WRITER", 'N', 3, 0},
                                        {"NUMBER", 'N', 6, 0},
                                        {"DATA", 'C', 40, 0}}));
  }
  static std::string Pattern(int id, int number) {
    const std::string unit =
        std::string(1, static_cast<char>('A' + id)) + std::to_string(number) + ".";
    std::string text;
    while (text.size() < 40) text += unit;
    text.resize(40);
    return text;
  }
};

TEST_F(LockingProcessTest, LocksHeldHereFailAtOnceInAnotherProcess) {
  CreateNamesTable("PEOPLE.DBF", {"ANN", "BOB", "CAY", "DAN"});
  Open("PEOPLE.DBF");
  const auto before = FileBytes("PEOPLE.DBF");
  Go(3);
  ASSERT_TRUE(RLock());
  EXPECT_EQ(Child("try " + Quoted("PEOPLE.DBF") + " 3"), "0 1");
  EXPECT_EQ(Child("try " + Quoted("PEOPLE.DBF") + " 2"), "1 1");
  Unlock();
  EXPECT_EQ(Child("try " + Quoted("PEOPLE.DBF") + " 3"), "1 1");

  ASSERT_TRUE(ALock());
  EXPECT_EQ(Child("try " + Quoted("PEOPLE.DBF") + " 3"), "1 0");
  EXPECT_EQ(FileBytes("PEOPLE.DBF"), before);  // locking writes nothing
  Close();
  EXPECT_EQ(Child("try " + Quoted("PEOPLE.DBF") + " 3"), "1 1");
}

TEST_F(LockingProcessTest, RecordOneLocksExactlyItsRegion) {
  // Header length 66 (one field and a spare byte after the terminator) and
  // record length 25: record 1 owns bytes 1,073,741,890 to 1,073,741,914.
  std::vector<std::uint8_t> file(66, 0);
  file[0] = 0x03;
  file[1] = 124;
  file[2] = 1;
  file[3] = 1;
  file[4] = 1;  // one record
  file[8] = 66;
  file[10] = 25;
  std::memcpy(&file[32], "TEXT", 4);
  file[43] = 'C';
  file[48] = 24;
  file[64] = 0x0D;
  const std::string record = " " + std::string(24, 'x');
  file.insert(file.end(), record.begin(), record.end());
  file.push_back(0x1A);
  {
    std::ofstream out(scratch_.dir() / "REGION.DBF", std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  Open("REGION.DBF");
  ASSERT_EQ(CurrentWorkArea()->header_length, 66);
  ASSERT_EQ(CurrentWorkArea()->record_length, 25);
  Go(1);
  ASSERT_TRUE(RLock());

  const std::string table = Quoted("REGION.DBF");
  auto probe = [&](std::uint64_t offset, std::uint64_t length) {
    return Child("probe " + table + " " + std::to_string(offset) + " " + std::to_string(length));
  };
  EXPECT_EQ(probe(1073741889, 1), "0");   // the byte before is free
  EXPECT_EQ(probe(1073741890, 1), "33");  // first byte held
  EXPECT_EQ(probe(1073741914, 1), "33");  // last byte held
  EXPECT_EQ(probe(1073741915, 1), "0");   // the byte after is free
  EXPECT_EQ(probe(1073741825, 1), "0");   // the table lock is not taken
  Unlock();
  EXPECT_EQ(probe(1073741890, 25), "0");
}

TEST_F(LockingProcessTest, AppendsFromFourProcessesUnderTheTableLock) {
  constexpr int kProcesses = 4;
  constexpr int kEach = 2000;
  CreateWorkTable("LOG.DBF");
  std::vector<std::string> arguments;
  for (int id = 0; id < kProcesses; ++id) {
    arguments.push_back("append " + Quoted("LOG.DBF") + " " + std::to_string(id) + " " +
                        std::to_string(kEach));
  }
  for (const std::string& result : RunTogether(arguments)) EXPECT_EQ(result, "ok");

  // Every process has closed: the header holds the count of the file.
  const std::vector<std::uint8_t> bytes = FileBytes("LOG.DBF");
  const std::uint32_t header_count =
      bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (static_cast<std::uint32_t>(bytes[7]) << 24);
  EXPECT_EQ(header_count, static_cast<std::uint32_t>(kProcesses * kEach));

  Open("LOG.DBF", true);
  const WorkArea& area = *CurrentWorkArea();
  EXPECT_EQ(bytes.size(), area.header_length +
                              static_cast<std::size_t>(kProcesses * kEach) * area.record_length + 1);
  EXPECT_EQ(bytes.back(), 0x1A);
  ASSERT_EQ(RecCount(), kProcesses * kEach);
  std::map<int, int> next;  // per writer, the sequence number expected next
  for (std::int32_t r = 1; r <= kProcesses * kEach; ++r) {
    Go(r);
    ASSERT_EQ(ErrorCode, 0);
    ASSERT_EQ(area.record[0], ' ') << "record " << r;
    std::int32_t id = 0;
    std::int32_t sequence = 0;
    std::memcpy(&id, FieldAddress(1), 4);
    std::memcpy(&sequence, FieldAddress(2), 4);
    ASSERT_GE(id, 0);
    ASSERT_LT(id, kProcesses);
    ASSERT_EQ(sequence, next[id]) << "record " << r << " of writer " << id;
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(FieldAddress(3)) + 1, 40),
              Pattern(id, sequence))
        << "record " << r;
    ++next[id];
  }
  for (int id = 0; id < kProcesses; ++id) EXPECT_EQ(next[id], kEach);
}

TEST_F(LockingProcessTest, ReplacesOfDisjointRecordsNeverMix) {
  constexpr int kProcesses = 3;
  constexpr int kRecords = 60;
  constexpr int kRounds = 40;
  CreateWorkTable("WORK.DBF");
  Open("WORK.DBF", true);
  for (int r = 1; r <= kRecords; ++r) {
    ClearRecord();
    SetText(3, Pattern(25, 0));
    Append();
  }
  Close();

  std::vector<std::string> arguments;
  for (int id = 0; id < kProcesses; ++id) {
    arguments.push_back("replace " + Quoted("WORK.DBF") + " " + std::to_string(id) + " " +
                        std::to_string(kProcesses) + " " + std::to_string(kRounds));
  }
  for (const std::string& result : RunTogether(arguments)) EXPECT_EQ(result, "ok");

  Open("WORK.DBF", true);
  ASSERT_EQ(RecCount(), kRecords);
  for (std::int32_t r = 1; r <= kRecords; ++r) {
    Go(r);
    const int owner = (r - 1) % kProcesses;
    std::int32_t writer = -1;
    std::int32_t round = -1;
    std::memcpy(&writer, FieldAddress(1), 4);
    std::memcpy(&round, FieldAddress(2), 4);
    EXPECT_EQ(writer, owner) << "record " << r;
    EXPECT_EQ(round, kRounds) << "record " << r;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(FieldAddress(3)) + 1, 40),
              Pattern(owner, kRounds))
        << "record " << r;
  }
}

}  // namespace
}  // namespace qd
