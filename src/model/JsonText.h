#pragma once
// JSON text written straight from values, byte for byte what the JSON
// library's compact dump() writes for the same values: strings escaped the
// same way, integers in decimal, doubles in the library's shortest
// round-trip form ("1.0", "1e+20"), UUIDs as their text. Saving a project
// writes each entity this way instead of building a JSON object per entity
// first.
//
// The text is always one the project reader takes back. A value that has no
// such text — invalid UTF-8 in a string, a NaN or an infinity — cannot come
// from a client (requests are checked), but should one arise inside the
// server it is written repaired (U+FFFD for each bad byte sequence, 0 for the
// number) and counted in `repairs`, so the saver names it in the log instead
// of the whole save failing.

#include "model/EnumText.h"

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/EntityJsonSerializer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qor::server::json_text {

// Whether a byte can stand unescaped in a JSON string on the fast path:
// printable ASCII other than the quote and the backslash (DEL included, as
// the library writes it unescaped too).
// Values written repaired on this thread so far (see above).
inline thread_local std::size_t repairs = 0;

inline bool isPlain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

inline void appendString(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (!isPlain(static_cast<unsigned char>(c))) {
      // Escapes, control characters and multi-byte UTF-8 (with its
      // validation) are left to the library: rare in projects, exact by
      // construction.
      const fennik::server::Json value = std::string(text);
      try {
        out += value.dump();
      } catch (const fennik::server::Json::type_error&) {
        out += value.dump(-1, ' ', false, fennik::server::Json::error_handler_t::replace);
        ++repairs;
      }
      return;
    }
  }
  out += '"';
  out.append(text);
  out += '"';
}

inline void appendUuid(std::string& out, const fennik::server::Uuid& id) {
  out += '"';
  fennik::server::appendUuidText(out, id);
  out += '"';
}

inline void appendDouble(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += '0';
    ++repairs;
    return;
  }
  std::array<char, 64> text;
  const char* end = nlohmann::detail::to_chars(text.data(), text.data() + text.size(), value);
  out.append(text.data(), static_cast<std::size_t>(end - text.data()));
}

template <class I>
void appendInteger(std::string& out, I value) {
  std::array<char, 24> text;
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  out.append(text.data(), static_cast<std::size_t>(result.ptr - text.data()));
}

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

template <class V>
void append(std::string& out, const std::vector<V>& values) {
  out += '[';
  bool first = true;
  for (const auto& v : values) {
    if (!first) out += ',';
    first = false;
    append<V>(out, v);
  }
  out += ']';
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
