// Shared by the memo tests: the table fixture with the memo unit started,
// tables of each memo variant made for a test, and helpers that store and
// read a record's memo value the way a program does (record lock, old block
// from the record, new block back into it).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "memo/memo_file.h"
#include "memo/memo_lines.h"
#include "memo/memo_unit.h"
#include "table/record_updates.h"
#include "table/table_test_support.h"
#include "table/work_areas.h"

namespace qd::memo_test {

using table_test::Bytes;

// The whole file in one read (the model test reads large memo files often).
inline Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  Bytes bytes(static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg())));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

inline std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline std::uint32_t Be32(const Bytes& b, std::size_t at) {
  return (static_cast<std::uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}
inline std::string Text(const Bytes& b, std::size_t at, std::size_t n) {
  return std::string(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// The memo file variants by table version.
inline const char* ExtensionOf(std::uint8_t version) { return version == 0xF5 ? "FPT" : "DBT"; }

class MemoTest : public table_test::TableTest {
 protected:
  void SetUp() override {
    table_test::TableTest::SetUp();
    InitMemoUnit();
  }
  void TearDown() override {
    table_test::TableTest::TearDown();
    InitMemoUnit();
    MemoHooks = MemoHookTable{};
  }

  std::string Path(const std::string& name) const { return scratch_.GenericPath(name); }
  std::string MemoPath(const std::string& table, std::uint8_t version) const {
    return Path(table + "." + ExtensionOf(version));
  }
  Bytes MemoBytes(const std::string& table, std::uint8_t version) const {
    return FileBytes(MemoPath(table, version));
  }

  // Creates table `name` (NAME C(10), NOTES M) of the version with an empty
  // memo file of the version's variant and block size.
  void MakeMemoTable(const std::string& name, std::uint8_t version, std::uint16_t block_size = 512) {
    const std::string dbf = Path(name + ".DBF");
    if (version == 0x8C) {
      // Level 7: 68-byte prolog and 48-byte descriptors.
      const std::size_t header_length = 68 + 2 * 48 + 1;
      Bytes b(header_length, 0);
      b[0] = 0x8C;
      b[1] = 124;
      b[2] = 1;
      b[3] = 1;
      table_test::Put16(b, 8, static_cast<std::uint32_t>(header_length));
      table_test::Put16(b, 10, 1 + 10 + 10);
      table_test::PutText(b, 68, "NAME");
      table_test::PutText(b, 68 + 32, "C\x0A");
      table_test::PutText(b, 116, "NOTES");
      table_test::PutText(b, 116 + 32, "M\x0A");
      b[header_length - 1] = 0x0D;
      b.push_back(0x1A);
      table_test::WriteAll(dbf, b);
    } else {
      ASSERT_TRUE(CreateDBF(dbf, {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}})) << ErrorText;
      Bytes b = table_test::ReadAll(dbf);
      b[0] = version;
      table_test::WriteAll(dbf, b);
      std::remove(Path(name + ".DBT").c_str());
    }
    ASSERT_TRUE(CreateMemofile(MemoPath(name, version), version, block_size, "test")) << ErrorText;
  }

  void Open(const std::string& name, bool exclusive = true) {
    Use(Path(name) + (exclusive ? " EXCLUSIVE" : ""), nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    ASSERT_NE(CurrentWorkArea(), nullptr);
  }

  static MemoState& State() { return *CurrentWorkArea()->memo; }

  // The memo field's block in the native record (field 2).
  static std::int32_t Slot() {
    std::int32_t block = 0;
    std::memcpy(&block, FieldAddress(2), 4);
    return block;
  }
  static void SetSlot(std::int32_t block) { std::memcpy(FieldAddress(2), &block, 4); }

  // Appends a record holding `value`; answers its block.
  static std::int32_t AppendValue(const std::string& value, const std::string& name = "") {
    std::int32_t block = 0;
    EXPECT_TRUE(WriteMemoValue(0, value, block, "test")) << ErrorText;
    ClearRecord();
    std::uint8_t* text = FieldAddress(1);
    text[0] = static_cast<std::uint8_t>(std::min<std::size_t>(name.size(), 10));
    std::memcpy(text + 1, name.data(), text[0]);
    SetSlot(block);
    const bool locked = CurrentWorkArea()->exclusive || ALock();
    EXPECT_TRUE(locked);
    Append();
    if (!CurrentWorkArea()->exclusive) Unlock();
    EXPECT_EQ(ErrorCode, 0) << ErrorText;
    return block;
  }

  // Replaces record `record`'s value under its record lock; answers the new
  // block.
  static std::int32_t SetValue(std::int32_t record, const std::string& value) {
    Go(record);
    const bool shared = !CurrentWorkArea()->exclusive;
    if (shared) {
      EXPECT_TRUE(RLock());
    }
    Go(record);  // the record as stored, under the lock
    std::int32_t block = 0;
    EXPECT_TRUE(WriteMemoValue(Slot(), value, block, "test")) << ErrorText;
    SetSlot(block);
    Replace();
    if (shared) Unlock();
    EXPECT_EQ(ErrorCode, 0) << ErrorText;
    return block;
  }

  static std::string ValueOf(std::int32_t record) {
    Go(record);
    std::string value;
    EXPECT_TRUE(ReadMemoValue(Slot(), value, "test")) << ErrorText;
    return value;
  }
};

}  // namespace qd::memo_test
