#pragma once
// The host's subscription route and the change notifications it sends.
//
// Clients subscribe to entity ids and to whole classes. Changes of a watched
// entity are collected during a loop job and sent when the job ends, one
// "changed" message per entity however many fields the job wrote; entities
// that go away are announced as "deleted". A client that asked for batches
// (a batch interval at subscribe) instead gets one batch per interval holding
// the latest state of every entity that changed in it: one "changes" message,
// or several in a row when the batch is larger than BATCH_SLICE_BYTES.
// Each entity is serialized once per job whoever receives it. User
// notifications go to every client. All state lives on the event loop; the
// network side only posts.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/ksp/IKspController.h"
#include "fennik/server/net/Envelope.h"

#include <boost/signals2/connection.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace fennik::server {
class Entity;
class EntityContext;
}  // namespace fennik::server

namespace fennik::server::net {

// Where a client's messages go (the network session); thread-safe.
class IClientSink {
 public:
  virtual ~IClientSink() = default;
  virtual void send(Frame frame) = 0;
  // Bytes handed to send() that are not yet written to the connection.
  virtual std::size_t waitingBytes() const { return 0; }
};

class SubscriptionHub : public IKspController, public std::enable_shared_from_this<SubscriptionHub> {
 public:
  static constexpr const char* ROUTE = "fennik::server::Subscription";
  static constexpr std::chrono::milliseconds MAX_BATCH_INTERVAL{1000};
  // A batch is sent in "changes" messages of about this many payload bytes,
  // one loop job each: a watcher of thousands of meters gets megabytes per
  // batch, and a fader move should wait for one slice, not the whole batch.
  static constexpr std::size_t BATCH_SLICE_BYTES = 128 * 1024;

  explicit SubscriptionHub(std::shared_ptr<EntityContext> context);
  ~SubscriptionHub() override;

  // Hooks the hub into the loop (after-job flush) and the notification and
  // subscription services. Call once, before clients connect.
  void start();
  void stop();

  // Any thread: a client comes and goes.
  void attach(std::uint64_t clientId, std::weak_ptr<IClientSink> sink);
  void detach(std::uint64_t clientId);

  // Payload: SubscriptionArgs (ids, class names, batch interval). 200, or 400
  // for a bad payload or a batch interval above MAX_BATCH_INTERVAL, 404 when
  // an id names no entity or a class has no wire serializer (then nothing is
  // subscribed and the client's batching is unchanged).
  void subscribe(Replier replier, Request request) override;
  void unsubscribe(Replier replier, Request request) override;

  // Loop thread: sends what the current job changed. Runs after every job.
  void flush();

  // Loop thread, for diagnostics and tests.
  std::size_t clientCount() const { return clients_.size(); }
  std::size_t watchedEntityCount() const { return watches_.size(); }

 private:
  using Shared = std::shared_ptr<const Message>;
  // One batch of a batching client: the one collecting changes, or the one
  // being sent (defined where it is used).
  struct Batch;
  struct Client {
    std::weak_ptr<IClientSink> sink;
    std::unordered_set<Uuid, UuidHash> ids;
    std::set<std::string, std::less<>> classes;
    std::chrono::milliseconds batchInterval{0};  // zero: a message per change
    std::unique_ptr<Batch> batch;                // collecting; null until the client batches
    std::unique_ptr<Batch> sending;              // taken, and going out slice by slice
  };
  // A watched entity. Its node in watches_ stays where it is while the
  // entity is watched, so the change hook, the job's dirty list and the
  // batches point at it directly instead of looking the id up per change
  // and per client.
  struct Watch {
    Entity* entity = nullptr;
    boost::signals2::scoped_connection changed;
    int refs = 0;
    std::vector<std::uint64_t> byId;  // the clients that subscribed to it by id
    bool dirty = false;               // listed in dirty_ for the current job
    // The latest state, kept while a batch holds the entity, and the
    // batches that hold it: the client, which of its batches (a client's
    // collecting and sending batch may both hold it) and the entity's slot
    // in that batch.
    Shared latest;
    struct Pending {
      std::uint64_t client = 0;
      std::uint32_t generation = 0;
      std::uint32_t slot = 0;
    };
    std::vector<Pending> pendingIn;
  };
  using Watches = std::unordered_map<Uuid, Watch, UuidHash>;
  struct Deletion {
    Shared message;
    std::vector<std::uint64_t> to;
  };
  struct ClassHooks {
    boost::signals2::scoped_connection added;
    boost::signals2::scoped_connection removed;
    int classSubscribers = 0;
  };
  struct Args {
    std::vector<std::string> ids;
    std::vector<std::string> classes;
    std::chrono::milliseconds batchInterval{0};
  };

  static std::optional<Args> readArgs(const KspRequest& request);
  void apply(bool subscribe, const std::weak_ptr<IKspReplier>& replier, const std::shared_ptr<KspRequest>& request,
             const Args& args);
  void watch(Entity* entity);
  void unwatch(const Uuid& id);
  void eraseWatch(Watches::iterator it);
  void watchById(std::uint64_t clientId, Entity* entity);
  void unwatchById(std::uint64_t clientId, const Uuid& id);
  ClassHooks& hooks(const std::string& className);
  void markDirty(Entity* entity);
  void markDirty(Watch& watch);
  void entityRemoved(Entity* entity);
  // The clients that get the entity's changes, into out (cleared first).
  void recipients(const Entity* entity, const Watch* watch, std::vector<std::uint64_t>& out) const;
  // Sends the entity's state to clients: at once to those without
  // batching, into the batch of the others.
  void deliverChange(const std::vector<std::uint64_t>& to, Watch& watch, const Shared& message);
  void deliverDeletion(const std::vector<std::uint64_t>& to, const Shared& message);
  Batch& batchOf(std::uint64_t clientId, Client& client);
  // Drops the entity from every batch that holds it.
  void forgetPending(Watch& watch);
  // Lets go of every entity the client's batches hold.
  void releaseBatches(std::uint64_t clientId, Client& client);
  void sendBatch(std::uint64_t clientId);
  void sendSlice(std::uint64_t clientId);
  void postInBackground(std::uint64_t clientId, const Uuid& key, void (SubscriptionHub::*step)(std::uint64_t));
  void scheduleBatch(std::uint64_t clientId, std::chrono::milliseconds interval);

  std::shared_ptr<EntityContext> context_;
  std::map<std::uint64_t, Client> clients_;
  Watches watches_;
  std::map<std::string, ClassHooks, std::less<>> classHooks_;
  std::vector<Watch*> dirty_;
  std::vector<std::uint64_t> recipients_;  // reused by flush
  std::vector<Deletion> deletions_;
  boost::signals2::scoped_connection fired_;
  boost::signals2::scoped_connection notified_;
};

}  // namespace fennik::server::net
