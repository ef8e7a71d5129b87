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

#include <cstdint>
#include <memory>
#include <string>

namespace fennik::server::net {

struct KspServerOptions {
  std::string listen = "127.0.0.1";
  std::uint16_t port = 0;             // 0: any free port
  std::string token;                  // required when listening on anything but loopback
  std::size_t sendQueueLimit = 4096;  // messages waiting for one client
  // Files served to plain HTTP requests (the browser client); none when null.
  std::shared_ptr<const StaticFiles> files;
};

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
