#pragma once
// What the migrations share: the common frame (load "entities.json", apply
// the steps, store it back, or log and store nothing) and small helpers on
// the document, whose members are arrays of entity objects keyed by class.

#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/project/FileContainer.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qor::server::migration {

using fennik::server::Json;

// A container without "entities.json" is left alone. Any exception while
// loading, applying or storing is logged as "Project migration failed!" with
// the migration's source position, and the document is not stored.
void migrateEntities(const std::shared_ptr<fennik::server::FileContainer>& container, const char* source, int line,
                     const std::function<void(Json&)>& steps);

inline std::string cls(const char* type) { return std::string("qor::server::") + type; }

// The entities of a class; an absent member reads as an empty list.
const Json& members(const Json& doc, const std::string& className);
// The entities of a class, creating the member when absent.
Json& membersFor(Json& doc, const std::string& className);
// Objects of one array by their "id".
std::unordered_map<std::string, Json*> byId(Json& list);

std::vector<std::string> ids(const Json& object, const char* key);
std::string id(const Json& object, const char* key);
// Keeps the ids of the list that are (keep true) or are not in the set.
std::vector<std::string> filterIds(const std::vector<std::string>& list, const std::unordered_set<std::string>& set,
                                   bool keep);

std::string newId();

}  // namespace qor::server::migration
