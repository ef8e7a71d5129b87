#include "fennik/server/entity/Database.h"

#include "fennik/server/entity/LoopSignal.h"

#include <absl/container/flat_hash_set.h>
#include <algorithm>

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace fennik::server {

// The entities of one class in insertion order. A removed entity leaves a
// hole that is closed once holes are the majority (outside a walk over the
// class): a list node per entity would cost more than the entity's index slot.
struct Database::ClassBucket {
  std::vector<Entity*> order;
  std::size_t holes = 0;
  std::size_t first = 0;         // no entity before this position
  mutable unsigned walking = 0;  // walks in progress: positions must stay
  // Who hears of the class's additions and removals, made at the first
  // listener: a class nobody listens to pays nothing per entity, and a
  // listened one pays a light signal's call (a database is used by one
  // thread at a time), not a signals2 emission with its mutex.
  using Signal = detail::LoopSignal<Entity*>;
  std::unique_ptr<Signal> added;
  std::unique_ptr<Signal> removed;
  static Signal& made(std::unique_ptr<Signal>& signal) {
    if (!signal) signal = std::make_unique<Signal>();
    return *signal;
  }

  std::size_t count() const { return order.size() - holes; }
  Entity* front() {
    while (first < order.size() && !order[first]) ++first;
    return first < order.size() ? order[first] : nullptr;
  }
  template <class Fn>
  void walk(Fn&& fn) const {
    // By position: an entity added during the walk is visited too, one
    // removed before its turn is not.
    ++walking;
    struct Done {
      unsigned& walking;
      ~Done() { --walking; }
    } done{walking};
    for (std::size_t i = first; i < order.size(); ++i) {
      if (Entity* e = order[i]) fn(e);
    }
  }
};

// What the index keeps of an entity: the entity itself (the database owns
// it) and its position in its class's order. The slot is found by the
// entity's own id, which is not stored a second time: 24 bytes a slot,
// where a map from id to entity, class and position took 48 (a show's
// index is half a million slots).
struct IndexSlot {
  EntityPtr entity;
  mutable std::uint32_t position = 0;
};

struct IndexSlotHash {
  using is_transparent = void;
  std::size_t operator()(const Uuid& id) const noexcept { return UuidHash{}(id); }
  std::size_t operator()(const IndexSlot& slot) const noexcept { return UuidHash{}(slot.entity->id()); }
};

struct IndexSlotEq {
  using is_transparent = void;
  static const Uuid& idOf(const Uuid& id) { return id; }
  static const Uuid& idOf(const IndexSlot& slot) { return slot.entity->id(); }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const noexcept {
    return idOf(a) == idOf(b);
  }
};

// Open addressing: slots move when the table grows, so nothing keeps a
// pointer or iterator into it beyond one call. It also remembers the class
// of the last entity added or removed (its name as the bucket map's key,
// which stays put): a project's entities come, and go, class by class.
struct Database::Index : absl::flat_hash_set<IndexSlot, IndexSlotHash, IndexSlotEq> {
  std::string_view lastClass;
  ClassBucket* lastBucket = nullptr;
};

Database::Database() : byId_(std::make_unique<Index>()) {}

Database::~Database() {
  // Entities hold raw pointers to each other; drop them without signals.
  byId_->clear();
  buckets_.clear();
}

std::size_t Database::size() const { return byId_->size(); }

namespace {

// The class's entry of the bucket map, made when missing.
template <class Buckets>
typename Buckets::iterator bucketEntry(Buckets& buckets, std::string_view className) {
  auto it = buckets.find(className);
  if (it == buckets.end())
    it = buckets.emplace(std::string(className), std::make_unique<typename Buckets::mapped_type::element_type>()).first;
  return it;
}

}  // namespace

Database::ClassBucket& Database::bucket(std::string_view className) { return *bucketOf(className); }

const Database::ClassBucket* Database::findBucket(std::string_view className) const {
  auto it = buckets_.find(className);
  return it == buckets_.end() ? nullptr : it->second.get();
}

Database::ClassBucket* Database::bucketOf(std::string_view className) {
  if (byId_->lastBucket && className == byId_->lastClass) return byId_->lastBucket;  // buckets live as long as we do
  const auto it = bucketEntry(buckets_, className);
  byId_->lastClass = it->first;
  byId_->lastBucket = it->second.get();
  return byId_->lastBucket;
}

void Database::add(EntityPtr entity) {
  if (!entity) throw std::invalid_argument("Database::add: null entity");
  // One lookup both checks and places the id.
  auto [slot, inserted] = byId_->insert(IndexSlot{entity});
  if (!inserted) {
    throw std::invalid_argument("Database::add: an entity with id " + entity->strId() + " already exists");
  }
  ClassBucket* b = nullptr;
  try {
    b = bucketOf(entity->className());
    if (b->order.size() >= std::numeric_limits<std::uint32_t>::max()) {
      throw std::length_error("Database::add: too many entities of class " + std::string(entity->className()));
    }
    b->order.push_back(entity.get());
  } catch (...) {
    byId_->erase(slot);
    throw;
  }
  slot->position = static_cast<std::uint32_t>(b->order.size() - 1);
  if (b->added) (*b->added)(entity.get());
}

bool Database::eraseById(const Uuid& id, const Entity* expected) {
  auto it = byId_->find(id);
  if (it == byId_->end() || (expected && it->entity.get() != expected)) return false;
  // Keep the entity alive until the listeners have seen it go.
  EntityPtr keep = it->entity;
  ClassBucket* b = bucketOf(keep->className());
  b->order[it->position] = nullptr;
  ++b->holes;
  b->front();  // moves past the holes at the front
  byId_->erase(it);
  if (b->walking == 0) {
    if (b->count() == 0) {
      b->order.clear();
      b->holes = b->first = 0;
    } else if (b->holes > 32 && 2 * b->holes > b->order.size() && b->holes > b->first) {
      // Holes in the middle (a closing project empties a class from the
      // front, which needs no compaction).
      compact(*b);
    }
  }
  if (b->removed) (*b->removed)(keep.get());
  return true;
}

void Database::compact(ClassBucket& b) {
  std::size_t kept = 0;
  for (Entity* e : b.order) {
    if (!e) continue;
    byId_->find(e->id())->position = static_cast<std::uint32_t>(kept);
    b.order[kept++] = e;
  }
  b.order.resize(kept);
  b.order.shrink_to_fit();
  b.holes = 0;
  b.first = 0;
}

bool Database::deleteEntity(const Entity* entity) { return entity && eraseById(entity->id(), entity); }

bool Database::deleteEntity(const Uuid& id) { return eraseById(id, nullptr); }

void Database::clear() {
  // The classes somebody hears of go class by class, the first entity left
  // each time: a removal listener may delete (or even add) further entities.
  // Taking begin() of the index instead would rescan its emptied slots on
  // every step.
  const auto heard = [](const ClassBucket& b) { return b.removed && !b.removed->empty(); };
  for (bool again = true; again;) {
    again = false;
    for (auto& [name, b] : buckets_) {
      if (!heard(*b)) continue;
      while (Entity* front = b->front()) eraseById(front->id(), nullptr);
    }
    for (const auto& [name, b] : buckets_) again = again || (heard(*b) && b->count() > 0);
  }
  // The rest nobody hears of: they leave together, without a removal each (a
  // show's few hundred thousand entities took a twentieth of opening the
  // next one, one by one).
  for (auto& [name, b] : buckets_) {
    b->order.clear();
    b->holes = b->first = 0;
  }
  byId_->clear();
}

void Database::adopt(Database& from) {
  if (&from == this) return;
  if (!byId_->empty()) throw std::logic_error("Database::adopt: the database is not empty");
  std::swap(byId_, from.byId_);  // ours was empty; `from` gets it
  for (Index* index : {byId_.get(), from.byId_.get()}) {
    index->lastClass = {};
    index->lastBucket = nullptr;
  }
  // Their buckets move over whole (the index's slots point at them), each
  // taking our bucket's listeners along; ours, emptied, go to `from`.
  std::vector<std::pair<ClassBucket*, std::size_t>> adopted;
  for (auto& [name, theirs] : from.buckets_) {
    if (theirs->order.empty()) continue;
    auto& ours = bucketEntry(buckets_, name)->second;
    ours->added.swap(theirs->added);
    ours->removed.swap(theirs->removed);
    std::swap(ours, theirs);
    // Counted before any listener runs: an entity a listener adds is
    // signalled by its own addition.
    adopted.emplace_back(ours.get(), ours->order.size());
  }
  for (auto& [b, count] : adopted) {
    ++b->walking;
    struct Done {
      unsigned& walking;
      ~Done() { --walking; }
    } done{b->walking};
    for (std::size_t i = 0; i < count; ++i) {
      if (Entity* e = b->order[i]; e && b->added) (*b->added)(e);
    }
  }
}

void Database::reserve(std::size_t n) { byId_->reserve(n); }

Entity* Database::find(const Uuid& id) const {
  auto it = byId_->find(id);
  return it == byId_->end() ? nullptr : it->entity.get();
}

EntityPtr Database::findShared(const Uuid& id) const {
  auto it = byId_->find(id);
  return it == byId_->end() ? nullptr : it->entity;
}

std::vector<Entity*> Database::ofClass(std::string_view className) const {
  std::vector<Entity*> result;
  forEachOfClass(className, [&](Entity* e) { result.push_back(e); });
  return result;
}

void Database::forEachOfClass(std::string_view className, const std::function<void(Entity*)>& fn) const {
  const auto* b = findBucket(className);
  if (!b) return;
  b->walk(fn);
}

std::size_t Database::countOfClass(std::string_view className) const {
  const auto* b = findBucket(className);
  return b ? b->count() : 0;
}

std::vector<EntityPtr> Database::entities() const {
  std::vector<EntityPtr> result;
  result.reserve(byId_->size());
  for (const auto& [name, b] : buckets_) b->walk([&result](Entity* e) { result.push_back(e->shared_from_this()); });
  return result;
}

boost::signals2::connection Database::onAdded(std::string_view className, EntitySlot slot) {
  return ClassBucket::made(bucket(className).added).connect(std::move(slot));
}

boost::signals2::connection Database::onRemoved(std::string_view className, EntitySlot slot) {
  return ClassBucket::made(bucket(className).removed).connect(std::move(slot));
}

void Database::registerSerializer(std::shared_ptr<EntitySerializer> serializer) {
  if (!serializer) return;
  std::pair<std::type_index, std::string> key{serializer->family(), std::string(serializer->entityClassName())};
  if (!serializers_.contains(key)) serializerOrder_.push_back(key);
  serializers_[std::move(key)] = std::move(serializer);
}

void Database::deregisterSerializer(std::type_index family, std::string_view className) {
  const std::pair<std::type_index, std::string> key{family, std::string(className)};
  if (serializers_.erase(key) > 0) std::erase(serializerOrder_, key);
}

std::shared_ptr<EntitySerializer> Database::serializer(std::type_index family, std::string_view className) const {
  auto it = serializers_.find({family, std::string(className)});
  return it == serializers_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<EntitySerializer>> Database::serializers(std::type_index family) const {
  std::vector<std::shared_ptr<EntitySerializer>> result;
  for (const auto& key : serializerOrder_) {
    if (key.first == family) result.push_back(serializers_.at(key));
  }
  return result;
}

}  // namespace fennik::server
