// Memo files: opening and closing with the table, the memo lock, placing a
// value at the end of the file, the header's next free block, block headers,
// and reading and writing whole values of every variant.
#include "memo/memo_file.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "foundation/errors.h"
#include "memo/memo_internal.h"
#include "memo/memo_layouts.h"
#include "table/table_text.h"
#include "table/work_areas.h"

namespace qd {

using namespace memo_layout;
using namespace memo;
namespace pf = qd::platform;

namespace {

constexpr int kImmediateLockTries = 11;
// The first read of a value takes its block header and, for most values, all
// of its bytes.
constexpr std::size_t kFirstRead = 4096;
constexpr std::size_t kTextChunk = 64 * 1024;

std::uint32_t HeaderSize(const MemoState& state) {
  if (IsDbase3(state)) return kDbase3HeaderSize;
  if (IsFoxPro(state)) return kFoxHeaderSize;
  return kDbase4HeaderSize;
}

void RunHook(const RecordHook& hook, std::uint8_t* bytes, std::size_t count) {
  for (std::size_t at = 0; at < count; at += kUnitSize)
    hook(bytes + at, std::min(kUnitSize, count - at));
}

bool HasDbtHeader(const std::uint8_t* head, std::size_t got) {
  return got >= kBlockHeaderSize && Get16LE(head + kDbtSignatureOffset) == kDbtSignature &&
         Get16LE(head + kDbtHeaderLengthOffset) == kDbtHeaderLength;
}

void PutGroupHeader(const MemoState& state, std::uint8_t* out, std::uint32_t length) {
  if (IsFoxPro(state)) {
    Put32BE(out + kFoxTypeOffset, kFoxTextType);
    Put32BE(out + kFoxLengthOffset, length);
  } else {
    Put16LE(out + kDbtSignatureOffset, kDbtSignature);
    Put16LE(out + kDbtHeaderLengthOffset, kDbtHeaderLength);
    Put32LE(out + kDbtLengthOffset, length + kBlockHeaderSize);
  }
}

}  // namespace

// ------------------------------------------------------------- helpers ---

namespace memo {

std::string RecordText() {
  const WorkArea* area = CurrentWorkArea();
  return " Record # " + std::to_string(area ? area->record_number : 0);
}

bool SizeOf(MemoState& state, std::uint64_t& size, const std::string& operation) {
  if (std::uint32_t rc = pf::FileSize(state.file, size); rc != 0) {
    ReleaseLockQuietly(state);
    SetError(static_cast<std::uint16_t>(rc), state.file_name + " [" + operation + "]");
    return false;
  }
  return true;
}

bool ReadAt(MemoState& state, std::uint64_t offset, void* buffer, std::size_t count,
            std::size_t& done, const std::string& operation) {
  done = 0;
  if (std::uint32_t rc = pf::ReadAt(state.file, offset, buffer, count, done); rc != 0) {
    ReleaseLockQuietly(state);
    SetError(static_cast<std::uint16_t>(rc), state.file_name + RecordText() + " [" + operation + "]");
    return false;
  }
  return true;
}

bool WriteAt(MemoState& state, std::uint64_t offset, const void* buffer, std::size_t count,
             const std::string& operation) {
  std::size_t done = 0;
  const std::uint32_t rc = pf::WriteAt(state.file, offset, buffer, count, done);
  if (rc == 0 && done == count) {
    if (state.locked_size != 0) state.locked_size = std::max<std::uint64_t>(state.locked_size, offset + count);
    return true;
  }
  // A write that would have grown the file (a value placed at the end, on a
  // full disk) is cut off again at the size this writer knew, so the file
  // ends where its header says; while the writer holds the lock nobody else
  // grows the file.
  if (state.locked_size != 0 && offset + count > state.locked_size) pf::Truncate(state.file, state.locked_size);
  ReleaseLockQuietly(state);
  const std::uint16_t code = rc == 0 ? 29 : table_text::WriteErrorCode(rc);
  SetError(code, state.file_name + RecordText() + " [" + operation + "]");
  return false;
}

void ReleaseLockQuietly(MemoState& state) {
  state.locked_end_block = 0;
  state.locked_size = 0;
  state.list_known_empty = false;
  if (!state.lock_held) return;
  state.lock_held = false;
  pf::UnlockRange(state.file, kMemoLockOffset, kMemoLockLength);
}

std::uint8_t MemoTypeOf(std::uint8_t version) {
  if (version == kDbase3 || version == kDbase4 || version == kLevel7 || version == kFoxPro)
    return version;
  return DefaultTableVersion;
}

bool IsDbase3(const MemoState& state) { return state.memo_type == kDbase3; }
bool IsDbase4(const MemoState& state) {
  return state.memo_type == kDbase4 || state.memo_type == kLevel7;
}
bool IsFoxPro(const MemoState& state) { return state.memo_type == kFoxPro; }

MemoState* RequireMemo(const std::string& operation) {
  WorkArea* area = RequireTable(operation.c_str());
  if (area == nullptr) return nullptr;
  if (!area->has_memo || !area->memo) {
    SetError(1019, area->file_name + " No Memo Field [" + operation + "]");
    return nullptr;
  }
  return area->memo.get();
}

std::uint32_t FirstDataBlock(const MemoState& state) {
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, BlocksOf(state, HeaderSize(state))));
}

std::uint32_t HeadedBlocks(const MemoState& state, std::uint64_t length) {
  const std::uint64_t blocks = std::max<std::uint64_t>(1, BlocksOf(state, length + kBlockHeaderSize));
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace memo

MemoState::~MemoState() {
  if (file != pf::kNoFile) pf::CloseFile(file);
}

// ------------------------------------------------------ open and close ---

std::uint16_t OpenMemofile(const std::string& table_base) {
  WorkArea* area = RequireTable("USE");
  if (area == nullptr) return ErrorCode;
  const std::uint8_t type = MemoTypeOf(area->version);
  const std::string name = table_base + "." + MemoFileExtension(type);
  if (area->memo) {
    SetError(1007, name + " [USE]");
    return 1007;
  }
  std::shared_ptr<MemoState> state;
  try {
    state = std::make_shared<MemoState>();
  } catch (const std::bad_alloc&) {
    SetError(217, name + " [USE]");
    return 217;
  }
  state->file_name = name;
  state->memo_type = type;
  state->shared = !area->exclusive;
  // A shared table's memo file is shared with every writer; one open for
  // exclusive use may still be read by others.
  std::uint8_t mode = area->exclusive ? static_cast<std::uint8_t>(pf::kAccessReadWrite | pf::kShareDenyWrite)
                                      : kSharedOpenMode;
  if (OpenModeOverride >= 0) mode = static_cast<std::uint8_t>(OpenModeOverride);
  if (std::uint32_t rc = pf::OpenFile(name, mode, state->file); rc != 0) {
    state->file = pf::kNoFile;
    SetError(static_cast<std::uint16_t>(rc), "Memo file not found: " + name + " [USE]");
    return static_cast<std::uint16_t>(rc);
  }
  // Only the block size's own bytes are read: another program may hold the
  // memo lock on header byte 10, which some systems enforce against reads.
  std::uint32_t block_size = kDbase3BlockSize;
  std::uint8_t bytes[2];
  std::size_t done = 0;
  if (IsDbase4(*state)) {
    if (pf::ReadAt(state->file, kDbase4BlockSizeOffset, bytes, 2, done) == 0 && done == 2)
      block_size = Get16LE(bytes);
    else
      block_size = 0;
  } else if (IsFoxPro(*state)) {
    if (pf::ReadAt(state->file, kFoxBlockSizeOffset, bytes, 2, done) == 0 && done == 2)
      block_size = Get16BE(bytes);
    else
      block_size = 0;
  }
  state->block_size = block_size == 0 ? DefaultMemoBlockSize : block_size;
  area->memo = std::move(state);
  return 0;
}

void CloseMemofile() {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr || !area->memo) return;
  std::shared_ptr<MemoState> state = std::move(area->memo);
  area->memo.reset();
  ReleaseLockQuietly(*state);
  const std::uint32_t rc = pf::CloseFile(state->file);
  state->file = pf::kNoFile;
  if (rc != 0) SetError(static_cast<std::uint16_t>(rc), state->file_name + " [CloseMemofile]");
}

// ------------------------------------------------------------ the lock ---

bool LockMemo(MemoState& state) {
  if (!state.shared || state.lock_held) return true;
  auto take = [&] {
    if (pf::LockRange(state.file, kMemoLockOffset, kMemoLockLength) != 0) return false;
    state.lock_held = true;
    return true;
  };
  for (int i = 0; i < kImmediateLockTries; ++i)
    if (take()) return true;
  // Another writer holds it for the few moments its write takes.
  const std::uint32_t start = pf::TickCount();
  std::uint32_t pause = 1;
  while (pf::TickCount() - start < MemoLockWaitMs) {
    pf::SleepMs(pause);
    pause = std::min<std::uint32_t>(pause * 2, 10);
    if (take()) return true;
  }
  return false;
}

bool UnlockMemo(MemoState& state) {
  state.locked_end_block = 0;
  state.locked_size = 0;
  state.list_known_empty = false;
  if (!state.lock_held) return true;
  state.lock_held = false;
  if (pf::UnlockRange(state.file, kMemoLockOffset, kMemoLockLength) != 0) {
    SetError(1018, state.file_name + " [UnlockMemo]");
    return false;
  }
  return true;
}

// ------------------------------------------------- placing at the end ---

std::uint64_t LockMemoPadAndSeekEOF(const std::string& operation) {
  MemoState* state = RequireMemo(operation);
  if (state == nullptr) return 0;
  if (!LockMemo(*state)) {
    SetError(1017, state->file_name + " [" + operation + "]");
    return 0;
  }
  std::uint64_t size = 0;
  if (!SizeOf(*state, size, operation)) return 0;
  if (IsDbase3(*state) && size == kDbase3EmptyFileSize) {
    state->locked_end_block = 1;
    state->locked_size = size;
    return size;
  }
  const std::uint64_t block = state->block_size;
  std::uint64_t end = (size + block - 1) / block * block;
  end = std::max<std::uint64_t>(end, BlockOffset(*state, FirstDataBlock(*state)));
  if (end / block > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    ReleaseLockQuietly(*state);
    SetError(1004, state->file_name + " [" + operation + "]");
    return 0;
  }
  if (end > size) {
    std::vector<std::uint8_t> zeros;
    try {
      zeros.assign(static_cast<std::size_t>(end - size), 0);
    } catch (const std::bad_alloc&) {
      ReleaseLockQuietly(*state);
      SetError(217, state->file_name + " [LockMemoPadAndSeekEOF]");
      return 0;
    }
    // A dBASE III text value that runs to the end of the file (written by
    // another program, or cut short) keeps its end there.
    if (IsDbase3(*state) && size > kDbase3HeaderSize)
      std::fill_n(zeros.begin(), std::min<std::size_t>(kTextEndSize, zeros.size()), kTextEnd);
    if (!memo::WriteAt(*state, size, zeros.data(), zeros.size(), "LockMemoPadAndSeekEOF")) return 0;
  }
  state->locked_end_block = static_cast<std::uint32_t>(end / block);
  state->locked_size = end;
  return end;
}

std::uint64_t EndValueOffset(const MemoState& state, std::uint64_t answer) {
  return IsDbase3(state) && answer == kDbase3EmptyFileSize ? kDbase3HeaderSize : answer;
}

// -------------------------------------------------------------- header ---

bool MainHeaderWrite(MemoState& state, std::uint32_t next_free) {
  std::uint8_t bytes[kNextFreeSize];
  if (IsFoxPro(state))
    Put32BE(bytes, next_free);
  else
    Put32LE(bytes, next_free);
  return memo::WriteAt(state, kNextFreeOffset, bytes, kNextFreeSize, "MainHeaderWrite()");
}

bool UpdateMemoHeader() {
  MemoState* state = RequireMemo("UpdateMemoHeader()");
  if (state == nullptr) return false;
  std::uint64_t size = state->locked_size;
  if (size == 0 && !SizeOf(*state, size, "UpdateMemoHeader()")) return false;
  const std::uint32_t block_count = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(BlocksOf(*state, size), std::numeric_limits<std::uint32_t>::max()));
  if (IsDbase4(*state)) {
    if (!UpdateFreeListEnd(*state, block_count, "UpdateMemoHeader()")) return false;
  } else {
    std::uint8_t bytes[kNextFreeSize];
    if (IsFoxPro(*state))
      Put32BE(bytes, block_count);
    else
      Put32LE(bytes, block_count);
    if (!memo::WriteAt(*state, kNextFreeOffset, bytes, kNextFreeSize, "UpdateMemoHeader()"))
      return false;
  }
  return UnlockMemo(*state);
}

bool WriteGroupHeader(MemoState& state, std::uint32_t block, std::uint32_t length) {
  std::uint8_t bytes[kBlockHeaderSize];
  PutGroupHeader(state, bytes, length);
  return memo::WriteAt(state, BlockOffset(state, block), bytes, kBlockHeaderSize, "WriteGroupHeader()");
}

std::uint32_t ReadGroupHeader(MemoState& state, std::uint32_t block) {
  std::uint8_t bytes[kBlockHeaderSize];
  std::size_t done = 0;
  if (!memo::ReadAt(state, BlockOffset(state, block), bytes, kBlockHeaderSize, done,
                    "ReadGroupHeader()"))
    return 0;
  if (done < kBlockHeaderSize) {
    SetError(30, state.file_name + " [ReadGroupHeader()]");
    return 0;
  }
  if (IsFoxPro(state)) return HeadedBlocks(state, Get32BE(bytes + kFoxLengthOffset));
  if (!HasDbtHeader(bytes, done)) return 0;
  const std::uint32_t stored = Get32LE(bytes + kDbtLengthOffset);
  return HeadedBlocks(state, stored < kBlockHeaderSize ? 0 : stored - kBlockHeaderSize);
}

// -------------------------------------------------------------- values ---

namespace memo {

ValueRead ReadValueBytes(MemoState& state, const RecordHook& after_read, std::uint64_t number,
                         std::string& bytes, bool& headed, std::uint16_t& damage,
                         const std::string& operation) {
  bytes.clear();
  headed = false;
  damage = 0;
  const std::uint64_t offset = BlockOffset(state, number);
  auto damaged = [&](std::uint16_t code) {
    damage = code;
    return ValueRead::kDamaged;
  };
  if (number < FirstDataBlock(state)) return damaged(1003);
  try {
    // Most values come whole with their block header in the first read; a
    // short read tells where the file ends.
    std::vector<std::uint8_t> chunk(kFirstRead);
    std::size_t got = 0;
    if (!memo::ReadAt(state, offset, chunk.data(), chunk.size(), got, operation)) return ValueRead::kFailed;
    if (got <= 1) return damaged(1003);  // at or beyond the file's last byte
    std::uint64_t length = 0;
    if (IsFoxPro(state)) {
      if (got < kBlockHeaderSize) return damaged(30);
      headed = true;
      length = Get32BE(chunk.data() + kFoxLengthOffset);
    } else if (HasDbtHeader(chunk.data(), got)) {
      headed = true;
      const std::uint32_t stored = Get32LE(chunk.data() + kDbtLengthOffset);
      if (stored < kBlockHeaderSize) return damaged(30);
      length = stored - kBlockHeaderSize;
    }

    if (headed) {
      const std::size_t in_first = static_cast<std::size_t>(
          std::min<std::uint64_t>(length, got - kBlockHeaderSize));
      if (in_first < length) {
        // Longer than the first read: the file must hold all of it.
        std::uint64_t size = 0;
        if (got < chunk.size()) return damaged(30);
        if (!SizeOf(state, size, operation)) return ValueRead::kFailed;
        if (length > size - std::min(size, offset + kBlockHeaderSize)) return damaged(30);
      }
      bytes.resize(static_cast<std::size_t>(length));
      std::memcpy(bytes.data(), chunk.data() + kBlockHeaderSize, in_first);
      if (in_first < length) {
        std::size_t done = 0;
        if (!memo::ReadAt(state, offset + kBlockHeaderSize + in_first, bytes.data() + in_first,
                          bytes.size() - in_first, done, operation))
          return ValueRead::kFailed;
        if (done < bytes.size() - in_first) return damaged(30);
      }
      if (after_read) RunHook(after_read, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
      return ValueRead::kOk;
    }

    // A text value: up to its first end marker, or to the end of the file.
    std::uint64_t at = offset;
    for (;;) {
      if (after_read) RunHook(after_read, chunk.data(), got);
      const auto* marker = static_cast<const std::uint8_t*>(std::memchr(chunk.data(), kTextEnd, got));
      const std::size_t take = marker != nullptr ? static_cast<std::size_t>(marker - chunk.data()) : got;
      bytes.append(reinterpret_cast<const char*>(chunk.data()), take);
      if (marker != nullptr || got < chunk.size()) return ValueRead::kOk;
      at += got;
      chunk.resize(kTextChunk);
      if (!memo::ReadAt(state, at, chunk.data(), chunk.size(), got, operation)) return ValueRead::kFailed;
    }
  } catch (const std::bad_alloc&) {
    bytes.clear();
    SetError(217, "Reading memo field in " + state.file_name);
    return ValueRead::kFailed;
  }
}

bool NeedsBlockHeader(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return true;
  if (bytes.find(static_cast<char>(kTextEnd)) != std::string_view::npos) return true;
  return bytes.size() >= 4 && static_cast<std::uint8_t>(bytes[0]) == 0xFF &&
         static_cast<std::uint8_t>(bytes[1]) == 0xFF && bytes[2] == 8 && bytes[3] == 0;
}

void BuildValueImage(const MemoState& state, const RecordHook& before_write, std::string_view bytes,
                     bool text, std::vector<std::uint8_t>& image) {
  image.clear();
  if (text) {
    // The text, its end marker, and zero bytes to the end of the block: a
    // value never leaves the file at the size of an empty one.
    const std::size_t used = bytes.size() + kTextEndSize;
    image.assign((used + kDbase3BlockSize - 1) / kDbase3BlockSize * kDbase3BlockSize, 0);
    std::memcpy(image.data(), bytes.data(), bytes.size());
    std::memset(image.data() + bytes.size(), kTextEnd, kTextEndSize);
    if (before_write) RunHook(before_write, image.data(), image.size());
    return;
  }
  image.resize(kBlockHeaderSize + bytes.size());
  PutGroupHeader(state, image.data(), static_cast<std::uint32_t>(bytes.size()));
  std::memcpy(image.data() + kBlockHeaderSize, bytes.data(), bytes.size());
  if (before_write) RunHook(before_write, image.data() + kBlockHeaderSize, bytes.size());
  // Zero bytes to the end of the last block: the file stays a whole number
  // of blocks, so the next value needs no padding write.
  const std::size_t block_size = state.block_size;
  image.resize((image.size() + block_size - 1) / block_size * block_size, 0);
}

bool FieldBlock(const std::uint8_t* field, std::size_t length, std::int64_t& block) {
  std::size_t begin = 0, end = length;
  while (begin < end && (field[begin] == ' ' || field[begin] == 0)) ++begin;
  while (end > begin && (field[end - 1] == ' ' || field[end - 1] == 0)) --end;
  end = std::min(end, begin + 10);
  if (begin == end) return false;
  const char* first = reinterpret_cast<const char*>(field + begin);
  const char* last = reinterpret_cast<const char*>(field + end);
  std::int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last || value == 0) return false;
  if (value < std::numeric_limits<std::int32_t>::min() + 1 || value > std::numeric_limits<std::int32_t>::max())
    return false;
  block = value;
  return true;
}

}  // namespace memo

namespace {

// Whether a memo field of the current record buffer names `block`.
bool RecordNames(const WorkArea& area, std::uint32_t block) {
  for (const FieldEntry& field : area.fields) {
    if (field.type != 'M') continue;  // B, G and P fields read as M
    if (static_cast<std::size_t>(field.offset) + field.length > area.record.size()) continue;
    std::int64_t named = 0;
    if (memo::FieldBlock(area.record.data() + field.offset, field.length, named) &&
        static_cast<std::uint64_t>(named < 0 ? -named : named) == block)
      return true;
  }
  return false;
}

// Notes that the value at `old_block` of the current record is being
// replaced by the value at `new_block` (0: by no value). Only a change the
// caller may write (exclusive use or the record locked) is noted: without
// the lock the record cannot be written, and the old value must stay.
void QueueRelease(MemoState& state, std::uint32_t old_block, std::uint32_t new_block) {
  const WorkArea& area = OwnerArea();
  const std::int32_t record = area.record_number;
  if (!area.exclusive &&
      std::find(area.record_locks.begin(), area.record_locks.end(), record) == area.record_locks.end())
    return;
  auto& pending = state.pending_releases;
  pending.erase(std::remove_if(pending.begin(), pending.end(),
                               [&](const MemoState::PendingRelease& entry) { return entry.old_block == old_block; }),
                pending.end());
  pending.push_back({record, old_block, new_block, area.lock_releases});
}

}  // namespace


bool ReadMemoValue(std::int32_t block, std::string& bytes, const std::string& operation) {
  bytes.clear();
  MemoState* state = RequireMemo(operation);
  if (state == nullptr) return false;
  if (block == 0) return true;
  const std::uint64_t number = block < 0 ? -static_cast<std::int64_t>(block) : block;
  bool headed = false;
  std::uint16_t damage = 0;
  switch (ReadValueBytes(*state, OwnerArea().after_read, number, bytes, headed, damage, operation)) {
    case ValueRead::kOk: return true;
    case ValueRead::kFailed: return false;
    case ValueRead::kDamaged: break;
  }
  bytes.clear();
  SetError(damage, state->file_name + " Memo block # " + std::to_string(block) + RecordText() +
                       " [" + operation + "]");
  return false;
}

bool WriteMemoValue(std::int32_t old_block, std::string_view bytes, std::int32_t& block,
                    const std::string& operation) {
  block = 0;
  MemoState* state = RequireMemo(operation);
  if (state == nullptr) return false;
  const WorkArea& area = OwnerArea();
  const bool dbase4 = IsDbase4(*state);

  const std::uint32_t old_number =
      static_cast<std::uint32_t>(old_block < 0 ? -static_cast<std::int64_t>(old_block) : old_block);
  if (bytes.empty()) {
    // No value: the record will hold block 0. A dBASE IV value it replaces
    // gives its blocks up once the record has been written.
    if (dbase4 && old_number != 0) QueueRelease(*state, old_number, 0);
    return true;
  }

  // A block header's length field holds at most 32 bits, and the padded
  // image must fit in memory (a 32-bit build's objects stay below 2 GiB).
  constexpr std::uint64_t kLargestValue =
      std::min<std::uint64_t>(std::numeric_limits<std::uint32_t>::max(),
                              static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) -
      4 * kBlockHeaderSize - 2 * 1024 * 64;
  if (bytes.size() > kLargestValue) {
    SetError(1004, state->file_name + RecordText() + " [" + operation + "]");
    return false;
  }
  const bool text = IsDbase3(*state) && !NeedsBlockHeader(bytes);
  std::vector<std::uint8_t> image;
  try {
    BuildValueImage(*state, area.before_write, bytes, text, image);
  } catch (const std::bad_alloc&) {
    SetError(217, state->file_name + RecordText() + " [" + operation + "]");
    return false;
  }

  const std::uint64_t end = LockMemoPadAndSeekEOF(operation);
  if (end == 0) return false;
  BlockPlacement placement;
  if (dbase4) {
    placement = FindBlocks(*state, old_block, HeadedBlocks(*state, bytes.size()), operation);
    if (placement.block == 0) {
      ReleaseLockQuietly(*state);
      return false;
    }
  } else {
    placement.block = static_cast<std::uint32_t>(EndValueOffset(*state, end) / state->block_size);
  }
  if (!memo::WriteAt(*state, BlockOffset(*state, placement.block), image.data(), image.size(), operation))
    return false;
  if (dbase4 && old_number != 0 && placement.block != old_number) {
    // Placed elsewhere: the old value stays until the record names this one.
    QueueRelease(*state, old_number, placement.block);
  } else if (placement.release_count > 0 &&
             !GiveUpBlocks(*state, placement.release_block, placement.release_count, operation)) {
    // Placed over the old value: the blocks it no longer covers are free now.
    return false;
  }
  if (!UpdateMemoHeader()) return false;
  if (FlushAfterWrite) pf::FlushFile(state->file);
  block = text || !IsDbase3(*state) ? static_cast<std::int32_t>(placement.block)
                                    : -static_cast<std::int32_t>(placement.block);
  return true;
}

void ReleaseReplacedValues(std::int32_t record) {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr || area->memo == nullptr || area->memo->pending_releases.empty()) return;
  MemoState& state = *area->memo;
  // Every waiting replacement is settled now: the ones of other records
  // (and abandoned ones) were never written and are dropped.
  std::vector<MemoState::PendingRelease> pending;
  pending.swap(state.pending_releases);
  std::vector<std::uint32_t> released;
  for (const auto& entry : pending) {
    if (entry.record != record || RecordNames(*area, entry.old_block)) continue;
    // A replacement value is known to be this program's own; an emptied
    // value only while the lock it was prepared under has been held since.
    const bool own = entry.new_block != 0 ? RecordNames(*area, entry.new_block)
                                          : area->exclusive || entry.lock_releases == area->lock_releases;
    if (own) released.push_back(entry.old_block);
  }
  if (released.empty()) return;
  const std::string operation = "Replace";
  if (LockMemoPadAndSeekEOF(operation) == 0) return;
  for (const std::uint32_t block : released) {
    std::uint32_t count = 0;
    if (!memo::OldValueBlocks(state, block, count, operation)) return;
    if (count > 0 && !GiveUpBlocks(state, block, count, operation)) return;
  }
  UpdateMemoHeader();
}

}  // namespace qd
