#pragma once
// The FlatBuffers serializer family: turns one entity into its wire table.
// The caller points the serializer at an output vector first; serialize
// fills it. Entities are never built from a wire table (deserialize is empty).

#include "fennik/server/entity/Entity.h"
#include "fennik/server/entity/EntitySerializer.h"

#include <cstdint>
#include <memory>
#include <typeindex>
#include <vector>

namespace fennik::server {

class EntityFlatbufferSerializer : public EntitySerializer {
 public:
  using Bytes = std::vector<std::uint8_t>;

  ~EntityFlatbufferSerializer() override = default;
  virtual void serialize(const Entity* entity) = 0;
  virtual EntityPtr deserialize() { return nullptr; }

  std::type_index family() const override { return std::type_index(typeid(EntityFlatbufferSerializer)); }

  void setOutputData(Bytes* output) { output_ = output; }
  Bytes* get_data() const { return output_; }

 private:
  Bytes* output_ = nullptr;
};

}  // namespace fennik::server
