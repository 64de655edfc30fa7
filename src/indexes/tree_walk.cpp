// The bounded tree walk and the tree check (see tree_walk.h).
#include "indexes/tree_walk.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "indexes/index_file.h"

namespace qd {

namespace {

class Walker {
 public:
  Walker(CurrIndex& tag, bool strict, const EntryVisit& entry, const NodeVisit& node)
      : tag_(tag), strict_(strict), entry_(entry), node_(node), images_(kMaxTreeDepth) {}

  std::uint16_t Run(TreeSummary& summary, std::string& problem) {
    const std::uint16_t code = Visit(static_cast<std::int32_t>(tag_.RootPage()), 1, nullptr, nullptr);
    summary = summary_;
    problem = problem_;
    return code;
  }

 private:
  std::uint16_t Fail(std::uint16_t code, std::int32_t page, const std::string& what) {
    problem_ = "page " + std::to_string(page) + ": " + what;
    return code;
  }

  // Keys of the subtree at `page` must lie within [low, high] (either may
  // be absent) in the tag's order.
  std::uint16_t Visit(std::int32_t page, int depth, const std::uint8_t* low, const std::uint8_t* high) {
    if (depth > kMaxTreeDepth) return Fail(222, page, "tree deeper than " + std::to_string(kMaxTreeDepth) + " levels");
    if (!visited_.insert(page).second) return Fail(222, page, "reached twice");
    std::uint8_t* bytes = images_[static_cast<std::size_t>(depth - 1)].data();
    if (const std::uint16_t code = ReadNodeAt(*tag_.file, page, bytes); code != 0) {
      return Fail(code, page, code == 222 ? "not a block of the file" : "read error");
    }
    const NodeView node = tag_.View(bytes);
    if (!node.CountFits(tag_.max_keys)) {
      return Fail(222, page, std::to_string(node.Count()) + " keys, more than the " + std::to_string(tag_.max_keys) +
                                 " a node holds");
    }
    ++summary_.nodes;
    summary_.depth = std::max(summary_.depth, depth);
    if (node_) node_(page, depth, node);
    const int n = node.Count();
    if (node.IsLeaf()) {
      ++summary_.leaves;
      if (strict_) {
        if (n == 0 && depth > 1) return Fail(222, page, "empty leaf below the root");
      }
      for (int i = 0; i < n; ++i) {
        const std::uint8_t* key = node.Key(i);
        if (strict_) {
          if (previous_ != nullptr && tag_.Compare(previous_key_.data(), key) > 0) {
            return Fail(222, page, "key " + std::to_string(i) + " sorts before the key ahead of it");
          }
          if ((low != nullptr && tag_.Compare(key, low) < 0) || (high != nullptr && tag_.Compare(key, high) > 0)) {
            return Fail(222, page, "key " + std::to_string(i) + " outside its parent's bounds");
          }
          std::copy_n(key, tag_.key_length, previous_key_.begin());
          previous_ = previous_key_.data();
        }
        ++summary_.entries;
        if (entry_) entry_(node.Pointer(i), key);
      }
      return 0;
    }
    if (strict_ && n == 0 && depth > 1) return Fail(222, page, "branch node without keys");
    for (int i = 0; i <= n; ++i) {
      const std::uint32_t child = node.Pointer(i);
      if (child == 0) return Fail(222, page, "child " + std::to_string(i) + " is page 0");
      if (child > static_cast<std::uint32_t>(INT32_MAX)) return Fail(222, page, "child page out of range");
      // The node image is reused by deeper levels only, so its keys stay.
      const std::uint8_t* child_low = i == 0 ? low : node.Key(i - 1);
      const std::uint8_t* child_high = i == n ? high : node.Key(i);
      if (const std::uint16_t code = Visit(static_cast<std::int32_t>(child), depth + 1, child_low, child_high);
          code != 0) {
        return code;
      }
    }
    return 0;
  }

  CurrIndex& tag_;
  bool strict_;
  const EntryVisit& entry_;
  const NodeVisit& node_;
  std::vector<NodeImage> images_;  // one per depth
  std::unordered_set<std::int32_t> visited_;
  std::array<std::uint8_t, kKeyBufferSize> previous_key_{};
  const std::uint8_t* previous_ = nullptr;
  TreeSummary summary_;
  std::string problem_;
};

std::uint16_t Walk(CurrIndex& tag, bool strict, const EntryVisit& entry, const NodeVisit& node,
                   TreeSummary* summary, std::string* problem) {
  TreeSummary unused_summary;
  std::string unused_problem;
  Walker walker(tag, strict, entry, node);
  return walker.Run(summary != nullptr ? *summary : unused_summary, problem != nullptr ? *problem : unused_problem);
}

}  // namespace

std::uint16_t WalkTree(CurrIndex& tag, const EntryVisit& entry, const NodeVisit& node, TreeSummary* summary,
                       std::string* problem) {
  return Walk(tag, false, entry, node, summary, problem);
}

std::uint16_t CheckTree(CurrIndex& tag, TreeSummary* summary, std::string* problem) {
  return Walk(tag, true, {}, {}, summary, problem);
}

}  // namespace qd
