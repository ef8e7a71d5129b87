#pragma once
// Letter case of protocol and model texts (names, origins, keywords): only
// ASCII letters change, other bytes (UTF-8 included) stay as they are,
// whatever the process locale.

#include <string>

namespace fennik::server {

inline std::string asciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace fennik::server
