#pragma once
// One Ksp envelope per WebSocket binary message: encoding and verified
// decoding. Frames are shared, so one change can go to many clients without
// being copied.

#include "fennik/server/ksp/Ksp.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
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

struct Message {
  MessageKind kind = MessageKind::Request;
  std::uint64_t requestId = 0;
  std::string route;
  std::int32_t method = 0;
  std::string path;
  std::string entityId;
  bool responseRequired = true;
  std::int32_t status = 0;
  KspBytes payload;
};

using Frame = std::shared_ptr<const KspBytes>;

Frame encode(const Message& message);
// Null when the bytes are not a valid envelope.
std::optional<Message> decode(const std::uint8_t* data, std::size_t size);

// Payload helpers of the host routes.
// batchIntervalMs: see SubscriptionArgs.batch_interval_ms (0: unchanged).
KspBytes encodeSubscriptionArgs(const std::vector<std::string>& ids, const std::vector<std::string>& classNames,
                                std::uint32_t batchIntervalMs = 0);
// The payload of a Changes message from Changed and Deleted messages (their
// kind, route, entity id and payload), and back; null when it does not
// verify or holds another kind.
KspBytes encodeChangeBatch(const std::vector<const Message*>& changes);
std::optional<std::vector<Message>> decodeChangeBatch(const KspBytes& payload);
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
