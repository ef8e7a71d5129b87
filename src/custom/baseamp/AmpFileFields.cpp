// The amplifier's stored values that a fresh driver takes besides those of
// every device: the failover configuration.

#include "custom/baseamp/BaseAmplifier.h"
#include "custom/basedevice/DriverConversions.h"

#include "qor/server/entities/FtFailoverConfig.h"

namespace qor::server {

void BaseAmplifier::fileFieldsIntoSettings(Device* device, fennik::devices::DriverSettings& settings) {
  BaseDevice::fileFieldsIntoSettings(device, settings);
  const FtFailoverConfig* config = device ? device->getFailoverConfig() : nullptr;
  if (!config || !settings.failover) return;
  settings.failover->failoverTime = config->getFailoverTime();
  settings.failover->fallbackTime = config->getFallbackTime();
  settings.failover->type = failoverTypeToDriver(config->getSelectedType());
}

}  // namespace qor::server
