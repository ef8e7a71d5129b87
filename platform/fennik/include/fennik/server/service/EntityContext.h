#pragma once
// Everything model work needs: the database, the services, the event loop
// (a QueuedAccessor of this context), the schema migrations, and the host's
// notification, subscription and keyword services.

#include "fennik/server/loop/QueuedAccessor.h"

#include <memory>

namespace fennik::server {

class Database;
class KeywordService;
class Migrations;
class NotificationService;
class ServiceResolver;
class SubscriptionService;

class EntityContext : public std::enable_shared_from_this<EntityContext> {
 public:
  // A context with its own loop. Threaded loops must be started by the host.
  static std::shared_ptr<EntityContext> create(JobLoop::Mode mode,
                                               std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>());
  ~EntityContext();

  const std::shared_ptr<Database>& db() const { return db_; }
  const std::shared_ptr<ServiceResolver>& services() const { return services_; }
  const std::shared_ptr<QueuedAccessor<EntityContext>>& loop() const { return loop_; }
  const std::shared_ptr<JobLoop>& jobs() const { return jobs_; }
  Migrations& migrations() const { return *migrations_; }
  const std::shared_ptr<NotificationService>& notifications() const { return notifications_; }
  const std::shared_ptr<SubscriptionService>& subscriptions() const { return subscriptions_; }
  // The keywords modules offer to control surfaces; the host owns the list.
  const std::shared_ptr<KeywordService>& keywords() const { return keywords_; }

 private:
  EntityContext() = default;

  std::shared_ptr<JobLoop> jobs_;
  std::shared_ptr<QueuedAccessor<EntityContext>> loop_;
  std::shared_ptr<Database> db_;
  std::shared_ptr<ServiceResolver> services_;
  std::shared_ptr<Migrations> migrations_;
  std::shared_ptr<NotificationService> notifications_;
  std::shared_ptr<SubscriptionService> subscriptions_;
  std::shared_ptr<KeywordService> keywords_;
};

}  // namespace fennik::server
