// The multiple-tag index file (MDX): units and the file header.
//
// The file is addressed in pages of 512 bytes (page number x 512 = file
// offset). The file header takes pages 0 to 3; every later block (a tag
// header or a node) is 1024 bytes, two pages, named by its first page, and
// is appended at page (file size div 512): space is never reused, and no
// free list is kept. All integers are little-endian. A file shorter than the
// header plus one block is not an index file.
//
// File header (2048 bytes, read and written whole):
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0      1   version: 2
//      1      3   creation date: year - 1900, month, day
//      4     16   table file name without directory and extension,
//                 NUL-terminated (longer names are cut to 15 characters)
//     20      2   block size in pages: 2
//     22      2   block size in bytes: 1024
//     24      1   production index flag: 1
//     25      1   entries in the tag table: 48
//     26      1   length of a tag table entry: 32
//     27      1   0
//     28      1   tags in use, 0 to 47
//     29      3   0
//     32      4   page field: after a tag is built the page of its tag
//                 header; after a node split or a new root the last page of
//                 the new node (its first page + 1). Never read back.
//     36      8   0 (no free list)
//     44      3   date of last update, as offset 1 (written at creation)
//     47    465   0
//    512   1536   tag table: 48 entries of 32 bytes (tag_table_layout.h);
//                 entry 0 heads the tag-name tree, entries 1..47 are tags
#pragma once

#include <cstddef>
#include <cstdint>

namespace qd::mdx {

inline constexpr std::uint64_t kPageSize = 512;
inline constexpr std::size_t kBlockSize = 1024;
inline constexpr std::uint32_t kPagesPerBlock = 2;
inline constexpr std::size_t kFileHeaderSize = 2048;
// The first page after the file header: the lowest page a block can have.
inline constexpr std::uint32_t kFirstBlockPage = 4;
inline constexpr std::uint64_t kSmallestIndexFile = kFileHeaderSize + kBlockSize;  // 3072

inline constexpr int kMaxTags = 47;

namespace header {
inline constexpr std::size_t kVersion = 0;
inline constexpr std::size_t kCreated = 1;          // 3 bytes
inline constexpr std::size_t kTableName = 4;        // 16 bytes
inline constexpr std::size_t kTableNameSize = 16;
inline constexpr std::size_t kBlockPages = 20;      // 16-bit
inline constexpr std::size_t kBlockBytes = 22;      // 16-bit
inline constexpr std::size_t kProduction = 24;
inline constexpr std::size_t kTagTableEntries = 25;
inline constexpr std::size_t kTagEntryLength = 26;
inline constexpr std::size_t kTagsInUse = 28;
inline constexpr std::size_t kPageField = 32;       // 32-bit
inline constexpr std::size_t kUpdated = 44;         // 3 bytes
inline constexpr std::size_t kTagTable = 512;

inline constexpr std::uint8_t kVersionValue = 2;
inline constexpr std::uint8_t kTagTableEntriesValue = 48;
inline constexpr std::uint8_t kTagEntryLengthValue = 32;
}  // namespace header

}  // namespace qd::mdx
