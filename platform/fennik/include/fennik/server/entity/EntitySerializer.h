#pragma once
// Base of the per-type serializers the database keeps (JSON for project
// files, FlatBuffers for the wire). Each family derives its own base; the
// database keys registrations by (family, entity class name).

#include <string_view>
#include <typeindex>

namespace fennik::server {

class EntitySerializer {
 public:
  virtual ~EntitySerializer() = default;
  virtual std::string_view entityClassName() const = 0;
  // The serializer family this instance belongs to (its family base class).
  virtual std::type_index family() const = 0;
};

}  // namespace fennik::server
