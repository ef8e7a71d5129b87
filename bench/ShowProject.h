#pragma once
// A show-size system for the benchmarks: a thousand eight-channel amplifiers
// made by the device plant on the simulated network, in hangs (device
// groups) of fifty, each amplifier and hang with its visual item on the
// canvas, the hangs spread over four layers. Everything is built through the
// plant and the services, as a user's commands build it.

#include "amplifiers/AmplifierModels.h"
#include "amplifiers/SimAmplifier.h"
#include "custom/deviceplant/DevicePlant.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/project/ProjectManager.h"
#include "fennik/server/service/EntityContext.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

namespace qor::bench {

struct ShowShape {
  int amplifiers = 1000;
  int amplifiersPerHang = 50;
  int layers = 4;
};

// On the loop: builds the show into the running project with the context's
// device plant (the QA-8 factory registered), appending what it made.
void buildShow(const std::shared_ptr<fennik::server::EntityContext>& context, const ShowShape& shape,
               std::vector<qor::server::Device*>& amplifiers, std::vector<qor::server::Device*>& hangs);

// Gives every amplifier a device on the network, takes it online and
// switches its signal generators on (in one loop job; a threaded network
// then brings them online in real time).
void takeOnline(fennik::server::EntityContext& context, fennik::devices::SimulatedNetwork& network,
                const std::vector<qor::server::Device*>& amplifiers);

// takeOnline (signal generators on, so every meter moves) on a hand-driven
// network, then lets the network and the loop settle for a second of
// simulated time.
void bringOnline(fennik::server::EntityContext& context, fennik::devices::SimulatedNetwork& network,
                 const std::vector<qor::server::Device*>& amplifiers);

// Times the loop's work of one 100 ms meter period per iteration (the
// network's advance is not timed) and counts the jobs per period.
void timeMeterPeriods(benchmark::State& state, fennik::server::EntityContext& context,
                      fennik::devices::SimulatedNetwork& network);

// The host's services, serializers and migrations, the device plant with
// the QA-8 model on a hand-driven simulated network, and a new project.
class ShowRig {
 public:
  ShowRig();
  ~ShowRig();

  // Builds the show into the running project.
  void build(const ShowShape& shape = {});
  void bringOnline() { qor::bench::bringOnline(*context, *network, amplifiers); }

  std::shared_ptr<fennik::server::EntityContext> context;
  std::shared_ptr<fennik::devices::SimulatedNetwork> network;
  std::shared_ptr<qor::server::DevicePlant> plant;
  std::shared_ptr<qor::devicetypes::Qa8Amplifier> amps;
  std::unique_ptr<fennik::server::ProjectManager> project;
  std::vector<qor::server::Device*> amplifiers;
  std::vector<qor::server::Device*> hangs;
};

}  // namespace qor::bench
