// Field definitions and field objects of the record-set framework.
//
// A dataset describes its columns with TFieldDef entries; opening it makes
// one TField per definition (or binds fields created beforehand). A field
// reads and writes its value through its dataset's GetFieldData and
// SetFieldData in the field's native form:
//   ftString    Size + 1 bytes, the characters ending with a zero byte
//   ftInteger   32-bit signed integer        ftLargeint  64-bit signed integer
//   ftFloat     64-bit float                 ftBoolean   16-bit, non-zero true
//   ftDate      32-bit timestamp day number  ftTime      32-bit milliseconds
//   ftDateTime  64-bit float millisecond count of the timestamp
//   ftMemo/ftBlob  no bytes: values travel through the dataset's blob streams
//   ftFMTBcd    Size + 1 bytes, a decimal number as its digits ("-12.50"),
//               ending with a zero byte; exact at any width
// Calculated and lookup fields keep their values in the dataset's calculated
// field area (one has-value byte, then DataSize bytes, at Offset()).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/component.h"
#include "framework/sysutils.h"
#include "framework/variant.h"

namespace qd::fw {

class TDataSet;
class TField;

// Errors of the framework's state and fields.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};
[[noreturn]] void DatabaseError(const std::string& message);
// Replaces the first "%s" of the pattern with the argument.
[[noreturn]] void DatabaseErrorFmt(const std::string& pattern, const std::string& argument);

enum TFieldType {
  ftUnknown, ftString, ftInteger, ftLargeint, ftFloat, ftBoolean, ftDate, ftTime,
  ftDateTime, ftBlob, ftMemo, ftFMTBcd
};
const char* FieldTypeName(TFieldType type);  // "String", "Integer", ...

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

enum TBlobStreamMode { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };

// ------------------------------------------------------ field definitions ---

class TFieldDefs;

class TFieldDef {
 public:
  TFieldDef(std::string name, TFieldType type, int size, bool required, int field_no)
      : name_(std::move(name)), data_type_(type), size_(size), required_(required),
        field_no_(field_no) {}
  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return data_type_; }
  int Size() const { return size_; }
  bool Required() const { return required_; }
  int FieldNo() const { return field_no_; }

 private:
  std::string name_;
  TFieldType data_type_;
  int size_;
  bool required_;
  int field_no_;
};

// The definitions of a dataset's columns. Update() asks the dataset to
// (re)build them when they are marked out of date.
class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* dataset) : dataset_(dataset) {}
  int Count() const { return static_cast<int>(items_.size()); }
  const TFieldDef& operator[](int index) const { return items_.at(static_cast<std::size_t>(index)); }
  // Field number 0 means "position in the list, from 1".
  void Add(const std::string& name, TFieldType type, int size = 0, bool required = false,
           int field_no = 0);
  void Clear() { items_.clear(); }
  int IndexOf(const std::string& name) const;  // -1 when absent; case-insensitive
  const TFieldDef* Find(const std::string& name) const;
  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  void Update();

 private:
  TDataSet* dataset_;
  std::vector<TFieldDef> items_;
  bool updated_ = false;
};

// ---------------------------------------------------------------- fields ---

using TFieldNotifyEvent = std::function<void(TField* sender)>;

class TField : public TComponent {
 public:
  explicit TField(TComponent* owner, TFieldType type = ftUnknown);
  ~TField() override;

  TDataSet* DataSet() const { return dataset_; }
  // Attaches the field to a dataset's field list (the dataset must be closed).
  void SetDataSet(TDataSet* dataset);

  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& name);
  TFieldType DataType() const { return data_type_; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind kind);
  bool IsCalculated() const { return field_kind_ != fkData; }
  // Data fields: the field definition's number (from 1). Calculated and
  // lookup fields: -1.
  int FieldNo() const { return field_no_; }
  // Calculated fields: offset of the has-value byte in the calculated area.
  int Offset() const { return offset_; }
  int Size() const { return size_; }
  void SetSize(int size);
  // Bytes of the native value (see the table at the top of this file).
  virtual int DataSize() const { return 0; }
  virtual bool IsBlob() const { return false; }

  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  const std::string& DisplayLabel() const { return display_label_; }
  void SetDisplayLabel(const std::string& label) { display_label_ = label; }
  // The display label, or the field name when there is none.
  std::string DisplayName() const;
  // Whether a value can be written: not read-only, a data field, and the
  // dataset allows changes.
  bool CanModify() const;

  // Raw access to the native value. GetData answers false for a null value;
  // SetData with no buffer makes the value null.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);

  virtual bool IsNull() const;
  // Makes the value null.
  virtual void Clear() { SetData(nullptr); }

  // Typed access. A conversion this field type does not offer raises
  // EDatabaseError "Cannot access field '<name>' as type <type>".
  virtual std::string AsString() const;
  virtual void SetAsString(const std::string& value);
  virtual std::int32_t AsInteger() const;
  virtual void SetAsInteger(std::int32_t value);
  virtual std::int64_t AsLargeInt() const;
  virtual void SetAsLargeInt(std::int64_t value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual TDateTime AsDateTime() const;
  virtual void SetAsDateTime(TDateTime value);
  virtual Variant AsVariant() const;
  virtual void SetAsVariant(const Variant& value);

  // Text for editing (display_text false) or showing (true).
  virtual std::string GetText(bool display_text) const;
  std::string Text() const { return GetText(false); }
  std::string DisplayText() const { return GetText(true); }
  void SetText(const std::string& text) { SetAsString(text); }

  // Calls OnValidate with the value about to be stored; while it runs, the
  // field's getters read that value.
  void Validate(const void* buffer);
  // Calls OnChange; the dataset calls it after a value was stored.
  virtual void Change();

  // Lookup fields: the key fields of this dataset, the dataset searched, its
  // key fields and the field whose value is taken.
  TDataSet* LookupDataSet = nullptr;
  std::string KeyFields;
  std::string LookupKeyFields;
  std::string LookupResultField;

  TFieldNotifyEvent OnValidate;
  TFieldNotifyEvent OnChange;

 protected:
  // Rejects a size this field type does not take: the base accepts only 0
  // ("Invalid field size").
  virtual void CheckTypeSize(int size);
  void SetDataType(TFieldType type) { data_type_ = type; }
  [[noreturn]] void AccessError(const char* type_name) const;
  TDataSet& CheckDataSet() const;

 private:
  friend class TDataSet;
  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  TFieldType data_type_;
  TFieldKind field_kind_ = fkData;
  int field_no_ = 0;
  int offset_ = 0;
  int size_ = 0;
  bool read_only_ = false;
  bool required_ = false;
  std::string display_label_;
  bool validating_ = false;
  const void* validate_buffer_ = nullptr;
};

// Text: up to Size characters; longer values are cut.
class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner);
  int DataSize() const override { return Size() + 1; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  bool AsBoolean() const override;  // "T", "Y" true; "F", "N", "" false
  void SetAsBoolean(bool value) override;
  Variant AsVariant() const override;

 protected:
  void CheckTypeSize(int size) override;  // 0 to 8192
};

// Shared behaviour of the whole-number fields: optional range (MinValue and
// MaxValue both 0 mean the type's range), text as decimal digits.
class TNumericField : public TField {
 public:
  using TField::TField;
};

class TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(TComponent* owner);
  int DataSize() const override { return 4; }
  std::int32_t MinValue = 0;
  std::int32_t MaxValue = 0;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override { return AsInteger(); }
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override { return AsInteger(); }
  void SetAsFloat(double value) override;
  Variant AsVariant() const override;

 protected:
  void CheckRange(std::int64_t value) const;
};

class TLargeintField : public TNumericField {
 public:
  explicit TLargeintField(TComponent* owner);
  int DataSize() const override { return 8; }
  std::int64_t MinValue = 0;
  std::int64_t MaxValue = 0;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;  // range-checked
  void SetAsInteger(std::int32_t value) override { SetAsLargeInt(value); }
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override { return static_cast<double>(AsLargeInt()); }
  void SetAsFloat(double value) override;
  Variant AsVariant() const override;
};

class TFloatField : public TNumericField {
 public:
  explicit TFloatField(TComponent* owner);
  int DataSize() const override { return 8; }
  double MinValue = 0;
  double MaxValue = 0;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;  // rounded
  void SetAsInteger(std::int32_t value) override { SetAsFloat(value); }
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override { SetAsFloat(static_cast<double>(value)); }
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  Variant AsVariant() const override;
};

// A decimal number kept as its digits, so that numbers wider than any
// binary form stay exact: Size characters at most (sign and point
// included). Its text shows the host's decimal separator; assigned text must
// be a plain decimal number (sign, digits, one separator) that fits Size.
class TFMTBCDField : public TNumericField {
 public:
  explicit TFMTBCDField(TComponent* owner);
  int DataSize() const override { return Size() + 1; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;  // rounded, range-checked
  void SetAsInteger(std::int32_t value) override { SetAsLargeInt(value); }
  std::int64_t AsLargeInt() const override;  // rounded, range-checked
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  Variant AsVariant() const override;  // the text, exact

 protected:
  void CheckTypeSize(int size) override;  // 0 to 8192
  // The number's digits as stored ('.' as the point), empty when null.
  std::string Digits() const;
  void SetDigits(const std::string& digits);
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner);
  int DataSize() const override { return 2; }
  std::string AsString() const override;  // "True" / "False", "" when null
  void SetAsString(const std::string& value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  Variant AsVariant() const override;
};

// Date, time and date-time fields. The text of a date field is DateToStr;
// an empty text clears the field.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner, TFieldType type = ftDateTime);
  int DataSize() const override;
  std::string AsString() const override { return GetText(false); }
  void SetAsString(const std::string& value) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;
  double AsFloat() const override { return AsDateTime(); }
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  Variant AsVariant() const override;
  std::string GetText(bool display_text) const override;
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner) : TDateTimeField(owner, ftDate) {}
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner) : TDateTimeField(owner, ftTime) {}
};

// Binary and text blobs: values are read and written through the dataset's
// CreateBlobStream. Clearing opens a write stream and writes nothing.
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner, TFieldType type = ftBlob);
  bool IsBlob() const override { return true; }
  bool IsNull() const override;
  void Clear() override;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  Variant AsVariant() const override;
  std::string GetText(bool display_text) const override;
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
};

// A blob holding text.
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner) : TBlobField(owner, ftMemo) {}
};

// Creates a field object of a chosen class (what GetFieldClass answers).
using TFieldClass = TField* (*)(TComponent* owner);
template <class FieldType>
TField* NewField(TComponent* owner) {
  return new FieldType(owner);
}

// The fields of a dataset, in order. Does not own them.
class TFields {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TField* operator[](int index) const { return items_.at(static_cast<std::size_t>(index)); }
  TField* FindField(const std::string& name) const;  // case-insensitive
  // Raises EDatabaseError "Field '<name>' not found".
  TField* FieldByName(const std::string& name) const;
  TField* FieldByNumber(int field_no) const;
  int IndexOf(const TField* field) const;

 private:
  friend class TDataSet;
  std::vector<TField*> items_;
};

}  // namespace qd::fw
