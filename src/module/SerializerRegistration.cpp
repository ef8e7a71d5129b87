#include "module/SerializerRegistration.h"

#include "custom/discovery/DiscoveredDeviceWire.h"
#include "qor/server/entities/All.h"
#include "qor/server/entities/EntityTypes.h"
#include "qor/server/serializers/JsonSerializers.h"
#include "wire/GeneratedWire.h"

#include "fennik/server/entity/Database.h"

#include <memory>

namespace qor::server {

void registerEntitySerializers(fennik::server::Database& db) {
  forEachEntityType([&]<class T>(std::type_identity<T>) {
    db.registerSerializer(std::make_shared<JsonSerializerOf<T>>());
    db.registerSerializer(wire::makeFlatbufferSerializer<T>());
  });
  // Discovered devices are the host's, not the project's: they go to clients,
  // never into the project file.
  db.registerSerializer(std::make_shared<DiscoveredDeviceFlatbufferSerializer>());
}

void deregisterEntitySerializers(fennik::server::Database& db) {
  forEachEntityType([&]<class T>(std::type_identity<T>) {
    db.deregisterSerializer(std::type_index(typeid(fennik::server::EntityJsonSerializer)), T::CLASS_NAME);
    db.deregisterSerializer(std::type_index(typeid(fennik::server::EntityFlatbufferSerializer)), T::CLASS_NAME);
  });
  db.deregisterSerializer(std::type_index(typeid(fennik::server::EntityFlatbufferSerializer)),
                          DiscoveredDevice::CLASS_NAME);
}

}  // namespace qor::server
