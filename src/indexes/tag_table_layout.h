// One entry of the MDX tag table (32 bytes). The table starts at offset 512
// of the file header (file_header_layout.h): entry 0 heads the tag-name
// tree, entry i (1 to 47) describes tag number i. Tags are numbered by their
// position; removing a tag moves the last entry into its slot.
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0      4   page of the tag header
//      4     11   tag name, upper case, NUL-terminated (at most 10 characters)
//     15      1   not used (written as 0 here)
//     16      1   tag-name tree: number of the tag whose name sorts lower
//     17      1   tag-name tree: number of the tag whose name sorts equal or
//                 higher (entry 0: the root of the tree, 1 when a tag exists)
//     18      1   tag-name tree: number of the parent tag (0 for the root)
//     19      1   2
//     20      1   key type letter: C, D, N or F
//     21     11   not used (written as 0 here)
//
// The tree (bytes 16 to 18) is rebuilt from scratch on every add and remove:
// tag 1 is the root, each further tag in table order hangs below the tag
// reached by comparing the 11 name bytes unsigned (lower: byte 16, equal or
// higher: byte 17). The engine itself finds tags by number or by scanning
// the table, never through this tree.
#pragma once

#include <cstddef>
#include <cstdint>

#include "indexes/file_header_layout.h"

namespace qd::mdx::tag_entry {

inline constexpr std::size_t kSize = 32;
inline constexpr std::size_t kHeaderPage = 0;  // 32-bit
inline constexpr std::size_t kName = 4;
inline constexpr std::size_t kNameSize = 11;   // 10 characters and NUL
inline constexpr std::size_t kLowerChild = 16;
inline constexpr std::size_t kHigherChild = 17;
inline constexpr std::size_t kParent = 18;
inline constexpr std::size_t kMark = 19;
inline constexpr std::size_t kKeyType = 20;

inline constexpr std::uint8_t kMarkValue = 2;
inline constexpr std::size_t kMaxNameLength = 10;

// Offset of entry `number` (0 to 47) in the file header.
inline constexpr std::size_t Offset(int number) {
  return header::kTagTable + kSize * static_cast<std::size_t>(number);
}

}  // namespace qd::mdx::tag_entry
