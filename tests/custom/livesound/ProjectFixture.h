#pragma once
// A new project with every live-sound service and the three simulated
// models (QA-4, QA-8, QM-16) registered with the device plant, on a manual
// simulated network; the loop and the clock are driven by hand.

#include "amplifiers/AmplifierModels.h"
#include "amplifiers/SimAmplifier.h"
#include "custom/VisualTreeService.h"
#include "custom/deviceplant/DevicePlant.h"
#include "custom/livesound/LivesoundService.h"
#include "matrices/MatrixModels.h"
#include "matrices/SimMatrix.h"
#include "model/GeneratedServices.h"
#include "module/HandWrittenServices.h"
#include "service/LayerService.h"
#include "service/SessionService.h"
#include "service/SessionWindowService.h"

#include "qor/server/entities/All.h"

#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/loop/Clock.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace qor::server::testing {

using namespace std::chrono_literals;

class ProjectFixture : public ::testing::Test {
 protected:
  ProjectFixture()
      : clock_(std::make_shared<fennik::server::ManualClock>()),
        context_(fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual, clock_)),
        network_(fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Manual)) {
    addGeneratedServices(context_);
    addHandWrittenServices(context_);
    addModel<devicetypes::Qa4Amplifier>(devicetypes::qa4Descriptor(), devicetypes::qa4Model());
    addModel<devicetypes::Qa8Amplifier>(devicetypes::qa8Descriptor(), devicetypes::qa8Model());
    addModel<devicetypes::Qm16Matrix>(devicetypes::qm16Descriptor(), devicetypes::qm16Model());
    service<DevicePlant>()->ensureDeviceTypes();
    context_->services()->forEach([](fennik::server::Service& s) { s.loaded(); });
  }
  ~ProjectFixture() override {
    context_->services()->clear();
    context_->db()->clear();
  }

  template <class S>
  std::shared_ptr<S> service() const {
    return context_->services()->get<S>();
  }
  template <class S>
  void addModel(DeviceDescriptor descriptor, fennik::devices::DeviceModel model) {
    network_->registerModel(model);
    auto s = std::make_shared<S>(context_->db(), context_->loop(), context_->services(), network_, descriptor, model);
    context_->services()->add<S>(s);
    service<DevicePlant>()->registerFactory(descriptor.id, s.get());
  }

  // Lets `total` pass on the network and the loop's clock, 10 ms at a time.
  void run(std::chrono::milliseconds total) {
    for (auto t = 0ms; t < total; t += 10ms) {
      network_->advance(10ms);
      clock_->advance(10ms);
      context_->loop()->runUntilIdle();
    }
  }

  fennik::server::Database& db() const { return *context_->db(); }
  LivesoundService& livesound() const { return *service<LivesoundService>(); }
  VisualTreeService& tree() const { return *service<VisualTreeService>(); }
  std::vector<VisualItem*> selection() const { return service<SessionWindowService>()->selectedItems(); }
  LivesoundProject* project() const { return db().all<LivesoundProject>().front(); }

  DeviceType* qa8() const { return db().get<DeviceType>(devicetypes::qa8Descriptor().id); }
  DeviceType* qa4() const { return db().get<DeviceType>(devicetypes::qa4Descriptor().id); }
  DeviceType* qm16() const { return db().get<DeviceType>(devicetypes::qm16Descriptor().id); }

  static std::string nameOf(const Device* d) { return d->getDeviceInfo()->getName(); }

  std::shared_ptr<fennik::server::ManualClock> clock_;
  std::shared_ptr<fennik::server::EntityContext> context_;
  std::shared_ptr<fennik::devices::SimulatedNetwork> network_;
};

}  // namespace qor::server::testing
