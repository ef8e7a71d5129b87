#pragma once
// Model values to and from their wire encodings: ids as canonical UUID text
// (the nil UUID text for an empty reference), enumerations as their integer
// value, lists as vectors.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/Entity.h"

#include <flatbuffers/flatbuffers.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qor::server::wire {

using Builder = flatbuffers::FlatBufferBuilder;
using StringOffset = flatbuffers::Offset<flatbuffers::String>;
using StringsOffset = flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<flatbuffers::String>>>;

inline StringOffset idOf(Builder& b, const fennik::server::Entity* entity) {
  return b.CreateString(entity ? entity->strId() : std::string(fennik::server::NIL_UUID_TEXT));
}

// A relation list (or any list of entity pointers).
template <class List>
StringsOffset idsOf(Builder& b, const List& entities) {
  std::vector<StringOffset> ids;
  ids.reserve(entities.size());
  for (const fennik::server::Entity* e : entities) ids.push_back(idOf(b, e));
  return b.CreateVector(ids);
}

inline StringOffset text(Builder& b, const std::string& value) { return b.CreateString(value); }
inline StringOffset text(Builder& b, const fennik::server::Uuid& value) {
  return b.CreateString(fennik::server::UuidToS(value));
}

inline StringsOffset list(Builder& b, const std::vector<std::string>& values) {
  return b.CreateVectorOfStrings(values);
}
inline StringsOffset list(Builder& b, const std::vector<fennik::server::Uuid>& values) {
  return b.CreateVectorOfStrings(fennik::server::uuidVectorToStringVector(values));
}
inline flatbuffers::Offset<flatbuffers::Vector<std::uint8_t>> list(Builder& b, const std::vector<bool>& values) {
  std::vector<std::uint8_t> bytes(values.begin(), values.end());
  return b.CreateVector(bytes);
}
template <class V>
flatbuffers::Offset<flatbuffers::Vector<V>> list(Builder& b, const std::vector<V>& values) {
  return b.CreateVector(values);
}
// A list of enumerations, as the wire enumeration type W.
template <class W, class V>
flatbuffers::Offset<flatbuffers::Vector<W>> enumList(Builder& b, const std::vector<V>& values) {
  std::vector<W> converted;
  converted.reserve(values.size());
  for (V v : values) converted.push_back(static_cast<W>(v));
  return b.CreateVector(converted);
}

// Wire to model.
inline std::string fromWire(const flatbuffers::String* s) { return s ? s->str() : std::string(); }
inline fennik::server::Uuid uuidFromWire(const flatbuffers::String* s) {
  return s ? fennik::server::UuidFromS(s->string_view()) : fennik::server::Uuid{};
}

}  // namespace qor::server::wire
