// Layer and relative-setter commands over a real connection: a new layer
// selected through the route reaches subscribers of the session window, and
// the relative setters move values, ignore unknown ids and reject
// incomplete tables.

#include "ServerFixture.h"

#include "custom/livesound/LivesoundController.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "qor/server/fbs/SessionWindow_generated.h"
#include "service/SessionWindowService.h"

#include "fennik/server/net/SubscriptionHub.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qor::testing {
namespace {

using qor::server::FtAudio;
using qor::server::FtDelay;
using qor::server::FtLoad;
using qor::server::Layer;
using qor::server::SessionWindow;
namespace cmd = qor::server::fbs::cmd;

constexpr auto TIMEOUT = 10s;
constexpr const char* ROUTE = qor::server::LivesoundController::ROUTE;

class CanvasAndRelativeCommandTest : public ServerFixture {
 protected:
  // The project as a user opens it: master session and window, current.
  void SetUp() override {
    ServerFixture::SetUp();
    onLoop([](EntityContext& c) { c.services()->forEach([](Service& s) { s.loaded(); }); });
  }

  SessionWindow* window() {
    return read<SessionWindow*>(
        [&] { return context->services()->get<qor::server::SessionWindowService>()->currentSessionWindow(); });
  }
};

TEST_F(CanvasAndRelativeCommandTest, LayerAddThenSelectReachesTheWindowsSubscribers) {
  SessionWindow* master = window();
  ASSERT_NE(master, nullptr);
  Layer* first = read<Layer*>([&] { return master->getSelectedLayer(); });
  ASSERT_NE(first, nullptr);

  net::KspClient watcher, client;
  connect(watcher);
  connect(client);
  ASSERT_EQ(status(watcher.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {},
                                net::encodeSubscriptionArgs({master->strId()}, {}))),
            200);

  // No arguments: an empty payload will do.
  auto added = client.call(ROUTE, KspMethod::Custom, "/layerAdd");
  ASSERT_EQ(status(added), 200);
  const auto* result = tableOf<cmd::LayerAddResult>(added->payload);
  ASSERT_NE(result, nullptr);
  ASSERT_NE(result->layer(), nullptr);
  const std::string newId = result->layer()->str();
  EXPECT_EQ(read<std::string>([&] { return master->getSelectedLayer()->strId(); }), newId);

  // Back to the first layer: the window's subscribers see the change.
  auto select = [&](const std::string& id) {
    return client.call(ROUTE, KspMethod::Custom, "/layerSelect", {}, table([&](flatbuffers::FlatBufferBuilder& b) {
                         return cmd::CreateLayerSelectArgs(b, b.CreateString(id));
                       }));
  };
  ASSERT_EQ(status(select(first->strId())), 200);
  EXPECT_EQ(read<Layer*>([&] { return master->getSelectedLayer(); }), first);
  // The subscriber sees the window change to the new layer, then back.
  auto selectedIn = [&](const net::Message& m) {
    const auto* w = tableOf<qor::server::fbs::SessionWindow>(m.payload);
    return w && w->selectedLayer() ? w->selectedLayer()->str() : std::string();
  };
  std::vector<std::string> seen;
  while (seen.empty() || seen.back() != first->strId()) {
    auto m = watcher.next(TIMEOUT);
    ASSERT_TRUE(m) << "no SessionWindow change back to the first layer reached the subscriber";
    if (m->kind == net::MessageKind::Changed && m->route == "qor::server::SessionWindow" &&
        m->entityId == master->strId())
      seen.push_back(selectedIn(*m));
  }
  EXPECT_NE(std::find(seen.begin(), seen.end(), newId), seen.end());

  // A layer id that names a window, not a layer: nothing changes.
  EXPECT_EQ(status(select(master->strId())), 500);
  EXPECT_EQ(read<Layer*>([&] { return master->getSelectedLayer(); }), first);
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/layerSelect")), 400);
}

TEST_F(CanvasAndRelativeCommandTest, RelativeSettersMoveValuesAndRejectBadArguments) {
  auto* delay = create<FtDelay>();
  auto* audio = create<FtAudio>();
  auto* load = create<FtLoad>();
  onLoop([&](EntityContext&) {
    delay->setIsReactingOnRealAmpChannel(true, false);
    delay->setDelayInMsMax(100.0, false);
    delay->setDelayInMs(10.0, false);
    audio->setLevelInDb(-3.0, false);
    load->setThresholdMax(20.0, false);
  });
  net::KspClient client;
  connect(client);
  auto delayBy = [&](const std::string& id, double step) {
    return client.call(ROUTE, KspMethod::Custom, "/ftDelayRelative", {}, table([&](flatbuffers::FlatBufferBuilder& b) {
                         return cmd::CreateFtDelayRelativeArgs(b, b.CreateString(id), step);
                       }));
  };

  EXPECT_EQ(status(delayBy(delay->strId(), 2.5)), 200);
  EXPECT_DOUBLE_EQ(read<double>([&] { return delay->getDelayInMs(); }), 12.5);
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/ftAudioLevelRelative", {},
                               table([&](flatbuffers::FlatBufferBuilder& b) {
                                 return cmd::CreateFtAudioLevelRelativeArgs(b, b.CreateString(audio->strId()), -1.5);
                               }))),
            200);
  EXPECT_DOUBLE_EQ(read<double>([&] { return audio->getLevelInDb(); }), -4.5);
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/ftLoadThresholdMaxRelative", {},
                               table([&](flatbuffers::FlatBufferBuilder& b) {
                                 return cmd::CreateFtLoadThresholdMaxRelativeArgs(b, b.CreateString(load->strId()), 5);
                               }))),
            200);
  EXPECT_DOUBLE_EQ(read<double>([&] { return load->getThresholdMax(); }), 25.0);

  // An unknown id, or one of another type: no controller reply (the host
  // acknowledges the failed job with 500) and nothing moves.
  EXPECT_EQ(status(delayBy("3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1", 1.0)), 500);
  EXPECT_EQ(status(delayBy(audio->strId(), 1.0)), 500);
  EXPECT_DOUBLE_EQ(read<double>([&] { return delay->getDelayInMs(); }), 12.5);

  // Empty payloads lack the id: 400, nothing posted.
  for (const char* path : {"/ftDelayRelative", "/ftAudioTrimRelative", "/ftSignalGeneratorLevelRelative",
                           "/ftDeviceStateRemoteDeviceDebounceTimeRelative", "/ftLoadOutputPilotFreqRelative"}) {
    EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, path)), 400) << path;
  }
  // A step of 0 is what a plain builder leaves out: the command runs and moves nothing.
  EXPECT_EQ(status(delayBy(delay->strId(), 0.0)), 200);
  EXPECT_DOUBLE_EQ(read<double>([&] { return delay->getDelayInMs(); }), 12.5);
}

}  // namespace
}  // namespace qor::testing
