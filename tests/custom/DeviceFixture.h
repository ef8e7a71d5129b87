#pragma once
// A hand-driven live-sound context with the device plant, the timer service
// and the three simulated models registered, on a manual simulated network.
// run() lets simulated time pass on the network and the loop's clock in
// small steps, running the loop in between, so drivers and the loop talk
// as they would in the server, only deterministically.

#include "amplifiers/AmplifierModels.h"
#include "amplifiers/SimAmplifier.h"
#include "custom/deviceplant/DevicePlant.h"
#include "custom/deviceplant/MatrixService.h"
#include "matrices/MatrixModels.h"
#include "matrices/SimMatrix.h"
#include "model/GeneratedServices.h"

#include "qor/server/entities/All.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtAmplifierGainService.h"
#include "qor/server/services/FtAudioService.h"
#include "qor/server/services/FtDelayService.h"
#include "qor/server/services/FtDeviceInfoService.h"
#include "qor/server/services/FtEqFilterService.h"
#include "qor/server/services/FtGPIOService.h"
#include "qor/server/services/FtLabelService.h"
#include "qor/server/services/FtOnlineService.h"
#include "qor/server/services/FtSignalGeneratorService.h"
#include "qor/server/services/FtSpeakerSettingService.h"
#include "qor/server/services/VisualItemService.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/loop/Clock.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/TimerService.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/ringbuffer_sink.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace qor::server::testing {

using namespace std::chrono_literals;
using devicetypes::Qa4Amplifier;
using devicetypes::Qa8Amplifier;
using devicetypes::Qm16Matrix;
using fennik::devices::SimulatedNetwork;

// Collects what the module logs, to check the messages users rely on.
class LogCapture {
 public:
  LogCapture() : sink_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(256)) {
    fennik::server::getLogger(fennik::server::MODULE_LOGGER)->sinks().push_back(sink_);
  }
  ~LogCapture() {
    auto& sinks = fennik::server::getLogger(fennik::server::MODULE_LOGGER)->sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
  }
  int count(const std::string& text) const {
    int n = 0;
    for (const auto& line : sink_->last_formatted()) n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
  }

 private:
  std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_;
};

class DeviceFixture : public ::testing::Test {
 protected:
  DeviceFixture()
      : clock_(std::make_shared<fennik::server::ManualClock>()),
        context_(fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual, clock_)),
        network_(SimulatedNetwork::create(SimulatedNetwork::Mode::Manual)) {
    addGeneratedServices(context_);
    add<fennik::server::TimerService>();
    plant_ = add<DevicePlant>();
    add<MatrixService>();
    qa4_ = addModel<Qa4Amplifier>(devicetypes::qa4Descriptor(), devicetypes::qa4Model());
    qa8_ = addModel<Qa8Amplifier>(devicetypes::qa8Descriptor(), devicetypes::qa8Model());
    qm16_ = addModel<Qm16Matrix>(devicetypes::qm16Descriptor(), devicetypes::qm16Model());
    plant_->ensureDeviceTypes();
  }
  ~DeviceFixture() override {
    context_->services()->clear();
    context_->db()->clear();
  }

  template <class S>
  std::shared_ptr<S> add() {
    auto s = std::make_shared<S>(context_->db(), context_->loop(), context_->services());
    context_->services()->add<S>(s);
    return s;
  }
  template <class S>
  std::shared_ptr<S> addModel(DeviceDescriptor descriptor, fennik::devices::DeviceModel model) {
    network_->registerModel(model);
    auto s = std::make_shared<S>(context_->db(), context_->loop(), context_->services(), network_, descriptor, model);
    context_->services()->add<S>(s);
    plant_->registerFactory(descriptor.id, s.get());
    return s;
  }
  template <class S>
  std::shared_ptr<S> service() const {
    return context_->services()->get<S>();
  }

  DeviceType* type(const char* id) const { return db().get<DeviceType>(fennik::server::UuidFromS(id)); }
  Device* createDevice(const char* typeId) { return plant_->create(type(typeId), fennik::server::random_uuid()); }

  // Lets `total` pass on the network and the loop's clock, 10 ms at a time.
  void run(std::chrono::milliseconds total) {
    for (auto t = 0ms; t < total; t += 10ms) {
      network_->advance(10ms);
      clock_->advance(10ms);
      context_->loop()->runUntilIdle();
    }
    context_->loop()->runUntilIdle();
  }

  // Puts a simulated device on the network and takes the project device online.
  std::string bringOnline(Device* device, FtOnlineState state = FtOnlineState::ONLINE_READING) {
    const std::string id = network_->addDevice(device->getType()->getModel());
    service<DeviceService>()->setDeviceId(device, id, false);
    service<FtOnlineService>()->setSupposedState(device->getOnline(), state, false);
    run(1000ms);
    return id;
  }

  fennik::server::Database& db() const { return *context_->db(); }

  std::shared_ptr<fennik::server::ManualClock> clock_;
  std::shared_ptr<fennik::server::EntityContext> context_;
  std::shared_ptr<SimulatedNetwork> network_;
  std::shared_ptr<DevicePlant> plant_;
  std::shared_ptr<Qa4Amplifier> qa4_;
  std::shared_ptr<Qa8Amplifier> qa8_;
  std::shared_ptr<Qm16Matrix> qm16_;
};

}  // namespace qor::server::testing
