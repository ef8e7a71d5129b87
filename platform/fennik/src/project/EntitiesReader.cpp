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

// A large document is read as a run of small documents, each the entities
// of one piece of the text: a piece cut between two objects of a class
// becomes a document by opening with that class's key and list and closing
// them after its last object. A cut anywhere else (within a string, or
// between objects nested in an entity) leaves a piece that is no document;
// it is read again joined to the rest of the text, so what is read is
// exactly what one pass over the whole text reads.
struct EntitiesForwardReader::State {
  State(const Database& db, fs::path file, std::size_t pieceBytes)
      : db(db), file(std::move(file)), pieceBytes(std::max<std::size_t>(pieceBytes, 1)) {}

  const Database& db;
  const fs::path file;
  const std::size_t pieceBytes;

  std::string text;         // what has arrived and is not read yet, from the start of a piece
  std::size_t scanned = 0;  // how far `text` was searched for a cut in vain
  bool joined = false;      // a cut failed: the rest is read as one piece at the end
  bool continuing = false;  // a piece was read: the next one starts inside `within`
  std::string within;       // the class the last piece ended in
  std::vector<EntityPtr> entities;
  absl::flat_hash_set<Uuid, UuidHash> ids;
  std::unordered_set<std::string> classes;
  std::vector<std::pair<std::string, std::size_t>> skipped;
  JsonObjectReader reader;
  std::string piece;

  // Reads one piece as a document; false (and nothing kept of it) when it
  // is none, or when the reading gives up on it.
  bool read(const std::string& document) {
    const std::size_t entityCount = entities.size();
    const auto classesBefore = classes;
    const auto skippedBefore = skipped;
    const std::string withinBefore = within;
    bool ok = false;
    try {
      bool first = true;
      ok = reader.read(document, [&](std::string_view className, JsonValueReader& list) {
        const bool goesOn = first && continuing && className == within;
        first = false;
        if (!goesOn && !classes.emplace(className).second) return false;
        within = className;
        return readList(className, list, goesOn);
      });
    } catch (const std::exception&) {
      ok = false;  // found again, and named, by the tree reading
    }
    if (!ok) {
      for (std::size_t i = entityCount; i < entities.size(); ++i) ids.erase(entities[i]->id());
      entities.resize(entityCount);
      classes = classesBefore;
      skipped = skippedBefore;
      within = withinBefore;
    }
    return ok;
  }

  bool readList(std::string_view className, JsonValueReader& list, bool goesOn) {
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
  }

  // `text` up to `until` (npos: all of it) as a document of its own.
  const std::string& pieceOf(std::size_t until) {
    piece.clear();
    if (continuing) {
      piece += '{';
      json_text::appendString(piece, within);
      piece += ":[";
    }
    piece.append(text, 0, until == std::string::npos ? text.size() : until);
    if (until != std::string::npos) piece += "]}";
    piece.reserve(piece.size() + JsonObjectReader::padding());
    return piece;
  }

  // A text shorter than this is read as one piece.
  std::size_t wholeBelow() const { return pieceBytes + pieceBytes / 2; }

  // Reads every piece that has fully arrived.
  void readArrived() {
    while (!joined && text.size() >= wholeBelow()) {
      const std::size_t at = text.find("},{", std::max(pieceBytes, scanned));
      if (at == std::string::npos) {
        scanned = text.size() - std::min<std::size_t>(text.size(), 2);  // a cut may end in what arrives next
        return;
      }
      if (!read(pieceOf(at + 1))) {
        joined = true;
        return;
      }
      continuing = true;
      scanned = 0;
      text.erase(0, at + 2);  // past the comma, at the next object
    }
  }

  void add(std::string_view bytes) {
    // In steps of a piece at most, so what waits to be read stays small.
    while (!bytes.empty()) {
      const std::size_t step = std::min(bytes.size(), pieceBytes);
      text.append(bytes.substr(0, step));
      bytes.remove_prefix(step);
      readArrived();
    }
  }

  std::optional<std::vector<EntityPtr>> finish(const std::string* whole) {
    if (whole) {
      if (!read(*whole)) return std::nullopt;
    } else if (!read(pieceOf(std::string::npos))) {
      return std::nullopt;
    }
    for (const auto& [className, count] : skipped) {
      getLogger(HOST_LOGGER)
          ->warn("{}: no serializer for class {}; its {} entities are skipped", file.string(), className, count);
    }
    return {std::move(entities)};
  }
};

EntitiesForwardReader::EntitiesForwardReader(const Database& db, std::filesystem::path file, std::size_t pieceBytes)
    : state_(std::make_unique<State>(db, std::move(file), pieceBytes)) {}

EntitiesForwardReader::~EntitiesForwardReader() = default;

void EntitiesForwardReader::add(std::string_view bytes) { state_->add(bytes); }

std::optional<std::vector<EntityPtr>> EntitiesForwardReader::finish() { return state_->finish(nullptr); }

std::optional<std::vector<EntityPtr>> readEntitiesForward(const Database& db, const std::string& text,
                                                          const fs::path& file, std::size_t pieceBytes) {
  EntitiesForwardReader reader(db, file, pieceBytes);
  if (text.size() < reader.state_->wholeBelow()) {
    // One piece: the text itself, read in place.
    return reader.state_->finish(&text);
  }
  reader.add(text);
  return reader.finish();
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
