#include "DemoProject.h"

#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/server/fbs/Device_generated.h"
#include "qor/server/fbs/FtOnline_generated.h"
#include "qor/server/fbs/FtSignalGenerator_generated.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "qor/server/fbs/LivesoundProject_generated.h"

#include "fennik/server/core/Logging.h"
#include "fennik/server/ksp/Ksp.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qor::app {

namespace {

using fennik::server::KspBytes;
using fennik::server::KspMethod;
namespace cmd = qor::server::fbs::cmd;

// Waits for the one reply of a request made on the server's own routes.
class Reply : public fennik::server::IKspReplier {
 public:
  void reply(std::shared_ptr<fennik::server::KspResponse> response) override {
    if (!done_.exchange(true)) promise_.set_value(std::move(response));
  }
  std::shared_ptr<fennik::server::KspResponse> wait() {
    auto future = promise_.get_future();
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
      throw std::runtime_error("no reply within 30 s");
    return future.get();
  }

 private:
  std::promise<std::shared_ptr<fennik::server::KspResponse>> promise_;
  std::atomic<bool> done_{false};
};

KspBytes bytesOf(const flatbuffers::FlatBufferBuilder& b) {
  return KspBytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

class Client {
 public:
  explicit Client(fennik::server::IKspDispatcher& dispatcher) : dispatcher_(dispatcher) {}

  KspBytes call(const std::string& route, KspMethod method, const std::string& path, const std::string& entityId,
                KspBytes payload) {
    fennik::server::KspRequest::Header header;
    header.id = ++id_;
    header.route = route;
    header.method = method;
    header.path = path;
    header.entityId = entityId;
    auto replier = std::make_shared<Reply>();
    dispatcher_.dispatch(replier, std::make_shared<fennik::server::KspRequest>(header, std::move(payload), replier));
    auto response = replier->wait();
    const int status = static_cast<int>(response->status());
    if (status >= 300) throw std::runtime_error(route + path + " answered " + std::to_string(status));
    return response->payload();
  }
  KspBytes command(const std::string& path, const flatbuffers::FlatBufferBuilder& b) {
    return call("qor::server::Livesound", KspMethod::Custom, path, {}, bytesOf(b));
  }
  // Changes the fields the finished table holds on the entity of the route.
  void update(const std::string& route, const std::string& entityId, const flatbuffers::FlatBufferBuilder& b) {
    call(route, KspMethod::Update, {}, entityId, bytesOf(b));
  }

 private:
  fennik::server::IKspDispatcher& dispatcher_;
  std::uint64_t id_ = 0;
};

template <class T>
const T* rootOf(const KspBytes& bytes) {
  flatbuffers::Verifier verifier(bytes.data(), bytes.size());
  if (!verifier.VerifyBuffer<T>(nullptr)) throw std::runtime_error("a reply that does not verify");
  return flatbuffers::GetRoot<T>(bytes.data());
}

// The new device's id.
std::string add(Client& client, const std::string& kind, const std::string& typeId) {
  flatbuffers::FlatBufferBuilder b;
  b.Finish(cmd::CreateDeviceAddArgs(b, 0, 0, 1, b.CreateString(kind), b.CreateString(typeId)));
  const KspBytes reply = client.command("/deviceAdd", b);
  const auto* result = rootOf<cmd::DeviceAddResult>(reply);
  if (!result->devices() || result->devices()->size() != 1) throw std::runtime_error("the device was not added");
  return result->devices()->Get(0)->str();
}

// The ids a buffer whose root is a vector of strings (an index reply) holds.
std::vector<std::string> idsOf(const KspBytes& bytes) {
  std::vector<std::string> out;
  if (bytes.size() <= 4) return out;
  flatbuffers::Verifier verifier(bytes.data(), bytes.size());
  if (!verifier.VerifyVector<flatbuffers::Offset<flatbuffers::String>>(
          flatbuffers::GetRoot<flatbuffers::Vector<flatbuffers::Offset<flatbuffers::String>>>(bytes.data())))
    throw std::runtime_error("an index reply that does not verify");
  for (const auto* id :
       *flatbuffers::GetRoot<flatbuffers::Vector<flatbuffers::Offset<flatbuffers::String>>>(bytes.data()))
    out.push_back(id->str());
  return out;
}

// Adds the network device to the project as a client does from the
// discovered-device list, once discovery has listed it (it runs on its own:
// asking before would fail the command and log it as an error).
std::string addDiscovered(Client& client, const std::string& physicalId) {
  const std::string entity = fennik::server::UuidToS(qor::server::DiscoveredDevice::idFor(physicalId));
  for (int attempt = 0;; ++attempt) {
    const auto listed = idsOf(client.call("qor::server::DiscoveredDevice", KspMethod::Index, {}, {}, {}));
    if (std::find(listed.begin(), listed.end(), entity) != listed.end()) break;
    if (attempt == 50) throw std::runtime_error("discovery did not list " + physicalId + " within 5 s");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  flatbuffers::FlatBufferBuilder b;
  b.Finish(cmd::CreateDiscoveredDeviceAddArgs(b, b.CreateString(entity), 0, 0));
  const KspBytes reply = client.command("/discoveredDeviceAdd", b);
  const auto* result = rootOf<cmd::DiscoveredDeviceAddResult>(reply);
  return result->device() ? result->device()->str() : std::string();
}

// Takes the project online writing, as an engineer does at the venue: every
// mapped device receives the designed values; one without a network device
// stays offline.
void goOnlineWriting(Client& client) {
  const auto projects = idsOf(client.call("qor::server::LivesoundProject", KspMethod::Index, {}, {}, {}));
  if (projects.size() != 1) throw std::runtime_error("no project to take online");
  const KspBytes shown = client.call("qor::server::LivesoundProject", KspMethod::Show, {}, projects[0], {});
  const auto* project = rootOf<qor::server::fbs::LivesoundProject>(shown);
  if (!project->online()) throw std::runtime_error("the project has no online feature");
  const std::string online = project->online()->str();
  flatbuffers::FlatBufferBuilder b;
  auto id = b.CreateString(online);
  qor::server::fbs::FtOnlineBuilder t(b);
  t.add_id(id);
  t.add_supposedState(qor::server::fbs::FtOnlineState::ONLINE_WRITING);
  b.Finish(t.Finish());
  client.update("qor::server::FtOnline", online, b);
}

// Sends pink noise at -30 dB through the device's channels, so that its
// meters move on every client.
void playTestSignal(Client& client, const std::string& device) {
  const KspBytes shown = client.call("qor::server::Device", KspMethod::Show, {}, device, {});
  const auto* d = rootOf<qor::server::fbs::Device>(shown);
  if (!d->signalGenerator()) throw std::runtime_error("the device has no signal generator");
  const std::string generator = d->signalGenerator()->str();
  flatbuffers::FlatBufferBuilder b;
  auto id = b.CreateString(generator);
  qor::server::fbs::FtSignalGeneratorBuilder t(b);
  t.add_id(id);
  t.add_active(true);
  t.add_levelInDb(-30.0);
  b.Finish(t.Finish());
  client.update("qor::server::FtSignalGenerator", generator, b);
}

}  // namespace

void buildDemoProject(fennik::server::IKspDispatcher& dispatcher, const fennik::devices::SimulatedNetwork& network) {
  auto log = fennik::server::getLogger(fennik::server::HOST_LOGGER);
  try {
    Client client(dispatcher);
    if (!idsOf(client.call("qor::server::Device", KspMethod::Index, {}, {}, {})).empty()) {
      log->info("Demo: the project has devices already; it stays as it is");
      return;
    }
    // The catalog says which kind and type id each model has.
    flatbuffers::FlatBufferBuilder query;
    query.Finish(cmd::CreateDeviceCatalogQueryArgs(query));
    const KspBytes catalog = client.command("/deviceCatalogQuery", query);
    std::map<std::string, std::pair<std::string, std::string>> byModel;
    for (const auto* match : *rootOf<cmd::DeviceCatalogQueryResult>(catalog)->matches()) {
      for (const auto* item : *match->items()) byModel[item->model()->str()] = {item->kind()->str(), item->id()->str()};
    }
    // Two QA-8 amplifiers, a QA-4 and the matrix of the network go into the
    // project, mapped onto their network devices.
    std::map<std::string, int> taken;
    std::string firstAmplifier;
    for (const auto& found : network.devices()) {
      auto type = byModel.find(found.model);
      if (type == byModel.end() || taken[found.model]++ >= (found.model == "QA-8" ? 2 : 1)) continue;
      const std::string device = addDiscovered(client, found.physicalId);
      if (device.empty()) continue;
      if (firstAmplifier.empty() && found.model == "QA-8") firstAmplifier = device;
      log->info("Demo: {} {} added from the network", found.model, found.physicalId);
    }
    // And one amplifier designed offline, not on the network yet.
    if (auto qa8 = byModel.find("QA-8"); qa8 != byModel.end()) {
      add(client, qa8->second.first, qa8->second.second);
      log->info("Demo: a QA-8 added by type, not mapped");
    }
    goOnlineWriting(client);
    log->info("Demo: the project is online writing; the mapped devices run the design");
    if (!firstAmplifier.empty()) {
      playTestSignal(client, firstAmplifier);
      log->info("Demo: pink noise at -30 dB on the first QA-8, so its meters move");
    }
  } catch (const std::exception& e) {
    log->error("Demo project: {}", e.what());
  }
}

}  // namespace qor::app
