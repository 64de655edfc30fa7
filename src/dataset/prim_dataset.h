// The primitive dataset: the layer between the record-set framework and a
// table cursor. It lays out the record buffers, keeps each buffer's record
// number and bookmark, maps the framework's requests onto a small set of
// abstract cursor operations (the Qdi operations) that a descendant
// supplies, and turns their result codes into exceptions.
//
// Record buffer layout (CalcRecordLayout):
//   0             record data, RecordSize bytes (defined by the descendant)
//   RecordSize    calculated-field area, CalcFieldsSize bytes: per calculated
//                 or lookup field a has-value byte, then DataSize bytes
//   BlobCacheOfs  4 bytes per blob field, reserved for the descendant
//   RecInfoOfs    record info, 6 bytes: record number (signed 32-bit,
//                 little-endian), one unused byte, the bookmark flag
//   BookmarkOfs   the bookmark, BookmarkSize bytes (from QdiGetBookmark)
//
// A concrete descendant must call CloseOnDestroy() in its destructor.
#pragma once

#include <cstdint>
#include <string>

#include "framework/dataset.h"

namespace qd {

// Result codes of the cursor operations. Any other non-zero value is an
// engine error code.
inline constexpr std::int32_t kDsOk = 0;
inline constexpr std::int32_t kDsNotOpened = 1401;  // the engine recorded no code of its own
inline constexpr std::int32_t kDsBof = 1402;        // before the first record
inline constexpr std::int32_t kDsEof = 1403;        // after the last record
inline constexpr std::int32_t kDsNoFileName = 1404;

class TQdPrimDataset : public fw::TDataSet {
 public:
  explicit TQdPrimDataset(fw::TComponent* owner = nullptr) : fw::TDataSet(owner) {}

  // Raises qd::Exception for a non-zero result code: "Dataset error: <code>"
  // for 1401 to 1403, "Missing DbfFilename property" for 1404, and
  // "Dataset error: <GetErrorText(code)>" for an engine code.
  void CheckResult(std::int32_t code);

  std::uint16_t RecordSize() const { return record_size_; }
  std::uint16_t RecBufSize() const { return rec_buf_size_; }
  std::uint16_t BookmarkOfs() const { return bookmark_ofs_; }
  std::uint16_t RecInfoOfs() const { return rec_info_ofs_; }
  std::uint16_t BlobCacheOfs() const { return blob_cache_ofs_; }
  bool CursorOpen() const { return cursor_open_; }

  // Framework operations implemented here.
  bool GetFieldData(fw::TField* field, void* buffer) override;
  void SetFieldData(fw::TField* field, const void* buffer) override;
  void SetRecNo(int value) override;
  bool GetCurrentRecord(fw::TRecordBuffer buffer) override;
  bool BookmarkValid(const fw::TBookmark& bookmark) override;
  int CompareBookmarks(const fw::TBookmark& a, const fw::TBookmark& b) override;
  bool Locate(const std::string& key_fields, const fw::Variant& key_values,
              fw::TLocateOptions options) override;
  fw::Variant Lookup(const std::string& key_fields, const fw::Variant& key_values,
                     const std::string& result_fields) override;
  bool IsSequenced() override { return !Filtered(); }

 protected:
  // ------------------------------------- operations a descendant supplies ---
  // Text of an engine error code; this class gives the code in decimal.
  virtual std::string GetErrorText(std::int32_t code);
  // The table has no current record; this class asks whether the buffers
  // hold no record.
  virtual bool IsTableEmpty();
  virtual std::int32_t QdiSetToBegin() = 0;
  virtual std::int32_t QdiSetToEnd() = 0;
  virtual std::int32_t QdiOpen() = 0;
  virtual std::int32_t QdiClose() = 0;
  // A count, not a result code.
  virtual std::int32_t QdiGetRecordCount() = 0;
  virtual std::int32_t QdiForceReread() = 0;
  virtual std::int32_t QdiAppendRecord(fw::TRecordBuffer buffer) = 0;
  virtual std::int32_t QdiInsertRecord(fw::TRecordBuffer buffer) = 0;
  virtual std::int32_t QdiDeleteRecord() = 0;
  virtual std::int32_t QdiInitRecord(fw::TRecordBuffer buffer) = 0;
  virtual std::int32_t QdiModifyRecord(fw::TRecordBuffer buffer) = 0;
  virtual std::uint16_t QdiGetRecordSize() = 0;
  // Read operations: the buffer may be null (move and check only).
  virtual std::int32_t QdiGetRecord(fw::TRecordBuffer buffer, std::int32_t& rec_no) = 0;
  virtual std::int32_t QdiGetNextRecord(fw::TRecordBuffer buffer, std::int32_t& rec_no) = 0;
  virtual std::int32_t QdiGetPriorRecord(fw::TRecordBuffer buffer, std::int32_t& rec_no) = 0;
  // Copies one data field of a record buffer in the field's native form;
  // the value buffer may be null.
  virtual std::int32_t QdiGetField(fw::TField* field, fw::TRecordBuffer record, bool& is_blank,
                                   void* value) = 0;
  // Stores one data field into a record buffer; a null value empties it.
  virtual std::int32_t QdiSetField(fw::TField* field, fw::TRecordBuffer record,
                                   const void* value) = 0;
  virtual std::int32_t QdiSetRecNo(std::int32_t rec_no) = 0;
  virtual bool QdiLocate(const std::string& key_fields, const fw::Variant& key_values,
                         fw::TLocateOptions options) = 0;
  virtual fw::Variant QdiLookup(const std::string& key_fields, const fw::Variant& key_values,
                                const std::string& result_fields) = 0;
  virtual std::uint16_t QdiGetBookmarkSize() = 0;
  virtual std::int32_t QdiGotoBookmark(const std::uint8_t* bookmark) = 0;
  virtual std::int32_t QdiGetBookmark(std::uint8_t* bookmark) = 0;
  // Order of two bookmarks: -1, 0 or 1.
  virtual std::int32_t QdiCompareBookmarks(const std::uint8_t* a, const std::uint8_t* b,
                                           int& order) = 0;

  // ------------------------------------------------------------ layout ---
  // Computes the offsets; with recompute_sizes it first asks the descendant
  // for the record and bookmark sizes. Raises fw::ERangeError when the
  // buffer would not fit in 16 bits.
  void CalcRecordLayout(bool recompute_sizes);
  // The buffer that field access uses in the current state, or null.
  fw::TRecordBuffer GetActiveRecBuf();
  // The record number kept in a buffer's record info.
  std::int32_t BufferRecNo(fw::TRecordBuffer buffer) const;

  // ------------------------------------------- framework operations ---
  fw::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(fw::TRecordBuffer& buffer) override;
  fw::TGetResult GetRecord(fw::TRecordBuffer buffer, fw::TGetMode mode, bool do_check) override;
  int GetRecordSize() override { return record_size_; }
  void GetBookmarkData(fw::TRecordBuffer buffer, std::uint8_t* data) override;
  void SetBookmarkData(fw::TRecordBuffer buffer, const std::uint8_t* data) override;
  fw::TBookmarkFlag GetBookmarkFlag(fw::TRecordBuffer buffer) override;
  void SetBookmarkFlag(fw::TRecordBuffer buffer, fw::TBookmarkFlag flag) override;
  void ClearCalcFields(fw::TRecordBuffer buffer) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const std::uint8_t* bookmark) override;
  void InternalSetToRecord(fw::TRecordBuffer buffer) override;
  void InternalInitRecord(fw::TRecordBuffer buffer) override;
  void InternalAddRecord(fw::TRecordBuffer buffer, bool append) override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalEdit() override;
  void InternalRefresh() override;
  void InternalHandleException() override;
  void DoOnNewRecord() override;
  int GetRecordCount() override;
  int GetRecNo() override;
  bool IsCursorOpen() override { return cursor_open_; }
  bool FindRecord(bool restart, bool go_forward) override;
  void OpenCursor(bool info_query) override;
  void InternalOpen() override;
  void InternalClose() override;
  void CloseCursor() override;

 private:
  void SetRecordNumber(fw::TRecordBuffer buffer, std::int32_t rec_no);
  // Refuses bookmarks that are not BookmarkSize bytes ("Invalid bookmark").
  void CheckBookmarkSize(const fw::TBookmark& bookmark) const;

  std::uint16_t record_size_ = 0;
  std::uint16_t rec_buf_size_ = 0;
  std::uint16_t bookmark_ofs_ = 0;
  std::uint16_t rec_info_ofs_ = 0;
  std::uint16_t blob_cache_ofs_ = 0;
  bool cursor_open_ = false;
};

}  // namespace qd
