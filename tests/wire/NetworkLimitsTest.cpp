// The network's own defences against a real server: who may upgrade (web
// page origins, where the token may stand), and the limits on connections,
// message size, bytes waiting for a slow client and silent connections.
// Past a limit only the offending connection goes; everybody else is served.

#include "ServerFixture.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/service/NotificationService.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <array>

namespace qor::testing {
namespace {

namespace asio = boost::asio;
constexpr auto TIMEOUT = 10s;

// A connection that speaks HTTP by hand.
class RawConnection {
 public:
  explicit RawConnection(std::uint16_t port) : port_(port) {
    socket_.connect({asio::ip::make_address("127.0.0.1"), port});
  }

  // Sends a WebSocket upgrade with extra headers; returns the HTTP status.
  int upgrade(const std::string& target, const std::vector<std::string>& headers = {}) {
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                          "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
    for (const auto& h : headers) request += h + "\r\n";
    request += "\r\n";
    asio::write(socket_, asio::buffer(request));
    return status();
  }

  // The status of the HTTP answer waiting on the socket (-1: closed).
  int status() {
    boost::system::error_code ec;
    asio::read_until(socket_, answer_, "\r\n\r\n", ec);
    if (ec) return -1;
    std::string line;
    std::istream in(&answer_);
    std::getline(in, line);
    return line.size() > 12 ? std::stoi(line.substr(9, 3)) : -1;
  }

  // Waits until the server closes the connection; reads (and drops) what comes.
  bool closedByServer() {
    std::array<char, 4096> buffer;
    boost::system::error_code ec;
    while (!ec) socket_.read_some(asio::buffer(buffer), ec);
    return ec == asio::error::eof || ec == asio::error::connection_reset;
  }

 private:
  std::uint16_t port_;
  asio::io_context io_;
  asio::ip::tcp::socket socket_{io_};
  asio::streambuf answer_;
};

class OriginTest : public ServerFixture {
 protected:
  void SetUp() override {
    net::KspServerOptions options;
    options.allowedOrigins = {"http://console.example:8080"};
    startServer(options);
  }
  int upgrade(const std::vector<std::string>& headers) {
    return RawConnection(server().port()).upgrade("/ksp", headers);
  }
};

TEST_F(OriginTest, ForeignWebPagesAreRefusedTheServersOwnAndListedOnesAccepted) {
  const std::string self = "http://127.0.0.1:" + std::to_string(server().port());
  EXPECT_EQ(upgrade({}), 101);                                       // a program: no Origin
  EXPECT_EQ(upgrade({"Origin: " + self}), 101);                      // a page the server serves itself
  EXPECT_EQ(upgrade({"Origin: http://console.example:8080"}), 101);  // allowed by option
  EXPECT_EQ(upgrade({"Origin: http://evil.example"}), 403);
  EXPECT_EQ(upgrade({"Origin: null"}), 403);
  EXPECT_EQ(upgrade({"Origin: http://127.0.0.1:1"}), 403);  // another port is another page
  EXPECT_EQ(upgrade({"Origin: " + self + ".evil.example"}), 403);
}

class TokenPlacesTest : public ServerFixture {
 protected:
  void SetUp() override {
    net::KspServerOptions options;
    options.token = "T0k";
    startServer(options);
  }
  int upgrade(const std::string& target, const std::vector<std::string>& headers = {}) {
    return RawConnection(server().port()).upgrade(target, headers);
  }
};

TEST_F(TokenPlacesTest, TheTokenCountsOnlyInTheHeaderOrTheTokenParameter) {
  EXPECT_EQ(upgrade("/ksp", {"Authorization: Bearer T0k"}), 101);
  EXPECT_EQ(upgrade("/ksp?token=T0k"), 101);
  EXPECT_EQ(upgrade("/ksp?client=desk&token=T0k"), 101);
  EXPECT_EQ(upgrade("/ksp?xtoken=T0k"), 401);
  EXPECT_EQ(upgrade("/ksp?tokenx=T0k"), 401);
  EXPECT_EQ(upgrade("/ksp?client=token=T0k"), 401);
  EXPECT_EQ(upgrade("/ksp?token=T0kk"), 401);
}

class LimitsTest : public ServerFixture {
 protected:
  void SetUp() override {
    net::KspServerOptions options;
    options.maxConnections = 3;
    options.maxMessageBytes = 64 * 1024;
    options.sendQueueBytes = 1 << 20;
    options.sendQueueLimit = 100000;  // the bytes must be what stops it
    startServer(options);
  }
  std::size_t clients() {
    return read<std::size_t>([&] { return hub->clientCount(); });
  }
  void waitForClients(std::size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (clients() != n && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  }
};

TEST_F(LimitsTest, ConnectionsBeyondTheLimitAreTurnedAwayUntilOneCloses) {
  auto a = std::make_unique<net::KspClient>();
  net::KspClient b, c;
  connect(*a);
  connect(b);
  connect(c);
  RawConnection fourth(server().port());
  EXPECT_EQ(fourth.status(), 503);
  net::KspClient refused;
  EXPECT_THROW(connect(refused), std::runtime_error);
  EXPECT_EQ(status(c.call("qor::server::FtDelay", KspMethod::Index)), 200);

  a.reset();
  waitForClients(2);
  // The slot is free again (the session may take a moment to go).
  net::KspClient next;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    try {
      connect(next);
      break;
    } catch (const std::runtime_error&) {
      std::this_thread::yield();
    }
  }
  EXPECT_EQ(status(next.call("qor::server::FtDelay", KspMethod::Index)), 200);
}

TEST_F(LimitsTest, AMessageOverTheSizeLimitClosesOnlyItsConnection) {
  net::KspClient big, bystander;
  connect(big);
  connect(bystander);
  // Below the limit: an ordinary bad request.
  big.sendRaw(KspBytes(60 * 1024, 7));
  auto answer = big.next(TIMEOUT);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 400);
  // Above it: the connection is closed, without reading the message into memory.
  try {
    big.sendRaw(KspBytes(200 * 1024, 7));
  } catch (const std::exception&) {
    // The server may close while the rest of the message is still on its way.
  }
  while (big.isOpen() && big.next(TIMEOUT)) {
  }
  EXPECT_FALSE(big.isOpen());
  EXPECT_EQ(status(bystander.call("qor::server::FtDelay", KspMethod::Index)), 200);
}

TEST_F(LimitsTest, AClientThatDoesNotReadIsCutOffByTheBytesWaiting) {
  net::KspClient slow;
  connect(slow);
  ASSERT_EQ(status(slow.call("qor::server::FtDelay", KspMethod::Index)), 200);
  waitForClients(1);
  // 400 large messages: far fewer than the message bound, far more bytes
  // than the socket buffers and the byte bound together.
  const std::string text(256 * 1024, 'x');
  setLogLevel(spdlog::level::warn);
  for (int i = 0; i < 400; ++i) context->notifications()->create("Flood", text, NotificationType::Info);
  setLogLevel(spdlog::level::info);
  waitForClients(0);
  EXPECT_EQ(clients(), 0u);
  net::KspClient fast;
  connect(fast);
  EXPECT_EQ(status(fast.call("qor::server::FtDelay", KspMethod::Index)), 200);
}

class IdleTest : public ServerFixture {
 protected:
  void SetUp() override {
    net::KspServerOptions options;
    options.idleTimeout = 1s;
    startServer(options);
  }
};

TEST_F(IdleTest, AConnectionThatFallsSilentAfterTheUpgradeIsClosed) {
  // Upgraded, then never a byte again, not even a pong: the server pings,
  // then closes. (This waits for the server's close, about a second.)
  RawConnection silent(server().port());
  ASSERT_EQ(silent.upgrade("/ksp"), 101);
  EXPECT_TRUE(silent.closedByServer());
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (read<std::size_t>([&] { return hub->clientCount(); }) != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_EQ(read<std::size_t>([&] { return hub->clientCount(); }), 0u);
}

}  // namespace
}  // namespace qor::testing
