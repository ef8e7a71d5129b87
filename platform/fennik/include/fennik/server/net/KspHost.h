#pragma once
// The host side of Ksp, assembled once for the server program, the wire
// tests and the wire benchmark: the entity context with its loop thread, the
// singletons a module looks up, the dispatcher with the host's own routes
// (subscriptions, entity lookup), the subscription hub, and, once serving,
// the WebSocket server. The module itself is the caller's: it registers its
// controllers with the dispatcher found among the singletons.

#include "fennik/server/core/SingletonRegistry.h"
#include "fennik/server/ksp/IKspDispatcher.h"
#include "fennik/server/net/KspServer.h"
#include "fennik/server/net/SubscriptionHub.h"
#include "fennik/server/service/EntityContext.h"

#include <memory>

namespace fennik::server::net {

class KspHost {
 public:
  // Starts the loop thread and the hub, and mounts the host routes. The
  // loop's timers follow `clock` (tests pass a ManualClock to let timed work
  // run without waiting).
  explicit KspHost(std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>());
  // Stops serving, then the loop and the hub.
  ~KspHost();
  KspHost(const KspHost&) = delete;
  KspHost& operator=(const KspHost&) = delete;

  // Listens and serves; throws std::runtime_error when it cannot listen.
  void serve(const KspServerOptions& options);
  // Closes every connection; the loop keeps running.
  void stopServing();
  // Stops serving, runs the jobs still queued and stops the loop and the hub.
  void shutdown();

  const std::shared_ptr<SingletonRegistry>& globals() const { return globals_; }
  const std::shared_ptr<EntityContext>& context() const { return context_; }
  const std::shared_ptr<KspDispatcher>& dispatcher() const { return dispatcher_; }
  const std::shared_ptr<SubscriptionHub>& hub() const { return hub_; }
  // Null until serve().
  KspServer* server() const { return server_.get(); }

 private:
  std::shared_ptr<SingletonRegistry> globals_;
  std::shared_ptr<EntityContext> context_;
  std::shared_ptr<KspDispatcher> dispatcher_;
  std::shared_ptr<SubscriptionHub> hub_;
  std::unique_ptr<KspServer> server_;
  bool running_ = true;
};

}  // namespace fennik::server::net
