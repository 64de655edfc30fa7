// Two real programs writing memo values of one shared table at the same
// time, each record under its record lock: afterwards every record holds the
// last value one of them wrote, whole, and the layout checker finds no block
// used twice and a consistent header.
#include <cstdlib>
#include <thread>

#include "memo/blob_streams.h"
#include "memo_checker.h"
#include "memo_test_support.h"
#include "process_values.h"

namespace qd::memo_test {
namespace {

class MemoProcessTest : public MemoTest, public ::testing::WithParamInterface<Variant> {
 protected:
  static int RunChild(const std::string& table, int writer, int rounds) {
    std::string command = "\"" + std::string(QD_MEMO_CHILD) + "\" \"" + table + "\" " +
                          std::to_string(writer) + " " + std::to_string(rounds);
#ifdef _WIN32
    command = "\"" + command + "\"";
#endif
    return std::system(command.c_str());
  }
};

TEST_P(MemoProcessTest, NoValueOverwritesAnother) {
  const Variant v = GetParam();
  constexpr int kRecords = 40;
  constexpr int kRounds = 40;
  MakeMemoTable("shared", v.version, v.block_size);
  Open("shared");
  for (int r = 0; r < kRecords; ++r) AppendValue("start");
  Close();

  int status[2] = {-1, -1};
  std::thread first([&] { status[0] = RunChild(Path("shared.DBF"), 1, kRounds); });
  std::thread second([&] { status[1] = RunChild(Path("shared.DBF"), 2, kRounds); });
  first.join();
  second.join();
  ASSERT_EQ(status[0], 0);
  ASSERT_EQ(status[1], 0);

  MemoFileChecker checker(FileBytes(Path("shared.DBF")), MemoBytes("shared", v.version), v);
  checker.CheckValues(
      [&](std::size_t r, const std::string& value) {
        const auto record = static_cast<std::int32_t>(r + 1);
        return value == ProcessValue(1, record, kRounds) || value == ProcessValue(2, record, kRounds);
      },
      kRecords);
  checker.CheckHeader();
  std::string failures;
  for (const std::string& failure : checker.Failures()) failures += "\n  " + failure;
  EXPECT_TRUE(checker.Failures().empty()) << failures;
}

// A value streamed slowly while another program writes values: the other
// program waits for the memo lock and places its values after the stream's.
TEST_P(MemoProcessTest, AStreamedValueAndAnotherWriterDoNotOverlap) {
  const Variant v = GetParam();
  constexpr int kRecords = 20;
  constexpr int kRounds = 2;
  MakeMemoTable("streamed", v.version, v.block_size);
  Open("streamed", false);
  for (int r = 0; r < kRecords; ++r) AppendValue("start");
  const std::int32_t block = CreateBlobDescriptor(false, 0, kBlobWrite);
  ASSERT_NE(block, 0) << ErrorText;
  int status = -1;
  std::thread other([&] { status = RunChild(Path("streamed.DBF"), 1, kRounds); });
  std::string streamed;
  for (int piece = 0; piece < 20; ++piece) {
    const std::string bytes = "piece " + std::to_string(piece) + std::string(300, static_cast<char>('a' + piece));
    EXPECT_EQ(WriteBlobStream(bytes.data(), static_cast<std::int32_t>(bytes.size())),
              static_cast<std::int32_t>(bytes.size()));
    streamed += bytes;
    platform::SleepMs(25);
  }
  ASSERT_TRUE(DestroyBlobDescriptor()) << ErrorText;
  ASSERT_TRUE(ALock());
  ClearRecord();
  SetSlot(block);
  Append();
  Unlock();
  other.join();
  ASSERT_EQ(status, 0);
  Close();

  MemoFileChecker checker(FileBytes(Path("streamed.DBF")), MemoBytes("streamed", v.version), v);
  checker.CheckValues(
      [&](std::size_t r, const std::string& value) {
        if (r == kRecords) return value == streamed;
        return value == ProcessValue(1, static_cast<std::int32_t>(r + 1), kRounds);
      },
      kRecords + 1);
  checker.CheckHeader();
  std::string failures;
  for (const std::string& failure : checker.Failures()) failures += "\n  " + failure;
  EXPECT_TRUE(checker.Failures().empty()) << failures;
}

INSTANTIATE_TEST_SUITE_P(Variants, MemoProcessTest,
                         ::testing::Values(Variant{0x8B, 512, true}, Variant{0x83, 512, true},
                                           Variant{0xF5, 64, true}),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                           return "v" + std::to_string(info.param.version);
                         });

}  // namespace
}  // namespace qd::memo_test
