#pragma once
// A JSON text parsed into the JSON library's ordered tree by simdjson, which
// reads a driver's entry several times faster than the library's own parser
// (most of a show's open was spent there).

#include "fennik/server/entity/EntityJsonSerializer.h"

#include <optional>
#include <string_view>

namespace simdjson::dom {
class document;
}

namespace qor::server {

// The tree the library's parser would give for `text`, or nothing when this
// parser cannot vouch for that: malformed text, containers nested
// `maxDepth` deep or nearly, a negative zero (the library keeps "-0" an
// integer), a control character, a byte order mark or an escaped surrogate.
// The caller then parses with the library, which names what is wrong.
std::optional<fennik::server::Json> parseJsonTree(std::string_view text, int maxDepth);

// The same text left in simdjson's DOM (`document`), for a reader that reads
// it in place: true when simdjson reads it as the library would, under the
// same conditions as above. `padded`: the text's buffer goes on for
// simdjson's padding past its end, so it is parsed where it is, not copied.
bool parseJsonDocument(std::string_view text, int maxDepth, simdjson::dom::document& document, bool padded = false);

}  // namespace qor::server
