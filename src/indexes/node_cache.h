// Copies of an open index file's branch nodes, so that descents from the
// root read only their leaf from the file. Kept per index file (IndexArea):
//   - filled when a branch node is read, kept equal to every node written
//     through SeekAndWrite; blocks written another way are dropped;
//   - emptied when the file is closed or discarded, and when another
//     program changed the index (the tag headers are then read again);
//   - bounded: when full it starts again empty.
// Branch nodes change only when a child splits or empties, so nearly every
// descent finds them here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "indexes/index_engine.h"

namespace qd {

class NodeCache {
 public:
  static constexpr std::size_t kMaxNodes = 8192;  // 8 MB

  // The copy of `page`, nil when it is not kept.
  const std::uint8_t* Find(std::int32_t page) const {
    const auto it = nodes_.find(page);
    return it != nodes_.end() ? it->second.data() : nullptr;
  }
  // Notes a node read or written: a branch node is kept, a leaf dropped.
  void Note(std::int32_t page, const std::uint8_t* bytes, int item_length) {
    const NodeView node(const_cast<std::uint8_t*>(bytes), item_length);
    const bool branch = node.Count() >= 0 && node.Count() <= node.Room() && !node.IsLeaf();
    if (!branch) {
      nodes_.erase(page);
      return;
    }
    if (nodes_.size() >= kMaxNodes && nodes_.find(page) == nodes_.end()) nodes_.clear();
    std::copy(bytes, bytes + mdx::kBlockSize, nodes_[page].begin());
  }
  // Drops the pages a write of `count` bytes at `page` covers.
  void Drop(std::uint32_t page, std::size_t count) {
    if (nodes_.empty()) return;
    const std::uint64_t last = page + (count + mdx::kPageSize - 1) / mdx::kPageSize;
    // A block starts one page before the first page it could overlap.
    for (std::uint64_t p = page == 0 ? 0 : page - 1; p < last; ++p) nodes_.erase(static_cast<std::int32_t>(p));
  }
  void Clear() { nodes_.clear(); }

 private:
  std::unordered_map<std::int32_t, NodeImage> nodes_;
};

}  // namespace qd
