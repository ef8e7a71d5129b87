#pragma once
// Building blocks of the catalogue dump.

#include "model/EnumText.h"

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/EntityFieldDescriptor.h"

#include <nlohmann/json.hpp>

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace qor::server {

template <class V>
nlohmann::ordered_json catalogueValue(const V& value) {
  if constexpr (std::is_enum_v<V>) {
    return std::string(enumToString(value));
  } else if constexpr (std::is_same_v<V, fennik::server::Uuid>) {
    return fennik::server::UuidToS(value);
  } else if constexpr (requires { value.begin(); } && !std::is_same_v<V, std::string>) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& item : value) list.push_back(catalogueValue<std::decay_t<decltype(item)>>(item));
    return list;
  } else {
    return value;
  }
}

// std::vector<bool> hands out proxies; read them as plain bools.
template <>
inline nlohmann::ordered_json catalogueValue<std::vector<bool>>(const std::vector<bool>& value) {
  auto list = nlohmann::ordered_json::array();
  for (bool item : value) list.push_back(item);
  return list;
}

template <class T>
nlohmann::ordered_json describeType(std::vector<nlohmann::ordered_json> defaults,
                                    std::vector<std::pair<int, const char*>> wire) {
  nlohmann::ordered_json type;
  type["name"] = std::string(T::TYPE_NAME);
  type["className"] = std::string(T::CLASS_NAME);
  auto fields = nlohmann::ordered_json::array();
  const auto& descriptors = T::fieldDescriptors();
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    nlohmann::ordered_json field;
    field["name"] = descriptors[i].name;
    field["type"] = descriptors[i].type;
    field["default"] = defaults.at(i);
    auto flags = nlohmann::ordered_json::array();
    for (auto flag : descriptors[i].flags) flags.push_back(std::string(1, fennik::server::flagLetter(flag)));
    field["flags"] = std::move(flags);
    fields.push_back(std::move(field));
  }
  type["fields"] = std::move(fields);
  auto references = nlohmann::ordered_json::array();
  for (const auto& r : T::referenceDescriptors()) {
    nlohmann::ordered_json ref;
    ref["name"] = r.name;
    ref["target"] = r.target;
    ref["many"] = r.many;
    references.push_back(std::move(ref));
  }
  type["references"] = std::move(references);
  auto wireFields = nlohmann::ordered_json::array();
  for (const auto& [id, name] : wire) {
    nlohmann::ordered_json w;
    w["id"] = id;
    w["name"] = name;
    wireFields.push_back(std::move(w));
  }
  type["wire"] = std::move(wireFields);
  return type;
}

template <class E>
nlohmann::ordered_json describeEnum() {
  nlohmann::ordered_json e;
  e["name"] = std::string(EnumInfo<E>::NAME);
  nlohmann::ordered_json values = nlohmann::ordered_json::object();
  for (const auto& v : EnumInfo<E>::VALUES) values[std::string(v.name)] = v.value;
  e["values"] = std::move(values);
  return e;
}

}  // namespace qor::server
