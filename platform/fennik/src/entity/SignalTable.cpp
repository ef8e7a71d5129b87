#include "fennik/server/entity/SignalTable.h"

#include "fennik/server/entity/LoopSignal.h"

namespace fennik::server::detail {

struct SignalTable::ChangeSignal {
  LoopSignal<Entity*, std::string_view, bool> signal;
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
  return change_->signal.connect(std::move(slot));
}

void SignalTable::fireChange(Entity* entity, std::string_view key, bool external) {
  if (change_) change_->signal(entity, key, external);
}

bool SignalTable::hasChangeListeners() const { return change_ && !change_->signal.empty(); }

}  // namespace fennik::server::detail
