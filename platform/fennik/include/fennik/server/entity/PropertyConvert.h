#pragma once
// Conversion of the host's generic property value to a typed field value.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/PropertyValue.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace fennik::server {

template <class V>
struct PropertyConvert;

template <>
struct PropertyConvert<bool> {
  static std::optional<bool> from(const PropertyValue& p) {
    if (auto* b = std::get_if<bool>(&p)) return *b;
    if (auto* i = std::get_if<std::int64_t>(&p)) return *i != 0;
    return std::nullopt;
  }
};

template <class V>
requires(std::is_integral_v<V> && !std::is_same_v<V, bool>) || std::is_enum_v<V> struct PropertyConvert<V> {
  using Int = typename std::conditional_t<std::is_enum_v<V>, std::underlying_type<V>, std::type_identity<V>>::type;
  static std::optional<V> from(const PropertyValue& p) {
    std::int64_t raw;
    if (auto* i = std::get_if<std::int64_t>(&p)) {
      raw = *i;
    } else if (auto* d = std::get_if<double>(&p); d && std::isfinite(*d) && std::trunc(*d) == *d) {
      raw = static_cast<std::int64_t>(*d);
    } else {
      return std::nullopt;
    }
    if (raw < std::numeric_limits<Int>::min() || raw > static_cast<std::int64_t>(std::numeric_limits<Int>::max())) {
      return std::nullopt;
    }
    return static_cast<V>(raw);
  }
};

template <>
struct PropertyConvert<double> {
  static std::optional<double> from(const PropertyValue& p) {
    if (auto* d = std::get_if<double>(&p)) return *d;
    if (auto* i = std::get_if<std::int64_t>(&p)) return static_cast<double>(*i);
    return std::nullopt;
  }
};

template <>
struct PropertyConvert<std::string> {
  static std::optional<std::string> from(const PropertyValue& p) {
    if (auto* s = std::get_if<std::string>(&p)) return *s;
    return std::nullopt;
  }
};

template <>
struct PropertyConvert<Uuid> {
  static std::optional<Uuid> from(const PropertyValue& p) {
    auto* s = std::get_if<std::string>(&p);
    if (!s) return std::nullopt;
    try {
      return UuidFromS(*s);
    } catch (const std::invalid_argument&) {
      return std::nullopt;
    }
  }
};

template <class V>
struct PropertyConvert<std::vector<V>> {
  static std::optional<std::vector<V>> from(const PropertyValue& p) {
    std::vector<V> out;
    auto each = [&](const auto& list) -> bool {
      for (const auto& item : list) {
        auto v = PropertyConvert<V>::from(PropertyValue(item));
        if (!v) return false;
        out.push_back(*v);
      }
      return true;
    };
    bool ok = std::visit(
        [&](const auto& alt) -> bool {
          using A = std::decay_t<decltype(alt)>;
          if constexpr (std::is_same_v<A, std::vector<bool>> || std::is_same_v<A, std::vector<std::int64_t>> ||
                        std::is_same_v<A, std::vector<double>> || std::is_same_v<A, std::vector<std::string>>) {
            return each(alt);
          } else {
            return false;
          }
        },
        p);
    if (!ok) return std::nullopt;
    return out;
  }
};

template <class V>
std::optional<V> propertyTo(const PropertyValue& p) {
  return PropertyConvert<V>::from(p);
}

}  // namespace fennik::server
