// Discovered devices over a real connection: a server with the simulated
// network running on its own thread lists its devices as DiscoveredDevice
// entities; a subscriber sees them appear, change when a device is renamed
// and go when a device leaves the network.

#include "ServerFixture.h"

#include "qor/devicediscovery/DeviceDiscovery.h"
#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/devicediscovery/SimulatedDiscoverySource.h"
#include "qor/server/entities/LivesoundProject.h"
#include "qor/server/fbs/DiscoveredDevice_generated.h"

#include "fennik/devices/SimulatedNetwork.h"

#include <stdlib.h>

#include <map>
#include <set>

namespace qor::testing {
namespace {

using fennik::devices::SimulatedNetwork;
using qor::server::DiscoveredDevice;
namespace fbs = qor::server::fbs;

constexpr auto TIMEOUT = 10s;
constexpr const char* CLASS = "qor::server::DiscoveredDevice";

class DiscoveryWireTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    network = SimulatedNetwork::create(SimulatedNetwork::Mode::Threaded);
    fennik::devices::DeviceModel model;
    model.model = "QA4";
    model.firmware = "3.2.1";
    network->registerModel(model);
    network->start();
  }
  void TearDown() override {
    qor::server::removeDeviceDiscovery(context);
    network->stop();
    ServerFixture::TearDown();
  }

  void startDiscovery() {
    qor::server::addDeviceDiscovery(context, std::make_shared<qor::server::SimulatedDiscoverySource>(network));
  }

  // Reads messages until `done` says so; false when the server went quiet.
  bool readUntil(net::KspClient& client, const std::function<bool(const net::Message&)>& done) {
    while (auto m = client.next(TIMEOUT)) {
      if (done(*m)) return true;
    }
    return false;
  }

  std::shared_ptr<SimulatedNetwork> network;
};

TEST_F(DiscoveryWireTest, ASubscriberSeesDevicesAppearChangeAndLeave) {
  const auto left = network->addDevice("QA4", "amp-left");
  const auto right = network->addDevice("QA4", "amp-right");
  const auto sub = network->addDevice("QA4", "amp-sub");

  net::KspClient watcher;
  connect(watcher);
  ASSERT_EQ(status(watcher.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {},
                                net::encodeSubscriptionArgs({}, {CLASS}))),
            200);
  startDiscovery();

  // Every device arrives with what it reports.
  std::map<std::string, std::string> entityOf;  // physical id -> entity id
  ASSERT_TRUE(readUntil(watcher, [&](const net::Message& m) {
    if (m.kind != net::MessageKind::Changed || m.route != CLASS) return false;
    const auto* t = tableOf<fbs::DiscoveredDevice>(m.payload);
    if (!t) return false;
    EXPECT_EQ(t->id()->str(), m.entityId);
    EXPECT_EQ(t->deviceType()->str(), "QA4");
    EXPECT_EQ(t->name()->str(), t->physicalDeviceId()->str());
    EXPECT_TRUE(t->hasDeviceId());
    EXPECT_EQ(t->deviceId()->size(), 3u);
    EXPECT_EQ(t->ipaddress()->str().rfind("169.254.", 0), 0u);
    EXPECT_EQ(t->firmware()->str(), "3.2.1");
    EXPECT_FALSE(t->firmwareUpdateRequired());
    EXPECT_TRUE(t->visible());
    entityOf[t->physicalDeviceId()->str()] = m.entityId;
    return entityOf.size() == 3;
  }));
  EXPECT_EQ(entityOf.count(left) + entityOf.count(right) + entityOf.count(sub), 3u);

  // Index and show answer like any entity route; clients cannot write.
  net::KspClient client;
  connect(client);
  auto index = client.call(CLASS, KspMethod::Index);
  ASSERT_EQ(status(index), 200);
  auto ids = net::decodeIdVector(index->payload);
  ASSERT_TRUE(ids);
  EXPECT_EQ(std::set<std::string>(ids->begin(), ids->end()),
            (std::set<std::string>{entityOf[left], entityOf[right], entityOf[sub]}));
  auto shown = client.call(CLASS, KspMethod::Show, {}, entityOf[left]);
  ASSERT_EQ(status(shown), 200);
  EXPECT_EQ(tableOf<fbs::DiscoveredDevice>(shown->payload)->name()->str(), left);
  auto write = client.call(CLASS, KspMethod::Update, {}, entityOf[left], table([&](flatbuffers::FlatBufferBuilder& b) {
                             auto i = b.CreateString(entityOf[left]);
                             auto n = b.CreateString("mine");
                             fbs::DiscoveredDeviceBuilder t(b);
                             t.add_id(i);
                             t.add_name(n);
                             return t.Finish();
                           }));
  EXPECT_EQ(status(write), 400);

  // Renamed at the device: its entity changes.
  network->renameDevice(left, "FOH left");
  ASSERT_TRUE(readUntil(watcher, [&](const net::Message& m) {
    if (m.kind != net::MessageKind::Changed || m.entityId != entityOf[left]) return false;
    return tableOf<fbs::DiscoveredDevice>(m.payload)->name()->str() == "FOH left";
  }));

  // Gone from the network: deleted.
  network->removeDevice(sub);
  ASSERT_TRUE(readUntil(watcher, [&](const net::Message& m) {
    return m.kind == net::MessageKind::Deleted && m.entityId == entityOf[sub];
  }));
  EXPECT_EQ(read<std::size_t>([&] { return context->db()->all<DiscoveredDevice>().size(); }), 2u);

  // A new search answers 200 and lists nothing twice.
  EXPECT_EQ(status(client.call("qor::server::Livesound", KspMethod::Custom, "/startRefreshDiscoveredDevices")), 200);
  EXPECT_EQ(read<std::size_t>([&] { return context->db()->all<DiscoveredDevice>().size(); }), 2u);
}

TEST_F(DiscoveryWireTest, TheProjectTellsWhetherTheRoutingApplicationIsInstalled) {
  auto projectFlag = [&] {
    return read<int>([&] {
      auto projects = context->db()->all<qor::server::LivesoundProject>();
      return projects.size() == 1 ? int(projects[0]->getIsDanteControllerAvailable()) : -1;
    });
  };
  ::unsetenv("QORSERVER_DANTE_CONTROLLER");
  onLoop([](EntityContext& c) { c.services()->forEach([](Service& s) { s.loaded(); }); });  // a new project
  EXPECT_EQ(projectFlag(), 0);
  net::KspClient client;
  connect(client);
  EXPECT_EQ(status(client.call("qor::server::Livesound", KspMethod::Custom, "/openDanteController")), 200);

  ::setenv("QORSERVER_DANTE_CONTROLLER", "/bin/true", 1);
  onLoop([](EntityContext& c) { c.services()->forEach([](Service& s) { s.loaded(); }); });  // opened again
  EXPECT_EQ(projectFlag(), 1);
  ::unsetenv("QORSERVER_DANTE_CONTROLLER");
  onLoop([](EntityContext& c) { c.services()->forEach([](Service& s) { s.unload(); }); });
}

}  // namespace
}  // namespace qor::testing
