#pragma once
// One-shot timeouts on the event loop's clock. Periodic work re-arms itself
// from its callback.

#include "fennik/server/core/Uuid.h"
#include "fennik/server/service/Service.h"

#include <chrono>
#include <functional>
#include <string>

namespace fennik::server {

class TimerService : public Service {
 public:
  using Service::Service;

  // Runs fn on the loop once `milliseconds` have passed; returns the timer id.
  Uuid createTimeout(int milliseconds, std::string label, std::function<void()> fn);
  // False when the timer already ran or is unknown.
  bool cancelTimeout(const Uuid& timerId);
};

}  // namespace fennik::server
