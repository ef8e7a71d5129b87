#pragma once
// The entity database: owns every entity, finds it by id in O(1), lists the
// entities of one class in insertion order, and signals additions and
// removals per class. It also keeps the serializers registered per class.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/Entity.h"
#include "fennik/server/entity/EntitySerializer.h"

#include <boost/signals2/connection.hpp>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fennik::server {

class Database {
 public:
  using EntitySlot = std::function<void(Entity*)>;

  Database();
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Adds an entity; an entity whose id is already present is rejected
  // (std::invalid_argument), so ids stay unique.
  void add(EntityPtr entity);
  // Deletes by pointer or id; false when the entity is not in the database.
  bool deleteEntity(const Entity* entity);
  bool deleteEntity(const Uuid& id);
  // Removes every entity (project close); fires the removal signals.
  void clear();
  // Takes over every entity of `from` into this database, which must be
  // empty (std::logic_error otherwise, nothing moved): `from` is left empty,
  // and the additions are signalled class by class as add() would. Opening a
  // project checks its entities in a database of their own; this makes that
  // database's index the running one instead of building it a second time.
  void adopt(Database& from);
  // Makes room in the id index for n entities in all.
  void reserve(std::size_t n);

  Entity* find(const Uuid& id) const;
  EntityPtr findShared(const Uuid& id) const;
  template <class T>
  T* get(const Uuid& id) const {
    return dynamic_cast<T*>(find(id));
  }

  // Every entity of the class, in insertion order.
  std::vector<Entity*> ofClass(std::string_view className) const;
  template <class T>
  std::vector<T*> all() const {
    std::vector<T*> result;
    forEachOfClass(T::CLASS_NAME, [&](Entity* e) { result.push_back(static_cast<T*>(e)); });
    return result;
  }
  void forEachOfClass(std::string_view className, const std::function<void(Entity*)>& fn) const;
  std::size_t countOfClass(std::string_view className) const;
  // Every entity, class by class (in class-name order), each class in
  // insertion order.
  std::vector<EntityPtr> entities() const;
  std::size_t size() const;

  boost::signals2::connection onAdded(std::string_view className, EntitySlot slot);
  boost::signals2::connection onRemoved(std::string_view className, EntitySlot slot);

  // Serializers, keyed by family and entity class; registering again replaces.
  void registerSerializer(std::shared_ptr<EntitySerializer> serializer);
  void deregisterSerializer(std::type_index family, std::string_view className);
  std::shared_ptr<EntitySerializer> serializer(std::type_index family, std::string_view className) const;
  template <class Family>
  std::shared_ptr<Family> serializer(std::string_view className) const {
    return std::static_pointer_cast<Family>(serializer(std::type_index(typeid(Family)), className));
  }
  std::size_t serializerCount() const { return serializers_.size(); }
  // The serializers of one family, in the order they were first registered.
  std::vector<std::shared_ptr<EntitySerializer>> serializers(std::type_index family) const;

 private:
  struct ClassBucket;

  // The id index (an open-addressing table, defined in Database.cpp so its
  // headers stay out of every file that includes this one).
  struct Index;

  ClassBucket& bucket(std::string_view className);
  // The bucket of the class, made when missing; remembers the last one.
  ClassBucket* bucketOf(std::string_view className);
  const ClassBucket* findBucket(std::string_view className) const;
  // Closes the holes removals left in a class's order.
  void compact(ClassBucket& b);
  // Removes the entity with this id (only if it is `expected`, when given).
  bool eraseById(const Uuid& id, const Entity* expected);

  std::unique_ptr<Index> byId_;
  std::map<std::string, std::unique_ptr<ClassBucket>, std::less<>> buckets_;
  std::map<std::pair<std::type_index, std::string>, std::shared_ptr<EntitySerializer>, std::less<>> serializers_;
  std::vector<std::pair<std::type_index, std::string>> serializerOrder_;
};

}  // namespace fennik::server
