#include "wire/EntityController.h"

namespace qor::server::wire {

using namespace fennik::server;

Uuid updateKey(std::string_view fieldName) {
  static const Uuid nameSpace = UuidFromS(UPDATE_KEY_NAMESPACE);
  return nameUuid(nameSpace, fieldName);
}

void logRefusedValues(const std::string& problem) {
  getLogger(MODULE_LOGGER)->warn("Request refused (400): {}", problem);
}

void buildIdVector(const std::vector<Entity*>& entities, KspBytes& out) {
  flatbuffers::FlatBufferBuilder b(1024);
  std::vector<flatbuffers::Offset<flatbuffers::String>> ids;
  ids.reserve(entities.size());
  for (const Entity* e : entities) ids.push_back(b.CreateString(e->strId()));
  b.Finish(b.CreateVector(ids));
  out.assign(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

void showJob(const std::shared_ptr<EntityContext>& context, const std::weak_ptr<IKspReplier>& replier,
             const std::shared_ptr<KspRequest>& request) {
  Uuid id;
  try {
    id = UuidFromS(request->entityId());
  } catch (const std::exception&) {
    getLogger(MODULE_LOGGER)->warn("IKspFbController:112 Bad show request with bad id");
    return replyStatus(replier, request, KspStatus::BadRequest);
  }
  Entity* entity = context->db()->find(id);
  auto serializer = entity ? context->db()->serializer<EntityFlatbufferSerializer>(entity->className()) : nullptr;
  if (!entity || !serializer) return replyStatus(replier, request, KspStatus::NotFound);
  if (!request->isResponseRequired()) {
    context->subscriptions()->fireChanged(entity);
    return;
  }
  auto response = request->respond();
  serializer->setOutputData(&response->payload());
  serializer->serialize(entity);
  serializer->setOutputData(nullptr);
  if (auto r = replier.lock()) r->reply(std::move(response));
}

void indexJob(const std::shared_ptr<EntityContext>& context, std::string_view className,
              const std::weak_ptr<IKspReplier>& replier, const std::shared_ptr<KspRequest>& request) {
  auto entities = context->db()->ofClass(className);
  if (!context->db()->serializer<EntityFlatbufferSerializer>(className)) {
    return replyStatus(replier, request, KspStatus::NotFound);
  }
  if (!request->isResponseRequired()) {
    for (Entity* e : entities) context->subscriptions()->fireChanged(e);
    return;
  }
  auto response = request->respond();
  buildIdVector(entities, response->payload());
  if (auto r = replier.lock()) r->reply(std::move(response));
}

}  // namespace qor::server::wire
