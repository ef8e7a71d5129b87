// What the server writes to one client stays one valid WebSocket stream when
// the loop writes messages and the network thread answers the client's pings,
// also when the socket is full and writes wait in the client's outbox.

#include "ServerFixture.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/service/NotificationService.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

namespace qor::testing {
namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = boost::asio::ip::tcp;

class ClientWritesTest : public ServerFixture {
 protected:
  std::size_t clients() {
    return read<std::size_t>([&] { return hub->clientCount(); });
  }
};

TEST_F(ClientWritesTest, MessagesAndPongsInterleaveWholeWhileTheSocketIsFull) {
  boost::asio::io_context ioc;
  websocket::stream<tcp::socket> ws(ioc);
  ws.next_layer().connect({boost::asio::ip::make_address("127.0.0.1"), server().port()});
  ws.handshake("127.0.0.1", "/ksp");
  ws.binary(true);
  int pongs = 0;
  ws.control_callback([&](websocket::frame_type kind, beast::string_view) {
    if (kind == websocket::frame_type::pong) ++pongs;
  });
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (clients() != 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_EQ(clients(), 1u);

  // Large notifications from the loop fill the socket and wait in the
  // outbox (the client does not read yet); then the client pings, and the
  // pongs must queue behind them.
  constexpr int MESSAGES = 300;
  constexpr int PINGS = 50;
  const std::string text(32 * 1024, 'n');
  setLogLevel(spdlog::level::warn);
  for (int i = 0; i < MESSAGES; ++i) context->notifications()->create(std::to_string(i), text, NotificationType::Info);
  onLoop([](EntityContext&) {});  // the loop has handed every message to the outbox
  setLogLevel(spdlog::level::info);
  for (int i = 0; i < PINGS; ++i) ws.ping({});

  // Every message arrives whole and in order; every ping is answered.
  beast::flat_buffer buffer;
  for (int i = 0; i < MESSAGES; ++i) {
    buffer.consume(buffer.size());
    beast::error_code ec;
    ws.read(buffer, ec);
    ASSERT_FALSE(ec) << "message " << i << ": " << ec.message();
    auto data = buffer.cdata();
    auto m = net::decode(static_cast<const std::uint8_t*>(data.data()), data.size());
    ASSERT_TRUE(m) << "message " << i << " is no envelope";
    ASSERT_EQ(m->kind, net::MessageKind::Notification);
    auto n = net::decodeUserNotification(m->payload);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->title, std::to_string(i));
    EXPECT_EQ(n->text.size(), text.size());
  }
  // The pings went before this request, so their pongs come before its reply.
  net::Message index;
  index.requestId = 7;
  index.route = "qor::server::FtDelay";
  index.method = static_cast<std::int32_t>(KspMethod::Index);
  ws.write(boost::asio::buffer(*net::encode(index)));
  for (;;) {
    buffer.consume(buffer.size());
    ws.read(buffer);
    auto data = buffer.cdata();
    auto m = net::decode(static_cast<const std::uint8_t*>(data.data()), data.size());
    ASSERT_TRUE(m);
    if (m->kind == net::MessageKind::Response && m->requestId == 7) break;
  }
  EXPECT_EQ(pongs, PINGS);
  ws.close(websocket::close_code::normal);
}

}  // namespace
}  // namespace qor::testing
