#include "fennik/server/net/KspHost.h"

#include "fennik/server/net/EntityLookupRoute.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/SubscriptionService.h"

namespace fennik::server::net {

KspHost::KspHost(std::shared_ptr<Clock> clock)
    : globals_(std::make_shared<SingletonRegistry>()),
      context_(EntityContext::create(JobLoop::Mode::Threaded, std::move(clock))),
      dispatcher_(std::make_shared<KspDispatcher>()),
      hub_(std::make_shared<SubscriptionHub>(context_)) {
  globals_->add(context_);
  globals_->add(context_->notifications());
  globals_->add(context_->subscriptions());
  globals_->add<IKspDispatcher>(dispatcher_);
  hub_->start();
  dispatcher_->mount(hub_);
  dispatcher_->mount(std::make_shared<EntityLookupRoute>(context_));
  context_->jobs()->start();
}

KspHost::~KspHost() { shutdown(); }

void KspHost::serve(const KspServerOptions& options) {
  stopServing();
  auto server = std::make_unique<KspServer>(options, dispatcher_, hub_);
  server->start();
  server_ = std::move(server);
}

void KspHost::stopServing() {
  if (!server_) return;
  server_->stop();
  server_.reset();
}

void KspHost::shutdown() {
  stopServing();
  if (!running_) return;
  running_ = false;
  context_->jobs()->stop();
  hub_->stop();
}

}  // namespace fennik::server::net
