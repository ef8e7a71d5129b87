#pragma once
// Relation fields of entities: held as pointers for run time and as ids for
// the serializers. After loading only the ids are set; resolvePointers binds
// the pointers, leaving a null pointer where a lookup finds nothing.

#include "fennik/server/entity/Entity.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace fennik::server {

// A read-only view of a relation list's pointers or ids. It iterates,
// indexes and compares like the vector it stands for, and converts to one
// where a caller keeps a copy (a snapshot to change the list while walking it).
template <class V>
class ListView : public std::span<const V> {
 public:
  using Span = std::span<const V>;
  using const_iterator = typename Span::iterator;
  using Span::Span;
  ListView() = default;

  const V& at(std::size_t i) const {
    if (i >= this->size()) throw std::out_of_range("relation list index " + std::to_string(i) + " is past its end");
    return (*this)[i];
  }
  std::vector<V> toVector() const { return std::vector<V>(this->begin(), this->end()); }
  operator std::vector<V>() const { return toVector(); }

  friend bool operator==(const ListView& a, const ListView& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  friend bool operator==(const ListView& a, const std::vector<V>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
};

// A list reference. Most lists of most entities are empty (a filter that
// is no group has no children), so the list is one pointer, null when
// empty; a list with members keeps its pointers and ids in one block.
template <class T>
class RelationList {
 public:
  RelationList() = default;
  RelationList(const RelationList&) = delete;
  RelationList& operator=(const RelationList&) = delete;
  ~RelationList() { release(); }

  ListView<T*> pointers() const {
    return block_ ? ListView<T*>(block_->pointers(), block_->pointerCount) : ListView<T*>();
  }
  ListView<Uuid> ids() const { return block_ ? ListView<Uuid>(block_->ids(), block_->idCount) : ListView<Uuid>(); }
  bool empty() const { return size() == 0; }
  std::size_t size() const { return block_ ? block_->pointerCount : 0; }

  // Appends without checking for duplicates.
  void add(T* entity) {
    const std::uint32_t p = block_ ? block_->pointerCount : 0;
    const std::uint32_t n = block_ ? block_->idCount : 0;
    grow(std::max(p, n) + 1);
    block_->pointers()[p] = entity;
    block_->ids()[n] = entity->id();
    block_->pointerCount = p + 1;
    block_->idCount = n + 1;
  }
  // Removes every occurrence of the entity and of its id.
  void remove(T* entity) {
    if (!block_) return;
    T** pointers = block_->pointers();
    block_->pointerCount =
        static_cast<std::uint32_t>(std::remove(pointers, pointers + block_->pointerCount, entity) - pointers);
    Uuid* ids = block_->ids();
    const Uuid id = entity->id();
    block_->idCount = static_cast<std::uint32_t>(std::remove(ids, ids + block_->idCount, id) - ids);
    if (block_->pointerCount == 0 && block_->idCount == 0) release();
  }
  // Ids without pointers, until resolve binds them.
  void setIds(std::vector<Uuid> ids) {
    release();
    if (ids.empty()) return;
    grow(static_cast<std::uint32_t>(ids.size()));
    std::memcpy(static_cast<void*>(block_->ids()), ids.data(), ids.size() * sizeof(Uuid));
    block_->idCount = static_cast<std::uint32_t>(ids.size());
  }
  void resolve(const Entity::Lookup& lookup) {
    if (!block_) return;
    T** pointers = block_->pointers();
    const Uuid* ids = block_->ids();
    for (std::uint32_t i = 0; i < block_->idCount; ++i) pointers[i] = dynamic_cast<T*>(lookup(ids[i]));
    block_->pointerCount = block_->idCount;
  }

 private:
  // The pointers and the ids of one list, in one allocation: a header,
  // `capacity` pointers, then `capacity` ids. Before resolve the ids can
  // outnumber the pointers.
  struct Block {
    std::uint32_t pointerCount = 0;
    std::uint32_t idCount = 0;
    std::uint32_t capacity = 0;
    T** pointers() { return reinterpret_cast<T**>(reinterpret_cast<char*>(this) + HEADER); }
    Uuid* ids() { return reinterpret_cast<Uuid*>(reinterpret_cast<char*>(this) + HEADER + capacity * sizeof(T*)); }
  };
  static constexpr std::size_t HEADER = (sizeof(Block) + alignof(T*) - 1) / alignof(T*) * alignof(T*);
  static std::size_t bytes(std::uint32_t capacity) { return HEADER + capacity * (sizeof(T*) + sizeof(Uuid)); }

  // Makes room for `needed` entries, keeping what is there.
  void grow(std::uint32_t needed) {
    if (block_ && block_->capacity >= needed) return;
    const std::uint32_t capacity = std::max<std::uint32_t>(needed, block_ ? 2 * block_->capacity : 1);
    auto* grown = new (::operator new(bytes(capacity))) Block{0, 0, capacity};
    if (block_) {
      std::memcpy(static_cast<void*>(grown->pointers()), block_->pointers(), block_->pointerCount * sizeof(T*));
      std::memcpy(static_cast<void*>(grown->ids()), block_->ids(), block_->idCount * sizeof(Uuid));
      grown->pointerCount = block_->pointerCount;
      grown->idCount = block_->idCount;
      release();
    }
    block_ = grown;
  }
  void release() {
    if (!block_) return;
    ::operator delete(block_);
    block_ = nullptr;
  }

  Block* block_ = nullptr;
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
