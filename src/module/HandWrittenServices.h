#pragma once
// The module's hand-written services, added after the generated ones in a
// fixed order and removed in their own fixed order.

#include <cstddef>
#include <memory>

namespace fennik::server {
class EntityContext;
}

namespace qor::server {

void addHandWrittenServices(const std::shared_ptr<fennik::server::EntityContext>& context);
void removeHandWrittenServices(const std::shared_ptr<fennik::server::EntityContext>& context);
std::size_t handWrittenServiceCount();

}  // namespace qor::server
