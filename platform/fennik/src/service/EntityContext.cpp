#include "fennik/server/service/EntityContext.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/KeywordService.h"
#include "fennik/server/service/Migration.h"
#include "fennik/server/service/NotificationService.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/server/service/SubscriptionService.h"

namespace fennik::server {

std::shared_ptr<EntityContext> EntityContext::create(JobLoop::Mode mode, std::shared_ptr<Clock> clock) {
  std::shared_ptr<EntityContext> context(new EntityContext());
  context->jobs_ = std::make_shared<JobLoop>(mode, std::move(clock));
  context->loop_ = std::make_shared<QueuedAccessor<EntityContext>>(context->jobs_);
  context->loop_->attach(context);
  context->db_ = std::make_shared<Database>();
  context->services_ = std::make_shared<ServiceResolver>();
  context->migrations_ = std::make_shared<Migrations>();
  context->notifications_ = std::make_shared<NotificationService>();
  context->subscriptions_ = std::make_shared<SubscriptionService>();
  context->keywords_ = std::make_shared<KeywordService>(context->db_, context->loop_, context->services_);
  return context;
}

EntityContext::~EntityContext() {
  if (jobs_) jobs_->stop();
  // Services hold pointers into the database; they go first.
  if (services_) services_->clear();
}

}  // namespace fennik::server
