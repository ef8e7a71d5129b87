#pragma once
// Everything the server writes to one client's socket, in order: the
// WebSocket messages around Ksp envelopes, and whatever Beast writes itself
// (the handshake answer, pongs, the close reply).
//
// Any thread may hand it bytes. When nothing is waiting, it writes them at
// once from the calling thread with a non-blocking send, so a change made on
// the event loop reaches the client without waking the network thread. What
// the socket does not take at once waits in a bounded queue that the network
// thread writes, in order; nothing else writes to the socket. Closing happens
// under the same lock, so no thread ever writes to a closed descriptor.

#include "fennik/server/net/Envelope.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket/teardown.hpp>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace fennik::server::net {

class ClientOutbox {
 public:
  enum class Push { Written, Queued, Dropped, Overflow };

  // Overflow comes when more than messageLimit messages or more than
  // byteLimit bytes wait.
  ClientOutbox(boost::asio::ip::tcp::socket& socket, std::size_t messageLimit, std::size_t byteLimit);

  // Once, by the session: what keeps it alive while the network thread
  // writes, and how a failed write ends it (called on the network thread).
  void bind(std::weak_ptr<void> owner, std::function<void(const std::string&)> fail);

  // Ksp messages are accepted from here on (after the WebSocket handshake).
  void open();
  // One Ksp envelope as one binary WebSocket message. Overflow: more than
  // the limit of messages or bytes wait; nothing more is accepted, the
  // caller ends the session.
  Push pushMessage(Frame envelope);
  // Bytes Beast writes itself, already framed.
  Push pushRaw(Frame bytes);
  // Runs fn once every queued byte is written (or writing failed); nothing
  // new is accepted from now on. For the WebSocket close.
  void afterLastWrite(std::function<void()> fn);
  // Shuts the socket down and closes it; pending bytes are dropped.
  void close();

  std::size_t waiting() const;
  std::size_t waitingBytes() const;

 private:
  struct Chunk {
    std::array<std::uint8_t, 10> head{};
    std::size_t headSize = 0;
    Frame body;
    std::size_t done = 0;  // bytes of head and body already written
    std::size_t size() const { return headSize + body->size(); }
  };

  Push pushLocked(Chunk chunk, std::unique_lock<std::mutex>& lock);
  // Writes what the socket takes without blocking; true when all of it.
  bool sendNow(Chunk& chunk);
  void drive();  // network thread
  void finishLocked(std::unique_lock<std::mutex>& lock);

  boost::asio::ip::tcp::socket& socket_;
  const int fd_;
  const std::size_t limit_;
  const std::size_t byteLimit_;
  std::size_t bytes_ = 0;  // unwritten bytes of the queued chunks
  std::weak_ptr<void> owner_;
  std::function<void(const std::string&)> fail_;
  mutable std::mutex mutex_;
  std::deque<Chunk> queue_;
  std::size_t inFlight_ = 0;  // chunks the network thread is writing
  bool writing_ = false;
  bool open_ = false;
  bool accepting_ = true;
  bool closed_ = false;
  std::function<void()> drained_;
};

// The stream under Beast's WebSocket: reads come from the TCP stream, every
// write goes through the outbox. Being the lowest layer, its close is the
// outbox's close.
class OutboxStream {
 public:
  using executor_type = boost::beast::tcp_stream::executor_type;

  OutboxStream(boost::asio::ip::tcp::socket&& socket, std::size_t messageLimit, std::size_t byteLimit)
      : tcp_(std::move(socket)), outbox_(std::make_shared<ClientOutbox>(tcp_.socket(), messageLimit, byteLimit)) {}

  executor_type get_executor() { return tcp_.get_executor(); }
  boost::beast::tcp_stream& tcp() { return tcp_; }
  ClientOutbox& outbox() { return *outbox_; }

  template <class Buffers, class Handler>
  auto async_read_some(const Buffers& buffers, Handler&& handler) {
    return tcp_.async_read_some(buffers, std::forward<Handler>(handler));
  }

  template <class Buffers, class Handler>
  auto async_write_some(const Buffers& buffers, Handler&& handler) {
    return boost::asio::async_initiate<Handler, void(boost::beast::error_code, std::size_t)>(
        [this](auto done, const Buffers& b) {
          auto bytes = std::make_shared<KspBytes>(boost::asio::buffer_size(b));
          boost::asio::buffer_copy(boost::asio::buffer(*bytes), b);
          const auto size = bytes->size();
          boost::beast::error_code ec;
          const auto pushed = outbox_->pushRaw(std::move(bytes));
          if (pushed == ClientOutbox::Push::Dropped || pushed == ClientOutbox::Push::Overflow) {
            ec = boost::asio::error::broken_pipe;
          }
          boost::asio::post(tcp_.get_executor(), boost::beast::bind_front_handler(std::move(done), ec, ec ? 0 : size));
        },
        handler, buffers);
  }

  friend void beast_close_socket(OutboxStream& stream) { stream.outbox_->close(); }

 private:
  boost::beast::tcp_stream tcp_;
  std::shared_ptr<ClientOutbox> outbox_;
};

// The WebSocket close: the close reply is written before the TCP teardown.
inline void teardown(boost::beast::role_type role, OutboxStream& stream, boost::beast::error_code& ec) {
  boost::beast::websocket::teardown(role, stream.tcp().socket(), ec);
}

template <class Handler>
void async_teardown(boost::beast::role_type role, OutboxStream& stream, Handler&& handler) {
  auto pending = std::make_shared<std::decay_t<Handler>>(std::forward<Handler>(handler));
  auto& socket = stream.tcp().socket();
  stream.outbox().afterLastWrite(
      [role, &socket, pending] { boost::beast::websocket::async_teardown(role, socket, std::move(*pending)); });
}

}  // namespace fennik::server::net
