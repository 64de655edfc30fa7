// The dataset: state machine, record buffer ring, open and close sequences,
// navigation, editing, bookmarks and field binding.
#include "framework/dataset.h"

#include <algorithm>

namespace qd::fw {

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), field_defs_(this) {}

TDataSet::~TDataSet() {
  Destroying();
  // A descendant has closed the dataset in its own destructor
  // (CloseOnDestroy); only the fields remain. Each removes itself.
  while (!fields_.items_.empty()) delete fields_.items_.back();
}

void TDataSet::CloseOnDestroy() {
  Destroying();
  // A destructor cannot pass a failure on: a close that raises goes to the
  // application's exception handler instead of ending the program.
  try {
    SetActive(false);
  } catch (...) {
    InternalHandleException();
  }
}

// ------------------------------------------------------------ open / close ---

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (IsLoading()) {
    streamed_active_ = value;
    return;
  }
  if (value) {
    DoBeforeOpen();
    try {
      OpenCursor(false);
      SetState(dsBrowse);
      ClearBuffers();
      GetNextRecords();
      bof_ = true;
    } catch (...) {
      SetState(dsInactive);
      try {
        CloseCursor();
      } catch (...) {
        // The first failure is the one worth reporting.
      }
      throw;
    }
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
  } else {
    if (!IsDestroying()) DoBeforeClose();
    SetState(dsInactive);
    CloseCursor();
    if (!IsDestroying()) DoAfterClose();
  }
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (!streamed_active_) return;
  try {
    SetActive(true);
  } catch (...) {
    if (!IsDesigning()) throw;
    InternalHandleException();
  }
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query) InternalInitFieldDefs();
  else DoInternalOpen();
}

void TDataSet::DoInternalOpen() {
  default_fields_ = fields_.Count() == 0;
  modified_ = false;
  found_ = false;
  InternalOpen();
  AllocateBuffers();
}

void TDataSet::CloseCursor() {
  FreeBuffers();
  InternalClose();
  default_fields_ = false;
  modified_ = false;
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  try {
    OpenCursor(true);
  } catch (...) {
    try {
      CloseCursor();
    } catch (...) {
      // The first failure is the one worth reporting.
    }
    throw;
  }
  CloseCursor();
}

void TDataSet::AllocateBuffers() {
  FreeBuffers();
  buffers_.reserve(static_cast<std::size_t>(buffer_count_) + 1);
  for (int i = 0; i <= buffer_count_; ++i) buffers_.push_back(AllocRecordBuffer());
  ClearBuffers();
}

void TDataSet::FreeBuffers() {
  for (TRecordBuffer& buffer : buffers_) FreeRecordBuffer(buffer);
  buffers_.clear();
  calc_buffer_ = nullptr;
  ClearBuffers();
}

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) DatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) DatabaseError("Cannot perform this operation on an open dataset");
}

// ------------------------------------------------------------- fields ---

TFieldClass TDataSet::GetFieldClass(TFieldType type) {
  switch (type) {
    case ftString: return &NewField<TStringField>;
    case ftInteger: return &NewField<TIntegerField>;
    case ftLargeint: return &NewField<TLargeintField>;
    case ftFloat: return &NewField<TFloatField>;
    case ftBoolean: return &NewField<TBooleanField>;
    case ftDate: return &NewField<TDateField>;
    case ftTime: return &NewField<TTimeField>;
    case ftDateTime: return &NewField<TDateTimeField>;
    case ftBlob: return &NewField<TBlobField>;
    case ftMemo: return &NewField<TMemoField>;
    case ftFMTBcd: return &NewField<TFMTBCDField>;
    case ftUnknown: break;
  }
  return nullptr;
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const TFieldDef& def = field_defs_[i];
    if (def.DataType() == ftUnknown) continue;  // no field for a column of unknown type
    TFieldClass make = GetFieldClass(def.DataType());
    if (make == nullptr) DatabaseErrorFmt("Field '%s' is of an unknown type", def.Name());
    TField* field = make(this);
    try {
      field->SetSize(def.Size());
      field->SetFieldName(def.Name());
      field->SetRequired(def.Required());
      field->SetDataSet(this);
    } catch (...) {
      delete field;
      throw;
    }
  }
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  blob_field_count_ = 0;
  for (TField* field : fields_.items_) {
    if (!binding) {
      field->field_no_ = 0;
      field->offset_ = 0;
      continue;
    }
    if (field->FieldKind() == fkData) {
      const TFieldDef* def = field_defs_.Find(field->FieldName());
      if (def == nullptr) DatabaseErrorFmt("Field '%s' not found", field->DisplayName());
      if (def->DataType() != field->DataType())
        throw EDatabaseError("Type mismatch for field '" + field->DisplayName() + "', expecting: " +
                             FieldTypeName(field->DataType()) +
                             " actual: " + FieldTypeName(def->DataType()));
      // A text field takes its width from the column, so that values
      // copied out of a record never exceed the field's buffer.
      if (field->DataType() == ftString) field->size_ = def->Size();
      field->field_no_ = def->FieldNo();
      if (field->IsBlob()) ++blob_field_count_;
    } else {
      field->field_no_ = -1;
      field->offset_ = calc_fields_size_;
      calc_fields_size_ += field->DataSize() + 1;
    }
  }
}

void TDataSet::DestroyFields() {
  while (!fields_.items_.empty()) delete fields_.items_.back();
}

void TDataSet::AddField(TField* field) { fields_.items_.push_back(field); }

void TDataSet::RemoveField(TField* field) {
  auto& items = fields_.items_;
  items.erase(std::remove(items.begin(), items.end(), field), items.end());
}

std::vector<TField*> TDataSet::GetFieldList(const std::string& names) const {
  std::vector<TField*> list;
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    const std::string name = Trim(std::string_view(names).substr(start, end - start));
    if (!name.empty()) list.push_back(FieldByName(name));
    start = end + 1;
  }
  return list;
}

Variant TDataSet::FieldValues(const std::string& names) const {
  const std::vector<TField*> list = GetFieldList(names);
  if (list.size() == 1) return list[0]->AsVariant();
  std::vector<Variant> values;
  for (TField* field : list) values.push_back(field->AsVariant());
  return Variant(std::move(values));
}

// ----------------------------------------------------------- buffers ---

TRecordBuffer TDataSet::ActiveBuffer() const {
  return buffers_.empty() ? nullptr : buffers_[static_cast<std::size_t>(active_record_)];
}

TRecordBuffer TDataSet::TempBuffer() const {
  return buffers_.empty() ? nullptr : buffers_[static_cast<std::size_t>(record_count_)];
}

TRecordBuffer TDataSet::Buffer(int index) const { return buffers_.at(static_cast<std::size_t>(index)); }

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBufferTo(int from, int to) {
  if (from == to) return;
  auto begin = buffers_.begin();
  if (from < to) std::rotate(begin + from, begin + from + 1, begin + to + 1);
  else std::rotate(begin + to, begin + from, begin + from + 1);
  // The cursor stays with its buffer.
  if (current_record_ == from) current_record_ = to;
  else if (from < to && current_record_ > from && current_record_ <= to) --current_record_;
  else if (from > to && current_record_ >= to && current_record_ < from) ++current_record_;
}

void TDataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  TRecordBuffer buffer = buffers_[static_cast<std::size_t>(index)];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted: InternalSetToRecord(buffer); break;
    case bfBOF: InternalFirst(); break;
    case bfEOF: InternalLast(); break;
  }
  current_record_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

bool TDataSet::GetNextRecord() {
  if (record_count_ > 0) SetCurrentRecord(record_count_ - 1);
  TRecordBuffer spare = buffers_[static_cast<std::size_t>(record_count_)];
  if (GetRecord(spare, gmNext, true) != grOK) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else if (record_count_ < buffer_count_) {
    ++record_count_;
  } else {
    MoveBufferTo(0, record_count_);  // the oldest row becomes the spare
    if (active_record_ > 0) --active_record_;
  }
  current_record_ = record_count_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  TRecordBuffer spare = buffers_[static_cast<std::size_t>(record_count_)];
  if (GetRecord(spare, gmPrior, true) != grOK) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else {
    MoveBufferTo(record_count_, 0);  // the new row goes in front
    if (record_count_ < buffer_count_) {
      ++record_count_;
      ++active_record_;
    } else if (active_record_ < record_count_ - 1) {
      ++active_record_;
    }
  }
  current_record_ = 0;
  return true;
}

void TDataSet::GetNextRecords() {
  while (record_count_ < buffer_count_ && GetNextRecord()) {
  }
}

void TDataSet::GetPriorRecords() {
  while (record_count_ < buffer_count_ && GetPriorRecord()) {
  }
}

void TDataSet::SetBufferCount(int count) {
  count = std::max(1, count);
  if (count == buffer_count_) return;
  if (!Active() || buffers_.empty()) {
    buffer_count_ = count;
    return;
  }
  CheckBrowseMode();
  const bool had_rows = record_count_ > 0;
  UpdateCursorPos();
  const int active = std::min(active_record_, count - 1);
  for (TRecordBuffer& buffer : buffers_) FreeRecordBuffer(buffer);
  buffers_.clear();
  buffer_count_ = count;
  for (int i = 0; i <= buffer_count_; ++i) buffers_.push_back(AllocRecordBuffer());
  record_count_ = 0;
  current_record_ = -1;
  active_record_ = active;
  if (had_rows) Resync(0);
  else ClearBuffers();
}

void TDataSet::SetActiveRecord(int index) {
  if (index >= 0 && index < record_count_) active_record_ = index;
}

void TDataSet::SetBlockReadSize(int size) {
  block_read_size_ = std::max(0, size);
  if (block_read_size_ > 0 && state_ == dsBrowse) SetState(dsBlockRead);
  else if (block_read_size_ == 0 && state_ == dsBlockRead) SetState(dsBrowse);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState old = state_;
  state_ = state;
  return old;
}

void TDataSet::Resync(TResyncMode mode) {
  if (buffers_.empty()) return;
  TRecordBuffer spare = buffers_[static_cast<std::size_t>(record_count_)];
  if ((mode & rmExact) != 0) {
    CursorPosChanged();
    if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError("Record not found");
  } else if (GetRecord(spare, gmCurrent, false) != grOK &&
             GetRecord(spare, gmNext, false) != grOK &&
             GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange);
    return;
  }
  const int before = (mode & rmCenter) != 0 ? (buffer_count_ - 1) / 2
                                             : std::min(active_record_, buffer_count_ - 1);
  MoveBufferTo(record_count_, 0);
  ActivateBuffers();
  for (int i = 0; i < before && GetPriorRecord(); ++i) {
  }
  GetNextRecords();
  GetPriorRecords();
  DataEvent(deDataSetChange);
}

// ------------------------------------------------------ calculated fields ---

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_fields_size_ <= 0) return;
  const TDataSetState old_state = SetTempState(dsCalcFields);
  try {
    ClearCalcFields(buffer);
    CalculateFields(buffer);
  } catch (...) {
    RestoreState(old_state);
    throw;
  }
  RestoreState(old_state);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  calc_buffer_ = buffer;
  for (TField* field : fields_.items_)
    if (field->FieldKind() == fkLookup) CalculateLookupValue(field);
  DoOnCalcFields();
}

void TDataSet::CalculateLookupValue(TField* field) {
  TDataSet* source = field->LookupDataSet;
  if (source == nullptr || !source->Active() || field->KeyFields.empty()) return;
  const Variant keys = FieldValues(field->KeyFields);
  for (int i = 0; i < keys.Count(); ++i)
    if (keys[i].IsNull()) return;
  const Variant value = source->Lookup(field->LookupKeyFields, keys, field->LookupResultField);
  if (!value.IsNull()) field->SetAsVariant(value);
}

void TDataSet::DataEvent(TDataEvent event, TField* field) {
  if (event != deFieldChange || field == nullptr) return;
  const bool editing = state_ == dsEdit || state_ == dsInsert;
  if (editing && field->FieldKind() == fkData) {
    modified_ = true;
    if (AutoCalcFields) GetCalcFields(ActiveBuffer());
  }
  field->Change();
}

// --------------------------------------------------------- navigation ---

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if (distance == 0 || (distance > 0 && eof_) || (distance < 0 && bof_)) return 0;
  DoBeforeScroll();
  bof_ = false;
  eof_ = false;
  int moved = 0;
  while (distance > 0) {
    if (active_record_ < record_count_ - 1) {
      ++active_record_;
    } else {
      if (!GetNextRecord()) {
        eof_ = true;
        break;
      }
      active_record_ = record_count_ - 1;
    }
    --distance;
    ++moved;
  }
  while (distance < 0) {
    if (active_record_ > 0) {
      --active_record_;
    } else {
      if (!GetPriorRecord()) {
        bof_ = true;
        break;
      }
      active_record_ = 0;
    }
    ++distance;
    --moved;
  }
  DataEvent(deDataSetScroll);
  DoAfterScroll();
  return moved;
}

// ----------------------------------------------------------- editing ---

void TDataSet::CheckCanModify() {
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_) Post();
      else Cancel();
      break;
    case dsSetKey: Post(); break;
    default: break;
  }
}

void TDataSet::UpdateRecord() {
  if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey)
    DatabaseError("Dataset not in edit or insert mode");
  DataEvent(deUpdateRecord);
}

void TDataSet::RunWithErrorEvent(const TDataSetErrorEvent& event,
                                 const std::function<void()>& action) {
  for (;;) {
    try {
      action();
      return;
    } catch (const EAbort&) {
      throw;
    } catch (const Exception& error) {
      if (!event) throw;
      TDataAction choice = daFail;
      event(this, error, choice);
      if (choice == daFail) throw;
      if (choice == daAbort) Abort();
    }
  }
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  CheckActive();
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  UpdateCursorPos();
  RunWithErrorEvent(OnEditError, [this] { InternalEdit(); });
  GetCalcFields(ActiveBuffer());
  modified_ = false;
  SetState(dsEdit);
  DataEvent(deRecordChange);
  DoAfterEdit();
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  modified_ = false;
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    SetState(dsBrowse);
    Resync(0);
    throw;
  }
  DataEvent(deDataSetChange);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmark old_current;
  if (record_count_ > 0) old_current = GetBookmark();
  MoveBufferTo(record_count_, active_record_);  // the spare takes the active row's place
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (record_count_ == 0) {
    SetBookmarkFlag(buffer, bfBOF);
  } else if (!old_current.empty()) {
    SetBookmarkData(buffer, old_current.data());
  }
  if (record_count_ < buffer_count_) ++record_count_;
  if (current_record_ >= record_count_) current_record_ = -1;  // its row left the ring
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  record_count_ = 1;
  active_record_ = 0;
  bof_ = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::CheckRequiredFields() {
  for (TField* field : fields_.items_)
    if (field->Required() && !field->ReadOnly() && field->FieldKind() == fkData && field->IsNull())
      DatabaseErrorFmt("Field '%s' must have a value", field->DisplayName());
}

void TDataSet::Post() {
  UpdateRecord();
  switch (state_) {
    case dsEdit:
    case dsInsert:
      DataEvent(deCheckBrowseMode);
      DoBeforePost();
      CheckRequiredFields();
      UpdateCursorPos();
      RunWithErrorEvent(OnPostError, [this] { InternalPost(); });
      SetState(dsBrowse);
      modified_ = false;
      Resync(0);
      DoAfterPost();
      break;
    case dsSetKey:
      SetState(dsBrowse);
      DataEvent(deDataSetChange);
      break;
    default: break;
  }
}

void TDataSet::Cancel() {
  switch (state_) {
    case dsEdit:
    case dsInsert:
      DataEvent(deCheckBrowseMode);
      DoBeforeCancel();
      UpdateCursorPos();
      InternalCancel();
      SetState(dsBrowse);
      modified_ = false;
      Resync(0);
      DoAfterCancel();
      break;
    case dsSetKey:
      SetState(dsBrowse);
      DataEvent(deDataSetChange);
      break;
    default: break;
  }
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (record_count_ == 0) DatabaseError("Cannot perform this operation on an empty dataset");
  DataEvent(deCheckBrowseMode);
  DoBeforeDelete();
  DoBeforeScroll();
  UpdateCursorPos();
  RunWithErrorEvent(OnDeleteError, [this] { InternalDelete(); });
  SetState(dsBrowse);
  modified_ = false;
  Resync(0);
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync(0);
}

void TDataSet::AddRecord(const std::vector<Variant>& values, bool append) {
  BeginInsertAppend();
  if (!append) UpdateCursorPos();
  MoveBufferTo(record_count_, active_record_);
  if (current_record_ >= record_count_) current_record_ = -1;  // its row left the ring
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  SetState(dsInsert);
  try {
    for (std::size_t i = 0; i < values.size() && i < fields_.items_.size(); ++i)
      if (!values[i].IsNull()) fields_.items_[i]->SetAsVariant(values[i]);
    DoBeforePost();
    InternalAddRecord(buffer, append);
  } catch (...) {
    SetState(dsBrowse);
    modified_ = false;
    MoveBufferTo(active_record_, record_count_);
    throw;
  }
  SetState(dsBrowse);
  modified_ = false;
  Resync(0);
  DoAfterPost();
  DoAfterScroll();
}

void TDataSet::InsertRecord(const std::vector<Variant>& values) { AddRecord(values, false); }

void TDataSet::AppendRecord(const std::vector<Variant>& values) { AddRecord(values, true); }

// --------------------------------------------------------- bookmarks ---

TBookmark TDataSet::GetBookmark() {
  if ((state_ != dsBrowse && state_ != dsEdit && state_ != dsInsert && state_ != dsBlockRead) ||
      IsEmpty() || bookmark_size_ <= 0 || GetBookmarkFlag(ActiveBuffer()) != bfCurrent)
    return {};
  TBookmark bookmark(static_cast<std::size_t>(bookmark_size_));
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  if (static_cast<int>(bookmark.size()) != bookmark_size_) DatabaseError("Invalid bookmark");
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark& /*bookmark*/) { return false; }

int TDataSet::CompareBookmarks(const TBookmark& /*a*/, const TBookmark& /*b*/) { return 0; }

// ---------------------------------------------- defaults of the cursor ---

bool TDataSet::Locate(const std::string& /*key_fields*/, const Variant& /*key_values*/,
                      TLocateOptions /*options*/) {
  return false;
}

Variant TDataSet::Lookup(const std::string& /*key_fields*/, const Variant& /*key_values*/,
                         const std::string& /*result_fields*/) {
  return Variant();
}

bool TDataSet::GetFieldData(TField* /*field*/, void* /*buffer*/) { return false; }

void TDataSet::SetFieldData(TField* /*field*/, const void* /*buffer*/) {}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* /*field*/, TBlobStreamMode /*mode*/) {
  return nullptr;
}

bool TDataSet::GetCurrentRecord(TRecordBuffer /*buffer*/) { return false; }

}  // namespace qd::fw
