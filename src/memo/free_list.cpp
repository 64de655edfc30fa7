// The dBASE IV free list: runs of blocks no value uses, chained from the
// header in increasing block order, each with its true length. Values look
// for a run long enough before they go to the end of the file; blocks a value
// no longer needs are given back and merged with their free neighbours.
//
// The list's last link (the header's head when no run is free) names the
// block count of the file. While a writer holds the memo lock every link at
// or beyond the block count it found is the list's end, so a value it places
// at the end of the file is never read as free; the header update then moves
// the last link past that value. A link that cannot name a free run (out of
// order, overlapping, outside the file, a value's block header) ends the
// list: the runs behind it are lost space, never reused over a live value.
#include <algorithm>
#include <limits>

#include "foundation/errors.h"
#include "memo/memo_internal.h"
#include "memo/memo_layouts.h"

namespace qd {

using namespace memo_layout;
using namespace memo;

namespace {

// Runs visited at most in one walk; a longer list is cut there.
constexpr std::size_t kMaxChainSteps = 100;

// The end of the list for the current writer (see above).
bool ListEnd(MemoState& state, std::uint32_t& end_block, const std::string& operation) {
  if (state.locked_end_block != 0) {
    end_block = state.locked_end_block;
    return true;
  }
  std::uint64_t size = 0;
  if (!SizeOf(state, size, operation)) return false;
  end_block = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(BlocksOf(state, size), std::numeric_limits<std::uint32_t>::max()));
  return true;
}

// Offset of the link that names run `index` of the chain (the header's head
// for the first run).
std::uint64_t LinkOffset(const MemoState& state, const FreeChain& chain, std::size_t index) {
  return index == 0 ? kNextFreeOffset : BlockOffset(state, chain.runs[index - 1].block) + kRunNextOffset;
}

bool WriteLink(MemoState& state, std::uint64_t offset, std::uint32_t block, const std::string& operation) {
  std::uint8_t bytes[4];
  Put32LE(bytes, block);
  return memo::WriteAt(state, offset, bytes, sizeof bytes, operation);
}

bool WriteRun(MemoState& state, std::uint32_t block, std::uint32_t next, std::uint32_t length,
              const std::string& operation) {
  std::uint8_t bytes[kRunRecordSize];
  Put32LE(bytes + kRunNextOffset, next);
  Put32LE(bytes + kRunLengthOffset, length);
  return memo::WriteAt(state, BlockOffset(state, block), bytes, sizeof bytes, operation);
}

// A run must hold its own 8-byte record.
bool RunFits(const MemoState& state, std::uint64_t blocks) {
  return blocks * state.block_size >= kRunRecordSize;
}

}  // namespace

namespace memo {

bool ReadFreeChain(MemoState& state, std::uint32_t end_block, FreeChain& chain,
                   const std::string& operation) {
  chain.runs.clear();
  std::uint8_t bytes[kRunRecordSize];
  std::size_t done = 0;
  if (!ReadAt(state, kNextFreeOffset, bytes, kNextFreeSize, done, operation)) return false;
  chain.head = done == kNextFreeSize ? Get32LE(bytes) : end_block;
  std::uint32_t link = chain.head;
  std::uint64_t previous_end = FirstDataBlock(state);
  for (std::size_t step = 0; step < kMaxChainSteps; ++step) {
    if (link >= end_block || link < previous_end) return true;
    if (!ReadAt(state, BlockOffset(state, link), bytes, kRunRecordSize, done, operation)) return false;
    if (done < kRunRecordSize) return true;
    if (Get16LE(bytes + kDbtSignatureOffset) == kDbtSignature &&
        Get16LE(bytes + kDbtHeaderLengthOffset) == kDbtHeaderLength)
      return true;
    FreeRun run;
    run.block = link;
    run.next = Get32LE(bytes + kRunNextOffset);
    run.length = Get32LE(bytes + kRunLengthOffset);
    if (run.length == 0 || run.length > end_block - link || !RunFits(state, run.length)) return true;
    chain.runs.push_back(run);
    previous_end = static_cast<std::uint64_t>(link) + run.length;
    link = run.next;
  }
  return true;
}

bool OldValueBlocks(MemoState& state, std::uint32_t block, std::uint32_t& count,
                    const std::string& operation) {
  count = 0;
  std::uint32_t end_block = 0;
  if (!ListEnd(state, end_block, operation)) return false;
  if (block < FirstDataBlock(state) || block >= end_block) return true;
  std::uint8_t bytes[kBlockHeaderSize];
  std::size_t done = 0;
  if (!ReadAt(state, BlockOffset(state, block), bytes, kBlockHeaderSize, done, operation)) return false;
  if (done < kBlockHeaderSize || Get16LE(bytes + kDbtSignatureOffset) != kDbtSignature ||
      Get16LE(bytes + kDbtHeaderLengthOffset) != kDbtHeaderLength)
    return true;
  const std::uint32_t stored = Get32LE(bytes + kDbtLengthOffset);
  if (stored < kBlockHeaderSize) return true;
  const std::uint32_t blocks = HeadedBlocks(state, stored - kBlockHeaderSize);
  if (blocks > end_block - block) return true;
  count = blocks;
  return true;
}

bool UpdateFreeListEnd(MemoState& state, std::uint32_t block_count, const std::string& operation) {
  const std::uint32_t end_block = state.locked_end_block != 0 ? state.locked_end_block : block_count;
  FreeChain chain;
  if (state.list_known_empty && state.blocks_given_up == 0) {
    chain.head = end_block;  // the header's head is rewritten below
  } else if (!ReadFreeChain(state, end_block, chain, operation)) {
    return false;
  }
  if (chain.runs.empty()) {
    if (chain.head != block_count && !WriteLink(state, kNextFreeOffset, block_count, operation))
      return false;
  } else if (chain.runs.back().next != block_count) {
    if (!WriteLink(state, LinkOffset(state, chain, chain.runs.size()), block_count, operation))
      return false;
  }
  if (state.blocks_given_up > 0) {
    // The count lives in the header, when the header's blocks reach it.
    if (BlockOffset(state, FirstDataBlock(state)) >= kDbase4GivenUpOffset + kDbase4GivenUpSize) {
      std::uint8_t bytes[kDbase4GivenUpSize];
      std::size_t done = 0;
      if (!ReadAt(state, kDbase4GivenUpOffset, bytes, sizeof bytes, done, operation)) return false;
      const std::uint32_t before = done == sizeof bytes ? Get32LE(bytes) : 0;
      Put32LE(bytes, before + state.blocks_given_up);
      if (!memo::WriteAt(state, kDbase4GivenUpOffset, bytes, sizeof bytes, operation)) return false;
    }
    state.blocks_given_up = 0;
  }
  return true;
}

}  // namespace memo

BlockPlacement FindBlocks(MemoState& state, std::int32_t old_block, std::uint32_t needed,
                          const std::string& operation) {
  BlockPlacement placement;
  std::uint32_t end_block = 0;
  if (!ListEnd(state, end_block, operation)) return placement;
  const std::uint32_t old = static_cast<std::uint32_t>(
      old_block < 0 ? -static_cast<std::int64_t>(old_block) : old_block);
  std::uint32_t old_count = 0;
  if (old != 0 && !OldValueBlocks(state, old, old_count, operation)) return placement;
  if (old_count > 0 && needed > 0 && old_count >= needed) {
    placement.block = old;
    if (old_count > needed) {
      placement.release_block = old + needed;
      placement.release_count = old_count - needed;
    }
    return placement;
  }
  if (old_count > 0) {
    placement.release_block = old;
    placement.release_count = old_count;
  }
  if (needed > 0) {
    FreeChain chain;
    if (!ReadFreeChain(state, end_block, chain, operation)) return BlockPlacement{};
    state.list_known_empty = chain.runs.empty() && old_count == 0;
    for (std::size_t i = 0; i < chain.runs.size(); ++i) {
      const FreeRun& run = chain.runs[i];
      if (run.length < needed) continue;
      const std::uint32_t after = i + 1 < chain.runs.size() ? run.next : end_block;
      const std::uint32_t rest = run.length - needed;
      std::uint32_t link = after;
      // The rest of the run stays free under its own record (a rest too
      // small to hold one is left unused).
      if (rest > 0 && RunFits(state, rest)) {
        link = run.block + needed;
        if (!WriteRun(state, link, after, rest, operation)) return BlockPlacement{};
      }
      if (!WriteLink(state, LinkOffset(state, chain, i), link, operation)) return BlockPlacement{};
      state.list_known_empty = false;
      placement.block = run.block;
      return placement;
    }
  }
  placement.block = end_block;
  return placement;
}

bool GiveUpBlocks(MemoState& state, std::uint32_t block, std::uint32_t count,
                  const std::string& operation) {
  if (count == 0) return true;
  std::uint32_t end_block = 0;
  if (!ListEnd(state, end_block, operation)) return false;
  if (block < FirstDataBlock(state) || static_cast<std::uint64_t>(block) + count > end_block ||
      !RunFits(state, count))
    return true;
  FreeChain chain;
  if (!ReadFreeChain(state, end_block, chain, operation)) return false;
  const std::vector<FreeRun>& runs = chain.runs;
  const std::size_t i = static_cast<std::size_t>(
      std::lower_bound(runs.begin(), runs.end(), block,
                       [](const FreeRun& run, std::uint32_t b) { return run.block < b; }) -
      runs.begin());
  const FreeRun* before = i > 0 ? &runs[i - 1] : nullptr;
  const FreeRun* after = i < runs.size() ? &runs[i] : nullptr;
  // Blocks that are free already: the caller's block number is damaged.
  if (before != nullptr && static_cast<std::uint64_t>(before->block) + before->length > block) return true;
  if (after != nullptr && static_cast<std::uint64_t>(block) + count > after->block) return true;
  auto next_of = [&](std::size_t j) { return j + 1 < runs.size() ? runs[j].next : end_block; };
  const bool join_before = before != nullptr && before->block + before->length == block;
  const bool join_after = after != nullptr && block + count == after->block;
  if (join_before) {
    const std::uint32_t length = before->length + count + (join_after ? after->length : 0);
    if (!WriteRun(state, before->block, join_after ? next_of(i) : next_of(i - 1), length, operation))
      return false;
  } else {
    const std::uint32_t length = count + (join_after ? after->length : 0);
    const std::uint32_t next = join_after ? next_of(i) : (after != nullptr ? after->block : end_block);
    if (!WriteRun(state, block, next, length, operation)) return false;
    if (!WriteLink(state, LinkOffset(state, chain, i), block, operation)) return false;
  }
  state.blocks_given_up += count;
  state.list_known_empty = false;
  return true;
}

}  // namespace qd
