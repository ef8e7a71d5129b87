// The project checks over a real connection: a client subscribed to the
// checks sees "All devices should be online" become active when one of two
// online amplifiers drops off the network and inactive when it returns, and
// marks a check as ignored with "/projectCheckSetIgnore". The loop's timers
// follow a hand-moved clock, so the 3000 ms check ticks run when the test
// says; the amplifiers run on the simulated network's own thread.

#include "HandMovedTime.h"
#include "NetworkServerFixture.h"

#include "custom/checks/ProjectCheckService.h"
#include "custom/livesound/LivesoundController.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "qor/server/fbs/ProjectCheck_generated.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtOnlineService.h"

#include <string>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
using qor::server::Device;
constexpr const char* ROUTE = qor::server::LivesoundController::ROUTE;
constexpr const char* CHECKS = "qor::server::ProjectCheck";
// The id of the DEVICES_PARTIAL_ONLINE check, as every server names it.
constexpr const char* PARTIAL_ONLINE = "f69ce41e-550d-5989-8b44-ebc0579662e5";

class ProjectCheckWireTest : private HandMovedTime, public NetworkServerFixture {
 protected:
  ProjectCheckWireTest() : NetworkServerFixture(clock) {}

  void SetUp() override {
    NetworkServerFixture::SetUp();
    connect(watcher);
  }

  // One check tick: the clock moves on by the timer's 3000 ms; the first job
  // after that brings the due timer into the queue behind it, the second
  // runs behind the timer.
  void tick() {
    clock->advance(std::chrono::milliseconds(qor::server::ProjectCheckService::TIMER_INTERVAL_MS));
    onLoop([](EntityContext&) {});
    onLoop([](EntityContext&) {});
  }
  // Ticks until the partial-online check is in the wanted state (each check
  // has its turn within four ticks).
  bool tickUntilPartialOnline(bool active) {
    for (int i = 0; i < 5; ++i) {
      tick();
      if (read<bool>([&] {
            auto* check = context->db()->get<qor::server::ProjectCheck>(UuidFromS(PARTIAL_ONLINE));
            return check && check->getActive() == active;
          }))
        return true;
    }
    return false;
  }
  // The next change of the partial-online check that reaches the watcher.
  const qor::server::fbs::ProjectCheck* nextPartialOnlineChange() {
    while (auto m = watcher.next(10s)) {
      if (m->kind != net::MessageKind::Changed || m->entityId != PARTIAL_ONLINE) continue;
      received = std::move(*m);
      return tableOf<qor::server::fbs::ProjectCheck>(received.payload);
    }
    return nullptr;
  }

  // A QA-4 in the project, mapped onto a new simulated one and going online.
  Device* amplifier(const std::string& physicalId) {
    network->addDevice("QA-4", physicalId);
    Device* amp = nullptr;
    onLoop([&](EntityContext& c) {
      auto* type = c.db()->get<qor::server::DeviceType>(UuidFromS(devicetypes::QA4_TYPE_ID));
      amp = c.services()->get<qor::server::DevicePlant>()->create(type, random_uuid());
      c.services()->get<qor::server::DeviceService>()->setDeviceId(amp, physicalId, false);
      c.services()->get<qor::server::FtOnlineService>()->setSupposedState(
          amp->getOnline(), qor::server::FtOnlineState::ONLINE_WRITING, false);
    });
    return amp;
  }

  std::optional<net::Message> setIgnore(int key, bool ignored) {
    return client.call(ROUTE, KspMethod::Custom, "/projectCheckSetIgnore", {},
                       table([&](flatbuffers::FlatBufferBuilder& b) {
                         return cmd::CreateProjectCheckSetIgnoreArgs(b, key, ignored);
                       }));
  }

  net::KspClient watcher;
  net::Message received;
};

TEST_F(ProjectCheckWireTest, ASubscriberSeesPartlyOnlineComeAndGoWithAnAmplifier) {
  ASSERT_EQ(status(watcher.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {},
                                net::encodeSubscriptionArgs({}, {CHECKS}))),
            200);
  Device* left = amplifier("qa4-left");
  Device* right = amplifier("qa4-right");
  ASSERT_TRUE(waitOnLoop([&] { return left->getOnline()->getIsOnline() && right->getOnline()->getIsOnline(); }));

  // Both online: the check is there, and nothing is wrong.
  ASSERT_TRUE(tickUntilPartialOnline(false));
  const auto* check = nextPartialOnlineChange();
  ASSERT_NE(check, nullptr);
  EXPECT_EQ(check->key(), qor::server::fbs::ProjectCheckKey::DEVICES_PARTIAL_ONLINE);
  EXPECT_EQ(check->message()->str(), "All devices should be online");
  EXPECT_FALSE(check->active());
  EXPECT_FALSE(check->ignored());

  // One drops off the network.
  network->setReachable("qa4-right", false);
  ASSERT_TRUE(waitOnLoop([&] { return !right->getOnline()->getIsOnline(); }));
  ASSERT_TRUE(tickUntilPartialOnline(true));
  check = nextPartialOnlineChange();
  ASSERT_NE(check, nullptr);
  EXPECT_TRUE(check->active());

  // The engineer knows, and says so.
  auto ignored = setIgnore(static_cast<int>(qor::server::ProjectCheckKey::DEVICES_PARTIAL_ONLINE), true);
  ASSERT_EQ(status(ignored), 200);
  const auto* result = tableOf<cmd::ProjectCheckSetIgnoreResult>(ignored->payload);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->check()->str(), PARTIAL_ONLINE);
  check = nextPartialOnlineChange();
  ASSERT_NE(check, nullptr);
  EXPECT_TRUE(check->ignored());
  EXPECT_TRUE(check->active());

  // Back on the network: the problem is gone; ignoring it stays as set.
  network->setReachable("qa4-right", true);
  ASSERT_TRUE(waitOnLoop([&] { return right->getOnline()->getIsOnline(); }));
  ASSERT_TRUE(tickUntilPartialOnline(false));
  check = nextPartialOnlineChange();
  ASSERT_NE(check, nullptr);
  EXPECT_FALSE(check->active());
  EXPECT_TRUE(check->ignored());
}

TEST_F(ProjectCheckWireTest, SetIgnoreTakesOnlyTheKeysOfChecks) {
  // A check that has not run yet is created by being ignored.
  auto reply = setIgnore(static_cast<int>(qor::server::ProjectCheckKey::SPEAKER_UNCONNECTED), true);
  ASSERT_EQ(status(reply), 200);
  const std::string id = tableOf<cmd::ProjectCheckSetIgnoreResult>(reply->payload)->check()->str();
  EXPECT_EQ(id, "3ec69308-227d-5290-a8d9-373d221dec6b");
  auto shown = client.call(CHECKS, KspMethod::Show, {}, id);
  ASSERT_EQ(status(shown), 200);
  EXPECT_TRUE(tableOf<qor::server::fbs::ProjectCheck>(shown->payload)->ignored());

  // No key (0), or a number that is no key: the job fails, nothing changes.
  const std::size_t checks = read<std::size_t>([&] { return context->db()->all<qor::server::ProjectCheck>().size(); });
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/projectCheckSetIgnore", {}, {})), 500);
  EXPECT_EQ(status(setIgnore(0, true)), 500);
  EXPECT_EQ(status(setIgnore(99, true)), 500);
  EXPECT_EQ(read<std::size_t>([&] { return context->db()->all<qor::server::ProjectCheck>().size(); }), checks);

  // Clients read the flag but cannot write it as a field.
  auto write = client.call(CHECKS, KspMethod::Update, {}, id, table([&](flatbuffers::FlatBufferBuilder& b) {
                             auto i = b.CreateString(id);
                             qor::server::fbs::ProjectCheckBuilder t(b);
                             t.add_id(i);
                             t.add_ignored(true);
                             return t.Finish();
                           }));
  EXPECT_EQ(status(write), 400);
}

}  // namespace
}  // namespace qor::testing
