#pragma once
// The common base of every entity service: creation and plain destruction,
// the type's field aggregators, and the two write paths of a field. Each
// generated I<T>Service derives from EntityService<T>.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/Aggregator.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/FieldHandle.h"
#include "fennik/server/entity/PropertyValue.h"
#include "fennik/server/service/Service.h"

#include <memory>
#include <string_view>
#include <vector>

namespace fennik::server {

template <class E>
class EntityService : public Service {
 public:
  using EntityType = E;
  using Service::Service;

  // Sets a field by name from a generic property value (normal write);
  // false for an unknown field or a value that does not convert.
  virtual bool doSetProperty(E* entity, std::string_view field, const PropertyValue& value) = 0;

  virtual std::shared_ptr<E> createDefaultInitialized(const Uuid& id) const { return E::createDefaultInitialized(id); }

  // A new entity with a random id and every field at its default, in the database.
  virtual E* create() {
    auto entity = createDefaultInitialized(random_uuid());
    E* raw = entity.get();
    db()->add(std::move(entity));
    return raw;
  }

  // Removes the entity from the database (group types also unhook it first).
  virtual void destroy(E* entity) {
    if (entity) db()->deleteEntity(entity);
  }

  // Runs every aggregator of the type on the group, in field order.
  virtual bool aggregateFields(E* group) {
    if (!group) return false;
    bool changed = false;
    for (const auto* aggregator : aggregators_) changed |= aggregator->aggregate(group);
    return changed;
  }

  // Per-service hook run after each aggregation of a group.
  virtual void doRecalc(E*) {}

  E* find(const Uuid& id) const { return db()->template get<E>(id); }
  std::vector<E*> all() const { return db()->template all<E>(); }
  const std::vector<AggregatorBase<E>*>& aggregators() const { return aggregators_; }

 protected:
  void registerAggregator(AggregatorBase<E>* aggregator) { aggregators_.push_back(aggregator); }

  // Service-level write of a consistent field.
  template <class V>
  void writeConsistent(const Aggregator<E, V>& aggregator, E* entity, const V& value, bool external) {
    if (!entity) return;
    if (external) {
      aggregator.writeExternal(entity, value, !groupsAggregatedLater_);
    } else {
      aggregator.writeNormal(entity, value, !groupsAggregatedLater_);
    }
  }

  // While set, writes leave the groups above the written entity as they
  // are: a group service sets it while a project loads, and aggregates every
  // group once when the load is finished.
  bool groupsAggregatedLater_ = false;

  // Service-level write of any other field: external writes compare, normal
  // writes always store and fire; neither spreads.
  template <class V>
  void writePlain(const FieldHandle<E, V>& handle, E* entity, const V& value, bool external) {
    if (entity) handle.setExternal(entity, value, external);
  }

 private:
  std::vector<AggregatorBase<E>*> aggregators_;
};

}  // namespace fennik::server
