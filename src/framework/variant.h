// A small variant value for key lists and lookup results: null, logical,
// 64-bit integer, float, date-time, text, or an array of variants (several
// key values at once).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "framework/sysutils.h"

namespace qd::fw {

class Variant {
 public:
  enum Kind { vkNull, vkBoolean, vkInteger, vkFloat, vkDateTime, vkString, vkArray };

  struct DateTimeValue {
    TDateTime value = 0;
  };

  Variant() = default;
  Variant(bool value) : value_(value) {}
  Variant(int value) : value_(static_cast<std::int64_t>(value)) {}
  Variant(std::int64_t value) : value_(value) {}
  Variant(double value) : value_(value) {}
  Variant(const char* value) : value_(std::string(value)) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(std::vector<Variant> items) : value_(std::move(items)) {}
  static Variant FromDateTime(TDateTime value) { return Variant(DateTimeValue{value}); }

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool IsNull() const { return kind() == vkNull; }
  bool IsArray() const { return kind() == vkArray; }

  // Array access; a scalar counts as an array of one (itself).
  int Count() const;
  const Variant& operator[](int index) const;

  // Conversions. Null gives "", 0, false; an array converts its first item.
  // Text that does not convert raises EConvertError.
  std::string AsString() const;
  std::int64_t AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  // Equal kinds compare by value; numbers compare across integer, float and
  // date-time; null equals only null.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  explicit Variant(DateTimeValue value) : value_(value) {}
  std::variant<std::monostate, bool, std::int64_t, double, DateTimeValue, std::string,
               std::vector<Variant>>
      value_;
};

// A variant array of the given items (VarArrayOf).
inline Variant VarArrayOf(std::vector<Variant> items) { return Variant(std::move(items)); }

}  // namespace qd::fw
