// The on-disk layouts of the three memo file variants, each described once.
//
// A memo file is a sequence of blocks; block n starts at byte n x block size.
// Block 0 holds the file header. A value starts at the beginning of a block
// and takes as many consecutive blocks as it needs; a table's memo field
// holds the number of that first block (0: no value). dBASE III values
// written with a block header are named by the negated block number.
//
// dBASE III (table version 0x83, file .DBT, blocks of 512 bytes)
//   header
//     offset  size  content
//          0     4  next free block (the block count of the file), LE
//          4   508  zero
//   the empty file is 513 bytes: the header and one 0x1A at offset 512
//   text value
//          0     n  the text, ended by 0x1A 0x1A (a reader stops at the first
//                   0x1A, or at the end of the file); the rest of the last
//                   block is zero
//   headed value: as a dBASE IV value (below), named by the negated block
//
// dBASE IV (table versions 0x8B and 0x8C, file .DBT)
//   header (24 bytes written at creation; block 0 is reserved for it)
//     offset  size  content
//          0     4  head of the free list: the first free run's block, or
//                   the block count of the file when no run is free, LE
//          4     4  zero
//          8     8  first 8 characters of the file's bare name
//         16     2  zero
//         18     2  the value 258 (bytes 02 01): the block size below is set
//         20     2  block size, LE (0: the default block size)
//         22     2  zero
//         32     4  running count of blocks given up, LE (present when the
//                   file reaches offset 36)
//   value block header
//          0     2  0xFFFF
//          2     2  8 (the header's own length)
//          4     4  value length + 8, LE
//          8     n  the value's bytes
//   free run (the first 8 bytes of its first block)
//          0     4  block of the next free run, LE; the last run names the
//                   block count of the file
//          4     4  length of this run in blocks, LE
//   Runs are chained from the header's offset 0 in increasing block order.
//
// FoxPro (table version 0xF5, file .FPT)
//   header (512 bytes)
//     offset  size  content
//          0     4  next free block (the block count of the file), BE
//          4     2  zero
//          6     2  block size, BE (0: the default block size)
//          8   504  zero
//   value block header
//          0     4  type, BE (1: text; values written here are type 1)
//          4     4  value length, BE
//          8     n  the value's bytes
#pragma once

#include <cstdint>

#include "table/dbf_layout.h"

namespace qd::memo_layout {

// Memo types: the table version bytes that carry a memo file.
inline constexpr std::uint8_t kDbase3 = dbf::kDbase3Memo;
inline constexpr std::uint8_t kDbase4 = dbf::kDbase4Memo;
inline constexpr std::uint8_t kLevel7 = dbf::kLevel7Memo;
inline constexpr std::uint8_t kFoxPro = dbf::kFoxProMemo;

// Every variant: the next free block (the free list's head for dBASE IV).
inline constexpr std::uint32_t kNextFreeOffset = 0;
inline constexpr std::uint32_t kNextFreeSize = 4;

// dBASE III
inline constexpr std::uint32_t kDbase3BlockSize = 512;
inline constexpr std::uint32_t kDbase3HeaderSize = 512;
inline constexpr std::uint32_t kDbase3EmptyFileSize = 513;
inline constexpr std::uint8_t kTextEnd = 0x1A;
// Bytes ending a text value.
inline constexpr std::uint32_t kTextEndSize = 2;

// dBASE IV
inline constexpr std::uint32_t kDbase4HeaderSize = 24;
inline constexpr std::uint32_t kDbase4NameOffset = 8;
inline constexpr std::uint32_t kDbase4NameSize = 8;
inline constexpr std::uint32_t kDbase4MarkOffset = 18;
inline constexpr std::uint16_t kDbase4Mark = 258;
inline constexpr std::uint32_t kDbase4BlockSizeOffset = 20;
inline constexpr std::uint32_t kDbase4GivenUpOffset = 32;
inline constexpr std::uint32_t kDbase4GivenUpSize = 4;

// dBASE IV value block header
inline constexpr std::uint32_t kBlockHeaderSize = 8;
inline constexpr std::uint32_t kDbtSignatureOffset = 0;
inline constexpr std::uint16_t kDbtSignature = 0xFFFF;
inline constexpr std::uint32_t kDbtHeaderLengthOffset = 2;
inline constexpr std::uint16_t kDbtHeaderLength = 8;
inline constexpr std::uint32_t kDbtLengthOffset = 4;

// dBASE IV free run record
inline constexpr std::uint32_t kRunNextOffset = 0;
inline constexpr std::uint32_t kRunLengthOffset = 4;
inline constexpr std::uint32_t kRunRecordSize = 8;

// FoxPro
inline constexpr std::uint32_t kFoxHeaderSize = 512;
inline constexpr std::uint32_t kFoxBlockSizeOffset = 6;
inline constexpr std::uint32_t kFoxTypeOffset = 0;
inline constexpr std::uint32_t kFoxLengthOffset = 4;
inline constexpr std::uint32_t kFoxTextType = 1;

// Byte-range lock that serialises writers: one byte of the header.
inline constexpr std::uint64_t kMemoLockOffset = 10;
inline constexpr std::uint64_t kMemoLockLength = 1;

}  // namespace qd::memo_layout
