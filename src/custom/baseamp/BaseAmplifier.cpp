#include "custom/baseamp/BaseAmplifier.h"

#include "qor/server/entities/FtNetwork.h"
#include "qor/server/entities/FtOnline.h"
#include "qor/server/entities/FtPower.h"
#include "qor/server/services/FtNetworkService.h"
#include "qor/server/services/FtOnlineService.h"

namespace qor::server {

using fennik::server::Uuid;

void BaseAmplifier::createAllFeatures(Device* device) {
  BaseDevice::createAllFeatures(device);
  createFtAmplifierMode(device);
  createFtSignalGenerator(device);
  createFtInputSource(device);
  createFtInputRouting(device);
  createFtFailoverConfig(device);
  createFtSupermeter(device);
  createFtDelays(device);
  createFtEqFilterBanks(device);
  createFtAmplifierDriveMode(device);
  createFtAmplifierGain(device);
  createFtLoad(device);
}

void BaseAmplifier::connectAllFeatures(Device* device) {
  BaseDevice::connectAllFeatures(device);
  connectFtAmplifierMode(device);
  connectFtSignalGenerator(device);
  connectFtInputSource(device);
  connectFtInputRouting(device);
  connectFtFailoverConfig(device);
  connectFtSupermeter(device);
  connectFtDelays(device);
  connectFtEqFilterBanks(device);
  connectFtAmplifierDriveMode(device);
  connectFtAmplifierGain(device);
  // Online once more, now that every channel feature exists. Wiring it a
  // second time would double each connection, so this pass only re-reads.
  if (Driver* d = device ? driver(device) : nullptr) {
    updateFtOnlineByDriver(service<FtOnlineService>().get(), device->getOnline(), d);
  }
  connectFtLoad(device);
}

void BaseAmplifier::destroyAllFeatures(Device* device) {
  BaseDevice::destroyAllFeatures(device);
  destroyFtEqFilterBanks(device);
  destroyFtDelays(device);
  destroyFtSupermeter(device);
  destroyFtInputRouting(device);
  destroyFtFailoverConfig(device);
  destroyFtInputSource(device);
  destroyFtSignalGenerator(device);
  destroyFtAmplifierMode(device);
  destroyFtAmplifierDriveMode(device);
  destroyFtAmplifierGain(device);
  destroyFtLoad(device);
}

void BaseAmplifier::createFtGPIO(Device* device) { BaseDevice::createFtGPIO(device); }

void BaseAmplifier::connectFtPower(Device* device) {
  BaseDevice::connectFtPower(device);
  FtPower* power = device ? device->getPower() : nullptr;
  if (!power || !driver(device)) return;
  const Uuid deviceId = device->id();
  keep(device, power->onDelayInSecChanged([this, deviceId](const double& seconds, bool external) {
    if (external) return;
    toDriver(deviceId, "setPowerOnDelay", [&](Driver& drv) { drv.setPowerOnDelay(seconds); });
  }));
  keep(device, power->onBreakerInAmperesChanged([this, deviceId](const double& amperes, bool external) {
    if (external) return;
    toDriver(deviceId, "setBreakerCurrent", [&](Driver& drv) { drv.setBreakerCurrent(amperes); });
  }));
}

void BaseAmplifier::connectFtOnline(Device* device) {
  BaseDevice::connectFtOnline(device);
  reportOnlineAddresses(device);
}

void BaseAmplifier::updateFtOnlineByDriver(FtOnlineService* service, FtOnline* online, Driver* d) {
  writeOnlineFromDriver(service, online, d, true);
}

void BaseAmplifier::updateEntityAddressesByDriver(FtNetworkService* networks, FtNetwork* e, Driver* d) {
  writePortAddresses(networks, e, d);
}

}  // namespace qor::server
