#pragma once
// The host's generic property value, used by generic property access and by
// the services' doSetProperty.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace fennik::server {

struct PropertyError {
  bool operator==(const PropertyError&) const = default;
};
struct PropertyNull {
  bool operator==(const PropertyNull&) const = default;
};

using PropertyValue =
    std::variant<PropertyError, PropertyNull, bool, std::int64_t, double, std::string, std::vector<bool>,
                 std::vector<std::int64_t>, std::vector<double>, std::vector<std::string>>;

}  // namespace fennik::server
