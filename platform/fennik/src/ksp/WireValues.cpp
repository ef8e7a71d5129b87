#include "fennik/server/ksp/WireValues.h"

#include <cmath>

namespace fennik::server {

std::optional<std::string> checkWireString(std::string_view text, std::string_view what) {
  if (text.size() > MAX_STRING_BYTES) {
    return std::string(what) + " is longer than " + std::to_string(MAX_STRING_BYTES) + " bytes";
  }
  if (!isValidUtf8(text)) return std::string(what) + " is no valid UTF-8";
  return std::nullopt;
}

namespace {

// Walks the strings and floating-point numbers of a table, nested tables,
// structs, unions and vectors included; stops at the first problem. Vectors
// of integers are passed over whole: they cannot hold either, and a payload
// of bytes (an envelope's, a database file's) would otherwise be visited a
// byte at a time.
class ValueCheck {
 public:
  std::optional<std::string> problem;

  void object(const std::uint8_t* obj, const flatbuffers::TypeTable* type) {
    const std::uint8_t* previous = nullptr;  // a union's type field comes right before it
    std::size_t arrayIndex = 0;
    for (std::size_t i = 0; i < type->num_elems && !problem; ++i) {
      const auto code = type->type_codes[i];
      const auto elementary = static_cast<flatbuffers::ElementaryType>(code.base_type);
      const flatbuffers::TypeTable* ref = code.sequence_ref >= 0 ? type->type_refs[code.sequence_ref]() : nullptr;
      const std::uint8_t* at = type->st == flatbuffers::ST_TABLE
                                   ? reinterpret_cast<const flatbuffers::Table*>(obj)->GetAddressOf(
                                         flatbuffers::FieldIndexToOffset(static_cast<flatbuffers::voffset_t>(i)))
                                   : obj + type->values[i];
      field_ = type->names ? type->names[i] : "?";
      if (at && code.is_repeating) {
        std::size_t size = 0;
        const std::uint8_t* element = at;
        if (type->st == flatbuffers::ST_TABLE) {
          // On to the vector itself: a union vector's types are read from it.
          at += flatbuffers::ReadScalar<flatbuffers::uoffset_t>(at);
          const auto* vector = reinterpret_cast<const flatbuffers::Vector<std::uint8_t>*>(at);
          element = vector->Data();
          size = vector->size();
        } else {
          size = type->array_sizes[arrayIndex++];
        }
        if (holdsChecked(elementary)) {
          const auto step = flatbuffers::InlineSize(elementary, ref);
          for (std::size_t j = 0; j < size && !problem; ++j, element += step) {
            value(elementary, element, ref, previous, static_cast<flatbuffers::soffset_t>(j));
          }
        }
      } else if (at) {
        value(elementary, at, ref, previous, -1);
      }
      previous = at;
    }
  }

 private:
  static bool holdsChecked(flatbuffers::ElementaryType type) {
    return type == flatbuffers::ET_FLOAT || type == flatbuffers::ET_DOUBLE || type == flatbuffers::ET_STRING ||
           type == flatbuffers::ET_SEQUENCE;
  }

  void value(flatbuffers::ElementaryType type, const std::uint8_t* at, const flatbuffers::TypeTable* ref,
             const std::uint8_t* previous, flatbuffers::soffset_t index) {
    switch (type) {
      case flatbuffers::ET_FLOAT:
        return number(flatbuffers::ReadScalar<float>(at));
      case flatbuffers::ET_DOUBLE:
        return number(flatbuffers::ReadScalar<double>(at));
      case flatbuffers::ET_STRING:
        return string(at + flatbuffers::ReadScalar<flatbuffers::uoffset_t>(at));
      case flatbuffers::ET_SEQUENCE:
        return sequence(at, ref, previous, index);
      default:
        return;
    }
  }

  void sequence(const std::uint8_t* at, const flatbuffers::TypeTable* ref, const std::uint8_t* previous,
                flatbuffers::soffset_t index) {
    switch (ref->st) {
      case flatbuffers::ST_TABLE:
        return object(at + flatbuffers::ReadScalar<flatbuffers::uoffset_t>(at), ref);
      case flatbuffers::ST_STRUCT:
        return object(at, ref);
      case flatbuffers::ST_UNION: {
        if (!previous) return;
        at += flatbuffers::ReadScalar<flatbuffers::uoffset_t>(at);
        auto kind = *previous;
        if (index >= 0)
          kind = reinterpret_cast<const flatbuffers::Vector<std::uint8_t>*>(previous)->Get(
              static_cast<flatbuffers::uoffset_t>(index));
        const auto member = flatbuffers::LookupEnum(kind, ref->values, ref->num_elems);
        if (member < 0 || member >= static_cast<std::int32_t>(ref->num_elems)) return;
        const auto code = ref->type_codes[member];
        if (code.base_type == flatbuffers::ET_SEQUENCE) return object(at, ref->type_refs[code.sequence_ref]());
        if (code.base_type == flatbuffers::ET_STRING) return string(at);
        return;
      }
      case flatbuffers::ST_ENUM:
        return;
    }
  }

  void string(const std::uint8_t* at) {
    problem = checkWireString(reinterpret_cast<const flatbuffers::String*>(at)->string_view(),
                              "the string of field '" + std::string(field_) + "'");
  }

  void number(double value) {
    if (!std::isfinite(value)) problem = "field '" + std::string(field_) + "' holds " + std::to_string(value);
  }

  const char* field_ = "?";
};

}  // namespace

std::optional<std::string> checkWireValues(const std::uint8_t* table, const flatbuffers::TypeTable* type) {
  if (!table || !type) return std::nullopt;
  ValueCheck check;
  check.object(table, type);
  return check.problem;
}

}  // namespace fennik::server
