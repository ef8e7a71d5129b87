// A client that stops reading is cut off once its send queue is full; the
// loop and the other clients never wait for it.

#include "ServerFixture.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/service/NotificationService.h"

namespace qor::testing {
namespace {

class SlowClientTest : public ServerFixture {
 protected:
  void SetUp() override {
    net::KspServerOptions options;
    options.sendQueueLimit = 8;
    startServer(options);
  }

  std::size_t clients() {
    return read<std::size_t>([&] { return hub->clientCount(); });
  }
};

TEST_F(SlowClientTest, AClientThatDoesNotReadIsDisconnected) {
  net::KspClient slow;
  connect(slow);
  ASSERT_EQ(status(slow.call("qor::server::FtDelay", KspMethod::Index)), 200);
  ASSERT_EQ(clients(), 1u);

  // Far more than the socket buffers hold, so the queue must fill up.
  const std::string text(64 * 1024, 'x');
  setLogLevel(spdlog::level::warn);
  for (int i = 0; i < 400; ++i) context->notifications()->create("Flood", text, NotificationType::Info);
  setLogLevel(spdlog::level::info);
  // The disconnect is noticed on the loop; wait for it, not for a time.
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (clients() != 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_EQ(clients(), 0u);

  // Everybody else is served as before.
  net::KspClient fast;
  connect(fast);
  EXPECT_EQ(status(fast.call("qor::server::FtDelay", KspMethod::Index)), 200);

  // The slow client finds its connection closed after part of the flood.
  int received = 0;
  while (slow.next(10s)) ++received;
  EXPECT_FALSE(slow.isOpen());
  EXPECT_LT(received, 400);
}

}  // namespace
}  // namespace qor::testing
