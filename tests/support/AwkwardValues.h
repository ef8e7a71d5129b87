#pragma once
// Values of every field type from the catalogue, for tests that run over
// every entity type: one that differs from a default, and ones whose JSON
// text is easy to get wrong.

#include "model/Catalogue.h"

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/EntityJsonSerializer.h"

#include <cstdint>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qor::server::testing {

inline const nlohmann::ordered_json& catalogue() {
  static const auto doc = catalogueJson();
  return doc;
}

inline const nlohmann::ordered_json& typeEntry(std::string_view name) {
  for (const auto& t : catalogue()["types"]) {
    if (t["name"] == name) return t;
  }
  throw std::runtime_error("no such type");
}

inline std::string randomId() { return fennik::server::UuidToS(fennik::server::random_uuid()); }

// A value of the field's type that differs from the given default.
inline fennik::server::Json otherValue(const std::string& type, const fennik::server::Json& current) {
  using fennik::server::Json;
  if (type.rfind("list of ", 0) == 0) {
    const std::string item = type.substr(8);
    Json list = Json::array();
    list.push_back(otherValue(item, Json()));
    list.push_back(otherValue(item, list.back()));
    return list;
  }
  if (type == "bool") return current.is_boolean() ? !current.get<bool>() : true;
  if (type == "int") return current.is_number() ? current.get<int>() + 7 : -3;
  if (type == "uint") return current.is_number() ? current.get<unsigned>() + 7 : 5;
  if (type == "double") return current.is_number() ? current.get<double>() + 1.25 : 2.5;
  if (type == "string") return current.is_string() ? current.get<std::string>() + "-changed" : "text";
  if (type == "uuid") return randomId();
  for (const auto& e : catalogue()["enums"]) {
    if ("qor::server::" + e["name"].get<std::string>() != type) continue;
    for (const auto& [name, value] : e["values"].items()) {
      if (!current.is_string() || name != current.get<std::string>()) return name;
    }
  }
  throw std::runtime_error("no value for type " + type);
}

// Values whose text is easy to get wrong: escapes, control characters,
// multi-byte UTF-8, extreme and odd finite doubles, integer
// limits, unknown enumeration names. `variant` picks one per field, so fields
// of one type get different ones.
inline fennik::server::Json awkwardValue(const std::string& type, std::size_t variant) {
  using fennik::server::Json;
  if (type.rfind("list of ", 0) == 0) {
    Json list = Json::array();
    if (variant % 4 == 3) return list;  // empty
    for (std::size_t i = 0; i < 3; ++i) list.push_back(awkwardValue(type.substr(8), variant + i));
    return list;
  }
  if (type == "bool") return variant % 2 == 0;
  if (type == "int") {
    const std::int32_t values[] = {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                                   0, -1};
    return values[variant % 4];
  }
  if (type == "uint") {
    const std::uint32_t values[] = {std::numeric_limits<std::uint32_t>::max(), 0, 10, 4000000000u};
    return values[variant % 4];
  }
  if (type == "double") {
    const double values[] = {0.1,  -0.0,    1e300, 5e-324, 123456789.125,          1e-7,
                             1e16, -2.5e-5, 1e15,  100.0,  -1.7976931348623157e308};
    // No NaN or infinity: no field takes them, and the writer repairs one
    // that got in anyway (HostileClientTest), so it never reads back as written.
    return values[variant % std::size(values)];
  }
  if (type == "string") {
    const char* values[] = {"quote \" and back\\slash", "tab\tnew\nline\r\x01\x1f del\x7f",
                            "Gr\u00fc\u00dfe \u20ac \U0001d11e", "", "plain"};
    return values[variant % std::size(values)];
  }
  if (type == "uuid") return variant % 3 == 0 ? std::string(fennik::server::NIL_UUID_TEXT) : randomId();
  return variant % 2 == 0 ? "NO_SUCH_NAME" : otherValue(type, Json());  // an enumeration
}

// An entity object of the catalogue's type `typeName` with an awkward value
// for every field and reference; `round` shifts which value each gets.
inline fennik::server::Json awkwardEntity(std::string_view typeName, std::size_t round) {
  fennik::server::Json object = fennik::server::Json::object();
  object["id"] = randomId();
  const auto& entry = typeEntry(typeName);
  std::size_t variant = round;
  for (const auto& f : entry["fields"]) object[f["name"].get<std::string>()] = awkwardValue(f["type"], variant++);
  for (const auto& r : entry["references"]) {
    object[r["name"].get<std::string>()] =
        r["many"].get<bool>() ? awkwardValue("list of uuid", variant++) : awkwardValue("uuid", variant++);
  }
  return object;
}

}  // namespace qor::server::testing
