#pragma once
// The signals of one entity, created only when somebody connects: most
// entities are never observed and so carry a single null pointer.

#include <boost/signals2/connection.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace fennik::server {

class Entity;

namespace detail {

// A type-erased slot of the table; the typed signal lives in the subclass.
class SignalBase {
 public:
  virtual ~SignalBase() = default;
  // Fires with a pointer to the value (field signals) or to the entity pointer
  // (relation signals); the subclass knows the type.
  virtual void fire(const void* value, bool external) = 0;
};

using ChangeSlot = std::function<void(Entity*, std::string_view key, bool external)>;

template <class... Args>
class LoopSignal;
// A change signal that many entities report into (the eight filters of an
// equaliser bank, the channels of a feature): one slot then serves them
// all, where a slot of its own on each entity costs a few hundred bytes.
using SharedChangeSignal = LoopSignal<Entity*, std::string_view, bool>;

class SignalTable {
 public:
  SignalTable();
  ~SignalTable();

  SignalBase* find(std::size_t slot) const {
    for (const auto& entry : slots_) {
      if (entry.slot == slot) return entry.signal.get();
    }
    return nullptr;
  }
  // Installs a signal in an empty slot; returns the slot's signal.
  SignalBase& install(std::size_t slot, std::unique_ptr<SignalBase> signal);

  boost::signals2::connection connectChange(ChangeSlot slot);
  void reportChangesTo(std::shared_ptr<SharedChangeSignal> signal);
  void fireChange(Entity* entity, std::string_view key, bool external);

 private:
  struct ChangeSignal;
  // Only the slots somebody connected to: an observed entity has one to a
  // few signals among dozens of fields, so a list beats a table by slot.
  struct Entry {
    std::size_t slot;
    std::unique_ptr<SignalBase> signal;
  };
  std::vector<Entry> slots_;
  std::unique_ptr<ChangeSignal> change_;
};

}  // namespace detail
}  // namespace fennik::server
