// The table dataset: a primitive dataset bound to one engine work area. It
// answers every cursor operation with the table engine, defines the record
// data of the record buffers, converts field values between the work area's
// native record and the framework's field forms, and builds the field
// definitions from the table's fields. TQdCDataSet adds the read-only switch
// and is the base of the file dataset, which supplies opening the table and
// the locked updates.
//
// Record data (offset 0 of every record buffer): byte 0 is the deletion flag
// (1 marked deleted), then one slot per named field in table order:
//   C          length + 1  length byte, then the characters    ftString
//   D          8           date-time number, 0 = blank          ftDate
//   N/F dec>0  8           64-bit float                         ftFloat
//   N/F dec=0  4           32-bit integer (up to 9 digits)      ftInteger
//   N/F dec=0  8           64-bit integer (10 to 18 digits)     ftLargeint
//   N/F wide   length + 1  length byte, then the number's text  ftFMTBcd
//              (19 digits or more without decimals, or wider than 20: the
//              stored text, blanks removed, exact at any width)
//   L          2           1 true / 0 false, then 0             ftBoolean
//   M          4           memo block number                    ftMemo
// Fields of any other type, and fields without a name, have no slot.
//
// After the slots (RecDataSize bytes) come a copy of the native record as it
// was loaded and one byte per engine field, 1 while that field's slot has
// not been converted from the copy yet. Loading a record copies the native
// record only; a field is converted when it is first read (or all of them
// when the whole record is needed: posting, GetCurrentRecord). A buffer
// cleared to zeros holds converted, empty slots. A table whose record data
// would not fit in 16 bits this way is converted whole on loading.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dataset/prim_dataset.h"
#include "framework/classes.h"
#include "table/work_areas.h"

namespace qd {

// Character set of a table's text.
enum class TQdTableLanguage : std::uint8_t { tlOem = 0, tlAnsi = 1 };

// One table field as the dataset sees it.
struct TDTField {
  std::string Name;
  char Type = 'C';             // C, D, F, L, M, N (B, G, P read as M)
  std::uint16_t Length = 0;
  std::uint16_t Decimals = 0;
  std::uint16_t Offset = 0;    // of the value in the native record
  NativeSlot Slot = NativeSlot::Text;
};

// The field map of an open table: the table's fields and the native record
// image they live in, either the work area's live native record or a
// private copy taken when the table does not stay open.
class TDbfFieldProps {
 public:
  // Reads the fields of the current work area's table. With `copy_image`
  // the native record is copied and the map refers to the copy.
  explicit TDbfFieldProps(bool copy_image);

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Field n counted from 1.
  const TDTField& Field(int n) const { return fields_.at(static_cast<std::size_t>(n - 1)); }
  // Address of field n's value; field 0 is the deletion flag.
  std::uint8_t* Address(int n) const;
  std::uint16_t OwnedSize() const { return static_cast<std::uint16_t>(owned_.size()); }
  // Size of the native record image.
  std::uint16_t ImageSize() const { return image_size_; }
  bool Valid() const { return image_ != nullptr; }

 private:
  std::uint8_t* image_ = nullptr;
  std::uint16_t image_size_ = 0;
  std::vector<std::uint8_t> owned_;
  std::vector<TDTField> fields_;
};

class TQdDataSet : public TQdPrimDataset {
 public:
  explicit TQdDataSet(fw::TComponent* owner = nullptr);
  ~TQdDataSet() override;

  // ------------------------------------------------------- properties ---
  const std::string& DbfFileName() const { return dbf_file_name_; }
  // Closes the dataset, stores the trimmed name (with ".DBF" added when it
  // has no extension and does not end in a dot) and reopens it when it was
  // open. An empty name leaves the dataset closed.
  void SetDbfFileName(const std::string& name);
  bool HideDeletedRecs() const { return hide_deleted_recs_; }
  // On an open dataset the records marked deleted disappear (or appear) at
  // once; a current record that is hidden now is left for a visible one.
  void SetHideDeletedRecs(bool value);
  TQdTableLanguage TableLanguage() const { return table_language_; }
  void SetTableLanguage(TQdTableLanguage value) { table_language_ = value; }
  bool ShowProgress() const { return show_progress_; }
  void SetShowProgress(bool value) { show_progress_ = value; }
  // The structure list: one line "NAME, C, 10, 0" per table field.
  fw::TStringList& DbfFields() { return *dbf_fields_; }

  fw::TDataSetNotifyEvent BeforeRestore, AfterRestore;

  // --------------------------------------------------------- state ---
  std::uint8_t WorkArea() const { return work_area_; }
  std::uint16_t RecDataSize() const { return rec_data_size_; }
  bool Designing() const { return designing_; }
  bool AtBOF() const { return at_bof_; }
  bool AtEOF() const { return at_eof_; }
  const TDbfFieldProps* FieldProps() const { return field_props_.get(); }
  // Offset in the record data of each field definition, in definition order.
  const std::vector<std::uint16_t>& FieldOffsets() const { return field_offsets_; }

  // ----------------------------------------------------- operations ---
  // Opens (true) or closes (false) the table in the dataset's work area
  // while the dataset is active but does not keep its table open. Reports
  // 1103 "DataSet must be active. <name>" on an inactive dataset.
  void DirectOpenClose(bool open);
  // Refills the buffers after the engine moved the record pointer itself.
  void ResyncFromEngine();
  // Recalls the current record (removes its deletion mark): BeforeRestore,
  // the locked recall, AfterRestore, then the buffers are refreshed. Refused
  // on an empty dataset.
  void Restore();

  // Framework operations.
  void Post() override;
  bool GetFieldData(fw::TField* field, void* buffer) override;
  // Fills `buffer` with the current record, every field converted.
  bool GetCurrentRecord(fw::TRecordBuffer buffer) override;

  // ----------------------------------------------- structure list ---
  // Refills DbfFields from the open table (at design time only).
  void FillDbfFields();
  // Creates the table DbfFileName from DbfFields; true when it was created.
  bool CreateTableFromDbfFields();

 protected:
  // ------------------------------- what the file dataset supplies ---
  // Opens the table `file_name` in the current work area (clearing
  // ErrorCode first, so that a failure is the open's own); true on success.
  virtual bool OpenTable(const std::string& file_name) = 0;
  // The locked updates on the current work area: take the append or record
  // lock, append the native record / delete / recall / replace the current
  // record, release the lock.
  virtual void s_AppendWithLock() = 0;
  virtual void s_DeleteWithLock() = 0;
  virtual void s_RestoreWithLock() = 0;
  virtual void s_ReplaceWithLock() = 0;
  // Whether the table stays open while the dataset is active; here exactly
  // when not designing.
  virtual bool KeepsTableOpen() { return !designing_; }

  // Makes the dataset's work area current and sets the engine's ANSI switch
  // from TableLanguage. Without a work area reports 1103 "Database is not
  // open [<name>.<label>]", asks the host to terminate and answers false.
  virtual bool SelectWorkArea(const char* label);
  virtual void DoBeforeRestore();
  virtual void DoAfterRestore();

  // The table has no visible record (the engine is at both ends).
  bool s_IsEmptyDbf();
  // Goes to record n when it exists, else to the end; answers 0.
  std::int32_t SafeGo(std::int32_t n);

  // Native record <-> record data. `which` is a field number, or kAllFields.
  static constexpr int kAllFields = -1;
  void LoadRecord(fw::TRecordBuffer buffer);
  void StoreRecord(fw::TRecordBuffer buffer, int which);
  // Converts engine field n (every field for kAllFields) of a loaded buffer
  // from its native copy into its slot, when that has not happened yet.
  void ConvertSlots(fw::TRecordBuffer buffer, int which);

  // ------------------------------------------------ cursor operations ---
  std::string GetErrorText(std::int32_t code) override;
  bool IsTableEmpty() override;
  std::int32_t QdiSetToBegin() override;
  std::int32_t QdiSetToEnd() override;
  std::int32_t QdiOpen() override;
  std::int32_t QdiClose() override;
  std::int32_t QdiGetRecordCount() override;
  std::int32_t QdiForceReread() override;
  std::int32_t QdiAppendRecord(fw::TRecordBuffer buffer) override;
  std::int32_t QdiInsertRecord(fw::TRecordBuffer buffer) override;
  std::int32_t QdiDeleteRecord() override;
  std::int32_t QdiInitRecord(fw::TRecordBuffer buffer) override;
  std::int32_t QdiModifyRecord(fw::TRecordBuffer buffer) override;
  std::uint16_t QdiGetRecordSize() override;
  std::int32_t QdiGetRecord(fw::TRecordBuffer buffer, std::int32_t& rec_no) override;
  std::int32_t QdiGetNextRecord(fw::TRecordBuffer buffer, std::int32_t& rec_no) override;
  std::int32_t QdiGetPriorRecord(fw::TRecordBuffer buffer, std::int32_t& rec_no) override;
  std::int32_t QdiGetField(fw::TField* field, fw::TRecordBuffer record, bool& is_blank,
                           void* value) override;
  std::int32_t QdiSetField(fw::TField* field, fw::TRecordBuffer record,
                           const void* value) override;
  std::int32_t QdiSetRecNo(std::int32_t rec_no) override;
  bool QdiLocate(const std::string& key_fields, const fw::Variant& key_values,
                 fw::TLocateOptions options) override;
  fw::Variant QdiLookup(const std::string& key_fields, const fw::Variant& key_values,
                        const std::string& result_fields) override;
  std::uint16_t QdiGetBookmarkSize() override { return 4; }
  std::int32_t QdiGotoBookmark(const std::uint8_t* bookmark) override;
  std::int32_t QdiGetBookmark(std::uint8_t* bookmark) override;
  std::int32_t QdiCompareBookmarks(const std::uint8_t* a, const std::uint8_t* b,
                                   int& order) override;

  // ----------------------------------------------- framework operations ---
  void InternalInitFieldDefs() override;
  fw::TFieldClass GetFieldClass(fw::TFieldType type) override;
  fw::TGetResult GetRecord(fw::TRecordBuffer buffer, fw::TGetMode mode, bool do_check) override;
  void InternalCancel() override;
  // Offset of engine field n's slot in the record data, 0 for none.
  std::uint16_t SlotOffset(int field_no) const;

 private:
  // Slot layout of the record data from the field map; fills
  // field_offsets_ and slot_offsets_ and answers RecDataSize.
  std::uint16_t ComputeRecordLayout();
  // Converts field n from the native image at `native` into its slot.
  void ConvertField(fw::TRecordBuffer buffer, int n, const std::uint8_t* native);
  // The part of QdiOpen that opens the table in the selected work area and
  // builds the field map; false when the table did not open.
  bool OpenInSelectedArea();

  std::uint8_t work_area_ = 0;
  std::uint16_t rec_data_size_ = 0;
  bool designing_ = false;
  bool at_bof_ = false;
  bool at_eof_ = false;
  // The dataset has the table open in its work area (so closing it is
  // this dataset's business).
  bool holds_table_ = false;
  std::string open_file_name_;  // full name of the table it holds
  std::unique_ptr<fw::TStringList> dbf_fields_;
  std::string dbf_file_name_;
  bool show_progress_ = true;
  std::unique_ptr<TDbfFieldProps> field_props_;
  TQdTableLanguage table_language_ = TQdTableLanguage::tlOem;
  bool hide_deleted_recs_ = false;
  std::vector<std::uint16_t> field_offsets_;
  std::vector<std::uint16_t> slot_offsets_;  // by engine field number, 0 = none
  // Where the native copy and the conversion marks start in the record
  // data; 0 when records are converted whole on loading.
  std::uint16_t image_offset_ = 0;
  std::uint16_t marks_offset_ = 0;
  std::uint16_t record_data_total_ = 0;  // slots, copy and marks
  // Where the cursor stands around the one record image of a table that is
  // not kept open: before it, on it or after it.
  enum class ImagePosition : std::uint8_t { Before, On, After };
  ImagePosition image_position_ = ImagePosition::Before;
  // Record buffer that field reads use while a lookup collects its values.
  fw::TRecordBuffer lookup_buffer_ = nullptr;
};

// Publishes the properties a host sets and adds ReadOnly; still abstract.
class TQdCDataSet : public TQdDataSet {
 public:
  using TQdDataSet::TQdDataSet;
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  bool CanModify() override { return !read_only_; }

 private:
  bool read_only_ = false;
};

// Unit start-up: the engine's decimal and thousands characters and its date
// format (with the century setting) from the host's regional settings, so
// that the engine's date text and the host's date reading agree.
void InitDatasetUnit();

}  // namespace qd
