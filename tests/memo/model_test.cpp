// Model tests: thousands of random writes, longer and shorter rewrites and
// clears of memo values with a fixed seed, per memo variant. Afterwards every
// record's value equals the model, and a checker that reads the table and
// memo files from their byte layouts (not through the memo unit) finds every
// live value inside the file, no block used by two values, no free run over a
// live value or the header, and a header consistent with the file.
#include <algorithm>
#include <map>
#include <random>
#include <sstream>

#include "memo_test_support.h"

namespace qd::memo_test {
namespace {

struct Variant {
  std::uint8_t version;
  std::uint16_t block_size;
  bool shared;
};

// Reads the files as another program would and lists what is wrong.
class MemoFileChecker {
 public:
  MemoFileChecker(const Bytes& table, const Bytes& memo, const Variant& variant)
      : table_(table), memo_(memo), v_(variant), block_(variant.block_size) {
    if (v_.version == 0x83) block_ = 512;
    blocks_ = (memo_.size() + block_ - 1) / block_;
    const std::size_t header = v_.version == 0x8B || v_.version == 0x8C ? 24 : 512;
    first_block_ = std::max<std::size_t>(1, (header + block_ - 1) / block_);
    used_.assign(blocks_, 0);
  }

  // The memo field (the record's second field, 10 bytes at offset 11) of
  // every record, as the block number it stores.
  std::vector<std::int64_t> Blocks() const {
    const std::size_t header_length = table_[8] | (table_[9] << 8);
    const std::size_t record_length = table_[10] | (table_[11] << 8);
    const std::size_t count = Le32(table_, 4);
    std::vector<std::int64_t> blocks;
    for (std::size_t r = 0; r < count; ++r) {
      const std::string text = Text(table_, header_length + r * record_length + 11, 10);
      blocks.push_back(std::atoll(text.c_str()));
    }
    return blocks;
  }

  // Checks every value against the model and marks its blocks.
  void CheckValues(const std::vector<std::string>& model) {
    const std::vector<std::int64_t> blocks = Blocks();
    if (blocks.size() != model.size()) Fail("record count " + std::to_string(blocks.size()));
    for (std::size_t r = 0; r < blocks.size() && r < model.size(); ++r) {
      const std::int64_t stored = blocks[r];
      if (stored == 0) {
        if (!model[r].empty()) Fail("record " + std::to_string(r + 1) + " lost its value");
        continue;
      }
      if (model[r].empty()) Fail("record " + std::to_string(r + 1) + " holds a block for no value");
      const std::size_t block = static_cast<std::size_t>(stored < 0 ? -stored : stored);
      if (stored < 0 && v_.version != 0x83) Fail("negative block outside dBASE III");
      std::string value;
      std::size_t extent = 0;  // bytes from the block start the value owns
      if (!ValueAt(block, stored < 0, value, extent)) {
        Fail("record " + std::to_string(r + 1) + " names an unreadable block " + std::to_string(block));
        continue;
      }
      if (value != model[r]) Fail("record " + std::to_string(r + 1) + " value differs");
      Mark(block, (extent + block_ - 1) / block_, static_cast<int>(r + 1));
    }
  }

  // Header checks, and the dBASE IV free list against the live values.
  void CheckHeader() {
    if (v_.version == 0x83) {
      if (Le32(memo_, 0) != blocks_) Fail("next free block " + std::to_string(Le32(memo_, 0)));
      if (memo_.size() == 513) Fail("file looks empty");
      return;
    }
    if (v_.version == 0xF5) {
      if (Be32(memo_, 0) != blocks_) Fail("next free block " + std::to_string(Be32(memo_, 0)));
      if (static_cast<std::size_t>((memo_[6] << 8) | memo_[7]) != block_) Fail("block size");
      return;
    }
    if (static_cast<std::size_t>(memo_[20] | (memo_[21] << 8)) != block_ || memo_[18] != 2 || memo_[19] != 1) Fail("block size");
    std::size_t link = Le32(memo_, 0);
    std::size_t previous_end = first_block_;
    std::size_t free_blocks = 0;
    for (int step = 0; link != blocks_; ++step) {
      if (step > 100000 || link < previous_end || link >= blocks_) {
        Fail("free list link " + std::to_string(link) + " (block count " + std::to_string(blocks_) + ")");
        return;
      }
      const std::size_t at = link * block_;
      const std::size_t length = Le32(memo_, at + 4);
      if (length == 0 || link + length > blocks_) {
        Fail("free run " + std::to_string(link) + " of length " + std::to_string(length));
        return;
      }
      Mark(link, length, -1);
      free_blocks += length;
      previous_end = link + length;
      link = Le32(memo_, at);
    }
    if (free_blocks > Le32(memo_, 32)) Fail("more blocks free than ever given up");
  }

  const std::vector<std::string>& Failures() const { return failures_; }

 private:
  void Fail(const std::string& what) {
    if (failures_.size() < 20) failures_.push_back(what);
  }

  // A block owned twice (value or free run: owner -1), or the header's.
  void Mark(std::size_t block, std::size_t count, int owner) {
    if (block < first_block_ || block + count > blocks_) {
      Fail("blocks " + std::to_string(block) + "+" + std::to_string(count) + " outside the data blocks");
      return;
    }
    for (std::size_t b = block; b < block + count; ++b) {
      if (used_[b] != 0)
        Fail("block " + std::to_string(b) + " used by " + std::to_string(used_[b]) + " and " +
             std::to_string(owner));
      used_[b] = owner;
    }
  }

  bool ValueAt(std::size_t block, bool negated, std::string& value, std::size_t& extent) const {
    const std::size_t at = block * block_;
    if (at + 8 > memo_.size()) return false;
    const bool dbt_header = memo_[at] == 0xFF && memo_[at + 1] == 0xFF && memo_[at + 2] == 8 && memo_[at + 3] == 0;
    std::size_t length = 0;
    if (v_.version == 0xF5) {
      if (Be32(memo_, at) != 1) return false;
      length = Be32(memo_, at + 4);
    } else if (dbt_header) {
      if (v_.version == 0x83 && !negated) return false;  // headed dBASE III values are negated
      length = Le32(memo_, at + 4) - 8;
    } else {
      if (v_.version != 0x83 || negated) return false;
      const auto end = std::find(memo_.begin() + static_cast<std::ptrdiff_t>(at), memo_.end(), 0x1A);
      if (end == memo_.end() || end + 1 == memo_.end() || end[1] != 0x1A) return false;
      value.assign(memo_.begin() + static_cast<std::ptrdiff_t>(at), end);
      extent = value.size() + 2;
      return true;
    }
    if (at + 8 + length > memo_.size()) return false;
    value = Text(memo_, at + 8, length);
    extent = 8 + length;
    return true;
  }

  const Bytes table_;
  const Bytes memo_;
  Variant v_;
  std::size_t block_;
  std::size_t blocks_ = 0;
  std::size_t first_block_ = 1;
  std::vector<int> used_;
  std::vector<std::string> failures_;
};

class MemoModelTest : public MemoTest, public ::testing::WithParamInterface<Variant> {
 protected:
  std::string RandomValue(std::mt19937& random) {
    const int kind = static_cast<int>(random() % 100);
    std::size_t size = 0;
    if (kind < 8) return std::string();
    if (kind < 55) size = 1 + random() % 200;
    else if (kind < 85) size = 200 + random() % 1300;
    else if (kind < 97) size = 1500 + random() % 3500;
    else size = 5000 + random() % 15000;
    std::string value(size, ' ');
    const bool binary = random() % 10 == 0;
    for (char& c : value) c = static_cast<char>(binary ? random() % 256 : 'a' + random() % 26);
    if (!binary && size > 10) value.replace(size / 2, 2, "\r\n");
    return value;
  }

  void Check(const Variant& v, const std::vector<std::string>& model, const std::string& when) {
    Close();
    MemoFileChecker checker(table_test::ReadAll(Path("model.DBF")), MemoBytes("model", v.version), v);
    checker.CheckValues(model);
    checker.CheckHeader();
    std::ostringstream failures;
    for (const std::string& failure : checker.Failures()) failures << "\n  " << failure;
    EXPECT_TRUE(checker.Failures().empty()) << when << failures.str();
    Open("model", !v.shared);
  }
};

TEST_P(MemoModelTest, RandomWritesRewritesAndClearsKeepEveryValue) {
  const Variant v = GetParam();
  MakeMemoTable("model", v.version, v.block_size);
  Open("model", !v.shared);
  std::mt19937 random(20240611u + v.version);
  constexpr int kRecords = 60;
  constexpr int kOperations = 2000;
  std::vector<std::string> model;
  for (int r = 0; r < kRecords; ++r) {
    model.push_back(RandomValue(random));
    AppendValue(model.back());
  }
  for (int op = 1; op <= kOperations; ++op) {
    const std::int32_t record = static_cast<std::int32_t>(1 + random() % kRecords);
    std::string& value = model[static_cast<std::size_t>(record - 1)];
    switch (random() % 4) {
      case 0:  // a little longer
        value += std::string(1 + random() % 700, 'L');
        break;
      case 1:  // shorter
        value.resize(value.size() / 3);
        break;
      case 2:
        value = random() % 5 == 0 ? std::string() : RandomValue(random);
        break;
      default:
        value = RandomValue(random);
    }
    SetValue(record, value);
    ASSERT_EQ(ErrorCode, 0) << ErrorText << " at operation " << op;
    if (op % 100 == 0) Check(v, model, "after operation " + std::to_string(op));
  }
  for (int r = 1; r <= kRecords; ++r) EXPECT_EQ(ValueOf(r), model[static_cast<std::size_t>(r - 1)]) << r;
  Check(v, model, "at the end");
}

INSTANTIATE_TEST_SUITE_P(Variants, MemoModelTest,
                         ::testing::Values(Variant{0x83, 512, false}, Variant{0x8B, 512, true},
                                           Variant{0x8B, 64, false}, Variant{0x8C, 1024, false},
                                           Variant{0xF5, 64, true}),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                           std::ostringstream name;
                           name << "v" << std::hex << int(info.param.version) << std::dec << "b"
                                << info.param.block_size << (info.param.shared ? "shared" : "");
                           return name.str();
                         });

}  // namespace
}  // namespace qd::memo_test
