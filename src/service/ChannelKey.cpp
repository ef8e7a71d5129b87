#include "service/ChannelKey.h"

#include <array>
#include <utility>

namespace qor::server {

std::string channelKey(std::string_view shortName) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 18> ALIASES{{
      {"1-2", "1"},
      {"3-4", "3"},
      {"5-6", "5"},
      {"7-8", "7"},
      {"1-4", "1"},
      {"5-8", "5"},
      {"A-B", "1"},
      {"C-D", "3"},
      {"E-F", "5"},
      {"G-H", "7"},
      {"A", "1"},
      {"B", "2"},
      {"C", "3"},
      {"D", "4"},
      {"E", "5"},
      {"F", "6"},
      {"G", "7"},
      {"H", "8"},
  }};
  for (const auto& [name, key] : ALIASES) {
    if (name == shortName) return std::string(key);
  }
  return std::string(shortName);
}

}  // namespace qor::server
