// The record-set framework's dataset: a state machine, a ring of record
// buffers filled by the descendant's GetRecord, the open and close sequences,
// navigation, editing, bookmarks, searching and the events around them.
//
// A descendant supplies the cursor: buffer allocation, GetRecord, the
// Internal* operations, bookmarks and field data. The framework keeps up to
// BufferCount() records around the current one in its buffers and one spare
// (TempBuffer). Each buffer carries a bookmark flag (bfCurrent for a record
// read from the cursor; bfBOF, bfEOF or bfInserted for a new record) and the
// record's bookmark, which the framework uses to put the cursor back on the
// record of a buffer (UpdateCursorPos).
//
// Descendants that override the cursor operations must call
// CloseOnDestroy() in their destructor: the framework cannot reach their
// overrides once their part of the object is gone.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/component.h"
#include "framework/fields.h"
#include "framework/variant.h"

namespace qd::fw {

enum TDataSetState {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue,
  dsInternalCalc, dsBlockRead
};

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
// Value of a buffer's bookmark flag; 0 means the buffer holds a record read
// from the cursor.
enum TBookmarkFlag : std::uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

enum TDataEvent {
  deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange,
  deUpdateRecord, deUpdateState, deCheckBrowseMode
};

// Resync options (bit set).
enum TResyncOption : unsigned { rmExact = 1, rmCenter = 2 };
using TResyncMode = unsigned;

// Locate options (bit set).
enum TLocateOption : unsigned { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = unsigned;

enum TDataAction { daFail, daAbort, daRetry };

using TRecordBuffer = std::uint8_t*;
// A bookmark is an opaque byte string of BookmarkSize() bytes; empty means
// none.
using TBookmark = std::vector<std::uint8_t>;

using TDataSetNotifyEvent = std::function<void(TDataSet* dataset)>;
using TDataSetErrorEvent =
    std::function<void(TDataSet* dataset, const Exception& error, TDataAction& action)>;

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner = nullptr);
  ~TDataSet() override;

  // ------------------------------------------------------------- state ---
  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Modified() const { return modified_; }

  // ---------------------------------------------------------- fields ---
  TFieldDefs& FieldDefs() { return field_defs_; }
  const TFields& Fields() const { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(const std::string& name) const { return fields_.FindField(name); }
  TField* FieldByName(const std::string& name) const { return fields_.FieldByName(name); }
  // The fields named in a ";"-separated list; raises for an unknown name.
  std::vector<TField*> GetFieldList(const std::string& names) const;
  // The values of the named fields: one value, or an array for several.
  Variant FieldValues(const std::string& names) const;
  // The fields were made by the dataset from its field definitions.
  bool DefaultFields() const { return default_fields_; }
  bool AutoCalcFields = true;

  // ------------------------------------------------------ navigation ---
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Answers the number of records actually moved.
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  // True when the dataset holds no record (or is closed).
  bool IsEmpty() const { return active_record_ >= record_count_; }
  int RecordCount() { CheckActive(); return GetRecordCount(); }
  int RecNo() { return GetRecNo(); }
  // Moves to a record number (what setting RecNo does).
  virtual void SetRecNo(int /*value*/) {}
  virtual bool IsSequenced() { return true; }

  // --------------------------------------------------------- editing ---
  void Edit();
  void Insert();
  void Append();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  void Refresh();
  // Adds a record with the given field values (in field order; a null
  // variant leaves a field empty) and posts it at once.
  void InsertRecord(const std::vector<Variant>& values);
  void AppendRecord(const std::vector<Variant>& values);
  // Sends deUpdateRecord (editors write their pending text).
  void UpdateRecord();
  // Raises "Cannot modify a read-only dataset" unless CanModify.
  void CheckCanModify();
  virtual bool CanModify() { return true; }

  // ------------------------------------------------------- bookmarks ---
  // The current record's bookmark; empty when there is none (empty dataset,
  // a new record).
  TBookmark GetBookmark();
  // Raises "Invalid bookmark" for a bookmark of the wrong size.
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0 or 1.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);
  int BookmarkSize() const { return bookmark_size_; }

  // ------------------------------------------------------- searching ---
  virtual bool Locate(const std::string& key_fields, const Variant& key_values,
                      TLocateOptions options);
  virtual Variant Lookup(const std::string& key_fields, const Variant& key_values,
                         const std::string& result_fields);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool FindLast() { return FindRecord(true, false); }
  bool Found() const { return found_; }

  // --------------------------------------------------- field access ---
  // What the fields call. GetFieldData answers false for a null value.
  virtual bool GetFieldData(TField* field, void* buffer);
  virtual void SetFieldData(TField* field, const void* buffer);
  // A stream over a blob field's value of the active record; none by default.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  // Reads the cursor's current record into the buffer.
  virtual bool GetCurrentRecord(TRecordBuffer buffer);

  // ------------------------------------------------------- services ---
  // Raises "Cannot perform this operation on a closed dataset".
  void CheckActive() const;
  // Raises "Cannot perform this operation on an open dataset".
  void CheckInactive() const;
  // Checks the dataset is open and ends an edit: posts it when modified,
  // else cancels it.
  void CheckBrowseMode();
  // Puts the cursor back on the active record.
  void UpdateCursorPos();
  // Forgets which buffer the cursor stands on.
  void CursorPosChanged() { current_record_ = -1; }
  // Refills the buffers around the cursor's record: rmExact raises "Record
  // not found" when that record cannot be read; rmCenter places it in the
  // middle of the buffers.
  virtual void Resync(TResyncMode mode);
  virtual void DataEvent(TDataEvent event, TField* field = nullptr);

  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value) { filtered_ = value; }
  // Records read per call in block-read mode; >0 enters the block-read state.
  void SetBlockReadSize(int size);

  // Number of record buffers kept (at least 1); more keep several rows for
  // grid-like views. Changing it on an open dataset refills the buffers.
  int BufferCount() const { return buffer_count_; }
  void SetBufferCount(int count);
  // Rows held, and the index of the active one. Moving the active index
  // selects the row whose values the fields read; the cursor is not moved.
  int BufferedRecords() const { return record_count_; }
  int ActiveRecord() const { return active_record_; }
  void SetActiveRecord(int index);

  // ---------------------------------------------------------- events ---
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord;
  TDataSetErrorEvent OnDeleteError, OnEditError, OnPostError;

 protected:
  // ------------------------------------------ what a descendant supplies ---
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) = 0;
  virtual int GetRecordSize() { return 0; }
  virtual void GetBookmarkData(TRecordBuffer buffer, std::uint8_t* data) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const std::uint8_t* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalGotoBookmark(const std::uint8_t* bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append) = 0;
  virtual void InternalPost() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalRefresh() {}
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  // Called inside a catch block; the current exception is std::current_exception().
  virtual void InternalHandleException() {}
  virtual bool IsCursorOpen() = 0;
  virtual void ClearCalcFields(TRecordBuffer /*buffer*/) {}
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }
  virtual bool FindRecord(bool /*restart*/, bool /*go_forward*/) { return false; }
  virtual TFieldClass GetFieldClass(TFieldType type);

  // ------------------------------------------- open and close sequences ---
  // Opens the cursor: InternalOpen (or, for info_query, only
  // InternalInitFieldDefs).
  virtual void OpenCursor(bool info_query);
  // Frees the buffers and calls InternalClose.
  virtual void CloseCursor();
  // Builds the field definitions (opening the cursor briefly when needed).
  void InitFieldDefs();
  // Makes one field per definition (unknown types get none).
  void CreateFields();
  // Binds the fields to their definitions (numbers, calculated-area offsets,
  // sizes); unbinding clears them. Raises "Field '<name>' not found" for a
  // data field without a definition.
  void BindFields(bool binding);
  // Frees every field of the dataset.
  void DestroyFields();
  void CloseOnDestroy();

  // ---------------------------------------------------------- buffers ---
  TRecordBuffer ActiveBuffer() const;
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  TRecordBuffer TempBuffer() const;
  TRecordBuffer Buffer(int index) const;
  void ClearBuffers();
  // Computes the calculated fields of a buffer (calc-fields state, area
  // cleared first); does nothing without calculated fields.
  void GetCalcFields(TRecordBuffer buffer);
  // Makes the buffer the calculation buffer (it stays so afterwards), then
  // computes lookup values and calls OnCalcFields. A descendant that reads
  // field values from a buffer of its own (a lookup into the spare buffer)
  // switches to the calc-fields state and calls this with that buffer.
  virtual void CalculateFields(TRecordBuffer buffer);
  void SetCalcBuffer(TRecordBuffer buffer) { calc_buffer_ = buffer; }
  int CalcFieldsSize() const { return calc_fields_size_; }
  int BlobFieldCount() const { return blob_field_count_; }
  void SetBookmarkSize(int size) { bookmark_size_ = size; }
  void SetFound(bool value) { found_ = value; }

  void SetState(TDataSetState state) { state_ = state; }
  // Switches to a temporary state; answers the old one for RestoreState.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state) { state_ = state; }

  // --------------------------------------------------------- events ---
  virtual void DoBeforeOpen() { Fire(BeforeOpen); }
  virtual void DoAfterOpen() { Fire(AfterOpen); }
  virtual void DoBeforeClose() { Fire(BeforeClose); }
  virtual void DoAfterClose() { Fire(AfterClose); }
  virtual void DoBeforeInsert() { Fire(BeforeInsert); }
  virtual void DoAfterInsert() { Fire(AfterInsert); }
  virtual void DoBeforeEdit() { Fire(BeforeEdit); }
  virtual void DoAfterEdit() { Fire(AfterEdit); }
  virtual void DoBeforePost() { Fire(BeforePost); }
  virtual void DoAfterPost() { Fire(AfterPost); }
  virtual void DoBeforeCancel() { Fire(BeforeCancel); }
  virtual void DoAfterCancel() { Fire(AfterCancel); }
  virtual void DoBeforeDelete() { Fire(BeforeDelete); }
  virtual void DoAfterDelete() { Fire(AfterDelete); }
  virtual void DoBeforeScroll() { Fire(BeforeScroll); }
  virtual void DoAfterScroll() { Fire(AfterScroll); }
  virtual void DoOnCalcFields() { Fire(OnCalcFields); }
  virtual void DoOnNewRecord() { Fire(OnNewRecord); }

  void Loaded() override;

 private:
  friend class TField;
  friend class TFieldDefs;
  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(this);
  }
  void DoInternalOpen();
  void AllocateBuffers();
  void FreeBuffers();
  void SetCurrentRecord(int index);
  bool GetNextRecord();
  bool GetPriorRecord();
  void GetNextRecords();
  void GetPriorRecords();
  void ActivateBuffers();
  void MoveBufferTo(int from, int to);
  void InitRecord(TRecordBuffer buffer);
  void BeginInsertAppend();
  void EndInsertAppend();
  void AddRecord(const std::vector<Variant>& values, bool append);
  void CheckRequiredFields();
  void CalculateLookupValue(TField* field);
  // Runs an update, asking the error event what to do when it fails.
  void RunWithErrorEvent(const TDataSetErrorEvent& event, const std::function<void()>& action);
  void AddField(TField* field);
  void RemoveField(TField* field);

  TDataSetState state_ = dsInactive;
  TFieldDefs field_defs_;
  TFields fields_;
  bool default_fields_ = false;
  bool streamed_active_ = false;
  bool modified_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool found_ = false;
  bool filtered_ = false;
  int block_read_size_ = 0;
  int bookmark_size_ = 0;
  int calc_fields_size_ = 0;
  int blob_field_count_ = 0;

  // buffers_ holds buffer_count_ + 1 buffers while the dataset is open;
  // the first record_count_ hold rows, the next is the spare.
  std::vector<TRecordBuffer> buffers_;
  int buffer_count_ = 1;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;  // buffer the cursor stands on; -1 unknown
  TRecordBuffer calc_buffer_ = nullptr;
};

}  // namespace qd::fw
