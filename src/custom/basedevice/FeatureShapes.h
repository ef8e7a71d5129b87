#pragma once
// The shapes every channel-level feature takes: a device-level parent
// (source DEVICE, the device's label) and one child per channel (source
// CHANNEL, its index and channel label), joined as owned members.

#include "qor/server/entities/Device.h"
#include "qor/server/entities/Enums.h"
#include "qor/server/entities/FtLabel.h"

namespace qor::server {

template <class E>
concept HasLabel = requires(E* e, FtLabel* label) {
  e->setLabel(label);
};

template <class S>
auto* createDeviceFeature(S& service, Device* device) {
  auto* feature = service.create();
  service.setSource(feature, FtSource::DEVICE, false);
  if constexpr (HasLabel<std::remove_pointer_t<decltype(feature)>>) {
    if (device) feature->setLabel(device->getLabel());
  }
  return feature;
}

template <class S, class E>
E* createChannelFeature(S& service, E* parent, int index, FtLabel* label) {
  E* child = service.create();
  service.setSource(child, FtSource::CHANNEL, false);
  service.setIndex(child, index, false);
  if constexpr (HasLabel<E>) child->setLabel(label);
  if (parent) service.addChild(parent, child, true);
  return child;
}

}  // namespace qor::server
