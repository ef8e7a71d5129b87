#include "custom/driverstore/JsonTreeParse.h"

#include <simdjson.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

namespace qor::server {

namespace {

using fennik::server::Json;
using simdjson::dom::element;
using simdjson::dom::element_type;

// Kept clear of the caller's limit, so the library decides every case near it.
constexpr int TREE_DEPTH_MARGIN = 2;

// Texts whose reading the two parsers might not agree on; rare in a driver's
// entry, and left to the library.
bool fastParserMayDisagree(std::string_view text) {
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF) return true;  // a byte order mark
  const bool control = std::any_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 && c != '\t' && c != '\n' && c != '\r';
  });
  if (control) return true;
  // "-0": the library keeps a signed integer zero, simdjson gives no sign.
  for (std::size_t at = text.find("-0"); at != std::string_view::npos; at = text.find("-0", at + 2)) {
    const char next = at + 2 < text.size() ? text[at + 2] : ' ';
    if (std::string_view(",]} \t\r\n").find(next) != std::string_view::npos) return true;
  }
  for (std::size_t at = text.find("\\u"); at != std::string_view::npos; at = text.find("\\u", at + 2)) {
    if (at + 2 < text.size() && (text[at + 2] == 'd' || text[at + 2] == 'D')) return true;
  }
  return false;
}

bool toLibraryTree(const element& value, Json& out, int depth, int maxDepth) {
  switch (value.type()) {
    case element_type::OBJECT: {
      if (depth + TREE_DEPTH_MARGIN >= maxDepth) return false;
      simdjson::dom::object object;
      if (value.get_object().get(object)) return false;
      out = Json::object();
      for (const auto field : object) {
        // A repeated key keeps its first place and takes the last value, as
        // the library's parser does.
        if (!toLibraryTree(field.value, out[std::string(field.key)], depth + 1, maxDepth)) return false;
      }
      return true;
    }
    case element_type::ARRAY: {
      if (depth + TREE_DEPTH_MARGIN >= maxDepth) return false;
      simdjson::dom::array array;
      if (value.get_array().get(array)) return false;
      out = Json::array();
      auto& items = out.get_ref<Json::array_t&>();
      for (const element item : array) {
        if (!toLibraryTree(item, items.emplace_back(), depth + 1, maxDepth)) return false;
      }
      return true;
    }
    case element_type::INT64: {
      // The library reads an integer without a sign as unsigned.
      std::int64_t i = 0;
      if (value.get_int64().get(i)) return false;
      if (i >= 0) {
        out = static_cast<std::uint64_t>(i);
      } else {
        out = i;
      }
      return true;
    }
    case element_type::UINT64: {
      std::uint64_t u = 0;
      if (value.get_uint64().get(u)) return false;
      out = u;
      return true;
    }
    case element_type::DOUBLE: {
      double d = 0.0;
      if (value.get_double().get(d)) return false;
      if (d == 0.0 && std::signbit(d)) return false;
      out = d;
      return true;
    }
    case element_type::STRING: {
      std::string_view text;
      if (value.get_string().get(text)) return false;
      out = std::string(text);
      return true;
    }
    case element_type::BOOL: {
      bool b = false;
      if (value.get_bool().get(b)) return false;
      out = b;
      return true;
    }
    case element_type::NULL_VALUE:
      out = nullptr;
      return true;
  }
  return false;
}

// One parser per thread: the store parses entries on two.
simdjson::dom::parser& threadParser() {
  thread_local simdjson::dom::parser parser;
  return parser;
}

}  // namespace

std::optional<Json> parseJsonTree(std::string_view text, int maxDepth) {
  if (fastParserMayDisagree(text)) return std::nullopt;
  element root;
  if (threadParser().parse(text.data(), text.size()).get(root)) return std::nullopt;
  Json tree;
  if (!toLibraryTree(root, tree, 0, maxDepth)) return std::nullopt;
  return tree;
}

bool parseJsonDocument(std::string_view text, int maxDepth, simdjson::dom::document& document, bool padded) {
  if (fastParserMayDisagree(text)) return false;
  simdjson::dom::parser& parser = threadParser();
  // Deeper than the tree conversion would go is refused while parsing.
  const auto depth = static_cast<std::size_t>(std::max(1, maxDepth - TREE_DEPTH_MARGIN));
  if (parser.max_depth() != depth && parser.allocate(std::max<std::size_t>(parser.capacity(), text.size()), depth))
    return false;
  element root;
  return !parser.parse_into_document(document, text.data(), text.size(), !padded).get(root);
}

}  // namespace qor::server
