#include "fennik/server/entity/SignalTable.h"

#include "fennik/server/entity/LoopSignal.h"

namespace fennik::server::detail {

// The entity's own change slots, made at the first connect, and the shared
// signal it reports into: an entity that only reports into a shared signal
// (most of a device's channel features) carries no slot of its own.
struct SignalTable::ChangeSignal {
  std::unique_ptr<SharedChangeSignal> own;
  std::shared_ptr<SharedChangeSignal> shared;

  SharedChangeSignal& ownSignal() {
    if (!own) own = std::make_unique<SharedChangeSignal>();
    return *own;
  }
};

SignalTable::SignalTable() = default;
SignalTable::~SignalTable() = default;

SignalBase& SignalTable::install(std::size_t slot, std::unique_ptr<SignalBase> signal) {
  for (auto& entry : slots_) {
    if (entry.slot == slot) {
      entry.signal = std::move(signal);
      return *entry.signal;
    }
  }
  return *slots_.emplace_back(Entry{slot, std::move(signal)}).signal;
}

boost::signals2::connection SignalTable::connectChange(ChangeSlot slot) {
  if (!change_) change_ = std::make_unique<ChangeSignal>();
  return change_->ownSignal().connect(std::move(slot));
}

void SignalTable::reportChangesTo(std::shared_ptr<SharedChangeSignal> signal) {
  if (!change_) change_ = std::make_unique<ChangeSignal>();
  auto& shared = change_->shared;
  if (shared && shared != signal && !shared->empty()) {
    // Rare (an entity in two groups): the earlier signal keeps receiving,
    // through a slot of the entity's own that lets go of itself at the first
    // change after the earlier signal lost its slots.
    auto forward = std::make_shared<boost::signals2::connection>();
    *forward = change_->ownSignal().connect(
        [earlier = std::move(shared), forward](Entity* entity, std::string_view key, bool external) {
          if (earlier->empty()) {
            forward->disconnect();  // the slot is released once this call returns
            return;
          }
          (*earlier)(entity, key, external);
        });
  }
  shared = std::move(signal);
}

void SignalTable::fireChange(Entity* entity, std::string_view key, bool external) {
  if (!change_) return;
  if (change_->own) (*change_->own)(entity, key, external);
  if (change_->shared) {
    // A slot may hand the entity a new shared signal: the one firing stays.
    const std::shared_ptr<SharedChangeSignal> shared = change_->shared;
    (*shared)(entity, key, external);
  }
}

}  // namespace fennik::server::detail
