#include "fennik/server/ksp/WireValues.h"

#include <cmath>

namespace fennik::server {

bool isValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;   // no overlong forms
      if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;   // no overlong forms
      if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < length) return false;
    if (p[1] < low || p[1] > high) return false;
    for (std::size_t i = 2; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += length;
  }
  return true;
}

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
