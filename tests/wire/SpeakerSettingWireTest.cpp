// A loudspeaker wired to an online amplifier over a real connection: the
// engineer installs a speaker database, adds a loudspeaker in one of its
// modes and an amplifier, takes the amplifier online and wires the
// loudspeaker to its first channel with the connector dialogue. The channel
// takes the loudspeaker's DSP chain, the amplifier on the network runs it,
// and the check for different speaker settings stays quiet; when someone
// loads another chain at the amplifier itself, the check speaks up. The
// loop's timers follow a hand-moved clock; the network runs on its own thread.

#include "HandMovedTime.h"
#include "NetworkServerFixture.h"

#include "custom/checks/ProjectCheckService.h"
#include "custom/livesound/LivesoundController.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/FtOnline_generated.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "qor/server/services/DeviceService.h"
#include "service/SpeakerDatabaseService.h"
#include "support/ProjectFiles.h"

#include "fennik/server/core/FileBytes.h"
#include "fennik/server/project/FileContainer.h"

#include <filesystem>
#include <string>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
namespace fs = std::filesystem;
using qor::server::Device;
using qor::server::FtConnector;
using qor::server::FtSpeakerSetting;
using qor::server::ProjectCheckKey;

constexpr const char* ROUTE = qor::server::LivesoundController::ROUTE;
const fs::path DATABASE = fs::path(QOR_SOURCE_DIR) / "data" / "speakerdb" / "fennik-demo-point-source-1.10.sdb";
// The chain a generic setting names: no loudspeaker's.
const std::string GENERIC_CHAIN = "00000000-0000-0000-0000-000000000000";

class SpeakerSettingWireTest : private HandMovedTime, public NetworkServerFixture {
 protected:
  SpeakerSettingWireTest() : NetworkServerFixture(clock) {}

  void SetUp() override {
    NetworkServerFixture::SetUp();
    // Installed databases go to this test's folder only.
    onLoop([&](EntityContext& c) {
      auto databases = c.services()->get<qor::server::SpeakerDatabaseService>();
      databases->clearLoadPathes();
      databases->setDataFolder(scratch.path());
      databases->pushLoadPath(databases->getInstallPath());
      databases->loadAllDatabases();
    });
  }

  std::optional<net::Message> call(const std::string& path, KspBytes payload = {}) {
    return client.call(ROUTE, KspMethod::Custom, path, {}, std::move(payload), 10s);
  }
  std::string deviceAdd(const std::string& kind, const std::string& id) {
    auto reply = call("/deviceAdd", table([&](flatbuffers::FlatBufferBuilder& b) {
                        return cmd::CreateDeviceAddArgs(b, 0, 0, 1, b.CreateString(kind), b.CreateString(id));
                      }));
    const auto* result = status(reply) == 200 ? tableOf<cmd::DeviceAddResult>(reply->payload) : nullptr;
    return result && result->devices() && result->devices()->size() == 1 ? result->devices()->Get(0)->str() : "";
  }
  // The id of the first catalog item the query finds.
  std::string fromCatalog(const std::string& query) {
    auto reply = call("/deviceCatalogQuery", table([&](flatbuffers::FlatBufferBuilder& b) {
                        return cmd::CreateDeviceCatalogQueryArgs(b, b.CreateVectorOfStrings({query}));
                      }));
    const auto* result = reply ? tableOf<cmd::DeviceCatalogQueryResult>(reply->payload) : nullptr;
    if (!result || !result->matches() || result->matches()->size() != 1) return {};
    const auto* items = result->matches()->Get(0)->items();
    return items && items->size() > 0 ? items->Get(0)->id()->str() : "";
  }
  std::optional<net::Message> withConnector(const std::string& path, const std::string& id) {
    return call(path, table([&](flatbuffers::FlatBufferBuilder& b) {
                  return cmd::CreateConnectorStartArgs(b, b.CreateString(id));  // the same table for both
                }));
  }

  Device* device(const std::string& id) const { return context->db()->get<Device>(UuidFromS(id)); }
  template <class E>
  static E* channel(E* feature, int index) {
    for (E* c : feature ? feature->childrens().toVector() : std::vector<E*>{}) {
      if (c->getIndex() == index) return c;
    }
    return nullptr;
  }
  std::string chainOf(const std::string& dev) {
    return read<std::string>([&] {
      const FtSpeakerSetting* s = channel(device(dev)->getSpeakerSetting(), 0);
      return s ? s->getSupposedSpeakerDbDspChainId() : std::string("(none)");
    });
  }
  bool incorrect(const std::string& amp) {
    return read<bool>([&] { return channel(device(amp)->getSpeakerSetting(), 0)->getIsIncorrect(); });
  }
  bool warns(ProjectCheckKey key) {
    return read<bool>([&] {
      const auto* check = context->services()->get<qor::server::ProjectCheckService>()->getProjectCheck(key);
      return check && check->getActive();
    });
  }
  // Moves the loop's clock on; the jobs behind let the due timers run.
  void advance(std::chrono::milliseconds by) {
    clock->advance(by);
    onLoop([](EntityContext&) {});
    onLoop([](EntityContext&) {});
  }
  // Moves the clock on, a check period at a time, until the condition holds
  // (the driver's answers come from the network's thread).
  bool advanceUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 8; ++i) {
      advance(5000ms);
      for (int j = 0; j < 50; ++j) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
      }
    }
    return false;
  }
  // What the amplifier on the network runs on its first channel, as a
  // second driver that reads the device finds it: true when it is `chain`.
  bool runs(const std::string& physicalId, const std::string& chain) {
    auto reader = network->createDriver("QA-8");
    reader->setPhysicalDeviceId(physicalId);
    reader->goOnline(true);
    if (!waitFor([&] { return reader->isOnline(); })) return false;
    reader->checkSpeakerSetting(0, fennik::devices::SpeakerSetting{"", chain});
    return !reader->isSpeakerSettingIncorrect(0);
  }

  qor::server::testing::ScratchFolder scratch;
};

TEST_F(SpeakerSettingWireTest, AWiredLoudspeakersChainRunsOnTheOnlineAmplifierAndTheCheckAgrees) {
  // The loudspeaker data, over the wire.
  const std::string bytes = fennik::server::readFileBytes(DATABASE, 16u << 20);
  ASSERT_EQ(status(call("/speakerDatabaseInstallFile", table([&](flatbuffers::FlatBufferBuilder& b) {
                          return cmd::CreateSpeakerDatabaseInstallFileArgs(
                              b, b.CreateVector(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
                        }))),
            200);
  ASSERT_TRUE(waitFor([&] { return !fromCatalog("kind:speakermode").empty(); }));

  // A loudspeaker in one of its modes: it wants that mode's chain.
  const std::string speaker = deviceAdd("SpeakerMode", fromCatalog("kind:speakermode -band"));
  ASSERT_FALSE(speaker.empty());
  const std::string wanted = chainOf(speaker);
  ASSERT_NE(wanted, "(none)");
  ASSERT_FALSE(wanted.empty());
  ASSERT_NE(wanted, GENERIC_CHAIN);

  // An amplifier, mapped onto one on the network and online writing.
  const std::string amp = deviceAdd("Amplifier", fromCatalog("model:qa-8"));
  ASSERT_FALSE(amp.empty());
  const std::string physical = network->addDevice("QA-8", "qa8-stage");
  onLoop([&](EntityContext& c) {
    c.services()->get<qor::server::DeviceService>()->setDeviceId(device(amp), physical, false);
  });
  const std::string online = read<std::string>([&] { return device(amp)->getOnline()->strId(); });
  ASSERT_EQ(status(client.call("qor::server::FtOnline", KspMethod::Update, {}, online,
                               table([&](flatbuffers::FlatBufferBuilder& b) {
                                 auto id = b.CreateString(online);
                                 qor::server::fbs::FtOnlineBuilder t(b);
                                 t.add_id(id);
                                 t.add_supposedState(qor::server::fbs::FtOnlineState::ONLINE_WRITING);
                                 return t.Finish();
                               }))),
            204);
  ASSERT_TRUE(waitOnLoop([&] { return device(amp)->getOnline()->getIsOnline(); }));
  EXPECT_FALSE(runs(physical, wanted));

  // Wired with the connector dialogue: amplifier channel 1 to the loudspeaker's input.
  const std::string output = read<std::string>([&] { return channel(device(amp)->getConnector(), 0)->strId(); });
  const std::string input =
      read<std::string>([&] { return device(speaker)->getConnector()->childrens().at(0)->strId(); });
  ASSERT_EQ(status(withConnector("/connectorStart", output)), 200);
  ASSERT_EQ(status(withConnector("/connectorConnect", input)), 200);
  ASSERT_EQ(status(call("/connectorFinish")), 200);
  ASSERT_EQ(read<std::string>([&] {
              const auto* in = context->db()->get<FtConnector>(UuidFromS(input));
              return in && in->getSignalSource() ? in->getSignalSource()->strId() : std::string();
            }),
            output);

  // The channel follows the loudspeaker, and the amplifier runs the chain.
  EXPECT_EQ(chainOf(amp), wanted);
  EXPECT_TRUE(waitFor([&] { return runs(physical, wanted); }));
  // The periodic comparison finds no difference, and neither does the check.
  EXPECT_TRUE(advanceUntil([&] { return !incorrect(amp) && !warns(ProjectCheckKey::SPEAKER_SETTING_DIFFERENT); }));
  EXPECT_FALSE(incorrect(amp));
  EXPECT_FALSE(warns(ProjectCheckKey::SPEAKER_SETTING_DIFFERENT));

  // Someone loads another chain at the amplifier: the next comparisons see it.
  {
    auto other = network->createDriver("QA-8");
    other->setPhysicalDeviceId(physical);
    other->goOnline(true);
    ASSERT_TRUE(waitFor([&] { return other->isOnline(); }));
    other->loadDspChain(0, GENERIC_CHAIN);
    ASSERT_TRUE(waitFor([&] { return runs(physical, GENERIC_CHAIN); }));
  }
  EXPECT_TRUE(advanceUntil([&] { return incorrect(amp) && warns(ProjectCheckKey::SPEAKER_SETTING_DIFFERENT); }));
}

}  // namespace
}  // namespace qor::testing
