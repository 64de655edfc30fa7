// Memo files: the second file of a table with memo fields (DBT for dBASE III
// and IV, FPT for FoxPro; layouts in memo_layouts.h). The memo unit opens it
// when the table opens and closes it with the table; every operation here
// acts on the current work area's memo file.
//
// Writers on a shared memo file serialise through a lock on header byte 10:
// a writer takes it before it pads the file and places its value, and
// releases it after it has updated the header. Readers take no lock.
//
// Placing values: dBASE III and FoxPro values always go to the end of the
// file. dBASE IV values reuse the old value's blocks when it is large enough,
// else take the first free run that is long enough, else go to the end; the
// blocks a value no longer needs are given up to the free list (a chain of
// runs in increasing block order, coalesced with their free neighbours). The
// old value's blocks are given up only after the new value has been written,
// so a failed write leaves the old value whole (unless it was being
// rewritten in its own blocks).
//
// Failures are reported through SetError with a text that starts with the
// memo file's name: 217 memory, 1003 a block outside the file, 1007 already
// open, 1017 / 1018 the memo lock, 29 write and 30 read faults, the file
// system's code otherwise; 215 without a table, 1019 without a memo file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "table/hooks.h"

namespace qd {

// One memo value open as a byte stream (blob_streams.h); at most one per
// work area.
struct BlobDescriptor {
  bool active = false;
  std::uint8_t mode = 0;           // 0 none, 1 read, 2 write
  std::int64_t length = -1;        // -1 while undetermined (dBASE III text)
  std::uint64_t start = 0;         // file offset of the first value byte
  std::uint32_t header_length = 0; // 8 with a block header, else 0
  std::int64_t position = 0;       // offset inside the value
  std::uint32_t block = 0;         // the value's first block
  int oem = 0;                     // -1 decide on the first transfer, 1 convert, 0 not
  // Write mode: bytes of the value written so far (the end of the furthest
  // write), which becomes the value's length.
  std::int64_t written = 0;
  // Record hooks present: one 512-byte unit of the value in plain form,
  // counted from the value's first byte.
  std::vector<std::uint8_t> unit;
  std::int64_t unit_index = -1;    // which unit the buffer holds, -1 none
  std::uint32_t unit_fill = 0;     // valid bytes in the buffer
  bool unit_dirty = false;
  // The last value failed (reported) and was not stored.
  bool failed = false;
};

// The memo unit's state for one table (the work area's `memo`).
struct MemoState {
  platform::FileHandle file = platform::kNoFile;
  std::string file_name;            // full name with extension
  std::uint8_t memo_type = 0;       // 0x83, 0x8B, 0x8C or 0xF5
  std::uint32_t block_size = 512;   // bytes per block, at least 1
  bool shared = false;              // writers take the memo lock
  bool lock_held = false;
  // While a writer holds the lock: the block count of the file when the lock
  // was taken. Every free-list link at or beyond it ends the list, so a
  // value the writer places at the end never reads as free.
  std::uint32_t locked_end_block = 0;
  // While a writer holds the lock it alone makes the file grow: the file's
  // size as it knows it (0 when not known).
  std::uint64_t locked_size = 0;
  // While a writer holds the lock: the free list had no run when the writer
  // looked, and it has not changed since.
  bool list_known_empty = false;
  // dBASE IV: blocks given up since the last header update.
  std::uint32_t blocks_given_up = 0;
  // The value open as a stream.
  BlobDescriptor blob;
  // dBASE IV values replaced through WriteMemoValue whose blocks wait for
  // the record that names their replacement to be written. Given up before
  // that, they could be handed to another value while the record on disk
  // (after a failed or abandoned record write, or a killed program) still
  // names them; left waiting, they are merely unused until the next pack.
  struct PendingRelease {
    std::int32_t record = 0;
    std::uint32_t old_block = 0;
    std::uint32_t new_block = 0;       // 0: the record's value was emptied
    std::uint64_t lock_releases = 0;   // the work area's count when queued
  };
  std::vector<PendingRelease> pending_releases;

  MemoState() = default;
  MemoState(const MemoState&) = delete;
  MemoState& operator=(const MemoState&) = delete;
  ~MemoState();  // closes the file when it is still open
};

namespace memo {

// The memo unit's block unit: record hooks see a value's bytes (never its
// block header) in units of this many bytes, counted from the value's first
// byte, when it is read and when it is written.
inline constexpr std::size_t kUnitSize = 512;

// Milliseconds a writer waits for another program's memo lock (after 11
// immediate tries) before it reports code 1017.
inline std::uint32_t MemoLockWaitMs = 5000;
// Flush the memo file to disk after every value written as lines.
inline bool FlushAfterWrite = false;

// The memo type of a table version: the version when it carries a memo file
// of its own (0x83, 0x8B, 0xF5, 0x8C), else DefaultTableVersion.
std::uint8_t MemoTypeOf(std::uint8_t version);
bool IsDbase3(const MemoState& state);
bool IsDbase4(const MemoState& state);
bool IsFoxPro(const MemoState& state);

// The current work area's memo state; nil after reporting 215 (no table) or
// 1019 (no memo file, "<table> No Memo Field [<operation>]").
MemoState* RequireMemo(const std::string& operation);

// The first block after the header.
std::uint32_t FirstDataBlock(const MemoState& state);
// Blocks a value of `length` bytes takes with its 8-byte block header.
std::uint32_t HeadedBlocks(const MemoState& state, std::uint64_t length);

}  // namespace memo

// Opens the memo file of the current table; `table_base` is the table's
// full name without extension. Answers 0 or the reported code.
std::uint16_t OpenMemofile(const std::string& table_base);
// Closes the current table's memo file and frees its memo state.
void CloseMemofile();

// The memo lock (always granted on a table open for exclusive use).
bool LockMemo(MemoState& state);
bool UnlockMemo(MemoState& state);

// Takes the memo lock and pads the file with zero bytes up to a whole block;
// answers the new end of the file, where a new value goes (an empty dBASE III
// file of 513 bytes answers 513: its value goes at offset 512, block 1).
// 0 on failure, reported with the operation name; the lock is then free.
std::uint64_t LockMemoPadAndSeekEOF(const std::string& operation);
// Byte offset where a value placed by LockMemoPadAndSeekEOF starts.
std::uint64_t EndValueOffset(const MemoState& state, std::uint64_t answer);

// Writes the header's next free block (dBASE IV: the free list's head).
bool MainHeaderWrite(MemoState& state, std::uint32_t next_free);
// After a value was written: the header's next free block from the file
// size; for dBASE IV the free list's head is kept while runs are free and
// its last link is set to the new end of the file, and the count of blocks
// given up is added to offset 32. Then the memo lock is released.
bool UpdateMemoHeader();

// Writes the 8-byte block header of a value of `length` bytes at `block`.
bool WriteGroupHeader(MemoState& state, std::uint32_t block, std::uint32_t length);
// Reads the block header at `block` and answers the blocks the value covers
// with its header; 0 when it cannot be read (reported) or is not a header.
std::uint32_t ReadGroupHeader(MemoState& state, std::uint32_t block);

// dBASE IV free list (only for 0x8B and 0x8C files; the caller holds the
// memo lock through LockMemoPadAndSeekEOF).
struct BlockPlacement {
  std::uint32_t block = 0;          // where the value goes; 0 on failure
  std::uint32_t release_block = 0;  // blocks to give up once it is written
  std::uint32_t release_count = 0;
};
// Finds `needed` blocks (0: not known yet) for a value replacing the value
// at `old_block` (0 for none): the old value's own blocks when it covers
// enough, else the first free run long enough (taken off the list), else the
// end of the file. The old value's blocks (or the surplus of a reused value)
// are named in the answer for GiveUpBlocks.
BlockPlacement FindBlocks(MemoState& state, std::int32_t old_block, std::uint32_t needed,
                          const std::string& operation);
// Gives a run of blocks back to the free list, coalescing it with free
// neighbours. A run that overlaps a free run or lies outside the file is
// left alone (a damaged record must not free another value's blocks).
bool GiveUpBlocks(MemoState& state, std::uint32_t block, std::uint32_t count,
                  const std::string& operation);

// Reads the value at `block` (its absolute value; 0 gives an empty value) as
// stored, passing it through the table's after-read hook. False when it
// failed (reported with the operation name).
bool ReadMemoValue(std::int32_t block, std::string& bytes, const std::string& operation);
// Stores `bytes` as the value replacing the value at `old_block` (0 for
// none) and answers its block in `block`: 0 for an empty value, negated for a
// dBASE III value that needs a block header (it holds 0x00 or 0x1A bytes or
// begins like one). The bytes pass through the table's before-write hook.
// False when it failed (reported); `block` is then 0. The caller stores the
// answered block into the record, under the record lock it held while it
// read the old block from the record.
bool WriteMemoValue(std::int32_t old_block, std::string_view bytes, std::int32_t& block,
                    const std::string& operation);
// After Replace wrote record `record` of the current work area: the dBASE IV
// values WriteMemoValue replaced in it give their blocks up, when the record
// as written names the replacement (or, for an emptied value, the record
// lock held since then is still held) and no longer names the old value.
// Replacements the record does not hold were abandoned: their old values
// stay where they are, never given up.
void ReleaseReplacedValues(std::int32_t record);

}  // namespace qd
