#pragma once
// JSON text written straight from values, byte for byte what the JSON
// library's compact dump() writes for the same values: strings escaped the
// same way, integers in decimal, doubles in the library's shortest
// round-trip form ("1.0", "1e+20"), UUIDs as their text. Large documents
// (a project's entities, the drivers' settings) are written this way
// instead of building a JSON tree first.
//
// The text is always one the readers take back. A value that has no such
// text — invalid UTF-8 in a string, a NaN or an infinity — is written
// repaired (U+FFFD for each bad byte sequence, 0 for the number) and counted
// in `repairs`, so the writer can name it in the log instead of failing.

#include "fennik/server/core/Uuid.h"

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>

namespace fennik::server::json_text {

// Values written repaired on this thread so far (see above).
inline thread_local std::size_t repairs = 0;

// Whether a byte can stand unescaped in a JSON string on the fast path:
// printable ASCII other than the quote and the backslash (DEL included, as
// the library writes it unescaped too).
inline bool isPlain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

inline void appendString(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (!isPlain(static_cast<unsigned char>(c))) {
      // Escapes, control characters and multi-byte UTF-8 (with its
      // validation) are left to the library: rare, exact by construction.
      const nlohmann::ordered_json value = std::string(text);
      try {
        out += value.dump();
      } catch (const nlohmann::ordered_json::type_error&) {
        out += value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        ++repairs;
      }
      return;
    }
  }
  out += '"';
  out.append(text);
  out += '"';
}

inline void appendUuid(std::string& out, const Uuid& id) {
  out += '"';
  appendUuidText(out, id);
  out += '"';
}

inline void appendBool(std::string& out, bool value) { out += value ? "true" : "false"; }

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

// `"key":`, for keys that are plain ASCII (the writers' own names).
inline void appendKey(std::string& out, std::string_view key) {
  out += '"';
  out.append(key);
  out += "\":";
}

}  // namespace fennik::server::json_text
