#pragma once
// The base of every entity in the database: an id, generic property access
// (unused by entities with typed fields), field descriptors, and one change
// signal that reports every field write and relation change by key.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/EntityFieldDescriptor.h"
#include "fennik/server/entity/PropertyValue.h"
#include "fennik/server/entity/SignalTable.h"

#include <boost/signals2/connection.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeindex>

namespace fennik::server {

class Entity : public std::enable_shared_from_this<Entity> {
 public:
  using Lookup = std::function<Entity*(const Uuid&)>;
  using ChangeSlot = detail::ChangeSlot;
  using SharedChangeSignal = detail::SharedChangeSignal;

  explicit Entity(const Uuid& id) : id_(id) {}
  virtual ~Entity();
  Entity(const Entity&) = delete;
  Entity& operator=(const Entity&) = delete;

  const Uuid& id() const { return id_; }
  std::string strId() const { return UuidToS(id_); }
  std::type_index typeId() const { return std::type_index(typeid(*this)); }

  // Rebuilds the relation pointers from the stored ids after loading.
  virtual void resolvePointers(const Lookup& lookup);
  virtual bool hasProperty(std::string_view name) const;
  virtual std::optional<PropertyValue> getProperty(std::string_view name) const;
  virtual bool setProperty(std::string_view name, const PropertyValue& value);
  virtual std::optional<boost::signals2::connection> onPropertyChanged(std::string_view name,
                                                                       std::function<void(const PropertyValue&)> slot);
  virtual std::string_view className() const = 0;
  virtual bool hasProperties() const { return false; }
  virtual bool isFileFlagSet() const = 0;
  virtual bool isInterfaceFlagSet() const = 0;
  virtual const EntityFieldDescriptors& getFieldDescriptors() const = 0;

  // Fires on every successful field write (key = field name) and relation
  // change (key such as "add_parent_", "set_label_"), with the write's external.
  boost::signals2::connection onChanged(ChangeSlot slot);
  // Also reports every such change to `signal`, which other entities may
  // share (connect to it once, for all of them); the entity keeps it alive.
  // A signal given before that still has slots keeps receiving too.
  void reportChangesTo(std::shared_ptr<SharedChangeSignal> signal);

 protected:
  // The one write path of every typed field. With compare set, an equal value
  // changes nothing and returns false. Exact equality: a NaN always changes.
  template <class V>
  bool writeField(std::size_t slot, std::string_view name, V& store, const V& value, bool external, bool compare) {
    if (compare && store == value) return false;
    store = value;
    if (signals_) notifyField(slot, &store, name, external);
    return true;
  }
  // Fires a relation's signal (entity pointer) and the change notification.
  template <class T>
  void relationChanged(std::size_t slot, T* entity, std::string_view key) {
    if (signals_) notifyRelation(slot, &entity, key);
  }
  // Fires only the field's own signal, when it exists (fireAllSignals).
  void fireFieldSignal(std::size_t slot, const void* value, bool external);
  detail::SignalTable& signalTable();

 private:
  void notifyField(std::size_t slot, const void* value, std::string_view name, bool external);
  void notifyRelation(std::size_t slot, const void* entityPointer, std::string_view key);

  Uuid id_;
  std::unique_ptr<detail::SignalTable> signals_;
};

using EntityPtr = std::shared_ptr<Entity>;

}  // namespace fennik::server
