#include "service/JsonLists.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace qor::server::jsonlists {

namespace {

nlohmann::json parseArray(const std::string& text) {
  auto parsed = nlohmann::json::parse(text, nullptr, false);
  return parsed.is_array() ? parsed : nlohmann::json::array();
}

nlohmann::json identity(const nlohmann::json& entry, std::string_view key) {
  if (entry.is_object()) {
    auto it = entry.find(std::string(key));
    if (it != entry.end()) return *it;
  }
  return entry;
}

}  // namespace

std::string common(const std::vector<std::string>& lists, std::string_view key) {
  if (lists.empty()) return "[]";
  nlohmann::json kept = parseArray(lists.front());
  for (std::size_t i = 1; i < lists.size() && !kept.empty(); ++i) {
    const nlohmann::json other = parseArray(lists[i]);
    nlohmann::json next = nlohmann::json::array();
    for (const auto& entry : kept) {
      const auto id = identity(entry, key);
      if (std::any_of(other.begin(), other.end(), [&](const auto& o) { return identity(o, key) == id; })) {
        next.push_back(entry);
      }
    }
    kept = std::move(next);
  }
  return kept.dump();
}

bool holds(const std::string& list, std::string_view key, const std::string& id) {
  const nlohmann::json entries = parseArray(list);
  return std::any_of(entries.begin(), entries.end(), [&](const auto& e) {
    const auto value = identity(e, key);
    return value.is_string() && value.template get<std::string>() == id;
  });
}

bool empty(const std::string& list) { return parseArray(list).empty(); }

}  // namespace qor::server::jsonlists
