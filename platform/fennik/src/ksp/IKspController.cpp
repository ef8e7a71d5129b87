#include "fennik/server/ksp/IKspController.h"

namespace fennik::server {

void IKspController::handle(Replier replier, Request request) {
  switch (request->method()) {
    case KspMethod::Show:
      return show(std::move(replier), std::move(request));
    case KspMethod::Index:
      return index(std::move(replier), std::move(request));
    case KspMethod::Create:
      return create(std::move(replier), std::move(request));
    case KspMethod::Update:
      return update(std::move(replier), std::move(request));
    case KspMethod::Destroy:
      return destroy(std::move(replier), std::move(request));
    case KspMethod::Subscribe:
      return subscribe(std::move(replier), std::move(request));
    case KspMethod::Unsubscribe:
      return unsubscribe(std::move(replier), std::move(request));
    case KspMethod::Custom:
      break;
  }
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    auto it = custom_.find({request->method(), request->path()});
    if (it != custom_.end()) handler = it->second;
  }
  if (!handler) throw KspNetworkException(KspStatus::NotFound, "no method " + request->path() + " on " + route_);
  handler(std::move(replier), std::move(request));
}

void IKspController::show(Replier, Request) { throw KspNetworkException(KspStatus::NotImplemented); }
void IKspController::index(Replier, Request) { throw KspNetworkException(KspStatus::NotImplemented); }
void IKspController::create(Replier, Request) { throw KspNetworkException(KspStatus::NotImplemented); }
void IKspController::update(Replier, Request) { throw KspNetworkException(KspStatus::NotImplemented); }
void IKspController::destroy(Replier, Request) { throw KspNetworkException(KspStatus::NotImplemented); }
void IKspController::subscribe(Replier, Request) { throw KspNetworkException(KspStatus::NotImplemented); }
void IKspController::unsubscribe(Replier, Request) { throw KspNetworkException(KspStatus::NotImplemented); }

void IKspController::addCustomMethod(KspMethod method, const std::string& path, Handler handler) {
  std::lock_guard lock(mutex_);
  auto [it, added] = custom_.insert_or_assign({method, path}, std::move(handler));
  if (added) order_.push_back(it->first);
}

IKspController::Handler IKspController::removeCustomMethod(KspMethod method, const std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = custom_.find({method, path});
  if (it == custom_.end()) return {};
  Handler handler = std::move(it->second);
  custom_.erase(it);
  std::erase(order_, std::make_pair(method, path));
  return handler;
}

std::vector<std::string> IKspController::customPaths() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  paths.reserve(order_.size());
  for (const auto& key : order_) paths.push_back(key.second);
  return paths;
}

bool IKspController::hasCustomMethod(KspMethod method, const std::string& path) const {
  std::lock_guard lock(mutex_);
  return custom_.count({method, path}) > 0;
}

}  // namespace fennik::server
