// Going online with the devices found on the network, over a real
// connection: a client adds every discovered device, the list hides the
// mapped ones, going online reading brings the devices' own values in, and
// clearing a mapping lists the device again.

#include "NetworkServerFixture.h"

#include "custom/livesound/LivesoundController.h"
#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/FtOnline_generated.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "service/SessionService.h"

#include "fennik/devices/SimulatedNetwork.h"

#include <map>
#include <string>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
using qor::server::Device;
using qor::server::DiscoveredDevice;
constexpr const char* ROUTE = qor::server::LivesoundController::ROUTE;

class GoingOnlineWireTest : public NetworkServerFixture {
 protected:
  std::map<std::string, DiscoveredDevice*> listed() {
    std::map<std::string, DiscoveredDevice*> byId;
    for (auto* d : context->db()->all<DiscoveredDevice>()) byId[d->getPhysicalDeviceId()] = d;
    return byId;
  }
  Device* deviceMappedTo(const std::string& physicalId) {
    for (Device* d : context->db()->all<Device>()) {
      if (d->getDeviceId() == physicalId) return d;
    }
    return nullptr;
  }
};

TEST_F(GoingOnlineWireTest, AddAllMapsEveryDeviceGoesOnlineAndAClearedMappingIsListedAgain) {
  const std::vector<std::string> ids{network->addDevice("QA-8", "qa8-a"), network->addDevice("QA-4", "qa4-b"),
                                     network->addDevice("QM-16", "qm16-c")};
  ASSERT_TRUE(waitOnLoop([&] { return listed().size() == 3; }));

  auto added =
      client.call(ROUTE, KspMethod::Custom, "/discoveredDeviceAddAll", {}, table([](flatbuffers::FlatBufferBuilder& b) {
                    b.ForceDefaults(true);
                    return cmd::CreateDiscoveredDeviceAddAllArgs(
                        b, b.CreateString(qor::server::SessionService::MASTER_ROOT_ID), 0, 0);
                  }));
  ASSERT_EQ(status(added), 200);
  for (const auto& id : ids) EXPECT_NE(read<Device*>([&] { return deviceMappedTo(id); }), nullptr) << id;

  // The list hides what the project has, on its next tick.
  const auto hidden = waitOnLoop([&] {
    for (auto& [id, d] : listed()) {
      if (d->getVisible()) return false;
    }
    return true;
  });
  ASSERT_TRUE(hidden);
  EXPECT_LT(*hidden, 3s);  // one tick is a second; the rest is slack for a busy machine

  // What the devices report now comes in when the project goes online reading.
  network->setFirmware("qa8-a", "9.1.0");
  network->renameDevice("qa4-b", "Delay tower");
  const std::string online = read<std::string>(
      [&] { return context->db()->all<qor::server::LivesoundProject>().front()->getOnline()->strId(); });
  auto update =
      client.call("qor::server::FtOnline", KspMethod::Update, {}, online, table([&](flatbuffers::FlatBufferBuilder& b) {
                    auto i = b.CreateString(online);
                    qor::server::fbs::FtOnlineBuilder t(b);
                    t.add_id(i);
                    t.add_supposedState(qor::server::fbs::FtOnlineState::ONLINE_READING);
                    return t.Finish();
                  }));
  ASSERT_EQ(status(update), 204);
  EXPECT_TRUE(waitOnLoop([&] {
    Device* amp = deviceMappedTo("qa8-a");
    Device* tower = deviceMappedTo("qa4-b");
    return amp && tower && amp->getDeviceInfo()->getFirmware() == "9.1.0" &&
           tower->getDeviceInfo()->getName() == "Delay tower" && amp->getOnline()->getIsOnline();
  }));

  // Unmapped, the device is on offer again.
  const std::string matrix = read<std::string>([&] { return deviceMappedTo("qm16-c")->strId(); });
  auto cleared =
      client.call(ROUTE, KspMethod::Custom, "/deviceMappingClear", {}, table([&](flatbuffers::FlatBufferBuilder& b) {
                    return cmd::CreateDeviceMappingClearArgs(b, b.CreateString(matrix));
                  }));
  ASSERT_EQ(status(cleared), 200);
  EXPECT_TRUE(waitOnLoop([&] { return listed().at("qm16-c")->getVisible(); }));
  EXPECT_FALSE(read<bool>([&] { return listed().at("qa8-a")->getVisible(); }));
}

}  // namespace
}  // namespace qor::testing
