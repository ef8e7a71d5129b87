#include "migrations/MigrationSupport.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/core/Uuid.h"

namespace qor::server::migration {

namespace {
const char* const ENTITIES = "entities.json";
}

void migrateEntities(const std::shared_ptr<fennik::server::FileContainer>& container, const char* source, int line,
                     const std::function<void(Json&)>& steps) {
  if (!container || !container->has(ENTITIES)) return;
  try {
    Json doc = container->load(ENTITIES);
    if (!doc.is_object()) throw std::runtime_error("entities.json is no object keyed by class name");
    steps(doc);
    container->store(ENTITIES, doc);
  } catch (const std::exception& e) {
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)
        ->error("{}:{}: Project migration failed! {}", source, line, e.what());
  }
}

const Json& members(const Json& doc, const std::string& className) {
  static const Json empty = Json::array();
  auto it = doc.find(className);
  return it == doc.end() ? empty : *it;
}

Json& membersFor(Json& doc, const std::string& className) {
  Json& list = doc[className];
  if (list.is_null()) list = Json::array();
  return list;
}

std::unordered_map<std::string, Json*> byId(Json& list) {
  std::unordered_map<std::string, Json*> index;
  for (auto& object : list) index.emplace(object.at("id").get<std::string>(), &object);
  return index;
}

std::vector<std::string> ids(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return {};
  return it->get<std::vector<std::string>>();
}

std::string id(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return fennik::server::NIL_UUID_TEXT;
  return it->get<std::string>();
}

std::vector<std::string> filterIds(const std::vector<std::string>& list, const std::unordered_set<std::string>& set,
                                   bool keep) {
  std::vector<std::string> out;
  for (const auto& x : list) {
    if (set.contains(x) == keep) out.push_back(x);
  }
  return out;
}

std::string newId() { return fennik::server::UuidToS(fennik::server::random_uuid()); }

}  // namespace qor::server::migration
