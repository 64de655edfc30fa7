// The descent path: the stack of nodes from a tag's root to its current
// leaf, kept as copies so that moving through a leaf's neighbours does not
// read the file again. One path exists per process while an index file is
// open (SharedPath); the tag in slot 1 of the work area that last reset it
// owns it, and only one descent is live at a time.
//
// The path is a chain of segments of 9 entries (page and node image); a
// segment beyond the first is allocated when the path grows past it and
// freed when the path shrinks below it, so entry addresses never move while
// they are on the path. Reading and writing a node that is on the path goes
// through its copy (SeekAndRead, SeekAndWrite), which keeps the copies equal
// to the file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "indexes/index_engine.h"

namespace qd {

// Who owns the path: an index file and a tag slot in it. Slot 0 means the
// path was invalidated (the next step must re-find its position); the file
// stays, so that the copies keep following writes to that file.
struct PathOwner {
  const IndexArea* file = nullptr;
  int slot = 0;
  bool operator==(const PathOwner&) const = default;
};

class NodePath {
 public:
  static constexpr int kSegmentEntries = 9;

  NodePath();
  // Empties the path (keeping only the first segment) for a new owner.
  void Reset(PathOwner owner);
  void Invalidate() { owner_.slot = 0; }
  const PathOwner& Owner() const { return owner_; }

  // Pushes a copy of the node at `page` and returns the copy; nil when the
  // path would be deeper than kMaxTreeDepth (a damaged file) or memory ran
  // out, and then nothing changed.
  std::uint8_t* Push(std::int32_t page, const std::uint8_t* node);
  // Removes the top entry and returns the page of the new top (the parent
  // of the node removed). With only the root left nothing is removed and
  // the result is 0.
  std::int32_t Pop();

  int Depth() const { return depth_; }
  // Level 0 is the root, Depth() - 1 the top.
  std::int32_t PageAt(int level) const;
  std::uint8_t* NodeAt(int level);
  // The copy of `page` of `file` on the path, nil when it is not there.
  std::uint8_t* Lookup(const IndexArea* file, std::int32_t page);
  // Segments allocated now (the first one included).
  int Segments() const { return static_cast<int>(segments_.size()); }

 private:
  struct Segment {
    std::array<std::int32_t, kSegmentEntries> pages{};
    std::array<NodeImage, kSegmentEntries> nodes{};
  };
  std::vector<std::unique_ptr<Segment>> segments_;
  int depth_ = 0;
  PathOwner owner_;
};

// The process's descent path, allocated with the first index file opened
// and freed with the last one closed. A plain pointer: work areas closed
// while the process ends still find it (no static destructor frees it).
inline NodePath* SharedPath = nullptr;

}  // namespace qd
