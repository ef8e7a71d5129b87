#pragma once
// Checks texts that arrive from files before they reach the model, whose
// JSON writer refuses invalid UTF-8.

#include <string_view>

namespace fennik::server {

// True when `text` is well-formed UTF-8: no stray continuation bytes, no
// overlong forms, no surrogates, nothing beyond U+10FFFF.
bool isValidUtf8(std::string_view text);

}  // namespace fennik::server
