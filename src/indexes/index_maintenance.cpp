// Keeping every open tag in step with the records: insertion with node
// splits and new roots, deletion with emptied leaves and bypassed branch
// nodes, the append and replace hooks, and putting cursors back on the
// current record (see index_navigation.h).
//
// Nodes are changed in the descent path's copies or in images built here
// and written at once with SeekAndWrite, which keeps the path's copies
// equal to the file; nodes are never moved or reused: a split keeps the
// lower half in place and appends the upper half (and a new root) at the
// end of the file, an emptied leaf is written as zeros and a bypassed
// branch node stays in the file unreferenced.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "indexes/index_file.h"
#include "indexes/index_navigation.h"
#include "indexes/keys.h"
#include "indexes/node_path.h"
#include "indexes/semaphore.h"

namespace qd {

using namespace table_text;

namespace {

constexpr std::uint16_t kCorrupted = 222;

class KeyTagScope {
 public:
  explicit KeyTagScope(int slot) : saved_(KeyTagNumber) { KeyTagNumber = slot; }
  ~KeyTagScope() { KeyTagNumber = saved_; }
  KeyTagScope(const KeyTagScope&) = delete;
  KeyTagScope& operator=(const KeyTagScope&) = delete;

 private:
  int saved_;
};

// Clears the natural-order flag for the life of the object.
class IndexOrderScope {
 public:
  explicit IndexOrderScope(IndexArea* index) : index_(index), saved_(index != nullptr && index->natural_order) {
    if (index_ != nullptr) index_->natural_order = false;
  }
  ~IndexOrderScope() {
    if (index_ != nullptr) index_->natural_order = saved_;
  }
  IndexOrderScope(const IndexOrderScope&) = delete;
  IndexOrderScope& operator=(const IndexOrderScope&) = delete;

 private:
  IndexArea* index_;
  bool saved_;
};

[[noreturn]] void Corrupted(int slot, const std::string& what) {
  RaiseError(kCorrupted, "Index file corrupted. " + TagDescription(slot) + " (" + what + ")");
  throw EQuindleError(what);  // not reached: RaiseError ends the operation
}

void WriteNode(CurrIndex& tag, std::int32_t page, std::uint8_t* bytes) {
  if (!SeekAndWrite(tag, page, bytes)) throw EQuindleError("index write failed");
}

void NotePageField(CurrIndex& tag, std::uint32_t page) {
  IndexArea& index = *tag.file;
  if (index.Header() == nullptr) return;
  Put32(index.Header() + mdx::header::kPageField, page + 1);
  index.header_modified = true;
}

// Inserts an item at position `p` of a node image, moving the following
// entries and the trailing pointer up. In a branch node the item is the
// left half of a split child and the pointer after it becomes `right`.
void InsertItem(const CurrIndex& tag, std::uint8_t* bytes, int p, std::uint32_t pointer, const std::uint8_t* key,
                bool branch, std::uint32_t right) {
  NodeView node = tag.View(bytes);
  const int n = node.Count();
  const auto item = static_cast<std::size_t>(tag.item_length);
  std::memmove(node.Entry(p + 1), node.Entry(p), static_cast<std::size_t>(n - p) * item + mdx::node::kPointerSize);
  std::memset(node.Entry(p), 0, item);
  node.SetPointer(p, pointer);
  std::memcpy(node.Key(p), key, static_cast<std::size_t>(tag.key_length));
  node.SetCount(n + 1);
  if (branch) node.SetPointer(p + 1, right);
}

// The greatest key of the subtree at `page`: the last key of the leaf
// reached through trailing pointers.
void GreatestKey(CurrIndex& tag, int slot, std::int32_t page, std::uint8_t* key) {
  NodeImage image{};
  for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
    if (page == 0) Corrupted(slot, "child page 0");
    SeekAndRead(tag, page, image.data());
    const NodeView node = tag.View(image.data());
    if (!node.CountFits(tag.max_keys)) Corrupted(slot, "page " + std::to_string(page));
    if (node.IsLeaf()) {
      if (node.Count() == 0) Corrupted(slot, "empty leaf at page " + std::to_string(page));
      std::memcpy(key, node.Key(node.Count() - 1), static_cast<std::size_t>(tag.key_length));
      return;
    }
    page = static_cast<std::int32_t>(node.TrailingPointer());
  }
  Corrupted(slot, "tree too deep");
}

int ChildIndexOf(int slot, const NodeView& node, std::int32_t child) {
  for (int i = 0; i <= node.Count(); ++i) {
    if (node.Pointer(i) == static_cast<std::uint32_t>(child)) return i;
  }
  Corrupted(slot, "page " + std::to_string(child) + " missing from its parent");
}

// The key of the current record for the tag in `slot`, terminated.
void MakeKeyInto(const CurrIndex& tag, int slot, std::uint8_t* out) {
  const auto length = static_cast<std::size_t>(tag.key_length);
  std::memcpy(out, MakeKey(slot), length);
  out[length] = 0;
}

// Inserts (record, key) at the cursor of the tag, which stands at the
// insertion point in the leaf on top of the path, splitting full nodes on
// the way up and growing a new root when the root splits. True when the
// leaf had room: the cursor then stands on the new entry.
bool InsertAtCursor(CurrIndex& tag, int slot, const std::uint8_t* key_in, std::int32_t record) {
  NodePath& path = *SharedPath;
  const auto item = static_cast<std::size_t>(tag.item_length);
  std::array<std::uint8_t, kKeyBufferSize> key{};
  std::memcpy(key.data(), key_in, static_cast<std::size_t>(tag.key_length));
  std::uint32_t pointer = static_cast<std::uint32_t>(record);
  std::uint32_t right_page = 0;
  bool branch = false;
  int level = path.Depth() - 1;
  int p = tag.position;
  for (;;) {
    std::uint8_t* bytes = path.NodeAt(level);
    const std::int32_t page = path.PageAt(level);
    const NodeView node = tag.View(bytes);
    const int n = node.Count();
    if (n < tag.max_keys) {
      InsertItem(tag, bytes, p, pointer, key.data(), branch, right_page);
      WriteNode(tag, page, bytes);
      if (branch) return false;
      tag.entry = bytes + mdx::node::EntryOffset(p, tag.item_length);
      return true;
    }
    // Split: the lower n - n div 2 entries stay, the upper n div 2 and the
    // trailing pointer go to a new node at the end of the file.
    const int left_count = n - n / 2;
    const int right_count = n / 2;
    auto left = std::make_unique<NodeImage>();
    auto right = std::make_unique<NodeImage>();
    left->fill(0);
    right->fill(0);
    NodeView low = tag.View(left->data());
    NodeView high = tag.View(right->data());
    std::memcpy(low.Entry(0), node.Entry(0), static_cast<std::size_t>(left_count) * item);
    std::memcpy(high.Entry(0), node.Entry(left_count), static_cast<std::size_t>(right_count) * item);
    high.SetCount(right_count);
    high.SetPointer(right_count, node.TrailingPointer());
    if (branch) {
      // The lower half's last entry keeps only its pointer: the trailing one.
      low.SetCount(left_count - 1);
      std::memset(low.Key(left_count - 1), 0, item - mdx::node::kPointerSize);
    } else {
      low.SetCount(left_count);
    }
    if (p < left_count) {
      InsertItem(tag, left->data(), p, pointer, key.data(), branch, right_page);
    } else {
      InsertItem(tag, right->data(), p - left_count, pointer, key.data(), branch, right_page);
    }
    const std::uint32_t new_page = EndOfFilePage(*tag.file);
    WriteNode(tag, page, left->data());
    WriteNode(tag, static_cast<std::int32_t>(new_page), right->data());
    NotePageField(tag, new_page);
    // The entry for the parent: the lower half's greatest key and its page.
    if (branch) {
      GreatestKey(tag, slot, static_cast<std::int32_t>(low.TrailingPointer()), key.data());
    } else {
      std::memcpy(key.data(), low.Key(low.Count() - 1), static_cast<std::size_t>(tag.key_length));
    }
    pointer = static_cast<std::uint32_t>(page);
    right_page = new_page;
    branch = true;
    if (level == 0) {
      NodeImage root{};
      NodeView top = tag.View(root.data());
      top.SetCount(1);
      top.SetPointer(0, pointer);
      std::memcpy(top.Key(0), key.data(), static_cast<std::size_t>(tag.key_length));
      top.SetPointer(1, right_page);
      const std::uint32_t root_page = EndOfFilePage(*tag.file);
      WriteNode(tag, static_cast<std::int32_t>(root_page), root.data());
      NotePageField(tag, root_page);
      tag.SetRootPage(root_page);
      return false;
    }
    --level;
    p = ChildIndexOf(slot, tag.View(path.NodeAt(level)), page);
  }
}

// Sets the key for `child` in the branch node at `level` of the path; when
// the child is that node's rightmost (no key of its own), the node's own
// greatest key changed: the update goes on to its parent.
void UpdateBound(CurrIndex& tag, int slot, int level, std::int32_t child, const std::uint8_t* key) {
  NodePath& path = *SharedPath;
  for (; level >= 0; --level) {
    std::uint8_t* bytes = path.NodeAt(level);
    NodeView node = tag.View(bytes);
    const int i = ChildIndexOf(slot, node, child);
    if (i < node.Count()) {
      std::memcpy(node.Key(i), key, static_cast<std::size_t>(tag.key_length));
      WriteNode(tag, path.PageAt(level), bytes);
      return;
    }
    child = path.PageAt(level);
  }
}

// Removes the emptied child `child` from the branch node at `level`.
void RemoveChild(CurrIndex& tag, int slot, int level, std::int32_t child) {
  NodePath& path = *SharedPath;
  std::uint8_t* bytes = path.NodeAt(level);
  const std::int32_t page = path.PageAt(level);
  NodeView node = tag.View(bytes);
  const auto item = static_cast<std::size_t>(tag.item_length);
  const int n = node.Count();
  const int i = ChildIndexOf(slot, node, child);
  std::array<std::uint8_t, kKeyBufferSize> dropped{};
  bool bound_changed = false;
  if (i < n) {
    std::memmove(node.Entry(i), node.Entry(i + 1), static_cast<std::size_t>(n - i - 1) * item + mdx::node::kPointerSize);
    std::memset(node.Entry(n - 1) + mdx::node::kPointerSize, 0, item);
  } else {
    // The rightmost child went: the last keyed entry's pointer becomes the
    // trailing pointer and its key, the node's new greatest, is dropped.
    std::memcpy(dropped.data(), node.Key(n - 1), static_cast<std::size_t>(tag.key_length));
    std::memset(node.Key(n - 1), 0, item);
    bound_changed = true;
  }
  node.SetCount(n - 1);
  if (n - 1 > 0) {
    WriteNode(tag, page, bytes);
    if (bound_changed && level > 0) UpdateBound(tag, slot, level - 1, page, dropped.data());
    return;
  }
  const auto only_child = static_cast<std::int32_t>(node.Pointer(0));
  if (level == 0) {
    // A root without keys is replaced by its only child.
    WriteNode(tag, page, bytes);
    tag.SetRootPage(static_cast<std::uint32_t>(only_child));
    return;
  }
  // A node without keys stays in the file and is bypassed: its parent's
  // entry leads to its only child.
  WriteNode(tag, page, bytes);
  std::uint8_t* parent_bytes = path.NodeAt(level - 1);
  NodeView parent = tag.View(parent_bytes);
  const int j = ChildIndexOf(slot, parent, page);
  parent.SetPointer(j, static_cast<std::uint32_t>(only_child));
  std::array<std::uint8_t, kKeyBufferSize> greatest{};
  GreatestKey(tag, slot, only_child, greatest.data());
  if (j < parent.Count()) {
    std::memcpy(parent.Key(j), greatest.data(), static_cast<std::size_t>(tag.key_length));
    WriteNode(tag, path.PageAt(level - 1), parent_bytes);
    return;
  }
  WriteNode(tag, path.PageAt(level - 1), parent_bytes);
  if (level - 1 > 0) UpdateBound(tag, slot, level - 2, path.PageAt(level - 1), greatest.data());
}

// Removes the entry at the cursor (the leaf on top of the path).
void RemoveAtCursor(CurrIndex& tag, int slot) {
  NodePath& path = *SharedPath;
  const int level = path.Depth() - 1;
  std::uint8_t* bytes = path.NodeAt(level);
  const std::int32_t page = path.PageAt(level);
  NodeView node = tag.View(bytes);
  const auto item = static_cast<std::size_t>(tag.item_length);
  const int n = node.Count();
  const int p = tag.position;
  if (n == 1) {
    std::memset(bytes, 0, mdx::kBlockSize);
    WriteNode(tag, page, bytes);
    if (level == 0) {
      // The tag is empty now.
      tag.SetKeyEntered(false);
      return;
    }
    RemoveChild(tag, slot, level - 1, page);
    return;
  }
  std::memmove(node.Entry(p), node.Entry(p + 1), static_cast<std::size_t>(n - p - 1) * item + mdx::node::kPointerSize);
  std::memset(node.Entry(n - 1) + mdx::node::kPointerSize, 0, item);
  node.SetCount(n - 1);
  WriteNode(tag, page, bytes);
  if (p == n - 1 && level > 0) UpdateBound(tag, slot, level - 1, page, node.Key(n - 2));
}

// Puts the cursor of the tag in `slot` on the entry of `record` with `key`.
void PositionOnEntry(CurrIndex& tag, int slot, const std::uint8_t* key_in, std::int32_t record) {
  KeyTagScope scope(slot);
  std::uint8_t key[kKeyBufferSize];
  std::memcpy(key, key_in, static_cast<std::size_t>(tag.key_length));
  if (!Seek(key)) return;
  while (!tag.after_last && EntryRecord(tag) != record && tag.Compare(EntryKey(tag), key) == 0) {
    if (!StepForward(tag, slot)) break;
  }
}

std::string TrimmedKeyText(const CurrIndex& tag, const std::uint8_t* key, int slot) {
  if (tag.char_key) {
    return AllTrim(std::string(reinterpret_cast<const char*>(key), static_cast<std::size_t>(tag.key_length)));
  }
  return AllTrim(KeyText(slot));
}

// The keys of the record as stored before a replace, one per tag slot, and
// whether it was in the tag (its FOR condition held).
struct OldKey {
  bool noted = false;
  bool in_tag = false;
  std::array<std::uint8_t, kKeyBufferSize> key{};
};
std::array<OldKey, mdx::kMaxTags + 1> OldKeys;
std::int32_t OldKeysRecord = 0;

// The cursor of slot 1 on the current record, unless it stands there.
void SyncCurrentOrder() {
  WorkArea* area = CurrentWorkArea();
  CurrIndex* tag = TagInSlot(1);
  if (area == nullptr || tag == nullptr) return;
  if (OwnsPath(*tag, 1) && !tag->after_last && tag->position < tag->View(tag->node_in_use).Count() &&
      EntryRecord(*tag) == area->record_number) {
    return;
  }
  SyncIndex(false);
}

}  // namespace

std::int32_t AppendIndex(const std::uint8_t* key_in, int slot, bool position_current) {
  CurrIndex* found_tag = TagInSlot(slot);
  WorkArea* area = CurrentWorkArea();
  if (found_tag == nullptr || area == nullptr) return 0;
  CurrIndex& tag = *found_tag;
  std::uint8_t key[kKeyBufferSize] = {};
  std::memcpy(key, key_in, static_cast<std::size_t>(tag.key_length));
  if (tag.HasFor()) {
    if (!ForTest(tag.for_expr)) return 0;
    if (!tag.KeyEntered()) tag.SetKeyEntered(true);
  }
  if (tag.max_keys < 3) Corrupted(slot, "node capacity " + std::to_string(tag.max_keys));
  const std::int32_t record = area->record_number;
  KeyTagScope scope(slot);
  {
    struct Positioning {
      Positioning() { InsertPositioning = true; }
      ~Positioning() { InsertPositioning = false; }
    } positioning;
    Seek(key);
  }
  // A unique tag keeps the first record of each key.
  if (FoundFlag && tag.Unique()) return 0;
  bool on_entry = false;
  try {
    on_entry = InsertAtCursor(tag, slot, key, record);
  } catch (const std::bad_alloc&) {
    SharedPath->Invalidate();
    SetError(217, " [AppendIndex]");
    return -1;
  }
  if (tag.header_modified) WriteAnchor(slot);
  // Without a split the path still leads to the new entry; after one it
  // leads to nodes that changed their place in the tree.
  if (!on_entry) {
    SharedPath->Invalidate();
    if (position_current && slot == 1) PositionOnEntry(tag, slot, key, record);
  }
  return 0;
}

int DeleteEntry(const std::uint8_t* key_in, int slot) {
  CurrIndex* found_tag = TagInSlot(slot);
  if (found_tag == nullptr) return 0;
  CurrIndex& tag = *found_tag;
  KeyTagScope scope(slot);
  std::uint8_t key[kKeyBufferSize] = {};
  std::memcpy(key, key_in, static_cast<std::size_t>(tag.key_length));
  if (!Seek(key)) return 0;
  while (!tag.after_last && EntryRecord(tag) != TargetRecord && tag.Compare(EntryKey(tag), key) == 0) {
    if (!StepForward(tag, slot)) return 0;
  }
  if (tag.after_last || EntryRecord(tag) != TargetRecord || tag.Compare(EntryKey(tag), key) != 0) return 0;
  RemoveAtCursor(tag, slot);
  if (tag.header_modified) WriteAnchor(slot);
  SharedPath->Invalidate();
  return 1;
}

void AppendNewKey() {
  IndexArea* index = CurrentIndexArea();
  WorkArea* area = CurrentWorkArea();
  if (index == nullptr || area == nullptr || !index->IsOpen()) return;
  {
    IndexOrderScope order(index);
    RefreshAfterChanges();
    // The current order's tag goes last, so that its cursor is left on
    // the new entry.
    std::vector<int> done;
    for (int turn = 2; turn <= mdx::kMaxTags + 1; ++turn) {
      const int slot = turn <= mdx::kMaxTags ? turn : 1;
      if (TagInSlot(slot) == nullptr) continue;
      std::uint8_t key[kKeyBufferSize];
      MakeKeyInto(*TagInSlot(slot), slot, key);
      if (AppendIndex(key, slot, false) >= 0) {
        done.push_back(slot);
        continue;
      }
      // Take the new record out of the tags it entered.
      TargetRecord = area->record_count;
      for (auto undo = done.rbegin(); undo != done.rend(); ++undo) {
        MakeKeyInto(*TagInSlot(*undo), *undo, key);
        if (DeleteEntry(key, *undo) < 0) {
          SetError(254, "Index file corrupted. " + TagDescription(*undo) + " [AppendNewKey]");
          break;
        }
      }
      break;
    }
  }
  FlushMdxHeader();
  SyncCurrentOrder();
  SyncKeys(1);
}

void NoteOldKeys() {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) return;
  // Another program's changes (a new root, say) are taken in before any
  // key is compared.
  RefreshAfterChanges();
  OldKeysRecord = area->record_number;
  for (int slot = 1; slot <= mdx::kMaxTags; ++slot) {
    OldKey& note = OldKeys[static_cast<std::size_t>(slot)];
    CurrIndex* tag = TagInSlot(slot);
    note.noted = tag != nullptr;
    if (tag == nullptr) continue;
    note.in_tag = ForTest(tag->for_expr);
    MakeKeyInto(*tag, slot, note.key.data());
    // The key buffers take the keys of the record as stored.
    std::memcpy(tag->key.data(), note.key.data(), kKeyBufferSize);
  }
}

namespace {

// Brings every tag up to date after the current record was replaced: the
// old entry goes when the record had one, the new key enters when the FOR
// condition holds for the new record. A record without an entry of its own
// (its FOR condition was false, or another record holds its key in a
// unique tag) has nothing to delete; only the record's own entry is ever
// removed. A non-unique tag missing the entry of a record that belonged to
// it is reported after every tag was brought up to date.
void CompareKeys() {
  WorkArea& area = *CurrentWorkArea();
  const std::int32_t record = area.record_number;
  std::string missing;
  // The current order's tag goes last, so that an insertion leaves its
  // cursor on the record.
  for (int turn = 2; turn <= mdx::kMaxTags + 1; ++turn) {
    const int slot = turn <= mdx::kMaxTags ? turn : 1;
    CurrIndex* tag = TagInSlot(slot);
    if (tag == nullptr) continue;
    KeyTagScope scope(slot);
    OldKey& note = OldKeys[static_cast<std::size_t>(slot)];
    const bool noted = note.noted && OldKeysRecord == record;
    note.noted = false;
    const bool now_in = ForTest(tag->for_expr);
    std::uint8_t key[kKeyBufferSize];
    MakeKeyInto(*tag, slot, key);
    if (!noted) continue;  // no old keys known: nothing to compare
    const auto length = static_cast<std::size_t>(tag->key_length);
    if (note.in_tag && now_in && std::memcmp(note.key.data(), key, length) == 0) continue;
    if (note.in_tag) {
      TargetRecord = record;
      const int removed = DeleteEntry(note.key.data(), slot);
      if (removed < 0) return;
      if (removed == 0 && !tag->Unique() && missing.empty()) {
        missing = "Record number " + std::to_string(record) + " not found in index. " + TagDescription(slot) +
                  " [CompareKeys]";
      }
    }
    if (now_in && AppendIndex(key, slot, false) < 0) return;
    std::memcpy(tag->key.data(), key, kKeyBufferSize);
  }
  if (!missing.empty()) SetError(254, missing);
}

}  // namespace

void UpdateKeys() {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || !index->IsOpen() || CurrentWorkArea() == nullptr) return;
  {
    IndexOrderScope order(index);
    RefreshAfterChanges();
    CompareKeys();
  }
  KeyTagNumber = 1;
  FlushMdxHeader();
  SyncCurrentOrder();
  SyncKeys(1);
}

void SyncIndex(bool all_tags) {
  IndexArea* index = CurrentIndexArea();
  WorkArea* area = CurrentWorkArea();
  if (index == nullptr || area == nullptr || !index->IsOpen()) return;
  const bool natural = index->natural_order;
  KeyTagScope restore(KeyTagNumber);
  IndexOrderScope order(index);
  RefreshAfterChanges();
  std::int32_t record = area->record_number;
  const int last_slot = all_tags ? mdx::kMaxTags : 1;
  for (int slot = 1; slot <= last_slot; ++slot) {
    CurrIndex* tag = TagInSlot(slot);
    if (tag == nullptr) continue;
    KeyTagNumber = slot;
    const bool valid = record >= 1 && record <= area->record_count;
    if (valid && ForTest(tag->for_expr)) {
      std::uint8_t key[kKeyBufferSize];
      MakeKeyInto(*tag, slot, key);
      std::memcpy(tag->key.data(), key, kKeyBufferSize);
      const bool found = Seek(key);
      // In a unique tag a record whose key another record holds, or whose
      // key left the tag with that record, has no entry of its own.
      if (tag->Unique()) continue;
      if (!found) {
        SetError(212, "Key: \"" + TrimmedKeyText(*tag, key, slot) + "\" not in index: " + TagDescription(slot) +
                          ". [SyncIndex-1] Record: " + std::to_string(record));
        return;
      }
      while (EntryRecord(*tag) != record && tag->Compare(EntryKey(*tag), key) == 0) {
        if (!StepForward(*tag, slot)) break;
      }
      if (EntryRecord(*tag) != record || tag->Compare(EntryKey(*tag), key) != 0) {
        SetError(212, "Record with key: \"" + TrimmedKeyText(*tag, key, slot) + "\" not in index: " +
                          TagDescription(slot) + ". [SyncIndex-2]");
        return;
      }
    } else if (slot == 1 && !natural) {
      GoToEnd();
      record = area->record_number;
    } else {
      FindFirstLastRec(false);
    }
  }
}

void SoftSyncIndex() {
  WorkArea* area = CurrentWorkArea();
  CurrIndex* tag = TagInSlot(1);
  if (area == nullptr || tag == nullptr) return;
  KeyTagScope scope(1);
  std::uint8_t key[kKeyBufferSize];
  MakeKeyInto(*tag, 1, key);
  std::memcpy(tag->key.data(), key, kKeyBufferSize);
  if (Seek(key)) {
    if (tag->Unique()) return;
    while (EntryRecord(*tag) != area->record_number && tag->Compare(EntryKey(*tag), key) == 0) {
      if (!StepForward(*tag, 1)) break;
    }
    if (tag->Compare(EntryKey(*tag), key) == 0) return;
  }
  if (!tag->Unique() && ForTest(tag->for_expr)) {
    SetError(212, "Record with key: \"" + TrimmedKeyText(*tag, key, 1) + "\" not in index: " + TagDescription(1) +
                      ". [SoftSyncIndex]");
  }
}

}  // namespace qd
