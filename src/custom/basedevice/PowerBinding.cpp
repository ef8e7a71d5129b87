// FtPower: power on/off to the driver; the driver's power state, power-on
// delay and breaker current with their ranges come back.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/FeatureShapes.h"

#include "qor/server/entities/FtPower.h"
#include "qor/server/services/FtPowerService.h"

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::server::Uuid;

void BaseDevice::createFtPower(Device* device) {
  auto powers = service<FtPowerService>();
  if (!device || !powers) return;
  FtPower* power = createDeviceFeature(*powers, device);
  powers->setIsReactingOnRealAmpChannel(power, true, false);
  device->setPower(power);
  connectFtPower(device);
}

void BaseDevice::connectFtPower(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtPower* power = device ? device->getPower() : nullptr;
  if (!d || !power) return;
  auto powers = service<FtPowerService>();
  const Uuid deviceId = device->id();
  Refresh<FtPower> refresh = [powers](FtPower& e, Driver& drv) {
    powers->setPowerSupported(&e, drv.isPowerSupported(), true);
    powers->setPower(&e, drv.getPower(), true);
    powers->setEcoSupported(&e, drv.isEcoSupported(), true);
    powers->setDelayInSecSupported(&e, drv.isPowerOnDelaySupported(), true);
    powers->setDelayInSec(&e, drv.getPowerOnDelay(), true);
    const auto delay = drv.getPowerOnDelayRange();
    powers->setDelayInSecMax(&e, delay.maximum, true);
    powers->setDelayInSecMin(&e, delay.minimum, true);
    powers->setBreakerInAmperesSupported(&e, drv.isBreakerSupported(), true);
    powers->setBreakerInAmperes(&e, drv.getBreakerCurrent(), true);
    const auto breaker = drv.getBreakerRange();
    powers->setBreakerInAmperesMax(&e, breaker.maximum, true);
    powers->setBreakerInAmperesMin(&e, breaker.minimum, true);
  };
  refresh(*power, *d);
  keep(device, power->onPowerChanged([this, deviceId](const bool& on, bool external) {
    if (external) return;
    toDriver(deviceId, "setPower", [&](Driver& drv) { drv.setPower(on); });
  }));
  reportInto<FtPower>(device, power, DriverSignal::Power, refresh);
}

void BaseDevice::destroyFtPower(Device* device) {
  destroySlot<FtPowerService>(device, &Device::getPower, &Device::setPower);
}

}  // namespace qor::server
