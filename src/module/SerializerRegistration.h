#pragma once
// Registration of the entity serializers with the host's database: per
// entity type, in the type order, its JSON serializer and then the
// serializers of the other families.

namespace fennik::server {
class Database;
}

namespace qor::server {

void registerEntitySerializers(fennik::server::Database& db);
void deregisterEntitySerializers(fennik::server::Database& db);

}  // namespace qor::server
