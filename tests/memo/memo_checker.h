// A checker of a table and its memo file written from the byte layouts, not
// through the memo unit: every live value inside the file's data blocks and
// equal to the expected one, no block used by two values, no free run over a
// live value or the header, and a header consistent with the file.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "memo_test_support.h"

namespace qd::memo_test {

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
    CheckValues([&](std::size_t r, const std::string& value) { return value == model[r]; }, model.size());
  }
  // The same with a test of each record's value (records counted from 0).
  template <typename Accept>
  void CheckValues(Accept accept, std::size_t records) {
    const std::vector<std::int64_t> blocks = Blocks();
    if (blocks.size() != records) Fail("record count " + std::to_string(blocks.size()));
    for (std::size_t r = 0; r < blocks.size() && r < records; ++r) {
      const std::int64_t stored = blocks[r];
      if (stored == 0) {
        if (!accept(r, std::string())) Fail("record " + std::to_string(r + 1) + " lost its value");
        continue;
      }
      const std::size_t block = static_cast<std::size_t>(stored < 0 ? -stored : stored);
      if (stored < 0 && v_.version != 0x83) Fail("negative block outside dBASE III");
      std::string value;
      std::size_t extent = 0;  // bytes from the block start the value owns
      if (!ValueAt(block, stored < 0, value, extent)) {
        Fail("record " + std::to_string(r + 1) + " names an unreadable block " + std::to_string(block));
        continue;
      }
      if (value.empty() || !accept(r, value)) Fail("record " + std::to_string(r + 1) + " value differs");
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

}  // namespace qd::memo_test
