// Memo values as byte streams: the blob descriptor of a work area (one value
// open for reading or writing at a time) and the operations the dataset
// components' blob streams map onto. Every operation acts on the current
// work area.
//
// Reading follows the value's own layout: a value with a block header is
// read to its stored length, a dBASE III text value up to its first 0x1A (or
// the end of the file). Writing always places a new value at the end of the
// file (dBASE IV: in a free run when a size hint is given) with an 8-byte
// block header; a dBASE III value written this way is named by its negated
// block. The writer holds the memo lock from CreateBlobDescriptor until
// DestroyBlobDescriptor, which writes the block header, brings the file
// header's next free block up to date and then releases the lock.
//
// A stream write never gives up the blocks of the value it replaces: the
// record that names the old value may still be cancelled, so the old blocks
// stay in place (dead space that a pack removes).
//
// With record hooks the value's bytes pass through them in units of 512
// bytes counted from the value's first byte, as for whole values.
//
// OEM text: with the OEM flag the first piece of the first transfer decides
// whether the value is text (every byte at least 32, or 9, 10, 13, 15, 20,
// 21); a text value is converted from OEM to ANSI when read and from ANSI to
// OEM when written (the caller's bytes are left as they are).
#pragma once

#include <cstdint>

namespace qd {

inline constexpr std::uint8_t kBlobRead = 1;
inline constexpr std::uint8_t kBlobWrite = 2;

// Opens the value at `block` (its absolute value) for reading, or a new
// value for writing (size_hint > 0: its length, checked against the free
// disk space). Answers the value's block, negated for a dBASE III file in
// write mode; 0 on failure (reported: 215, 1019, 217, 1003, 1004, 1017 or the
// file system's code). Block 0 in read mode opens an empty value.
std::int32_t CreateBlobDescriptor(bool oem, std::int32_t block, std::uint8_t mode,
                                  std::uint32_t size_hint = 0);
// Answers the number of bytes moved (0 at the end, or when no value is open
// in that mode).
std::int32_t ReadBlobStream(void* buffer, std::int32_t count);
std::int32_t WriteBlobStream(const void* buffer, std::int32_t count);
// origin 0 beginning, 1 current, 2 end; answers the new position (never
// negative). In write mode the end is the end of the bytes written so far.
std::int64_t SeekBlobStream(std::int64_t offset, int origin);
// Ends the value. In write mode a value with bytes gets its block header,
// is filled to the end of its last block, the header's next free block is
// updated and the memo lock released. False when the value could not be
// stored (a failed write before, or now; reported): the caller must keep
// the old block in its record.
bool DestroyBlobDescriptor();
// The length of the value open for writing so far (0 when none).
std::int64_t BlobBytesWritten();

}  // namespace qd
