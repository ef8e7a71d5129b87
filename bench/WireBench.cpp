// The wire over loopback WebSocket: a throttled update and its change
// notification, against a bare Beast WebSocket echo of the same message size
// measured in the same run; sustained updates from one client; one change
// fanned out to 50 subscribed clients.

#include "module/LivesoundModule.h"
#include "qor/server/entities/FtDelay.h"
#include "qor/server/fbs/FtDelay_generated.h"
#include "qor/server/services/IFtDelayService.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/net/KspClient.h"
#include "fennik/server/net/KspHost.h"
#include "fennik/server/service/ServiceResolver.h"

#include <benchmark/benchmark.h>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <memory>
#include <thread>

namespace {

using namespace fennik::server;
using namespace std::chrono_literals;
namespace fbs = qor::server::fbs;

// One server for the whole run, assembled as the server program does, with
// one FtDelay to write.
struct Server {
  net::KspHost stack;
  std::unique_ptr<qor::server::LivesoundModule> module;
  net::KspServer* server = nullptr;
  std::string delayId;

  Server() {
    setLogLevel(spdlog::level::warn);
    module = std::make_unique<qor::server::LivesoundModule>(stack.globals());
    module->transition(ModuleState::Create);
    module->registerControllers();
    net::KspServerOptions options;
    options.sendQueueLimit = 1 << 20;
    stack.serve(options);
    server = stack.server();
    stack.context()->loop()->work([&](const std::shared_ptr<EntityContext>& c) {
      delayId = c->services()->get<qor::server::IFtDelayService>()->create()->strId();
    });
  }
  static Server& get() {
    static Server s;
    return s;
  }
};

KspBytes delayUpdate(const std::string& id, double value) {
  flatbuffers::FlatBufferBuilder b;
  auto i = b.CreateString(id);
  fbs::FtDelayBuilder t(b);
  t.add_id(i);
  t.add_delayInMs(value);
  b.Finish(t.Finish());
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

void subscribe(net::KspClient& client, const std::string& id) {
  auto reply =
      client.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {}, net::encodeSubscriptionArgs({id}, {}));
  if (!reply || reply->status != 200) throw std::runtime_error("subscribe failed");
}

void BM_ThrottledUpdateRoundTrip(benchmark::State& state) {
  auto& s = Server::get();
  net::KspClient client;
  client.connect("127.0.0.1", s.server->port());
  subscribe(client, s.delayId);
  double value = 0;
  for (auto _ : state) {
    client.send("qor::server::FtDelay", KspMethod::Update, {}, s.delayId, delayUpdate(s.delayId, value += 1), false);
    auto m = client.next(10s);
    if (!m || m->kind != net::MessageKind::Changed) {
      state.SkipWithError("no change notification");
      break;
    }
  }
}
BENCHMARK(BM_ThrottledUpdateRoundTrip)->UseRealTime();

// A bare Beast WebSocket echo server on its own thread.
struct Echo {
  boost::asio::io_context ioc;
  boost::asio::ip::tcp::acceptor acceptor{ioc, {boost::asio::ip::make_address("127.0.0.1"), 0}};
  std::thread thread;
  Echo() {
    thread = std::thread([this] {
      boost::beast::websocket::stream<boost::asio::ip::tcp::socket> ws(acceptor.accept());
      ws.accept();
      ws.binary(true);
      boost::beast::flat_buffer buffer;
      boost::beast::error_code ec;
      for (;;) {
        ws.read(buffer, ec);
        if (ec) return;
        ws.write(buffer.data(), ec);
        if (ec) return;
        buffer.consume(buffer.size());
      }
    });
  }
  ~Echo() { thread.join(); }
};

void BM_BeastEchoSameSize(benchmark::State& state) {
  auto& s = Server::get();
  net::Message m;
  m.route = "qor::server::FtDelay";
  m.method = static_cast<std::int32_t>(KspMethod::Update);
  m.entityId = s.delayId;
  m.payload = delayUpdate(s.delayId, 1.0);
  const auto frame = net::encode(m);
  state.counters["bytes"] = static_cast<double>(frame->size());
  Echo echo;
  {
    net::KspClient client;
    client.connect("127.0.0.1", echo.acceptor.local_endpoint().port());
    for (auto _ : state) {
      client.sendRaw(*frame);
      if (!client.next(10s)) {
        state.SkipWithError("no echo");
        break;
      }
    }
  }
}
BENCHMARK(BM_BeastEchoSameSize)->UseRealTime();

void BM_SustainedUpdates(benchmark::State& state) {
  auto& s = Server::get();
  net::KspClient client;
  client.connect("127.0.0.1", s.server->port());
  const int batch = 1000;
  double value = 0;
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) {
      client.send("qor::server::FtDelay", KspMethod::Update, {}, s.delayId, delayUpdate(s.delayId, value += 1), false);
    }
    auto marker = client.send("qor::server::FtDelay", KspMethod::Index);
    if (!client.waitReply(marker, 30s)) {
      state.SkipWithError("no reply");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_SustainedUpdates)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_FanOutTo50Subscribers(benchmark::State& state) {
  auto& s = Server::get();
  std::vector<std::unique_ptr<net::KspClient>> watchers;
  for (int i = 0; i < 50; ++i) {
    watchers.push_back(std::make_unique<net::KspClient>());
    watchers.back()->connect("127.0.0.1", s.server->port());
    subscribe(*watchers.back(), s.delayId);
  }
  net::KspClient writer;
  writer.connect("127.0.0.1", s.server->port());
  double value = 0;
  for (auto _ : state) {
    writer.send("qor::server::FtDelay", KspMethod::Update, {}, s.delayId, delayUpdate(s.delayId, value += 1), false);
    for (auto& w : watchers) {
      auto m = w->next(10s);
      if (!m || m->kind != net::MessageKind::Changed) {
        state.SkipWithError("a subscriber missed the change");
        return;
      }
    }
  }
}
BENCHMARK(BM_FanOutTo50Subscribers)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
