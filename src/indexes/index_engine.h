// The index engine's in-memory records: the per-work-area index block
// (IndexArea), the control record of one open tag (CurrIndex, the tag's
// header image, key maker, key buffer, cursor and compiled expressions),
// node images with a typed view of their entries, and the engine-wide
// values that every index operation shares. The byte layouts these records
// mirror are in file_header_layout.h, tag_table_layout.h,
// tag_header_layout.h, node_layout.h and semaphore_layout.h.
//
// Ownership: a work area owns its index block (WorkArea::index), which owns
// the open tags' control records, the file header buffer and the semaphore
// state; everything is freed with the work area. All operations act on the
// current work area.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "expressions/expressions.h"
#include "indexes/file_header_layout.h"
#include "indexes/node_layout.h"
#include "indexes/tag_header_layout.h"
#include "platform/platform.h"
#include "table/table_text.h"
#include "table/work_areas.h"

namespace qd {

inline constexpr int kMaxKeyLength = 100;
inline constexpr std::size_t kKeyBufferSize = kMaxKeyLength + 1;  // key and a NUL
// Deepest tree the engine follows. A tree of 2^31 records is at most 32
// levels deep even with one key per branch node; anything deeper is a
// damaged or hostile file.
inline constexpr int kMaxTreeDepth = 48;

// Orders two keys: negative, zero or positive. `length` is the key length
// (only character keys use it).
using KeyCompare = int (*)(const std::uint8_t* a, const std::uint8_t* b, int length);
// Makes the key of the current record with the expression in IndexExpr (the
// tag-file maker picks the tag by KeyTagNumber) and returns a pointer to it.
using KeyMaker = const std::uint8_t* (*)();

using NodeImage = std::array<std::uint8_t, mdx::kBlockSize>;

// Typed access to a node image (node_layout.h) for a tag's item length.
// Entry n (one past the last) is where the trailing pointer lives. The view
// trusts its count: callers check CountFits before following entries of a
// node read from a file.
class NodeView {
 public:
  NodeView(std::uint8_t* bytes, int item_length) : bytes_(bytes), item_(item_length) {}

  std::uint8_t* Bytes() const { return bytes_; }
  int ItemLength() const { return item_; }
  int Count() const {
    return static_cast<std::int16_t>(table_text::Get16(bytes_ + mdx::node::kKeyCount));
  }
  void SetCount(int n) { table_text::Put16(bytes_ + mdx::node::kKeyCount, static_cast<std::uint16_t>(n)); }
  // Most entries the block can hold with this item length.
  int Room() const { return static_cast<int>(mdx::node::kEntrySpace) / item_; }
  bool CountFits(int capacity) const { return Count() >= 0 && Count() <= capacity && Count() <= Room(); }
  std::uint8_t* Entry(int i) const { return bytes_ + mdx::node::EntryOffset(i, item_); }
  std::uint32_t Pointer(int i) const { return table_text::Get32(Entry(i)); }
  void SetPointer(int i, std::uint32_t value) { table_text::Put32(Entry(i), value); }
  std::uint8_t* Key(int i) const { return Entry(i) + mdx::node::kPointerSize; }
  std::uint32_t TrailingPointer() const { return Pointer(Count()); }
  bool IsLeaf() const { return TrailingPointer() == 0; }
  void ClearModified() { table_text::Put16(bytes_ + mdx::node::kModified, 0); }

 private:
  std::uint8_t* bytes_;
  int item_;
};

struct IndexArea;
struct SemaphoreState;
class NodeCache;

// The control record of one open tag (`curr_index`).
struct CurrIndex {
  CurrIndex() = default;
  CurrIndex(const CurrIndex&) = delete;
  CurrIndex& operator=(const CurrIndex&) = delete;
  // Releases the compiled key expression and FOR condition.
  ~CurrIndex();

  std::uint8_t tag_number = 0;  // position in the tag table (1 to 47)
  IndexArea* file = nullptr;    // the index file the tag belongs to
  std::uint32_t header_page = 0;
  std::array<std::uint8_t, mdx::tag_header::kImageSize> header{};  // tag header image
  KeyCompare compare = nullptr;  // from the key type and the descending flag
  bool header_modified = false;
  bool char_key = false;
  bool before_first = false;
  bool after_last = false;
  bool descending = false;
  KeyMaker key_maker = nullptr;
  std::array<std::uint8_t, kKeyBufferSize> key{};  // the current key
  // Cursor: the node in use points at `node`, at a copy on the descent
  // path, or at the work area's empty-node stub; `entry` points into it.
  NodeImage node{};
  std::uint8_t* node_in_use = nullptr;
  std::int32_t node_page = 0;
  int position = 0;
  std::uint8_t* entry = nullptr;
  ExprRecord* key_expr = nullptr;
  ExprRecord* for_expr = nullptr;
  // The key layout, checked when the tag was opened. Node access uses these
  // and never the header image, so a header changed on disk later cannot
  // move entries outside a node image.
  char key_type = 'C';
  int key_length = 0;
  int item_length = 0;
  int max_keys = 0;

  std::uint32_t RootPage() const { return table_text::Get32(header.data() + mdx::tag_header::kRootPage); }
  void SetRootPage(std::uint32_t page) {
    table_text::Put32(header.data() + mdx::tag_header::kRootPage, page);
    header_modified = true;
  }
  bool Unique() const { return header[mdx::tag_header::kUnique] != 0; }
  bool HasFor() const { return header[mdx::tag_header::kForFlag] != 0; }
  bool KeyEntered() const { return header[mdx::tag_header::kKeyEntered] != 0; }
  void SetKeyEntered(bool value) {
    header[mdx::tag_header::kKeyEntered] = value ? 1 : 0;
    header_modified = true;
  }
  // A FOR tag into which no key has entered is empty whatever its nodes say.
  bool EmptyForTag() const { return HasFor() && !KeyEntered(); }
  int Compare(const std::uint8_t* a, const std::uint8_t* b) const { return compare(a, b, key_length); }
  NodeView View(std::uint8_t* bytes) const { return NodeView(bytes, item_length); }
};

// The work area's index block.
struct IndexArea {
  IndexArea();
  IndexArea(const IndexArea&) = delete;
  IndexArea& operator=(const IndexArea&) = delete;
  // Safety net for a work area freed with its index still open: closes the
  // handles without writing anything.
  ~IndexArea();

  // --- the index file ---
  platform::FileHandle file = platform::kNoFile;
  std::string file_name;
  std::uint64_t known_size = 0;  // file size as last seen; grows with appends
  // Disk space is known reserved up to here (beyond the end of the file)
  // for the nodes of key changes; 0 when nothing was reserved.
  std::uint64_t reserved_until = 0;
  // File header buffer (2048 bytes) while a file is open or being built.
  std::unique_ptr<std::array<std::uint8_t, mdx::kFileHeaderSize>> header;
  bool header_modified = false;
  // Tag slots 1 to 47 (index 0 unused); slot 1 holds the current order.
  std::array<std::unique_ptr<CurrIndex>, mdx::kMaxTags + 1> tags;
  // Node image of a tag without a position: 104 bytes, first word -1.
  std::array<std::uint8_t, 104> empty_node{};
  bool natural_order = false;
  bool counted = false;  // counted in OpenIndexFiles

  // --- the semaphore protocol ---
  std::unique_ptr<SemaphoreState> semaphore;  // while logged in

  // --- copies of branch nodes while the file is open (node_cache.h) ---
  std::unique_ptr<NodeCache> cache;
  int read_depth = 0;  // SetReadSemaphoreProc nesting
  int lock_depth = 0;  // SetLockSemaphoreProc nesting

  bool IsOpen() const { return file != platform::kNoFile; }
  std::uint8_t* Header() { return header ? header->data() : nullptr; }
};

// ----------------------------------------------------- engine-wide values --

// The tag slot whose key is being made, searched or maintained: 1 (the
// current order) except while maintenance walks all tags.
inline int KeyTagNumber = 1;
// Set by every search and step: whether it landed on an entry.
inline bool FoundFlag = false;
// While set, searches on character tags match whole keys only.
inline bool ExactLength = false;
// Index files open in this process; the shared descent path lives while it
// is above 0.
inline int OpenIndexFiles = 0;

// The index block of a work area (nil when it has none), and the block made
// on demand.
IndexArea* IndexAreaOf(WorkArea& area);
IndexArea& EnsureIndexArea(WorkArea& area);
// The current work area's index block; nil without a table or block.
IndexArea* CurrentIndexArea();
// The tag in a slot (1 to 47) of the current work area; nil when empty.
CurrIndex* TagInSlot(int slot);

}  // namespace qd
