#pragma once
// Host-wide singletons (entity context, dispatcher, notification service...),
// looked up by their exact class type.

#include <memory>
#include <mutex>
#include <typeindex>
#include <unordered_map>

namespace fennik::server {

class SingletonRegistry {
 public:
  template <class T>
  void add(std::shared_ptr<T> instance) {
    std::lock_guard lock(mutex_);
    entries_[std::type_index(typeid(T))] = std::move(instance);
  }

  template <class T>
  void remove() {
    std::lock_guard lock(mutex_);
    entries_.erase(std::type_index(typeid(T)));
  }

  // The registered instance, or an empty pointer when none is registered.
  template <class T>
  std::shared_ptr<T> get() const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(std::type_index(typeid(T)));
    if (it == entries_.end()) return {};
    return std::static_pointer_cast<T>(it->second);
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::type_index, std::shared_ptr<void>> entries_;
};

}  // namespace fennik::server
