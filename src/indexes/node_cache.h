// Copies of an open index file's nodes, so that descents from the root
// read at most their leaf from the file. Kept per index file (IndexArea):
//   - filled when a node is read, kept equal to every node written through
//     SeekAndWrite; blocks written another way are dropped;
//   - emptied when the file is closed or discarded, and when another
//     program changed the index (the tag headers are then read again);
//   - bounded: branch nodes start again empty when full; leaves take the
//     slots of a fixed ring in turn (the oldest leaf gives way), so leaves
//     never push out branches and keeping one costs no allocation.
// Branch nodes change only when a child splits or empties, so nearly every
// descent finds them here; the leaves kept are the recently used ones
// (appends of rising keys, a walk back and forth, repeated searches).
#pragma once

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "indexes/index_engine.h"

namespace qd {

class NodeCache {
 public:
  static constexpr std::size_t kMaxNodes = 8192;  // 8 MB of branch nodes
  static constexpr std::size_t kMaxLeaves = 512;  // 512 KB of leaves

  // The copy of `page`, nil when it is not kept; valid until the next Note.
  const std::uint8_t* Find(std::int32_t page) const {
    if (const auto it = nodes_.find(page); it != nodes_.end()) return it->second.data();
    if (const auto it = leaf_slots_.find(page); it != leaf_slots_.end()) return leaves_[it->second].image.data();
    return nullptr;
  }
  // Notes a node read or written; a node whose count does not fit is not
  // kept.
  void Note(std::int32_t page, const std::uint8_t* bytes, int item_length) {
    const NodeView node(const_cast<std::uint8_t*>(bytes), item_length);
    const bool fits = node.Count() >= 0 && node.Count() <= node.Room();
    if (!fits || !node.IsLeaf()) DropLeaf(page);
    if (!fits) {
      nodes_.erase(page);
      return;
    }
    if (!node.IsLeaf()) {
      if (nodes_.size() >= kMaxNodes && nodes_.find(page) == nodes_.end()) nodes_.clear();
      std::copy(bytes, bytes + mdx::kBlockSize, nodes_[page].begin());
      return;
    }
    nodes_.erase(page);
    std::size_t slot;
    if (const auto it = leaf_slots_.find(page); it != leaf_slots_.end()) {
      slot = it->second;
    } else {
      if (leaves_.size() < kMaxLeaves) {
        slot = leaves_.size();
        leaves_.emplace_back();
      } else {
        slot = next_leaf_;
        next_leaf_ = (next_leaf_ + 1) % kMaxLeaves;
        leaf_slots_.erase(leaves_[slot].page);
      }
      leaf_slots_[page] = slot;
      leaves_[slot].page = page;
    }
    std::copy(bytes, bytes + mdx::kBlockSize, leaves_[slot].image.begin());
  }
  // Drops the pages a write of `count` bytes at `page` covers.
  void Drop(std::uint32_t page, std::size_t count) {
    if (nodes_.empty() && leaf_slots_.empty()) return;
    const std::uint64_t last = page + (count + mdx::kPageSize - 1) / mdx::kPageSize;
    // A block starts one page before the first page it could overlap.
    for (std::uint64_t p = page == 0 ? 0 : page - 1; p < last; ++p) {
      nodes_.erase(static_cast<std::int32_t>(p));
      DropLeaf(static_cast<std::int32_t>(p));
    }
  }
  void Clear() {
    nodes_.clear();
    leaf_slots_.clear();
    leaves_.clear();
    next_leaf_ = 0;
  }

 private:
  struct Leaf {
    std::int32_t page = 0;
    NodeImage image{};
  };
  // A dropped leaf leaves its slot in the ring under a page no node has.
  void DropLeaf(std::int32_t page) {
    const auto it = leaf_slots_.find(page);
    if (it == leaf_slots_.end()) return;
    leaves_[it->second].page = -1;
    leaf_slots_.erase(it);
  }

  std::unordered_map<std::int32_t, NodeImage> nodes_;
  std::vector<Leaf> leaves_;  // the ring, grown up to kMaxLeaves
  std::unordered_map<std::int32_t, std::size_t> leaf_slots_;
  std::size_t next_leaf_ = 0;  // the slot the next new leaf takes once full
};

}  // namespace qd
