#pragma once
// The entity catalogue as the code knows it: every type with its fields
// (type, default, flags), references and wire field ids, then every
// enumeration. Built from the generated classes, so it cannot drift from them.

#include <nlohmann/json.hpp>

namespace qor::server {

nlohmann::ordered_json catalogueJson();

}  // namespace qor::server
