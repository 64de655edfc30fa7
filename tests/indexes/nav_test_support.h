// Shared by the navigation, maintenance and model tests: the people table
// written with records through the native record, index files whose tags
// start empty (their trees grow by appends), and the independent checks of
// index_model.h applied to the open index.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "index_model.h"
#include "index_test_support.h"
#include "indexes/index_engine.h"
#include "platform/platform.h"
#include "table/locking.h"
#include "table/record_updates.h"

namespace qd::index_test {

// A tag of a test index: name, header (key, FOR, flags, key length) and,
// when not empty, the items of its one leaf.
struct TagSpec {
  std::string name;
  TagHeader header;
  std::vector<Item> items = {};
};

inline TagHeader CharTag(const std::string& key, int length, bool descending = false, bool unique = false,
                         const std::string& for_text = "") {
  TagHeader h;
  h.key = key;
  h.key_length = length;
  h.descending = descending;
  h.unique = unique;
  h.for_text = for_text;
  return h;
}
inline TagHeader NumericTag(const std::string& key, bool descending = false) {
  TagHeader h;
  h.type = 'N';
  h.key_length = 12;
  h.key = key;
  h.descending = descending;
  return h;
}
inline TagHeader DateTag(const std::string& key, bool descending = false) {
  TagHeader h;
  h.type = 'D';
  h.key_length = 8;
  h.key = key;
  h.descending = descending;
  return h;
}

inline MdxImage IndexOf(const std::vector<TagSpec>& tags) {
  MdxImage image;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    image.LeafTag(static_cast<int>(i + 1), tags[i].name, tags[i].header, tags[i].items);
  }
  return image;
}

class NavTest : public IndexTest {
 protected:
  // Native slots of the people table's fields.
  static void SetName(const std::string& name) {
    std::uint8_t* p = FieldAddress(1);
    const std::size_t n = std::min<std::size_t>(name.size(), 10);
    p[0] = static_cast<std::uint8_t>(n);
    std::memcpy(p + 1, name.data(), n);
  }
  static void SetAmount(double amount) { std::memcpy(FieldAddress(2), &amount, sizeof amount); }
  // A date as year, month, day; year 0 for an empty date.
  static void SetBorn(int year, int month, int day) {
    std::uint8_t* p = FieldAddress(3);
    const std::string text = year == 0 ? std::string() : JulianToDate(JulianDate(year, month, day));
    p[0] = static_cast<std::uint8_t>(text.size());
    std::memcpy(p + 1, text.data(), text.size());
  }
  static void SetFlag(bool flag) { FieldAddress(4)[0] = flag ? 1 : 0; }

  // Appends a person through the native record.
  static void AppendPerson(const std::string& name, double amount = 0, bool flag = true, int year = 0,
                           int month = 1, int day = 1) {
    ClearRecord();
    SetName(name);
    SetAmount(amount);
    SetBorn(year, month, day);
    SetFlag(flag);
    Append();
  }

  // Creates the people table with no records and the index with the given
  // tags, and opens both (exclusive or shared).
  void OpenEmpty(const std::vector<TagSpec>& tags, bool exclusive = true) {
    CenturyOn = true;
    OpenPeople(exclusive, {});
    WriteMdx(IndexOf(tags));
    OpenIndex();
  }

  // The index file's bytes, read in one piece (whatever the case of the
  // name a build gave it). Where an exclusive open keeps other handles out
  // (Windows), they are read through the open index's own handle.
  Bytes FileBytes() const {
    std::ifstream in(platform::ResolvePath(MdxPath()), std::ios::binary);
    if (!in.is_open()) return OpenIndexBytes();
    in.seekg(0, std::ios::end);
    Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
  }
  static Bytes OpenIndexBytes() {
    const IndexArea* index = CurrentIndexArea();
    if (index == nullptr || index->file == platform::kNoFile) {
      ADD_FAILURE() << "the index file can be read neither by name nor through an open index";
      return {};
    }
    std::uint64_t size = 0;
    Bytes bytes;
    if (platform::FileSize(index->file, size) == 0) {
      bytes.resize(static_cast<std::size_t>(size));
      std::size_t done = 0;
      if (platform::ReadAt(index->file, 0, bytes.data(), bytes.size(), done) != 0 || done != bytes.size())
        ADD_FAILURE() << "reading the open index";
    }
    return bytes;
  }
  // The walk of tag `number` of the index file as it is on disk.
  index_model::Walked WalkFile(int number) const { return index_model::WalkTag(FileBytes(), number); }
  index_model::TagLayout LayoutOf(int number) const { return index_model::ReadLayout(FileBytes(), number); }

  // Record numbers visited in the current order, forwards from GoTop to
  // the end and backwards from GoBottom to the beginning.
  static std::vector<std::uint32_t> Forwards() {
    std::vector<std::uint32_t> seen;
    GoTop();
    while (!dEOF() && seen.size() < 100000) {
      seen.push_back(static_cast<std::uint32_t>(RecNo()));
      Skip(1);
    }
    return seen;
  }
  static std::vector<std::uint32_t> Backwards() {
    std::vector<std::uint32_t> seen;
    GoBottom();
    while (!dBOF() && !dEOF() && seen.size() < 100000) {
      seen.push_back(static_cast<std::uint32_t>(RecNo()));
      Skip(-1);
    }
    std::reverse(seen.begin(), seen.end());
    return seen;
  }
  static std::vector<std::uint32_t> Records(const index_model::Walked& walked) {
    std::vector<std::uint32_t> records;
    for (const auto& entry : walked.entries) records.push_back(entry.record);
    return records;
  }
};

}  // namespace qd::index_test
