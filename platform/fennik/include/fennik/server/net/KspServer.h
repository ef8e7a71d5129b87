#pragma once
// The WebSocket server of the Ksp protocol (Boost.Beast): ws://ADDR:PORT/ksp,
// one envelope per binary message. Requests are read on the network thread
// and go to the dispatcher. Replies, changes and notifications are written
// at once by the thread that sends them (usually the loop) when nothing
// waits for that client; otherwise they wait in a bounded queue the network
// thread writes, so a slow client is disconnected instead of stalling
// anybody else.

#include "fennik/server/ksp/IKspDispatcher.h"
#include "fennik/server/net/StaticFiles.h"
#include "fennik/server/net/SubscriptionHub.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fennik::server::net {

struct KspServerOptions {
  std::string listen = "127.0.0.1";
  std::uint16_t port = 0;             // 0: any free port
  std::string token;                  // required when listening on anything but loopback
  std::size_t sendQueueLimit = 4096;  // messages waiting for one client
  // Bytes waiting for one client; past it the client is disconnected.
  std::size_t sendQueueBytes = 32u << 20;
  // Connections served at once; more are answered 503 and closed.
  std::size_t maxConnections = 256;
  // Largest message a client may send (bytes).
  std::size_t maxMessageBytes = 4u << 20;
  // A connection that sends nothing (not even a pong to the server's ping,
  // sent after half of it) for this long is closed; zero: never.
  std::chrono::seconds idleTimeout{60};
  // Origins (as in the Origin header, "http://host:port") allowed besides
  // the server's own; an upgrade with any other Origin is refused (403).
  std::vector<std::string> allowedOrigins;
  // Files served to plain HTTP requests (the browser client); none when null.
  std::shared_ptr<const StaticFiles> files;
};

// Throws std::runtime_error when the options cannot be served (no IP
// address, another address than loopback without a token), before anything
// is opened or created.
void checkServerOptions(const KspServerOptions& options);

class KspServer {
 public:
  KspServer(KspServerOptions options, std::shared_ptr<IKspDispatcher> dispatcher, std::shared_ptr<SubscriptionHub> hub);
  ~KspServer();
  KspServer(const KspServer&) = delete;
  KspServer& operator=(const KspServer&) = delete;

  // Binds and starts the network thread; throws std::runtime_error with a
  // readable reason (bad address, port in use, missing token).
  void start();
  void stop();

  std::uint16_t port() const;
  std::string address() const;
  std::string url() const;      // ws://ADDR:PORT/ksp
  std::string pageUrl() const;  // http://ADDR:PORT/, where the browser client is served

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace fennik::server::net
