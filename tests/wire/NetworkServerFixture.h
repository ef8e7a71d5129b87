#pragma once
// A real server with the three simulated models on a simulated device network
// that runs on its own thread, the way a venue's network answers on its own
// time: device discovery lists what the network offers, and one client is
// connected. Tests wait for what other threads do, never for a fixed time.

#include "ServerFixture.h"
#include "SimulatedModels.h"

#include "qor/devicediscovery/DeviceDiscovery.h"
#include "qor/devicediscovery/SimulatedDiscoverySource.h"

#include "fennik/devices/SimulatedNetwork.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace qor::testing {

class NetworkServerFixture : public ServerFixture {
 protected:
  using Clock = std::chrono::steady_clock;

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

  // Waits (at most 10 s) until the condition, checked on the test's thread,
  // holds; how long it took.
  std::optional<Clock::duration> waitFor(const std::function<bool()>& condition) {
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(10)) {
      if (condition()) return Clock::now() - start;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }
  // The same for a condition on the model, checked on the loop.
  std::optional<Clock::duration> waitOnLoop(const std::function<bool()>& condition) {
    return waitFor([&] { return read<bool>(condition); });
  }
};

}  // namespace qor::testing
