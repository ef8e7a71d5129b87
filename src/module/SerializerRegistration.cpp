#include "module/SerializerRegistration.h"

#include "qor/server/entities/All.h"
#include "qor/server/entities/EntityTypes.h"
#include "qor/server/serializers/JsonSerializers.h"

#include "fennik/server/entity/Database.h"

#include <memory>

namespace qor::server {

void registerEntitySerializers(fennik::server::Database& db) {
  forEachEntityType([&]<class T>(std::type_identity<T>) {
    db.registerSerializer(std::make_shared<JsonSerializerOf<T>>());
    // Each further family (the wire's FlatBuffers serializers) registers its
    // serializer of T here, right after the JSON one.
  });
}

void deregisterEntitySerializers(fennik::server::Database& db) {
  forEachEntityType([&]<class T>(std::type_identity<T>) {
    db.deregisterSerializer(std::type_index(typeid(fennik::server::EntityJsonSerializer)), T::CLASS_NAME);
  });
}

}  // namespace qor::server
