#include "fennik/server/ksp/IKspDispatcher.h"

#include "fennik/server/core/Logging.h"

namespace fennik::server {

void KspDispatcher::mount(std::shared_ptr<IKspController> controller) {
  if (!controller) return;
  std::lock_guard lock(mutex_);
  routes_[controller->route()] = std::move(controller);
}

void KspDispatcher::unmount(const std::shared_ptr<IKspController>& controller) {
  if (!controller) return;
  std::lock_guard lock(mutex_);
  auto it = routes_.find(controller->route());
  if (it != routes_.end() && it->second == controller) routes_.erase(it);
}

std::shared_ptr<IKspController> KspDispatcher::find(const std::string& route) const {
  std::lock_guard lock(mutex_);
  auto it = routes_.find(route);
  return it == routes_.end() ? nullptr : it->second;
}

std::size_t KspDispatcher::size() const {
  std::lock_guard lock(mutex_);
  return routes_.size();
}

std::vector<std::string> KspDispatcher::routes() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  names.reserve(routes_.size());
  for (const auto& [name, controller] : routes_) names.push_back(name);
  return names;
}

void KspDispatcher::dispatch(std::weak_ptr<IKspReplier> replier, std::shared_ptr<KspRequest> request) {
  auto controller = find(request->route());
  if (!controller) {
    getLogger(HOST_LOGGER)->debug("Request {} for unknown route '{}'", request->id(), request->route());
    replyStatus(replier, request, KspStatus::NotFound);
    return;
  }
  try {
    controller->handle(replier, request);
  } catch (const KspNetworkException& e) {
    getLogger(HOST_LOGGER)
        ->debug("Request {} {} {}{}: status {}", request->id(), toString(request->method()), request->route(),
                request->path(), static_cast<int>(e.status()));
    replyStatus(replier, request, e.status());
  } catch (const std::exception& e) {
    getLogger(HOST_LOGGER)
        ->error("Request {} {} {}{} failed: {}", request->id(), toString(request->method()), request->route(),
                request->path(), e.what());
    replyStatus(replier, request, KspStatus::InternalError);
  }
}

}  // namespace fennik::server
