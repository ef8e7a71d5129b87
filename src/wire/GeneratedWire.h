#pragma once
// The generated FlatBuffers serializers and entity controllers, in type order.

#include "fennik/server/ksp/IKspController.h"

#include <memory>
#include <vector>

namespace fennik::server {
class Database;
}

namespace qor::server::wire {

void addFlatbufferSerializers(fennik::server::Database& db);
void removeFlatbufferSerializers(fennik::server::Database& db);
std::vector<std::shared_ptr<fennik::server::IFennikController>> makeEntityControllers();

}  // namespace qor::server::wire
