#pragma once
// Text forms of the model's enumerations. A value outside an enumeration's
// table is written as its "<NAME>_MAX" sentinel, and that text (or any
// unknown text) reads back as the sentinel value, so nothing is lost silently.

#include <cstdint>
#include <optional>
#include <string_view>

namespace qor::server {

struct EnumValue {
  std::string_view name;
  std::int32_t value;
};

// Specialised per enumeration in the generated Enums.h.
template <class E>
struct EnumInfo;

template <class E>
std::string_view enumToString(E value) {
  for (const auto& v : EnumInfo<E>::VALUES) {
    if (v.value == static_cast<std::int32_t>(value)) return v.name;
  }
  return EnumInfo<E>::MAX_NAME;
}

template <class E>
E enumFromString(std::string_view text) {
  for (const auto& v : EnumInfo<E>::VALUES) {
    if (v.name == text) return static_cast<E>(v.value);
  }
  return static_cast<E>(EnumInfo<E>::MAX_VALUE);
}

// Strict form for callers that must reject unknown names.
template <class E>
std::optional<E> enumFromStringStrict(std::string_view text) {
  for (const auto& v : EnumInfo<E>::VALUES) {
    if (v.name == text) return static_cast<E>(v.value);
  }
  return std::nullopt;
}

template <class E>
bool isKnownEnumValue(E value) {
  for (const auto& v : EnumInfo<E>::VALUES) {
    if (v.value == static_cast<std::int32_t>(value)) return true;
  }
  return false;
}

}  // namespace qor::server
