#include "service/FtPanelService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/KeywordService.h"
#include "fennik/server/service/ServiceResolver.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace qor::server {

namespace {

using fennik::server::getLogger;
using fennik::server::MODULE_LOGGER;
using Json = nlohmann::json;

constexpr const char* MAPPINGS = "keywordMappings";
constexpr const char* HUMAN_KEY = "humanKey";
constexpr const char* FQDN_KEY = "fqdnKey";

// Resolves every mapping in place; throws std::exception naming the first
// one that cannot be resolved.
void resolveMappings(Json& mappings, const fennik::server::KeywordService& keywords) {
  if (!mappings.is_array()) throw std::invalid_argument("\"keywordMappings\" is no list");
  for (std::size_t i = 0; i < mappings.size(); ++i) {
    Json& mapping = mappings[i];
    const std::string where = "mapping " + std::to_string(i);
    if (!mapping.is_object()) throw std::invalid_argument(where + " is no object");
    auto human = mapping.find(HUMAN_KEY);
    auto fqdn = mapping.find(FQDN_KEY);
    if (human == mapping.end() || !human->is_string()) throw std::invalid_argument(where + " has no text \"humanKey\"");
    if (fqdn == mapping.end() || !fqdn->is_string()) throw std::invalid_argument(where + " has no text \"fqdnKey\"");
    const auto key = fennik::server::KeywordKey::parse(fqdn->get<std::string>());
    const auto resolved = keywords.resolve(key);
    if (!resolved) throw std::invalid_argument(where + ": no keyword '" + key.fullname() + "'");
    *fqdn = resolved->fullname();
  }
}

}  // namespace

Json FtPanelService::parsePanelJson(const std::string& text) {
  try {
    return Json::parse(text, [](int depth, Json::parse_event_t, Json&) {
      if (depth > MAX_JSON_DEPTH)
        throw std::invalid_argument("nested deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels");
      return true;
    });
  } catch (const Json::exception& e) {
    throw std::invalid_argument(e.what());
  }
}

std::optional<std::string> FtPanelService::store(FtPanel* panel, const std::string& json) {
  if (!panel) return std::nullopt;
  Json document;
  try {
    document = parsePanelJson(json);
  } catch (const std::invalid_argument& e) {
    getLogger(MODULE_LOGGER)->error("PanelJson could not be parsed: {0}", e.what());
    return std::string("PanelJson could not be parsed: ") + e.what();
  }
  std::string stored = json;
  auto mappings = document.is_object() ? document.find(MAPPINGS) : document.end();
  if (!document.is_object() || mappings == document.end() || (mappings->is_array() && mappings->empty())) {
    getLogger(MODULE_LOGGER)->debug("No keywords have to be resolved");
  } else {
    std::shared_ptr<fennik::server::KeywordService> keywords;
    if (loop())
      loop()->work([&](const std::shared_ptr<fennik::server::EntityContext>& c) { keywords = c->keywords(); });
    try {
      if (!keywords) throw std::runtime_error("no keyword service");
      resolveMappings(*mappings, *keywords);
      stored = document.dump();
    } catch (const std::exception& e) {
      getLogger(MODULE_LOGGER)->warn("Couldn't resolve keywords: {}", e.what());
    }
  }
  FtPanelServiceBase::setJson(panel, stored, false);
  return std::nullopt;
}

void FtPanelService::setJson(FtPanel* panel, const std::string& json, bool external) {
  if (external) {
    // A value that came from elsewhere (a device) is taken as it is.
    FtPanelServiceBase::setJson(panel, json, true);
    return;
  }
  store(panel, json);
}

}  // namespace qor::server
