#pragma once
// UUID helpers shared by the host and its modules. Entity ids, job ids and
// throttle keys are all boost UUIDs; the text form is the canonical
// lower-case 8-4-4-4-12 form.

#include <boost/uuid/uuid.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace fennik::server {

using Uuid = boost::uuids::uuid;

// Strict text-to-UUID conversion: exactly 36 characters in 8-4-4-4-12 form,
// hexadecimal digits of either case. Throws std::invalid_argument otherwise.
Uuid UuidFromS(std::string_view text);

// Canonical lower-case text of a UUID.
std::string UuidToS(const Uuid& id);
// Appends that text to `out`, without a temporary string (saving writes
// tens of thousands of ids).
void appendUuidText(std::string& out, const Uuid& id);

// A random (version 4) UUID from a per-thread generator.
Uuid random_uuid();

// The nil UUID and its text, used for empty references.
inline constexpr const char* NIL_UUID_TEXT = "00000000-0000-0000-0000-000000000000";
inline Uuid nilUuid() { return Uuid{}; }

// Name-based (SHA-1, version 5) UUID of a name within a namespace.
Uuid nameUuid(const Uuid& nameSpace, std::string_view name);

std::vector<Uuid> uuidVectorFromStringVector(const std::vector<std::string>& texts);
std::vector<std::string> uuidVectorToStringVector(const std::vector<Uuid>& ids);

// Mixes all 128 bits, so that open-addressing tables (which use the top bits
// as well as the low ones) spread ids that differ anywhere evenly; ids in
// project files may come from anywhere, not only from a random generator.
struct UuidHash {
  std::size_t operator()(const Uuid& id) const noexcept;
};

}  // namespace fennik::server
