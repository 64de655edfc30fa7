// A tiny in-memory dataset for the framework tests: rows of fixed-width
// values, one per field definition, with a null byte before each value, a
// cursor that stands before, on or after a row, and bookmarks that are row
// identities. It records the order of the cursor calls the framework makes.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "framework/dataset.h"

namespace qd::fw::testing {

class MemoryDataSet : public TDataSet {
 public:
  struct Column {
    std::string name;
    TFieldType type;
    int size;
  };

  explicit MemoryDataSet(std::vector<Column> columns, TComponent* owner = nullptr)
      : TDataSet(owner), columns_(std::move(columns)) {
    int offset = 0;
    for (const Column& column : columns_) {
      offsets_.push_back(offset);
      offset += 1 + SlotSize(column);
    }
    record_size_ = offset;
  }
  ~MemoryDataSet() override { CloseOnDestroy(); }

  std::vector<std::string> calls;  // cursor operations, in order
  bool read_only = false;

  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Adds a row directly (not through the framework); values as text.
  void AddRow(const std::vector<std::string>& values) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(record_size_), 0);
    for (std::size_t i = 0; i < values.size() && i < columns_.size(); ++i)
      PutText(row.data(), i, values[i]);
    rows_.push_back(Row{next_id_++, std::move(row)});
  }
  // A row's value as text ("" for null).
  std::string RowText(int row, int column) const {
    return GetText(rows_.at(static_cast<std::size_t>(row)).data.data(),
                   static_cast<std::size_t>(column));
  }

  bool CanModify() override { return !read_only; }
  int GetRecordCount() override { return RowCount(); }
  int GetRecNo() override {
    TRecordBuffer buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
    if (buffer == nullptr || (State() != dsCalcFields && IsEmpty())) return 0;
    const int id = BookmarkOf(buffer);
    for (std::size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].id == id) return static_cast<int>(i) + 1;
    return 0;
  }

  bool Locate(const std::string& key_fields, const Variant& key_values,
              TLocateOptions options) override {
    CheckBrowseMode();
    const std::vector<TField*> keys = GetFieldList(key_fields);
    for (std::size_t r = 0; r < rows_.size(); ++r) {
      bool match = true;
      for (std::size_t k = 0; k < keys.size() && match; ++k) {
        std::string have = GetText(rows_[r].data.data(),
                                   static_cast<std::size_t>(keys[k]->FieldNo() - 1));
        std::string want = key_values[static_cast<int>(k)].AsString();
        if ((options & loCaseInsensitive) != 0) {
          have = UpperCase(have);
          want = UpperCase(want);
        }
        match = (options & loPartialKey) != 0 ? have.rfind(want, 0) == 0 : have == want;
      }
      if (match) {
        DoBeforeScroll();
        position_ = static_cast<int>(r);
        Resync(rmExact | rmCenter);
        DoAfterScroll();
        return true;
      }
    }
    return false;
  }

  Variant Lookup(const std::string& key_fields, const Variant& key_values,
                 const std::string& result_fields) override {
    const std::vector<TField*> keys = GetFieldList(key_fields);
    const std::vector<TField*> results = GetFieldList(result_fields);
    for (const Row& row : rows_) {
      bool match = true;
      for (std::size_t k = 0; k < keys.size() && match; ++k)
        match = GetText(row.data.data(), static_cast<std::size_t>(keys[k]->FieldNo() - 1)) ==
                key_values[static_cast<int>(k)].AsString();
      if (match) return Variant(GetText(row.data.data(),
                                        static_cast<std::size_t>(results[0]->FieldNo() - 1)));
    }
    return Variant();
  }

  bool GetFieldData(TField* field, void* buffer) override {
    TRecordBuffer record = ReadBuffer();
    if (record == nullptr) return false;
    if (field->IsCalculated()) {
      const std::uint8_t* slot = record + record_size_ + field->Offset();
      if (slot[0] == 0) return false;
      if (buffer != nullptr) std::memcpy(buffer, slot + 1, static_cast<std::size_t>(field->DataSize()));
      return true;
    }
    const std::size_t column = static_cast<std::size_t>(field->FieldNo() - 1);
    const std::uint8_t* slot = record + offsets_[column];
    if (slot[0] == 0) return false;
    if (buffer != nullptr && field->DataSize() > 0)
      std::memcpy(buffer, slot + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
  }

  void SetFieldData(TField* field, const void* buffer) override {
    if (State() != dsEdit && State() != dsInsert && State() != dsCalcFields)
      DatabaseError("Dataset not in edit or insert mode");
    if (!field->IsCalculated() && field->ReadOnly())
      DatabaseErrorFmt("Field '%s' cannot be modified", field->DisplayName());
    field->Validate(buffer);
    TRecordBuffer record = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
    std::uint8_t* slot = field->IsCalculated()
                             ? record + record_size_ + field->Offset()
                             : record + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
    slot[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) std::memcpy(slot + 1, buffer, static_cast<std::size_t>(field->DataSize()));
    else std::memset(slot + 1, 0, static_cast<std::size_t>(field->DataSize()));
    if (State() != dsCalcFields) DataEvent(deFieldChange, field);
  }

  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;

  using TDataSet::ActiveBuffer;
  using TDataSet::BlobFieldCount;
  using TDataSet::CalcFieldsSize;

 protected:
  TRecordBuffer AllocRecordBuffer() override {
    return new std::uint8_t[static_cast<std::size_t>(BufferSize())]();
  }
  void FreeRecordBuffer(TRecordBuffer& buffer) override {
    delete[] buffer;
    buffer = nullptr;
  }
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool /*do_check*/) override {
    const int count = RowCount();
    if (mode == gmNext) position_ = std::min(position_ + 1, count);
    else if (mode == gmPrior) position_ = std::max(position_ - 1, -1);
    if (position_ < 0) return grBOF;
    if (position_ >= count) return grEOF;
    const Row& row = rows_[static_cast<std::size_t>(position_)];
    std::memcpy(buffer, row.data.data(), static_cast<std::size_t>(record_size_));
    SetFlag(buffer, bfCurrent);
    SetId(buffer, row.id);
    GetCalcFields(buffer);
    return grOK;
  }
  int GetRecordSize() override { return record_size_; }
  void GetBookmarkData(TRecordBuffer buffer, std::uint8_t* data) override {
    std::memcpy(data, buffer + InfoOffset() + 1, 4);
  }
  void SetBookmarkData(TRecordBuffer buffer, const std::uint8_t* data) override {
    std::memcpy(buffer + InfoOffset() + 1, data, 4);
  }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override {
    return static_cast<TBookmarkFlag>(buffer[InfoOffset()]);
  }
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override { SetFlag(buffer, flag); }
  void InternalFirst() override { calls.push_back("First"); position_ = -1; }
  void InternalLast() override { calls.push_back("Last"); position_ = RowCount(); }
  void InternalGotoBookmark(const std::uint8_t* bookmark) override {
    std::int32_t id = 0;
    std::memcpy(&id, bookmark, 4);
    for (std::size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].id == id) {
        position_ = static_cast<int>(i);
        return;
      }
    DatabaseError("Record not found");
  }
  void InternalSetToRecord(TRecordBuffer buffer) override {
    calls.push_back("SetToRecord");
    std::uint8_t bookmark[4];
    GetBookmarkData(buffer, bookmark);
    InternalGotoBookmark(bookmark);
  }
  void InternalInitRecord(TRecordBuffer buffer) override {
    std::memset(buffer, 0, static_cast<std::size_t>(record_size_));
  }
  void InternalAddRecord(TRecordBuffer buffer, bool append) override {
    calls.push_back(append ? "AddRecord(append)" : "AddRecord(insert)");
    Row row{next_id_++, std::vector<std::uint8_t>(buffer, buffer + record_size_)};
    const int at = append || position_ < 0 ? RowCount() : std::min(position_, RowCount());
    rows_.insert(rows_.begin() + at, std::move(row));
    position_ = at;
  }
  void InternalPost() override {
    calls.push_back("Post");
    TRecordBuffer buffer = ActiveBuffer();
    if (State() == dsEdit) {
      std::memcpy(rows_.at(static_cast<std::size_t>(position_)).data.data(), buffer,
                  static_cast<std::size_t>(record_size_));
      return;
    }
    const bool at_end = GetBookmarkFlag(buffer) == bfEOF || position_ < 0;
    InternalAddRecord(buffer, at_end);
    calls.pop_back();
  }
  void InternalDelete() override {
    calls.push_back("Delete");
    rows_.erase(rows_.begin() + position_);
  }
  void InternalEdit() override { calls.push_back("Edit"); }
  void InternalCancel() override { calls.push_back("Cancel"); }
  void InternalRefresh() override { calls.push_back("Refresh"); }
  void InternalOpen() override {
    calls.push_back("InternalOpen");
    open_ = true;
    FieldDefs().SetUpdated(false);
    FieldDefs().Update();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(4);
    position_ = -1;
  }
  void InternalClose() override {
    calls.push_back("InternalClose");
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    open_ = false;
  }
  void InternalInitFieldDefs() override {
    calls.push_back("InitFieldDefs");
    FieldDefs().Clear();
    for (const Column& column : columns_) FieldDefs().Add(column.name, column.type, column.size);
  }
  bool IsCursorOpen() override { return open_; }
  void ClearCalcFields(TRecordBuffer buffer) override {
    std::memset(buffer + record_size_, 0, static_cast<std::size_t>(CalcFieldsSize()));
  }

 private:
  struct Row {
    std::int32_t id;
    std::vector<std::uint8_t> data;
  };
  static constexpr int kBlobSlot = 64;

  static int SlotSize(const Column& column) {
    switch (column.type) {
      case ftString: return column.size + 1;
      case ftInteger: case ftDate: case ftTime: return 4;
      case ftLargeint: case ftFloat: case ftDateTime: return 8;
      case ftBoolean: return 2;
      case ftBlob: case ftMemo: return kBlobSlot;
      default: return 0;
    }
  }
  int InfoOffset() const { return record_size_ + CalcFieldsSize(); }
  int BufferSize() const { return InfoOffset() + 5; }
  void SetFlag(TRecordBuffer buffer, TBookmarkFlag flag) { buffer[InfoOffset()] = flag; }
  void SetId(TRecordBuffer buffer, std::int32_t id) { std::memcpy(buffer + InfoOffset() + 1, &id, 4); }
  int BookmarkOf(TRecordBuffer buffer) {
    std::int32_t id = 0;
    std::memcpy(&id, buffer + InfoOffset() + 1, 4);
    return id;
  }
  TRecordBuffer ReadBuffer() {
    switch (State()) {
      case dsCalcFields: return CalcBuffer();
      case dsBrowse: case dsBlockRead: return IsEmpty() ? nullptr : ActiveBuffer();
      case dsEdit: case dsInsert: return ActiveBuffer();
      default: return nullptr;
    }
  }

  void PutText(std::uint8_t* row, std::size_t column, const std::string& text) {
    const Column& c = columns_[column];
    std::uint8_t* slot = row + offsets_[column];
    if (text.empty() && c.type != ftString) return;
    slot[0] = 1;
    switch (c.type) {
      case ftString: std::strncpy(reinterpret_cast<char*>(slot + 1), text.c_str(), static_cast<std::size_t>(c.size)); break;
      case ftInteger: { std::int32_t v = std::stoi(text); std::memcpy(slot + 1, &v, 4); break; }
      case ftLargeint: { std::int64_t v = std::stoll(text); std::memcpy(slot + 1, &v, 8); break; }
      case ftFloat: { double v = std::stod(text); std::memcpy(slot + 1, &v, 8); break; }
      case ftBoolean: { std::uint16_t v = text == "T" ? 1 : 0; std::memcpy(slot + 1, &v, 2); break; }
      case ftDate: { std::int32_t v = DateTimeToTimeStamp(StrToDate(text)).Date; std::memcpy(slot + 1, &v, 4); break; }
      case ftMemo: case ftBlob:
        slot[1] = static_cast<std::uint8_t>(std::min<std::size_t>(text.size(), kBlobSlot - 2));
        std::memcpy(slot + 2, text.data(), slot[1]);
        break;
      default: break;
    }
  }
  std::string GetText(const std::uint8_t* row, std::size_t column) const {
    const Column& c = columns_[column];
    const std::uint8_t* slot = row + offsets_[column];
    if (slot[0] == 0) return "";
    switch (c.type) {
      case ftString: return std::string(reinterpret_cast<const char*>(slot + 1));
      case ftInteger: { std::int32_t v; std::memcpy(&v, slot + 1, 4); return std::to_string(v); }
      case ftLargeint: { std::int64_t v; std::memcpy(&v, slot + 1, 8); return std::to_string(v); }
      case ftFloat: { double v; std::memcpy(&v, slot + 1, 8); return FloatToStr(v); }
      case ftBoolean: return slot[1] != 0 ? "T" : "F";
      case ftMemo: case ftBlob: return std::string(reinterpret_cast<const char*>(slot + 2), slot[1]);
      default: return "?";
    }
  }

  friend class MemoryBlobStream;
  std::vector<Column> columns_;
  std::vector<int> offsets_;
  int record_size_ = 0;
  std::vector<Row> rows_;
  std::int32_t next_id_ = 1;
  int position_ = -1;
  bool open_ = false;

 public:
  // The blob slot of a field in the record the fields read.
  std::uint8_t* BlobSlot(TField* field) {
    TRecordBuffer record = ReadBuffer();
    return record == nullptr ? nullptr : record + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
  }
};

// Reads a blob slot; a write stream collects the bytes and stores them into
// the active record when it is destroyed (entering the edit state if needed).
class MemoryBlobStream : public TMemoryStream {
 public:
  MemoryBlobStream(MemoryDataSet& dataset, TField* field, TBlobStreamMode mode)
      : dataset_(dataset), field_(field), mode_(mode) {
    if (mode_ == bmRead) {
      const std::uint8_t* slot = dataset_.BlobSlot(field_);
      if (slot != nullptr && slot[0] != 0) {
        Write(slot + 2, slot[1]);
        SetPosition(0);
      }
    }
  }
  ~MemoryBlobStream() override {
    if (mode_ == bmRead) return;
    if (dataset_.State() != dsEdit && dataset_.State() != dsInsert) dataset_.Edit();
    std::uint8_t* slot = dataset_.BlobSlot(field_);
    const auto length = static_cast<std::uint8_t>(std::min<std::int64_t>(Size(), 62));
    slot[0] = length > 0 ? 1 : 0;
    slot[1] = length;
    if (length > 0) std::memcpy(slot + 2, Memory(), length);
    dataset_.DataEvent(deFieldChange, field_);
  }

 private:
  MemoryDataSet& dataset_;
  TField* field_;
  TBlobStreamMode mode_;
};

inline std::unique_ptr<TStream> MemoryDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<MemoryBlobStream>(*this, field, mode);
}

}  // namespace qd::fw::testing
