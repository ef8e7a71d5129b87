#pragma once
// A hand-driven entity context with the generated services, for benchmarks.

#include "model/GeneratedServices.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <memory>

namespace qor::bench {

inline std::shared_ptr<fennik::server::EntityContext> makeContext() {
  auto context = fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual);
  qor::server::addGeneratedServices(context);
  return context;
}

}  // namespace qor::bench
