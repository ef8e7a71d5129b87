// Device discovery of a large network: how long until 500 simulated devices
// are listed as DiscoveredDevice entities, and how busy the event loop is
// while all 500 change their names once a second. The network and the loop
// run on their own threads, as in qorserver.
//
// Run: build/default/bin/discovery_bench

#include "qor/devicediscovery/DeviceDiscovery.h"
#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/devicediscovery/SimulatedDiscoverySource.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/service/EntityContext.h"

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using fennik::devices::SimulatedNetwork;
using fennik::server::EntityContext;
using qor::server::DiscoveredDevice;

constexpr int DEVICES = 500;

struct Network {
  std::shared_ptr<EntityContext> context = EntityContext::create(fennik::server::JobLoop::Mode::Threaded);
  std::shared_ptr<SimulatedNetwork> network = SimulatedNetwork::create(SimulatedNetwork::Mode::Threaded);
  std::vector<std::string> ids;
  std::mutex mutex;
  std::condition_variable listed;
  std::size_t count = 0;
  boost::signals2::scoped_connection added;

  Network() {
    fennik::devices::DeviceModel model;
    model.model = "QA4";
    network->registerModel(model);
    for (int i = 0; i < DEVICES; ++i) ids.push_back(network->addDevice("QA4"));
    context->jobs()->start();
    context->loop()->work([this](const std::shared_ptr<EntityContext>& c) {
      added = c->db()->onAdded(DiscoveredDevice::CLASS_NAME, [this](fennik::server::Entity*) {
        std::lock_guard lock(mutex);
        ++count;
        listed.notify_all();
      });
    });
    network->start();
  }
  ~Network() {
    qor::server::removeDeviceDiscovery(context);
    network->stop();
    context->loop()->work([](const std::shared_ptr<EntityContext>& c) { c->db()->clear(); });
    context->jobs()->stop();
  }

  // From the start of discovery until every device is listed.
  std::chrono::duration<double> discover() {
    const auto start = std::chrono::steady_clock::now();
    qor::server::addDeviceDiscovery(context, std::make_shared<qor::server::SimulatedDiscoverySource>(network));
    std::unique_lock lock(mutex);
    listed.wait(lock, [this] { return count >= static_cast<std::size_t>(DEVICES); });
    return std::chrono::steady_clock::now() - start;
  }

  // CPU time the loop thread has used so far.
  std::chrono::nanoseconds loopCpu() {
    clockid_t clock{};
    context->loop()->work(
        [&](const std::shared_ptr<EntityContext>&) { pthread_getcpuclockid(pthread_self(), &clock); });
    timespec ts{};
    clock_gettime(clock, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
  }
};

void BM_DiscoverFiveHundredDevices(benchmark::State& state) {
  for (auto _ : state) {
    Network net;
    const auto took = net.discover();
    state.SetIterationTime(took.count());
  }
  state.counters["devices"] = DEVICES;
}
BENCHMARK(BM_DiscoverFiveHundredDevices)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Every second all 500 devices are renamed at the device; the discovered
// devices follow. Reports the loop thread's CPU time over the wall time.
void BM_LoopBusyWhileFiveHundredDevicesRename(benchmark::State& state) {
  Network net;
  net.discover();
  constexpr int seconds = 5;
  double busy = 0.0;
  for (auto _ : state) {
    const auto cpuBefore = net.loopCpu();
    const auto start = std::chrono::steady_clock::now();
    for (int s = 0; s < seconds; ++s) {
      for (std::size_t i = 0; i < net.ids.size(); ++i)
        net.network->renameDevice(net.ids[i], "Device " + std::to_string(i) + " / " + std::to_string(s));
      std::this_thread::sleep_until(start + std::chrono::seconds(s + 1));
    }
    const auto wall = std::chrono::steady_clock::now() - start;
    busy =
        std::chrono::duration<double>(net.loopCpu() - cpuBefore).count() / std::chrono::duration<double>(wall).count();
    state.SetIterationTime(std::chrono::duration<double>(wall).count());
  }
  // The discovered devices did follow: the share that shows its last name.
  std::size_t following = 0;
  const std::string lastSuffix = " / " + std::to_string(seconds - 1);
  net.context->loop()->work([&](const std::shared_ptr<EntityContext>& c) {
    for (auto* d : c->db()->all<DiscoveredDevice>()) following += d->getName().ends_with(lastSuffix) ? 1 : 0;
  });
  state.counters["following_percent"] = 100.0 * static_cast<double>(following) / DEVICES;
  state.counters["loop_busy_percent"] = busy * 100.0;
  state.counters["renames_per_second"] = DEVICES;
}
BENCHMARK(BM_LoopBusyWhileFiveHundredDevicesRename)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
