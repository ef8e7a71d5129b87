#include "fennik/server/entity/Database.h"

#include <absl/container/flat_hash_map.h>
#include <boost/signals2/signal.hpp>

#include <stdexcept>

namespace fennik::server {

struct Database::ClassBucket {
  std::list<EntityPtr> entities;
  boost::signals2::signal<void(Entity*)> added;
  boost::signals2::signal<void(Entity*)> removed;
};

// Open addressing: slots move when the table grows, so nothing keeps a
// pointer or iterator into it beyond one call.
struct Database::Index : absl::flat_hash_map<Uuid, Slot, UuidHash> {};

Database::Database() : byId_(std::make_unique<Index>()) {}

Database::~Database() {
  // Entities hold raw pointers to each other; drop them without signals.
  byId_->clear();
  buckets_.clear();
}

std::size_t Database::size() const { return byId_->size(); }

Database::ClassBucket& Database::bucket(std::string_view className) {
  auto it = buckets_.find(className);
  if (it == buckets_.end()) it = buckets_.emplace(std::string(className), std::make_unique<ClassBucket>()).first;
  return *it->second;
}

const Database::ClassBucket* Database::findBucket(std::string_view className) const {
  auto it = buckets_.find(className);
  return it == buckets_.end() ? nullptr : it->second.get();
}

void Database::add(EntityPtr entity) {
  if (!entity) throw std::invalid_argument("Database::add: null entity");
  // One lookup both checks and places the id.
  auto [slot, inserted] = byId_->try_emplace(entity->id());
  if (!inserted) {
    throw std::invalid_argument("Database::add: an entity with id " + entity->strId() + " already exists");
  }
  ClassBucket* b = nullptr;
  try {
    b = &bucket(entity->className());
    b->entities.push_back(entity);
  } catch (...) {
    byId_->erase(slot);
    throw;
  }
  slot->second = Slot{entity, b, std::prev(b->entities.end())};
  b->added(entity.get());
}

bool Database::eraseById(const Uuid& id, const Entity* expected) {
  auto it = byId_->find(id);
  if (it == byId_->end() || (expected && it->second.entity.get() != expected)) return false;
  // Keep the entity alive until the listeners have seen it go.
  EntityPtr keep = it->second.entity;
  ClassBucket* b = it->second.bucket;
  b->entities.erase(it->second.position);
  byId_->erase(it);
  b->removed(keep.get());
  return true;
}

bool Database::deleteEntity(const Entity* entity) { return entity && eraseById(entity->id(), entity); }

bool Database::deleteEntity(const Uuid& id) { return eraseById(id, nullptr); }

void Database::clear() {
  // Class by class, the first entity left each time: a removal listener may
  // delete (or even add) further entities. Taking begin() of the index
  // instead would rescan its emptied slots on every step.
  while (!byId_->empty()) {
    for (auto& [name, b] : buckets_) {
      while (!b->entities.empty()) eraseById(b->entities.front()->id(), nullptr);
    }
  }
}

Entity* Database::find(const Uuid& id) const {
  auto it = byId_->find(id);
  return it == byId_->end() ? nullptr : it->second.entity.get();
}

EntityPtr Database::findShared(const Uuid& id) const {
  auto it = byId_->find(id);
  return it == byId_->end() ? nullptr : it->second.entity;
}

std::vector<Entity*> Database::ofClass(std::string_view className) const {
  std::vector<Entity*> result;
  forEachOfClass(className, [&](Entity* e) { result.push_back(e); });
  return result;
}

void Database::forEachOfClass(std::string_view className, const std::function<void(Entity*)>& fn) const {
  const auto* b = findBucket(className);
  if (!b) return;
  for (const auto& e : b->entities) fn(e.get());
}

std::size_t Database::countOfClass(std::string_view className) const {
  const auto* b = findBucket(className);
  return b ? b->entities.size() : 0;
}

std::vector<EntityPtr> Database::entities() const {
  std::vector<EntityPtr> result;
  result.reserve(byId_->size());
  for (const auto& [name, b] : buckets_) result.insert(result.end(), b->entities.begin(), b->entities.end());
  return result;
}

boost::signals2::connection Database::onAdded(std::string_view className, EntitySlot slot) {
  return bucket(className).added.connect(std::move(slot));
}

boost::signals2::connection Database::onRemoved(std::string_view className, EntitySlot slot) {
  return bucket(className).removed.connect(std::move(slot));
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
