#pragma once
// A network controller: one route (an entity class name, or a command route
// such as "qor::server::Livesound"), the generic entity operations and any
// number of custom methods keyed by (method, path). Handlers run on the
// network thread; model work is posted to the event loop.

#include "fennik/server/ksp/Ksp.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace fennik::server {

class EntityContext;

class IKspController {
 public:
  using Replier = std::weak_ptr<IKspReplier>;
  using Request = std::shared_ptr<KspRequest>;
  using Handler = std::function<void(Replier, Request)>;

  explicit IKspController(std::string route) : route_(std::move(route)) {}
  virtual ~IKspController() = default;
  IKspController(const IKspController&) = delete;
  IKspController& operator=(const IKspController&) = delete;

  const std::string& route() const { return route_; }

  // Routes a request by method (and path for custom methods). Throws
  // KspNetworkException for what the controller does not offer.
  virtual void handle(Replier replier, Request request);

  // Generic entity operations; not offered unless overridden (501).
  virtual void show(Replier replier, Request request);
  virtual void index(Replier replier, Request request);
  virtual void create(Replier replier, Request request);
  virtual void update(Replier replier, Request request);
  virtual void destroy(Replier replier, Request request);
  virtual void subscribe(Replier replier, Request request);
  virtual void unsubscribe(Replier replier, Request request);

  // Registers a handler for (method, path); registering again replaces it.
  void addCustomMethod(KspMethod method, const std::string& path, Handler handler);
  bool hasCustomMethod(KspMethod method, const std::string& path) const;
  // Takes a handler back out; empty when none is registered for (method, path).
  Handler removeCustomMethod(KspMethod method, const std::string& path);
  // The paths of the custom methods in the order they were first registered.
  std::vector<std::string> customPaths() const;

 private:
  std::string route_;
  mutable std::mutex mutex_;
  std::map<std::pair<KspMethod, std::string>, Handler> custom_;
  std::vector<std::pair<KspMethod, std::string>> order_;
};

// A controller of a feature module: the module injects its entity context.
class IFennikController : public IKspController {
 public:
  using IKspController::IKspController;

  void inject(std::shared_ptr<EntityContext> context) { context_ = std::move(context); }
  const std::shared_ptr<EntityContext>& entityContext() const { return context_; }

 private:
  std::shared_ptr<EntityContext> context_;
};

}  // namespace fennik::server
