#pragma once
// Relation fields of entities: held as pointers for run time and as ids for
// the serializers. After loading only the ids are set; resolvePointers binds
// the pointers, leaving a null pointer where a lookup finds nothing.

#include "fennik/server/entity/Entity.h"

#include <algorithm>
#include <vector>

namespace fennik::server {

template <class T>
class RelationList {
 public:
  const std::vector<T*>& pointers() const { return pointers_; }
  const std::vector<Uuid>& ids() const { return ids_; }
  bool empty() const { return pointers_.empty(); }
  std::size_t size() const { return pointers_.size(); }

  // Appends without checking for duplicates.
  void add(T* entity) {
    pointers_.push_back(entity);
    ids_.push_back(entity->id());
  }
  // Removes every occurrence of the entity and of its id.
  void remove(T* entity) {
    std::erase(pointers_, entity);
    std::erase(ids_, entity->id());
  }
  void setIds(std::vector<Uuid> ids) {
    ids_ = std::move(ids);
    pointers_.clear();
  }
  void resolve(const Entity::Lookup& lookup) {
    pointers_.clear();
    pointers_.reserve(ids_.size());
    for (const auto& id : ids_) pointers_.push_back(dynamic_cast<T*>(lookup(id)));
  }

 private:
  std::vector<T*> pointers_;
  std::vector<Uuid> ids_;
};

template <class T>
class SingleRelation {
 public:
  T* get() const { return pointer_; }
  const Uuid& id() const { return id_; }
  bool isSet() const { return !id_.is_nil(); }

  void set(T* entity) {
    pointer_ = entity;
    id_ = entity ? entity->id() : Uuid{};
  }
  void setId(const Uuid& id) {
    id_ = id;
    pointer_ = nullptr;
  }
  // The target must have the relation's type; anything else leaves it empty.
  void resolve(const Entity::Lookup& lookup) { pointer_ = id_.is_nil() ? nullptr : dynamic_cast<T*>(lookup(id_)); }

 private:
  T* pointer_ = nullptr;
  Uuid id_{};
};

}  // namespace fennik::server
