// FtGPIO: only for drivers with GPIOs; mode and digital output both ways.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/DriverConversions.h"
#include "custom/basedevice/FeatureShapes.h"

#include "qor/server/entities/FtGPIO.h"
#include "qor/server/entities/FtLabel.h"
#include "qor/server/services/FtGPIOService.h"
#include "qor/server/services/FtLabelService.h"

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseDevice::createFtGPIO(Device* device) {
  auto gpios = service<FtGPIOService>();
  auto labels = service<FtLabelService>();
  Driver* d = device ? driver(device) : nullptr;
  if (!gpios || !labels || !d || d->getGpioCount() <= 0) return;
  FtGPIO* parent = createDeviceFeature(*gpios, device);
  gpios->setIsReactingOnRealAmpChannel(parent, true, false);
  for (int i = 0; i < d->getGpioCount(); ++i) {
    FtLabel* label = createChannelFeature(*labels, static_cast<FtLabel*>(nullptr), i, nullptr);
    labels->setShortName(label, "GPIO " + std::to_string(i + 1), false);
    FtGPIO* child = createChannelFeature(*gpios, parent, i, label);
    gpios->setCurrentGpioMode(child, FtGPIOMode::ANALOG_IN, false);
    gpios->setGpoDigital(child, false, false);
    gpios->setIsReactingOnRealAmpChannel(child, true, false);
  }
  device->setGpio(parent);
  connectFtGPIO(device);
}

void BaseDevice::connectFtGPIO(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtGPIO* parent = device ? device->getGpio() : nullptr;
  if (!d || !parent) return;
  auto gpios = service<FtGPIOService>();
  const Uuid deviceId = device->id();
  Refresh<FtGPIO> refresh = [gpios](FtGPIO& e, Driver& drv) {
    for (FtGPIO* child : e.childrens()) {
      if (!child) continue;
      gpios->setCurrentGpioMode(child, gpioModeFromDriver(drv.getGpioMode(child->getIndex())), true);
      gpios->setGpoDigital(child, drv.getGpoDigital(child->getIndex()), true);
    }
  };
  refresh(*parent, *d);
  onChangesOf<FtGPIO>(device, parent->childrens(), [this, deviceId](FtGPIO& e, std::string_view key, bool external) {
    if (external) return;
    const int index = e.getIndex();
    if (key == FtGPIO::FIELD_CURRENTGPIOMODE) {
      const int mode = gpioModeToDriver(e.getCurrentGpioMode());
      toDriver(deviceId, "setGpioMode", [&](Driver& drv) { drv.setGpioMode(index, mode); });
    } else if (key == FtGPIO::FIELD_GPODIGITAL) {
      const bool on = e.getGpoDigital();
      toDriver(deviceId, "setGpoDigital", [&](Driver& drv) { drv.setGpoDigital(index, on); });
    }
  });
  reportInto<FtGPIO>(device, parent, DriverSignal::Gpio, refresh);
}

void BaseDevice::destroyFtGPIO(Device* device) {
  FtGPIO* parent = device ? device->getGpio() : nullptr;
  if (!parent) return;
  device->setGpio(nullptr);
  // Each GPIO has a label of its own, owned by nobody else.
  if (auto labels = service<FtLabelService>()) {
    for (FtGPIO* child : parent->childrens()) {
      if (child && child->getLabel()) labels->destroy(child->getLabel());
    }
  }
  if (auto gpios = service<FtGPIOService>()) gpios->destroy(parent);
}

}  // namespace qor::server
