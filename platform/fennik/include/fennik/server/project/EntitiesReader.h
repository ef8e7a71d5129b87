#pragma once
// Reading the entities of a project's "entities.json".

#include "fennik/server/entity/Entity.h"
#include "fennik/server/project/FileContainer.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fennik::server {

class Database;

// Every entity of the document, made by its class's serializer, in document
// order. Classes without a serializer are skipped with a warning. Throws
// ProjectError naming `file` and what is wrong: the document is no JSON
// object of lists, an entity cannot be read (and which key), or an id is
// used twice. Nothing outside the returned entities is touched.
//
// The document is read forward only, each object straight into its entity
// (EntityJsonSerializer::read), without a tree of the whole document. What
// that way cannot read as the tree reading would (malformed text, a value
// of an unexpected type, keys out of order or twice, an id used twice) is
// left to readEntitiesAsTree, which decides and names the fault; the result
// is the same either way.
std::vector<EntityPtr> readEntities(const Database& db, const FileContainer& container,
                                    const std::filesystem::path& file);
// The same from the document's text, held in memory (best with spare
// capacity for the reader's look-ahead, as HostInterface::unzip leaves it).
std::vector<EntityPtr> readEntities(const Database& db, const std::string& text, const std::filesystem::path& file);

// The forward-only reading alone: nullopt where it gives up and leaves the
// document to the tree reading. A document longer than one and a half
// `pieceBytes` is read in pieces of about that size, each cut between two
// entity objects, so the parser's buffers stay the size of a piece.
inline constexpr std::size_t ENTITY_PIECE_BYTES = std::size_t{4} << 20;
std::optional<std::vector<EntityPtr>> readEntitiesForward(const Database& db, const std::string& text,
                                                          const std::filesystem::path& file,
                                                          std::size_t pieceBytes = ENTITY_PIECE_BYTES);

// The same reading of a document handed over in parts as they arrive (while
// it is unpacked): each piece is read once it is all there, so the document
// is never held whole.
class EntitiesForwardReader {
 public:
  EntitiesForwardReader(const Database& db, std::filesystem::path file, std::size_t pieceBytes = ENTITY_PIECE_BYTES);
  ~EntitiesForwardReader();
  EntitiesForwardReader(const EntitiesForwardReader&) = delete;
  EntitiesForwardReader& operator=(const EntitiesForwardReader&) = delete;

  // The next bytes of the document.
  void add(std::string_view bytes);
  // After the last bytes: the entities, or nullopt where the reading gave up.
  std::optional<std::vector<EntityPtr>> finish();

 private:
  friend std::optional<std::vector<EntityPtr>> readEntitiesForward(const Database&, const std::string&,
                                                                   const std::filesystem::path&, std::size_t);
  struct State;
  std::unique_ptr<State> state_;
};

// The same, from a JSON tree of the whole document with each object given to
// EntityJsonSerializer::deserialize.
std::vector<EntityPtr> readEntitiesAsTree(const Database& db, const FileContainer& container,
                                          const std::filesystem::path& file);
std::vector<EntityPtr> readEntitiesAsTree(const Database& db, const std::string& text,
                                          const std::filesystem::path& file);

}  // namespace fennik::server
