#pragma once
// A real server with the three simulated models on a simulated device network
// that runs on its own thread, the way a venue's network answers on its own
// time: device discovery lists what the network offers, and one client is
// connected.

#include "ServerFixture.h"
#include "SimulatedModels.h"

#include "qor/devicediscovery/DeviceDiscovery.h"
#include "qor/devicediscovery/SimulatedDiscoverySource.h"

#include "fennik/devices/SimulatedNetwork.h"

#include <memory>

namespace qor::testing {

class NetworkServerFixture : public ServerFixture {
 protected:
  NetworkServerFixture() = default;
  // A server whose loop timers follow the given clock.
  explicit NetworkServerFixture(std::shared_ptr<Clock> clock) : ServerFixture(std::move(clock)) {}

  std::shared_ptr<fennik::devices::SimulatedNetwork> network =
      fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Threaded);
  net::KspClient client;

  void SetUp() override {
    ServerFixture::SetUp();
    onLoop([&](EntityContext& c) { addSimulatedModels(c, network); });
    network->start();
    qor::server::addDeviceDiscovery(context, std::make_shared<qor::server::SimulatedDiscoverySource>(network));
    connect(client);
  }
  void TearDown() override {
    qor::server::removeDeviceDiscovery(context);
    onLoop([](EntityContext& c) { removeSimulatedModels(c); });
    network->stop();
    ServerFixture::TearDown();
  }
};

}  // namespace qor::testing
