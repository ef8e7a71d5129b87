#include "fennik/server/net/KspServer.h"
#include "fennik/server/core/AsciiCase.h"

#include "ClientOutbox.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/core/ThreadSlice.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <stdexcept>
#include <thread>

namespace fennik::server::net {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

constexpr const char* KSP_PATH = "/ksp";
// A read buffer grown past this by a large message is given back afterwards.
constexpr std::size_t KEPT_READ_BUFFER = 64 * 1024;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The token from "Authorization: Bearer T" or from the query parameter
// named exactly "token" ("?token=T"), nowhere else in the URL.
std::string presentedToken(const http::request<http::string_body>& req) {
  const std::string auth(req[http::field::authorization]);
  const std::string bearer = "Bearer ";
  if (auth.size() > bearer.size() && auth.substr(0, bearer.size()) == bearer) {
    return auth.substr(bearer.size());
  }
  const std::string_view target(req.target().data(), req.target().size());
  const auto q = target.find('?');
  if (q == std::string_view::npos) return {};
  std::string_view query = target.substr(q + 1);
  while (!query.empty()) {
    const auto amp = query.find('&');
    const auto pair = query.substr(0, amp);
    const auto eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == "token") return percentDecoded(pair.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return {};
}

// Browsers send the page's origin with every WebSocket upgrade; programs
// usually send none. Allowed: no Origin, the server's own origin (a page it
// serves itself: "http://" and the Host the browser asked for), or one of
// the configured origins.
bool originAllowed(const http::request<http::string_body>& req, const std::vector<std::string>& allowed) {
  const auto found = req.find(http::field::origin);
  if (found == req.end()) return true;
  const std::string origin = asciiLower(std::string(found->value()));
  const std::string host = asciiLower(std::string(req[http::field::host]));
  if (!host.empty() && origin == "http://" + host) return true;
  for (const auto& allowedOrigin : allowed) {
    std::string candidate = asciiLower(allowedOrigin);
    while (!candidate.empty() && candidate.back() == '/') candidate.pop_back();
    if (origin == candidate) return true;
  }
  return false;
}

bool sameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

class Session : public std::enable_shared_from_this<Session>, public IKspReplier, public IClientSink {
 public:
  Session(std::shared_ptr<asio::io_context> ioc, tcp::socket socket, std::uint64_t id, KspServerOptions options,
          std::shared_ptr<IKspDispatcher> dispatcher, std::shared_ptr<SubscriptionHub> hub)
      : ioc_(std::move(ioc)),
        ws_(std::move(socket), options.sendQueueLimit, options.sendQueueBytes),
        outbox_(ws_.next_layer().outbox()),
        id_(id),
        options_(options),
        dispatcher_(std::move(dispatcher)),
        hub_(std::move(hub)) {
    beast::error_code ec;
    auto ep = ws_.next_layer().tcp().socket().remote_endpoint(ec);
    peer_ = ec ? std::string("unknown peer") : ep.address().to_string() + ":" + std::to_string(ep.port());
  }

  void start() {
    std::weak_ptr<Session> weak = shared_from_this();
    outbox_.bind(weak, [weak](const std::string& why) {
      if (auto self = weak.lock()) self->shutdown(why);
    });
    ws_.next_layer().tcp().expires_after(std::chrono::seconds(30));
    http::async_read(ws_.next_layer().tcp(), buffer_, upgrade_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onUpgradeRead(ec); });
  }

  void reply(std::shared_ptr<KspResponse> response) override {
    Message m;
    m.kind = MessageKind::Response;
    m.requestId = response->requestId();
    m.status = static_cast<std::int32_t>(response->status());
    m.payload = std::move(response->payload());
    send(encode(m));
  }

  // Any thread (the loop sends changes and replies from its jobs): written
  // at once when nothing else waits for this client, else queued.
  std::size_t waitingBytes() const override { return outbox_.waitingBytes(); }

  void send(Frame frame) override {
    if (outbox_.pushMessage(std::move(frame)) != ClientOutbox::Push::Overflow) return;
    const auto waiting = outbox_.waiting();
    const auto bytes = outbox_.waitingBytes();
    asio::post(ws_.get_executor(), [self = shared_from_this(), waiting, bytes] {
      self->shutdown("send queue overflow, " + std::to_string(waiting) + " messages (" + std::to_string(bytes) +
                         " bytes) waiting: the client reads too slowly",
                     spdlog::level::warn);
    });
  }

  void close() {
    asio::post(ws_.get_executor(), [self = shared_from_this()] { self->shutdown("server stopping"); });
  }

 private:
  void onUpgradeRead(beast::error_code ec) {
    if (ec) return shutdown("no WebSocket upgrade: " + ec.message());
    const std::string target(upgrade_.target());
    const auto path = target.substr(0, target.find('?'));
    if (options_.files && !websocket::is_upgrade(upgrade_)) {
      if (!options_.token.empty() && !sameText(presentedToken(upgrade_), options_.token)) {
        return refuse(http::status::unauthorized, "missing or wrong access token\n");
      }
      return serveFile();
    }
    if (!websocket::is_upgrade(upgrade_) || path != KSP_PATH) {
      return refuse(http::status::not_found, "Ksp is served as a WebSocket at /ksp\n");
    }
    if (!options_.token.empty() && !sameText(presentedToken(upgrade_), options_.token)) {
      return refuse(http::status::unauthorized, "missing or wrong access token\n");
    }
    if (!originAllowed(upgrade_, options_.allowedOrigins)) {
      return refuse(http::status::forbidden,
                    "the page at " + std::string(upgrade_[http::field::origin]) + " may not use this server\n");
    }
    ws_.next_layer().tcp().expires_never();
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = std::chrono::seconds(30);
    // A silent connection gets a ping after half the idle time and is
    // closed when the whole time passes without anything from it.
    if (options_.idleTimeout.count() > 0) {
      timeouts.idle_timeout = options_.idleTimeout;
      timeouts.keep_alive_pings = true;
    } else {
      timeouts.idle_timeout = websocket::stream_base::none();
      timeouts.keep_alive_pings = false;
    }
    ws_.set_option(timeouts);
    ws_.read_message_max(options_.maxMessageBytes);
    ws_.binary(true);
    ws_.async_accept(upgrade_, [self = shared_from_this()](beast::error_code e) { self->onAccept(e); });
  }

  void refuse(http::status status, const std::string& why) {
    getLogger(HOST_LOGGER)->warn("Client {} from {} refused: {}", id_, peer_, why.substr(0, why.size() - 1));
    http::response<http::string_body> res(status, upgrade_.version());
    res.set(http::field::content_type, "text/plain");
    res.body() = why;
    res.keep_alive(false);
    res.prepare_payload();
    // A short answer on a fresh connection: written at once, then closed.
    beast::error_code ignored;
    auto& socket = ws_.next_layer().tcp().socket();
    http::write(socket, res, ignored);
    socket.shutdown(tcp::socket::shutdown_send, ignored);
    closed_ = true;
    outbox_.close();
  }

  // A plain HTTP request: answered from the static files; a kept-alive
  // connection then waits for the next request (or a WebSocket upgrade).
  void serveFile() {
    auto res = std::make_shared<http::response<http::string_body>>(options_.files->answer(upgrade_));
    http::async_write(ws_.next_layer().tcp(), *res,
                      [self = shared_from_this(), res](beast::error_code ec, std::size_t) {
                        if (ec || !res->keep_alive()) {
                          beast::error_code ignored;
                          self->ws_.next_layer().tcp().socket().shutdown(tcp::socket::shutdown_send, ignored);
                          self->closed_ = true;
                          self->outbox_.close();
                          return;
                        }
                        self->upgrade_ = {};
                        self->ws_.next_layer().tcp().expires_after(std::chrono::seconds(30));
                        http::async_read(self->ws_.next_layer().tcp(), self->buffer_, self->upgrade_,
                                         [self](beast::error_code e, std::size_t) { self->onUpgradeRead(e); });
                      });
  }

  void onAccept(beast::error_code ec) {
    if (ec) return shutdown("handshake failed: " + ec.message());
    accepted_ = true;
    outbox_.open();
    getLogger(HOST_LOGGER)->info("Client {} connected from {}", id_, peer_);
    hub_->attach(id_, weak_from_this());
    read();
  }

  void read() {
    ws_.async_read(readBuffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
  }

  void onRead(beast::error_code ec) {
    if (ec) {
      if (ec == websocket::error::closed) return shutdown("closed by the client");
      return shutdown(ec.message());
    }
    auto data = readBuffer_.cdata();
    auto message = decode(static_cast<const std::uint8_t*>(data.data()), data.size());
    readBuffer_.consume(readBuffer_.size());
    // A large message leaves no large buffer behind.
    if (readBuffer_.capacity() > KEPT_READ_BUFFER) readBuffer_.shrink_to_fit();
    if (!message || message->kind != MessageKind::Request) {
      getLogger(HOST_LOGGER)->warn("Client {} sent a message that is no Ksp request", id_);
      Message bad;
      bad.kind = MessageKind::Response;
      bad.requestId = message ? message->requestId : 0;
      bad.status = static_cast<std::int32_t>(KspStatus::BadRequest);
      send(encode(bad));
    } else {
      KspRequest::Header h;
      h.id = message->requestId;
      h.route = std::move(message->route);
      h.method = static_cast<KspMethod>(message->method);
      h.path = std::move(message->path);
      h.entityId = std::move(message->entityId);
      h.responseRequired = message->responseRequired;
      h.clientId = id_;
      auto request = std::make_shared<KspRequest>(std::move(h), std::move(message->payload), weak_from_this());
      const auto method = message->method;
      if (method < 0 || method > static_cast<std::int32_t>(KspMethod::Unsubscribe)) {
        replyStatus(weak_from_this(), request, KspStatus::BadRequest);
      } else {
        dispatcher_->dispatch(weak_from_this(), std::move(request));
      }
    }
    if (!closed_) read();
  }

  void shutdown(const std::string& reason, spdlog::level::level_enum level = spdlog::level::info) {
    if (closed_) return;
    closed_ = true;
    if (accepted_) {
      getLogger(HOST_LOGGER)->log(level, "Client {} ({}) disconnected: {}", id_, peer_, reason);
      hub_->detach(id_);
    }
    outbox_.close();
  }

  // Keeps the executor valid for senders on other threads (the loop) that
  // still hold the session while the server shuts down.
  std::shared_ptr<asio::io_context> ioc_;
  websocket::stream<OutboxStream> ws_;
  ClientOutbox& outbox_;
  std::uint64_t id_;
  KspServerOptions options_;
  std::shared_ptr<IKspDispatcher> dispatcher_;
  std::shared_ptr<SubscriptionHub> hub_;
  std::string peer_;
  beast::flat_buffer buffer_;
  http::request<http::string_body> upgrade_;
  beast::flat_buffer readBuffer_;
  bool accepted_ = false;
  bool closed_ = false;
};

class KspServer::Impl {
 public:
  Impl(KspServerOptions options, std::shared_ptr<IKspDispatcher> dispatcher, std::shared_ptr<SubscriptionHub> hub)
      : options_(std::move(options)), dispatcher_(std::move(dispatcher)), hub_(std::move(hub)) {}

  void start() {
    checkServerOptions(options_);
    boost::system::error_code ec;
    auto address = asio::ip::make_address(options_.listen, ec);
    tcp::endpoint endpoint(address, options_.port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
      throw std::runtime_error("cannot listen on " + options_.listen + ":" + std::to_string(options_.port) + ": " +
                               ec.message());
    }
    port_ = acceptor_.local_endpoint().port();
    accept();
    thread_ = std::thread([this] {
      // Requests are read and replies written here: no tick's wait for the core.
      if (useShortSlice()) getLogger(HOST_LOGGER)->debug("The network thread runs in short scheduling slices");
      pthread_setname_np(pthread_self(), "ksp-network");
      ioc_->run();
    });
  }

  void stop() {
    if (!thread_.joinable()) return;
    asio::post(*ioc_, [this] {
      boost::system::error_code ignored;
      acceptor_.close(ignored);
      retry_.cancel();
      for (auto& weak : sessions_) {
        if (auto s = weak.lock()) s->close();
      }
      work_.reset();
    });
    // Closed sockets end every pending operation, so the thread runs out of work.
    thread_.join();
    // Messages posted since (by the loop) are dropped here, which also frees
    // the sessions they hold.
    ioc_->restart();
    ioc_->poll();
  }

  void accept() {
    acceptor_.async_accept(asio::make_strand(*ioc_), [this](boost::system::error_code ec, tcp::socket socket) {
      if (!acceptor_.is_open() || ec == asio::error::operation_aborted) return;
      if (ec) return acceptFailed(ec);
      backoff_ = std::chrono::milliseconds(0);
      std::erase_if(sessions_, [](const std::weak_ptr<Session>& w) { return w.expired(); });
      if (sessions_.size() >= options_.maxConnections) {
        turnAway(socket);
      } else {
        // Control messages are small and wait for their answer: without this
        // a reply can sit in the kernel for the peer's delayed ACK (40 ms).
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        auto session = std::make_shared<Session>(ioc_, std::move(socket), ++nextId_, options_, dispatcher_, hub_);
        sessions_.push_back(session);
        session->start();
      }
      accept();
    });
  }

  // Out of descriptors or memory, accepting again at once fails again at
  // once: wait (10 ms, doubling up to a second) and say so at most every
  // ten seconds, with how often it happened meanwhile.
  void acceptFailed(const boost::system::error_code& ec) {
    backoff_ = std::clamp(backoff_ * 2, std::chrono::milliseconds(10), std::chrono::milliseconds(1000));
    ++failures_;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastReport_ >= std::chrono::seconds(10)) {
      getLogger(HOST_LOGGER)
          ->warn("Accept failed: {} ({} times since the last report; {} connections open); retrying in {} ms",
                 ec.message(), failures_, sessions_.size(), backoff_.count());
      failures_ = 0;
      lastReport_ = now;
    }
    retry_.expires_after(backoff_);
    retry_.async_wait([this](boost::system::error_code e) {
      if (!e && acceptor_.is_open()) accept();
    });
  }

  // Over the connection limit: a short answer, and the descriptor is free again.
  void turnAway(tcp::socket& socket) {
    static constexpr std::string_view busy =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 41\r\n"
        "Connection: close\r\n\r\nthe server has too many connections open\n";
    boost::system::error_code ignored;
    ::send(socket.native_handle(), busy.data(), busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    const auto now = std::chrono::steady_clock::now();
    ++turnedAway_;
    if (now - lastTurnAway_ >= std::chrono::seconds(10)) {
      getLogger(HOST_LOGGER)
          ->warn("Connection limit of {} reached: {} connections turned away since the last report",
                 options_.maxConnections, turnedAway_);
      turnedAway_ = 0;
      lastTurnAway_ = now;
    }
  }

  KspServerOptions options_;
  std::shared_ptr<IKspDispatcher> dispatcher_;
  std::shared_ptr<SubscriptionHub> hub_;
  std::shared_ptr<asio::io_context> ioc_ = std::make_shared<asio::io_context>(1);
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_{ioc_->get_executor()};
  tcp::acceptor acceptor_{*ioc_};
  std::thread thread_;
  std::uint16_t port_ = 0;
  std::uint64_t nextId_ = 0;
  std::vector<std::weak_ptr<Session>> sessions_;
  asio::steady_timer retry_{*ioc_};
  std::chrono::milliseconds backoff_{0};
  std::size_t failures_ = 0;
  std::chrono::steady_clock::time_point lastReport_{};
  std::size_t turnedAway_ = 0;
  std::chrono::steady_clock::time_point lastTurnAway_{};
};

void checkServerOptions(const KspServerOptions& options) {
  boost::system::error_code ec;
  auto address = asio::ip::make_address(options.listen, ec);
  if (ec) throw std::runtime_error("'" + options.listen + "' is no IP address");
  if (!address.is_loopback() && options.token.empty()) {
    throw std::runtime_error("listening on " + options.listen +
                             " lets other machines in: it needs an access token (--token)");
  }
}

KspServer::KspServer(KspServerOptions options, std::shared_ptr<IKspDispatcher> dispatcher,
                     std::shared_ptr<SubscriptionHub> hub)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(dispatcher), std::move(hub))) {}

KspServer::~KspServer() { stop(); }

void KspServer::start() { impl_->start(); }
void KspServer::stop() { impl_->stop(); }
std::uint16_t KspServer::port() const { return impl_->port_; }
std::string KspServer::address() const { return impl_->options_.listen; }
std::string KspServer::url() const {
  const auto& a = impl_->options_.listen;
  const bool v6 = a.find(':') != std::string::npos;
  return "ws://" + (v6 ? "[" + a + "]" : a) + ":" + std::to_string(port()) + KSP_PATH;
}

std::string KspServer::pageUrl() const {
  const auto& a = impl_->options_.listen;
  const bool v6 = a.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + a + "]" : a) + ":" + std::to_string(port()) + "/";
}

}  // namespace fennik::server::net
