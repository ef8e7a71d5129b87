#include "fennik/server/net/KspClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <regex>
#include <stdexcept>

namespace fennik::server::net {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace asio = boost::asio;
using tcp = asio::ip::tcp;

KspUrl parseKspUrl(const std::string& url) {
  static const std::regex form(R"(^ws://(\[[^\]]+\]|[^:/]+)(?::(\d+))?(/.*)?$)");
  std::smatch m;
  if (!std::regex_match(url, m, form)) throw std::invalid_argument("'" + url + "' is no ws://HOST:PORT/ksp address");
  KspUrl out;
  out.host = m[1].str();
  if (out.host.front() == '[') out.host = out.host.substr(1, out.host.size() - 2);
  if (m[2].matched) out.port = m[2].str();
  if (m[3].matched) out.path = m[3].str();
  return out;
}

class KspClient::Impl {
 public:
  asio::io_context ioc;
  std::optional<websocket::stream<beast::tcp_stream>> ws;
  beast::flat_buffer buffer;
  std::deque<Message> inbox;
  bool reading = false;
  bool open = false;
  std::string error;
  std::uint64_t nextId = 0;

  void startRead() {
    if (reading || !open) return;
    reading = true;
    ws->async_read(buffer, [this](beast::error_code ec, std::size_t) {
      reading = false;
      if (ec) {
        open = false;
        error = ec.message();
        ioc.stop();
        return;
      }
      auto data = buffer.cdata();
      if (auto m = decode(static_cast<const std::uint8_t*>(data.data()), data.size())) inbox.push_back(std::move(*m));
      buffer.consume(buffer.size());
      ioc.stop();
    });
  }

  void write(const KspBytes& bytes) {
    if (!open) throw std::runtime_error("not connected" + (error.empty() ? std::string() : ": " + error));
    bool done = false;
    beast::error_code result;
    ws->async_write(asio::buffer(bytes), [&](beast::error_code ec, std::size_t) {
      done = true;
      result = ec;
    });
    while (!done) {
      ioc.restart();
      ioc.run_one();
    }
    if (result) {
      open = false;
      throw std::runtime_error("send failed: " + result.message());
    }
  }
};

KspClient::KspClient() : impl_(std::make_unique<Impl>()) {}

KspClient::~KspClient() { close(); }

void KspClient::connect(const std::string& host, std::uint16_t port, const std::string& token) {
  KspUrl url;
  url.host = host;
  url.port = std::to_string(port);
  connect(url, token);
}

void KspClient::connect(const KspUrl& url, const std::string& token) {
  auto& d = *impl_;
  d.ws.emplace(d.ioc);
  tcp::resolver resolver(d.ioc);
  beast::error_code ec;
  auto results = resolver.resolve(url.host, url.port, ec);
  if (ec) throw std::runtime_error("cannot resolve " + url.host + ": " + ec.message());
  beast::get_lowest_layer(*d.ws).connect(results, ec);
  if (ec) throw std::runtime_error("cannot connect to " + url.host + ":" + url.port + ": " + ec.message());
  // Small requests waiting for their answer: send each at once.
  beast::get_lowest_layer(*d.ws).socket().set_option(tcp::no_delay(true), ec);
  d.ws->set_option(websocket::stream_base::decorator([token](websocket::request_type& req) {
    if (!token.empty()) req.set(http::field::authorization, "Bearer " + token);
  }));
  websocket::response_type res;
  d.ws->handshake(res, url.host + ":" + url.port, url.path, ec);
  if (ec) {
    std::string why = ec.message();
    if (res.result_int() >= 300) {
      why = std::to_string(res.result_int()) + " " + std::string(res.reason());
    } else if (ec == websocket::error::upgrade_declined) {
      why = "the server refused the connection (missing or wrong token, or no Ksp at " + url.path + ")";
    }
    throw std::runtime_error("WebSocket handshake with " + url.host + ":" + url.port + url.path + " failed: " + why);
  }
  d.ws->binary(true);
  d.ws->read_message_max(64 * 1024 * 1024);
  d.open = true;
}

void KspClient::close() {
  auto& d = *impl_;
  if (!d.ws) return;
  if (d.open) {
    // A proper close handshake, so the server logs a normal goodbye; a
    // server that does not answer within a second is simply cut off.
    d.open = false;
    bool done = false;
    d.ws->async_close(websocket::close_code::normal, [&](beast::error_code) { done = true; });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!done && std::chrono::steady_clock::now() < deadline) {
      d.ioc.restart();
      d.ioc.run_one_for(deadline - std::chrono::steady_clock::now());
    }
    beast::error_code ec;
    beast::get_lowest_layer(*d.ws).socket().close(ec);
  }
  d.open = false;
  d.ioc.restart();
  d.ioc.poll();
  d.ws.reset();
}

bool KspClient::isOpen() const { return impl_->open; }

std::uint64_t KspClient::send(const std::string& route, KspMethod method, const std::string& path,
                              const std::string& entityId, KspBytes payload, bool responseRequired) {
  Message m;
  m.kind = MessageKind::Request;
  m.requestId = ++impl_->nextId;
  m.route = route;
  m.method = static_cast<std::int32_t>(method);
  m.path = path;
  m.entityId = entityId;
  m.responseRequired = responseRequired;
  m.payload = std::move(payload);
  impl_->write(*encode(m));
  return m.requestId;
}

void KspClient::sendRaw(const KspBytes& bytes) { impl_->write(bytes); }

std::optional<Message> KspClient::next(std::chrono::milliseconds timeout) {
  auto& d = *impl_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (d.inbox.empty() && d.open) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    d.startRead();
    d.ioc.restart();
    d.ioc.run_for(deadline - now);
  }
  if (d.inbox.empty()) return std::nullopt;
  Message m = std::move(d.inbox.front());
  d.inbox.pop_front();
  return m;
}

std::optional<Message> KspClient::waitReply(std::uint64_t requestId, std::chrono::milliseconds timeout) {
  auto& d = *impl_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t seen = 0;
  for (;;) {
    for (auto it = d.inbox.begin() + static_cast<std::ptrdiff_t>(seen); it != d.inbox.end(); ++it) {
      if (it->kind == MessageKind::Response && it->requestId == requestId) {
        Message m = std::move(*it);
        d.inbox.erase(it);
        return m;
      }
    }
    seen = d.inbox.size();
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || !d.open) return std::nullopt;
    d.startRead();
    d.ioc.restart();
    d.ioc.run_for(deadline - now);
  }
}

std::optional<Message> KspClient::call(const std::string& route, KspMethod method, const std::string& path,
                                       const std::string& entityId, KspBytes payload,
                                       std::chrono::milliseconds timeout) {
  auto id = send(route, method, path, entityId, std::move(payload), true);
  return waitReply(id, timeout);
}

}  // namespace fennik::server::net
