#pragma once
// The host's entity lookup: "show" with an entity id answers the entity's
// class name (a StringList of one), so a client that holds only an id knows
// which route shows it. 404 for an unknown id, 400 for text that is no id.

#include "fennik/server/ksp/IKspController.h"

#include <memory>

namespace fennik::server {
class EntityContext;
}

namespace fennik::server::net {

class EntityLookupRoute : public IKspController {
 public:
  static constexpr const char* ROUTE = "fennik::server::Entity";

  explicit EntityLookupRoute(std::shared_ptr<EntityContext> context);
  void show(Replier replier, Request request) override;

 private:
  std::shared_ptr<EntityContext> context_;
};

}  // namespace fennik::server::net
