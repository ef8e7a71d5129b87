#pragma once
// One Ksp envelope per WebSocket binary message: encoding and verified
// decoding. Frames are shared, so one change can go to many clients without
// being copied.

#include "fennik/server/ksp/Ksp.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fennik::server::net {

enum class MessageKind : std::int8_t {
  Request = 0,
  Response = 1,
  Changed = 2,
  Deleted = 3,
  Notification = 4,
  Changes = 5  // batched Changed and Deleted messages: decodeChangeBatch(payload)
};

const char* toString(MessageKind kind);

// A message of the wire: owning its texts and payload (Message), or read in
// place (MessageView), its texts and payload pointing into the bytes it was
// read from and valid while those are. A client that only looks at what it
// receives (a meter view of thousands of entities) reads without copying a
// string or a payload.
template <class Text, class Bytes>
struct BasicMessage {
  MessageKind kind = MessageKind::Request;
  std::uint64_t requestId = 0;
  Text route;
  std::int32_t method = 0;
  Text path;
  Text entityId;
  bool responseRequired = true;
  std::int32_t status = 0;
  Bytes payload;
};
using Message = BasicMessage<std::string, KspBytes>;
using MessageView = BasicMessage<std::string_view, std::span<const std::uint8_t>>;

using Frame = std::shared_ptr<const KspBytes>;

Frame encode(const Message& message);
// Null when the bytes are not a valid envelope.
std::optional<Message> decode(const std::uint8_t* data, std::size_t size);
// The same checks, read in place.
std::optional<MessageView> view(const std::uint8_t* data, std::size_t size);

// Payload helpers of the host routes.
// batchIntervalMs: see SubscriptionArgs.batch_interval_ms (0: unchanged).
KspBytes encodeSubscriptionArgs(const std::vector<std::string>& ids, const std::vector<std::string>& classNames,
                                std::uint32_t batchIntervalMs = 0);
// The payload of a Changes message from Changed and Deleted messages (their
// kind, route, entity id and payload), and back; null when it does not
// verify or holds another kind.
KspBytes encodeChangeBatch(const std::vector<const Message*>& changes);
std::optional<std::vector<Message>> decodeChangeBatch(const KspBytes& payload);
// The entries of a Changes payload in their order, read in place (kind,
// route, entity id, payload); false, with nothing visited, where
// decodeChangeBatch would give null.
bool forEachChange(std::span<const std::uint8_t> payload, const std::function<void(const MessageView&)>& visit);
KspBytes encodeStringList(const std::vector<std::string>& items);
std::optional<std::vector<std::string>> decodeStringList(const KspBytes& payload);
// An index reply: a buffer whose root is a vector of strings.
std::optional<std::vector<std::string>> decodeIdVector(const KspBytes& payload);

// The project route's argument (a file path) and reply.
KspBytes encodeProjectPathArgs(const std::string& path);
// Null when the payload does not verify; the path may be empty.
std::optional<std::string> decodeProjectPathArgs(const KspBytes& payload);

struct ProjectReplyMessage {
  std::string file;
  bool open = false;
  std::string schemaVersion;
  std::string error;
};
KspBytes encodeProjectReply(const ProjectReplyMessage& reply);
std::optional<ProjectReplyMessage> decodeProjectReply(const KspBytes& payload);

struct UserNotificationMessage {
  std::string id;
  std::string title;
  std::string text;
  std::int32_t type = 0;
  std::int64_t timeMs = 0;
};
KspBytes encodeUserNotification(const UserNotificationMessage& n);
std::optional<UserNotificationMessage> decodeUserNotification(const KspBytes& payload);

}  // namespace fennik::server::net
