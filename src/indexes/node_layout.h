// One node of a tag's B-tree (a 1024-byte block); leaves and branch nodes
// share the layout.
//
//   Offset          Size          Content
//   --------------  ------------  -------------------------------------------
//      0              2           number of keys n (16-bit signed)
//      2              2           0 in the file; in memory the node's modified
//                                 word, cleared after every read and before
//                                 every write
//      4              4           0
//      8              n x item    the n entries in key order: a 4-byte pointer
//                                 then the key (key length bytes) and zero
//                                 padding up to the item length. In a leaf the
//                                 pointer is a record number; in a branch node
//                                 the page of a child, and the key the greatest
//                                 key of that child's subtree.
//      8 + n x item   4           trailing pointer: 0 in a leaf (this is how a
//                                 leaf is recognised); in a branch node the
//                                 page of the rightmost child, which holds the
//                                 keys greater than every key of the node
//
// A node holds at most 1012 div (item length) entries: the block less its
// 8-byte head and the trailing pointer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qd::mdx::node {

inline constexpr std::size_t kKeyCount = 0;   // 16-bit signed
inline constexpr std::size_t kModified = 2;   // 16-bit
inline constexpr std::size_t kEntries = 8;
inline constexpr std::size_t kPointerSize = 4;
inline constexpr std::size_t kEntrySpace = 1012;  // 1024 - 8 - 4

// Offset of entry i (0-based); entry n is the trailing pointer.
inline constexpr std::size_t EntryOffset(int i, int item_length) {
  return kEntries + static_cast<std::size_t>(i) * static_cast<std::size_t>(item_length);
}

}  // namespace qd::mdx::node
