#pragma once
// The services of the running host, one per class type, in insertion order
// (the order in which the project hooks are called). Adding a service whose
// type is present replaces it and moves the type to the end.

#include "fennik/server/service/Service.h"

#include <functional>
#include <memory>
#include <typeindex>
#include <utility>
#include <vector>

namespace fennik::server {

class ServiceResolver {
 public:
  template <class T>
  void add(std::shared_ptr<T> service) {
    addAs(std::type_index(typeid(T)), std::move(service));
  }
  template <class T>
  bool remove() {
    return removeAs(std::type_index(typeid(T)));
  }

  // The service registered under exactly T, else the first (in order) that
  // is a T, else empty. The second form lets callers resolve a service by
  // an interface it implements.
  template <class T>
  std::shared_ptr<T> get() const {
    if (auto exact = find(std::type_index(typeid(T)))) return std::static_pointer_cast<T>(exact);
    for (const auto& [type, service] : services_) {
      if (auto cast = std::dynamic_pointer_cast<T>(service)) return cast;
    }
    return {};
  }

  std::size_t size() const { return services_.size(); }
  const std::vector<std::pair<std::type_index, std::shared_ptr<Service>>>& ordered() const { return services_; }
  void forEach(const std::function<void(Service&)>& fn) const;
  void clear() { services_.clear(); }

 private:
  void addAs(std::type_index type, std::shared_ptr<Service> service);
  bool removeAs(std::type_index type);
  std::shared_ptr<Service> find(std::type_index type) const;

  std::vector<std::pair<std::type_index, std::shared_ptr<Service>>> services_;
};

}  // namespace fennik::server
