// The primitive dataset: record buffer layout, result codes, and the
// framework operations expressed through the Qdi cursor operations.
#include "dataset/prim_dataset.h"

#include <cstring>

#include "foundation/exception.h"
#include "framework/forms.h"

namespace qd {

using fw::TRecordBuffer;

namespace {

// Sums buffer offsets in 16 bits; a layout that does not fit is a range error.
std::uint16_t Add16(std::uint32_t a, std::uint32_t b) {
  const std::uint32_t sum = a + b;
  if (sum > 0xFFFF) throw fw::ERangeError();
  return static_cast<std::uint16_t>(sum);
}

constexpr int kRecInfoSize = 6;
constexpr int kFlagByte = 5;  // inside the record info

}  // namespace

// ----------------------------------------------------------- results ---

void TQdPrimDataset::CheckResult(std::int32_t code) {
  if (code == kDsOk) return;
  if (code == kDsNotOpened || code == kDsBof || code == kDsEof)
    throw Exception("Dataset error: " + std::to_string(code));
  if (code == kDsNoFileName) throw Exception("Missing DbfFilename property");
  throw Exception("Dataset error: " + GetErrorText(code));
}

std::string TQdPrimDataset::GetErrorText(std::int32_t code) { return std::to_string(code); }

bool TQdPrimDataset::IsTableEmpty() { return IsEmpty(); }

// ------------------------------------------------------------ layout ---

void TQdPrimDataset::CalcRecordLayout(bool recompute_sizes) {
  if (recompute_sizes) {
    record_size_ = QdiGetRecordSize();
    SetBookmarkSize(QdiGetBookmarkSize());
  }
  const std::uint16_t blob_cache = Add16(record_size_, static_cast<std::uint32_t>(CalcFieldsSize()));
  const std::uint16_t rec_info = Add16(blob_cache, 4u * static_cast<std::uint32_t>(BlobFieldCount()));
  if (rec_info >= 65530) throw fw::ERangeError();
  const std::uint16_t bookmark = static_cast<std::uint16_t>(rec_info + kRecInfoSize);
  const std::uint16_t total = Add16(bookmark, static_cast<std::uint32_t>(BookmarkSize()));
  blob_cache_ofs_ = blob_cache;
  rec_info_ofs_ = rec_info;
  bookmark_ofs_ = bookmark;
  rec_buf_size_ = total;
}

TRecordBuffer TQdPrimDataset::GetActiveRecBuf() {
  switch (State()) {
    case fw::dsBrowse: return IsTableEmpty() ? nullptr : ActiveBuffer();
    case fw::dsEdit:
    case fw::dsInsert:
    case fw::dsBlockRead: return ActiveBuffer();
    case fw::dsCalcFields: return CalcBuffer();
    default: return nullptr;
  }
}

std::int32_t TQdPrimDataset::BufferRecNo(TRecordBuffer buffer) const {
  const std::uint8_t* info = buffer + rec_info_ofs_;
  const std::uint32_t value = static_cast<std::uint32_t>(info[0]) |
                              static_cast<std::uint32_t>(info[1]) << 8 |
                              static_cast<std::uint32_t>(info[2]) << 16 |
                              static_cast<std::uint32_t>(info[3]) << 24;
  return static_cast<std::int32_t>(value);
}

void TQdPrimDataset::SetRecordNumber(TRecordBuffer buffer, std::int32_t rec_no) {
  const auto value = static_cast<std::uint32_t>(rec_no);
  std::uint8_t* info = buffer + rec_info_ofs_;
  for (int i = 0; i < 4; ++i) info[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// ----------------------------------------------------------- buffers ---

TRecordBuffer TQdPrimDataset::AllocRecordBuffer() { return new std::uint8_t[rec_buf_size_](); }

void TQdPrimDataset::FreeRecordBuffer(TRecordBuffer& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

void TQdPrimDataset::GetBookmarkData(TRecordBuffer buffer, std::uint8_t* data) {
  std::memcpy(data, buffer + bookmark_ofs_, static_cast<std::size_t>(BookmarkSize()));
}

void TQdPrimDataset::SetBookmarkData(TRecordBuffer buffer, const std::uint8_t* data) {
  std::memcpy(buffer + bookmark_ofs_, data, static_cast<std::size_t>(BookmarkSize()));
}

fw::TBookmarkFlag TQdPrimDataset::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<fw::TBookmarkFlag>(buffer[rec_info_ofs_ + kFlagByte]);
}

void TQdPrimDataset::SetBookmarkFlag(TRecordBuffer buffer, fw::TBookmarkFlag flag) {
  buffer[rec_info_ofs_ + kFlagByte] = flag;
}

void TQdPrimDataset::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + record_size_, 0, static_cast<std::size_t>(CalcFieldsSize()));
}

fw::TGetResult TQdPrimDataset::GetRecord(TRecordBuffer buffer, fw::TGetMode mode, bool do_check) {
  std::int32_t rec_no = 0;
  std::int32_t result = kDsOk;
  switch (mode) {
    case fw::gmCurrent: result = QdiGetRecord(buffer, rec_no); break;
    case fw::gmNext: result = QdiGetNextRecord(buffer, rec_no); break;
    case fw::gmPrior: result = QdiGetPriorRecord(buffer, rec_no); break;
  }
  if (result == kDsOk) {
    SetBookmarkFlag(buffer, fw::bfCurrent);
    SetRecordNumber(buffer, rec_no);
    GetCalcFields(buffer);
    CheckResult(QdiGetBookmark(buffer + bookmark_ofs_));
    return fw::grOK;
  }
  if (result == kDsBof) return fw::grBOF;
  if (result == kDsEof) return fw::grEOF;
  if (do_check) CheckResult(result);
  return fw::grError;
}

// --------------------------------------------------------- field data ---

bool TQdPrimDataset::GetFieldData(fw::TField* field, void* buffer) {
  TRecordBuffer record = GetActiveRecBuf();
  if (record == nullptr) return false;
  if (field->FieldNo() < 1) {
    switch (State()) {
      case fw::dsBrowse:
      case fw::dsEdit:
      case fw::dsInsert:
      case fw::dsCalcFields:
      case fw::dsBlockRead: {
        const std::uint8_t* slot = record + record_size_ + field->Offset();
        const bool has_value = slot[0] != 0;
        if (has_value && buffer != nullptr)
          std::memcpy(buffer, slot + 1, static_cast<std::size_t>(field->DataSize()));
        return has_value;
      }
      default: return false;
    }
  }
  bool is_blank = false;
  CheckResult(QdiGetField(field, record, is_blank, buffer));
  return !is_blank;
}

void TQdPrimDataset::SetFieldData(fw::TField* field, const void* buffer) {
  const fw::TDataSetState state = State();
  switch (state) {
    case fw::dsEdit:
    case fw::dsInsert:
    case fw::dsSetKey:
    case fw::dsCalcFields:
    case fw::dsFilter:
    case fw::dsNewValue:
    case fw::dsInternalCalc: break;
    default: fw::DatabaseError("Dataset not in edit or insert mode");
  }
  // Without a record buffer (set-key, filter, new-value and internal-calc
  // states) the value is validated but stored nowhere.
  TRecordBuffer record = GetActiveRecBuf();
  if (field->FieldNo() < 1) {
    if (record != nullptr) {
      std::uint8_t* slot = record + record_size_ + field->Offset();
      slot[0] = buffer != nullptr ? 1 : 0;
      if (buffer != nullptr)
        std::memcpy(slot + 1, buffer, static_cast<std::size_t>(field->DataSize()));
    }
  } else {
    if (state == fw::dsCalcFields) fw::DatabaseError("Dataset not in edit or insert mode");
    if (field->ReadOnly() && state != fw::dsSetKey && state != fw::dsFilter)
      fw::DatabaseErrorFmt("Field '%s' cannot be modified", field->DisplayName());
    field->Validate(buffer);
    if (field->FieldKind() != fw::fkInternalCalc && record != nullptr)
      CheckResult(QdiSetField(field, record, buffer));
  }
  if (state != fw::dsCalcFields && state != fw::dsFilter && state != fw::dsNewValue)
    DataEvent(fw::deFieldChange, field);
}

// ------------------------------------------------------- navigation ---

void TQdPrimDataset::InternalFirst() { CheckResult(QdiSetToBegin()); }

void TQdPrimDataset::InternalLast() { CheckResult(QdiSetToEnd()); }

void TQdPrimDataset::InternalGotoBookmark(const std::uint8_t* bookmark) {
  CheckResult(QdiGotoBookmark(bookmark));
}

void TQdPrimDataset::InternalSetToRecord(TRecordBuffer buffer) {
  InternalGotoBookmark(buffer + bookmark_ofs_);
}

int TQdPrimDataset::GetRecordCount() {
  CheckActive();
  return QdiGetRecordCount();
}

int TQdPrimDataset::GetRecNo() {
  CheckActive();
  TRecordBuffer buffer = nullptr;
  if (State() == fw::dsCalcFields) buffer = CalcBuffer();
  else if (!IsEmpty()) buffer = ActiveBuffer();
  return buffer == nullptr ? 0 : BufferRecNo(buffer);
}

void TQdPrimDataset::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  DoBeforeScroll();
  if (QdiSetRecNo(value) != kDsOk) {
    CursorPosChanged();  // the cursor may have moved while failing
    return;
  }
  Resync(fw::rmCenter);
  DoAfterScroll();
}

bool TQdPrimDataset::GetCurrentRecord(TRecordBuffer buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != fw::bfCurrent) return false;
  UpdateCursorPos();
  std::int32_t rec_no = 0;
  return QdiGetRecord(buffer, rec_no) == kDsOk;
}

bool TQdPrimDataset::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  std::int32_t rec_no = 0;
  std::int32_t result = kDsOk;
  if (go_forward) {
    if (restart) CheckResult(QdiSetToBegin());
    result = QdiGetNextRecord(nullptr, rec_no);
  } else {
    if (restart) CheckResult(QdiSetToEnd());
    result = QdiGetPriorRecord(nullptr, rec_no);
  }
  if (result == kDsOk) {
    Resync(fw::rmExact | fw::rmCenter);
    SetFound(true);
  }
  if (Found()) DoAfterScroll();
  return Found();
}

bool TQdPrimDataset::Locate(const std::string& key_fields, const fw::Variant& key_values,
                            fw::TLocateOptions options) {
  // Ends a pending edit first: the search moves the cursor and refills the
  // buffers, which would lose it.
  CheckBrowseMode();
  DoBeforeScroll();
  const bool found = QdiLocate(key_fields, key_values, options);
  if (!found) {
    CursorPosChanged();  // the search may have moved the cursor
    return false;
  }
  Resync(fw::rmExact | fw::rmCenter);
  DoAfterScroll();
  return true;
}

fw::Variant TQdPrimDataset::Lookup(const std::string& key_fields, const fw::Variant& key_values,
                                   const std::string& result_fields) {
  return QdiLookup(key_fields, key_values, result_fields);
}

// -------------------------------------------------------- bookmarks ---

void TQdPrimDataset::CheckBookmarkSize(const fw::TBookmark& bookmark) const {
  if (static_cast<int>(bookmark.size()) != BookmarkSize()) fw::DatabaseError("Invalid bookmark");
}

bool TQdPrimDataset::BookmarkValid(const fw::TBookmark& bookmark) {
  if (!cursor_open_) return false;
  if (static_cast<int>(bookmark.size()) != BookmarkSize() || bookmark.empty()) return false;
  CursorPosChanged();
  if (QdiGotoBookmark(bookmark.data()) != kDsOk) return false;
  std::int32_t rec_no = 0;
  return QdiGetRecord(nullptr, rec_no) == kDsOk;
}

int TQdPrimDataset::CompareBookmarks(const fw::TBookmark& a, const fw::TBookmark& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return 1;
  if (b.empty()) return -1;
  CheckBookmarkSize(a);
  CheckBookmarkSize(b);
  if (!cursor_open_) return 0;
  int order = 0;
  CheckResult(QdiCompareBookmarks(a.data(), b.data(), order));
  return order;
}

// ---------------------------------------------------------- updates ---

void TQdPrimDataset::InternalInitRecord(TRecordBuffer buffer) {
  std::memset(buffer, 0, rec_buf_size_);
  CheckResult(QdiInitRecord(buffer));
}

void TQdPrimDataset::InternalAddRecord(TRecordBuffer buffer, bool append) {
  CheckResult(append ? QdiAppendRecord(buffer) : QdiInsertRecord(buffer));
}

void TQdPrimDataset::InternalPost() {
  if (State() == fw::dsEdit) CheckResult(QdiModifyRecord(ActiveBuffer()));
  else CheckResult(QdiInsertRecord(ActiveBuffer()));
}

void TQdPrimDataset::InternalDelete() { CheckResult(QdiDeleteRecord()); }

void TQdPrimDataset::InternalEdit() {
  // Re-read the record so that the edit starts from what is stored now.
  std::int32_t rec_no = 0;
  CheckResult(QdiGetRecord(ActiveBuffer(), rec_no));
}

void TQdPrimDataset::InternalRefresh() { CheckResult(QdiForceReread()); }

void TQdPrimDataset::InternalHandleException() {
  fw::Application().HandleException(std::current_exception());
}

void TQdPrimDataset::DoOnNewRecord() {
  if (GetRecordCount() < 1) ClearBuffers();
  fw::TDataSet::DoOnNewRecord();
}

// -------------------------------------------------- open and close ---

void TQdPrimDataset::OpenCursor(bool info_query) {
  fw::Application().ProcessMessages();
  CheckResult(QdiOpen());
  cursor_open_ = true;
  fw::TDataSet::OpenCursor(info_query);
}

void TQdPrimDataset::InternalOpen() {
  record_size_ = QdiGetRecordSize();
  SetBookmarkSize(QdiGetBookmarkSize());
  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  CalcRecordLayout(false);
  QdiSetToBegin();  // a table without records answers a crack; that is fine here
}

void TQdPrimDataset::InternalClose() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
}

void TQdPrimDataset::CloseCursor() {
  try {
    fw::TDataSet::CloseCursor();
  } catch (...) {
    cursor_open_ = false;
    try {
      QdiClose();
    } catch (...) {
      // The first failure is the one passed on.
    }
    throw;
  }
  // Closed for the framework even when closing the table raises.
  cursor_open_ = false;
  QdiClose();
}

}  // namespace qd
