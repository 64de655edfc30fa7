// TQdBlobStream: the stream the file dataset hands out for a memo field. It
// makes the dataset's work area current before every call and maps the
// stream protocol onto the memo unit's blob descriptor (memo/blob_streams.h).
//
// Read mode reads the value whose block the field's slot of the active
// record holds. Write and read-write mode write a new value: the slot
// receives its block at once; when the stream ends the dataset is put into
// the edit state (when it is not editing or inserting already), the record
// buffer is stored into the engine record and the field-change event is
// sent, so that posting the record stores the new block. A stream that ends
// without having written anything empties the field. A value that could not
// be stored leaves the slot with its old block.
#pragma once

#include <cstdint>

#include "framework/classes.h"
#include "framework/fields.h"

namespace qd {

class TQdFileDataSet;

class TQdBlobStream : public fw::TStream {
 public:
  TQdBlobStream(TQdFileDataSet& dataset, fw::TField* field, fw::TBlobStreamMode mode, bool oem);
  ~TQdBlobStream() override;
  TQdBlobStream(const TQdBlobStream&) = delete;
  TQdBlobStream& operator=(const TQdBlobStream&) = delete;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, fw::TSeekOrigin origin) override;

  bool Modified() const { return modified_; }

 private:
  void Finish();
  // The field's slot in the active record buffer (nil without one), holding
  // the field's value: the dataset converts a loaded record's slots only
  // when they are read, so the slot is converted first, so the block read
  // is the record's and a block written is not replaced by a later
  // conversion.
  std::uint8_t* Slot();
  void PutSlot(std::int32_t block);

  TQdFileDataSet& dataset_;
  fw::TField* field_;
  fw::TBlobStreamMode mode_;
  bool opened_table_ = false;   // the table was opened for this stream
  bool descriptor_ = false;     // a blob descriptor was opened
  bool modified_ = false;
  std::int32_t old_block_ = 0;  // the slot's block before a write
  std::int32_t new_block_ = 0;  // the block of the value being written
};

}  // namespace qd
