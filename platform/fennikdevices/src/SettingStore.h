#pragma once
// The settings of one simulated device, or of one driver's view of it.
// Devices of a model keep the same settings, so the sorted list of keys is
// shared between the stores of one model; a store keeps only
// its values, in that order. A key outside the shared list goes to a small
// sorted list of the store's own.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

// GCC 12 takes moving a variant that holds a string (inserting among a
// store's own keys) for a read of uninitialised memory.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace fennik::devices::sim {

template <class Key, class Value>
class SettingStore {
 public:
  using Keys = std::vector<Key>;
  using Entry = std::pair<Key, Value>;

  SettingStore() = default;
  // `keys` ascending without repeats (shared with other stores), `values`
  // in their order.
  SettingStore(std::shared_ptr<const Keys> keys, std::vector<Value> values)
      : keys_(std::move(keys)), values_(std::move(values)) {}

  const Value* find(const Key& key) const {
    if (const auto i = sharedIndex(key); i != NONE) return &values_[i];
    const auto it = ownPosition(key);
    return it != own_.end() && it->first == key ? &it->second : nullptr;
  }
  Value* find(const Key& key) { return const_cast<Value*>(std::as_const(*this).find(key)); }

  // The value of the key, a default one added when it has none yet.
  Value& operator[](const Key& key) {
    if (const auto i = sharedIndex(key); i != NONE) return values_[i];
    auto it = ownPosition(key);
    if (it == own_.end() || !(it->first == key)) it = own_.emplace(it, key, Value{});
    return it->second;
  }

  bool contains(const Key& key) const { return find(key) != nullptr; }
  std::size_t size() const { return values_.size() + own_.size(); }
  const std::shared_ptr<const Keys>& sharedKeys() const { return keys_; }

  // Every setting in ascending key order.
  template <class Fn>
  void forEach(Fn&& fn) const {
    std::size_t i = 0;
    auto o = own_.begin();
    const std::size_t n = values_.size();
    while (i < n || o != own_.end()) {
      if (o == own_.end() || (i < n && (*keys_)[i] < o->first)) {
        fn((*keys_)[i], values_[i]);
        ++i;
      } else {
        fn(o->first, o->second);
        ++o;
      }
    }
  }

 private:
  static constexpr std::size_t NONE = static_cast<std::size_t>(-1);

  std::size_t sharedIndex(const Key& key) const {
    if (!keys_) return NONE;
    const auto it = std::lower_bound(keys_->begin(), keys_->end(), key);
    return it != keys_->end() && *it == key ? static_cast<std::size_t>(it - keys_->begin()) : NONE;
  }
  typename std::vector<Entry>::const_iterator ownPosition(const Key& key) const {
    return std::lower_bound(own_.begin(), own_.end(), key, [](const Entry& e, const Key& k) { return e.first < k; });
  }
  typename std::vector<Entry>::iterator ownPosition(const Key& key) {
    return std::lower_bound(own_.begin(), own_.end(), key, [](const Entry& e, const Key& k) { return e.first < k; });
  }

  std::shared_ptr<const Keys> keys_;
  std::vector<Value> values_;
  std::vector<Entry> own_;
};

}  // namespace fennik::devices::sim

#pragma GCC diagnostic pop
