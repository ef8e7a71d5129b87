#pragma once
// A real server in the test process: the host's network stack as the server
// program assembles it, the module registered with it, and the WebSocket
// server on a free loopback port. Tests talk Ksp to it with KspClient and
// read the model on the loop.

#include "module/LivesoundModule.h"

#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityService.h"
#include "fennik/server/net/Envelope.h"
#include "fennik/server/net/KspClient.h"
#include "fennik/server/net/KspHost.h"
#include "fennik/server/service/ServiceResolver.h"

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace qor::testing {

using namespace fennik::server;
using namespace std::chrono_literals;

class ServerFixture : public ::testing::Test {
 protected:
  ServerFixture() = default;
  // A server whose loop timers follow the given clock.
  explicit ServerFixture(std::shared_ptr<Clock> clock) : stack(std::move(clock)) {}

  net::KspHost stack;
  const std::shared_ptr<EntityContext>& context = stack.context();
  const std::shared_ptr<KspDispatcher>& dispatcher = stack.dispatcher();
  const std::shared_ptr<net::SubscriptionHub>& hub = stack.hub();
  std::unique_ptr<qor::server::LivesoundModule> module;

  void SetUp() override { startServer({}); }

  void startServer(const net::KspServerOptions& options) {
    module = std::make_unique<qor::server::LivesoundModule>(stack.globals());
    module->transition(ModuleState::Create);
    module->registerControllers();
    stack.serve(options);
  }

  void TearDown() override {
    stack.stopServing();
    module->deregisterControllers();
    context->loop()->work([](const std::shared_ptr<EntityContext>& c) { c->db()->clear(); });
    module->transition(ModuleState::Uncreate);
    stack.shutdown();
  }

  net::KspServer& server() const { return *stack.server(); }

  void connect(net::KspClient& client, const std::string& token = {}) {
    client.connect("127.0.0.1", server().port(), token);
  }

  // Runs on the loop and waits for it.
  void onLoop(const std::function<void(EntityContext&)>& fn) {
    context->loop()->work([&](const std::shared_ptr<EntityContext>& c) { fn(*c); });
  }

  template <class E>
  E* create() {
    E* created = nullptr;
    onLoop([&](EntityContext& c) { created = c.services()->get<EntityService<E>>()->create(); });
    return created;
  }

  template <class T>
  T read(const std::function<T()>& fn) {
    T value{};
    onLoop([&](EntityContext&) { value = fn(); });
    return value;
  }

  // Waits (at most 10 s) until the condition, checked on the test's thread,
  // holds: for what other threads (the simulated network) do. How long it took.
  std::optional<std::chrono::steady_clock::duration> waitFor(const std::function<bool()>& condition) {
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 10s) {
      if (condition()) return std::chrono::steady_clock::now() - start;
      std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
  }
  // The same for a condition on the model, checked on the loop.
  std::optional<std::chrono::steady_clock::duration> waitOnLoop(const std::function<bool()>& condition) {
    return waitFor([&] { return read<bool>(condition); });
  }

  // The next user notification the client receives (other messages are
  // passed over); a failure when none comes within 10 s.
  net::UserNotificationMessage nextNotification(net::KspClient& client) {
    std::optional<net::Message> m;
    do {
      m = client.next(10s);
    } while (m && m->kind != net::MessageKind::Notification);
    if (!m) {
      ADD_FAILURE() << "no notification";
      return {};
    }
    return net::decodeUserNotification(m->payload).value_or(net::UserNotificationMessage{});
  }
};

// The payload as a verified table of type T.
template <class T>
const T* tableOf(const KspBytes& bytes) {
  flatbuffers::Verifier verifier(bytes.data(), bytes.size());
  if (!verifier.VerifyBuffer<T>(nullptr)) return nullptr;
  return flatbuffers::GetRoot<T>(bytes.data());
}

// A finished FlatBuffers buffer from a function that builds its root.
template <class Fill>
KspBytes table(Fill fill) {
  flatbuffers::FlatBufferBuilder b;
  b.Finish(fill(b));
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

inline int status(const std::optional<net::Message>& reply) { return reply ? reply->status : -1; }

}  // namespace qor::testing
