// Entity routes over a real WebSocket connection: show, index and update of
// several types, the statuses of bad requests, throttled bursts, and the
// change notifications subscribers receive.

#include "ServerFixture.h"

#include "qor/server/entities/All.h"
#include "qor/server/services/IFtDelayService.h"
#include "wire/EntityController.h"

#include "fennik/server/service/NotificationService.h"
#include "qor/server/fbs/FtDelay_generated.h"
#include "qor/server/fbs/Layer_generated.h"
#include "qor/server/fbs/VisualItemGroup_generated.h"
#include "qor/server/fbs/VisualItem_generated.h"

#include <future>
#include <thread>

namespace qor::testing {
namespace {

using qor::server::FtDelay;
using qor::server::FtLabel;
using qor::server::Layer;
using qor::server::VisualItem;
using qor::server::VisualItemGroup;
namespace fbs = qor::server::fbs;

constexpr auto TIMEOUT = 10s;

KspBytes delayUpdate(const std::string& id, double delay, std::optional<double> max = std::nullopt) {
  return table([&](flatbuffers::FlatBufferBuilder& b) {
    auto i = b.CreateString(id);
    fbs::FtDelayBuilder t(b);
    t.add_id(i);
    t.add_delayInMs(delay);
    if (max) t.add_delayInMsMax(*max);
    return t.Finish();
  });
}

class EntityWireTest : public ServerFixture {};

TEST_F(EntityWireTest, ShowIndexAndUpdateOfSeveralTypes) {
  auto* delay = create<FtDelay>();
  auto* label = create<FtLabel>();
  auto* item = create<VisualItem>();
  auto* group = create<VisualItemGroup>();
  onLoop([&](EntityContext&) { delay->setLabel(label); });

  net::KspClient client;
  connect(client);

  // Show: every field present, defaults included, references as id text.
  auto shown = client.call("qor::server::FtDelay", KspMethod::Show, {}, delay->strId());
  ASSERT_EQ(status(shown), 200);
  const auto* t = tableOf<fbs::FtDelay>(shown->payload);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->id()->str(), delay->strId());
  EXPECT_EQ(t->label()->str(), label->strId());
  EXPECT_TRUE(qor::server::wire::hasField(*t, fbs::FtDelay::VT_DELAYINMS));
  EXPECT_TRUE(qor::server::wire::hasField(*t, fbs::FtDelay::VT_ISBYPASSED));
  EXPECT_EQ(t->delayInMsDecimals(), 2);
  ASSERT_NE(t->children(), nullptr);
  EXPECT_EQ(t->children()->size(), 0u);

  // An empty reference travels as the nil UUID text.
  auto shownItem = client.call("qor::server::VisualItem", KspMethod::Show, {}, item->strId());
  ASSERT_EQ(status(shownItem), 200);
  const auto* vi = tableOf<fbs::VisualItem>(shownItem->payload);
  ASSERT_NE(vi, nullptr);
  EXPECT_EQ(vi->parent()->str(), NIL_UUID_TEXT);
  auto shownLabelless = client.call("qor::server::FtLabel", KspMethod::Show, {}, label->strId());
  ASSERT_EQ(status(shownLabelless), 200);

  // Index in the database's order; a type without entities gives an empty vector.
  auto second = create<FtDelay>();
  auto indexed = client.call("qor::server::FtDelay", KspMethod::Index);
  ASSERT_EQ(status(indexed), 200);
  EXPECT_EQ(net::decodeIdVector(indexed->payload), (std::vector<std::string>{delay->strId(), second->strId()}));
  auto none = client.call("qor::server::FtPanel", KspMethod::Index);
  ASSERT_EQ(status(none), 200);
  ASSERT_TRUE(net::decodeIdVector(none->payload));
  EXPECT_TRUE(net::decodeIdVector(none->payload)->empty());

  // Update: a throttled field (keyed job), a plain field (one job); the
  // acknowledgement comes when the jobs have run.
  auto moved = client.call("qor::server::VisualItem", KspMethod::Update, {}, item->strId(),
                           table([&](flatbuffers::FlatBufferBuilder& b) {
                             auto i = b.CreateString(item->strId());
                             auto children = b.CreateVectorOfStrings({"ignored"});
                             fbs::VisualItemBuilder v(b);
                             v.add_id(i);
                             v.add_children(children);  // structural: ignored
                             v.add_x(96);
                             v.add_y(48);
                             return v.Finish();
                           }));
  EXPECT_EQ(status(moved), 204);
  EXPECT_EQ(read<int>([&] { return item->getX(); }), 96);
  EXPECT_EQ(read<int>([&] { return item->getY(); }), 48);

  auto renamed = client.call("qor::server::VisualItemGroup", KspMethod::Update, {}, group->strId(),
                             table([&](flatbuffers::FlatBufferBuilder& b) {
                               auto i = b.CreateString(group->strId());
                               auto n = b.CreateString("Stage left");
                               fbs::VisualItemGroupBuilder g(b);
                               g.add_id(i);
                               g.add_name(n);
                               return g.Finish();
                             }));
  EXPECT_EQ(status(renamed), 204);
  EXPECT_EQ(read<std::string>([&] { return group->getName(); }), "Stage left");
}

TEST_F(EntityWireTest, BadRequestsGetAStatusAndChangeNothing) {
  auto* delay = create<FtDelay>();
  net::KspClient client;
  connect(client);
  const std::string route = "qor::server::FtDelay";

  // A read-only field spoils the whole update, writable fields included.
  EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, delay->strId(), delayUpdate(delay->strId(), 5.0, 10.0))),
            400);
  // Empty, too short, garbage, no id, id that is no UUID.
  EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, delay->strId(), {})), 400);
  EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, delay->strId(), {4, 0, 0, 0})), 400);
  EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, delay->strId(), {200, 1, 2, 3, 4, 5, 6, 7, 8})), 400);
  EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, {}, table([](flatbuffers::FlatBufferBuilder& b) {
                                 fbs::FtDelayBuilder t(b);
                                 t.add_delayInMs(7.0);
                                 return t.Finish();
                               }))),
            400);
  EXPECT_EQ(status(client.call(route, KspMethod::Update, {}, {}, delayUpdate("not-an-id", 7.0))), 400);
  EXPECT_EQ(read<double>([&] { return delay->getDelayInMs(); }), 0.0);
  EXPECT_EQ(read<double>([&] { return delay->getDelayInMsMax(); }), 0.0);

  // Show: unknown id 404, bad id text 400. Plain update of an unknown entity 404.
  EXPECT_EQ(status(client.call(route, KspMethod::Show, {}, "3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1")), 404);
  EXPECT_EQ(status(client.call(route, KspMethod::Show, {}, "nope")), 400);
  EXPECT_EQ(status(client.call("qor::server::VisualItemGroup", KspMethod::Update, {}, {},
                               table([](flatbuffers::FlatBufferBuilder& b) {
                                 auto i = b.CreateString("3f2c7d2e-5a55-4c39-9a52-6d8c5c3bd0e1");
                                 fbs::VisualItemGroupBuilder g(b);
                                 g.add_id(i);
                                 return g.Finish();
                               }))),
            404);

  // Operations entity routes do not offer, routes that do not exist.
  EXPECT_EQ(status(client.call(route, KspMethod::Create)), 501);
  EXPECT_EQ(status(client.call(route, KspMethod::Destroy, {}, delay->strId())), 501);
  EXPECT_EQ(status(client.call(route, KspMethod::Subscribe)), 501);
  EXPECT_EQ(status(client.call("qor::server::Nothing", KspMethod::Index)), 404);

  // A message that is no envelope gets 400 and the connection stays usable.
  client.sendRaw({1, 2, 3, 4, 5, 6, 7, 8, 9});
  auto bad = client.next(TIMEOUT);
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->kind, net::MessageKind::Response);
  EXPECT_EQ(bad->status, 400);
  EXPECT_EQ(status(client.call(route, KspMethod::Index)), 200);
}

TEST_F(EntityWireTest, BurstOfThrottledUpdatesEndsAtTheLastValueWithFewSetterRuns) {
  auto* delay = create<FtDelay>();
  int setterRuns = 0;
  boost::signals2::scoped_connection counting;
  onLoop([&](EntityContext&) { counting = delay->onDelayInMsChanged([&](const double&, bool) { ++setterRuns; }); });
  net::KspClient client;
  connect(client);
  ASSERT_EQ(status(client.call("qor::server::FtDelay", KspMethod::Index)), 200);  // the connection is settled

  // Hold the loop while the burst arrives, as a busy loop would.
  std::promise<void> release;
  auto gate = release.get_future().share();
  context->loop()->post("test gate", [gate](const std::shared_ptr<EntityContext>&) { gate.wait(); });
  constexpr int BURST = 1000;
  for (int i = 1; i <= BURST; ++i) {
    client.send("qor::server::FtDelay", KspMethod::Update, {}, delay->strId(), delayUpdate(delay->strId(), i * 0.5),
                false);
  }
  auto marker = client.send("qor::server::FtDelay", KspMethod::Index);
  // The marker is dispatched after every update; once its job is queued,
  // the whole burst has been posted (keyed jobs coalesce into one).
  while (context->jobs()->pendingCount() < 2) std::this_thread::yield();
  release.set_value();
  EXPECT_EQ(status(client.waitReply(marker, TIMEOUT)), 200);

  EXPECT_EQ(read<double>([&] { return delay->getDelayInMs(); }), BURST * 0.5);
  EXPECT_GE(setterRuns, 1);
  EXPECT_LT(setterRuns, BURST / 10);
  onLoop([&](EntityContext&) { counting.disconnect(); });
}

TEST_F(EntityWireTest, SubscribersSeeChangesDeletionsAndNotifications) {
  auto* layer = create<Layer>();
  auto* other = create<Layer>();
  net::KspClient watcher, writer;
  connect(watcher);
  connect(writer);

  ASSERT_EQ(status(watcher.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {},
                                net::encodeSubscriptionArgs({layer->strId()}, {}))),
            200);
  // Unknown ids and classes subscribe nothing.
  EXPECT_EQ(status(watcher.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {},
                                net::encodeSubscriptionArgs({}, {"qor::server::Nothing"}))),
            404);
  EXPECT_EQ(status(watcher.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {}, {})), 400);

  // Two fields written by one job: one notification, with both values.
  auto update = writer.call("qor::server::Layer", KspMethod::Update, {}, layer->strId(),
                            table([&](flatbuffers::FlatBufferBuilder& b) {
                              auto i = b.CreateString(layer->strId());
                              auto n = b.CreateString("Monitors");
                              auto c = b.CreateString("blue");
                              fbs::LayerBuilder l(b);
                              l.add_id(i);
                              l.add_name(n);
                              l.add_colorKey(c);
                              return l.Finish();
                            }));
  ASSERT_EQ(status(update), 204);
  // A change of an entity nobody watches reaches nobody.
  onLoop([&](EntityContext&) { other->setName("unwatched", false); });
  auto sync = watcher.send("qor::server::Layer", KspMethod::Index);
  std::vector<net::Message> changes;
  for (;;) {
    auto m = watcher.next(TIMEOUT);
    ASSERT_TRUE(m);
    if (m->kind == net::MessageKind::Response && m->requestId == sync) break;
    changes.push_back(*m);
  }
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].kind, net::MessageKind::Changed);
  EXPECT_EQ(changes[0].route, "qor::server::Layer");
  EXPECT_EQ(changes[0].entityId, layer->strId());
  const auto* l = tableOf<fbs::Layer>(changes[0].payload);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->name()->str(), "Monitors");
  EXPECT_EQ(l->colorKey()->str(), "blue");

  // A show without a required response is a change notification, not a reply.
  auto quiet = writer.send("qor::server::Layer", KspMethod::Show, {}, layer->strId(), {}, false);
  auto changed = watcher.next(TIMEOUT);
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->kind, net::MessageKind::Changed);
  EXPECT_EQ(changed->entityId, layer->strId());
  auto after = writer.call("qor::server::Layer", KspMethod::Index);
  ASSERT_EQ(status(after), 200);
  EXPECT_FALSE(writer.waitReply(quiet, 0ms));

  // Deletion is announced; user notifications reach every client.
  const auto deletedId = layer->strId();
  onLoop([&](EntityContext& c) { c.db()->deleteEntity(layer); });
  auto deleted = watcher.next(TIMEOUT);
  ASSERT_TRUE(deleted);
  EXPECT_EQ(deleted->kind, net::MessageKind::Deleted);
  EXPECT_EQ(deleted->entityId, deletedId);
  context->notifications()->create("Firmware", "Update finished", NotificationType::Info);
  for (auto* client : {&watcher, &writer}) {
    std::optional<net::Message> m;
    do {
      m = client->next(TIMEOUT);
    } while (m && m->kind != net::MessageKind::Notification);
    ASSERT_TRUE(m);
    auto n = net::decodeUserNotification(m->payload);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->title, "Firmware");
    EXPECT_EQ(n->text, "Update finished");
  }
}

TEST_F(EntityWireTest, ClassSubscriptionsFollowNewEntities) {
  net::KspClient watcher;
  connect(watcher);
  ASSERT_EQ(status(watcher.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {},
                                net::encodeSubscriptionArgs({}, {"qor::server::FtDelay"}))),
            200);
  auto* delay = create<FtDelay>();
  auto added = watcher.next(TIMEOUT);
  ASSERT_TRUE(added);
  EXPECT_EQ(added->kind, net::MessageKind::Changed);
  EXPECT_EQ(added->entityId, delay->strId());

  onLoop(
      [&](EntityContext& c) { c.services()->get<qor::server::IFtDelayService>()->setDelayInMs(delay, 12.5, false); });
  auto changed = watcher.next(TIMEOUT);
  ASSERT_TRUE(changed);
  const auto* t = tableOf<fbs::FtDelay>(changed->payload);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->delayInMs(), 12.5);

  ASSERT_EQ(status(watcher.call(net::SubscriptionHub::ROUTE, KspMethod::Unsubscribe, {}, {},
                                net::encodeSubscriptionArgs({}, {"qor::server::FtDelay"}))),
            200);
  onLoop([&](EntityContext& c) { c.services()->get<qor::server::IFtDelayService>()->setDelayInMs(delay, 1.0, false); });
  auto sync = watcher.send("qor::server::FtDelay", KspMethod::Index);
  auto next = watcher.next(TIMEOUT);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->kind, net::MessageKind::Response);
  EXPECT_EQ(next->requestId, sync);
  onLoop([](EntityContext&) {});
  EXPECT_EQ(read<std::size_t>([&] { return hub->watchedEntityCount(); }), 0u);
}

}  // namespace
}  // namespace qor::testing
