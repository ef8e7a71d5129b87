#pragma once
// The generated FlatBuffers serializers and entity controllers, in type order.

#include "fennik/server/entity/EntityFlatbufferSerializer.h"
#include "fennik/server/ksp/IKspController.h"

#include <memory>
#include <vector>

namespace qor::server::wire {

// One specialization per entity type, generated; the serializer registration
// asks for the type's FlatBuffers serializer right after its JSON one.
template <class T>
std::shared_ptr<fennik::server::EntityFlatbufferSerializer> makeFlatbufferSerializer();

std::vector<std::shared_ptr<fennik::server::IFennikController>> makeEntityControllers();

}  // namespace qor::server::wire
