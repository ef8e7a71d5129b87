#pragma once
// A blocking Ksp client over WebSocket, for the command-line client, the
// tests and the benchmarks. One connection; requests are numbered; incoming
// messages (replies, changes, notifications) are read with a timeout.

#include "fennik/server/net/Envelope.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace fennik::server::net {

struct KspUrl {
  std::string host = "127.0.0.1";
  std::string port = "7411";
  std::string path = "/ksp";
};
// Parses ws://HOST:PORT/PATH; throws std::invalid_argument.
KspUrl parseKspUrl(const std::string& url);

class KspClient {
 public:
  KspClient();
  ~KspClient();
  KspClient(const KspClient&) = delete;
  KspClient& operator=(const KspClient&) = delete;

  // Throws std::runtime_error with the reason (refused, 401, ...).
  void connect(const KspUrl& url, const std::string& token = {});
  void connect(const std::string& host, std::uint16_t port, const std::string& token = {});
  void close();

  // Sends a request; returns its id.
  std::uint64_t send(const std::string& route, KspMethod method, const std::string& path = {},
                     const std::string& entityId = {}, KspBytes payload = {}, bool responseRequired = true);
  // Sends raw bytes as one binary message (for tests of malformed input).
  void sendRaw(const KspBytes& bytes);

  // The next message, or nothing when none arrives in time.
  std::optional<Message> next(std::chrono::milliseconds timeout);
  // The reply to one request; messages read before it stay queued for next().
  std::optional<Message> waitReply(std::uint64_t requestId, std::chrono::milliseconds timeout);
  // Sends and waits for the reply.
  std::optional<Message> call(const std::string& route, KspMethod method, const std::string& path = {},
                              const std::string& entityId = {}, KspBytes payload = {},
                              std::chrono::milliseconds timeout = std::chrono::seconds(10));

  bool isOpen() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace fennik::server::net
