#pragma once
// The entities' JSON text: what the JSON library's compact dump() writes
// for each field type of the model (enums by their names, UUIDs as text,
// lists), built on the host's writer of single values
// (fennik/server/core/JsonText.h), which also counts the repairs.

#include "model/EnumText.h"

#include "fennik/server/core/JsonText.h"
#include "fennik/server/core/Uuid.h"

#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace qor::server::json_text {

using fennik::server::json_text::appendDouble;
using fennik::server::json_text::appendInteger;
using fennik::server::json_text::appendString;
using fennik::server::json_text::appendUuid;
using fennik::server::json_text::repairs;

// One value of a field, as json_detail::toJson would make it and dump() write it.
template <class V>
void append(std::string& out, const V& value) {
  if constexpr (std::is_enum_v<V>) {
    appendString(out, enumToString(value));
  } else if constexpr (std::is_same_v<V, fennik::server::Uuid>) {
    appendUuid(out, value);
  } else if constexpr (std::is_same_v<V, bool>) {
    out += value ? "true" : "false";
  } else if constexpr (std::is_floating_point_v<V>) {
    appendDouble(out, static_cast<double>(value));
  } else if constexpr (std::is_integral_v<V>) {
    appendInteger(out, value);
  } else if constexpr (std::is_convertible_v<const V&, std::string_view>) {
    appendString(out, value);
  } else {
    static_assert(sizeof(V) == 0, "no JSON text for this field type");
  }
}

// A JSON array of the values.
template <class V>
void appendList(std::string& out, std::span<const V> values) {
  out += '[';
  bool first = true;
  for (const auto& v : values) {
    if (!first) out += ',';
    first = false;
    append<V>(out, v);
  }
  out += ']';
}

template <class V>
void append(std::string& out, const std::vector<V>& values) {
  appendList<V>(out, values);
}

inline void append(std::string& out, const std::vector<bool>& values) {
  out += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) out += ',';
    out += values[i] ? "true" : "false";
  }
  out += ']';
}

}  // namespace qor::server::json_text
