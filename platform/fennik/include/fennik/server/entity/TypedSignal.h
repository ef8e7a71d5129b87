#pragma once
// The typed signals behind the signal table. Only the translation units that
// connect to a signal include this header.

#include "fennik/server/entity/LoopSignal.h"
#include "fennik/server/entity/SignalTable.h"

// Kept for the users that reach signals2 through this header.
#include <boost/signals2/signal.hpp>

namespace fennik::server::detail {

// Field signal: slot receives (new value, external).
template <class V>
class FieldSignal final : public SignalBase {
 public:
  using Signal = LoopSignal<const V&, bool>;
  void fire(const void* value, bool external) override { signal(*static_cast<const V*>(value), external); }
  Signal signal;
};

// Relation signal: slot receives the entity added, removed or set.
template <class T>
class RelationSignal final : public SignalBase {
 public:
  using Signal = LoopSignal<T*>;
  void fire(const void* value, bool) override { signal(*static_cast<T* const*>(value)); }
  Signal signal;
};

template <class Sig>
Sig& slotSignal(SignalTable& table, std::size_t slot) {
  if (auto* existing = table.find(slot)) return static_cast<Sig&>(*existing);
  return static_cast<Sig&>(table.install(slot, std::make_unique<Sig>()));
}

}  // namespace fennik::server::detail

namespace fennik::server::detail {

template <class V, class Slot>
boost::signals2::connection connectField(SignalTable& table, std::size_t slot, Slot&& fn) {
  return slotSignal<FieldSignal<V>>(table, slot).signal.connect(std::forward<Slot>(fn));
}

template <class T, class Slot>
boost::signals2::connection connectRelation(SignalTable& table, std::size_t slot, Slot&& fn) {
  return slotSignal<RelationSignal<T>>(table, slot).signal.connect(std::forward<Slot>(fn));
}

}  // namespace fennik::server::detail
