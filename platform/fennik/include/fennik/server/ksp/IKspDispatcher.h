#pragma once
// The host's request dispatcher: controllers are mounted under their route
// names; a request goes to the controller of its route. A status carried out
// of a handler by KspNetworkException, or any other failure, becomes a reply.

#include "fennik/server/ksp/IKspController.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace fennik::server {

class IKspDispatcher {
 public:
  virtual ~IKspDispatcher() = default;
  // Mounting a route that is already mounted replaces its controller.
  virtual void mount(std::shared_ptr<IKspController> controller) = 0;
  virtual void unmount(const std::shared_ptr<IKspController>& controller) = 0;
  virtual void dispatch(std::weak_ptr<IKspReplier> replier, std::shared_ptr<KspRequest> request) = 0;
};

class KspDispatcher : public IKspDispatcher {
 public:
  void mount(std::shared_ptr<IKspController> controller) override;
  void unmount(const std::shared_ptr<IKspController>& controller) override;
  void dispatch(std::weak_ptr<IKspReplier> replier, std::shared_ptr<KspRequest> request) override;

  std::shared_ptr<IKspController> find(const std::string& route) const;
  std::size_t size() const;
  std::vector<std::string> routes() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<IKspController>> routes_;
};

}  // namespace fennik::server
