// The blob descriptor: one memo value of a work area read or written as a
// byte stream, with seeking, record hooks in 512-byte units and the OEM
// decision on the first transfer.
#include "memo/blob_streams.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <vector>

#include "foundation/errors.h"
#include "memo/memo_file.h"
#include "memo/memo_internal.h"
#include "memo/memo_layouts.h"
#include "table/work_areas.h"

namespace qd {

using namespace memo_layout;
using namespace memo;
namespace pf = qd::platform;

namespace {

// Bytes a first piece holds for the OEM decision.
constexpr std::size_t kDecisionPiece = 32767;
constexpr std::size_t kScanChunk = 64 * 1024;
// A block header's length field holds 32 bits.
constexpr std::int64_t kLargestValue =
    static_cast<std::int64_t>(std::numeric_limits<std::uint32_t>::max()) - kBlockHeaderSize;

MemoState* CurrentMemo() {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr || !area->memo) return nullptr;
  return area->memo.get();
}

void Reset(BlobDescriptor& blob) {
  blob = BlobDescriptor{};
}

// A failure ends the value: later reads and writes answer 0, and the
// stream's owner learns from DestroyBlobDescriptor that nothing was stored.
void Fail(MemoState& state) {
  ReleaseLockQuietly(state);
  Reset(state.blob);
  state.blob.failed = true;
}

// A failure reported as an exception leaves through a helper that has
// released the lock; the value must end with it.
class FailIfThrown {
 public:
  explicit FailIfThrown(MemoState& state) : state_(state), pending_(std::uncaught_exceptions()) {}
  ~FailIfThrown() {
    if (std::uncaught_exceptions() > pending_) Fail(state_);
  }
  FailIfThrown(const FailIfThrown&) = delete;
  FailIfThrown& operator=(const FailIfThrown&) = delete;

 private:
  MemoState& state_;
  int pending_;
};

void Report(MemoState& state, std::uint16_t code, const char* operation) {
  const std::string text = std::to_string(state.blob.block) + " " + state.file_name + RecordText() +
                           " [" + operation + "]";
  Fail(state);
  SetError(code, text);
}

bool LooksLikeText(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t c = bytes[i];
    if (c < 32 && c != 9 && c != 10 && c != 13 && c != 15 && c != 20 && c != 21) return false;
  }
  return true;
}

void Decide(BlobDescriptor& blob, const std::uint8_t* bytes, std::size_t count) {
  if (blob.oem == -1) blob.oem = LooksLikeText(bytes, std::min(count, kDecisionPiece)) ? 1 : 0;
}

bool Hooked(const WorkArea& area) { return area.before_write || area.after_read; }

// The plain bytes of unit `index` that the file holds: `limit` bytes of the
// value at most, passed through the after-read hook.
bool LoadUnit(MemoState& state, const WorkArea& area, std::int64_t index, std::uint64_t limit,
              const char* operation) {
  BlobDescriptor& blob = state.blob;
  std::fill(blob.unit.begin(), blob.unit.end(), 0);
  blob.unit_index = index;
  blob.unit_fill = 0;
  blob.unit_dirty = false;
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kUnitSize, limit));
  if (want == 0) return true;
  std::size_t got = 0;
  if (!memo::ReadAt(state, blob.start + static_cast<std::uint64_t>(index) * kUnitSize, blob.unit.data(),
                    want, got, operation)) {
    Fail(state);
    return false;
  }
  if (got > 0 && area.after_read) area.after_read(blob.unit.data(), got);
  blob.unit_fill = static_cast<std::uint32_t>(got);
  return true;
}

// Writes the pending unit through the before-write hook: a whole unit, or
// up to the value's end when it is the last one.
bool FlushUnit(MemoState& state, const WorkArea& area, const char* operation) {
  BlobDescriptor& blob = state.blob;
  if (!blob.unit_dirty || blob.unit_index < 0) return true;
  const std::int64_t unit_start = blob.unit_index * static_cast<std::int64_t>(kUnitSize);
  const std::size_t count = static_cast<std::size_t>(
      std::clamp<std::int64_t>(blob.written - unit_start, 0, static_cast<std::int64_t>(kUnitSize)));
  blob.unit_dirty = false;
  if (count == 0) return true;
  std::uint8_t image[kUnitSize];
  std::memcpy(image, blob.unit.data(), count);
  if (area.before_write) area.before_write(image, count);
  if (!memo::WriteAt(state, blob.start + static_cast<std::uint64_t>(unit_start), image, count, operation)) {
    Fail(state);
    return false;
  }
  return true;
}

// The end of a text value of unknown length: the offset of its first 0x1A,
// or the end of the file.
bool FindTextEnd(MemoState& state, const WorkArea& area, std::int64_t& length) {
  BlobDescriptor& blob = state.blob;
  std::vector<std::uint8_t> chunk;
  try {
    chunk.resize(kScanChunk);
  } catch (const std::bad_alloc&) {
    Report(state, 217, "SeekBlobStream");
    return false;
  }
  std::uint64_t at = 0;
  for (;;) {
    std::size_t got = 0;
    if (!memo::ReadAt(state, blob.start + at, chunk.data(), chunk.size(), got, "SeekBlobStream")) {
      Fail(state);
      return false;
    }
    if (got > 0 && area.after_read)
      for (std::size_t i = 0; i < got; i += kUnitSize) area.after_read(chunk.data() + i, std::min(kUnitSize, got - i));
    const void* marker = std::memchr(chunk.data(), kTextEnd, got);
    if (marker != nullptr) {
      length = static_cast<std::int64_t>(at) + (static_cast<const std::uint8_t*>(marker) - chunk.data());
      return true;
    }
    at += got;
    if (got < chunk.size()) {
      length = static_cast<std::int64_t>(at);
      return true;
    }
  }
}

}  // namespace

std::int32_t CreateBlobDescriptor(bool oem, std::int32_t block, std::uint8_t mode,
                                  std::uint32_t size_hint) {
  MemoState* state = RequireMemo("CreateBlobDescriptor");
  if (state == nullptr) return 0;
  const FailIfThrown guard(*state);
  WorkArea& area = OwnerArea();
  BlobDescriptor& blob = state->blob;
  // A value still open for writing is given up; its lock must not stay.
  if (blob.active && blob.mode == kBlobWrite) ReleaseLockQuietly(*state);
  Reset(blob);
  if (Hooked(area)) {
    try {
      blob.unit.assign(kUnitSize, 0);
    } catch (const std::bad_alloc&) {
      Fail(*state);
      SetError(217, state->file_name + " [CreateMemoDescriptor]");
      return 0;
    }
  }
  blob.oem = oem ? -1 : 0;
  const std::uint32_t number =
      static_cast<std::uint32_t>(block < 0 ? -static_cast<std::int64_t>(block) : block);
  blob.block = number;

  if (mode == kBlobRead) {
    blob.mode = kBlobRead;
    if (number == 0) {
      // No value: an empty one.
      blob.length = 0;
      blob.active = true;
      return 0;
    }
    std::uint64_t size = 0;
    if (!SizeOf(*state, size, "CreateBlobDescriptor")) {
      Fail(*state);
      return 0;
    }
    const std::uint64_t offset = BlockOffset(*state, number);
    if (number < FirstDataBlock(*state) || offset + 1 >= size) {
      Report(*state, 1003, "CreateBlobDescriptor");
      return 0;
    }
    std::uint8_t head[kBlockHeaderSize];
    std::size_t got = 0;
    if (!memo::ReadAt(*state, offset, head, kBlockHeaderSize, got, "CreateBlobDescriptor")) {
      Fail(*state);
      return 0;
    }
    if (IsFoxPro(*state)) {
      if (got < kBlockHeaderSize) {
        Report(*state, 30, "CreateBlobDescriptor");
        return 0;
      }
      blob.length = Get32BE(head + kFoxLengthOffset);
      blob.header_length = kBlockHeaderSize;
    } else if (got >= kBlockHeaderSize && Get16LE(head + kDbtSignatureOffset) == kDbtSignature &&
               Get16LE(head + kDbtHeaderLengthOffset) == kDbtHeaderLength) {
      const std::uint32_t stored = Get32LE(head + kDbtLengthOffset);
      blob.length = stored < kBlockHeaderSize ? 0 : stored - kBlockHeaderSize;
      blob.header_length = kBlockHeaderSize;
    }
    blob.start = offset + blob.header_length;
    blob.active = true;
    return static_cast<std::int32_t>(number);
  }

  if (mode != kBlobWrite) {
    Reset(blob);
    return 0;
  }
  blob.mode = kBlobWrite;
  if (size_hint > 0) {
    blob.length = std::min<std::int64_t>(size_hint, kLargestValue);
    std::uint64_t free_bytes = 0;
    if (pf::DiskFreeBytes(state->file_name, free_bytes) == 0 && free_bytes / 1024 <= size_hint / 1024) {
      Report(*state, 1004, "CreateBlobDescriptor");
      return 0;
    }
  }
  const std::uint64_t end = LockMemoPadAndSeekEOF("CreateBlobDescriptor");
  if (end == 0) {
    Fail(*state);
    return 0;
  }
  std::uint32_t placed = 0;
  if (IsDbase4(*state)) {
    // Never the replaced value's blocks: its record may still be cancelled.
    const BlockPlacement placement =
        FindBlocks(*state, 0, size_hint > 0 ? HeadedBlocks(*state, size_hint) : 0, "CreateBlobDescriptor");
    placed = placement.block;
  } else {
    placed = static_cast<std::uint32_t>(EndValueOffset(*state, end) / state->block_size);
  }
  if (placed == 0) {
    Fail(*state);
    return 0;
  }
  blob.block = placed;
  blob.header_length = kBlockHeaderSize;
  blob.start = BlockOffset(*state, placed) + kBlockHeaderSize;
  blob.active = true;
  return IsDbase3(*state) ? -static_cast<std::int32_t>(placed) : static_cast<std::int32_t>(placed);
}

std::int32_t ReadBlobStream(void* buffer, std::int32_t count) {
  MemoState* state = CurrentMemo();
  if (state == nullptr || buffer == nullptr || count < 1) return 0;
  BlobDescriptor& blob = state->blob;
  if (!blob.active || blob.mode != kBlobRead) return 0;
  if (blob.length >= 0 && blob.position >= blob.length) return 0;
  const FailIfThrown guard(*state);
  const WorkArea& area = OwnerArea();
  std::uint64_t size = 0;
  if (!SizeOf(*state, size, "ReadBlobStream")) {
    Fail(*state);
    return 0;
  }
  const std::uint64_t at = blob.start + static_cast<std::uint64_t>(blob.position);
  std::uint64_t want = static_cast<std::uint64_t>(count);
  want = std::min<std::uint64_t>(want, size > at ? size - at : 0);
  if (blob.length >= 0) want = std::min<std::uint64_t>(want, static_cast<std::uint64_t>(blob.length - blob.position));
  if (want == 0) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t got = 0;
  if (blob.unit.empty()) {
    if (!memo::ReadAt(*state, at, out, static_cast<std::size_t>(want), got, "ReadBlobStream")) {
      Fail(*state);
      return 0;
    }
  } else {
    // Through whole units: the after-read hook sees what the writer's
    // before-write hook saw.
    const std::uint64_t value_end = blob.length >= 0 ? static_cast<std::uint64_t>(blob.length)
                                                     : size - std::min(size, blob.start);
    while (got < want) {
      const std::uint64_t position = static_cast<std::uint64_t>(blob.position) + got;
      const std::int64_t index = static_cast<std::int64_t>(position / kUnitSize);
      if (blob.unit_index != index &&
          !LoadUnit(*state, area, index, value_end - static_cast<std::uint64_t>(index) * kUnitSize,
                    "ReadBlobStream"))
        return 0;
      const std::size_t inside = static_cast<std::size_t>(position % kUnitSize);
      if (inside >= blob.unit_fill) break;
      const std::size_t n = std::min<std::size_t>(blob.unit_fill - inside, static_cast<std::size_t>(want - got));
      std::memcpy(out + got, blob.unit.data() + inside, n);
      got += n;
    }
  }
  if (blob.length < 0) {
    // A text value ends at its first 0x1A.
    if (const void* marker = std::memchr(out, kTextEnd, got)) {
      got = static_cast<std::size_t>(static_cast<const std::uint8_t*>(marker) - out);
      blob.length = blob.position + static_cast<std::int64_t>(got);
    }
  }
  Decide(blob, out, got);
  if (blob.oem == 1 && got > 0) pf::OemToAnsi(out, got);
  blob.position += static_cast<std::int64_t>(got);
  return static_cast<std::int32_t>(got);
}

std::int32_t WriteBlobStream(const void* buffer, std::int32_t count) {
  MemoState* state = CurrentMemo();
  if (state == nullptr || buffer == nullptr || count < 1) return 0;
  BlobDescriptor& blob = state->blob;
  if (!blob.active || blob.mode != kBlobWrite) return 0;
  const FailIfThrown guard(*state);
  const WorkArea& area = OwnerArea();
  const std::int64_t limit = blob.length > 0 ? blob.length : kLargestValue;
  const std::int64_t room = std::max<std::int64_t>(0, limit - blob.position);
  const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(count, room));
  if (n == 0) return 0;
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  Decide(blob, in, n);
  std::vector<std::uint8_t> converted;
  if (blob.oem == 1) {
    try {
      converted.assign(in, in + n);
    } catch (const std::bad_alloc&) {
      Report(*state, 217, "WriteBlobStream");
      return 0;
    }
    pf::AnsiToOem(converted.data(), n);
    in = converted.data();
  }
  if (blob.unit.empty()) {
    if (!memo::WriteAt(*state, blob.start + static_cast<std::uint64_t>(blob.position), in, n,
                       "WriteBlobStream")) {
      Fail(*state);
      return 0;
    }
  } else {
    std::size_t done = 0;
    while (done < n) {
      const std::uint64_t position = static_cast<std::uint64_t>(blob.position) + done;
      const std::int64_t index = static_cast<std::int64_t>(position / kUnitSize);
      if (blob.unit_index != index) {
        if (!FlushUnit(*state, area, "WriteBlobStream")) return static_cast<std::int32_t>(done);
        // Bytes written before in this unit are kept.
        const std::int64_t unit_start = index * static_cast<std::int64_t>(kUnitSize);
        const std::uint64_t before = static_cast<std::uint64_t>(std::max<std::int64_t>(0, blob.written - unit_start));
        if (!LoadUnit(*state, area, index, before, "WriteBlobStream")) return static_cast<std::int32_t>(done);
      }
      const std::size_t inside = static_cast<std::size_t>(position % kUnitSize);
      const std::size_t part = std::min(kUnitSize - inside, n - done);
      std::memcpy(blob.unit.data() + inside, in + done, part);
      blob.unit_fill = std::max<std::uint32_t>(blob.unit_fill, static_cast<std::uint32_t>(inside + part));
      blob.unit_dirty = true;
      done += part;
      blob.written = std::max<std::int64_t>(blob.written, static_cast<std::int64_t>(position + part));
    }
  }
  blob.position += static_cast<std::int64_t>(n);
  blob.written = std::max(blob.written, blob.position);
  return static_cast<std::int32_t>(n);
}

std::int64_t SeekBlobStream(std::int64_t offset, int origin) {
  MemoState* state = CurrentMemo();
  if (state == nullptr) return 0;
  BlobDescriptor& blob = state->blob;
  if (!blob.active || blob.mode == 0 || blob.block == 0) return 0;
  const FailIfThrown guard(*state);
  std::int64_t target = 0;
  switch (origin) {
    case 0: target = offset; break;
    case 1: target = blob.position + offset; break;
    case 2:
      if (blob.mode == kBlobWrite) {
        target = (blob.length > 0 ? blob.length : blob.written) + offset;
      } else {
        if (blob.length < 0) {
          std::int64_t length = 0;
          if (!FindTextEnd(*state, OwnerArea(), length)) return 0;
          blob.length = length;
        }
        target = blob.length + offset;
      }
      break;
    default: return blob.position;
  }
  blob.position = std::clamp<std::int64_t>(target, 0, kLargestValue);
  return blob.position;
}

std::int64_t BlobBytesWritten() {
  const MemoState* state = CurrentMemo();
  if (state == nullptr || !state->blob.active || state->blob.mode != kBlobWrite) return 0;
  return state->blob.written;
}

bool DestroyBlobDescriptor() {
  MemoState* state = CurrentMemo();
  if (state == nullptr) return false;
  BlobDescriptor& blob = state->blob;
  const bool failed = blob.failed;
  if (!blob.active || blob.mode != kBlobWrite) {
    Reset(blob);
    return !failed;
  }
  const FailIfThrown guard(*state);
  const WorkArea& area = OwnerArea();
  if (!FlushUnit(*state, area, "DestroyBlobDescriptor")) return false;
  if (blob.written > 0) {
    if (!WriteGroupHeader(*state, blob.block, static_cast<std::uint32_t>(blob.written))) {
      Fail(*state);
      return false;
    }
    // The value fills its last block, so the file stays a whole number of
    // blocks and nothing after the value reads as part of it.
    const std::uint64_t end = blob.start + static_cast<std::uint64_t>(blob.written);
    const std::uint64_t padded = BlocksOf(*state, end) * state->block_size;
    std::uint64_t size = state->locked_size;
    if (size == 0 && !SizeOf(*state, size, "DestroyBlobDescriptor")) {
      Fail(*state);
      return false;
    }
    if (padded > size) {
      std::vector<std::uint8_t> zeros(static_cast<std::size_t>(std::min<std::uint64_t>(padded - size, state->block_size)), 0);
      if (!memo::WriteAt(*state, size, zeros.data(), zeros.size(), "DestroyBlobDescriptor")) {
        Fail(*state);
        return false;
      }
    }
  }
  // The header names the end of the file before another writer may place
  // a value: a program that places values by the header would otherwise
  // write over the value just streamed.
  if (!UpdateMemoHeader()) {
    Fail(*state);
    return false;
  }
  pf::FlushFile(state->file);
  Reset(blob);
  return true;
}

}  // namespace qd
