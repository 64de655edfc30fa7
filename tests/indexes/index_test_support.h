// Shared by the index tests: index files built byte by byte with the
// offsets of the format written out here (not taken from the engine's
// layout headers, so that the tests check those), tables to index, and a
// fixture with the index unit started.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "table/table_test_support.h"
#include "table/work_areas.h"

namespace qd::index_test {

using test_support::Bytes;
using table_test::Get32;
using table_test::Put16;
using table_test::Put32;
using table_test::PutText;

inline std::uint16_t Get16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// A key as stored: character text, a date's day number, or 12 bytes given
// in hexadecimal.
inline Bytes CharKey(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline Bytes DateKey(double day_number) {
  std::uint64_t bits;
  std::memcpy(&bits, &day_number, 8);
  Bytes key(8);
  for (int i = 0; i < 8; ++i) key[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  return key;
}
inline Bytes HexKey(const std::string& hex) {
  Bytes key;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3) key.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return key;
}

// One entry of a node: a record number (leaf) or child page (branch) and
// its key.
struct Item {
  std::uint32_t pointer;
  Bytes key;
};

// A node block: count at 0, entries from 8 (pointer, key, zero padding to
// the item length), then the trailing pointer.
inline Bytes Node(int item_length, const std::vector<Item>& items, std::uint32_t trailing = 0) {
  Bytes b(1024, 0);
  Put16(b, 0, static_cast<std::uint32_t>(items.size()));
  std::size_t at = 8;
  for (const Item& item : items) {
    if (at + 4 + item.key.size() > b.size()) return b;  // item lengths no node can hold
    Put32(b, at, item.pointer);
    std::copy(item.key.begin(), item.key.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 4));
    at += static_cast<std::size_t>(item_length);
  }
  if (at + 4 <= b.size()) Put32(b, at, trailing);
  return b;
}

// What a tag header holds.
struct TagHeader {
  std::uint32_t root = 0;
  char type = 'C';
  int key_length = 10;
  int item_length = 0;  // 0: 4 + key length rounded up to 4
  int max_keys = 0;     // 0: 1012 div item length
  bool descending = false;
  bool unique = false;
  std::string key;
  std::string for_text;
  bool key_entered = false;

  int Item() const { return item_length != 0 ? item_length : (key_length + 4 + 3) / 4 * 4; }
  int Capacity() const { return max_keys != 0 ? max_keys : 1012 / Item(); }
};

// The 1024-byte tag header block.
inline Bytes TagHeaderBlock(const TagHeader& t) {
  Bytes b(1024, 0);
  Put32(b, 0, t.root);
  b[8] = static_cast<std::uint8_t>(0x10 | (t.descending ? 0x08 : 0) | (t.unique ? 0x40 : 0));
  b[9] = static_cast<std::uint8_t>(t.type);
  Put16(b, 12, static_cast<std::uint32_t>(t.key_length));
  Put16(b, 14, static_cast<std::uint32_t>(t.Capacity()));
  Put16(b, 16, t.type == 'D' ? 1 : 0);
  Put16(b, 18, static_cast<std::uint32_t>(t.Item()));
  b[23] = t.unique ? 1 : 0;
  PutText(b, 24, t.key);
  b[245] = t.for_text.empty() ? 0 : 1;
  b[246] = t.key_entered ? 1 : 0;
  PutText(b, 762, t.for_text);
  return b;
}

// An index file: the 2048-byte file header (version 2, block sizes, 48
// entries of 32 bytes from offset 512) and the blocks appended after it.
class MdxImage {
 public:
  explicit MdxImage(const std::string& table = "PEOPLE") : bytes(2048, 0) {
    bytes[0] = 2;
    bytes[1] = 126;  // 2026-01-02
    bytes[2] = 1;
    bytes[3] = 2;
    PutText(bytes, 4, table);
    Put16(bytes, 20, 2);
    Put16(bytes, 22, 1024);
    bytes[24] = 1;
    bytes[25] = 48;
    bytes[26] = 32;
  }

  // Appends a block; its page.
  std::uint32_t Append(const Bytes& block) {
    const auto page = static_cast<std::uint32_t>(bytes.size() / 512);
    bytes.insert(bytes.end(), block.begin(), block.end());
    return page;
  }
  // Writes tag table entry `number` and raises the tag count to it.
  void Entry(int number, std::uint32_t header_page, const std::string& name, char type) {
    const std::size_t at = 512 + 32 * static_cast<std::size_t>(number);
    Put32(bytes, at, header_page);
    PutText(bytes, at + 4, name);
    bytes[at + 19] = 2;
    bytes[at + 20] = static_cast<std::uint8_t>(type);
    if (bytes[28] < number) bytes[28] = static_cast<std::uint8_t>(number);
  }
  // A tag whose root is one leaf holding the items; the header follows the
  // root (as a build writes them). Returns the tag header's page.
  std::uint32_t LeafTag(int number, const std::string& name, TagHeader header, const std::vector<Item>& items) {
    header.root = Append(Node(header.Item(), items));
    const std::uint32_t page = Append(TagHeaderBlock(header));
    Entry(number, page, name, header.type);
    return page;
  }

  Bytes bytes;
};

// The people table: NAME C(10), AMOUNT N(8,2), BORN D, FLAG L.
inline const std::vector<table_test::RawField>& PeopleFields() {
  static const std::vector<table_test::RawField> fields = {
      {"NAME", 'C', 10}, {"AMOUNT", 'N', 8, 2}, {"BORN", 'D', 8}, {"FLAG", 'L', 1}};
  return fields;
}
// One record of the people table: deletion flag, then the fields padded
// to their widths (AMOUNT right-aligned).
inline std::string Person(bool deleted, const std::string& name, const std::string& amount,
                          const std::string& born, char flag) {
  std::string record(deleted ? "*" : " ");
  record += (name + std::string(10, ' ')).substr(0, 10);
  record += std::string(8 - amount.size(), ' ') + amount;
  record += (born + std::string(8, ' ')).substr(0, 8);
  record += flag;
  return record;
}
inline std::vector<std::string> PeopleRecords() {
  return {Person(false, "Smith", "12.50", "19990315", 'T'), Person(false, "Jones", "-1500.00", "20010101", 'F'),
          Person(true, "Adams", "0.00", "", 'T')};
}

class IndexTest : public table_test::TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    InitExpressionUnit();
    InitIndexUnit();
  }
  void TearDown() override {
    TableTest::TearDown();
    SemaphoreWaitLimit = 100;
    SemaphoreLockPause = 10;
  }

  // Writes the people table (or the given records) and opens it.
  void OpenPeople(bool exclusive = false, const std::vector<std::string>& records = PeopleRecords()) {
    table_test::WriteAll(Path("people.dbf"), table_test::BuildDbf(0x03, PeopleFields(), records));
    Use(Path("people.dbf") + (exclusive ? " EXCLUSIVE" : ""), nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
  }
  std::string MdxPath() const { return Path("people.mdx"); }
  void WriteMdx(const MdxImage& image) { table_test::WriteAll(MdxPath(), image.bytes); }
  Bytes MdxBytes() const { return table_test::ReadAll(MdxPath()); }

  // The people index: tag NAMES on NAME (character, 10) with one leaf, tag
  // AMOUNTS on AMOUNT (numeric) with one leaf.
  MdxImage PeopleIndex() {
    MdxImage image;
    TagHeader names;
    names.key = "NAME";
    image.LeafTag(1, "NAMES", names, {{3, CharKey("Adams     ")}, {2, CharKey("Jones     ")}, {1, CharKey("Smith     ")}});
    TagHeader amounts;
    amounts.type = 'N';
    amounts.key_length = 12;
    amounts.key = "AMOUNT";
    image.LeafTag(2, "AMOUNTS", amounts,
                  {{2, HexKey("38 A9 15 00 00 00 00 00 00 00 00 00")},
                   {3, HexKey("34 01 00 00 00 00 00 00 00 00 00 00")},
                   {1, HexKey("36 11 12 50 00 00 00 00 00 00 00 00")}});
    return image;
  }

  // Opens the index file as SetIndexTo does, expecting success.
  void OpenIndex(const std::string& name = "people.mdx") {
    ASSERT_TRUE(SetIndexTo(Path(name))) << ErrorCode << " " << ErrorText;
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
  }

  // The message of the error an action raises with dispatch deferred.
  static std::string Raised(const std::function<void()>& action) {
    try {
      action();
    } catch (const EQuindleError& e) {
      return e.what();
    }
    return "(nothing raised)";
  }
};

}  // namespace qd::index_test
