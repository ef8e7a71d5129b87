// FtLabel: the device label and one channel label per driver channel; the
// channel's custom name goes both ways.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/FeatureShapes.h"

#include "qor/server/entities/FtLabel.h"
#include "qor/server/services/FtLabelService.h"

namespace qor::server {

using fennik::server::Uuid;

void BaseDevice::createFtLabel(Device* device) {
  auto labels = service<FtLabelService>();
  Driver* d = driver(device);
  if (!device || !labels || !d) return;
  FtLabel* label = createDeviceFeature(*labels, nullptr);
  labels->setBridgeMode(label, FtBridgeMode::INDIVIDUAL, false);
  device->setLabel(label);
  for (int i = 0; i < d->getChannelCount(); ++i) {
    FtLabel* channel = createChannelFeature(*labels, label, i, nullptr);
    labels->setBridgeMode(channel, FtBridgeMode::INDIVIDUAL, false);
  }
  connectFtLabel(device);
}

void BaseDevice::connectFtLabel(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  if (!d || !device->getLabel()) return;
  auto labels = service<FtLabelService>();
  const Uuid deviceId = device->id();
  Refresh<FtLabel> refresh = [labels](FtLabel& label, Driver& drv) {
    const int index = label.getIndex();
    labels->setName(&label, drv.getChannelName(index), true);
    labels->setShortName(&label, getChannelShortName(index, drv.getChannelShortNames(), label.getBridgeMode()), true);
    labels->setCustomName(&label, drv.getChannelCustomName(index), true);
    labels->setCustomNameRule(&label, StringValidatorRule::Unicode20Bytes, true);
  };
  onChangesOf<FtLabel>(
      device, device->getLabel()->childrens(), [this, deviceId](FtLabel& label, std::string_view key, bool external) {
        if (external || key != FtLabel::FIELD_CUSTOMNAME) return;
        const int index = label.getIndex();
        const std::string name = label.getCustomName();
        toDriver(deviceId, "setChannelCustomName", [&](Driver& drv) { drv.setChannelCustomName(index, name); });
      });
  for (FtLabel* channel : device->getLabel()->childrens()) {
    if (!channel) continue;
    refresh(*channel, *d);
    const int index = channel->getIndex();
    Uuid key{};
    key.data[14] = 0xC1;
    key.data[15] = static_cast<std::uint8_t>(index);
    reportInto<FtLabel>(
        device, channel,
        [index](Driver& drv, std::function<void()> notify) {
          return drv.onChannelCustomNameChanged(index, std::move(notify));
        },
        key, refresh);
  }
}

void BaseDevice::destroyFtLabel(Device* device) {
  destroySlot<FtLabelService>(device, &Device::getLabel, &Device::setLabel);
}

}  // namespace qor::server
