// A bounded walk over a tag's B-tree straight from the file, for checks and
// tests: every node is read with ReadNodeAt and checked before it is
// followed, so a damaged or hostile file ends the walk with code 222 and a
// description, never with a crash or an endless loop:
//   - pages inside the file header or past the end of the file,
//   - key counts below 0 or above the tag's node capacity,
//   - branch entries whose child page is 0,
//   - a page reached twice (cycles, shared children),
//   - trees deeper than kMaxTreeDepth.
// CheckTree adds the ordering rules of a sound tree: keys ascending in the
// tag's order through all leaves, each branch key not below any key of its
// child and not above any key of the next child. Leaves may lie at
// different depths: a build hangs its last leaf (or last nodes) directly
// from the highest level that has entries, and deleting keys bypasses
// branch nodes left without keys.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "indexes/index_engine.h"

namespace qd {

struct TreeSummary {
  int depth = 0;           // levels, the root's included
  std::size_t nodes = 0;
  std::size_t leaves = 0;
  std::size_t entries = 0;  // leaf entries
};

// Called for each node before its children, with its depth (the root's is
// 1); and for each leaf entry in key order.
using NodeVisit = std::function<void(std::int32_t page, int depth, const NodeView& node)>;
using EntryVisit = std::function<void(std::uint32_t record, const std::uint8_t* key)>;

// 0, or 222 (or the system's read error) with `problem` describing where.
std::uint16_t WalkTree(CurrIndex& tag, const EntryVisit& entry, const NodeVisit& node = {},
                       TreeSummary* summary = nullptr, std::string* problem = nullptr);
std::uint16_t CheckTree(CurrIndex& tag, TreeSummary* summary = nullptr, std::string* problem = nullptr);

}  // namespace qd
