#include "fennik/server/net/SubscriptionHub.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityFlatbufferSerializer.h"
#include "fennik/server/ksp/WireValues.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/SubscriptionService.h"

#include "fennik/wire/Ksp_generated.h"

#include <algorithm>
#include <cstring>

namespace fennik::server::net {

// A batch of a client: the entities in the order of their last change. A
// change moves its entity to the end, leaving a hole that compacting closes;
// an entity keeps its slot, and where[slot] is its place, so compacting moves
// items within the batch without touching the watches. The states themselves
// are kept once, in the watches, however many clients batch them; a batch
// held back for a slow client thus sends only the latest states. A due batch
// is handed over whole to be sent (an empty batch of the next generation
// starts collecting), and its entities are let go slice by slice as they
// go out: no job walks a whole batch of thousands of entities.
struct SubscriptionHub::Batch {
  struct Item {
    Watch* watch = nullptr;  // a changed entity; null for a deletion or a hole
    Shared deletion;         // a deleted entity's message
    std::uint32_t slot = 0;
  };
  std::vector<Item> items;
  std::vector<std::uint32_t> where;  // an entity's slot -> its index in items
  std::size_t holes = 0;
  std::size_t next = 0;  // while sent: the first item not yet out
  std::uint32_t generation = 0;
  bool scheduled = false;

  bool holds(const Watch::Pending& p, std::uint64_t clientId) const {
    return p.client == clientId && p.generation == generation;
  }

  void add(std::uint64_t clientId, Watch& watch) {
    auto at = std::find_if(watch.pendingIn.begin(), watch.pendingIn.end(),
                           [&](const Watch::Pending& p) { return holds(p, clientId); });
    std::uint32_t slot = 0;
    if (at == watch.pendingIn.end()) {
      slot = static_cast<std::uint32_t>(where.size());
      where.push_back(0);
      watch.pendingIn.push_back({clientId, generation, slot});
    } else {
      slot = at->slot;
      drop(slot);
    }
    where[slot] = static_cast<std::uint32_t>(items.size());
    items.push_back({&watch, nullptr, slot});
    if (holes > items.size() / 2 + 64) compact();
  }

  void addDeletion(Shared message) { items.push_back({nullptr, std::move(message), 0}); }

  // The entity in the slot leaves its place.
  void drop(std::uint32_t slot) {
    items[where[slot]] = {};
    ++holes;
  }

  void compact() {
    std::erase_if(items, [](const Item& item) { return !item.watch && !item.deletion; });
    holes = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].watch) where[items[i].slot] = static_cast<std::uint32_t>(i);
    }
  }

  bool unsent() const { return next < items.size(); }

  // Empty again, for the given generation; keeps its capacity.
  void restart(std::uint32_t nextGeneration) {
    items.clear();
    where.clear();
    holes = 0;
    next = 0;
    generation = nextGeneration;
    scheduled = false;
  }

  // The next unsent item's state (null for a hole); the item's entity lets
  // go of this batch.
  Shared sendNext(std::uint64_t clientId) {
    Item& item = items[next++];
    Shared state = std::move(item.deletion);
    if (Watch* watch = item.watch) {
      state = watch->latest;
      std::erase_if(watch->pendingIn, [&](const Watch::Pending& p) { return holds(p, clientId); });
      if (watch->pendingIn.empty()) watch->latest = nullptr;
    }
    item = {};
    return state;
  }

  // Lets go of every entity not yet sent.
  void release(std::uint64_t clientId) {
    while (unsent()) sendNext(clientId);
  }
};

SubscriptionHub::SubscriptionHub(std::shared_ptr<EntityContext> context)
    : IKspController(ROUTE), context_(std::move(context)) {}

SubscriptionHub::~SubscriptionHub() = default;

void SubscriptionHub::start() {
  std::weak_ptr<SubscriptionHub> weak = shared_from_this();
  context_->jobs()->setAfterJobHook([weak] {
    if (auto self = weak.lock()) self->flush();
  });
  fired_ = context_->subscriptions()->onChanged([this](Entity* e) { markDirty(e); });
  notified_ = context_->notifications()->onCreated([weak](const Notification& n) {
    auto self = weak.lock();
    if (!self) return;
    UserNotificationMessage body{
        UuidToS(n.id), n.title, n.text, static_cast<std::int32_t>(n.type),
        std::chrono::duration_cast<std::chrono::milliseconds>(n.time.time_since_epoch()).count()};
    Message m;
    m.kind = MessageKind::Notification;
    m.payload = encodeUserNotification(body);
    Frame frame = encode(m);
    // Notifications may be issued on any thread; the client list is the loop's.
    self->context_->loop()->post("SubscriptionHub::notification", [weak, frame](const std::shared_ptr<EntityContext>&) {
      auto hub = weak.lock();
      if (!hub) return;
      for (auto& [id, client] : hub->clients_) {
        if (auto sink = client.sink.lock()) sink->send(frame);
      }
    });
  });
}

void SubscriptionHub::stop() {
  context_->jobs()->setAfterJobHook(nullptr);
  fired_.disconnect();
  notified_.disconnect();
}

void SubscriptionHub::attach(std::uint64_t clientId, std::weak_ptr<IClientSink> sink) {
  std::weak_ptr<SubscriptionHub> weak = shared_from_this();
  context_->loop()->post("SubscriptionHub::attach", [weak, clientId, sink](const std::shared_ptr<EntityContext>&) {
    if (auto self = weak.lock()) self->clients_[clientId].sink = sink;
  });
}

void SubscriptionHub::detach(std::uint64_t clientId) {
  std::weak_ptr<SubscriptionHub> weak = shared_from_this();
  context_->loop()->post("SubscriptionHub::detach", [weak, clientId](const std::shared_ptr<EntityContext>& c) {
    auto self = weak.lock();
    if (!self) return;
    auto it = self->clients_.find(clientId);
    if (it == self->clients_.end()) return;
    Client client = std::move(it->second);
    self->clients_.erase(it);
    self->releaseBatches(clientId, client);
    for (const auto& id : client.ids) self->unwatchById(clientId, id);
    for (const auto& cls : client.classes) {
      auto& h = self->hooks(cls);
      --h.classSubscribers;
      c->db()->forEachOfClass(cls, [&](Entity* e) { self->unwatch(e->id()); });
    }
  });
}

std::optional<SubscriptionHub::Args> SubscriptionHub::readArgs(const KspRequest& request) {
  const auto& bytes = request.payload();
  if (bytes.size() <= sizeof(flatbuffers::uoffset_t)) return std::nullopt;
  flatbuffers::Verifier verifier(bytes.data(), bytes.size(), 64, 1000000);
  if (!verifier.VerifyBuffer<wire::SubscriptionArgs>(nullptr)) return std::nullopt;
  const auto* table = flatbuffers::GetRoot<wire::SubscriptionArgs>(bytes.data());
  if (checkWireValues(*table)) return std::nullopt;
  Args args;
  if (table->ids())
    for (const auto* s : *table->ids()) args.ids.push_back(s->str());
  if (table->class_names())
    for (const auto* s : *table->class_names()) args.classes.push_back(s->str());
  if (args.ids.empty() && args.classes.empty()) return std::nullopt;
  args.batchInterval = std::chrono::milliseconds(table->batch_interval_ms());
  if (args.batchInterval > MAX_BATCH_INTERVAL) return std::nullopt;
  return args;
}

void SubscriptionHub::subscribe(Replier replier, Request request) {
  auto args = readArgs(*request);
  if (!args) return replyStatus(replier, request, KspStatus::BadRequest);
  std::weak_ptr<SubscriptionHub> weak = shared_from_this();
  context_->loop()->post("SubscriptionHub::subscribe",
                         [weak, replier, request, args = std::move(*args)](const std::shared_ptr<EntityContext>&) {
                           if (auto self = weak.lock()) self->apply(true, replier, request, args);
                         });
}

void SubscriptionHub::unsubscribe(Replier replier, Request request) {
  auto args = readArgs(*request);
  if (!args) return replyStatus(replier, request, KspStatus::BadRequest);
  std::weak_ptr<SubscriptionHub> weak = shared_from_this();
  context_->loop()->post("SubscriptionHub::unsubscribe",
                         [weak, replier, request, args = std::move(*args)](const std::shared_ptr<EntityContext>&) {
                           if (auto self = weak.lock()) self->apply(false, replier, request, args);
                         });
}

void SubscriptionHub::apply(bool subscribing, const std::weak_ptr<IKspReplier>& replier,
                            const std::shared_ptr<KspRequest>& request, const Args& args) {
  auto& db = *context_->db();
  auto clientIt = clients_.find(request->clientId());
  if (clientIt == clients_.end()) return replyStatus(replier, request, KspStatus::NotFound);
  Client& client = clientIt->second;
  // Check everything first, so a bad entry subscribes nothing.
  std::vector<Uuid> ids;
  for (const auto& text : args.ids) {
    try {
      ids.push_back(UuidFromS(text));
    } catch (const std::exception&) {
      return replyStatus(replier, request, KspStatus::BadRequest);
    }
    if (subscribing && !db.find(ids.back())) return replyStatus(replier, request, KspStatus::NotFound);
  }
  for (const auto& cls : args.classes) {
    if (!db.serializer<EntityFlatbufferSerializer>(cls)) return replyStatus(replier, request, KspStatus::NotFound);
  }
  if (subscribing && args.batchInterval.count() > 0) client.batchInterval = args.batchInterval;
  for (const auto& id : ids) {
    if (subscribing) {
      if (client.ids.insert(id).second) watchById(request->clientId(), db.find(id));
    } else if (client.ids.erase(id)) {
      unwatchById(request->clientId(), id);
    }
  }
  for (const auto& cls : args.classes) {
    if (subscribing) {
      if (!client.classes.insert(cls).second) continue;
      ++hooks(cls).classSubscribers;
      db.forEachOfClass(cls, [&](Entity* e) { watch(e); });
    } else if (client.classes.erase(cls)) {
      --hooks(cls).classSubscribers;
      db.forEachOfClass(cls, [&](Entity* e) { unwatch(e->id()); });
    }
  }
  getLogger(HOST_LOGGER)
      ->debug("Client {} {} {} ids, {} classes", request->clientId(),
              subscribing ? "subscribed to" : "unsubscribed from", ids.size(), args.classes.size());
  replyStatus(replier, request, KspStatus::Ok);
}

SubscriptionHub::ClassHooks& SubscriptionHub::hooks(const std::string& className) {
  auto it = classHooks_.find(className);
  if (it != classHooks_.end()) return it->second;
  auto& h = classHooks_[className];
  auto& db = *context_->db();
  h.added = db.onAdded(className, [this, className](Entity* e) {
    auto found = classHooks_.find(className);
    if (found == classHooks_.end() || found->second.classSubscribers <= 0) return;
    for (int i = 0; i < found->second.classSubscribers; ++i) watch(e);
    markDirty(e);
  });
  h.removed = db.onRemoved(className, [this](Entity* e) { entityRemoved(e); });
  return h;
}

void SubscriptionHub::watch(Entity* entity) {
  if (!entity) return;
  hooks(std::string(entity->className()));
  auto& w = watches_[entity->id()];
  if (w.refs++ == 0) {
    w.entity = entity;
    w.changed = entity->onChanged([this, &w](Entity*, std::string_view, bool) { markDirty(w); });
  }
}

void SubscriptionHub::unwatch(const Uuid& id) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  if (--it->second.refs <= 0) eraseWatch(it);
}

void SubscriptionHub::eraseWatch(Watches::iterator it) {
  Watch& w = it->second;
  if (w.dirty) std::erase(dirty_, &w);
  forgetPending(w);
  watches_.erase(it);
}

void SubscriptionHub::forgetPending(Watch& watch) {
  for (const auto& p : watch.pendingIn) {
    auto it = clients_.find(p.client);
    if (it == clients_.end()) continue;
    for (Batch* batch : {it->second.batch.get(), it->second.sending.get()}) {
      if (batch && batch->holds(p, p.client)) {
        batch->drop(p.slot);
        break;
      }
    }
  }
  watch.pendingIn.clear();
  watch.latest = nullptr;
}

void SubscriptionHub::releaseBatches(std::uint64_t clientId, Client& client) {
  if (client.sending) client.sending->release(clientId);
  if (client.batch) client.batch->release(clientId);
}

void SubscriptionHub::watchById(std::uint64_t clientId, Entity* entity) {
  if (!entity) return;
  watch(entity);
  watches_[entity->id()].byId.push_back(clientId);
}

void SubscriptionHub::unwatchById(std::uint64_t clientId, const Uuid& id) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  std::erase(it->second.byId, clientId);
  unwatch(id);
}

void SubscriptionHub::markDirty(Entity* entity) {
  // Only watched entities have recipients; their removal hook keeps the
  // watch from outliving the entity.
  if (!entity) return;
  if (auto it = watches_.find(entity->id()); it != watches_.end()) markDirty(it->second);
}

void SubscriptionHub::markDirty(Watch& watch) {
  if (watch.dirty) return;
  watch.dirty = true;
  dirty_.push_back(&watch);
}

void SubscriptionHub::recipients(const Entity* entity, const Watch* watch, std::vector<std::uint64_t>& out) const {
  // The watch knows who asked for the entity by id; class subscribers are
  // few, and asked in turn.
  out.clear();
  if (watch) out = watch->byId;
  const auto cls = entity->className();
  for (const auto& [id, client] : clients_) {
    if (client.classes.empty() || client.classes.find(cls) == client.classes.end()) continue;
    if (std::find(out.begin(), out.end(), id) == out.end()) out.push_back(id);
  }
}

void SubscriptionHub::entityRemoved(Entity* entity) {
  auto it = watches_.find(entity->id());
  std::vector<std::uint64_t> to;
  recipients(entity, it == watches_.end() ? nullptr : &it->second, to);
  if (!to.empty()) {
    auto m = std::make_shared<Message>();
    m->kind = MessageKind::Deleted;
    m->route = std::string(entity->className());
    m->entityId = entity->strId();
    deletions_.push_back(Deletion{std::move(m), std::move(to)});
  }
  for (auto& [id, client] : clients_) client.ids.erase(entity->id());
  if (it != watches_.end()) eraseWatch(it);
}

void SubscriptionHub::flush() {
  if (dirty_.empty() && deletions_.empty()) return;
  auto dirty = std::move(dirty_);
  dirty_.clear();
  for (Watch* w : dirty) w->dirty = false;
  auto deletions = std::move(deletions_);
  deletions_.clear();
  // Deletions first: an entity deleted and added again in the same job
  // (an undo) ends up present.
  for (const auto& d : deletions) deliverDeletion(d.to, d.message);
  auto& db = *context_->db();
  for (Watch* w : dirty) {
    Entity* entity = w->entity;
    recipients(entity, w, recipients_);
    if (recipients_.empty()) continue;
    auto serializer = db.serializer<EntityFlatbufferSerializer>(entity->className());
    if (!serializer) continue;
    auto m = std::make_shared<Message>();
    m->kind = MessageKind::Changed;
    m->route = std::string(entity->className());
    m->entityId = entity->strId();
    serializer->setOutputData(&m->payload);
    serializer->serialize(entity);
    serializer->setOutputData(nullptr);
    deliverChange(recipients_, *w, m);
  }
}

SubscriptionHub::Batch& SubscriptionHub::batchOf(std::uint64_t clientId, Client& client) {
  if (!client.batch) client.batch = std::make_unique<Batch>();
  Batch& batch = *client.batch;
  if (!batch.scheduled) {
    batch.scheduled = true;
    scheduleBatch(clientId, client.batchInterval);
  }
  return batch;
}

namespace {

// Sends the message at once to the recipients without batches (encoded once,
// for the first of them) and hands the batching ones to `batched`.
template <class Clients, class Batched>
void deliverTo(Clients& clients, const std::vector<std::uint64_t>& to, const Message& message, Batched batched) {
  Frame frame;
  for (auto id : to) {
    auto it = clients.find(id);
    if (it == clients.end()) continue;
    auto& client = it->second;
    if (client.batchInterval.count() != 0) {
      batched(id, client);
      continue;
    }
    if (!frame) frame = encode(message);
    if (auto sink = client.sink.lock()) sink->send(frame);
  }
}

}  // namespace

void SubscriptionHub::deliverChange(const std::vector<std::uint64_t>& to, Watch& watch, const Shared& message) {
  bool kept = false;  // once for all the batching clients
  deliverTo(clients_, to, *message, [&](std::uint64_t id, Client& client) {
    if (!kept) watch.latest = message;
    kept = true;
    batchOf(id, client).add(id, watch);
  });
}

void SubscriptionHub::deliverDeletion(const std::vector<std::uint64_t>& to, const Shared& message) {
  deliverTo(clients_, to, *message,
            [&](std::uint64_t id, Client& client) { batchOf(id, client).addDeletion(message); });
}

void SubscriptionHub::scheduleBatch(std::uint64_t clientId, std::chrono::milliseconds interval) {
  std::weak_ptr<SubscriptionHub> weak = shared_from_this();
  // When due, the batch is sent from the loop's background lane: for a
  // watcher of thousands of entities it is megabytes, and a client's request
  // (a fader move) should not wait behind the batches of every watcher.
  context_->loop()->postAfter(interval, "SubscriptionHub::batch",
                              [weak, clientId](const std::shared_ptr<EntityContext>&) {
                                static const Uuid dueKey = nameUuid(Uuid{}, "fennik::server::Subscription batch");
                                if (auto self = weak.lock())
                                  self->postInBackground(clientId, dueKey, &SubscriptionHub::sendBatch);
                              });
}

void SubscriptionHub::postInBackground(std::uint64_t clientId, const Uuid& key,
                                       void (SubscriptionHub::*step)(std::uint64_t)) {
  std::weak_ptr<SubscriptionHub> weak = shared_from_this();
  Uuid client{};
  std::memcpy(client.data, &clientId, sizeof clientId);
  context_->loop()->post(
      client, key, "SubscriptionHub::batch",
      [weak, clientId, step](const std::shared_ptr<EntityContext>&) {
        if (auto self = weak.lock()) ((*self).*step)(clientId);
      },
      JobLoop::Lane::Background);
}

void SubscriptionHub::sendBatch(std::uint64_t clientId) {
  auto it = clients_.find(clientId);
  if (it == clients_.end()) return;
  Client& client = it->second;
  // While the previous batch is still on its way, this one keeps collecting
  // (the latest state of each entity): a client that reads slowly gets fewer,
  // fuller batches instead of a queue that grows until it is disconnected.
  // Its slices must also all be out first, or an older state could arrive
  // after a newer one.
  const auto sink = client.sink.lock();
  if ((client.sending && client.sending->unsent()) || (sink && sink->waitingBytes() > 0)) {
    scheduleBatch(clientId, client.batchInterval);
    return;
  }
  if (!client.batch) return;
  // The collected batch goes out; the sent one, empty now, collects the next.
  std::swap(client.batch, client.sending);
  if (!client.batch) client.batch = std::make_unique<Batch>();
  client.batch->restart(client.sending->generation + 1);
  sendSlice(clientId);
}

void SubscriptionHub::sendSlice(std::uint64_t clientId) {
  auto it = clients_.find(clientId);
  if (it == clients_.end() || !it->second.sending) return;
  Client& client = it->second;
  Batch& sending = *client.sending;
  std::vector<Shared> states;
  std::size_t bytes = 0;
  while (sending.unsent() && (states.empty() || bytes < BATCH_SLICE_BYTES)) {
    if (Shared state = sending.sendNext(clientId)) {
      bytes += state->payload.size() + state->entityId.size();
      states.push_back(std::move(state));
    }
  }
  if (!states.empty()) {
    std::vector<const Message*> changes;
    changes.reserve(states.size());
    for (const auto& state : states) changes.push_back(state.get());
    Message m;
    m.kind = MessageKind::Changes;
    m.payload = encodeChangeBatch(changes);
    if (auto sink = client.sink.lock()) sink->send(encode(m));
  }
  if (sending.unsent()) {
    static const Uuid sliceKey = nameUuid(Uuid{}, "fennik::server::Subscription batch slice");
    postInBackground(clientId, sliceKey, &SubscriptionHub::sendSlice);
    return;
  }
  sending.restart(sending.generation);
}

}  // namespace fennik::server::net
