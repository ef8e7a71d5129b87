// FtNetwork: sample rate, network mode and IP configuration to the driver;
// the ports' addresses and states come back.

#include "custom/basedevice/BaseDevice.h"
#include "custom/basedevice/DriverConversions.h"
#include "custom/basedevice/FeatureShapes.h"

#include "qor/server/entities/FtNetwork.h"
#include "qor/server/services/FtNetworkService.h"

namespace qor::server {

using fennik::devices::DriverSignal;
using fennik::devices::Port;
using fennik::server::Uuid;

void BaseDevice::createFtNetwork(Device* device) {
  auto networks = service<FtNetworkService>();
  if (!device || !networks) return;
  device->setNetwork(createDeviceFeature(*networks, device));
  connectFtNetwork(device);
}

void BaseDevice::updateFtNetworkByDriver(FtNetworkService* networks, FtNetwork* e, Driver* d) {
  if (!networks || !e || !d) return;
  networks->setIsSampleRateSupported(e, d->isSampleRateSupported(), true);
  networks->setIsSampleRateReadOnly(e, !d->isSampleRateSupported(), true);
  if (d->isSampleRateSupported()) networks->setSampleRate(e, sampleRateFromDriver(d->getSampleRate()), true);
  networks->setIsNetworkModeSupported(e, d->isNetworkModeSupported(), true);
  if (d->isNetworkModeSupported()) networks->setNetworkMode(e, networkModeFromDriver(d->getNetworkMode()), true);
  networks->setIpMode(e, ipModeFromDriver(d->getIpMode()), true);
}

void BaseDevice::connectFtNetwork(Device* device) {
  Driver* d = device ? driver(device) : nullptr;
  FtNetwork* network = device ? device->getNetwork() : nullptr;
  if (!d || !network) return;
  auto networks = service<FtNetworkService>();
  const Uuid deviceId = device->id();
  Refresh<FtNetwork> refresh = [this, networks](FtNetwork& e, Driver& drv) {
    updateFtNetworkByDriver(networks.get(), &e, &drv);
    updateEntityAddressesByDriver(networks.get(), &e, &drv);
  };
  refresh(*network, *d);
  const Uuid networkId = network->id();
  keep(device, network->onIpModeChanged([this, deviceId, networkId](const NetworkIPMode& mode, bool external) {
    if (external) return;
    FtNetwork* e = db()->get<FtNetwork>(networkId);
    if (!e) return;
    // No DNS server configured: the default gateway answers.
    const std::string dns =
        e->getConfiguredDNSServer().empty() ? e->getConfiguredDefaultGateway() : e->getConfiguredDNSServer();
    const std::string ip = e->getConfiguredIp();
    const std::string gateway = e->getConfiguredDefaultGateway();
    const int mask = e->getConfiguredSubnetMaskSize();
    toDriver(deviceId, "setIpConfiguration",
             [&](Driver& drv) { drv.setIpConfiguration(ipModeToDriver(mode), ip, gateway, dns, mask); });
  }));
  keep(device, network->onSampleRateChanged([this, deviceId](const SampleRate& rate, bool external) {
    if (external) return;
    toDriver(deviceId, "setSampleRate", [&](Driver& drv) { drv.setSampleRate(sampleRateToDriver(rate)); });
  }));
  keep(device, network->onNetworkModeChanged([this, deviceId](const NetworkMode& mode, bool external) {
    if (external) return;
    toDriver(deviceId, "setNetworkMode", [&](Driver& drv) { drv.setNetworkMode(networkModeToDriver(mode)); });
  }));
  reportInto<FtNetwork>(device, network, DriverSignal::Network, refresh);
  reportInto<FtNetwork>(device, network, DriverSignal::IpAddress, refresh);
}

void BaseDevice::writePortAddresses(FtNetworkService* networks, FtNetwork* e, Driver* d) {
  if (!networks || !e || !d) return;
  auto status = [&](Port port) {
    const auto state = d->getPortState(port);
    if (state.status.empty()) return state.status;
    return state.status + ", " + getLinkSpeedString(state.linkSpeedMbit);
  };
  auto primary = d->getPortState(Port::Primary);
  networks->setPrimaryIpAddress(e, primary.ipAddress, true);
  networks->setPrimaryMacAddress(e, primary.macAddress, true);
  networks->setPrimaryStatus(e, status(Port::Primary), true);
  auto secondary = d->getPortState(Port::Secondary);
  networks->setSecondaryIpAddress(e, secondary.ipAddress, true);
  networks->setSecondaryMacAddress(e, secondary.macAddress, true);
  networks->setSecondaryStatus(e, status(Port::Secondary), true);
  networks->setIsControlSupported(e, d->isPortSupported(Port::Control), true);
  auto control = d->getPortState(Port::Control);
  networks->setControlIpAddress(e, control.ipAddress, true);
  networks->setControlMacAddress(e, control.macAddress, true);
  networks->setControlStatus(e, status(Port::Control), true);
  networks->setIsPrimary2Supported(e, d->isPortSupported(Port::Primary2), true);
  auto primary2 = d->getPortState(Port::Primary2);
  networks->setPrimary2IpAddress(e, primary2.ipAddress, true);
  networks->setPrimary2MacAddress(e, primary2.macAddress, true);
  networks->setPrimary2Status(e, status(Port::Primary2), true);
  networks->setIsSecondary2Supported(e, d->isPortSupported(Port::Secondary2), true);
  auto secondary2 = d->getPortState(Port::Secondary2);
  networks->setSecondary2IpAddress(e, secondary2.ipAddress, true);
  networks->setSecondary2MacAddress(e, secondary2.macAddress, true);
  networks->setSecondary2Status(e, status(Port::Secondary2), true);
}

void BaseDevice::destroyFtNetwork(Device* device) {
  destroySlot<FtNetworkService>(device, &Device::getNetwork, &Device::setNetwork);
}

}  // namespace qor::server
