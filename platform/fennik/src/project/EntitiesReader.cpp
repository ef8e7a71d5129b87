#include "fennik/server/project/EntitiesReader.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/entity/JsonValueReader.h"
#include "fennik/server/project/ProjectManager.h"

#include <absl/container/flat_hash_set.h>

#include <optional>
#include <string>
#include <unordered_set>
#include <utility>

namespace fennik::server {

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& file) { return "'" + file.string() + "'"; }

}  // namespace

std::vector<EntityPtr> readEntitiesAsTree(const Database& db, const FileContainer& container, const fs::path& file) {
  if (!container.has(ProjectManager::ENTITIES_ENTRY)) return {};
  std::string text;
  try {
    text = container.get(ProjectManager::ENTITIES_ENTRY);
  } catch (const std::exception& e) {
    throw ProjectError("Cannot open " + quoted(file) + ": " + e.what());
  }
  return readEntitiesAsTree(db, text, file);
}

std::vector<EntityPtr> readEntitiesAsTree(const Database& db, const std::string& text, const fs::path& file) {
  std::vector<EntityPtr> entities;
  Json doc;
  try {
    doc = FileContainer::parse(ProjectManager::ENTITIES_ENTRY, text);
  } catch (const std::exception& e) {
    throw ProjectError("Cannot open " + quoted(file) + ": " + e.what());
  }
  if (!doc.is_object()) {
    throw ProjectError("Cannot open " + quoted(file) + ": entities.json is no object keyed by class name");
  }
  absl::flat_hash_set<Uuid, UuidHash> ids;
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    const std::string& className = it.key();
    auto serializer = db.serializer<EntityJsonSerializer>(className);
    if (!serializer) {
      if (!it.value().empty()) {
        getLogger(HOST_LOGGER)
            ->warn("{}: no serializer for class {}; its {} entities are skipped", file.string(), className,
                   it.value().size());
      }
      continue;
    }
    if (!it.value().is_array()) {
      throw ProjectError("Cannot open " + quoted(file) + ": the entities of class " + className + " are no list");
    }
    for (const auto& object : it.value()) {
      EntityPtr entity;
      try {
        entity = serializer->deserialize(object, false);
      } catch (const std::exception& e) {
        const auto key = serializer->findBadKey(object);
        const auto id = object.is_object() ? object.find("id") : object.end();
        const std::string idText = (id != object.end() && id->is_string()) ? id->get<std::string>() : "without id";
        throw ProjectError("Cannot open " + quoted(file) + ": entity " + idText + " of class " + className +
                           (key ? " has a bad value for key '" + *key + "'" : " cannot be read") + ": " + e.what());
      }
      if (!ids.insert(entity->id()).second) {
        throw ProjectError("Cannot open " + quoted(file) + ": the id " + entity->strId() + " (class " + className +
                           ") is used twice");
      }
      entities.push_back(std::move(entity));
    }
  }
  return entities;
}

namespace {

// The document read forward only, each object straight into its entity.
// Gives up (nullopt) on anything the tree reading would answer differently:
// malformed text, a class given twice, a value of an unexpected type, an id
// used twice; the tree reading then decides and names the fault.
std::optional<std::vector<EntityPtr>> readStreaming(const Database& db, const std::string& text, const fs::path& file) {
  std::vector<EntityPtr> entities;
  absl::flat_hash_set<Uuid, UuidHash> ids;
  std::unordered_set<std::string> classes;
  std::vector<std::pair<std::string, std::size_t>> skipped;
  const bool complete = readJsonObject(text, [&](std::string_view className, JsonValueReader& list) {
    if (!classes.emplace(className).second) return false;
    auto serializer = db.serializer<EntityJsonSerializer>(className);
    if (!serializer) {
      std::size_t count = 0;
      const bool ok = list.forEachItem([&count](JsonValueReader& item) {
        ++count;
        return item.skip();
      });
      if (count > 0) skipped.emplace_back(className, count);
      return ok;
    }
    return list.forEachItem([&](JsonValueReader& object) {
      EntityPtr entity = serializer->read(object);
      if (!entity || !ids.insert(entity->id()).second) return false;
      entities.push_back(std::move(entity));
      return true;
    });
  });
  if (!complete) return std::nullopt;
  for (const auto& [className, count] : skipped) {
    getLogger(HOST_LOGGER)
        ->warn("{}: no serializer for class {}; its {} entities are skipped", file.string(), className, count);
  }
  return {std::move(entities)};
}

}  // namespace

std::vector<EntityPtr> readEntities(const Database& db, const FileContainer& container, const fs::path& file) {
  if (!container.has(ProjectManager::ENTITIES_ENTRY)) return {};
  std::string text;
  try {
    text = readJsonFile(container.path(ProjectManager::ENTITIES_ENTRY).string());
  } catch (const std::exception&) {
    // The tree reading names what cannot be read.
    return readEntitiesAsTree(db, container, file);
  }
  return readEntities(db, text, file);
}

std::vector<EntityPtr> readEntities(const Database& db, const std::string& text, const fs::path& file) {
  std::optional<std::vector<EntityPtr>> entities;
  try {
    entities = readStreaming(db, text, file);
  } catch (const std::exception&) {
    // Whatever went wrong is found again, and named, by the tree reading.
  }
  if (!entities) return readEntitiesAsTree(db, text, file);
  return std::move(*entities);
}

}  // namespace fennik::server
