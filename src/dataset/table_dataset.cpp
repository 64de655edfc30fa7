// The table dataset: cursor operations on one work area, the record data of
// the record buffers and its conversion to and from the native record, field
// definitions, searching, and the unit start-up.
#include "dataset/table_dataset.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "dataset/date_slots.h"
#include "dataset/field_classes.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/number_settings.h"
#include "foundation/utilities.h"
#include "framework/forms.h"
#include "platform/platform.h"
#include "table/locking.h"
#include "table/search.h"

namespace qd {

using fw::TRecordBuffer;

namespace {

// The record-data slot of a table field and the field definition it gets.
struct SlotInfo {
  std::uint16_t size;
  fw::TFieldType type;
  int definition_size;
};

SlotInfo SlotOf(const TDTField& f) {
  switch (f.Type) {
    case 'C': return {static_cast<std::uint16_t>(f.Length + 1), fw::ftString, f.Length};
    case 'D': return {8, fw::ftDate, 0};
    case 'N':
    case 'F':
      if (f.Slot == NativeSlot::NumberText)
        return {static_cast<std::uint16_t>(f.Length + 1), fw::ftFMTBcd, f.Length};
      if (f.Slot == NativeSlot::Double) return {8, fw::ftFloat, f.Length};
      if (f.Slot == NativeSlot::Int64) return {8, fw::ftLargeint, f.Length};
      return {4, fw::ftInteger, f.Length};
    case 'L': return {2, fw::ftBoolean, 0};
    case 'M': return {4, fw::ftMemo, 0};
    default: return {0, fw::ftUnknown, 0};
  }
}

// A short string slot (length byte, then characters) as text, its length
// kept within the field.
std::string SlotText(const std::uint8_t* slot, std::size_t capacity) {
  const std::size_t n = slot[0] < capacity ? slot[0] : capacity;
  return std::string(reinterpret_cast<const char*>(slot + 1), n);
}

void PutSlotText(std::uint8_t* slot, std::size_t capacity, const std::string& text) {
  const std::size_t n = text.size() < capacity ? text.size() : capacity;
  slot[0] = static_cast<std::uint8_t>(n);
  std::memcpy(slot + 1, text.data(), n);
}

// The value rounded to `decimals` places, as the engine writes it to the
// table.
double RoundedToDecimals(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  char text[400];
  const auto written =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (written.ec != std::errc()) return value;
  double rounded = value;
  std::from_chars(text, written.ptr, rounded);
  return rounded;
}

void PutInt32(std::uint8_t* p, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int32_t GetInt32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) |
                                   static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 |
                                   static_cast<std::uint32_t>(p[3]) << 24);
}

// The engine's day number of a date-time's date.
double DayNumberOf(fw::TDateTime value) {
  int year = 0, month = 0, day = 0;
  fw::DecodeDate(value, year, month, day);
  return JulianDate(year, month, day);
}

SearchValue ToSearchValue(const fw::Variant& value) {
  switch (value.kind()) {
    case fw::Variant::vkBoolean: return SearchValue::OfBoolean(value.AsBoolean());
    case fw::Variant::vkInteger:
    case fw::Variant::vkFloat: return SearchValue::OfNumber(value.AsFloat());
    case fw::Variant::vkDateTime: return SearchValue::OfDate(DayNumberOf(value.AsDateTime()));
    case fw::Variant::vkString: return SearchValue::OfText(value.AsString());
    case fw::Variant::vkArray: return value.Count() > 0 ? ToSearchValue(value[0]) : SearchValue();
    case fw::Variant::vkNull: break;
  }
  return SearchValue();
}

std::vector<SearchValue> ToSearchValues(const fw::Variant& values) {
  std::vector<SearchValue> list;
  if (values.IsArray()) {
    for (int i = 0; i < values.Count(); ++i) list.push_back(ToSearchValue(values[i]));
  } else {
    list.push_back(ToSearchValue(values));
  }
  return list;
}

constexpr const char* kInvalidDateBox = "        Invalid date       ";

}  // namespace

// ------------------------------------------------------------ field map ---

TDbfFieldProps::TDbfFieldProps(bool copy_image) {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr || area->native == nullptr) return;
  const int count = qd::FieldCount();
  std::uint8_t* start = FieldAddress(0);
  for (int n = 1; n <= count; ++n) {
    TDTField f;
    f.Name = qd::Field(n);
    f.Type = FieldType(n);
    if (f.Type == 'B' || f.Type == 'G' || f.Type == 'P') f.Type = 'M';
    f.Length = static_cast<std::uint16_t>(FieldLen(n));
    f.Decimals = static_cast<std::uint16_t>(FieldDec(n));
    f.Offset = static_cast<std::uint16_t>(FieldAddress(n) - start);
    f.Slot = area->fields[static_cast<std::size_t>(n - 1)].slot;
    fields_.push_back(std::move(f));
  }
  image_size_ = area->native_size;
  if (copy_image) {
    owned_.assign(start, start + area->native_size);
    image_ = owned_.data();
  } else {
    image_ = start;
  }
}

std::uint8_t* TDbfFieldProps::Address(int n) const {
  if (n == 0) return image_;
  return image_ + Field(n).Offset;
}

// ------------------------------------------------------ life and state ---

TQdDataSet::TQdDataSet(fw::TComponent* owner)
    : TQdPrimDataset(owner), dbf_fields_(std::make_unique<fw::TStringList>()) {
  designing_ = IsDesigning();
  // In the designer an engine error must not stop the host: raise it.
  if (designing_) SetRaiseExceptions(true);
}

TQdDataSet::~TQdDataSet() { CloseOnDestroy(); }

bool TQdDataSet::SelectWorkArea(const char* label) {
  if (work_area_ == 0) {
    std::string text = "Database is not open";
    platform::OemToAnsi(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
    SetError(1103, text + " [" + Name() + "." + label + "]");
    fw::Application().Terminate();
    return false;
  }
  if (Selected() != work_area_) Select(work_area_);
  AnsiTables = table_language_ == TQdTableLanguage::tlAnsi;
  return true;
}

void TQdDataSet::DoBeforeRestore() {
  if (BeforeRestore) BeforeRestore(this);
}

void TQdDataSet::DoAfterRestore() {
  if (AfterRestore) AfterRestore(this);
}

bool TQdDataSet::s_IsEmptyDbf() {
  if (!SelectWorkArea("s_IsEmptyDbf")) return true;
  return dBOF() && dEOF();
}

std::int32_t TQdDataSet::SafeGo(std::int32_t n) {
  if (!SelectWorkArea("SafeGo")) return 1103;
  if (GoIfValid(n)) {
    at_bof_ = at_eof_ = false;
  } else {
    QdiSetToEnd();
  }
  return kDsOk;
}

std::string TQdDataSet::GetErrorText(std::int32_t /*code*/) {
  if (ErrorCode == 0) return "";
  return ErrorMessage(ErrorCode) + "\r\n" + ErrorText;
}

bool TQdDataSet::IsTableEmpty() {
  if (designing_ || !KeepsTableOpen()) return false;
  return s_IsEmptyDbf();
}

// ----------------------------------------------------- open and close ---

std::int32_t TQdDataSet::QdiOpen() {
  if (dbf_file_name_.empty()) return kDsNoFileName;
  field_props_.reset();
  rec_data_size_ = 0;
  record_data_total_ = 0;
  image_offset_ = marks_offset_ = 0;
  field_offsets_.clear();
  slot_offsets_.clear();

  const int remembered = Selected();
  Select(work_area_);
  if (ErrorCode != 0) {
    const std::uint16_t code = ErrorCode;
    Select(remembered);
    ErrorCode = code;
    return code;
  }
  AnsiTables = table_language_ == TQdTableLanguage::tlAnsi;

  // An engine that raises its failure instead of reporting it leaves the
  // caller's work area selected as well.
  try {
    if (OpenInSelectedArea()) return kDsOk;
  } catch (...) {
    if (Selected() != remembered) Select(remembered);
    throw;
  }
  const std::uint16_t code = ErrorCode;
  if (Selected() != remembered) Select(remembered);
  ErrorCode = code;
  return code != 0 ? code : kDsNotOpened;
}

bool TQdDataSet::OpenInSelectedArea() {
  ErrorCode = 0;
  if (KeepsTableOpen()) {
    if (OpenTable(dbf_file_name_) && ErrorCode == 0 && CurrentWorkArea() != nullptr) {
      holds_table_ = true;
      open_file_name_ = CurrentWorkArea()->file_name;
      SetIgnoreDel(hide_deleted_recs_);
      FillDbfFields();
      work_area_ = static_cast<std::uint8_t>(Selected());
      field_props_ = std::make_unique<TDbfFieldProps>(false);
      return true;
    }
  } else {
    Use(dbf_file_name_, nullptr, 0);
    if (ErrorCode == 0 && CurrentWorkArea() != nullptr) {
      FillDbfFields();
      work_area_ = static_cast<std::uint8_t>(Selected());
      field_props_ = std::make_unique<TDbfFieldProps>(true);
      Use("", nullptr, 0);
      return true;
    }
  }
  return false;
}

std::int32_t TQdDataSet::QdiClose() {
  // Only a table this dataset opened is closed: the work area may serve
  // another table by now.
  const bool close_table = holds_table_ && work_area_ != 0;
  const std::uint8_t area_number = work_area_;
  // The dataset lets go of the table even when closing it raises (a header
  // that could not be written): the engine has freed the work area then.
  holds_table_ = false;
  work_area_ = 0;
  const std::string file_name = std::move(open_file_name_);
  open_file_name_.clear();
  if (close_table) {
    Select(area_number);
    const qd::WorkArea* area = CurrentWorkArea();
    if (area != nullptr && area->file_name == file_name) Use("", nullptr, 0);
  }
  return kDsOk;
}

void TQdDataSet::DirectOpenClose(bool open) {
  if (!Active()) {
    SetError(1103, "DataSet must be active. " + Name());
    return;
  }
  if (KeepsTableOpen()) return;
  if (!SelectWorkArea("DirectOpenClose")) return;
  if (open) {
    ErrorCode = 0;
    Use(dbf_file_name_, nullptr, 0);
    holds_table_ = ErrorCode == 0 && CurrentWorkArea() != nullptr;
    if (holds_table_) open_file_name_ = CurrentWorkArea()->file_name;
  } else if (holds_table_) {
    Use("", nullptr, 0);
    holds_table_ = false;
    open_file_name_.clear();
  }
}

// ------------------------------------------------- field definitions ---

std::uint16_t TQdDataSet::ComputeRecordLayout() {
  field_offsets_.clear();
  slot_offsets_.assign(static_cast<std::size_t>(field_props_->FieldCount()) + 1, 0);
  std::uint32_t position = 1;
  for (int n = 1; n <= field_props_->FieldCount(); ++n) {
    const TDTField& f = field_props_->Field(n);
    // A field without a name gets neither a definition nor a slot.
    if (f.Name.empty()) continue;
    const SlotInfo info = SlotOf(f);
    field_offsets_.push_back(static_cast<std::uint16_t>(position));
    if (info.size > 0) slot_offsets_[static_cast<std::size_t>(n)] = static_cast<std::uint16_t>(position);
    position += info.size;
    if (position > 0xFFFF) throw fw::ERangeError();
  }
  rec_data_size_ = static_cast<std::uint16_t>(position);
  // The native copy and one mark per engine field, when they fit.
  const std::uint32_t total = position + field_props_->ImageSize() +
                              static_cast<std::uint32_t>(field_props_->FieldCount()) + 1;
  if (total <= 0xFFFF) {
    image_offset_ = static_cast<std::uint16_t>(position);
    marks_offset_ = static_cast<std::uint16_t>(position + field_props_->ImageSize());
    record_data_total_ = static_cast<std::uint16_t>(total);
  } else {
    image_offset_ = marks_offset_ = 0;
    record_data_total_ = rec_data_size_;
  }
  return rec_data_size_;
}

std::uint16_t TQdDataSet::SlotOffset(int field_no) const {
  if (field_no < 1 || static_cast<std::size_t>(field_no) >= slot_offsets_.size()) return 0;
  return slot_offsets_[static_cast<std::size_t>(field_no)];
}

void TQdDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  field_offsets_.clear();
  if (!field_props_ || !field_props_->Valid())
    fw::DatabaseError(Name() + ".DbfFields undefined. Set Active to TRUE");
  ComputeRecordLayout();
  for (int n = 1; n <= field_props_->FieldCount(); ++n) {
    const TDTField& f = field_props_->Field(n);
    if (f.Name.empty()) continue;
    const SlotInfo info = SlotOf(f);
    FieldDefs().Add(f.Name, info.type, info.definition_size, false, n);
  }
}

std::uint16_t TQdDataSet::QdiGetRecordSize() {
  if (rec_data_size_ == 0 && field_props_ && field_props_->Valid()) ComputeRecordLayout();
  return record_data_total_;
}

fw::TFieldClass TQdDataSet::GetFieldClass(fw::TFieldType type) {
  switch (type) {
    case fw::ftInteger: return &fw::NewField<TQdIntegerField>;
    case fw::ftLargeint: return &fw::NewField<TQdLargeintField>;
    case fw::ftFloat: return &fw::NewField<TQdFloatField>;
    case fw::ftDate: return &fw::NewField<TQdDateField>;
    default: return TQdPrimDataset::GetFieldClass(type);
  }
}

// ------------------------------------- native record and record data ---

void TQdDataSet::ConvertField(TRecordBuffer buffer, int n, const std::uint8_t* native) {
  const std::uint16_t offset = SlotOffset(n);
  if (offset == 0) return;
  std::uint8_t* slot = buffer + offset;
  const TDTField& f = field_props_->Field(n);
  switch (f.Type) {
    case 'C':
      PutSlotText(slot, f.Length, SlotText(native, f.Length));
      break;
    case 'D': {
      const double value = DateTextToDateTime(SlotText(native, 10), false);
      std::memcpy(slot, &value, 8);
      break;
    }
    case 'N':
    case 'F':
      if (f.Slot == NativeSlot::NumberText) {
        PutSlotText(slot, f.Length, fw::Trim(SlotText(native, f.Length)));
      } else if (f.Slot == NativeSlot::Double) {
        double value = 0;
        std::memcpy(&value, native, 8);
        value = RoundedToDecimals(value, f.Decimals);
        std::memcpy(slot, &value, 8);
      } else if (f.Slot == NativeSlot::Int64) {
        std::memcpy(slot, native, 8);
      } else {
        std::memcpy(slot, native, 4);
      }
      break;
    case 'L':
      slot[0] = native[0];
      slot[1] = 0;
      break;
    case 'M':
      std::memcpy(slot, native, 4);
      break;
    default: break;
  }
}

void TQdDataSet::LoadRecord(TRecordBuffer buffer) {
  if (!field_props_ || !field_props_->Valid()) return;
  buffer[0] = *field_props_->Address(0);
  if (image_offset_ != 0) {
    // Each field is converted when it is first read.
    std::memcpy(buffer + image_offset_, field_props_->Address(0), field_props_->ImageSize());
    std::memset(buffer + marks_offset_, 1, static_cast<std::size_t>(field_props_->FieldCount()) + 1);
    return;
  }
  for (int n = 1; n <= field_props_->FieldCount(); ++n) ConvertField(buffer, n, field_props_->Address(n));
}

void TQdDataSet::ConvertSlots(TRecordBuffer buffer, int which) {
  if (image_offset_ == 0 || !field_props_ || !field_props_->Valid()) return;
  const int count = field_props_->FieldCount();
  const int first = which == kAllFields ? 1 : which;
  const int last = which == kAllFields ? count : which;
  if (first < 1 || last > count) return;
  const std::uint8_t* image = buffer + image_offset_;
  const std::uint8_t* base = field_props_->Address(0);
  for (int n = first; n <= last; ++n) {
    std::uint8_t& mark = buffer[marks_offset_ + n];
    if (mark == 0) continue;
    mark = 0;
    ConvertField(buffer, n, image + (field_props_->Address(n) - base));
  }
}

void TQdDataSet::StoreRecord(TRecordBuffer buffer, int which) {
  if (!field_props_ || !field_props_->Valid()) return;
  // Every slot that goes to the native record must hold its value; a slot
  // stored on its own was just written by the caller.
  if (which == kAllFields) {
    ConvertSlots(buffer, kAllFields);
  } else if (image_offset_ != 0 && which >= 1 && which <= field_props_->FieldCount()) {
    buffer[marks_offset_ + which] = 0;
  }
  *field_props_->Address(0) = buffer[0];
  if (which == 0) return;
  for (int n = 1; n <= field_props_->FieldCount(); ++n) {
    if (which != kAllFields && n != which) continue;
    const std::uint16_t offset = SlotOffset(n);
    if (offset != 0) {
      const TDTField& f = field_props_->Field(n);
      std::uint8_t* native = field_props_->Address(n);
      const std::uint8_t* slot = buffer + offset;
      switch (f.Type) {
        case 'C':
          PutSlotText(native, f.Length, SlotText(slot, f.Length));
          break;
        case 'D': {
          double value = 0;
          std::memcpy(&value, slot, 8);
          // While the image still shows this date (or, for a blank value,
          // text that reads as no date) its text is left alone, so the
          // engine keeps the stored date rather than reading the text again
          // through the two-digit-year window.
          if (value == DateTextToDateTime(SlotText(native, 10), false)) break;
          std::string text;
          if (value == 0) {
            text = BlankDate(DateFormat);
          } else {
            // Written with its four-digit year, so the date stored is the
            // date given whatever the century setting.
            text = dataset_dates::EngineDateText(value);
            std::string checked = text;
            if (text.empty() || !ValidDate(checked)) {
              fw::ShowMessage(kInvalidDateBox);
              text = BlankDate(DateFormat);
            }
          }
          PutSlotText(native, 10, text);
          break;
        }
        case 'N':
        case 'F':
          if (f.Slot == NativeSlot::NumberText) {
            PutSlotText(native, f.Length, SlotText(slot, f.Length));
          } else if (f.Slot == NativeSlot::Double) {
            // A value still as loaded leaves the image alone: the image may
            // hold more decimals than the field shows, which the engine then
            // keeps as stored.
            double value = 0, shown = 0;
            std::memcpy(&value, slot, 8);
            std::memcpy(&shown, native, 8);
            if (value != RoundedToDecimals(shown, f.Decimals)) std::memcpy(native, slot, 8);
          } else {
            std::memcpy(native, slot, f.Slot == NativeSlot::Int32 ? 4 : 8);
          }
          break;
        case 'L':
          native[0] = slot[0];
          break;
        case 'M':
          std::memcpy(native, slot, 4);
          break;
        default: break;
      }
    }
    if (n == which) break;
  }
}

std::int32_t TQdDataSet::QdiGetField(fw::TField* field, TRecordBuffer record, bool& is_blank,
                                     void* value) {
  is_blank = false;
  if (value == nullptr) return kDsOk;
  const int size = field->DataSize();
  if (size > 0) std::memset(value, 0, static_cast<std::size_t>(size));
  const std::uint16_t offset = SlotOffset(field->FieldNo());
  if (offset == 0) return kDsOk;
  ConvertSlots(record, field->FieldNo());
  const std::uint8_t* slot = record + offset;
  switch (field->DataType()) {
    case fw::ftDate:
    case fw::ftTime:
    case fw::ftDateTime: {
      double stored = 0;
      std::memcpy(&stored, slot, 8);
      if (stored == 0) {
        is_blank = true;
        return kDsOk;
      }
      const fw::TTimeStamp stamp = fw::DateTimeToTimeStamp(stored);
      if (field->DataType() == fw::ftDate) {
        std::memcpy(value, &stamp.Date, 4);
      } else if (field->DataType() == fw::ftTime) {
        std::memcpy(value, &stamp.Time, 4);
      } else {
        const double msecs = fw::TimeStampToMSecs(stamp);
        std::memcpy(value, &msecs, 8);
      }
      return kDsOk;
    }
    case fw::ftString:
    case fw::ftFMTBcd: {
      const TDTField& f = field_props_->Field(field->FieldNo());
      std::string text = fw::TrimRight(SlotText(slot, f.Length));
      if (size > 0 && text.size() > static_cast<std::size_t>(size - 1)) text.resize(static_cast<std::size_t>(size - 1));
      std::memcpy(value, text.data(), text.size());
      // A number without digits (a blank field) has no value.
      if (field->DataType() == fw::ftFMTBcd && text.empty()) is_blank = true;
      return kDsOk;
    }
    default:
      if (size > 0) std::memcpy(value, slot, static_cast<std::size_t>(size));
      return kDsOk;
  }
}

std::int32_t TQdDataSet::QdiSetField(fw::TField* field, TRecordBuffer record, const void* value) {
  const std::uint16_t offset = SlotOffset(field->FieldNo());
  if (offset == 0) return kDsOk;
  std::uint8_t* slot = record + offset;
  const fw::TFieldType type = field->DataType();
  const bool dated = type == fw::ftDate || type == fw::ftTime || type == fw::ftDateTime;
  const int size = dated ? 8 : field->DataSize();
  // The field has validated the value already (the primitive dataset asks it
  // before storing).
  if (value == nullptr) {
    if (size > 0) std::memset(slot, 0, static_cast<std::size_t>(size));
  } else if (dated) {
    fw::TTimeStamp stamp;
    if (type == fw::ftDate) {
      std::memcpy(&stamp.Date, value, 4);
    } else if (type == fw::ftTime) {
      std::memcpy(&stamp.Time, value, 4);
      stamp.Date = fw::DateDelta;
    } else {
      double msecs = 0;
      std::memcpy(&msecs, value, 8);
      try {
        stamp = fw::MSecsToTimeStamp(std::round(msecs));
      } catch (const fw::EConvertError&) {
        stamp = fw::TTimeStamp();
      }
    }
    const double stored = fw::TimeStampToDateTime(stamp);
    std::memcpy(slot, &stored, 8);
  } else if (type == fw::ftString || type == fw::ftFMTBcd) {
    // A short string of the field's length at most, whatever reached here.
    const TDTField& f = field_props_->Field(field->FieldNo());
    const char* text = static_cast<const char*>(value);
    std::size_t n = 0;
    while (n < f.Length && n < 255 && text[n] != '\0') ++n;
    std::memset(slot, 0, static_cast<std::size_t>(f.Length) + 1);
    slot[0] = static_cast<std::uint8_t>(n);
    std::memcpy(slot + 1, text, n);
  } else if (size > 0) {
    std::memcpy(slot, value, static_cast<std::size_t>(size));
  }
  StoreRecord(record, field->FieldNo());
  return kDsOk;
}

// ---------------------------------------------------------- navigation ---

std::int32_t TQdDataSet::QdiSetToBegin() {
  if (!KeepsTableOpen()) {
    image_position_ = ImagePosition::Before;
    return kDsOk;
  }
  if (!SelectWorkArea("QdiSetToBegin")) return 1103;
  if (RecCount() > 0) GoTop();
  at_bof_ = true;
  at_eof_ = false;
  return kDsOk;
}

std::int32_t TQdDataSet::QdiSetToEnd() {
  if (!KeepsTableOpen()) {
    image_position_ = ImagePosition::After;
    return kDsOk;
  }
  if (!SelectWorkArea("QdiSetToEnd")) return 1103;
  if (RecCount() > 0) GoBottom();
  at_eof_ = true;
  at_bof_ = false;
  return kDsOk;
}

std::int32_t TQdDataSet::QdiGetRecord(TRecordBuffer buffer, std::int32_t& rec_no) {
  if (at_bof_) return kDsBof;
  if (at_eof_) return kDsEof;
  if (!SelectWorkArea("QdiGetRecord")) return 1103;
  if (buffer != nullptr) {
    Skip(0);
    if (ErrorCode != 0) return ErrorCode;
  }
  // At the end of the file there is no current record to show (the last
  // visible record may just have been hidden or deleted).
  if (dEOF()) {
    at_eof_ = true;
    return kDsEof;
  }
  if (buffer != nullptr) LoadRecord(buffer);
  rec_no = qd::RecNo();
  return kDsOk;
}

std::int32_t TQdDataSet::QdiGetNextRecord(TRecordBuffer buffer, std::int32_t& rec_no) {
  if (at_eof_) return kDsEof;
  if (!SelectWorkArea("QdiGetNextRecord")) return 1103;
  bool moved = true;
  if (at_bof_) {
    Skip(0);
    at_bof_ = false;
  } else if (!dEOF()) {
    Skip(1);
  } else {
    moved = false;
  }
  if (moved && ErrorCode != 0) return ErrorCode;
  if (dEOF()) {
    if (!dBOF()) Skip(-1);  // back onto the last record
    at_eof_ = true;
    return kDsEof;
  }
  if (buffer != nullptr) LoadRecord(buffer);
  rec_no = qd::RecNo();
  return kDsOk;
}

std::int32_t TQdDataSet::QdiGetPriorRecord(TRecordBuffer buffer, std::int32_t& rec_no) {
  if (at_bof_) return kDsBof;
  if (!SelectWorkArea("QdiGetPriorRecord")) return 1103;
  bool moved = true;
  if (at_eof_) {
    Skip(0);
    at_eof_ = false;
  } else if (!dBOF()) {
    Skip(-1);
  } else {
    moved = false;
  }
  if (moved && ErrorCode != 0) return ErrorCode;
  if (dBOF()) {
    at_bof_ = true;
    return kDsBof;
  }
  if (buffer != nullptr) LoadRecord(buffer);
  rec_no = qd::RecNo();
  return kDsOk;
}

fw::TGetResult TQdDataSet::GetRecord(TRecordBuffer buffer, fw::TGetMode mode, bool do_check) {
  if (KeepsTableOpen()) return TQdPrimDataset::GetRecord(buffer, mode, do_check);
  // The table is not open: the dataset shows the one record image taken
  // when it opened, as a table of exactly that record. The current record
  // is always it; the next and prior ones are it only when coming from the
  // matching end, so that walking the dataset reaches its end.
  if (!field_props_ || !field_props_->Valid()) return fw::grError;
  switch (mode) {
    case fw::gmCurrent: break;
    case fw::gmNext:
      if (image_position_ != ImagePosition::Before) {
        image_position_ = ImagePosition::After;
        return fw::grEOF;
      }
      break;
    case fw::gmPrior:
      if (image_position_ != ImagePosition::After) {
        image_position_ = ImagePosition::Before;
        return fw::grBOF;
      }
      break;
  }
  image_position_ = ImagePosition::On;
  LoadRecord(buffer);
  SetBookmarkFlag(buffer, fw::bfCurrent);
  PutInt32(buffer + RecInfoOfs(), 1);
  QdiGetBookmark(buffer + BookmarkOfs());
  GetCalcFields(buffer);
  return fw::grOK;
}

std::int32_t TQdDataSet::QdiGetRecordCount() {
  if (!KeepsTableOpen()) return 1;
  if (!SelectWorkArea("QdiGetRecordCount")) return 0;
  return RecCount();
}

std::int32_t TQdDataSet::QdiForceReread() {
  if (!KeepsTableOpen()) return kDsOk;
  if (!SelectWorkArea("QdiForceReread")) return 1103;
  Skip(0);
  return ErrorCode;
}

std::int32_t TQdDataSet::QdiSetRecNo(std::int32_t rec_no) {
  if (!KeepsTableOpen()) {
    image_position_ = ImagePosition::On;
    return kDsOk;
  }
  return SafeGo(rec_no);
}

std::int32_t TQdDataSet::QdiGotoBookmark(const std::uint8_t* bookmark) {
  if (!KeepsTableOpen()) {
    image_position_ = ImagePosition::On;
    return kDsOk;
  }
  return SafeGo(GetInt32(bookmark));
}

std::int32_t TQdDataSet::QdiGetBookmark(std::uint8_t* bookmark) {
  std::int32_t rec_no = 1;
  if (KeepsTableOpen()) {
    if (!SelectWorkArea("QdiSetToBookmark")) return 1103;
    rec_no = qd::RecNo();
  }
  PutInt32(bookmark, rec_no);
  return kDsOk;
}

std::int32_t TQdDataSet::QdiCompareBookmarks(const std::uint8_t* a, const std::uint8_t* b,
                                             int& order) {
  const std::int32_t first = GetInt32(a), second = GetInt32(b);
  order = first < second ? -1 : first > second ? 1 : 0;
  return kDsOk;
}

// ------------------------------------------------------------- updates ---

std::int32_t TQdDataSet::QdiInitRecord(TRecordBuffer /*buffer*/) {
  if (!KeepsTableOpen()) return kDsOk;
  if (!SelectWorkArea("QdiInitRecord")) return 1103;
  ClearRecord();
  return kDsOk;
}

std::int32_t TQdDataSet::QdiAppendRecord(TRecordBuffer buffer) {
  if (!SelectWorkArea("QdiAppendRecord")) return 1103;
  buffer[0] = 0;
  StoreRecord(buffer, kAllFields);
  s_AppendWithLock();
  at_bof_ = at_eof_ = false;
  return kDsOk;
}

std::int32_t TQdDataSet::QdiInsertRecord(TRecordBuffer buffer) {
  // Records are always added at the end of the table.
  return QdiAppendRecord(buffer);
}

std::int32_t TQdDataSet::QdiModifyRecord(TRecordBuffer buffer) {
  if (at_bof_) return kDsBof;
  if (at_eof_) return kDsEof;
  if (!SelectWorkArea("QdiModifyRecord")) return 1103;
  StoreRecord(buffer, kAllFields);
  s_ReplaceWithLock();
  return kDsOk;
}

std::int32_t TQdDataSet::QdiDeleteRecord() {
  if (!SelectWorkArea("QdiDeleteRecord")) return 1103;
  s_DeleteWithLock();
  if (s_IsEmptyDbf()) {
    // Nothing visible is left: the cursor stands at both ends, so that no
    // blank record appears in the buffers.
    at_bof_ = at_eof_ = true;
    Resync(0);
  }
  return kDsOk;
}

bool TQdDataSet::GetCurrentRecord(TRecordBuffer buffer) {
  // The caller takes the whole record: every field is converted.
  const bool ok = TQdPrimDataset::GetCurrentRecord(buffer);
  if (ok) ConvertSlots(buffer, kAllFields);
  return ok;
}

void TQdDataSet::InternalCancel() {
  if (ActiveBuffer() != nullptr) std::memset(ActiveBuffer(), 0, RecBufSize());
}

void TQdDataSet::Post() {
  const fw::TDataSetState state = State();
  if (state != fw::dsEdit && state != fw::dsInsert && state != fw::dsSetKey) return;
  TQdPrimDataset::Post();
  if (s_IsEmptyDbf()) {
    at_bof_ = at_eof_ = true;
    Resync(0);
  }
}

void TQdDataSet::Restore() {
  CheckBrowseMode();
  // Without a record in view the engine would be asked to recall at the end
  // of the file, an engine error; refused here as a delete is.
  if (IsEmpty()) fw::DatabaseError("Cannot perform this operation on an empty dataset");
  UpdateCursorPos();
  DoBeforeRestore();
  if (SelectWorkArea("Restore")) s_RestoreWithLock();
  DoAfterRestore();
  Refresh();
}

// ---------------------------------------------------------- searching ---

bool TQdDataSet::QdiLocate(const std::string& key_fields, const fw::Variant& key_values,
                           fw::TLocateOptions options) {
  if (!KeepsTableOpen()) return false;
  if (!SelectWorkArea("QdiLocate")) return false;
  const bool found = LocateFields(key_fields, ToSearchValues(key_values),
                                  (options & fw::loCaseInsensitive) != 0,
                                  (options & fw::loPartialKey) == 0, true);
  if (found) at_bof_ = at_eof_ = false;
  return found;
}

fw::Variant TQdDataSet::QdiLookup(const std::string& key_fields, const fw::Variant& key_values,
                                  const std::string& result_fields) {
  fw::Variant result;
  if (!KeepsTableOpen()) return result;
  if (!SelectWorkArea("QdiLookup")) return result;
  const std::int32_t remembered = qd::RecNo();
  const bool was_bof = at_bof_, was_eof = at_eof_;
  if (!LocateFields(key_fields, ToSearchValues(key_values), false, true, true)) return result;
  TRecordBuffer scratch = TempBuffer();
  const fw::TDataSetState old_state = SetTempState(fw::dsCalcFields);
  try {
    LoadRecord(scratch);
    lookup_buffer_ = scratch;
    GetCalcFields(scratch);
    result = FieldValues(result_fields);
  } catch (...) {
    lookup_buffer_ = nullptr;
    RestoreState(old_state);
    SafeGo(remembered);
    at_bof_ = was_bof;
    at_eof_ = was_eof;
    throw;
  }
  lookup_buffer_ = nullptr;
  RestoreState(old_state);
  SafeGo(remembered);
  at_bof_ = was_bof;
  at_eof_ = was_eof;
  return result;
}

bool TQdDataSet::GetFieldData(fw::TField* field, void* buffer) {
  if (lookup_buffer_ == nullptr) return TQdPrimDataset::GetFieldData(field, buffer);
  // A lookup reads the record it found from its scratch buffer.
  if (field->FieldNo() < 1) {
    const std::uint8_t* slot = lookup_buffer_ + RecordSize() + field->Offset();
    if (slot[0] != 0 && buffer != nullptr)
      std::memcpy(buffer, slot + 1, static_cast<std::size_t>(field->DataSize()));
    return slot[0] != 0;
  }
  bool is_blank = false;
  CheckResult(QdiGetField(field, lookup_buffer_, is_blank, buffer));
  return !is_blank;
}

// ---------------------------------------------------------- properties ---

void TQdDataSet::SetDbfFileName(const std::string& name) {
  const bool was_active = Active();
  if (!IsLoading()) Close();
  dbf_file_name_ = AllTrim(name);
  if (dbf_file_name_.empty()) return;
  if (dbf_file_name_.back() != '.') dbf_file_name_ = DefaultExtension(dbf_file_name_, "DBF");
  if (!IsLoading()) SetActive(was_active);
}

void TQdDataSet::SetHideDeletedRecs(bool value) {
  if (value == hide_deleted_recs_) return;
  const bool applies = Active() && !designing_;
  // A pending edit or insert is posted first: the buffers are refilled from
  // the table below, which would drop it. A post that fails changes nothing.
  if (applies) CheckBrowseMode();
  hide_deleted_recs_ = value;
  if (!applies) return;
  UpdateCursorPos();
  if (!SelectWorkArea("HideDeletedRecs")) return;
  SetIgnoreDel(value);
  // Records that were hidden may be all there is: show the first of them
  // rather than an empty table.
  if (dEOF() && dBOF() && RecCount() > 0) GoTop();
  ResyncVisible();
  ResyncFromEngine();
}

void TQdDataSet::ResyncFromEngine() {
  if (ErrorCode != 0 || !Active()) return;
  const fw::TDataSetState state = State();
  if (state == fw::dsEdit || state == fw::dsInsert || state == fw::dsSetKey) SetState(fw::dsBrowse);
  if (s_IsEmptyDbf()) {
    if (ActiveBuffer() != nullptr) std::memset(ActiveBuffer(), 0, RecBufSize());
    at_bof_ = at_eof_ = true;
    Resync(0);
  } else {
    at_bof_ = at_eof_ = false;
    Resync(fw::rmExact);
  }
  DoAfterScroll();
}

// ------------------------------------------------------------ start-up ---

void InitDatasetUnit() {
  const platform::RegionalSettings& regional = platform::CurrentHost().Regional();
  DecimalChar = regional.decimal_separator;
  ThousandsChar = regional.thousands_separator;
  DateFormat = 0;
  SetDateFormat(DateFormatFromPattern(regional.short_date_pattern, regional.date_separator));
}

}  // namespace qd
