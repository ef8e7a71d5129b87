#include "fennik/server/service/ServiceResolver.h"

#include <algorithm>

namespace fennik::server {

void ServiceResolver::addAs(std::type_index type, std::shared_ptr<Service> service) {
  removeAs(type);
  services_.emplace_back(type, std::move(service));
}

bool ServiceResolver::removeAs(std::type_index type) {
  auto it = std::find_if(services_.begin(), services_.end(), [&](const auto& entry) { return entry.first == type; });
  if (it == services_.end()) return false;
  services_.erase(it);
  return true;
}

std::shared_ptr<Service> ServiceResolver::find(std::type_index type) const {
  for (const auto& [t, service] : services_) {
    if (t == type) return service;
  }
  return nullptr;
}

void ServiceResolver::forEach(const std::function<void(Service&)>& fn) const {
  // A hook may add or remove services; walk a copy.
  auto snapshot = services_;
  for (const auto& entry : snapshot) fn(*entry.second);
}

}  // namespace fennik::server
