// The show-size system (bench/ShowProject.h: 1000 QA-8 amplifiers) online on
// a threaded simulated network, meters at 10 Hz, served over loopback
// WebSocket: ten clients subscribed to every entity the meter reports
// change, an eleventh moving a fader (one level change every 30 ms).
// Measured: the event loop's busy fraction (its thread's CPU time over the
// wall time), the fader's round trip (update sent -> its 204 reply, and ->
// its change seen back), and what each watching client receives per second.
// Arguments: the watchers' batch interval in ms (0: a message per change),
// the number of watchers (10 is the show's load; fewer tell how many such
// watchers this machine serves beside the server) and how they read: 1
// decodes and checks every value of every message with our own client
// library (read in place, net::view and net::forEachChange), 0 verifies each
// message's structure and counts its entries.
// On a show network the watchers run on machines of their own; here they
// share the server's two cores, and what they spend there delays the server
// (a busy core takes a woken thread at the next scheduler tick, 4 ms on this
// kernel). The counting watcher is the lighter load generator, the decoding
// one the fuller picture of a machine that also runs its clients.
// Run: build/default/bin/live_load_bench

#include "ShowProject.h"

#include "module/LivesoundModule.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/FtAudio_generated.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/entity/Database.h"
#include "fennik/server/entity/EntityFlatbufferSerializer.h"
#include "fennik/server/net/KspClient.h"
#include "fennik/server/net/KspHost.h"
#include "fennik/server/service/ServiceResolver.h"
#include "fennik/wire/Ksp_generated.h"

#include <benchmark/benchmark.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <unordered_set>

namespace {

using namespace fennik::server;
using namespace std::chrono_literals;
using qor::server::Device;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

constexpr auto FADER_PERIOD = 30ms;
// 400 moves: a p99 is then the fifth-worst move, not the second-worst.
constexpr int FADER_MOVES = 400;

double cpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The server as the server program assembles it, with the QA-8 model on a
// threaded simulated network and the show built and online.
struct LiveServer {
  net::KspHost stack;
  std::unique_ptr<qor::server::LivesoundModule> module;
  std::shared_ptr<fennik::devices::SimulatedNetwork> network;
  std::shared_ptr<qor::devicetypes::Qa8Amplifier> amps;
  std::unique_ptr<ProjectManager> project;
  std::vector<Device*> amplifiers;
  std::vector<Device*> hangs;
  std::vector<std::string> meterIds;  // every entity the meter reports change
  std::string faderId;                // the first amplifier's audio
  clockid_t loopClock{};

  LiveServer() {
    setLogLevel(spdlog::level::warn);
    network = fennik::devices::SimulatedNetwork::create(fennik::devices::SimulatedNetwork::Mode::Threaded);
    stack.globals()->add(network);
    network->registerModel(qor::devicetypes::qa8Model());
    module = std::make_unique<qor::server::LivesoundModule>(stack.globals());
    module->transition(ModuleState::Create);
    module->registerControllers();
    auto context = stack.context();
    context->loop()->work([&](const std::shared_ptr<EntityContext>& c) {
      amps = std::make_shared<qor::devicetypes::Qa8Amplifier>(
          c->db(), c->loop(), c->services(), network, qor::devicetypes::qa8Descriptor(), qor::devicetypes::qa8Model());
      c->services()->add<qor::devicetypes::Qa8Amplifier>(amps);
      c->services()->get<qor::server::DevicePlant>()->registerFactory(qor::devicetypes::qa8Descriptor().id, amps.get());
      pthread_getcpuclockid(pthread_self(), &loopClock);
    });
    project = std::make_unique<ProjectManager>(context, "bench");
    project->newProject();
    context->loop()->work([&](const std::shared_ptr<EntityContext>& c) {
      qor::bench::buildShow(c, qor::bench::ShowShape{}, amplifiers, hangs);
      faderId = amplifiers.front()->getAudio()->strId();
    });
    network->start();
    qor::bench::takeOnline(*context, *network, amplifiers);
    std::this_thread::sleep_for(3s);
    findMeterEntities();
    net::KspServerOptions options;  // the server program's limits
    stack.serve(options);
  }

  // The entities that change within half a second of steady meter reports
  // (and have a wire table): what a client showing meters subscribes to.
  void findMeterEntities() {
    auto changed = std::make_shared<std::unordered_set<Entity*>>();
    std::vector<boost::signals2::scoped_connection> hooks;
    stack.context()->loop()->work([&](const std::shared_ptr<EntityContext>& c) {
      for (const auto& e : c->db()->entities()) {
        hooks.emplace_back(e->onChanged([changed](Entity* x, std::string_view, bool) { changed->insert(x); }));
      }
    });
    std::this_thread::sleep_for(500ms);
    stack.context()->loop()->work([&](const std::shared_ptr<EntityContext>& c) {
      hooks.clear();
      for (Entity* e : *changed) {
        if (c->db()->serializer<EntityFlatbufferSerializer>(e->className())) meterIds.push_back(e->strId());
      }
    });
  }

  // Built once for the run and left to the process's end (the network's
  // and the loop's threads are still running then).
  static LiveServer& get() {
    static auto* s = new LiveServer;
    return *s;
  }
};

// A watching client: subscribes, then reads on the watchers' thread,
// counting messages, bytes and the entity states they carry.
struct Watcher {
  Watcher(asio::io_context& ioc, bool decodes) : ws(ioc), decoding(decodes) {}
  websocket::stream<beast::tcp_stream> ws;
  const bool decoding;
  beast::flat_buffer buffer;
  std::atomic<std::uint64_t> messages{0}, bytes{0}, states{0};
  std::atomic<bool> dropped{false};

  void connect(std::uint16_t port, const std::vector<std::string>& ids, std::uint32_t batchMs) {
    asio::ip::tcp::endpoint at(asio::ip::make_address("127.0.0.1"), port);
    beast::get_lowest_layer(ws).connect(at);
    ws.handshake("127.0.0.1:" + std::to_string(port), "/ksp");
    ws.binary(true);
    ws.read_message_max(64u << 20);
    // Subscribe in slices of 4000 ids (each request stays well under the
    // server's message limit), waiting for each 200.
    for (std::size_t from = 0; from < ids.size(); from += 4000) {
      std::vector<std::string> slice(ids.begin() + static_cast<std::ptrdiff_t>(from),
                                     ids.begin() + static_cast<std::ptrdiff_t>(std::min(ids.size(), from + 4000)));
      net::Message m;
      m.requestId = from + 1;
      m.route = net::SubscriptionHub::ROUTE;
      m.method = static_cast<std::int32_t>(KspMethod::Subscribe);
      m.payload = net::encodeSubscriptionArgs(slice, {}, batchMs);
      ws.write(asio::buffer(*net::encode(m)));
      for (;;) {
        buffer.clear();
        ws.read(buffer);
        auto reply = net::decode(static_cast<const std::uint8_t*>(buffer.cdata().data()), buffer.size());
        if (reply && reply->kind == net::MessageKind::Response && reply->requestId == m.requestId) {
          if (reply->status != 200) throw std::runtime_error("subscribe failed");
          break;
        }
      }
    }
  }

  // The entity states a message carries, decoded and checked (read in
  // place, as a client that only shows what it receives reads).
  std::uint64_t decodedStates() const {
    auto m = net::view(static_cast<const std::uint8_t*>(buffer.cdata().data()), buffer.size());
    if (!m) return 0;
    if (m->kind != net::MessageKind::Changes) return 1;
    std::uint64_t entries = 0;
    const bool valid = net::forEachChange(
        m->payload, [&](const net::MessageView& change) { entries += change.entityId.empty() ? 0 : 1; });
    return valid ? entries : 0;
  }

  // The same, counted from the verified structure only.
  std::uint64_t countedStates() const {
    const auto* data = static_cast<const std::uint8_t*>(buffer.cdata().data());
    flatbuffers::Verifier envelope(data, buffer.size());
    if (!envelope.VerifyBuffer<fennik::wire::Envelope>(nullptr)) return 0;
    const auto* m = flatbuffers::GetRoot<fennik::wire::Envelope>(data);
    if (m->kind() != fennik::wire::MessageKind::Changes) return 1;
    if (!m->payload()) return 0;
    flatbuffers::Verifier batch(m->payload()->data(), m->payload()->size());
    if (!batch.VerifyBuffer<fennik::wire::ChangeBatch>(nullptr)) return 0;
    const auto* changes = flatbuffers::GetRoot<fennik::wire::ChangeBatch>(m->payload()->data())->changes();
    return changes ? changes->size() : 0;
  }

  void read() {
    buffer.clear();
    ws.async_read(buffer, [this](beast::error_code ec, std::size_t n) {
      if (ec) {
        dropped = true;
        return;
      }
      messages += 1;
      bytes += n;
      states += decoding ? decodedStates() : countedStates();
      read();
    });
  }
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

KspBytes levelUpdate(const std::string& id, double level) {
  flatbuffers::FlatBufferBuilder b;
  auto i = b.CreateString(id);
  qor::server::fbs::FtAudioBuilder t(b);
  t.add_id(i);
  t.add_levelInDb(level);
  b.Finish(t.Finish());
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

void BM_LiveLoad1000Amplifiers(benchmark::State& state) {
  auto& s = LiveServer::get();
  const auto batchMs = static_cast<std::uint32_t>(state.range(0));
  const auto watcherCount = static_cast<int>(state.range(1));
  const bool decoding = state.range(2) != 0;
  asio::io_context ioc;
  std::vector<std::unique_ptr<Watcher>> watchers;
  for (int i = 0; i < watcherCount; ++i) {
    watchers.push_back(std::make_unique<Watcher>(ioc, decoding));
    watchers.back()->connect(s.stack.server()->port(), s.meterIds, batchMs);
  }
  for (auto& w : watchers) w->read();
  std::thread reading([&] { ioc.run(); });

  net::KspClient fader;
  fader.connect("127.0.0.1", s.stack.server()->port());
  if (auto r = fader.call(net::SubscriptionHub::ROUTE, KspMethod::Subscribe, {}, {},
                          net::encodeSubscriptionArgs({s.faderId}, {}));
      !r || r->status != 200) {
    state.SkipWithError("the fader client could not subscribe");
  }
  // Let the watchers' first flood (every subscribed state) pass.
  std::this_thread::sleep_for(1s);
  for (auto& w : watchers) w->messages = w->bytes = w->states = 0;

  std::vector<double> replies, changes;
  const auto wallStart = std::chrono::steady_clock::now();
  const double loopStart = cpuSeconds(s.loopClock);
  const double processStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  auto tick = wallStart;
  double level = -10;
  for (auto _ : state) {
    level = level < -10 ? -5 : -15;
    const auto sent = std::chrono::steady_clock::now();
    const auto request =
        fader.send("qor::server::FtAudio", KspMethod::Update, {}, s.faderId, levelUpdate(s.faderId, level), true);
    bool replied = false, changed = false;
    while (!replied || !changed) {
      auto m = fader.next(2s);
      if (!m) break;
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
      if (m->kind == net::MessageKind::Response && m->requestId == request) {
        replied = true;
        replies.push_back(ms);
      } else if (m->kind == net::MessageKind::Changed && m->entityId == s.faderId && !changed) {
        changed = true;
        changes.push_back(ms);
      }
    }
    if (!replied || !changed) {
      state.SkipWithError("the fader's reply or change did not come back");
      break;
    }
    tick += FADER_PERIOD;
    std::this_thread::sleep_until(tick);
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  const double loopBusy = (cpuSeconds(s.loopClock) - loopStart) / wall;
  const double processCores = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart) / wall;
  double messages = 0, bytes = 0, states = 0;
  int dropped = 0;
  for (auto& w : watchers) {
    messages += static_cast<double>(w->messages);
    bytes += static_cast<double>(w->bytes);
    states += static_cast<double>(w->states);
    dropped += w->dropped ? 1 : 0;
  }
  state.counters["loop_busy"] = loopBusy;
  state.counters["process_cores"] = processCores;
  state.counters["reply_p50_ms"] = percentile(replies, 0.5);
  state.counters["reply_p99_ms"] = percentile(replies, 0.99);
  state.counters["change_p50_ms"] = percentile(changes, 0.5);
  state.counters["change_p99_ms"] = percentile(changes, 0.99);
  const double perWatcherSecond = 1.0 / std::max(watcherCount, 1) / wall;
  state.counters["client_msgs_per_s"] = messages * perWatcherSecond;
  state.counters["client_MiB_per_s"] = bytes * perWatcherSecond / (1 << 20);
  state.counters["client_states_per_s"] = states * perWatcherSecond;
  state.counters["dropped_clients"] = dropped;
  state.counters["meter_entities"] = static_cast<double>(s.meterIds.size());

  fader.close();
  for (auto& w : watchers) {
    beast::error_code ec;
    beast::get_lowest_layer(w->ws).socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  }
  ioc.stop();
  reading.join();
}
BENCHMARK(BM_LiveLoad1000Amplifiers)
    ->ArgNames({"batch_ms", "watchers", "decoding"})
    ->Args({0, 10, 1})
    ->Args({50, 10, 1})
    ->Args({50, 10, 0})
    ->Args({50, 1, 1})
    ->Args({0, 0, 0})
    ->Iterations(FADER_MOVES)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
