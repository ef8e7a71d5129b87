// The discovered-device list hides the network devices that the project
// already uses, recomputed at most once a second on the loop's clock.

#include "custom/discovery/LivesoundDiscoveredDeviceService.h"
#include "model/GeneratedServices.h"

#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/devicediscovery/DiscoveredDeviceService.h"
#include "qor/server/entities/Device.h"
#include "qor/server/services/DeviceService.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/loop/Clock.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/TimerService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

namespace qor::server {
namespace {

using namespace std::chrono_literals;
using fennik::server::EntityContext;

class LivesoundDiscoveredDeviceServiceTest : public ::testing::Test {
 protected:
  LivesoundDiscoveredDeviceServiceTest()
      : clock_(std::make_shared<fennik::server::ManualClock>()),
        context_(EntityContext::create(fennik::server::JobLoop::Mode::Manual, clock_)) {
    addGeneratedServices(context_);
    add<fennik::server::TimerService>();
    add<DiscoveredDeviceService>();
    list_ = add<LivesoundDiscoveredDeviceService>();
  }
  ~LivesoundDiscoveredDeviceServiceTest() override {
    list_->unload();
    context_->services()->clear();
    context_->db()->clear();
  }

  template <class S>
  std::shared_ptr<S> add() {
    auto s = std::make_shared<S>(context_->db(), context_->loop(), context_->services());
    context_->services()->add<S>(s);
    return s;
  }

  // A device on the network; every recomputation announces its visibility.
  DiscoveredDevice* discover(const std::string& physicalId) {
    auto dd = DiscoveredDevice::createDefaultInitialized(DiscoveredDevice::idFor(physicalId));
    dd->setPhysicalDeviceId(physicalId, false);
    DiscoveredDevice* raw = dd.get();
    watches_.emplace_back(raw->onChanged([this, physicalId](fennik::server::Entity*, std::string_view key, bool) {
      if (key == DiscoveredDevice::FIELD_VISIBLE) ++announced_[physicalId];
    }));
    context_->db()->add(std::move(dd));
    return raw;
  }
  Device* projectDevice(const std::string& deviceId) {
    auto devices = context_->services()->get<DeviceService>();
    Device* device = devices->create();
    devices->setDeviceId(device, deviceId, false);
    return device;
  }
  void pass(std::chrono::milliseconds total) {
    for (auto t = 0ms; t < total; t += 100ms) {
      clock_->advance(100ms);
      context_->loop()->runUntilIdle();
    }
  }

  std::shared_ptr<fennik::server::ManualClock> clock_;
  std::shared_ptr<EntityContext> context_;
  std::shared_ptr<LivesoundDiscoveredDeviceService> list_;
  std::map<std::string, int> announced_;
  std::vector<boost::signals2::scoped_connection> watches_;
};

TEST_F(LivesoundDiscoveredDeviceServiceTest, SeveralChangesWithinASecondGiveOneRecomputation) {
  list_->loaded();
  DiscoveredDevice* a = discover("amp-1");
  DiscoveredDevice* b = discover("amp-2");
  projectDevice("amp-2");
  list_->flagDirty();
  pass(900ms);
  EXPECT_EQ(announced_["amp-1"], 0);  // nothing before the tick
  pass(100ms);
  EXPECT_EQ(announced_["amp-1"], 1);
  EXPECT_EQ(announced_["amp-2"], 1);
  EXPECT_TRUE(a->getVisible());
  EXPECT_FALSE(b->getVisible());  // the project uses it

  // Nothing changed: the following seconds recompute nothing.
  pass(3s);
  EXPECT_EQ(announced_["amp-1"], 1);

  // The mapping goes away (a mapping cleared): visible again on the next tick.
  auto devices = context_->services()->get<DeviceService>();
  for (Device* d : devices->all()) devices->setDeviceId(d, "", false);
  list_->flagDirty();
  list_->flagDirty();
  discover("amp-3");
  pass(1s);
  EXPECT_TRUE(b->getVisible());
  EXPECT_EQ(announced_["amp-2"], 2);
  EXPECT_EQ(announced_["amp-3"], 1);
}

TEST_F(LivesoundDiscoveredDeviceServiceTest, ALetterCaseDifferenceDoesNotHideADevice) {
  list_->loaded();
  DiscoveredDevice* upper = discover("AMP-1");
  DiscoveredDevice* exact = discover("amp-2");
  projectDevice("amp-1");
  projectDevice("amp-2");
  list_->flagDirty();
  pass(1s);
  EXPECT_TRUE(upper->getVisible());
  EXPECT_FALSE(exact->getVisible());
}

TEST_F(LivesoundDiscoveredDeviceServiceTest, ARemovedDiscoveredDeviceMarksTheListDirty) {
  list_->loaded();
  discover("amp-1");
  DiscoveredDevice* gone = discover("amp-2");
  pass(1s);
  EXPECT_EQ(announced_["amp-1"], 1);
  context_->db()->deleteEntity(gone);
  pass(1s);
  EXPECT_EQ(announced_["amp-1"], 2);
}

TEST_F(LivesoundDiscoveredDeviceServiceTest, NothingIsRecomputedBeforeLoadedOrAfterUnload) {
  discover("amp-1");
  list_->flagDirty();
  pass(2s);
  EXPECT_EQ(announced_["amp-1"], 0);  // no project yet

  list_->loaded();  // the first tick runs at once, and the list was dirty
  EXPECT_EQ(announced_["amp-1"], 1);
  list_->unload();
  discover("amp-2");
  list_->flagDirty();
  pass(5s);
  EXPECT_EQ(announced_["amp-1"], 1);
  EXPECT_EQ(announced_["amp-2"], 0);

  // Loaded again (the next project): it works as before.
  list_->loaded();
  pass(1s);
  EXPECT_EQ(announced_["amp-2"], 1);
}

TEST_F(LivesoundDiscoveredDeviceServiceTest, LoadedTwiceRunsOneTimerThatUnloadStops) {
  discover("amp-1");
  list_->loaded();
  list_->loaded();
  list_->flagDirty();
  pass(1s);
  EXPECT_EQ(announced_["amp-1"], 1);
  // A second timer left running would recompute after the unload.
  list_->unload();
  list_->flagDirty();
  pass(3s);
  EXPECT_EQ(announced_["amp-1"], 1);
}

}  // namespace
}  // namespace qor::server
