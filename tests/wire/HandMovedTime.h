#pragma once
// A clock the test moves by hand, for servers whose loop timers must run
// when the test says. A fixture derives from it before its server fixture,
// so the clock exists when the server takes it.

#include "fennik/server/loop/Clock.h"

#include <memory>

namespace qor::testing {

struct HandMovedTime {
  std::shared_ptr<fennik::server::ManualClock> clock = std::make_shared<fennik::server::ManualClock>();
};

}  // namespace qor::testing
