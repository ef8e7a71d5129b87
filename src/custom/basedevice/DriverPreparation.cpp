// A fresh driver for a device of an opened project: it starts with what the
// project stored for it and with the device's file fields, so the features'
// initial sync reads the design back.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/DriverConversions.h"
#include "custom/deviceplant/DevicePlant.h"

#include "qor/server/entities/FtDeviceInfo.h"
#include "qor/server/entities/FtGPIO.h"
#include "qor/server/entities/FtLabel.h"

#include "fennik/server/core/Logging.h"

namespace qor::server {

void BaseDevice::prepareDriver(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  if (!d) return;
  auto plant = service<DevicePlant>();
  const fennik::devices::DriverSettings* stored = plant ? plant->storedDriverSettings(device->id()) : nullptr;
  fennik::devices::DriverSettings settings = stored ? *stored : fennik::devices::readDriverSettings(*d);
  fileFieldsIntoSettings(device, settings);
  for (const auto& refused : fennik::devices::writeDriverSettings(settings, *d)) {
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)
        ->warn("Device {}: the new driver refused a stored value: {}", device->strId(), refused);
  }
}

void BaseDevice::fileFieldsIntoSettings(Device* device, fennik::devices::DriverSettings& settings) {
  if (!device) return;
  if (const FtDeviceInfo* info = device->getDeviceInfo()) {
    settings.name = info->getName();
    settings.deviceIntId = info->getDeviceIntId();
  }
  if (const FtLabel* label = device->getLabel()) {
    for (const FtLabel* channel : label->childrens()) {
      const int index = channel ? channel->getIndex() : -1;
      if (index >= 0 && static_cast<std::size_t>(index) < settings.channels.size())
        settings.channels[static_cast<std::size_t>(index)].customName = channel->getCustomName();
    }
  }
  if (const FtGPIO* gpio = device->getGpio()) {
    for (const FtGPIO* child : gpio->childrens()) {
      const int index = child ? child->getIndex() : -1;
      if (index < 0 || static_cast<std::size_t>(index) >= settings.gpios.size()) continue;
      auto& g = settings.gpios[static_cast<std::size_t>(index)];
      g.mode = gpioModeToDriver(child->getCurrentGpioMode());
      g.output = child->getGpoDigital();
    }
  }
}

}  // namespace qor::server
