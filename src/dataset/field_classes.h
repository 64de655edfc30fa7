// The field classes the table dataset uses for its numeric and date
// fields, the conversion of the engine's date text into a date-time number,
// and the warning display of the dataset units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/fields.h"

namespace qd {

// Integer fields keep the table field's length (0 to 20) as their Size.
class TQdIntegerField : public fw::TIntegerField {
 public:
  using fw::TIntegerField::TIntegerField;

 protected:
  void CheckTypeSize(int size) override;
};

// Integer fields of 10 digits or more, whose values need 64 bits.
class TQdLargeintField : public fw::TLargeintField {
 public:
  using fw::TLargeintField::TLargeintField;

 protected:
  void CheckTypeSize(int size) override;
};

class TQdFloatField : public fw::TFloatField {
 public:
  using fw::TFloatField::TFloatField;

 protected:
  void CheckTypeSize(int size) override;
};

// A date field whose text follows the engine's date format: GetText shows
// the engine's display form, SetAsString reads it (the format's blank date
// clears the field).
class TQdDateField : public fw::TDateField {
 public:
  using fw::TDateField::TDateField;
  std::string GetText(bool display_text) const override;
  std::string AsString() const override { return GetText(false); }
  void SetAsString(const std::string& value) override;
};

// Engine date text to a date-time number (days since 30 December 1899; 0 is
// blank). A valid text with a two-digit year gets the engine's century for
// it. Text that is not a valid engine date gives 0 in lenient mode; in strict
// mode a non-empty one goes to the host's date reading, which raises
// fw::EConvertError for text that is not a date.
fw::TDateTime DateTextToDateTime(const std::string& text, bool strict);

// Shows a warning in a message box (converted from the OEM to the ANSI
// character set) while the warning level is 2.
void ShowWarning(const std::string& text);
// The same with "%s" and "%d" in the format replaced by the arguments in
// order.
void ShowWarning(const std::string& format, const std::vector<std::string>& arguments);
// Answers the warning level; a non-zero argument sets a new one.
std::uint8_t WarningLevel(std::uint8_t new_level = 0);

}  // namespace qd
