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

// Walks every present value of the table, nested tables and vectors included.
class ValueCheck : public flatbuffers::IterationVisitor {
 public:
  void Field(size_t, size_t, flatbuffers::ElementaryType, bool, const flatbuffers::TypeTable*, const char* name,
             const uint8_t*) override {
    field_ = name ? name : "?";
  }
  void String(const flatbuffers::String* s) override {
    if (problem_ || !s) return;
    problem_ = checkWireString(s->string_view(), "the string of field '" + field_ + "'");
  }
  void Double(double value) override { number(value); }
  void Float(float value) override { number(value); }

  std::optional<std::string> problem_;

 private:
  void number(double value) {
    if (!problem_ && !std::isfinite(value)) problem_ = "field '" + field_ + "' holds " + std::to_string(value);
  }

  std::string field_;
};

}  // namespace

std::optional<std::string> checkWireValues(const std::uint8_t* table, const flatbuffers::TypeTable* type) {
  if (!table || !type) return std::nullopt;
  ValueCheck check;
  flatbuffers::IterateObject(table, type, &check);
  return check.problem_;
}

}  // namespace fennik::server
