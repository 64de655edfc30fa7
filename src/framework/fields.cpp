// Field definitions and field objects: native value forms and conversions.
#include "framework/fields.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "framework/dataset.h"
#include "platform/platform.h"

namespace qd::fw {

void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

void DatabaseErrorFmt(const std::string& pattern, const std::string& argument) {
  std::string message = pattern;
  const std::size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, argument);
  throw EDatabaseError(message);
}

const char* FieldTypeName(TFieldType type) {
  switch (type) {
    case ftString: return "String";
    case ftInteger: return "Integer";
    case ftLargeint: return "Largeint";
    case ftFloat: return "Float";
    case ftBoolean: return "Boolean";
    case ftDate: return "Date";
    case ftTime: return "Time";
    case ftDateTime: return "DateTime";
    case ftBlob: return "Blob";
    case ftMemo: return "Memo";
    case ftFMTBcd: return "FMTBcd";
    case ftUnknown: break;
  }
  return "Unknown";
}

namespace {

// Reads a fixed-size native value; false when the field is null.
template <class T>
bool ReadValue(const TField& field, T& out) {
  T value{};
  if (!field.GetData(&value)) return false;
  out = value;
  return true;
}

[[noreturn]] void RangeError(const std::string& value, const TField& field, const std::string& low,
                             const std::string& high) {
  throw ERangeError(value + " is not a valid value for field '" + field.DisplayName() +
                    "'. The allowed range is " + low + " to " + high);
}

}  // namespace

// ------------------------------------------------------ field definitions ---

void TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required,
                     int field_no) {
  items_.emplace_back(name, type, size, required, field_no != 0 ? field_no : Count() + 1);
}

int TFieldDefs::IndexOf(const std::string& name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(items_[static_cast<std::size_t>(i)].Name(), name)) return i;
  return -1;
}

const TFieldDef* TFieldDefs::Find(const std::string& name) const {
  const int index = IndexOf(name);
  return index < 0 ? nullptr : &items_[static_cast<std::size_t>(index)];
}

void TFieldDefs::Update() {
  if (updated_) return;
  dataset_->InitFieldDefs();
  updated_ = true;
}

// ---------------------------------------------------------------- TField ---

TField::TField(TComponent* owner, TFieldType type) : TComponent(owner), data_type_(type) {}

TField::~TField() {
  if (dataset_ != nullptr) dataset_->RemoveField(this);
}

void TField::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (dataset != nullptr) dataset->CheckInactive();
  if (dataset_ != nullptr) dataset_->RemoveField(this);
  dataset_ = dataset;
  if (dataset_ != nullptr) dataset_->AddField(this);
}

void TField::SetFieldName(const std::string& name) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_name_ = name;
}

void TField::SetFieldKind(TFieldKind kind) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_kind_ = kind;
}

void TField::SetSize(int size) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  CheckTypeSize(size);
  size_ = size;
}

void TField::CheckTypeSize(int size) {
  if (size != 0) DatabaseError("Invalid field size");
}

std::string TField::DisplayName() const {
  return display_label_.empty() ? field_name_ : display_label_;
}

bool TField::CanModify() const {
  return !read_only_ && field_kind_ == fkData && dataset_ != nullptr && dataset_->CanModify();
}

TDataSet& TField::CheckDataSet() const {
  if (dataset_ == nullptr) DatabaseErrorFmt("Field '%s' has no dataset", DisplayName());
  return *dataset_;
}

bool TField::GetData(void* buffer) const {
  TDataSet& dataset = CheckDataSet();
  if (validating_) {
    if (validate_buffer_ == nullptr) return false;
    if (buffer != nullptr && DataSize() > 0)
      std::memcpy(buffer, validate_buffer_, static_cast<std::size_t>(DataSize()));
    return true;
  }
  return dataset.GetFieldData(const_cast<TField*>(this), buffer);
}

void TField::SetData(const void* buffer) { CheckDataSet().SetFieldData(this, buffer); }

bool TField::IsNull() const {
  std::vector<std::uint8_t> value(static_cast<std::size_t>(DataSize()) + 1);
  return !GetData(DataSize() > 0 ? value.data() : nullptr);
}

void TField::AccessError(const char* type_name) const {
  throw EDatabaseError("Cannot access field '" + DisplayName() + "' as type " + type_name);
}

std::string TField::AsString() const { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
std::int32_t TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(std::int32_t) { AccessError("Integer"); }
std::int64_t TField::AsLargeInt() const { AccessError("Largeint"); }
void TField::SetAsLargeInt(std::int64_t) { AccessError("Largeint"); }
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::AsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
TDateTime TField::AsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
Variant TField::AsVariant() const { AccessError("Variant"); }

void TField::SetAsVariant(const Variant& value) {
  switch (value.kind()) {
    case Variant::vkNull: Clear(); break;
    case Variant::vkBoolean: SetAsBoolean(value.AsBoolean()); break;
    case Variant::vkInteger: SetAsLargeInt(value.AsInteger()); break;
    case Variant::vkFloat: SetAsFloat(value.AsFloat()); break;
    case Variant::vkDateTime: SetAsDateTime(value.AsDateTime()); break;
    case Variant::vkString: SetAsString(value.AsString()); break;
    case Variant::vkArray:
      if (value.Count() > 0) SetAsVariant(value[0]);
      else Clear();
      break;
  }
}

std::string TField::GetText(bool /*display_text*/) const { return AsString(); }

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  validating_ = true;
  validate_buffer_ = buffer;
  try {
    OnValidate(this);
  } catch (...) {
    validating_ = false;
    validate_buffer_ = nullptr;
    throw;
  }
  validating_ = false;
  validate_buffer_ = nullptr;
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------- TStringField ---

TStringField::TStringField(TComponent* owner) : TField(owner, ftString) { SetSize(20); }

void TStringField::CheckTypeSize(int size) {
  if (size < 0 || size > 8192) DatabaseError("Invalid field size");
}

std::string TStringField::AsString() const {
  std::vector<char> value(static_cast<std::size_t>(DataSize()) + 1, '\0');
  if (!GetData(value.data())) return "";
  return std::string(value.data());  // up to the terminating zero
}

void TStringField::SetAsString(const std::string& value) {
  std::vector<char> data(static_cast<std::size_t>(DataSize()), '\0');
  const std::size_t length = std::min(value.size(), static_cast<std::size_t>(Size()));
  std::memcpy(data.data(), value.data(), length);
  SetData(data.data());
}

std::int32_t TStringField::AsInteger() const { return StrToInt(AsString()); }
void TStringField::SetAsInteger(std::int32_t value) { SetAsString(IntToStr(value)); }
std::int64_t TStringField::AsLargeInt() const { return StrToInt64(AsString()); }
void TStringField::SetAsLargeInt(std::int64_t value) { SetAsString(IntToStr(value)); }
double TStringField::AsFloat() const { return StrToFloat(AsString()); }
void TStringField::SetAsFloat(double value) { SetAsString(FloatToStr(value)); }

bool TStringField::AsBoolean() const {
  const std::string text = Trim(AsString());
  if (text.empty()) return false;
  const char c = UpperCase(text.substr(0, 1))[0];
  if (c == 'T' || c == 'Y') return true;
  if (c == 'F' || c == 'N') return false;
  throw EConvertError("'" + text + "' is not a valid boolean value");
}

void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "T" : "F"); }

Variant TStringField::AsVariant() const {
  if (IsNull()) return Variant();
  return Variant(AsString());
}

// -------------------------------------------------- whole-number fields ---

TIntegerField::TIntegerField(TComponent* owner) : TNumericField(owner, ftInteger) {}

void TIntegerField::CheckRange(std::int64_t value) const {
  std::int64_t low = std::numeric_limits<std::int32_t>::min();
  std::int64_t high = std::numeric_limits<std::int32_t>::max();
  if (MinValue != 0 || MaxValue != 0) {
    low = MinValue;
    high = MaxValue;
  }
  if (value < low || value > high) RangeError(IntToStr(value), *this, IntToStr(low), IntToStr(high));
}

std::int32_t TIntegerField::AsInteger() const {
  std::int32_t value = 0;
  return ReadValue(*this, value) ? value : 0;
}

void TIntegerField::SetAsInteger(std::int32_t value) {
  CheckRange(value);
  SetData(&value);
}

void TIntegerField::SetAsLargeInt(std::int64_t value) {
  CheckRange(value);
  SetAsInteger(static_cast<std::int32_t>(value));
}

void TIntegerField::SetAsFloat(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 9.3e18) RangeError(FloatToStr(value), *this, "", "");
  SetAsLargeInt(std::llround(value));
}

std::string TIntegerField::AsString() const {
  std::int32_t value = 0;
  return ReadValue(*this, value) ? IntToStr(value) : "";
}

void TIntegerField::SetAsString(const std::string& value) {
  if (Trim(value).empty()) Clear();
  else SetAsLargeInt(StrToInt64(value));
}

Variant TIntegerField::AsVariant() const {
  std::int32_t value = 0;
  return ReadValue(*this, value) ? Variant(value) : Variant();
}

TLargeintField::TLargeintField(TComponent* owner) : TNumericField(owner, ftLargeint) {}

std::int64_t TLargeintField::AsLargeInt() const {
  std::int64_t value = 0;
  return ReadValue(*this, value) ? value : 0;
}

std::int32_t TLargeintField::AsInteger() const {
  const std::int64_t value = AsLargeInt();
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    RangeError(IntToStr(value), *this, IntToStr(std::numeric_limits<std::int32_t>::min()),
               IntToStr(std::numeric_limits<std::int32_t>::max()));
  return static_cast<std::int32_t>(value);
}

void TLargeintField::SetAsLargeInt(std::int64_t value) {
  if ((MinValue != 0 || MaxValue != 0) && (value < MinValue || value > MaxValue))
    RangeError(IntToStr(value), *this, IntToStr(MinValue), IntToStr(MaxValue));
  SetData(&value);
}

void TLargeintField::SetAsFloat(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 9.2e18) RangeError(FloatToStr(value), *this, "", "");
  SetAsLargeInt(std::llround(value));
}

std::string TLargeintField::AsString() const {
  std::int64_t value = 0;
  return ReadValue(*this, value) ? IntToStr(value) : "";
}

void TLargeintField::SetAsString(const std::string& value) {
  if (Trim(value).empty()) Clear();
  else SetAsLargeInt(StrToInt64(value));
}

Variant TLargeintField::AsVariant() const {
  std::int64_t value = 0;
  return ReadValue(*this, value) ? Variant(value) : Variant();
}

// ----------------------------------------------------------- TFloatField ---

TFloatField::TFloatField(TComponent* owner) : TNumericField(owner, ftFloat) {}

double TFloatField::AsFloat() const {
  double value = 0;
  return ReadValue(*this, value) ? value : 0;
}

void TFloatField::SetAsFloat(double value) {
  if ((MinValue != 0 || MaxValue != 0) && (value < MinValue || value > MaxValue))
    RangeError(FloatToStr(value), *this, FloatToStr(MinValue), FloatToStr(MaxValue));
  SetData(&value);
}

std::int32_t TFloatField::AsInteger() const {
  const double value = std::round(AsFloat());
  if (!(value >= std::numeric_limits<std::int32_t>::min() &&
        value <= std::numeric_limits<std::int32_t>::max()))
    RangeError(FloatToStr(value), *this, IntToStr(std::numeric_limits<std::int32_t>::min()),
               IntToStr(std::numeric_limits<std::int32_t>::max()));
  return static_cast<std::int32_t>(value);
}

std::int64_t TFloatField::AsLargeInt() const {
  const double value = std::round(AsFloat());
  if (!(std::fabs(value) < 9.2e18)) RangeError(FloatToStr(value), *this, "", "");
  return static_cast<std::int64_t>(value);
}

std::string TFloatField::AsString() const {
  double value = 0;
  return ReadValue(*this, value) ? FloatToStr(value) : "";
}

void TFloatField::SetAsString(const std::string& value) {
  if (Trim(value).empty()) Clear();
  else SetAsFloat(StrToFloat(value));
}

Variant TFloatField::AsVariant() const {
  double value = 0;
  return ReadValue(*this, value) ? Variant(value) : Variant();
}

// ---------------------------------------------------------- TFMTBCDField ---

namespace {

char DecimalSeparator() { return qd::platform::CurrentHost().Regional().decimal_separator; }

// A plain decimal number: an optional sign, digits and at most one point,
// at least one digit.
bool IsDecimalText(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  bool digit = false, point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') digit = true;
    else if (text[i] == '.' && !point) point = true;
    else return false;
  }
  return digit;
}

}  // namespace

TFMTBCDField::TFMTBCDField(TComponent* owner) : TNumericField(owner, ftFMTBcd) { SetSize(20); }

void TFMTBCDField::CheckTypeSize(int size) {
  if (size < 0 || size > 8192) DatabaseError("Invalid field size");
}

std::string TFMTBCDField::Digits() const {
  std::vector<char> value(static_cast<std::size_t>(DataSize()) + 1, '\0');
  if (!GetData(value.data())) return "";
  return std::string(value.data());
}

void TFMTBCDField::SetDigits(const std::string& digits) {
  if (digits.size() > static_cast<std::size_t>(Size()))
    RangeError(digits, *this, "", std::string(static_cast<std::size_t>(Size()), '9'));
  std::vector<char> data(static_cast<std::size_t>(DataSize()), '\0');
  std::memcpy(data.data(), digits.data(), digits.size());
  SetData(data.data());
}

std::string TFMTBCDField::AsString() const {
  std::string text = Digits();
  for (char& c : text)
    if (c == '.') c = DecimalSeparator();
  return text;
}

void TFMTBCDField::SetAsString(const std::string& value) {
  std::string digits = Trim(value);
  if (digits.empty()) {
    Clear();
    return;
  }
  const char separator = DecimalSeparator();
  for (char& c : digits)
    if (c == separator) c = '.';
  if (!IsDecimalText(digits)) throw EConvertError("'" + value + "' is not a valid BCD value");
  SetDigits(digits);
}

double TFMTBCDField::AsFloat() const {
  const std::string digits = Digits();
  double value = 0;
  if (digits.empty() || !IsDecimalText(digits)) return 0;
  std::string_view view = digits;
  if (view.front() == '+') view.remove_prefix(1);
  std::from_chars(view.data(), view.data() + view.size(), value);
  return value;
}

void TFMTBCDField::SetAsFloat(double value) {
  if (!std::isfinite(value)) RangeError(FloatToStr(value), *this, "", "");
  // The shortest text that reads back as the value, in decimal notation.
  char text[400];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (result.ec != std::errc()) RangeError(FloatToStr(value), *this, "", "");
  SetDigits(std::string(text, result.ptr));
}

std::int64_t TFMTBCDField::AsLargeInt() const {
  const std::string digits = Digits();
  if (digits.find('.') == std::string::npos) {
    std::int64_t value = 0;
    if (digits.empty() || TryStrToInt64(digits, value)) return value;
  } else {
    const double value = std::round(AsFloat());
    if (std::fabs(value) < 9.2e18) return static_cast<std::int64_t>(value);
  }
  RangeError(digits, *this, IntToStr(std::numeric_limits<std::int64_t>::min()),
             IntToStr(std::numeric_limits<std::int64_t>::max()));
}

void TFMTBCDField::SetAsLargeInt(std::int64_t value) { SetDigits(IntToStr(value)); }

std::int32_t TFMTBCDField::AsInteger() const {
  const std::int64_t value = AsLargeInt();
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    RangeError(IntToStr(value), *this, IntToStr(std::numeric_limits<std::int32_t>::min()),
               IntToStr(std::numeric_limits<std::int32_t>::max()));
  return static_cast<std::int32_t>(value);
}

Variant TFMTBCDField::AsVariant() const {
  if (IsNull()) return Variant();
  return Variant(AsString());
}

// --------------------------------------------------------- TBooleanField ---

TBooleanField::TBooleanField(TComponent* owner) : TField(owner, ftBoolean) {}

bool TBooleanField::AsBoolean() const {
  std::uint16_t value = 0;
  return ReadValue(*this, value) && value != 0;
}

void TBooleanField::SetAsBoolean(bool value) {
  const std::uint16_t data = value ? 1 : 0;
  SetData(&data);
}

std::string TBooleanField::AsString() const {
  std::uint16_t value = 0;
  if (!ReadValue(*this, value)) return "";
  return value != 0 ? "True" : "False";
}

void TBooleanField::SetAsString(const std::string& value) {
  const std::string text = UpperCase(Trim(value));
  if (text.empty()) {
    Clear();
    return;
  }
  if (std::string("TRUE").rfind(text, 0) == 0) SetAsBoolean(true);
  else if (std::string("FALSE").rfind(text, 0) == 0) SetAsBoolean(false);
  else
    throw EConvertError("'" + value + "' is not a valid boolean value for field '" + DisplayName() +
                        "'");
}

Variant TBooleanField::AsVariant() const {
  std::uint16_t value = 0;
  return ReadValue(*this, value) ? Variant(value != 0) : Variant();
}

// -------------------------------------------------------- TDateTimeField ---

TDateTimeField::TDateTimeField(TComponent* owner, TFieldType type) : TField(owner, type) {}

int TDateTimeField::DataSize() const { return DataType() == ftDateTime ? 8 : 4; }

TDateTime TDateTimeField::AsDateTime() const {
  if (DataType() == ftDateTime) {
    double msecs = 0;
    if (!ReadValue(*this, msecs)) return 0;
    return TimeStampToDateTime(MSecsToTimeStamp(msecs));
  }
  std::int32_t value = 0;
  if (!ReadValue(*this, value)) return 0;
  TTimeStamp stamp;
  if (DataType() == ftDate) stamp.Date = value;
  else {
    stamp.Date = DateDelta;
    stamp.Time = value;
  }
  return TimeStampToDateTime(stamp);
}

void TDateTimeField::SetAsDateTime(TDateTime value) {
  const TTimeStamp stamp = DateTimeToTimeStamp(value);
  if (DataType() == ftTime) {
    SetData(&stamp.Time);
    return;
  }
  if (!std::isfinite(value) || stamp.Date < 1 || stamp.Date > 3652059)
    throw EConvertError("'" + FloatToStr(value) + "' is not a valid date");
  if (DataType() == ftDate) {
    SetData(&stamp.Date);
  } else {
    const double msecs = TimeStampToMSecs(stamp);
    SetData(&msecs);
  }
}

std::string TDateTimeField::GetText(bool /*display_text*/) const {
  if (IsNull()) return "";
  const TDateTime value = AsDateTime();
  switch (DataType()) {
    case ftDate: return DateToStr(value);
    case ftTime: return TimeToStr(value);
    default: return DateTimeToStr(value);
  }
}

void TDateTimeField::SetAsString(const std::string& value) {
  if (Trim(value).empty()) Clear();
  else if (DataType() == ftDate) SetAsDateTime(StrToDate(value));
  else SetAsDateTime(StrToDateTime(value));
}

Variant TDateTimeField::AsVariant() const {
  if (IsNull()) return Variant();
  return Variant::FromDateTime(AsDateTime());
}

// ------------------------------------------------------------ TBlobField ---

TBlobField::TBlobField(TComponent* owner, TFieldType type) : TField(owner, type) {}

bool TBlobField::IsNull() const {
  std::unique_ptr<TStream> stream = CheckDataSet().CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  if (!stream) return true;
  std::uint8_t byte = 0;
  return stream->Read(&byte, 1) == 0;
}

void TBlobField::Clear() {
  std::unique_ptr<TStream> stream = CheckDataSet().CreateBlobStream(this, bmWrite);
  if (!stream) DatabaseErrorFmt("Field '%s' cannot be modified", DisplayName());
}

std::string TBlobField::AsString() const {
  TMemoryStream memory;
  SaveToStream(memory);
  return memory.AsString();
}

void TBlobField::SetAsString(const std::string& value) {
  TMemoryStream memory;
  memory.WriteBuffer(value.data(), static_cast<std::int32_t>(value.size()));
  memory.SetPosition(0);
  LoadFromStream(memory);
}

void TBlobField::SaveToStream(TStream& stream) const {
  std::unique_ptr<TStream> blob = CheckDataSet().CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  if (!blob) return;
  std::uint8_t chunk[4096];
  for (;;) {
    const std::int32_t n = blob->Read(chunk, sizeof chunk);
    if (n <= 0) break;
    stream.WriteBuffer(chunk, n);
  }
}

void TBlobField::LoadFromStream(TStream& stream) {
  std::unique_ptr<TStream> blob = CheckDataSet().CreateBlobStream(this, bmWrite);
  if (!blob) DatabaseErrorFmt("Field '%s' cannot be modified", DisplayName());
  std::uint8_t chunk[4096];
  for (;;) {
    const std::int32_t n = stream.Read(chunk, sizeof chunk);
    if (n <= 0) break;
    blob->WriteBuffer(chunk, n);
  }
}

Variant TBlobField::AsVariant() const {
  if (IsNull()) return Variant();
  return Variant(AsString());
}

std::string TBlobField::GetText(bool display_text) const {
  if (!display_text) return AsString();
  const bool empty = IsNull();
  if (DataType() == ftMemo) return empty ? "(memo)" : "(MEMO)";
  return empty ? "(blob)" : "(BLOB)";
}

// --------------------------------------------------------------- TFields ---

TField* TFields::FindField(const std::string& name) const {
  for (TField* field : items_)
    if (SameText(field->FieldName(), name)) return field;
  return nullptr;
}

TField* TFields::FieldByName(const std::string& name) const {
  TField* field = FindField(name);
  if (field == nullptr) DatabaseErrorFmt("Field '%s' not found", name);
  return field;
}

TField* TFields::FieldByNumber(int field_no) const {
  for (TField* field : items_)
    if (field->FieldNo() == field_no) return field;
  return nullptr;
}

int TFields::IndexOf(const TField* field) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i] == field) return static_cast<int>(i);
  return -1;
}

}  // namespace qd::fw
