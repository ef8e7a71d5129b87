// A sound engineer's day, as the server sees it from its clients. Read this
// first: it is the product from start to end.
//
// In the morning, offline, the engineer designs the system: a new project, the
// loudspeakers' data installed, amplifiers from the catalog and a loudspeaker
// in one of its modes, wired to an amplifier channel, the amplifiers grouped
// and set 3 dB down together, saved and reopened. At the venue the network
// offers the real amplifiers: the designed ones are mapped onto them and the
// project goes online writing, so the amplifiers run the design. During the
// show the meters move, the project checks watch, an A/B comparison is made by
// ear, and one amplifier drops off the network and comes back. At night the
// project is saved and the server stopped; the next morning it starts again,
// opens the file, goes online, and every value is as it was.
//
// Every action goes over the wire as a client sends it. To keep the story
// short, the test finds the ids it needs in the model, where a client would
// ask for them with show and index.

#include "ServerFixture.h"
#include "SimulatedModels.h"

#include "custom/checks/ProjectCheckService.h"
#include "custom/livesound/LivesoundController.h"
#include "qor/devicediscovery/DeviceDiscovery.h"
#include "qor/devicediscovery/DiscoveredDevice.h"
#include "qor/devicediscovery/SimulatedDiscoverySource.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/FtOnline_generated.h"
#include "qor/server/fbs/FtSignalGenerator_generated.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "service/SpeakerDatabaseService.h"
#include "support/ProjectFiles.h"

#include "fennik/devices/AudioNetworkService.h"
#include "fennik/devices/SimulatedNetwork.h"
#include "fennik/server/core/FileBytes.h"
#include "fennik/server/net/Envelope.h"
#include "fennik/server/net/ProjectRoute.h"
#include "fennik/server/project/ProjectManager.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
namespace fs = std::filesystem;
using fennik::devices::SimulatedNetwork;
using qor::server::Device;
using qor::server::DiscoveredDevice;
using qor::server::FtAudio;
using qor::server::ProjectCheck;
using qor::server::ProjectCheckKey;

constexpr const char* LIVESOUND = qor::server::LivesoundController::ROUTE;
constexpr const char* PROJECT = net::ProjectRoute::ROUTE;
constexpr const char* MASTER_WINDOW = "c3bca550-a3df-4d37-a8e4-bd545d12b0cb";
const fs::path SPEAKER_DATA = fs::path(QOR_SOURCE_DIR) / "data" / "speakerdb" / "fennik-demo-point-source-1.10.sdb";

// One run of the server program: the host with its project route, the
// module, discovery of the venue's network, serving on a free port.
class Server {
 public:
  Server(const std::shared_ptr<SimulatedNetwork>& venue, const fs::path& dataFolder) {
    stack_.globals()->add(std::make_shared<fennik::devices::AudioNetworkService>(venue));
    module_ = std::make_unique<qor::server::LivesoundModule>(stack_.globals());
    module_->transition(ModuleState::Create);
    module_->registerControllers();
    project_ = std::make_shared<ProjectManager>(context(), "qorserver day");
    stack_.dispatcher()->mount(std::make_shared<net::ProjectRoute>(context(), project_));
    work([&](EntityContext& c) {
      addSimulatedModels(c, venue);
      // Installed databases go to the day's own data folder.
      auto databases = c.services()->get<qor::server::SpeakerDatabaseService>();
      databases->clearLoadPathes();
      databases->setDataFolder(dataFolder);
      databases->pushLoadPath(databases->getInstallPath());
    });
    qor::server::addDeviceDiscovery(context(), std::make_shared<qor::server::SimulatedDiscoverySource>(venue));
    project_->newProject();
    stack_.serve({});
  }
  ~Server() {
    stack_.stopServing();
    qor::server::removeDeviceDiscovery(context());
    if (project_->isOpen()) project_->close();
    module_->deregisterControllers();
    work([](EntityContext& c) { removeSimulatedModels(c); });
    module_->transition(ModuleState::Uncreate);
    stack_.shutdown();
  }

  const std::shared_ptr<EntityContext>& context() const { return stack_.context(); }
  std::uint16_t port() const { return stack_.server()->port(); }
  void work(const std::function<void(EntityContext&)>& fn) {
    context()->loop()->work([&](const std::shared_ptr<EntityContext>& c) { fn(*c); });
  }

 private:
  net::KspHost stack_;
  std::unique_ptr<qor::server::LivesoundModule> module_;
  std::shared_ptr<ProjectManager> project_;
};

class EngineersDayTest : public ::testing::Test {
 protected:
  // The venue's network runs on its own thread and outlives every server run.
  std::shared_ptr<SimulatedNetwork> venue = SimulatedNetwork::create(SimulatedNetwork::Mode::Threaded);
  qor::server::testing::ScratchFolder scratch;
  std::unique_ptr<Server> server;
  net::KspClient client;

  void SetUp() override {
    venue->start();
    startServer();
  }
  void TearDown() override {
    client.close();
    server.reset();
    venue->stop();
  }

  void startServer() {
    server = std::make_unique<Server>(venue, scratch.path() / "data");
    client.connect("127.0.0.1", server->port(), {});
  }
  void stopServer() {
    client.close();
    server.reset();
  }

  // --- what the client sends ---
  std::optional<net::Message> command(const std::string& path, KspBytes payload = {}) {
    return client.call(LIVESOUND, KspMethod::Custom, path, {}, std::move(payload), 10s);
  }
  std::optional<net::Message> project(const std::string& path, const std::string& file = {}) {
    return client.call(PROJECT, KspMethod::Custom, path, {},
                       file.empty() ? KspBytes{} : net::encodeProjectPathArgs(file), 10s);
  }
  template <class Fill>
  std::optional<net::Message> update(const std::string& route, const std::string& id, Fill fill) {
    return client.call(route, KspMethod::Update, {}, id, table(fill), 10s);
  }
  // Every device of the project online, sending the design to the devices.
  std::optional<net::Message> goOnlineWriting() {
    const std::string online =
        idOf([&] { return server->context()->db()->all<qor::server::LivesoundProject>()[0]->getOnline(); });
    return update("qor::server::FtOnline", online, [&](flatbuffers::FlatBufferBuilder& b) {
      auto id = b.CreateString(online);
      qor::server::fbs::FtOnlineBuilder t(b);
      t.add_id(id);
      t.add_supposedState(qor::server::fbs::FtOnlineState::ONLINE_WRITING);
      return t.Finish();
    });
  }
  // The kind and id of the first catalog item of the kind whose model is
  // the given one (any model when empty).
  std::pair<std::string, std::string> fromCatalog(const std::string& kind, const std::string& model = {}) {
    auto reply =
        command("/deviceCatalogQuery",
                table([&](flatbuffers::FlatBufferBuilder& b) { return cmd::CreateDeviceCatalogQueryArgs(b); }));
    const auto* result = reply ? tableOf<cmd::DeviceCatalogQueryResult>(reply->payload) : nullptr;
    if (result && result->matches())
      for (const auto* match : *result->matches())
        for (const auto* item : *match->items())
          if (item->kind()->str() == kind && (model.empty() || item->model()->str() == model))
            return {item->kind()->str(), item->id()->str()};
    ADD_FAILURE() << "the catalog offers no " << kind << " " << model;
    return {};
  }
  std::vector<std::string> deviceAdd(const std::pair<std::string, std::string>& type, int count, int x) {
    auto reply = command("/deviceAdd", table([&](flatbuffers::FlatBufferBuilder& b) {
                           return cmd::CreateDeviceAddArgs(b, x, 100, count, b.CreateString(type.first),
                                                           b.CreateString(type.second));
                         }));
    std::vector<std::string> ids;
    const auto* result = reply ? tableOf<cmd::DeviceAddResult>(reply->payload) : nullptr;
    if (result && result->devices())
      for (const auto* id : *result->devices()) ids.push_back(id->str());
    return ids;
  }

  // --- what the test looks up in the model ---
  template <class T>
  T read(const std::function<T()>& fn) {
    T value{};
    server->work([&](EntityContext&) { value = fn(); });
    return value;
  }
  bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit = 10s) {
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < limit) {
      if (read<bool>(condition)) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  Device* device(const std::string& id) const { return server->context()->db()->get<Device>(UuidFromS(id)); }
  std::string idOf(const std::function<const fennik::server::Entity*()>& find) {
    return read<std::string>([&] {
      const auto* e = find();
      return e ? e->strId() : std::string();
    });
  }
  double levelOf(const std::string& amp, int channel) {
    return read<double>([&] { return device(amp)->getAudio()->childrens().at(channel)->getLevelInDb(); });
  }
  // Whether a project check warns; on the loop only.
  bool warns(ProjectCheckKey key) const {
    const ProjectCheck* check =
        server->context()->services()->get<qor::server::ProjectCheckService>()->getProjectCheck(key);
    return check && check->getActive();
  }
  // What the engineer designed: every entity as the project file keeps it.
  std::map<std::string, fennik::server::Json> design() {
    return read<std::map<std::string, fennik::server::Json>>(
        [&] { return qor::server::testing::entitiesById(*server->context(), false); });
  }
  // Whether an entity is compared between two designs: all but the project
  // checks, which are worked out and not designed.
  static bool compared(const fennik::server::Json& entity) {
    return entity.value("(class)", "") != "qor::server::ProjectCheck";
  }
  // The differences between two designs, one line each: empty when equal.
  static std::vector<std::string> differences(const std::map<std::string, fennik::server::Json>& was,
                                              const std::map<std::string, fennik::server::Json>& is) {
    std::vector<std::string> out;
    const fennik::server::Json none;
    for (const auto& [id, entity] : was) {
      if (!compared(entity)) continue;
      auto it = is.find(id);
      if (it == is.end()) {
        out.push_back(entity.value("(class)", "") + " " + id + " is gone");
        continue;
      }
      for (const auto& [key, value] : entity.items())
        if (it->second.value(key, none) != value)
          out.push_back(entity.value("(class)", "") + " " + id + " ." + key + ": " + value.dump() + " -> " +
                        it->second.value(key, none).dump());
    }
    for (const auto& [id, entity] : is)
      if (compared(entity) && !was.count(id)) out.push_back(entity.value("(class)", "") + " " + id + " is new");
    return out;
  }
  static std::string lines(const std::vector<std::string>& list) {
    std::string out;
    for (const auto& line : list) out += line + "\n";
    return out;
  }

  // What an amplifier on the venue's network runs, asked by a second driver.
  std::unique_ptr<fennik::devices::FennikDevice> ask(const std::string& physicalId) {
    auto reader = venue->createDriver("QA-8");
    reader->setPhysicalDeviceId(physicalId);
    reader->goOnline(true);
    return reader;
  }
};

TEST_F(EngineersDayTest, DesignGoOnlineRunTheShowAndOpenItAgainTheNextDay) {
  // ---- Morning, at the office, offline ----
  ASSERT_EQ(status(project("/projectNew")), 200);
  ASSERT_EQ(status(command("/speakerDatabaseInstallFile", table([&](flatbuffers::FlatBufferBuilder& b) {
                             const std::string bytes = fennik::server::readFileBytes(SPEAKER_DATA, 16u << 20);
                             return cmd::CreateSpeakerDatabaseInstallFileArgs(
                                 b, b.CreateVector(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
                           }))),
            200);
  EXPECT_TRUE(waitFor([&] {
    auto all = server->context()->db()->all<qor::server::SpeakerDatabase>();
    return !all.empty() && !all.front()->getInstalledVersions().empty();
  }));

  // Two QA-8 amplifiers from the catalog, side by side.
  const auto qa8 = fromCatalog("Amplifier", "QA-8");
  const auto amps = deviceAdd(qa8, 2, 100);
  ASSERT_EQ(amps.size(), 2u);
  const std::string left = amps[0];
  const std::string right = amps[1];

  // A loudspeaker in one of its modes, wired to the left amplifier's first
  // channel with the connector dialogue.
  const auto speakers = deviceAdd(fromCatalog("SpeakerMode"), 1, 400);
  ASSERT_EQ(speakers.size(), 1u);
  const std::string output = idOf([&] { return device(left)->getConnector()->childrens().at(0); });
  const std::string input = idOf([&] { return device(speakers[0])->getConnector()->childrens().at(0); });
  auto connector = [&](const std::string& path, const std::string& id) {
    return status(command(path, table([&](flatbuffers::FlatBufferBuilder& b) {
                            return cmd::CreateConnectorStartArgs(b, b.CreateString(id));  // same shape for both
                          })));
  };
  ASSERT_EQ(connector("/connectorStart", output), 200);
  ASSERT_EQ(connector("/connectorConnect", input), 200);
  ASSERT_EQ(status(command("/connectorFinish")), 200);
  auto wired = [&] {
    return read<bool>([&] {
      const auto* in = server->context()->db()->get<qor::server::FtConnector>(UuidFromS(input));
      return in && in->getSignalSource() && in->getSignalSource()->strId() == output;
    });
  };
  EXPECT_TRUE(wired());

  // Grouped, and the group taken 3 dB down: both amplifiers follow.
  std::vector<std::string> items;
  for (const auto& amp : amps) items.push_back(idOf([&] { return device(amp)->getVisualItem(); }));
  auto select = [&](const std::vector<std::string>& these, bool deselect, bool all) {
    return status(command("/visualItemSelect", table([&](flatbuffers::FlatBufferBuilder& b) {
                            return cmd::CreateVisualItemSelectArgs(b, b.CreateString(MASTER_WINDOW),
                                                                   b.CreateVectorOfStrings(these), deselect, all);
                          })));
  };
  ASSERT_EQ(select({}, true, true), 200);  // the new loudspeaker was selected
  ASSERT_EQ(select(items, false, false), 200);
  const std::string group = UuidToS(random_uuid());
  ASSERT_EQ(status(command("/visualItemDeviceForSelected", table([&](flatbuffers::FlatBufferBuilder& b) {
                             return cmd::CreateVisualItemDeviceForSelectedArgs(b, b.CreateString(group), true);
                           }))),
            200);
  const std::string groupAudio = idOf([&] { return device(group)->getAudio(); });
  ASSERT_FALSE(groupAudio.empty());
  ASSERT_EQ(status(command("/ftAudioLevelRelative", table([&](flatbuffers::FlatBufferBuilder& b) {
                             return cmd::CreateFtAudioLevelRelativeArgs(b, b.CreateString(groupAudio), -3.0);
                           }))),
            200);
  EXPECT_DOUBLE_EQ(levelOf(left, 0), -3.0);
  EXPECT_DOUBLE_EQ(levelOf(right, 7), -3.0);

  // Saved and opened again: the design is all there.
  const std::string file = (scratch.path() / "festival.qor").string();
  ASSERT_EQ(status(project("/projectSaveAs", file)), 200);
  const auto designed = design();
  ASSERT_EQ(status(project("/projectOpen", file)), 200);
  EXPECT_EQ(lines(differences(designed, design())), "");

  // ---- Afternoon, at the venue ----
  const std::string stageLeft = venue->addDevice("QA-8", "qa8-stage-left");
  const std::string stageRight = venue->addDevice("QA-8", "qa8-stage-right");
  ASSERT_TRUE(waitFor([&] { return server->context()->db()->all<DiscoveredDevice>().size() == 2; }));
  for (const auto& [amp, physical] : {std::pair{left, stageLeft}, std::pair{right, stageRight}}) {
    ASSERT_EQ(status(command("/deviceMappingLoad", table([&](flatbuffers::FlatBufferBuilder& b) {
                               return cmd::CreateDeviceMappingLoadArgs(
                                   b, b.CreateString(amp), b.CreateString(UuidToS(DiscoveredDevice::idFor(physical))));
                             }))),
              200);
  }
  EXPECT_EQ(read<std::string>([&] { return device(left)->getDeviceId(); }), stageLeft);

  // Online writing: the amplifiers run the design.
  ASSERT_EQ(status(goOnlineWriting()), 204);
  ASSERT_TRUE(
      waitFor([&] { return device(left)->getOnline()->getIsOnline() && device(right)->getOnline()->getIsOnline(); }));
  auto leftAmp = ask(stageLeft);
  EXPECT_TRUE(waitFor([&] { return leftAmp->isOnline() && leftAmp->getLevel(0) == -3.0; }));

  // ---- The show ----
  // Pink noise through the left amplifier: its meters move.
  const std::string generator = idOf([&] { return device(left)->getSignalGenerator(); });
  ASSERT_EQ(status(update("qor::server::FtSignalGenerator", generator,
                          [&](flatbuffers::FlatBufferBuilder& b) {
                            auto id = b.CreateString(generator);
                            qor::server::fbs::FtSignalGeneratorBuilder t(b);
                            t.add_id(id);
                            t.add_active(true);
                            t.add_levelInDb(-30.0);
                            return t.Finish();
                          })),
            204);
  EXPECT_TRUE(waitFor([&] { return device(left)->getSupermeter()->childrens().at(0)->getInput() > -100.0; }));

  // A/B by ear on the left amplifier: A at -3 dB, B at -9 dB, back to A.
  const std::string leftAudio = idOf([&] { return device(left)->getAudio(); });
  auto ab = [&](const std::string& path, unsigned slot) {
    return status(command(path, table([&](flatbuffers::FlatBufferBuilder& b) {
                            return cmd::CreateAbPresetStoreArgs(b, b.CreateString(leftAudio), slot);
                          })));
  };
  ASSERT_EQ(ab("/abPresetStore", 0), 200);
  ASSERT_EQ(status(command("/ftAudioLevelRelative", table([&](flatbuffers::FlatBufferBuilder& b) {
                             return cmd::CreateFtAudioLevelRelativeArgs(b, b.CreateString(leftAudio), -6.0);
                           }))),
            200);
  EXPECT_TRUE(waitFor([&] { return leftAmp->getLevel(0) == -9.0; }));
  ASSERT_EQ(ab("/abPresetStore", 1), 200);
  ASSERT_EQ(ab("/abPresetLoad", 0), 200);
  EXPECT_TRUE(waitFor([&] { return leftAmp->getLevel(0) == -3.0; }));

  // The right amplifier drops off the network: the checks say that not all
  // devices are online; it comes back and the warning goes.
  ASSERT_TRUE(venue->setReachable(stageRight, false));
  EXPECT_TRUE(waitFor([&] { return !device(right)->getOnline()->getIsOnline(); }));
  EXPECT_TRUE(waitFor([&] { return warns(ProjectCheckKey::DEVICES_PARTIAL_ONLINE); }, 15s));
  ASSERT_TRUE(venue->setReachable(stageRight, true));
  EXPECT_TRUE(waitFor([&] { return device(right)->getOnline()->getIsOnline(); }));
  EXPECT_TRUE(waitFor([&] { return !warns(ProjectCheckKey::DEVICES_PARTIAL_ONLINE); }, 15s));

  // ---- Night: saved, the server stopped ----
  ASSERT_EQ(status(project("/projectSave")), 200);
  const auto tonight = design();
  stopServer();

  // ---- Next morning: the server starts again and opens the file ----
  startServer();
  ASSERT_EQ(status(project("/projectOpen", file)), 200);
  // A project opens offline: the engineer takes it online writing again, and
  // what the amplifiers report comes back with them.
  ASSERT_EQ(status(goOnlineWriting()), 204);
  ASSERT_TRUE(
      waitFor([&] { return device(left)->getOnline()->getIsOnline() && device(right)->getOnline()->getIsOnline(); }));
  EXPECT_TRUE(waitFor([&] { return differences(tonight, design()).empty(); }));
  EXPECT_EQ(lines(differences(tonight, design())), "");
  EXPECT_DOUBLE_EQ(levelOf(left, 0), -3.0);
  EXPECT_EQ(read<std::string>([&] { return device(right)->getDeviceId(); }), stageRight);
  EXPECT_TRUE(wired());
}

}  // namespace
}  // namespace qor::testing
