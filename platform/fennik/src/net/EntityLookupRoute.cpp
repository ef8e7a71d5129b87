#include "fennik/server/net/EntityLookupRoute.h"

#include "fennik/server/core/Uuid.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/net/Envelope.h"
#include "fennik/server/service/EntityContext.h"

namespace fennik::server::net {

EntityLookupRoute::EntityLookupRoute(std::shared_ptr<EntityContext> context)
    : IKspController(ROUTE), context_(std::move(context)) {}

void EntityLookupRoute::show(Replier replier, Request request) {
  Uuid id;
  try {
    id = UuidFromS(request->entityId());
  } catch (const std::exception&) {
    return replyStatus(replier, request, KspStatus::BadRequest);
  }
  context_->loop()->post("EntityLookupRoute::show", [replier, request, id](const std::shared_ptr<EntityContext>& c) {
    Entity* entity = c->db()->find(id);
    if (!entity) return replyStatus(replier, request, KspStatus::NotFound);
    auto response = request->respond();
    response->payload() = encodeStringList({std::string(entity->className())});
    if (auto r = replier.lock()) r->reply(std::move(response));
  });
}

}  // namespace fennik::server::net
