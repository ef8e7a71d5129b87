#include "fennik/server/net/Envelope.h"

#include "fennik/wire/Ksp_generated.h"

#include "fennik/server/ksp/WireValues.h"

namespace fennik::server::net {

namespace {

constexpr flatbuffers::uoffset_t MAX_DEPTH = 64;
constexpr flatbuffers::uoffset_t MAX_TABLES = 1000000;

std::string text(const flatbuffers::String* s) { return s ? s->str() : std::string(); }

template <class Table>
const Table* verified(std::span<const std::uint8_t> bytes) {
  if (bytes.size() <= sizeof(flatbuffers::uoffset_t)) return nullptr;
  flatbuffers::Verifier verifier(bytes.data(), bytes.size(), MAX_DEPTH, MAX_TABLES);
  if (!verifier.VerifyBuffer<Table>(nullptr)) return nullptr;
  const Table* table = flatbuffers::GetRoot<Table>(bytes.data());
  // Structure and values: UTF-8 strings within the limit, finite numbers.
  if (checkWireValues(*table)) return nullptr;
  return table;
}

std::string_view textView(const flatbuffers::String* s) { return s ? s->string_view() : std::string_view(); }

std::span<const std::uint8_t> bytesOf(const flatbuffers::Vector<std::uint8_t>* v) {
  return v ? std::span<const std::uint8_t>(v->data(), v->size()) : std::span<const std::uint8_t>();
}

Message toMessage(const MessageView& v) {
  Message m;
  m.kind = v.kind;
  m.requestId = v.requestId;
  m.route = std::string(v.route);
  m.method = v.method;
  m.path = std::string(v.path);
  m.entityId = std::string(v.entityId);
  m.responseRequired = v.responseRequired;
  m.status = v.status;
  m.payload.assign(v.payload.begin(), v.payload.end());
  return m;
}

std::vector<std::string> texts(const flatbuffers::Vector<flatbuffers::Offset<flatbuffers::String>>* v) {
  std::vector<std::string> out;
  if (!v) return out;
  out.reserve(v->size());
  for (const auto* s : *v) out.push_back(text(s));
  return out;
}

}  // namespace

const char* toString(MessageKind kind) {
  switch (kind) {
    case MessageKind::Request:
      return "request";
    case MessageKind::Response:
      return "response";
    case MessageKind::Changed:
      return "changed";
    case MessageKind::Deleted:
      return "deleted";
    case MessageKind::Notification:
      return "notification";
    case MessageKind::Changes:
      return "changes";
  }
  return "unknown";
}

Frame encode(const Message& m) {
  flatbuffers::FlatBufferBuilder b(256 + m.payload.size());
  auto route = m.route.empty() ? 0 : b.CreateString(m.route);
  auto path = m.path.empty() ? 0 : b.CreateString(m.path);
  auto entityId = m.entityId.empty() ? 0 : b.CreateString(m.entityId);
  auto payload = m.payload.empty() ? 0 : b.CreateVector(m.payload);
  wire::EnvelopeBuilder e(b);
  e.add_kind(static_cast<wire::MessageKind>(m.kind));
  e.add_request_id(m.requestId);
  if (!route.IsNull()) e.add_route(route);
  e.add_method(m.method);
  if (!path.IsNull()) e.add_path(path);
  if (!entityId.IsNull()) e.add_entity_id(entityId);
  e.add_response_required(m.responseRequired);
  e.add_status(m.status);
  if (!payload.IsNull()) e.add_payload(payload);
  b.Finish(e.Finish());
  return std::make_shared<const KspBytes>(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

std::optional<MessageView> view(const std::uint8_t* data, std::size_t size) {
  if (!data || size <= sizeof(flatbuffers::uoffset_t)) return std::nullopt;
  flatbuffers::Verifier verifier(data, size, MAX_DEPTH, MAX_TABLES);
  if (!wire::VerifyEnvelopeBuffer(verifier)) return std::nullopt;
  const auto* e = wire::GetEnvelope(data);
  // Route, path and entity id: the payload's own values are checked by the
  // handler that knows its table.
  for (const auto* s : {e->route(), e->path(), e->entity_id()}) {
    if (s && checkWireString(s->string_view(), "envelope text")) return std::nullopt;
  }
  const auto kind = static_cast<std::int8_t>(e->kind());
  if (kind < 0 || kind > static_cast<std::int8_t>(MessageKind::Changes)) return std::nullopt;
  return MessageView{static_cast<MessageKind>(kind),
                     e->request_id(),
                     textView(e->route()),
                     e->method(),
                     textView(e->path()),
                     textView(e->entity_id()),
                     e->response_required(),
                     e->status(),
                     bytesOf(e->payload())};
}

std::optional<Message> decode(const std::uint8_t* data, std::size_t size) {
  auto v = view(data, size);
  if (!v) return std::nullopt;
  return toMessage(*v);
}

KspBytes encodeSubscriptionArgs(const std::vector<std::string>& ids, const std::vector<std::string>& classNames,
                                std::uint32_t batchIntervalMs) {
  flatbuffers::FlatBufferBuilder b(256);
  auto i = b.CreateVectorOfStrings(ids);
  auto c = b.CreateVectorOfStrings(classNames);
  b.Finish(wire::CreateSubscriptionArgs(b, i, c, batchIntervalMs));
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

KspBytes encodeChangeBatch(const std::vector<const Message*>& changes) {
  std::size_t size = 256;
  for (const Message* m : changes) size += m->payload.size() + m->route.size() + m->entityId.size() + 64;
  flatbuffers::FlatBufferBuilder b(size);
  std::vector<flatbuffers::Offset<wire::Envelope>> items;
  items.reserve(changes.size());
  for (const Message* m : changes) {
    auto route = b.CreateSharedString(m->route);
    auto entityId = b.CreateString(m->entityId);
    auto payload = m->payload.empty() ? 0 : b.CreateVector(m->payload);
    wire::EnvelopeBuilder e(b);
    e.add_kind(static_cast<wire::MessageKind>(m->kind));
    e.add_route(route);
    e.add_entity_id(entityId);
    if (!payload.IsNull()) e.add_payload(payload);
    items.push_back(e.Finish());
  }
  b.Finish(wire::CreateChangeBatch(b, b.CreateVector(items)));
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

bool forEachChange(std::span<const std::uint8_t> payload, const std::function<void(const MessageView&)>& visit) {
  const auto* batch = verified<wire::ChangeBatch>(payload);
  if (!batch) return false;
  const auto* changes = batch->changes();
  if (!changes) return true;
  for (const auto* e : *changes) {
    if (e->kind() != wire::MessageKind::Changed && e->kind() != wire::MessageKind::Deleted) return false;
  }
  for (const auto* e : *changes) {
    MessageView v;
    v.kind = static_cast<MessageKind>(e->kind());
    v.route = textView(e->route());
    v.entityId = textView(e->entity_id());
    v.payload = bytesOf(e->payload());
    visit(v);
  }
  return true;
}

std::optional<std::vector<Message>> decodeChangeBatch(const KspBytes& payload) {
  std::vector<Message> out;
  if (!forEachChange(payload, [&](const MessageView& v) { out.push_back(toMessage(v)); })) return std::nullopt;
  return out;
}

KspBytes encodeStringList(const std::vector<std::string>& items) {
  flatbuffers::FlatBufferBuilder b(256);
  b.Finish(wire::CreateStringList(b, b.CreateVectorOfStrings(items)));
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

std::optional<std::vector<std::string>> decodeStringList(const KspBytes& payload) {
  const auto* list = verified<wire::StringList>(payload);
  if (!list) return std::nullopt;
  return texts(list->items());
}

KspBytes encodeProjectPathArgs(const std::string& path) {
  flatbuffers::FlatBufferBuilder b(256);
  b.Finish(wire::CreateProjectPathArgs(b, b.CreateString(path)));
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

std::optional<std::string> decodeProjectPathArgs(const KspBytes& payload) {
  const auto* args = verified<wire::ProjectPathArgs>(payload);
  if (!args) return std::nullopt;
  return args->path() ? args->path()->str() : std::string();
}

KspBytes encodeProjectReply(const ProjectReplyMessage& reply) {
  flatbuffers::FlatBufferBuilder b(256);
  const auto file = b.CreateString(reply.file);
  const auto schema = b.CreateString(reply.schemaVersion);
  const auto error = b.CreateString(reply.error);
  b.Finish(wire::CreateProjectReply(b, file, reply.open, schema, error));
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

std::optional<ProjectReplyMessage> decodeProjectReply(const KspBytes& payload) {
  const auto* r = verified<wire::ProjectReply>(payload);
  if (!r) return std::nullopt;
  const auto text = [](const flatbuffers::String* s) { return s ? s->str() : std::string(); };
  return ProjectReplyMessage{text(r->file()), r->open(), text(r->schema_version()), text(r->error())};
}

std::optional<std::vector<std::string>> decodeIdVector(const KspBytes& payload) {
  using Ids = flatbuffers::Vector<flatbuffers::Offset<flatbuffers::String>>;
  if (payload.size() < sizeof(flatbuffers::uoffset_t)) return std::nullopt;
  flatbuffers::Verifier verifier(payload.data(), payload.size(), MAX_DEPTH, MAX_TABLES);
  const auto root = flatbuffers::ReadScalar<flatbuffers::uoffset_t>(payload.data());
  if (root == 0 || root >= payload.size()) return std::nullopt;
  const auto* ids = flatbuffers::GetRoot<Ids>(payload.data());
  if (!verifier.VerifyVector(ids) || !verifier.VerifyVectorOfStrings(ids)) return std::nullopt;
  return texts(ids);
}

KspBytes encodeUserNotification(const UserNotificationMessage& n) {
  flatbuffers::FlatBufferBuilder b(256);
  auto id = b.CreateString(n.id);
  auto title = b.CreateString(n.title);
  auto body = b.CreateString(n.text);
  b.Finish(wire::CreateUserNotification(b, id, title, body, n.type, n.timeMs));
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

std::optional<UserNotificationMessage> decodeUserNotification(const KspBytes& payload) {
  const auto* n = verified<wire::UserNotification>(payload);
  if (!n) return std::nullopt;
  return UserNotificationMessage{text(n->id()), text(n->title()), text(n->text()), n->type(), n->time_ms()};
}

}  // namespace fennik::server::net
