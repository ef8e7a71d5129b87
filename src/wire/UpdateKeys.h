#pragma once
// Keys of throttled field updates: the name-based (SHA-1) UUID of the field
// name in one namespace shared by every entity type.

#include "fennik/server/core/Uuid.h"

#include <string_view>

namespace qor::server::wire {

inline constexpr const char* UPDATE_KEY_NAMESPACE = "8b4dd393-2273-4b17-9ca2-f63f88153d23";

fennik::server::Uuid updateKey(std::string_view fieldName);

}  // namespace qor::server::wire
