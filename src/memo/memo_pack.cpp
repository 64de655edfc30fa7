// Memo pack and copy: the value copier, CopyMemo, PackMemofile with its
// per-value step PackMemo, and emptying the memo file.
#include "memo/memo_pack.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "foundation/errors.h"
#include "memo/memo_file.h"
#include "memo/memo_internal.h"
#include "memo/memo_layouts.h"
#include "table/table_text.h"
#include "table/work_areas.h"

namespace qd {

using namespace memo_layout;
using namespace memo;
namespace pf = qd::platform;

namespace {

constexpr const char* kCopyLabel = "AppendFrom/CopyTo";

// One value to move: from a block of the source file to the destination's
// layout.
struct CopyRequest {
  MemoState* source = nullptr;
  MemoState* destination = nullptr;
  std::int32_t source_block = 0;
  RecordHook after_read;    // the source table's
  RecordHook before_write;  // the destination table's
  bool negate_headed = false;
};

// The copier's first half: the value read from the source and laid out for
// the destination in `image` (empty when the value has no bytes). kDamaged
// when no value could be read there (`damage` holds the code; nothing
// reported).
struct CopiedValue {
  std::vector<std::uint8_t> image;
  bool headed = false;  // written with a block header
};

ValueRead PrepareCopy(const CopyRequest& request, CopiedValue& out, std::uint16_t& damage) {
  out.image.clear();
  out.headed = false;
  damage = 0;
  if (request.source_block == 0) return ValueRead::kOk;
  const std::uint64_t number = request.source_block < 0
                                   ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(request.source_block))
                                   : static_cast<std::uint64_t>(request.source_block);
  std::string bytes;
  bool source_headed = false;
  const ValueRead read = ReadValueBytes(*request.source, request.after_read, number, bytes, source_headed,
                                        damage, kCopyLabel);
  if (read != ValueRead::kOk) return read;
  // Only a dBASE III file named by a positive block holds text values; a
  // dBASE IV block without a block header holds no value.
  if (!source_headed && (!IsDbase3(*request.source) || request.source_block < 0)) {
    damage = 30;
    return ValueRead::kDamaged;
  }
  if (bytes.empty()) return ValueRead::kOk;
  // A block header's length field holds 32 bits.
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max() - 2 * kBlockHeaderSize) {
    damage = 1004;
    return ValueRead::kDamaged;
  }
  const bool text = IsDbase3(*request.destination) && (!source_headed || !NeedsBlockHeader(bytes));
  try {
    BuildValueImage(*request.destination, request.before_write, bytes, text, out.image);
  } catch (const std::bad_alloc&) {
    SetError(217, request.destination->file_name + " [" + kCopyLabel + "]");
    return ValueRead::kFailed;
  }
  out.headed = !text;
  return ValueRead::kOk;
}

std::int32_t Answer(const CopyRequest& request, const CopiedValue& value, std::uint32_t block) {
  if (value.image.empty()) return 0;
  return request.negate_headed && value.headed ? -static_cast<std::int32_t>(block)
                                               : static_cast<std::int32_t>(block);
}

// A block as a memo field stores it: right-aligned; no value is blanks.
void PutFieldBlock(std::uint8_t* field, std::size_t length, std::int32_t block) {
  std::memset(field, ' ', length);
  if (block == 0) return;
  const std::string text = std::to_string(block);
  const std::size_t n = std::min(text.size(), length);
  std::memcpy(field + length - n, text.data() + text.size() - n, n);
}

std::string ReplaceExtension(const std::string& name, const std::string& extension) {
  return table_text::WithoutExtension(name) + "." + extension;
}

// ------------------------------------------------------------ the pack ---


// One memo field the pack renumbers.
struct Renumbering {
  std::int32_t record = 0;
  std::uint16_t offset = 0;   // of the field in the record
  std::uint8_t length = 0;
  std::int32_t old_block = 0;
  std::int32_t new_block = 0;
  std::string old_text;       // the field's bytes as stored
};

class MemoPack {
 public:
  MemoPack(WorkArea& area, MemoState& old_state) : area_(area), old_(old_state) {}
  ~MemoPack() { Discard(); }
  MemoPack(const MemoPack&) = delete;
  MemoPack& operator=(const MemoPack&) = delete;

  void Run();

 private:
  bool CreateNewFile();
  bool CollectAndCopy();
  std::int32_t PackMemo(std::int32_t old_block, std::int32_t record, bool& failed);
  bool Append(const std::uint8_t* bytes, std::size_t count);
  bool FlushOutput();
  bool FinishNewFile();
  // Writes each renumbered field's new text (or, undoing, its old text)
  // into the table; false after the first failure (nothing reported).
  bool Renumber(bool undo, std::uint32_t& code);
  bool ReadRecord(std::int32_t record, std::vector<std::uint8_t>& body, std::uint32_t& code);
  bool WriteRecord(std::int32_t record, std::vector<std::uint8_t>& body, std::uint32_t& code);
  bool Exchange();
  void Discard();
  void FailWrite(std::uint32_t rc, const std::string& where);

  WorkArea& area_;
  MemoState& old_;
  std::unique_ptr<MemoState> new_;  // the new file while it is written
  std::string new_name_;
  bool keep_new_file_ = false;
  std::uint64_t old_size_ = 0;
  std::uint64_t new_end_ = 0;       // the new file's size, pending bytes included
  std::vector<std::uint8_t> output_;
  std::uint64_t output_offset_ = 0;
  std::vector<Renumbering> fields_;
  std::size_t renumbered_ = 0;      // fields written so far (for undoing)
  // The first field whose value could not be read.
  std::uint16_t damage_code_ = 0;
  std::string damage_text_;
};

constexpr std::size_t kOutputBuffer = 1 << 20;

void MemoPack::FailWrite(std::uint32_t rc, const std::string& where) {
  const std::uint16_t code = rc == 0 ? 1005 : table_text::WriteErrorCode(rc);
  Discard();
  SetError(code, where + " [PackMemo]");
}

bool MemoPack::CreateNewFile() {
  new_name_ = ReplaceExtension(old_.file_name, "$$$");
  if (!CreateMemofile(new_name_, old_.memo_type, static_cast<std::uint16_t>(old_.block_size), "PackMemofile"))
    return false;
  new_ = std::make_unique<MemoState>();
  new_->file_name = new_name_;
  new_->memo_type = old_.memo_type;
  new_->block_size = old_.block_size;
  if (std::uint32_t rc = pf::OpenFile(new_name_, pf::kAccessReadWrite | pf::kShareDenyWrite, new_->file);
      rc != 0) {
    new_->file = pf::kNoFile;
    Discard();
    SetError(static_cast<std::uint16_t>(rc), "Cannot open memo file " + new_name_ + " [PackMemofile]");
    return false;
  }
  std::uint64_t size = 0;
  if (std::uint32_t rc = pf::FileSize(new_->file, size); rc != 0) {
    Discard();
    SetError(static_cast<std::uint16_t>(rc), new_name_ + " [PackMemofile]");
    return false;
  }
  // The first value goes after the header (over the final 0x1A of an empty
  // dBASE III file).
  new_end_ = IsDbase3(*new_) && size == kDbase3EmptyFileSize ? kDbase3HeaderSize : size;
  output_offset_ = new_end_;
  return true;
}

bool MemoPack::Append(const std::uint8_t* bytes, std::size_t count) {
  if (output_.size() + count > kOutputBuffer && !FlushOutput()) return false;
  if (count >= kOutputBuffer) {
    std::size_t done = 0;
    const std::uint32_t rc = pf::WriteAt(new_->file, output_offset_, bytes, count, done);
    if (rc != 0 || done < count) {
      FailWrite(rc, new_name_);
      return false;
    }
    output_offset_ += count;
  } else {
    output_.insert(output_.end(), bytes, bytes + count);
  }
  new_end_ += count;
  return true;
}

bool MemoPack::FlushOutput() {
  if (output_.empty()) return true;
  std::size_t done = 0;
  const std::uint32_t rc = pf::WriteAt(new_->file, output_offset_, output_.data(), output_.size(), done);
  if (rc != 0 || done < output_.size()) {
    FailWrite(rc, new_name_);
    return false;
  }
  output_offset_ += output_.size();
  output_.clear();
  return true;
}

std::int32_t MemoPack::PackMemo(std::int32_t old_block, std::int32_t record, bool& failed) {
  failed = false;
  // Values start on a block boundary after the header.
  const std::uint64_t block_size = new_->block_size;
  std::uint64_t start = (new_end_ + block_size - 1) / block_size * block_size;
  start = std::max<std::uint64_t>(start, BlockOffset(*new_, FirstDataBlock(*new_)));
  const std::uint64_t number =
      old_block < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(old_block)) : static_cast<std::uint64_t>(old_block);
  auto damaged = [&](std::uint16_t code) {
    if (damage_code_ == 0) {
      damage_code_ = code;
      damage_text_ = old_.file_name + " Memo block # " + std::to_string(old_block) + " Record # " +
                     std::to_string(record) + " [PackMemo]";
    }
    return 0;
  };
  if (BlockOffset(old_, number) + 1 >= old_size_) return damaged(1003);
  CopyRequest request;
  request.source = &old_;
  request.destination = new_.get();
  request.source_block = old_block;
  request.after_read = area_.after_read;
  request.before_write = area_.before_write;
  request.negate_headed = IsDbase3(*new_);
  CopiedValue value;
  std::uint16_t damage = 0;
  switch (PrepareCopy(request, value, damage)) {
    case ValueRead::kOk: break;
    case ValueRead::kDamaged: return damaged(damage);
    case ValueRead::kFailed: failed = true; return 0;
  }
  if (value.image.empty()) return 0;
  if (start / block_size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    Discard();
    SetError(1004, old_.file_name + " [PackMemo]");
    failed = true;
    return 0;
  }
  static const std::uint8_t zeros[512] = {};
  while (new_end_ < start) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof zeros, start - new_end_));
    if (!Append(zeros, n)) {
      failed = true;
      return 0;
    }
  }
  if (!Append(value.image.data(), value.image.size())) {
    failed = true;
    return 0;
  }
  return Answer(request, value, static_cast<std::uint32_t>(start / block_size));
}

bool MemoPack::ReadRecord(std::int32_t record, std::vector<std::uint8_t>& body, std::uint32_t& code) {
  const std::uint64_t offset = static_cast<std::uint64_t>(area_.header_length) +
                               static_cast<std::uint64_t>(record - 1) * area_.record_length;
  body.resize(area_.record_length);
  std::size_t done = 0;
  code = pf::ReadAt(area_.file, offset, body.data(), body.size(), done);
  if (code != 0 || done < body.size()) {
    if (code == 0) code = 30;
    return false;
  }
  if (area_.after_read && body.size() > 1) area_.after_read(body.data() + 1, body.size() - 1);
  return true;
}

bool MemoPack::WriteRecord(std::int32_t record, std::vector<std::uint8_t>& body, std::uint32_t& code) {
  const std::uint64_t offset = static_cast<std::uint64_t>(area_.header_length) +
                               static_cast<std::uint64_t>(record - 1) * area_.record_length;
  if (area_.before_write && body.size() > 1) area_.before_write(body.data() + 1, body.size() - 1);
  std::size_t done = 0;
  code = pf::WriteAt(area_.file, offset, body.data(), body.size(), done);
  NoteFileWrite(area_, offset, body.data(), std::min(done, body.size()));
  if (code != 0 || done < body.size()) {
    code = table_text::WriteErrorCode(code);
    return false;
  }
  return true;
}

bool MemoPack::CollectAndCopy() {
  // The pack reads every record from the file: appended records still
  // collected in memory are written out first.
  if (!WritePendingAppends(area_)) {
    Discard();
    return false;
  }
  std::vector<std::pair<std::uint16_t, std::uint8_t>> memo_fields;  // offset, length
  for (const FieldEntry& field : area_.fields)
    if (field.type == 'M') memo_fields.emplace_back(field.offset, field.length);
  if (memo_fields.empty()) return true;
  std::vector<std::uint8_t> records;
  const std::size_t length = area_.record_length;
  const std::int32_t per_read = static_cast<std::int32_t>(std::max<std::size_t>(1, (256 * 1024) / std::max<std::size_t>(1, length)));
  for (std::int32_t first = 1; first <= area_.record_count; first += per_read) {
    const std::int32_t count = std::min(per_read, area_.record_count - first + 1);
    records.resize(static_cast<std::size_t>(count) * length);
    const std::uint64_t offset = static_cast<std::uint64_t>(area_.header_length) +
                                 static_cast<std::uint64_t>(first - 1) * length;
    std::size_t done = 0;
    if (std::uint32_t rc = pf::ReadAt(area_.file, offset, records.data(), records.size(), done);
        rc != 0 || done < records.size()) {
      Discard();
      SetError(rc != 0 ? static_cast<std::uint16_t>(rc) : 213, "File:  " + area_.file_name + "  [PackMemofile]");
      return false;
    }
    for (std::int32_t i = 0; i < count; ++i) {
      std::uint8_t* body = records.data() + static_cast<std::size_t>(i) * length;
      if (area_.after_read && length > 1) area_.after_read(body + 1, length - 1);
      const std::int32_t record = first + i;
      for (const auto& [field_offset, field_length] : memo_fields) {
        if (static_cast<std::size_t>(field_offset) + field_length > length) continue;
        std::int64_t block = 0;
        if (!FieldBlock(body + field_offset, field_length, block)) continue;
        bool failed = false;
        const std::int32_t new_block = PackMemo(static_cast<std::int32_t>(block), record, failed);
        if (failed) return false;
        Renumbering entry;
        entry.record = record;
        entry.offset = field_offset;
        entry.length = field_length;
        entry.old_block = static_cast<std::int32_t>(block);
        entry.new_block = new_block;
        entry.old_text.assign(reinterpret_cast<const char*>(body + field_offset), field_length);
        fields_.push_back(std::move(entry));
      }
    }
  }
  return true;
}

bool MemoPack::FinishNewFile() {
  if (!FlushOutput()) return false;
  const std::uint64_t blocks = (new_end_ + new_->block_size - 1) / new_->block_size;
  std::uint8_t bytes[kNextFreeSize];
  if (IsFoxPro(*new_))
    Put32BE(bytes, static_cast<std::uint32_t>(blocks));
  else
    Put32LE(bytes, static_cast<std::uint32_t>(blocks));
  std::size_t done = 0;
  std::uint32_t rc = pf::WriteAt(new_->file, kNextFreeOffset, bytes, kNextFreeSize, done);
  if (rc != 0 || done < kNextFreeSize) {
    FailWrite(rc, new_name_);
    return false;
  }
  // The new file is on disk before any record names it.
  rc = pf::FlushFile(new_->file);
  if (rc == 0) rc = pf::CloseFile(new_->file);
  new_->file = pf::kNoFile;
  if (rc != 0) {
    FailWrite(rc, new_name_);
    return false;
  }
  return true;
}

bool MemoPack::Renumber(bool undo, std::uint32_t& code) {
  std::vector<std::uint8_t> body;
  const std::size_t end = undo ? renumbered_ : fields_.size();
  std::size_t i = 0;
  while (i < end) {
    const std::int32_t record = fields_[i].record;
    std::size_t last = i;
    while (last < end && fields_[last].record == record) ++last;
    if (!undo) renumbered_ = last;
    bool changed = false;
    for (std::size_t k = i; k < last; ++k)
      changed = changed || fields_[k].new_block != fields_[k].old_block;
    if (changed) {
      if (!ReadRecord(record, body, code)) return false;
      for (std::size_t k = i; k < last; ++k) {
        const Renumbering& entry = fields_[k];
        std::uint8_t* field = body.data() + entry.offset;
        if (undo)
          std::memcpy(field, entry.old_text.data(), entry.length);
        else
          PutFieldBlock(field, entry.length, entry.new_block);
      }
      if (!WriteRecord(record, body, code)) return false;
    }
    i = last;
  }
  return true;
}

bool MemoPack::Exchange() {
  // The name as the file system spells it: the packed file keeps it.
  const std::string old_name = pf::ResolvePath(old_.file_name);
  const std::string backup = ReplaceExtension(old_name, "$MB");
  const std::string table_base = table_text::WithoutExtension(area_.file_name);
  auto undo_records = [&]() {
    std::uint32_t ignored = 0;
    Renumber(true, ignored);
    pf::FlushFile(area_.file);
  };
  std::uint32_t code = 0;
  if (!Renumber(false, code) || pf::FlushFile(area_.file) != 0) {
    undo_records();
    Discard();
    SetError(static_cast<std::uint16_t>(code == 0 ? 101 : code), "File:  " + area_.file_name + "  [PackMemofile]");
    return false;
  }
  // The old file steps aside before the new one takes its name, so that one
  // of them always holds the values the table names.
  CloseMemofile();
  if (pf::FileExists(backup)) pf::EraseFile(backup);
  std::uint32_t rc = pf::RenameFile(old_name, backup);
  if (rc == 0) {
    rc = pf::RenameFile(new_name_, old_name);
    if (rc != 0) pf::RenameFile(backup, old_name);
  }
  if (rc != 0) {
    undo_records();
    Discard();
    OpenMemofile(table_base);
    SetError(static_cast<std::uint16_t>(rc), old_name + " [PackMemofile]");
    return false;
  }
  keep_new_file_ = true;
  pf::EraseFile(backup);
  if (OpenMemofile(table_base) != 0) {
    SetError(ErrorCode, "Memo file not found: " + old_name + " [PackMemofile]");
    return false;
  }
  return true;
}

void MemoPack::Discard() {
  if (new_ && new_->file != pf::kNoFile) {
    pf::CloseFile(new_->file);
    new_->file = pf::kNoFile;
  }
  if (!keep_new_file_ && !new_name_.empty()) {
    pf::EraseFile(new_name_);
    new_name_.clear();
  }
}

void MemoPack::Run() {
  if (!SizeOf(old_, old_size_, "PackMemofile")) return;
  std::uint64_t free_bytes = 0;
  if (pf::DiskFreeBytes(old_.file_name, free_bytes) == 0 && old_size_ / 1024 > free_bytes / 1024) {
    SetError(1012, old_.file_name + " [PackMemofile]");
    return;
  }
  if (!CreateNewFile()) return;
  if (!CollectAndCopy()) return;
  if (!FinishNewFile()) return;
  if (!Exchange()) return;
  if (damage_code_ != 0) SetError(damage_code_, damage_text_);
}

}  // namespace

// ------------------------------------------------------------- public ---

void PackMemofile() {
  MemoState* state = RequireMemo("PackMemofile");
  if (state == nullptr) return;
  WorkArea& area = OwnerArea();
  if (!area.exclusive) {
    SetError(225, area.file_name + " [PackMemofile]");
    return;
  }
  // A value open as a stream is given up: its file is about to be replaced.
  ReleaseLockQuietly(*state);
  state->blob = BlobDescriptor{};
  MemoPack pack(area, *state);
  pack.Run();
}

std::int32_t CopyMemo(int source_area, std::int32_t source_block, bool keep_position) {
  if (source_block == 0) return 0;
  WorkArea* destination_area = CurrentWorkArea();
  if (source_area < 1 || source_area > kWorkAreaCount || !WorkAreas[static_cast<std::size_t>(source_area)]) {
    SetError(215, "No database in use [CopyMemo()] WorkArea = " + std::to_string(source_area));
    return 0;
  }
  WorkArea& source = *WorkAreas[static_cast<std::size_t>(source_area)];
  if (!source.has_memo || !source.memo) {
    SetError(1019, source.file_name + " No Memo Field [CopyMemo()]");
    return 0;
  }
  const std::uint64_t end = LockMemoPadAndSeekEOF("CopyMemo()");
  if (end == 0 || destination_area == nullptr) return 0;
  MemoState& destination = *destination_area->memo;
  CopyRequest request;
  request.source = source.memo.get();
  request.destination = &destination;
  request.source_block = source_block;
  request.after_read = source.after_read;
  request.before_write = destination_area->before_write;
  request.negate_headed = IsDbase3(destination);
  const std::uint32_t block =
      keep_position ? static_cast<std::uint32_t>(source_block < 0 ? -static_cast<std::int64_t>(source_block) : source_block)
                    : static_cast<std::uint32_t>(EndValueOffset(destination, end) / destination.block_size);
  CopiedValue value;
  std::uint16_t damage = 0;
  ValueRead read = ValueRead::kFailed;
  try {
    read = PrepareCopy(request, value, damage);
  } catch (...) {
    // A read failure reported as an exception: the lock must not stay.
    ReleaseLockQuietly(destination);
    throw;
  }
  if (read == ValueRead::kFailed) {
    ReleaseLockQuietly(destination);
    return 0;
  }
  if (read == ValueRead::kDamaged || value.image.empty() || block < FirstDataBlock(destination)) {
    // Nothing to copy: the lock goes, the file stays as it was.
    UpdateMemoHeader();
    return 0;
  }
  std::size_t done = 0;
  const std::uint32_t rc = pf::WriteAt(destination.file, BlockOffset(destination, block), value.image.data(),
                                       value.image.size(), done);
  if (rc != 0 || done < value.image.size()) {
    ReleaseLockQuietly(destination);
    SetError(1005, destination.file_name + " [" + kCopyLabel + "]");
    return 0;
  }
  destination.locked_size =
      std::max<std::uint64_t>(destination.locked_size, BlockOffset(destination, block) + value.image.size());
  if (!UpdateMemoHeader()) return 0;
  pf::FlushFile(destination.file);
  return Answer(request, value, block);
}

void EmptyMemofile(const std::string& name) {
  WorkArea* area = RequireTable("CreateMemofile()");
  if (area == nullptr) return;
  if (!area->has_memo) {
    SetError(1019, area->file_name + " No Memo Field [CreateMemofile()]");
    return;
  }
  const std::uint8_t type = MemoTypeOf(area->version);
  std::uint16_t block_size = DefaultMemoBlockSize;
  std::string file_name = table_text::WithoutExtension(area->file_name) + "." + MemoFileExtension(type);
  if (area->memo) {
    block_size = static_cast<std::uint16_t>(area->memo->block_size);
    file_name = area->memo->file_name;
  }
  if (!name.empty()) file_name = ReplaceExtension(name, MemoFileExtension(type));
  CloseMemofile();
  if (!CreateMemofile(file_name, type, block_size, "CreateMemofile()")) return;
  OpenMemofile(table_text::WithoutExtension(file_name));
}

}  // namespace qd
