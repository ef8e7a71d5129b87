#include "fennik/server/project/EntitiesReader.h"

#include "fennik/server/core/JsonText.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityJsonSerializer.h"
#include "fennik/server/entity/JsonObjectReader.h"
#include "fennik/server/entity/JsonValueReader.h"
#include "fennik/server/project/ProjectManager.h"

#include <absl/container/flat_hash_set.h>

#include <algorithm>
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

// Where the piece that starts at `from` ends: just past an entity object
// that is followed by another ("},{" as the text writer separates them),
// about `pieceBytes` on; npos when the rest is read as one piece.
std::size_t pieceEnd(std::string_view text, std::size_t from, std::size_t pieceBytes) {
  if (text.size() - from < pieceBytes + pieceBytes / 2) return std::string_view::npos;
  const std::size_t at = text.find("},{", from + pieceBytes);
  return at == std::string_view::npos ? at : at + 1;
}

}  // namespace

// A large document is read as a run of small documents, each the entities
// of one piece of the text: a piece cut between two objects of a class
// becomes a document by opening with that class's key and list and closing
// them after its last object. A cut anywhere else (within a string, or
// between objects nested in an entity) leaves a piece that is no document
// and is read again joined to the rest; what is read is exactly what one
// pass over the whole text reads.
std::optional<std::vector<EntityPtr>> readEntitiesForward(const Database& db, const std::string& text,
                                                          const fs::path& file, std::size_t pieceBytes) {
  std::vector<EntityPtr> entities;
  absl::flat_hash_set<Uuid, UuidHash> ids;
  std::unordered_set<std::string> classes;
  std::vector<std::pair<std::string, std::size_t>> skipped;
  JsonObjectReader reader;
  std::string piece;
  std::string within;  // the class a piece starts inside; none for the first
  bool continuing = false;
  const auto readPiece = [&](const std::string& document) {
    bool first = true;
    return reader.read(document, [&](std::string_view className, JsonValueReader& list) {
      const bool goesOn = first && continuing && className == within;
      first = false;
      if (!goesOn && !classes.emplace(className).second) return false;
      within = className;
      auto serializer = db.serializer<EntityJsonSerializer>(className);
      if (!serializer) {
        std::size_t count = 0;
        const bool ok = list.forEachItem([&count](JsonValueReader& item) {
          ++count;
          return item.skip();
        });
        if (count > 0) {
          if (goesOn && !skipped.empty() && skipped.back().first == className) {
            skipped.back().second += count;
          } else {
            skipped.emplace_back(className, count);
          }
        }
        return ok;
      }
      return list.forEachItem([&](JsonValueReader& object) {
        EntityPtr entity = serializer->read(object);
        if (!entity || !ids.insert(entity->id()).second) return false;
        entities.push_back(std::move(entity));
        return true;
      });
    });
  };
  pieceBytes = std::max<std::size_t>(pieceBytes, 1);
  // One piece: the text itself, read in place.
  const bool whole = pieceEnd(text, 0, pieceBytes) == std::string_view::npos;
  if (whole && !readPiece(text)) return std::nullopt;
  for (std::size_t from = 0; !whole;) {
    std::size_t end = pieceEnd(text, from, pieceBytes);
    // Undone when the piece is no document and is read again.
    const std::size_t entityCount = entities.size();
    const auto classCount = classes;
    const auto skippedBefore = skipped;
    const std::string withinBefore = within;
    const auto makePiece = [&](std::size_t until) {
      piece.clear();
      if (continuing) {
        piece += '{';
        json_text::appendString(piece, within);
        piece += ":[";
      }
      piece.append(text, from, until == std::string_view::npos ? text.size() - from : until - from);
      if (until != std::string_view::npos) piece += "]}";
      piece.reserve(piece.size() + JsonObjectReader::padding());
    };
    makePiece(end);
    if (!readPiece(piece)) {
      if (end == std::string_view::npos) return std::nullopt;
      for (std::size_t i = entityCount; i < entities.size(); ++i) ids.erase(entities[i]->id());
      entities.resize(entityCount);
      classes = classCount;
      skipped = skippedBefore;
      within = withinBefore;
      end = std::string_view::npos;
      makePiece(end);
      if (!readPiece(piece)) return std::nullopt;
    }
    if (end == std::string_view::npos) break;
    continuing = true;
    from = end + 1;  // past the comma, at the next object
  }
  for (const auto& [className, count] : skipped) {
    getLogger(HOST_LOGGER)
        ->warn("{}: no serializer for class {}; its {} entities are skipped", file.string(), className, count);
  }
  return {std::move(entities)};
}

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
    entities = readEntitiesForward(db, text, file);
  } catch (const std::exception&) {
    // Whatever went wrong is found again, and named, by the tree reading.
  }
  if (!entities) return readEntitiesAsTree(db, text, file);
  return std::move(*entities);
}

}  // namespace fennik::server
