#pragma once
// The generated entity services, one per entity type, added to and removed
// from the resolver in the type order.

#include <cstddef>
#include <memory>

namespace fennik::server {
class EntityContext;
}

namespace qor::server {

void addGeneratedServices(const std::shared_ptr<fennik::server::EntityContext>& context);
void removeGeneratedServices(const std::shared_ptr<fennik::server::EntityContext>& context);
std::size_t generatedServiceCount();

}  // namespace qor::server
