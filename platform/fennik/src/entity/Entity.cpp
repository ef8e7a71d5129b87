#include "fennik/server/entity/Entity.h"

namespace fennik::server {

Entity::~Entity() = default;

void Entity::resolvePointers(const Lookup&) {}

bool Entity::hasProperty(std::string_view) const { return false; }

std::optional<PropertyValue> Entity::getProperty(std::string_view) const { return std::nullopt; }

bool Entity::setProperty(std::string_view, const PropertyValue&) { return false; }

std::optional<boost::signals2::connection> Entity::onPropertyChanged(std::string_view,
                                                                     std::function<void(const PropertyValue&)>) {
  return std::nullopt;
}

boost::signals2::connection Entity::onChanged(ChangeSlot slot) { return signalTable().connectChange(std::move(slot)); }

void Entity::reportChangesTo(std::shared_ptr<SharedChangeSignal> signal) {
  signalTable().reportChangesTo(std::move(signal));
}

detail::SignalTable& Entity::signalTable() {
  if (!signals_) signals_ = std::make_unique<detail::SignalTable>();
  return *signals_;
}

void Entity::notifyField(std::size_t slot, const void* value, std::string_view name, bool external) {
  if (auto* signal = signals_->find(slot)) signal->fire(value, external);
  signals_->fireChange(this, name, external);
}

void Entity::fireFieldSignal(std::size_t slot, const void* value, bool external) {
  if (!signals_) return;
  if (auto* signal = signals_->find(slot)) signal->fire(value, external);
}

void Entity::notifyRelation(std::size_t slot, const void* entityPointer, std::string_view key) {
  if (auto* signal = signals_->find(slot)) signal->fire(entityPointer, false);
  signals_->fireChange(this, key, false);
}

}  // namespace fennik::server
