#pragma once
// A real server with the three simulated models and a new project that knows
// them, and one connected client that calls livesound commands.

#include "ServerFixture.h"
#include "SimulatedModels.h"

#include "custom/livesound/LivesoundController.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"

#include "fennik/devices/SimulatedNetwork.h"

#include <memory>
#include <optional>
#include <string>

namespace qor::testing {

class ModelServerFixture : public ServerFixture {
 protected:
  std::shared_ptr<fennik::devices::SimulatedNetwork> network =
      fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Manual);
  net::KspClient client;

  void SetUp() override {
    ServerFixture::SetUp();
    onLoop([&](EntityContext& c) { addSimulatedModels(c, network); });
    connect(client);
  }
  void TearDown() override {
    onLoop([](EntityContext& c) { removeSimulatedModels(c); });
    ServerFixture::TearDown();
  }

  // A livesound command; no payload for a command without arguments.
  std::optional<net::Message> call(const std::string& path, KspBytes payload = {}) {
    return client.call(qor::server::LivesoundController::ROUTE, KspMethod::Custom, path, {}, std::move(payload));
  }
  // "/deviceAdd" at (0, 0). No ForceDefaults: x and y are optional scalars,
  // written because they are set.
  std::optional<net::Message> deviceAdd(const std::string& kind, const std::string& id, int count) {
    return call("/deviceAdd", table([&](flatbuffers::FlatBufferBuilder& b) {
                  return qor::server::fbs::cmd::CreateDeviceAddArgs(b, 0, 0, count, b.CreateString(kind),
                                                                    b.CreateString(id));
                }));
  }
};

}  // namespace qor::testing
