#pragma once
// The values a client sends, checked in one place after the FlatBuffers
// verifier has checked the structure: every string (in any table, vector or
// nested table of the payload) is valid UTF-8 and at most MAX_STRING_BYTES
// long, and every double or float is finite. The model stores what passes
// unchanged, so a value that could not be saved and opened again never gets
// in. Request handlers answer 400 when this finds something.

#include "fennik/server/core/Utf8.h"

#include <flatbuffers/flatbuffers.h>
#include <flatbuffers/minireflect.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fennik::server {

// Longest string accepted in a request (1 MiB): far above any name, label
// or address, room for the JSON texts of presets and panels.
inline constexpr std::size_t MAX_STRING_BYTES = 1024 * 1024;

// What is wrong with a string from outside, or nothing.
std::optional<std::string> checkWireString(std::string_view text, std::string_view what);

// What is wrong with the values of a verified table of the given type (its
// mini reflection table), naming the field; nothing when every value passes.
std::optional<std::string> checkWireValues(const std::uint8_t* table, const flatbuffers::TypeTable* type);

template <class Table>
std::optional<std::string> checkWireValues(const Table& table) {
  return checkWireValues(reinterpret_cast<const std::uint8_t*>(&table), Table::MiniReflectTypeTable());
}

}  // namespace fennik::server
