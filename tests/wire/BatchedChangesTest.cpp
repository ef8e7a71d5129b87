// Batched change messages over the wire: a client that subscribes with a
// batch interval gets one batch per interval (a "changes" message, several
// for a large one) with the latest state of every entity that changed in it, while a client that subscribes
// as before still gets a message per change; both end with the same states.

#include "HandMovedTime.h"
#include "ServerFixture.h"

#include "qor/server/entities/FtDelay.h"
#include "qor/server/fbs/FtDelay_generated.h"
#include "qor/server/services/IFtDelayService.h"

#include <atomic>
#include <map>

namespace qor::testing {
namespace {

constexpr const char* DELAY = "qor::server::FtDelay";

// What a client knows of an entity: its delay, or that it is gone.
struct Known {
  double delayInMs = 0;
  bool deleted = false;
  bool operator==(const Known& o) const { return delayInMs == o.delayInMs && deleted == o.deleted; }
};
using States = std::map<std::string, Known>;

void learn(States& states, const net::Message& m) {
  if (m.kind == net::MessageKind::Deleted) {
    states[m.entityId] = Known{0, true};
  } else if (m.kind == net::MessageKind::Changed) {
    const auto* table = tableOf<qor::server::fbs::FtDelay>(m.payload);
    ASSERT_NE(table, nullptr);
    states[m.entityId] = Known{table->delayInMs(), false};
  }
}

class BatchedChangesTest : private HandMovedTime, public ServerFixture {
 protected:
  BatchedChangesTest() : ServerFixture(clock) {}

  net::KspClient writer, old, batched;
  std::vector<std::string> ids;

  virtual net::KspServerOptions serverOptions() const { return {}; }

  void SetUp() override {
    startServer(serverOptions());
    for (int i = 0; i < 3; ++i) ids.push_back(create<qor::server::FtDelay>()->strId());
    connect(writer);
    connect(old);
    connect(batched);
  }

  static int subscribe(net::KspClient& client, const std::vector<std::string>& ids, std::uint32_t batchMs) {
    return status(client.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {},
                              net::encodeSubscriptionArgs(ids, {}, batchMs)));
  }

  int setDelay(const std::string& id, double value) {
    return status(writer.call(DELAY, KspMethod::Update, {}, id, table([&](flatbuffers::FlatBufferBuilder& b) {
                                auto i = b.CreateString(id);
                                qor::server::fbs::FtDelayBuilder t(b);
                                t.add_id(i);
                                t.add_delayInMs(value);
                                return t.Finish();
                              })));
  }

  // The next message a client gets after everything already sent to it: a
  // request answered after the changes so far, whose reply must come first
  // when nothing else waits for the client.
  static std::optional<net::Message> nextBeforeReplyTo(net::KspClient& client) {
    const auto marker = client.send(DELAY, KspMethod::Index);
    auto m = client.next(10s);
    if (m && m->kind == net::MessageKind::Response && m->requestId == marker) return std::nullopt;
    return m;
  }

  // The entries of the next message, which must be a batch; empty when it
  // is none.
  static std::vector<net::Message> nextBatch(net::KspClient& client) {
    auto m = client.next(10s);
    if (!m || m->kind != net::MessageKind::Changes) return {};
    auto batch = net::decodeChangeBatch(m->payload);
    return batch ? *batch : std::vector<net::Message>{};
  }

  std::vector<qor::server::FtDelay*> createDelays(int count) {
    std::vector<qor::server::FtDelay*> made;
    onLoop([&](EntityContext& c) {
      for (int i = 0; i < count; ++i)
        made.push_back(c.services()->get<EntityService<qor::server::FtDelay>>()->create());
    });
    return made;
  }

  static std::vector<std::string> idsOf(const std::vector<qor::server::FtDelay*>& entities) {
    std::vector<std::string> out;
    for (auto* e : entities) out.push_back(e->strId());
    return out;
  }

  void moveClock(std::chrono::milliseconds by) { clock->advance(by); }

  // The clock moves past the batch interval; the first job after that brings
  // the due batch into the queue behind it, the second runs behind the batch.
  void passInterval(std::chrono::milliseconds by) {
    clock->advance(by);
    onLoop([](EntityContext&) {});
    onLoop([](EntityContext&) {});
  }
};

TEST_F(BatchedChangesTest, BatchedAndOldClientsEndWithTheSameStates) {
  ASSERT_EQ(subscribe(old, ids, 0), 200);
  ASSERT_EQ(subscribe(batched, ids, 50), 200);

  // A fader moved three times, another value set once, an entity removed.
  ASSERT_EQ(setDelay(ids[0], 1.0), 204);
  ASSERT_EQ(setDelay(ids[0], 2.0), 204);
  ASSERT_EQ(setDelay(ids[0], 3.5), 204);
  ASSERT_EQ(setDelay(ids[1], 10.0), 204);
  onLoop([&](EntityContext& c) { c.db()->deleteEntity(UuidFromS(ids[2])); });

  // The old client has a message per change, in order.
  States oldStates;
  std::vector<double> firstMoves;
  for (int i = 0; i < 5; ++i) {
    auto m = old.next(10s);
    ASSERT_TRUE(m);
    learn(oldStates, *m);
    if (m->entityId == ids[0]) firstMoves.push_back(oldStates[ids[0]].delayInMs);
  }
  EXPECT_EQ(firstMoves, (std::vector<double>{1.0, 2.0, 3.5}));
  EXPECT_FALSE(nextBeforeReplyTo(old));

  // The batched client has nothing before the interval has passed...
  EXPECT_FALSE(nextBeforeReplyTo(batched));
  passInterval(50ms);
  // ...then one message with one entry per entity, the latest of each.
  auto batch = nextBatch(batched);
  ASSERT_EQ(batch.size(), 3u);
  States batchedStates;
  for (const auto& change : batch) {
    EXPECT_EQ(change.route, DELAY);
    learn(batchedStates, change);
  }
  EXPECT_EQ(batchedStates, oldStates);
  EXPECT_EQ(batchedStates[ids[0]], (Known{3.5, false}));
  EXPECT_EQ(batchedStates[ids[1]], (Known{10.0, false}));
  EXPECT_TRUE(batchedStates[ids[2]].deleted);
  EXPECT_FALSE(nextBeforeReplyTo(batched));

  // A quiet interval sends nothing; the next change opens a new batch.
  passInterval(50ms);
  EXPECT_FALSE(nextBeforeReplyTo(batched));
  ASSERT_EQ(setDelay(ids[1], 11.0), 204);
  EXPECT_FALSE(nextBeforeReplyTo(batched));
  passInterval(50ms);
  batch = nextBatch(batched);
  ASSERT_EQ(batch.size(), 1u);
  learn(batchedStates, batch.front());
  auto m = old.next(10s);
  ASSERT_TRUE(m);
  learn(oldStates, *m);
  EXPECT_EQ(batchedStates, oldStates);
  EXPECT_EQ(batchedStates[ids[1]].delayInMs, 11.0);
}

TEST_F(BatchedChangesTest, AnIntervalAboveOneSecondIsRefusedAndChangesNothing) {
  // Refused: nothing subscribed, the client not switched to batches.
  EXPECT_EQ(subscribe(batched, {ids[0]}, 1001), 400);
  ASSERT_EQ(setDelay(ids[0], 4.0), 204);
  EXPECT_FALSE(nextBeforeReplyTo(batched));

  // The longest interval is taken; subscribing more without an interval
  // keeps the client's batches.
  ASSERT_EQ(subscribe(batched, {ids[0]}, 1000), 200);
  ASSERT_EQ(subscribe(batched, {ids[1]}, 0), 200);
  ASSERT_EQ(setDelay(ids[0], 5.0), 204);
  ASSERT_EQ(setDelay(ids[1], 6.0), 204);
  passInterval(999ms);
  EXPECT_FALSE(nextBeforeReplyTo(batched));
  passInterval(1ms);
  States states;
  for (const auto& change : nextBatch(batched)) learn(states, change);
  EXPECT_EQ(states, (States{{ids[0], Known{5.0, false}}, {ids[1], Known{6.0, false}}}));
}

TEST_F(BatchedChangesTest, ALargeBatchComesInSlicesThatTogetherHoldEveryEntityOnce) {
  const auto many = createDelays(4000);
  const auto manyIds = idsOf(many);
  ASSERT_EQ(subscribe(batched, manyIds, 50), 200);
  for (double value : {1.0, 2.0}) {
    onLoop([&](EntityContext& c) {
      auto delays = c.services()->get<qor::server::IFtDelayService>();
      for (auto* e : many) delays->setDelayInMs(e, value, false);
    });
  }
  passInterval(50ms);

  // Messages in a row until every entity is known; none repeats an entity,
  // and none is much larger than a slice.
  States states;
  std::size_t messages = 0, entries = 0, bytes = 0;
  while (states.size() < manyIds.size()) {
    auto m = batched.next(10s);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->kind, net::MessageKind::Changes);
    auto batch = net::decodeChangeBatch(m->payload);
    ASSERT_TRUE(batch);
    ++messages;
    std::size_t messageBytes = 0;
    for (const auto& change : *batch) {
      messageBytes += change.payload.size() + change.entityId.size();
      EXPECT_FALSE(states.count(change.entityId)) << change.entityId << " came twice";
      learn(states, change);
    }
    entries += batch->size();
    bytes += messageBytes;
    EXPECT_LT(messageBytes, net::SubscriptionHub::BATCH_SLICE_BYTES + 4096);
  }
  EXPECT_EQ(entries, manyIds.size());
  EXPECT_GE(messages, bytes / net::SubscriptionHub::BATCH_SLICE_BYTES);
  EXPECT_GE(messages, 2u);
  for (const auto& id : manyIds) EXPECT_EQ(states[id], (Known{2.0, false}));
  EXPECT_FALSE(nextBeforeReplyTo(batched));
}

TEST_F(BatchedChangesTest, EntriesComeInTheOrderOfEachEntitysLastChange) {
  auto many = createDelays(300);
  const auto manyIds = idsOf(many);
  ASSERT_EQ(subscribe(batched, manyIds, 50), 200);
  // A second batching client with the same entities, gone before the batch
  // is due: the first one's batch must not miss anything for it.
  net::KspClient leaving;
  connect(leaving);
  ASSERT_EQ(subscribe(leaving, manyIds, 50), 200);

  auto setAll = [&](double value, bool reversed) {
    onLoop([&](EntityContext& c) {
      auto delays = c.services()->get<qor::server::IFtDelayService>();
      for (std::size_t i = 0; i < many.size(); ++i)
        delays->setDelayInMs(many[reversed ? many.size() - 1 - i : i], value, false);
    });
  };
  // Three rounds in one interval, the middle one backwards; one entity is
  // deleted between the second and the third.
  setAll(1.0, false);
  setAll(2.0, true);
  const auto before = read<std::size_t>([&] { return hub->clientCount(); });
  leaving.close();
  ASSERT_TRUE(waitOnLoop([&] { return hub->clientCount() < before; }));
  onLoop([&](EntityContext& c) { c.db()->deleteEntity(UuidFromS(manyIds[5])); });
  many.erase(many.begin() + 5);
  setAll(3.0, false);
  passInterval(50ms);

  // The deletion first, then every other entity once with its last value,
  // in the order of the third round.
  std::vector<net::Message> entries;
  while (entries.size() < manyIds.size()) {
    auto batch = nextBatch(batched);
    ASSERT_FALSE(batch.empty());
    entries.insert(entries.end(), batch.begin(), batch.end());
  }
  ASSERT_EQ(entries.size(), manyIds.size());
  EXPECT_EQ(entries[0].kind, net::MessageKind::Deleted);
  EXPECT_EQ(entries[0].entityId, manyIds[5]);
  std::vector<std::string> order;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    order.push_back(entries[i].entityId);
    States one;
    learn(one, entries[i]);
    EXPECT_EQ(one[entries[i].entityId], (Known{3.0, false}));
  }
  auto expected = manyIds;
  expected.erase(expected.begin() + 5);
  EXPECT_EQ(order, expected);
  EXPECT_FALSE(nextBeforeReplyTo(batched));
}

// While a large batch goes out slice by slice, its entities change again or
// go away: the client ends with every entity's last value, learns of the
// deleted ones, and gets nothing of an entity after its deletion.
TEST_F(BatchedChangesTest, EntitiesThatChangeOrGoWhileTheirBatchIsSentEndRight) {
  auto many = createDelays(4000);
  const auto manyIds = idsOf(many);
  ASSERT_EQ(subscribe(batched, manyIds, 50), 200);
  const std::vector<std::string> gone{manyIds.back(), manyIds[manyIds.size() - 2], manyIds[1]};
  auto changeAndDelete = [&](EntityContext& c) {
    std::erase_if(many, [&](auto* e) { return std::find(gone.begin(), gone.end(), e->strId()) != gone.end(); });
    for (const auto& id : gone) c.db()->deleteEntity(UuidFromS(id));
    auto delays = c.services()->get<qor::server::IFtDelayService>();
    for (auto* e : many) delays->setDelayInMs(e, 2.0, false);
  };
  onLoop([&](EntityContext& c) {
    auto delays = c.services()->get<qor::server::IFtDelayService>();
    for (auto* e : many) delays->setDelayInMs(e, 1.0, false);
  });
  // Run the change between the batch's first slice and the rest: a timer due
  // with the batch's own runs after it and queues the change in the
  // background lane behind the batch, ahead of the slices the batch queues.
  std::atomic<bool> changed{false};
  onLoop([&](EntityContext& c) {
    auto jobs = c.jobs();
    jobs->postAfter(50ms, "test: queue the change", [&, jobs] {
      jobs->post(
          random_uuid(), random_uuid(), "test: change while sent",
          [&] {
            changeAndDelete(c);
            changed = true;
          },
          JobLoop::Lane::Background);
    });
    moveClock(50ms);
  });
  ASSERT_TRUE(waitOnLoop([&] { return changed.load(); }));
  passInterval(50ms);

  States states;
  auto settled = [&] {
    for (const auto& id : manyIds) {
      const bool deleted = std::find(gone.begin(), gone.end(), id) != gone.end();
      if (!(states[id] == (deleted ? Known{0, true} : Known{2.0, false}))) return false;
    }
    return true;
  };
  std::size_t batches = 0;
  for (int pass = 0; pass < 50 && !settled(); ++pass) {
    while (auto m = batched.next(300ms)) {
      ASSERT_EQ(m->kind, net::MessageKind::Changes);
      auto batch = net::decodeChangeBatch(m->payload);
      ASSERT_TRUE(batch);
      ++batches;
      for (const auto& change : *batch) {
        if (states[change.entityId].deleted) ADD_FAILURE() << change.entityId << " came after its deletion";
        learn(states, change);
      }
    }
    passInterval(50ms);
  }
  EXPECT_TRUE(settled());
  EXPECT_GE(batches, 2u);
}

// A batched client behind a slow link: eight queued messages at most.
class SlowBatchedClientTest : public BatchedChangesTest {
 protected:
  net::KspServerOptions serverOptions() const override {
    net::KspServerOptions options;
    options.sendQueueLimit = 8;
    return options;
  }
};

TEST_F(SlowBatchedClientTest, StaysConnectedAndCatchesUpWithTheLatestStates) {
  // Enough entities that every batch is a few hundred kilobytes.
  const auto many = createDelays(3000);
  const auto manyIds = idsOf(many);
  ASSERT_EQ(subscribe(batched, manyIds, 50), 200);

  // Every value changes sixty times while the client reads nothing: far more
  // than the socket buffers and eight queued messages hold.
  for (int round = 1; round <= 60; ++round) {
    onLoop([&](EntityContext& c) {
      auto delays = c.services()->get<qor::server::IFtDelayService>();
      for (auto* e : many) delays->setDelayInMs(e, round, false);
    });
    passInterval(50ms);
  }

  // Reading now, it gets whatever batches wait, then the held-back one.
  States states;
  auto caughtUp = [&] {
    for (const auto& id : manyIds) {
      if (!(states[id] == Known{60.0, false})) return false;
    }
    return true;
  };
  for (int pass = 0; pass < 50 && !caughtUp(); ++pass) {
    while (auto m = batched.next(300ms)) {
      ASSERT_EQ(m->kind, net::MessageKind::Changes);
      auto batch = net::decodeChangeBatch(m->payload);
      ASSERT_TRUE(batch);
      for (const auto& change : *batch) learn(states, change);
    }
    passInterval(50ms);
  }
  EXPECT_TRUE(batched.isOpen());
  EXPECT_TRUE(caughtUp());
}

TEST(ChangeBatchDecoding, RefusesWhatIsNoBatchOfChanges) {
  EXPECT_FALSE(net::decodeChangeBatch({}));
  EXPECT_FALSE(net::decodeChangeBatch({1, 2, 3, 4, 5, 6, 7, 8}));
  // A request inside a batch is no change.
  net::Message request;
  request.kind = net::MessageKind::Request;
  request.route = DELAY;
  EXPECT_FALSE(net::decodeChangeBatch(net::encodeChangeBatch({&request})));
  // Read in place, a refused batch visits nothing, not even its valid
  // entries before the bad one.
  net::Message changed;
  changed.kind = net::MessageKind::Changed;
  changed.route = DELAY;
  changed.entityId = "0b7d7d6e-3f0c-4a43-9d43-1f3a36c4b1a7";
  changed.payload = {4, 0, 0, 0, 0, 0, 0, 0};
  int visited = 0;
  EXPECT_FALSE(
      net::forEachChange(net::encodeChangeBatch({&changed, &request}), [&](const net::MessageView&) { ++visited; }));
  EXPECT_EQ(visited, 0);
  // What comes back of a real batch is what went in.
  net::Message deleted;
  deleted.kind = net::MessageKind::Deleted;
  deleted.route = DELAY;
  deleted.entityId = "4f1c0c8e-4d0a-4a43-9d43-1f3a36c4b1a7";
  auto back = net::decodeChangeBatch(net::encodeChangeBatch({&deleted}));
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 1u);
  EXPECT_EQ(back->front().kind, net::MessageKind::Deleted);
  EXPECT_EQ(back->front().entityId, deleted.entityId);
  // In place: every entry in its order, with its payload's bytes.
  const auto bytes = net::encodeChangeBatch({&changed, &deleted});
  std::vector<std::string> seen;
  ASSERT_TRUE(net::forEachChange(bytes, [&](const net::MessageView& v) {
    seen.push_back(std::string(net::toString(v.kind)) + " " + std::string(v.route) + " " + std::string(v.entityId) +
                   " " + std::to_string(v.payload.size()));
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"changed qor::server::FtDelay 0b7d7d6e-3f0c-4a43-9d43-1f3a36c4b1a7 8",
                                            "deleted qor::server::FtDelay 4f1c0c8e-4d0a-4a43-9d43-1f3a36c4b1a7 0"}));
}

}  // namespace
}  // namespace qor::testing
