// Helpers shared by the memo unit's sources: byte order, block arithmetic,
// positioned reads and writes with the unit's error reports, and the
// dBASE IV free list as the header update sees it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "memo/memo_file.h"
#include "table/work_areas.h"

namespace qd::memo {

inline std::uint16_t Get16LE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32LE(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint16_t Get16BE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t Get32BE(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline void Put16LE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32LE(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put32BE(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

// Blocks needed for `bytes` bytes from the start of the file (rounded up).
inline std::uint64_t BlocksOf(const MemoState& state, std::uint64_t bytes) {
  return (bytes + state.block_size - 1) / state.block_size;
}
inline std::uint64_t BlockOffset(const MemoState& state, std::uint64_t block) {
  return block * state.block_size;
}

// The work area that owns `state` is always the current one here.
inline WorkArea& OwnerArea() { return *CurrentWorkArea(); }
// " Record # <n>" for error texts.
std::string RecordText();

// File size; false after reporting the system's code with the operation.
bool SizeOf(MemoState& state, std::uint64_t& size, const std::string& operation);
// Reads `count` bytes at `offset`; `done` tells how many arrived. False (and
// reported with code 30 or the system's code) only when the read itself
// failed.
bool ReadAt(MemoState& state, std::uint64_t offset, void* buffer, std::size_t count,
            std::size_t& done, const std::string& operation);
// Writes all `count` bytes; false after reporting (29 for a short write
// without a system code, else the system's code mapped like table writes).
bool WriteAt(MemoState& state, std::uint64_t offset, const void* buffer, std::size_t count,
             const std::string& operation);
// Every failure of these helpers releases the memo lock before it reports
// (a report may raise), so a failed writer never leaves the lock behind.
// Releases the memo lock without reporting (the failure paths report their
// own error, which may raise).
void ReleaseLockQuietly(MemoState& state);

// A free run of the dBASE IV list as read from the file.
struct FreeRun {
  std::uint32_t block = 0;
  std::uint32_t length = 0;  // blocks
  std::uint32_t next = 0;    // as stored
};
// The list's valid runs in order. A walk stops at the first link at or
// beyond `end_block` (the list's end), or at a link that cannot be a free
// run (out of order, overlapping, outside the file, a value's block header,
// too many steps): the runs from there on are not used again.
struct FreeChain {
  std::uint32_t head = 0;  // the header's link as stored
  std::vector<FreeRun> runs;
};
bool ReadFreeChain(MemoState& state, std::uint32_t end_block, FreeChain& chain,
                   const std::string& operation);
// The blocks of the dBASE IV value at `block` when it is one (a block header
// inside the file's data blocks below the writer's end); 0 otherwise. False
// only when the read failed (reported).
bool OldValueBlocks(MemoState& state, std::uint32_t block, std::uint32_t& count,
                    const std::string& operation);
// The dBASE IV part of UpdateMemoHeader: the list's last link (the header's
// head when no run is free) becomes `block_count`, and the count of blocks
// given up is added at offset 32.
bool UpdateFreeListEnd(MemoState& state, std::uint32_t block_count, const std::string& operation);

// Reading a value of any memo file (not only the current work area's).
enum class ValueRead { kOk, kDamaged, kFailed };
// Reads the value at block `number` of `state` as its layout says (a block
// header's length, else text up to the first 0x1A or the end of the file),
// passing it through `after_read` in units counted from its first byte.
// kDamaged (nothing reported; `damage` holds the code: 1003 no value can
// start there, 30 a header that cannot be read or does not fit the file);
// kFailed after a reported read or memory failure.
ValueRead ReadValueBytes(MemoState& state, const RecordHook& after_read, std::uint64_t number,
                         std::string& bytes, bool& headed, std::uint16_t& damage,
                         const std::string& operation);
// The memo field's block as its text states it: blanks around a whole
// number of at most 10 characters. False for a blank field, 0 or no number.
bool FieldBlock(const std::uint8_t* field, std::size_t length, std::int64_t& block);

// A dBASE III text value may not hold its end marker or a zero byte (both
// end the text for other readers and for packing), nor begin like a block
// header; such values are stored with a block header.
bool NeedsBlockHeader(std::string_view bytes);
// The bytes a value occupies in `state`'s file from its first block to the
// end of its last: text with its end marker, or the block header and the
// bytes; passed through `before_write`. Raises std::bad_alloc.
void BuildValueImage(const MemoState& state, const RecordHook& before_write, std::string_view bytes,
                     bool text, std::vector<std::uint8_t>& image);

}  // namespace qd::memo
