// Independent checks of index files for the index tests: a tree walker that
// reads a tag straight from the file's bytes (with the offsets of the format
// written out here, not taken from the engine) and checks every invariant of
// a sound tree, and a sorted in-memory model of what each tag must hold.
//
//   WalkTag(bytes, number)      walks tag `number` (1..47) of an index file
//                               image; Walked::problem is empty for a sound
//                               tree, else names the first fault found.
//   StoredKeyValue(layout, key) the key as a comparable value (text, or the
//                               number a numeric or date key stands for).
//   TagModel                    the entries a tag must hold after a series of
//                               appends and replaces (FOR condition, unique
//                               keys); Check compares it with a walk.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace qd::index_model {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t Read32(const Bytes& b, std::size_t at) {
  if (at + 4 > b.size()) return 0;
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline std::uint16_t Read16(const Bytes& b, std::size_t at) {
  if (at + 2 > b.size()) return 0;
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// What the walk needs of a tag header (offsets: root 0, flags 8, type 9,
// key length 12, capacity 14, item length 18, unique 23).
struct TagLayout {
  std::uint32_t header_page = 0;
  std::uint32_t root = 0;
  char type = 'C';
  int key_length = 0;
  int capacity = 0;
  int item_length = 0;
  bool descending = false;
  bool unique = false;
};

inline TagLayout ReadLayout(const Bytes& mdx, int number) {
  TagLayout t;
  t.header_page = Read32(mdx, 512 + 32 * static_cast<std::size_t>(number));
  const std::size_t h = static_cast<std::size_t>(t.header_page) * 512;
  if (h + 1024 > mdx.size()) return t;
  t.root = Read32(mdx, h);
  t.descending = (mdx[h + 8] & 0x08) != 0;
  t.type = static_cast<char>(mdx[h + 9]);
  t.key_length = Read16(mdx, h + 12);
  t.capacity = Read16(mdx, h + 14);
  t.item_length = Read16(mdx, h + 18);
  t.unique = mdx[h + 23] != 0;
  return t;
}

// A key as a comparable value: the text of a character key, the number of
// a numeric key (0.d1d2... x 10^(byte 0 - 52), sign in bit 7 of byte 1,
// digit count in bits 2-6), the day number of a date key.
struct KeyValue {
  std::string text;
  double number = 0;
  bool operator==(const KeyValue&) const = default;
};

inline KeyValue StoredKeyValue(const TagLayout& t, const std::uint8_t* key) {
  KeyValue v;
  if (t.type == 'C') {
    v.text.assign(reinterpret_cast<const char*>(key), static_cast<std::size_t>(t.key_length));
  } else if (t.type == 'D') {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | key[i];
    std::memcpy(&v.number, &bits, 8);
  } else {
    const int count = (key[1] >> 2) & 0x1F;
    double value = 0;
    for (int i = 0; i < count; ++i) {
      const int digit = (i % 2 == 0) ? key[2 + i / 2] >> 4 : key[2 + i / 2] & 0x0F;
      value += digit * std::pow(10.0, (key[0] - 52) - 1 - i);
    }
    v.number = (key[1] & 0x80) ? -value : value;
    // Round away the binary noise of the powers of ten.
    v.number = std::round(v.number * 1e6) / 1e6;
  }
  return v;
}

// Orders two values as the tag does.
inline int CompareValues(const TagLayout& t, const KeyValue& a, const KeyValue& b) {
  int c;
  if (t.type == 'C') {
    // std::string compares char, which may be signed: compare as bytes.
    c = std::memcmp(a.text.data(), b.text.data(), std::min(a.text.size(), b.text.size()));
    if (c == 0) c = a.text.size() < b.text.size() ? -1 : a.text.size() > b.text.size() ? 1 : 0;
  } else {
    c = a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
  }
  return t.descending ? -c : c;
}

struct WalkedEntry {
  std::uint32_t record;
  KeyValue key;
};

struct Walked {
  std::string problem;  // empty for a sound tree
  std::vector<WalkedEntry> entries;
  int depth = 0;
  int nodes = 0;
  int leaves = 0;
};

// Walks tag `number` of an index file image, checking: nodes inside the
// file, counts within the capacity, no node but the root without keys,
// leaves with a trailing pointer of zero, keys in order within and across
// nodes, each branch key not below any key of its child and not above any
// key of the next child, no page reached twice.
inline Walked WalkTag(const Bytes& mdx, int number) {
  Walked w;
  const TagLayout t = ReadLayout(mdx, number);
  if (t.key_length < 1 || t.item_length < t.key_length + 4 || t.capacity < 1) {
    w.problem = "bad tag header";
    return w;
  }
  std::set<std::uint32_t> seen;
  std::function<void(std::uint32_t, int, const KeyValue*, const KeyValue*)> visit =
      [&](std::uint32_t page, int depth, const KeyValue* low, const KeyValue* high) {
        if (!w.problem.empty()) return;
        const std::string where = "page " + std::to_string(page) + ": ";
        const std::size_t at = static_cast<std::size_t>(page) * 512;
        if (page < 4 || at + 1024 > mdx.size()) {
          w.problem = where + "outside the file";
          return;
        }
        if (!seen.insert(page).second) {
          w.problem = where + "reached twice";
          return;
        }
        if (depth > 64) {
          w.problem = where + "too deep";
          return;
        }
        ++w.nodes;
        w.depth = std::max(w.depth, depth);
        const int n = static_cast<std::int16_t>(Read16(mdx, at));
        if (n < 0 || n > t.capacity) {
          w.problem = where + "count " + std::to_string(n);
          return;
        }
        if (Read16(mdx, at + 2) != 0) w.problem = where + "modified word stored";
        auto entry = [&](int i) { return at + 8 + static_cast<std::size_t>(i) * static_cast<std::size_t>(t.item_length); };
        const std::uint32_t trailing = Read32(mdx, entry(n));
        if (n == 0 && depth > 1) {
          w.problem = where + "a node other than the root without keys";
          return;
        }
        auto check_bounds = [&](const KeyValue& key, int i) {
          if (low != nullptr && CompareValues(t, key, *low) < 0) w.problem = where + "key " + std::to_string(i) + " below its bound";
          if (high != nullptr && CompareValues(t, key, *high) > 0) w.problem = where + "key " + std::to_string(i) + " above its bound";
        };
        std::vector<KeyValue> keys;
        for (int i = 0; i < n; ++i) {
          keys.push_back(StoredKeyValue(t, mdx.data() + entry(i) + 4));
          if (i > 0 && CompareValues(t, keys[i - 1], keys[i]) > 0) w.problem = where + "keys out of order";
          check_bounds(keys.back(), i);
        }
        if (!w.problem.empty()) return;
        if (trailing == 0) {
          ++w.leaves;
          for (int i = 0; i < n; ++i) {
            if (!w.entries.empty() && CompareValues(t, w.entries.back().key, keys[static_cast<std::size_t>(i)]) > 0) {
              w.problem = where + "key sorts before the previous leaf's";
              return;
            }
            w.entries.push_back({Read32(mdx, entry(i)), keys[static_cast<std::size_t>(i)]});
          }
          return;
        }
        for (int i = 0; i <= n; ++i) {
          const std::uint32_t child = Read32(mdx, entry(i));
          if (child == 0) {
            w.problem = where + "child page 0";
            return;
          }
          visit(child, depth + 1, i == 0 ? low : &keys[static_cast<std::size_t>(i - 1)],
                i == n ? high : &keys[static_cast<std::size_t>(i)]);
        }
      };
  visit(t.root, 1, nullptr, nullptr);
  return w;
}

// The entries a tag must hold. Keys are values as StoredKeyValue gives them.
class TagModel {
 public:
  explicit TagModel(TagLayout layout) : layout_(layout) {}

  // A new record: enters when its FOR condition holds, and in a unique tag
  // only when no entry has its key.
  void Append(std::uint32_t record, const KeyValue& key, bool in_for) {
    if (!in_for) return;
    if (layout_.unique && HasKey(key)) return;
    entries_.push_back({record, key});
  }
  // A replaced record: its own entry (if any) goes, the new key enters as a
  // new record's would. Unchanged keys change nothing.
  void Replace(std::uint32_t record, const KeyValue& old_key, bool old_in, const KeyValue& new_key, bool new_in) {
    if (old_in && new_in && old_key == new_key) return;
    if (old_in) {
      auto it = std::find_if(entries_.begin(), entries_.end(),
                             [&](const WalkedEntry& e) { return e.record == record && e.key == old_key; });
      if (it != entries_.end()) entries_.erase(it);
    }
    Append(record, new_key, new_in);
  }
  bool HasKey(const KeyValue& key) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const WalkedEntry& e) { return e.key == key; });
  }
  const std::vector<WalkedEntry>& Entries() const { return entries_; }

  // Empty when the walked entries are exactly the model's, in key order.
  std::string Check(const Walked& walked) const {
    if (!walked.problem.empty()) return walked.problem;
    if (walked.entries.size() != entries_.size()) {
      return "holds " + std::to_string(walked.entries.size()) + " entries, the model " + std::to_string(entries_.size());
    }
    auto sorted = [&](std::vector<WalkedEntry> list) {
      std::sort(list.begin(), list.end(), [&](const WalkedEntry& a, const WalkedEntry& b) {
        const int c = CompareValues(layout_, a.key, b.key);
        return c != 0 ? c < 0 : a.record < b.record;
      });
      return list;
    };
    const auto mine = sorted(entries_);
    const auto theirs = sorted(walked.entries);
    for (std::size_t i = 0; i < mine.size(); ++i) {
      if (mine[i].record != theirs[i].record || !(mine[i].key == theirs[i].key)) {
        return "entry " + std::to_string(i) + ": record " + std::to_string(theirs[i].record) + " key '" +
               theirs[i].key.text + "'/" + std::to_string(theirs[i].key.number) + ", the model record " +
               std::to_string(mine[i].record) + " key '" + mine[i].key.text + "'/" + std::to_string(mine[i].key.number);
      }
    }
    return {};
  }

 private:
  TagLayout layout_;
  std::vector<WalkedEntry> entries_;
};

}  // namespace qd::index_model
