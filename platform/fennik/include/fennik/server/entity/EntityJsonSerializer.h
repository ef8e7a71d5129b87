#pragma once
// The JSON family of entity serializers: one entity is one JSON object in
// the project document. Objects keep their keys in insertion order, so a
// written entity lists its fields in field order.

#include "fennik/server/entity/Entity.h"
#include "fennik/server/entity/EntitySerializer.h"
#include "fennik/server/entity/JsonValueReader.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <typeindex>

namespace fennik::server {

using Json = nlohmann::ordered_json;

class EntityJsonSerializer : public EntitySerializer {
 public:
  std::type_index family() const final { return std::type_index(typeid(EntityJsonSerializer)); }

  // Writes "id", the value fields (non-file ones only withRuntimeFields), then
  // the references.
  virtual void serialize(const Entity* entity, Json& out, bool withRuntimeFields) const = 0;
  // Appends the entity's JSON text to `out`: the same text as the compact
  // dump of what serialize writes into a fresh object. Serializers that can
  // write the text directly override it; saving a project goes through here.
  virtual void write(const Entity* entity, std::string& out, bool withRuntimeFields) const {
    Json object = Json::object();
    serialize(entity, object, withRuntimeFields);
    out += object.dump();
  }
  // A new entity from one object. Throws on a missing or bad "id" and with
  // the JSON library's type error when a value has the wrong JSON type.
  virtual EntityPtr deserialize(const Json& in, bool flag) const = 0;
  // A new entity from one object of a document read forward only: the same
  // entity deserialize makes of that object, or null whenever reading this
  // way cannot promise that (a value of another JSON type, a key out of the
  // written order or given twice, a bad id). Opening a project then reads
  // the document with deserialize, which names what is wrong.
  virtual EntityPtr read(JsonValueReader& /*object*/) const { return nullptr; }
  // After deserialize failed: the first key whose value does not fit its
  // field, so a failed load can name it.
  virtual std::optional<std::string> findBadKey(const Json& in) const = 0;
};

}  // namespace fennik::server
