#include "ClientOutbox.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace fennik::server::net {

namespace asio = boost::asio;

namespace {

// The header of an unmasked, unfragmented binary message from the server.
std::size_t binaryHeader(std::array<std::uint8_t, 10>& head, std::size_t length) {
  head[0] = 0x82;  // FIN, binary
  if (length < 126) {
    head[1] = static_cast<std::uint8_t>(length);
    return 2;
  }
  if (length <= 0xFFFF) {
    head[1] = 126;
    head[2] = static_cast<std::uint8_t>(length >> 8);
    head[3] = static_cast<std::uint8_t>(length);
    return 4;
  }
  head[1] = 127;
  for (int i = 0; i < 8; ++i)
    head[2 + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(length) >> (56 - 8 * i));
  return 10;
}

// The unwritten rest of a chunk as at most two buffers.
template <class Add>
void rest(const std::array<std::uint8_t, 10>& head, std::size_t headSize, const KspBytes& body, std::size_t done,
          Add add) {
  if (done < headSize) add(head.data() + done, headSize - done);
  const std::size_t bodyDone = done > headSize ? done - headSize : 0;
  if (bodyDone < body.size()) add(body.data() + bodyDone, body.size() - bodyDone);
}

}  // namespace

ClientOutbox::ClientOutbox(asio::ip::tcp::socket& socket, std::size_t messageLimit, std::size_t byteLimit)
    : socket_(socket), fd_(socket.native_handle()), limit_(messageLimit), byteLimit_(byteLimit) {}

void ClientOutbox::bind(std::weak_ptr<void> owner, std::function<void(const std::string&)> fail) {
  std::lock_guard lock(mutex_);
  owner_ = std::move(owner);
  fail_ = std::move(fail);
}

void ClientOutbox::open() {
  std::lock_guard lock(mutex_);
  open_ = true;
}

ClientOutbox::Push ClientOutbox::pushMessage(Frame envelope) {
  Chunk chunk;
  chunk.headSize = binaryHeader(chunk.head, envelope->size());
  chunk.body = std::move(envelope);
  std::unique_lock lock(mutex_);
  if (!open_) return Push::Dropped;
  return pushLocked(std::move(chunk), lock);
}

ClientOutbox::Push ClientOutbox::pushRaw(Frame bytes) {
  Chunk chunk;
  chunk.body = std::move(bytes);
  std::unique_lock lock(mutex_);
  return pushLocked(std::move(chunk), lock);
}

ClientOutbox::Push ClientOutbox::pushLocked(Chunk chunk, std::unique_lock<std::mutex>& lock) {
  if (closed_ || !accepting_) return Push::Dropped;
  if (!writing_ && queue_.empty()) {
    if (sendNow(chunk)) return Push::Written;
    // The socket took only part of it (or nothing): the network thread
    // writes the rest when the socket can take more.
    bytes_ += chunk.size() - chunk.done;
    queue_.push_back(std::move(chunk));
    writing_ = true;
    lock.unlock();
    asio::post(socket_.get_executor(), [this, owner = owner_] {
      if (auto alive = owner.lock()) drive();
    });
    return Push::Queued;
  }
  if (queue_.size() >= limit_ || bytes_ + chunk.size() > byteLimit_) {
    accepting_ = false;
    return Push::Overflow;
  }
  bytes_ += chunk.size();
  queue_.push_back(std::move(chunk));
  return Push::Queued;
}

bool ClientOutbox::sendNow(Chunk& chunk) {
  iovec parts[2];
  int count = 0;
  rest(chunk.head, chunk.headSize, *chunk.body, chunk.done, [&](const std::uint8_t* p, std::size_t n) {
    parts[count].iov_base = const_cast<std::uint8_t*>(p);
    parts[count].iov_len = n;
    ++count;
  });
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(count);
  ssize_t sent;
  do {
    sent = ::sendmsg(fd_, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  // Errors other than a full socket are left to the network thread's
  // write, which reports them and ends the session.
  if (sent > 0) chunk.done += static_cast<std::size_t>(sent);
  return chunk.done == chunk.size();
}

void ClientOutbox::drive() {
  std::vector<asio::const_buffer> buffers;
  {
    std::unique_lock lock(mutex_);
    if (closed_) {
      queue_.clear();
      bytes_ = 0;
    }
    if (queue_.empty()) return finishLocked(lock);
    // Everything waiting in one gathered write.
    inFlight_ = 0;
    for (const auto& chunk : queue_) {
      rest(chunk.head, chunk.headSize, *chunk.body, chunk.done,
           [&](const std::uint8_t* p, std::size_t n) { buffers.emplace_back(p, n); });
      if (++inFlight_ == 64) break;
    }
  }
  asio::async_write(socket_, buffers, [this, owner = owner_.lock()](boost::system::error_code ec, std::size_t) {
    if (ec) {
      {
        std::unique_lock lock(mutex_);
        queue_.clear();
        bytes_ = 0;
        finishLocked(lock);
      }
      if (fail_ && ec != asio::error::operation_aborted) fail_("write failed: " + ec.message());
      return;
    }
    {
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i < inFlight_ && !queue_.empty(); ++i) {
        bytes_ -= std::min(bytes_, queue_.front().size() - queue_.front().done);
        queue_.pop_front();
      }
      inFlight_ = 0;
    }
    drive();
  });
}

void ClientOutbox::finishLocked(std::unique_lock<std::mutex>& lock) {
  writing_ = false;
  inFlight_ = 0;
  auto drained = std::move(drained_);
  drained_ = nullptr;
  lock.unlock();
  if (drained) drained();
}

void ClientOutbox::afterLastWrite(std::function<void()> fn) {
  std::unique_lock lock(mutex_);
  accepting_ = false;
  if (writing_ && !closed_) {
    drained_ = std::move(fn);
    return;
  }
  lock.unlock();
  fn();
}

void ClientOutbox::close() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  closed_ = true;
  accepting_ = false;
  // A write in flight still points into its chunks; it ends aborted and
  // drops them itself.
  if (!writing_) {
    queue_.clear();
    bytes_ = 0;
  }
  boost::system::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
}

std::size_t ClientOutbox::waiting() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

std::size_t ClientOutbox::waitingBytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

}  // namespace fennik::server::net
