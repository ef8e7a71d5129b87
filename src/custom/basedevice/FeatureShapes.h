#pragma once
// The shapes every channel-level feature takes: a device-level parent
// (source DEVICE, the device's label) and one child per channel (source
// CHANNEL, its index and channel label), joined as owned members.

#include "qor/server/entities/Device.h"
#include "qor/server/entities/DeviceType.h"
#include "qor/server/entities/Enums.h"
#include "qor/server/entities/FtDeviceInfo.h"
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

// The label (named after the type) and device info (the type's model) of a
// device that no driver describes, as the project file keeps them.
template <class Labels, class Infos>
FtDeviceInfo* createLabelAndDeviceInfo(Labels& labels, Infos& infos, Device* device, const DeviceType& type) {
  FtLabel* label = labels.create();
  labels.setSource(label, FtSource::DEVICE, false);
  labels.setName(label, type.getLabel(), false);
  device->setLabel(label);
  FtDeviceInfo* info = infos.create();
  infos.setSource(info, FtSource::DEVICE, false);
  info->setLabel(label);
  infos.setModel(info, type.getModel(), false);
  device->setDeviceInfo(info);
  return info;
}

}  // namespace qor::server
