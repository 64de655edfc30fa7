// Search and navigation through a tag's B-tree, the current order and the
// order hooks of the table layer (see index_navigation.h).
#include "indexes/index_navigation.h"

#include <algorithm>
#include <cstring>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "indexes/index_file.h"
#include "indexes/keys.h"
#include "indexes/node_path.h"
#include "indexes/semaphore.h"
#include "indexes/tag_table.h"
#include "indexes/tag_table_layout.h"
#include "table/native_record.h"

namespace qd {

using namespace table_text;

namespace {

constexpr std::uint16_t kCorrupted = 222;

NodePath& Path() {
  if (SharedPath == nullptr) SharedPath = new NodePath;
  return *SharedPath;
}

// The read semaphore for the life of the object.
class ReadHold {
 public:
  ReadHold() { SetReadSemaphoreProc(true); }
  ~ReadHold() {
    try {
      SetReadSemaphoreProc(false);
    } catch (...) {
    }
  }
  ReadHold(const ReadHold&) = delete;
  ReadHold& operator=(const ReadHold&) = delete;
};

class KeyTagScope {
 public:
  explicit KeyTagScope(int slot) : saved_(KeyTagNumber) { KeyTagNumber = slot; }
  ~KeyTagScope() { KeyTagNumber = saved_; }
  KeyTagScope(const KeyTagScope&) = delete;
  KeyTagScope& operator=(const KeyTagScope&) = delete;

 private:
  int saved_;
};

[[noreturn]] void Corrupted(int slot, const std::string& what) {
  RaiseError(kCorrupted, "Error reading index file: " + TagDescription(slot) + " (" + what + ") [SeekAndRead]");
  throw EQuindleError(what);  // not reached: RaiseError ends the operation
}

void SetCursor(CurrIndex& tag, int position) {
  tag.position = position;
  tag.entry = tag.node_in_use + mdx::node::EntryOffset(position, tag.item_length);
}

void ToStub(CurrIndex& tag) {
  tag.node_in_use = tag.file->empty_node.data();
  tag.node_page = -1;
  tag.position = 0;
  tag.entry = tag.node_in_use + mdx::node::kEntries;
}

bool OnStub(const CurrIndex& tag) {
  return tag.node_in_use == nullptr || tag.node_in_use == tag.file->empty_node.data() || tag.node_page == -1;
}

// Reads the node at `page` and pushes it on the path as the tag's node in
// use. A page 0, a count the node cannot hold or a path deeper than any
// sound tree ends the operation.
std::uint8_t* LoadAndPush(CurrIndex& tag, int slot, std::int32_t page) {
  if (page == 0) {
    RaiseError(254, "Invalid Node Number (0) in DBF Area " + std::to_string(CurrentArea) + ", Order " +
                        std::to_string(slot) + " " + TagDescription(slot) + " [GetNode]");
    return nullptr;
  }
  SeekAndRead(tag, page, tag.node.data());
  if (!tag.View(tag.node.data()).CountFits(tag.max_keys)) Corrupted(slot, "page " + std::to_string(page));
  std::uint8_t* copy = Path().Push(page, tag.node.data());
  if (copy == nullptr) Corrupted(slot, "tree deeper than " + std::to_string(kMaxTreeDepth) + " levels");
  tag.node_in_use = copy;
  tag.node_page = page;
  SetCursor(tag, 0);
  return copy;
}

void ResetPath(CurrIndex& tag, int slot) { Path().Reset({tag.file, slot}); }

// Descends from `page` along first (or trailing) pointers to a leaf,
// pushing every node; the cursor ends on the leaf's first (or last) entry.
void DescendEdge(CurrIndex& tag, int slot, std::int32_t page, bool leftmost) {
  for (;;) {
    std::uint8_t* node = LoadAndPush(tag, slot, page);
    const NodeView view = tag.View(node);
    if (view.IsLeaf()) {
      if (view.Count() == 0 && Path().Depth() > 1) Corrupted(slot, "empty leaf at page " + std::to_string(page));
      SetCursor(tag, leftmost ? 0 : std::max(view.Count() - 1, 0));
      return;
    }
    page = static_cast<std::int32_t>(leftmost ? view.Pointer(0) : view.TrailingPointer());
  }
}

// Descends from the root by key; the leaf is the top of the path. Returns
// the leaf's search result.
int DescendByKey(CurrIndex& tag, int slot, const std::uint8_t* key) {
  std::int32_t page = static_cast<std::int32_t>(tag.RootPage());
  for (;;) {
    std::uint8_t* node = LoadAndPush(tag, slot, page);
    const NodeView view = tag.View(node);
    const int result = SearchInNode(tag, view, key);
    if (view.IsLeaf()) return result;
    page = static_cast<std::int32_t>(result == -2 ? view.TrailingPointer() : view.Pointer(std::max(result, 0)));
  }
}

// The index of `child` among the pointers of a branch node (its trailing
// pointer included); -1 when it is not there.
int ChildIndex(const NodeView& node, std::int32_t child) {
  for (int i = 0; i <= node.Count(); ++i) {
    if (node.Pointer(i) == static_cast<std::uint32_t>(child)) return i;
  }
  return -1;
}

// Moves to the first entry of the next leaf (forward) or the last entry of
// the previous leaf. False when there is none; the path is then unchanged.
bool NeighbourLeaf(CurrIndex& tag, int slot, bool forward) {
  NodePath& path = Path();
  int level = path.Depth() - 1;
  std::int32_t child = path.PageAt(level);
  while (level > 0) {
    const NodeView parent = tag.View(path.NodeAt(level - 1));
    const int i = ChildIndex(parent, child);
    if (i < 0) Corrupted(slot, "page " + std::to_string(child) + " missing from its parent");
    const bool more = forward ? i < parent.Count() : i > 0;
    if (more) {
      const auto next = static_cast<std::int32_t>(parent.Pointer(forward ? i + 1 : i - 1));
      while (path.Depth() > level) path.Pop();
      DescendEdge(tag, slot, next, forward);
      return true;
    }
    child = path.PageAt(level - 1);
    --level;
  }
  return false;
}

void CopyEntryKey(CurrIndex& tag) {
  std::memcpy(tag.key.data(), EntryKey(tag), static_cast<std::size_t>(tag.key_length));
  tag.key[static_cast<std::size_t>(tag.key_length)] = 0;
}

bool ReadRecord(WorkArea& area, std::int32_t number) {
  if (!GetDbfRecord(area, number)) return false;
  ConvertRecordToNative(area);
  return true;
}

bool KeysEqual(const CurrIndex& tag, const std::uint8_t* a, const std::uint8_t* b) {
  return std::memcmp(a, b, static_cast<std::size_t>(tag.key_length)) == 0;
}

// Finds the tag's place again after the path was taken from it: seeks the
// key buffer and steps to the entry of the current record. Lost positions
// are reported; the cursor then stands at the key's place. True when the
// cursor stands on the current record's entry.
bool Reposition(CurrIndex& tag, int slot, const char* operation) {
  WorkArea& area = *CurrentWorkArea();
  const std::int32_t current = area.record_number;
  std::uint8_t key[kKeyBufferSize];
  std::memcpy(key, tag.key.data(), sizeof key);
  KeyTagScope scope(slot);
  Seek(key);
  if (tag.after_last) {
    FindFirstLastRec(false);
    return false;
  }
  while (EntryRecord(tag) != current) {
    if (!StepForward(tag, slot)) {
      SetError(254, std::string(" [") + operation + "]");
      std::memcpy(key, tag.key.data(), sizeof key);
      Seek(key);
      if (tag.after_last) FindFirstLastRec(false);
      return false;
    }
  }
  return true;
}

IndexArea* OpenIndexArea() {
  IndexArea* index = CurrentIndexArea();
  return index != nullptr && index->IsOpen() && index->tags[1] != nullptr ? index : nullptr;
}

}  // namespace

// -------------------------------------------------------------- cursor ---

bool OwnsPath(const CurrIndex& tag, int slot) {
  return SharedPath != nullptr && SharedPath->Owner() == PathOwner{tag.file, slot} && !OnStub(tag);
}

std::int32_t EntryRecord(const CurrIndex& tag) { return static_cast<std::int32_t>(Get32(tag.entry)); }
const std::uint8_t* EntryKey(const CurrIndex& tag) { return tag.entry + mdx::node::kPointerSize; }

bool RefreshAfterChanges() {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || !IndexChangedElsewhere()) return false;
  if (SharedPath != nullptr && SharedPath->Owner().file == index) SharedPath->Reset({});
  if (WorkArea* area = CurrentWorkArea()) RefreshRecordCount(*area);
  return true;
}

void GetNode(std::int32_t page, int slot) {
  CurrIndex* tag = TagInSlot(slot);
  if (tag == nullptr) return;
  if (page == -1) {
    ToStub(*tag);
    return;
  }
  if (page == 0) {
    RaiseError(254, "Invalid Node Number (0) in DBF Area " + std::to_string(CurrentArea) + ", Order " +
                        std::to_string(slot) + " " + TagDescription(slot) + " [GetNode]");
    return;
  }
  SeekAndRead(*tag, page, tag->node.data());
  if (!tag->View(tag->node.data()).CountFits(tag->max_keys)) Corrupted(slot, "page " + std::to_string(page));
  tag->node_in_use = tag->node.data();
  tag->node_page = page;
  SetCursor(*tag, 0);
}

int SearchInNode(const CurrIndex& tag, const NodeView& node, const std::uint8_t* key) {
  const int n = node.Count();
  if (n <= 0) return -1;
  const int first = tag.Compare(key, node.Key(0));
  if (first < 0) return -1;
  if (first == 0) return 0;
  if (tag.Compare(key, node.Key(n - 1)) > 0) return -2;
  int low = 1, high = n - 1;  // the answer lies in [low, high]
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (tag.Compare(node.Key(middle), key) >= 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

bool StepForward(CurrIndex& tag, int slot) {
  const NodeView view = tag.View(tag.node_in_use);
  if (tag.position + 1 < view.Count()) {
    SetCursor(tag, tag.position + 1);
    return true;
  }
  return NeighbourLeaf(tag, slot, true);
}

bool StepBackward(CurrIndex& tag, int slot) {
  if (tag.position > 0) {
    SetCursor(tag, tag.position - 1);
    return true;
  }
  return NeighbourLeaf(tag, slot, false);
}

bool Seek(std::uint8_t* key_in) {
  const int slot = KeyTagNumber;
  CurrIndex* found_tag = TagInSlot(slot);
  WorkArea* area = CurrentWorkArea();
  FoundFlag = false;
  if (found_tag == nullptr || area == nullptr) return false;
  CurrIndex& tag = *found_tag;
  ErrorCode = 0;
  if (!InsertPositioning && (area->record_count == 0 || tag.EmptyForTag())) {
    FindFirstLastRec(true);
    return false;
  }
  // The key may live in a buffer the descent reuses.
  std::uint8_t key[kKeyBufferSize];
  std::memcpy(key, key_in, static_cast<std::size_t>(tag.key_length));
  tag.before_first = tag.after_last = false;
  ResetPath(tag, slot);
  const int result = DescendByKey(tag, slot, key);
  const int n = tag.View(tag.node_in_use).Count();
  if (result == -1) {
    SetCursor(tag, 0);
    return false;
  }
  if (result == -2) {
    if (InsertPositioning) {
      SetCursor(tag, n);
      return false;
    }
    SetCursor(tag, n - 1);
    if (!StepForward(tag, slot)) {
      tag.after_last = true;
      SetCursor(tag, tag.View(tag.node_in_use).Count());
      return false;
    }
  } else {
    SetCursor(tag, result);
  }
  if (tag.key_type == 'N' || tag.key_type == 'F') {
    FoundFlag = CompareNumericKeys(key, EntryKey(tag), tag.key_length) == 0;
    if (FoundFlag) std::memcpy(key_in, EntryKey(tag), static_cast<std::size_t>(tag.key_length));
  } else {
    FoundFlag = KeysEqual(tag, key, EntryKey(tag));
  }
  return FoundFlag;
}

std::int32_t FindFirstLastRec(bool first) {
  FoundFlag = false;
  if (IndexNotOpen("_FindFirst/LastRec")) return 0;
  WorkArea& area = *CurrentWorkArea();
  const int slot = KeyTagNumber;
  CurrIndex* found_tag = TagInSlot(slot);
  if (found_tag == nullptr) return area.record_count + 1;
  CurrIndex& tag = *found_tag;
  RefreshAfterChanges();
  ResetPath(tag, slot);
  const auto root = static_cast<std::int32_t>(tag.RootPage());
  if (tag.EmptyForTag()) {
    LoadAndPush(tag, slot, root);
  } else {
    DescendEdge(tag, slot, root, first);
  }
  if (tag.EmptyForTag() || tag.View(tag.node_in_use).Count() == 0) {
    tag.before_first = tag.after_last = true;
    SetCursor(tag, 0);
    return area.record_count + 1;
  }
  tag.before_first = tag.after_last = false;
  FoundFlag = true;
  CopyEntryKey(tag);
  return EntryRecord(tag);
}

void GoToEnd() {
  KeyTagScope scope(1);
  CurrIndex* tag = TagInSlot(1);
  WorkArea* area = CurrentWorkArea();
  if (tag == nullptr || area == nullptr) return;
  FindFirstLastRec(false);
  area->record_number = area->record_count + 1;
  area->at_end = true;
  ClearAreaRecord(*area);
  tag->after_last = true;
  ToStub(*tag);
}

namespace {
// The start of a step in the current order: after another program's
// changes the current record is read again and the cursor put back on its
// entry. True (both ends set) when there is no entry to step over.
bool NothingToStepOver(IndexArea& index, WorkArea& area, CurrIndex& tag) {
  if (RefreshAfterChanges()) {
    if (area.record_number >= 1 && area.record_number <= area.record_count) ReadRecord(area, area.record_number);
    if (area.record_number > area.record_count) {
      GoToEnd();
    } else if (!index.natural_order) {
      SoftSyncIndex();
    }
  }
  if (area.record_count != 0 && !tag.EmptyForTag()) return false;
  tag.before_first = tag.after_last = true;
  return true;
}
}  // namespace

std::int32_t FindNextRec() {
  FoundFlag = false;
  IndexArea* index = OpenIndexArea();
  WorkArea* area = CurrentWorkArea();
  if (index == nullptr || area == nullptr) return area != nullptr ? area->record_number : 0;
  const int slot = KeyTagNumber;
  CurrIndex& tag = *TagInSlot(slot);
  if (NothingToStepOver(*index, *area, tag)) return area->record_count + 1;
  tag.before_first = false;
  if (index->natural_order) {
    if (area->record_number >= area->record_count) {
      area->at_end = true;
      return area->record_number;
    }
    return area->record_number + 1;
  }
  if (tag.after_last) {
    const std::int32_t last = FindFirstLastRec(false);
    ToStub(tag);
    tag.after_last = true;
    return last;
  }
  const std::int32_t current = area->record_number;
  bool advance = true;
  if (!OwnsPath(tag, slot)) {
    // Where the current record's entry was lost, the entry at its key's
    // place is the next one.
    advance = Reposition(tag, slot, "_FindNextRec") || KeysEqual(tag, tag.key.data(), EntryKey(tag));
  }
  if (advance && !StepForward(tag, slot)) {
    const std::int32_t last = FindFirstLastRec(false);
    if (current != 0 && current != last) return last;
    tag.after_last = true;
    FoundFlag = false;
    return last;
  }
  FoundFlag = !tag.after_last;
  CopyEntryKey(tag);
  return EntryRecord(tag);
}

std::int32_t FindPriorRec() {
  FoundFlag = false;
  IndexArea* index = OpenIndexArea();
  WorkArea* area = CurrentWorkArea();
  if (index == nullptr || area == nullptr) return area != nullptr ? area->record_number : 0;
  const int slot = KeyTagNumber;
  CurrIndex& tag = *TagInSlot(slot);
  if (NothingToStepOver(*index, *area, tag)) return area->record_count + 1;
  tag.after_last = false;
  if (index->natural_order) {
    if (area->record_number <= 1) {
      area->at_beginning = true;
      return area->record_number;
    }
    return std::min(area->record_number - 1, area->record_count);
  }
  if (OnStub(tag)) return FindFirstLastRec(false);
  if (tag.before_first) return area->record_number;
  const std::int32_t current = area->record_number;
  if (!OwnsPath(tag, slot)) Reposition(tag, slot, "_FindPriorRec");
  if (!StepBackward(tag, slot)) {
    const std::int32_t first = FindFirstLastRec(true);
    if (current == first) tag.before_first = true;
    return first;
  }
  FoundFlag = true;
  CopyEntryKey(tag);
  return EntryRecord(tag);
}

void SyncKeys(int count) {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) return;
  const bool no_record =
      area->record_count == 0 || area->record_number < 1 || area->record_number > area->record_count;
  for (int slot = 1; slot <= std::min(count, mdx::kMaxTags); ++slot) {
    CurrIndex* tag = TagInSlot(slot);
    if (tag == nullptr) continue;
    const auto length = static_cast<std::size_t>(tag->key_length);
    if (no_record) {
      std::memset(tag->key.data(), tag->char_key ? ' ' : 0, length);
    } else if (slot == 1 && OwnsPath(*tag, 1) && !tag->after_last &&
               tag->position < tag->View(tag->node_in_use).Count() && EntryRecord(*tag) == area->record_number) {
      // The cursor stands on the record's entry: its key is the record's.
      std::memcpy(tag->key.data(), EntryKey(*tag), length);
    } else {
      std::memcpy(tag->key.data(), MakeKey(slot), length);
    }
    tag->key[length] = 0;
  }
}

// --------------------------------------------------- public operations --

bool IndexNotOpen(const std::string& operation) {
  WorkArea* area = CurrentWorkArea();
  if (OpenIndexArea() != nullptr) return false;
  SetError(221, "Index not open. (DBF=" + (area != nullptr ? area->file_name : std::string()) + ") [" + operation +
                    "]");
  return true;
}

bool SetExactLength() {
  const bool previous = ExactLength;
  ExactLength = true;
  return previous;
}

bool ClearExactLength() {
  const bool previous = ExactLength;
  ExactLength = false;
  return previous;
}

int CurrentOrder() {
  const IndexArea* index = CurrentIndexArea();
  if (index == nullptr || !index->IsOpen() || index->tags[1] == nullptr || index->natural_order) return 0;
  return index->tags[1]->tag_number;
}

bool Find(const std::string& given) {
  FoundFlag = false;
  WorkArea* area = RequireTable("Find");
  if (area == nullptr || IndexNotOpen("Find")) return false;
  IndexArea& index = *CurrentIndexArea();
  if (index.natural_order) {
    SetError(254, "Cannot use Find() with index order 0 (natural order) [Find]");
    return false;
  }
  if (given.empty()) return false;
  ErrorCode = 0;
  KeyTagScope scope(1);
  CurrIndex& tag = *index.tags[1];
  ReadHold hold;
  if (OnStub(tag) || area->record_count == 0 || tag.EmptyForTag()) {
    FindFirstLastRec(true);
    if (tag.after_last) return false;
  }
  const std::string text = given.substr(0, std::min<std::size_t>(given.size(), kMaxKeyLength));
  std::uint8_t key[kKeyBufferSize] = {};
  std::size_t compared = static_cast<std::size_t>(tag.key_length);
  if (tag.char_key) {
    const std::size_t length = std::min(text.size(), compared);
    std::memcpy(key, text.data(), length);
    if (ExactLength) {
      std::memset(key + length, ' ', compared - length);
    } else {
      compared = length;
    }
    if (area->language == tlOem) platform::AnsiToOem(key, length);
    if (tag.descending) std::memset(key + compared, 0xFE, static_cast<std::size_t>(tag.key_length) - compared);
  } else if (tag.key_type == 'D') {
    EncodeDateKey(DateToJulian(AllTrim(text)), key);
  } else {
    EncodeNumericText(text, 0, key);
  }
  RefreshAfterChanges();
  Seek(key);
  std::int32_t record = tag.after_last ? 0 : EntryRecord(tag);
  bool readable = record >= 1 && record <= area->record_count && ReadRecord(*area, record);
  while (readable && !RecordVisible(*area) && !tag.after_last) {
    record = FindNextRec();
    if (tag.after_last) break;
    readable = record >= 1 && record <= area->record_count && ReadRecord(*area, record);
  }
  bool found = false;
  if (readable && !tag.after_last) {
    CopyEntryKey(tag);
    if (tag.char_key || tag.key_type == 'D') {
      found = std::memcmp(key, EntryKey(tag), compared) == 0;
    } else {
      found = CompareNumericKeys(key, EntryKey(tag), tag.key_length) == 0;
    }
  }
  if (found) {
    SyncKeys(1);
  } else {
    GoToEnd();
  }
  FoundFlag = found;
  return found;
}

void Set_Order_To(int order) {
  const std::string context = "Set_Order_To(" + std::to_string(order) + ")";
  WorkArea* area = RequireTable(context.c_str());
  if (area == nullptr || IndexNotOpen(context)) return;
  IndexArea& index = *CurrentIndexArea();
  if (order < 0 || order > TagCount(index.Header())) {
    SetError(220, "Invalid Index Order Specified: SET_ORDER_TO. [" + context + "] (DBF=" + area->file_name + ")");
    return;
  }
  if (order == 0) {
    index.natural_order = true;
    return;
  }
  const bool found = FoundFlag;
  ReadHold hold;
  index.natural_order = false;
  if (area->record_number >= 1 && area->record_number <= area->record_count) {
    ReadRecord(*area, area->record_number);
  }
  if (index.tags[1]->tag_number != order) {
    // Tag 1 back to slot 1, then the chosen tag and tag 1 change places.
    const int current = index.tags[1]->tag_number;
    if (current >= 1 && current <= mdx::kMaxTags) std::swap(index.tags[1], index.tags[static_cast<std::size_t>(current)]);
    if (index.tags[static_cast<std::size_t>(order)] == nullptr) {
      SetError(221, "Index not open.. (DBF=" + area->file_name + ") [" + context + "]");
      return;
    }
    const bool was_after_last = index.tags[1]->after_last;
    std::swap(index.tags[1], index.tags[static_cast<std::size_t>(order)]);
    CurrIndex& tag = *index.tags[1];
    Path().Invalidate();
    tag.node_in_use = tag.node.data();
    SetCursor(tag, 0);
    KeyTagNumber = 1;
    if (area->record_count == 0) SyncKeys(1);
    if (was_after_last) {
      GoToEnd();
      SyncKeys(1);
    }
  }
  SyncIndex(true);
  SyncKeys(1);
  FoundFlag = found;
}

bool SetOrderToTag(const std::string& given) {
  const std::string name = given.substr(0, std::min<std::size_t>(given.size(), 10));
  if (IndexNotOpen("SetOrderToTag(" + name + ")")) return false;
  if (name.empty()) {
    Set_Order_To(0);
    return true;
  }
  IndexArea& index = *CurrentIndexArea();
  std::string upper = name;
  platform::AnsiUpper(reinterpret_cast<std::uint8_t*>(upper.data()), upper.size());
  const int count = std::min(TagCount(index.Header()), mdx::kMaxTags);
  for (int number = 1; number <= count; ++number) {
    const std::uint8_t* stored = index.Header() + mdx::tag_entry::Offset(number) + mdx::tag_entry::kName;
    // The name and its terminator.
    if (std::memcmp(stored, upper.c_str(), upper.size() + 1) == 0) {
      Set_Order_To(number);
      return true;
    }
  }
  SetError(220, "Invalid Index Order Specified: SET_ORDER_TO. [SetOrderToTag(" + name + ")] (DBF=" +
                    CurrentWorkArea()->file_name + ")");
  return false;
}

void PositionOnOpen() {
  WorkArea* area = CurrentWorkArea();
  CurrIndex* tag = TagInSlot(1);
  if (area == nullptr || tag == nullptr || area->record_count == 0) return;
  KeyTagScope scope(1);
  std::int32_t record = FindFirstLastRec(true);
  if (record > area->record_count || record < 1) {
    GoToEnd();
    return;
  }
  // An entry naming a record the table lacks ends the walk at the end.
  bool readable = ReadRecord(*area, record);
  while (readable && !RecordVisible(*area) && !tag->after_last) {
    record = FindNextRec();
    if (tag->after_last || record < 1 || record > area->record_count) break;
    readable = ReadRecord(*area, record);
  }
  if (tag->after_last || !readable || record < 1 || record > area->record_count) GoToEnd();
}

// ------------------------------------------------------------- hooks ----

namespace {

IndexArea* ActiveIndex() { return OpenIndexArea(); }

bool NaturalOrder() {
  const IndexArea* index = ActiveIndex();
  return index != nullptr && index->natural_order;
}

std::int32_t FirstInOrder() {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) return 0;
  if (NaturalOrder()) {
    FoundFlag = area->record_count != 0;
    return 1;
  }
  KeyTagScope scope(1);
  return FindFirstLastRec(true);
}

std::int32_t LastInOrder() {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) return 0;
  if (NaturalOrder()) {
    FoundFlag = area->record_count != 0;
    return std::max(area->record_count, 1);
  }
  KeyTagScope scope(1);
  return FindFirstLastRec(false);
}

bool OrderEOF() {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) return true;
  const CurrIndex* tag = TagInSlot(1);
  if (NaturalOrder() || tag == nullptr) return area->at_end;
  return tag->after_last;
}

bool OrderBOF() {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) return true;
  const CurrIndex* tag = TagInSlot(1);
  if (NaturalOrder() || tag == nullptr) return area->at_beginning;
  return tag->before_first;
}

}  // namespace

void FillOrderHooks() {
  IndexHooks.OrderActive = [] { return ActiveIndex() != nullptr; };
  IndexHooks.ResyncOrder = [] { SyncIndex(false); };
  IndexHooks.NextInOrder = [] {
    KeyTagScope scope(1);
    return FindNextRec();
  };
  IndexHooks.PriorInOrder = [] {
    KeyTagScope scope(1);
    return FindPriorRec();
  };
  IndexHooks.FirstInOrder = FirstInOrder;
  IndexHooks.LastInOrder = LastInOrder;
  IndexHooks.OrderEOF = OrderEOF;
  IndexHooks.OrderBOF = OrderBOF;
  IndexHooks.SetOrderEOF = [] {
    if (CurrIndex* tag = TagInSlot(1)) tag->after_last = true;
  };
  IndexHooks.SetOrderBOF = [] {
    if (CurrIndex* tag = TagInSlot(1)) tag->before_first = true;
  };
  IndexHooks.EndOrderMove = [] { SyncKeys(1); };
  IndexHooks.AppendNewKey = AppendNewKey;
  IndexHooks.NoteOldKeys = NoteOldKeys;
  IndexHooks.UpdateKeys = UpdateKeys;
}

}  // namespace qd
