// Adding and removing tag table entries and rebuilding the tag-name tree
// (see tag_table.h and tag_table_layout.h).
#include "indexes/tag_table.h"

#include <algorithm>
#include <cstring>

#include "foundation/errors.h"
#include "indexes/tag_table_layout.h"

namespace qd {

namespace te = mdx::tag_entry;

namespace {

std::uint8_t* Entry(std::uint8_t* header, int number) { return header + te::Offset(number); }

// The name as the table holds it: upper case, at most 10 characters, NUL
// padded to 11 bytes.
std::array<std::uint8_t, te::kNameSize> StoredName(const std::string& name) {
  std::array<std::uint8_t, te::kNameSize> bytes{};
  const std::size_t length = std::min(name.size(), te::kMaxNameLength);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(table_text::UpperAscii(name[i]));
  return bytes;
}

int UsedEntries(const std::uint8_t* header) { return std::min(TagCount(header), mdx::kMaxTags); }

}  // namespace

int TagCount(const std::uint8_t* header) { return header != nullptr ? header[mdx::header::kTagsInUse] : 0; }

int FindTag(const std::uint8_t* header, const std::string& name) {
  if (header == nullptr) return 0;
  const auto wanted = StoredName(name);
  for (int number = 1; number <= UsedEntries(header); ++number) {
    const std::uint8_t* stored = header + te::Offset(number) + te::kName;
    // Equal up to and including the terminator (at most 11 bytes).
    bool same = true;
    for (std::size_t i = 0; i < te::kNameSize && same; ++i) {
      same = stored[i] == wanted[i];
      if (wanted[i] == 0) break;
    }
    if (same) return number;
  }
  return 0;
}

bool CheckRoomForTag(const std::string& name, const std::string& operation) {
  const IndexArea* index = CurrentIndexArea();
  const std::uint8_t* header = index != nullptr && index->header ? index->header->data() : nullptr;
  if (header == nullptr || FindTag(header, name) != 0 || TagCount(header) < mdx::kMaxTags) return true;
  SetError(220, "No room for tag " + name + ": an index file holds at most 47 tags [" + operation + "]");
  return false;
}

int AddTagEntry(std::uint32_t header_page, const std::string& name, char key_type) {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || !index->header) return 0;
  std::uint8_t* header = index->header->data();
  if (!CheckRoomForTag(name, "AddIndexTag()")) return 0;
  if (const int existing = FindTag(header, name); existing != 0) RemoveTagEntry(existing);
  const int number = TagCount(header) + 1;
  std::uint8_t* entry = Entry(header, number);
  std::memset(entry, 0, te::kSize);
  table_text::Put32(entry + te::kHeaderPage, header_page);
  const auto stored = StoredName(name);
  std::memcpy(entry + te::kName, stored.data(), stored.size());
  entry[te::kMark] = te::kMarkValue;
  entry[te::kKeyType] = static_cast<std::uint8_t>(key_type);
  header[mdx::header::kTagsInUse] = static_cast<std::uint8_t>(number);
  RebuildTagNameTree(header);
  index->header_modified = true;
  return number;
}

void RemoveTagEntry(int number) {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || !index->header) return;
  std::uint8_t* header = index->header->data();
  const int count = UsedEntries(header);
  if (number < 1 || number > count) return;
  if (number != count) std::memcpy(Entry(header, number), Entry(header, count), te::kSize);
  std::memset(Entry(header, count), 0, te::kSize);
  header[mdx::header::kTagsInUse] = static_cast<std::uint8_t>(count - 1);
  RebuildTagNameTree(header);
  index->header_modified = true;
}

void RebuildTagNameTree(std::uint8_t* header) {
  const int count = UsedEntries(header);
  for (int number = 0; number <= count; ++number) {
    std::uint8_t* entry = Entry(header, number);
    entry[te::kLowerChild] = entry[te::kHigherChild] = entry[te::kParent] = 0;
  }
  Entry(header, 0)[te::kHigherChild] = count > 0 ? 1 : 0;
  for (int number = 2; number <= count; ++number) {
    const std::uint8_t* name = Entry(header, number) + te::kName;
    int at = 1;
    for (;;) {
      std::uint8_t* parent = Entry(header, at);
      const bool higher = std::memcmp(name, parent + te::kName, te::kNameSize) >= 0;
      std::uint8_t& child = parent[higher ? te::kHigherChild : te::kLowerChild];
      if (child == 0) {
        child = static_cast<std::uint8_t>(number);
        Entry(header, number)[te::kParent] = static_cast<std::uint8_t>(at);
        break;
      }
      at = child;
    }
  }
}

}  // namespace qd
