// The file dataset's memo field stream.
#include "dataset/blob_stream.h"

#include <cstring>

#include "dataset/file_dataset.h"
#include "foundation/errors.h"
#include "memo/blob_streams.h"

namespace qd {

std::uint8_t* TQdBlobStream::Slot() {
  const fw::TRecordBuffer record = dataset_.GetActiveRecBuf();
  const std::uint16_t offset = dataset_.SlotOffset(field_->FieldNo());
  if (record == nullptr || offset == 0) return nullptr;
  dataset_.ConvertSlots(record, field_->FieldNo());
  return record + offset;
}

TQdBlobStream::TQdBlobStream(TQdFileDataSet& dataset, fw::TField* field, fw::TBlobStreamMode mode,
                             bool oem)
    : dataset_(dataset), field_(field), mode_(mode) {
  try {
    if (!dataset_.KeepsTableOpen()) {
      dataset_.DirectOpenClose(true);
      opened_table_ = true;
    }
    if (!dataset_.SelectWorkArea("CreateBlobStream")) return;
    const std::uint8_t* slot = Slot();
    if (slot != nullptr) std::memcpy(&old_block_, slot, sizeof old_block_);
    if (mode_ == fw::bmRead) {
      const std::int32_t block = slot == nullptr || dataset_.s_IsEmptyDbf() ? 0 : old_block_;
      descriptor_ = true;
      CreateBlobDescriptor(oem, block, kBlobRead);
      return;
    }
    // Nowhere to keep the new block: no stream (the field cannot be written).
    if (slot == nullptr) return;
    descriptor_ = true;
    new_block_ = CreateBlobDescriptor(oem, old_block_, kBlobWrite);
    if (new_block_ != 0) PutSlot(new_block_);
  } catch (...) {
    if (descriptor_ && dataset_.SelectWorkArea("DestroyBlobStream")) DestroyBlobDescriptor();
    if (opened_table_) dataset_.DirectOpenClose(false);
    throw;
  }
}

TQdBlobStream::~TQdBlobStream() {
  // A failure here has been reported already (and is kept in ErrorCode);
  // it cannot leave a destructor.
  try {
    Finish();
  } catch (...) {
  }
  try {
    if (opened_table_) dataset_.DirectOpenClose(false);
  } catch (...) {
  }
}

void TQdBlobStream::PutSlot(std::int32_t block) {
  if (std::uint8_t* slot = Slot()) std::memcpy(slot, &block, sizeof block);
}

void TQdBlobStream::Finish() {
  if (!descriptor_) return;
  descriptor_ = false;
  if (!dataset_.SelectWorkArea("DestroyBlobStream")) return;
  const bool writing = mode_ != fw::bmRead && new_block_ != 0;
  bool stored = false;
  try {
    stored = DestroyBlobDescriptor();
  } catch (...) {
    if (writing) PutSlot(old_block_);
    throw;
  }
  if (!writing) return;
  std::int32_t block = new_block_;
  if (!stored) {
    // Nothing usable was stored: the field keeps its value.
    PutSlot(old_block_);
    return;
  }
  if (!modified_) {
    // Opened for writing and closed without a byte: the field is emptied.
    block = 0;
    modified_ = true;
  }
  const fw::TDataSetState state = dataset_.State();
  if (state != fw::dsEdit && state != fw::dsInsert && state != fw::dsSetKey) {
    // Edit reads the record again into the active buffer.
    dataset_.Edit();
    if (!dataset_.SelectWorkArea("DestroyBlobStream")) return;
  }
  PutSlot(block);
  dataset_.StoreRecord(dataset_.GetActiveRecBuf(), TQdFileDataSet::kAllFields);
  if (modified_) dataset_.DataEvent(fw::deFieldChange, field_);
}

std::int32_t TQdBlobStream::Read(void* buffer, std::int32_t count) {
  if (!descriptor_ || !dataset_.SelectWorkArea("ReadBlobStream")) return 0;
  return ReadBlobStream(buffer, count);
}

std::int32_t TQdBlobStream::Write(const void* buffer, std::int32_t count) {
  if (!descriptor_ || !dataset_.SelectWorkArea("WriteBlobStream")) return 0;
  const std::int32_t written = WriteBlobStream(buffer, count);
  if (written > 0) modified_ = true;
  return written;
}

std::int64_t TQdBlobStream::Seek(std::int64_t offset, fw::TSeekOrigin origin) {
  if (!descriptor_ || !dataset_.SelectWorkArea("SeekBlobStream")) return 0;
  return SeekBlobStream(offset, static_cast<int>(origin));
}

}  // namespace qd
