// Variant values: conversions and comparison.
#include "framework/variant.h"

#include <cmath>

namespace qd::fw {

int Variant::Count() const {
  if (const auto* items = std::get_if<std::vector<Variant>>(&value_))
    return static_cast<int>(items->size());
  return 1;
}

const Variant& Variant::operator[](int index) const {
  if (const auto* items = std::get_if<std::vector<Variant>>(&value_))
    return items->at(static_cast<std::size_t>(index));
  if (index != 0) throw ERangeError("Variant array index out of bounds");
  return *this;
}

std::string Variant::AsString() const {
  switch (kind()) {
    case vkNull: return "";
    case vkBoolean: return std::get<bool>(value_) ? "True" : "False";
    case vkInteger: return IntToStr(std::get<std::int64_t>(value_));
    case vkFloat: return FloatToStr(std::get<double>(value_));
    case vkDateTime: return DateTimeToStr(std::get<DateTimeValue>(value_).value);
    case vkString: return std::get<std::string>(value_);
    case vkArray: return Count() > 0 ? (*this)[0].AsString() : "";
  }
  return "";
}

std::int64_t Variant::AsInteger() const {
  switch (kind()) {
    case vkNull: return 0;
    case vkBoolean: return std::get<bool>(value_) ? 1 : 0;
    case vkInteger: return std::get<std::int64_t>(value_);
    case vkFloat: return std::llround(std::get<double>(value_));
    case vkDateTime: return std::llround(std::get<DateTimeValue>(value_).value);
    case vkString: return StrToInt64(std::get<std::string>(value_));
    case vkArray: return Count() > 0 ? (*this)[0].AsInteger() : 0;
  }
  return 0;
}

double Variant::AsFloat() const {
  switch (kind()) {
    case vkNull: return 0;
    case vkBoolean: return std::get<bool>(value_) ? 1 : 0;
    case vkInteger: return static_cast<double>(std::get<std::int64_t>(value_));
    case vkFloat: return std::get<double>(value_);
    case vkDateTime: return std::get<DateTimeValue>(value_).value;
    case vkString: return StrToFloat(std::get<std::string>(value_));
    case vkArray: return Count() > 0 ? (*this)[0].AsFloat() : 0;
  }
  return 0;
}

bool Variant::AsBoolean() const {
  switch (kind()) {
    case vkNull: return false;
    case vkBoolean: return std::get<bool>(value_);
    case vkString: {
      const std::string& text = std::get<std::string>(value_);
      if (SameText(text, "true")) return true;
      if (SameText(text, "false")) return false;
      return StrToFloat(text) != 0;
    }
    case vkArray: return Count() > 0 && (*this)[0].AsBoolean();
    default: return AsFloat() != 0;
  }
}

TDateTime Variant::AsDateTime() const {
  switch (kind()) {
    case vkDateTime: return std::get<DateTimeValue>(value_).value;
    case vkString: return StrToDateTime(std::get<std::string>(value_));
    case vkArray: return Count() > 0 ? (*this)[0].AsDateTime() : 0;
    default: return AsFloat();
  }
}

bool operator==(const Variant& a, const Variant& b) {
  const auto is_number = [](Variant::Kind k) {
    return k == Variant::vkInteger || k == Variant::vkFloat || k == Variant::vkDateTime;
  };
  if (a.kind() == Variant::vkInteger && b.kind() == Variant::vkInteger)
    return a.AsInteger() == b.AsInteger();
  if (is_number(a.kind()) && is_number(b.kind())) return a.AsFloat() == b.AsFloat();
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Variant::vkNull: return true;
    case Variant::vkBoolean: return a.AsBoolean() == b.AsBoolean();
    case Variant::vkString: return a.AsString() == b.AsString();
    case Variant::vkArray: {
      if (a.Count() != b.Count()) return false;
      for (int i = 0; i < a.Count(); ++i)
        if (!(a[i] == b[i])) return false;
      return true;
    }
    default: return false;
  }
}

}  // namespace qd::fw
