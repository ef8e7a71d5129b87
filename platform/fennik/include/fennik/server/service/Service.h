#pragma once
// Base of every service: constructed with the database, the event loop and
// the service resolver; takes part in the project life cycle through the
// project-module hooks, which do nothing unless a service overrides them.

#include <memory>
#include <string>

namespace fennik::server {

class Database;
class EntityContext;
class FileContainer;
class ServiceResolver;
template <class Context>
class QueuedAccessor;

using EntityLoop = QueuedAccessor<EntityContext>;

class ISingleton {
 public:
  virtual ~ISingleton() = default;
};

// Hooks of the project life cycle, called by the host in resolver order.
class ProjectModule {
 public:
  virtual ~ProjectModule() = default;
  virtual void initialize() {}
  // Before an opened project replaces the running one: its entities, read
  // and resolved in a database of their own. Throws (std::exception with the
  // reason) when this service could not load them; the running project then
  // stays as it is.
  virtual void checkLoad(const Database& /*incoming*/) const {}
  virtual void load(FileContainer& /*container*/) {}
  virtual void loaded() {}
  virtual void loadedFinished() {}
  virtual void beforeSave() {}
  virtual void save(FileContainer& /*container*/) {}
  virtual void unload() {}
  virtual void unloaded() {}
  virtual void shutdown() {}
  virtual void commit() {}
  virtual void rollback() {}
};

class Service : public ProjectModule, public ISingleton {
 public:
  Service(std::shared_ptr<Database> db, std::shared_ptr<EntityLoop> loop, std::shared_ptr<ServiceResolver> services);
  ~Service() override;

  const std::shared_ptr<Database>& db() const { return db_; }
  const std::shared_ptr<EntityLoop>& loop() const { return loop_; }
  // The resolver is held weakly: it owns the services.
  std::shared_ptr<ServiceResolver> services() const { return services_.lock(); }

  // The host default is the demangled class name.
  virtual std::string serviceName() const;

 private:
  std::shared_ptr<Database> db_;
  std::shared_ptr<EntityLoop> loop_;
  std::weak_ptr<ServiceResolver> services_;
};

}  // namespace fennik::server
