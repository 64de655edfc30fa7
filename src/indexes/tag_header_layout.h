// The MDX tag header, also called the anchor node: one 1024-byte block per
// tag. The whole block, zero-filled, is written once when the tag is
// created; afterwards the engine reads and writes only its first 983 bytes
// (the image kept in the tag's control record).
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0      4   page of the tag's root node
//      4      4   0
//      8      1   key format flags: 0x10 set at creation, 0x08 descending,
//                 0x40 unique (only 0x08 is read back)
//      9      1   key type letter: C, D, N or F (replaced on open by the
//                 result type of the compiled key expression)
//     10      2   0
//     12      2   key length: 1 to 100 for C, 8 for D, 12 for N and F
//     14      2   most keys in a node: 1012 div item length
//     16      2   secondary key type: 1 for D keys, 0 otherwise
//     18      2   item length: 4 + key length, rounded up to a multiple of 4
//     20      3   0
//     23      1   unique: 1 for a unique tag
//     24    221   key expression text, NUL-terminated (at most 220)
//    245      1   FOR flag: 1 when the tag has a FOR condition
//    246      1   1 when the tag has a FOR condition and a key has entered it
//                 (a FOR tag with 0 here is empty)
//    247    515   0
//    762    221   FOR condition text, NUL-terminated; zero when none
//    983     41   0; never read
#pragma once

#include <cstddef>
#include <cstdint>

namespace qd::mdx::tag_header {

inline constexpr std::size_t kImageSize = 983;  // the part read and written
inline constexpr std::size_t kRootPage = 0;     // 32-bit
inline constexpr std::size_t kKeyFormat = 8;
inline constexpr std::size_t kKeyType = 9;
inline constexpr std::size_t kKeyLength = 12;   // 16-bit
inline constexpr std::size_t kMaxKeys = 14;     // 16-bit
inline constexpr std::size_t kSecondaryType = 16;  // 16-bit
inline constexpr std::size_t kItemLength = 18;  // 16-bit
inline constexpr std::size_t kUnique = 23;
inline constexpr std::size_t kKeyExpression = 24;
inline constexpr std::size_t kForFlag = 245;
inline constexpr std::size_t kKeyEntered = 246;
inline constexpr std::size_t kForExpression = 762;
inline constexpr std::size_t kExpressionSize = 221;  // 220 characters and NUL

inline constexpr std::uint8_t kFormatAlways = 0x10;
inline constexpr std::uint8_t kFormatDescending = 0x08;
inline constexpr std::uint8_t kFormatUnique = 0x40;

}  // namespace qd::mdx::tag_header
