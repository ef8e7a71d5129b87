#pragma once
// A hand-driven entity context with every generated service registered, for
// tests of the entity model and its services.

#include "model/GeneratedServices.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/service/EntityContext.h"
#include "fennik/server/service/ServiceResolver.h"

#include <gtest/gtest.h>

#include <memory>

namespace qor::server::testing {

class ModelFixture : public ::testing::Test {
 protected:
  ModelFixture() : context_(fennik::server::EntityContext::create(fennik::server::JobLoop::Mode::Manual)) {
    addGeneratedServices(context_);
  }
  ~ModelFixture() override { context_->services()->clear(); }

  template <class S>
  std::shared_ptr<S> service() const {
    auto s = context_->services()->get<S>();
    EXPECT_TRUE(s) << "service not registered";
    return s;
  }
  fennik::server::Database& db() const { return *context_->db(); }
  const std::shared_ptr<fennik::server::EntityContext>& context() const { return context_; }

 private:
  std::shared_ptr<fennik::server::EntityContext> context_;
};

}  // namespace qor::server::testing
