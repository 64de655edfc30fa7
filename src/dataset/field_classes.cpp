// Field classes of the table dataset, engine date text to date-time
// numbers, and the warning display of the dataset units.
#include "dataset/field_classes.h"

#include "dataset/date_slots.h"
#include "foundation/dates.h"
#include "framework/forms.h"
#include "platform/platform.h"

namespace qd {

namespace {

std::uint8_t warning_level = 2;

// Sizes the numeric fields take: the table field's length, up to 20 digits.
bool NumericSize(int size) { return size >= 0 && size <= 20; }

}  // namespace

void TQdIntegerField::CheckTypeSize(int size) {
  if (!NumericSize(size)) fw::TIntegerField::CheckTypeSize(size);
}

void TQdLargeintField::CheckTypeSize(int size) {
  if (!NumericSize(size)) fw::TLargeintField::CheckTypeSize(size);
}

void TQdFloatField::CheckTypeSize(int size) {
  if (!NumericSize(size)) fw::TFloatField::CheckTypeSize(size);
}

// ------------------------------------------------------------- dates ---

fw::TDateTime DateTextToDateTime(const std::string& text, bool strict) {
  const std::string trimmed = fw::TrimLeft(text).substr(0, 10);
  std::string checked = trimmed;
  if (!trimmed.empty() && ValidDate(checked)) {
    if (checked == BlankDate(DateFormat)) return 0;
    // The stored form reads a four-digit year as written and gives a
    // two-digit one the engine's century for it.
    fw::TDateTime value = 0;
    if (dataset_dates::StoredToDateTime(DateToDtos(trimmed), value)) return value;
    return 0;
  }
  if (strict && !trimmed.empty()) return fw::StrToDate(text);
  return 0;
}

std::string TQdDateField::GetText(bool /*display_text*/) const {
  if (IsNull()) return "";
  std::string text = dataset_dates::EngineDateText(AsDateTime());
  std::string shown = text.substr(0, 10);
  if (ValidDate(shown)) return shown;
  return text;
}

void TQdDateField::SetAsString(const std::string& value) {
  if (DataType() != fw::ftDate) {
    fw::TDateField::SetAsString(value);
    return;
  }
  const std::string given = fw::TrimRight(value.substr(0, 10));
  if (given == fw::TrimRight(BlankDate(DateFormat))) {
    fw::TDateField::SetAsString("");
    return;
  }
  SetAsDateTime(DateTextToDateTime(value, true));
}

// ---------------------------------------------------------- warnings ---

void ShowWarning(const std::string& text) {
  if (warning_level != 2) return;
  std::string shown = text;
  platform::OemToAnsi(reinterpret_cast<std::uint8_t*>(shown.data()), shown.size());
  fw::ShowMessage(shown);
}

void ShowWarning(const std::string& format, const std::vector<std::string>& arguments) {
  std::string text;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'd')) {
      if (next < arguments.size()) text += arguments[next++];
      ++i;
      continue;
    }
    text += format[i];
  }
  ShowWarning(text);
}

std::uint8_t WarningLevel(std::uint8_t new_level) {
  const std::uint8_t level = warning_level;
  if (new_level != 0) warning_level = new_level;
  return level;
}

}  // namespace qd
