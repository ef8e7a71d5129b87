// A/B presets over a real connection, with an amplifier online on the
// simulated network: a client stores A (the slot left out, so slot 0) of the
// audio and the equaliser, changes level, mute and the equaliser, stores B,
// loads A, and the amplifier itself has the A values again. Bad requests get
// their status and change nothing.

#include "NetworkServerFixture.h"

#include "custom/livesound/LivesoundController.h"
#include "qor/server/entities/All.h"
#include "qor/server/fbs/FtAudio_generated.h"
#include "qor/server/fbs/FtEqFilter_generated.h"
#include "qor/server/fbs/LivesoundCommands_generated.h"
#include "qor/server/services/DeviceService.h"
#include "qor/server/services/FtOnlineService.h"

#include "fennik/devices/SimulatedNetwork.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace qor::testing {
namespace {

namespace cmd = qor::server::fbs::cmd;
using qor::server::Device;
using qor::server::FtAudio;
constexpr const char* ROUTE = qor::server::LivesoundController::ROUTE;
constexpr const char* PHYSICAL_ID = "qa4-ab";

class AbPresetWireTest : public NetworkServerFixture {
 protected:
  void SetUp() override {
    NetworkServerFixture::SetUp();
    network->addDevice("QA-4", PHYSICAL_ID);
  }

  // A QA-4 in the project, mapped onto the simulated one and online.
  Device* onlineAmplifier() {
    Device* amp = nullptr;
    onLoop([&](EntityContext& c) {
      auto* type = c.db()->get<qor::server::DeviceType>(UuidFromS(devicetypes::QA4_TYPE_ID));
      amp = c.services()->get<qor::server::DevicePlant>()->create(type, random_uuid());
      c.services()->get<qor::server::DeviceService>()->setDeviceId(amp, PHYSICAL_ID, false);
      c.services()->get<qor::server::FtOnlineService>()->setSupposedState(
          amp->getOnline(), qor::server::FtOnlineState::ONLINE_WRITING, false);
    });
    EXPECT_TRUE(waitOnLoop([&] { return amp->getOnline()->getIsOnline(); }));
    return amp;
  }

  std::optional<net::Message> preset(const std::string& path, const std::string& entity, std::optional<unsigned> slot) {
    return client.call(ROUTE, KspMethod::Custom, path, {}, table([&](flatbuffers::FlatBufferBuilder& b) {
                         auto id = b.CreateString(entity);
                         cmd::AbPresetStoreArgsBuilder t(b);  // the load table has the same fields
                         t.add_entity(id);
                         if (slot) t.add_slot(*slot);
                         return t.Finish();
                       }));
  }

  std::optional<net::Message> setFilter(const std::string& filter, bool bypass, double gain) {
    return client.call("qor::server::FtEqFilter", KspMethod::Update, {}, filter,
                       table([&](flatbuffers::FlatBufferBuilder& b) {
                         b.ForceDefaults(true);
                         auto id = b.CreateString(filter);
                         qor::server::fbs::FtEqFilterBuilder t(b);
                         t.add_id(id);
                         t.add_bypass(bypass);
                         t.add_gainInDb(gain);
                         return t.Finish();
                       }));
  }

  std::optional<net::Message> setChannel(const std::string& channel, double level, bool muted) {
    return client.call("qor::server::FtAudio", KspMethod::Update, {}, channel,
                       table([&](flatbuffers::FlatBufferBuilder& b) {
                         b.ForceDefaults(true);
                         auto id = b.CreateString(channel);
                         qor::server::fbs::FtAudioBuilder t(b);
                         t.add_id(id);
                         t.add_levelInDb(level);
                         t.add_isMuted(muted);
                         return t.Finish();
                       }));
  }
};

TEST_F(AbPresetWireTest, LoadingSlotABringsTheAValuesBackOnTheAmplifier) {
  Device* amp = onlineAmplifier();
  const std::string audio = read<std::string>([&] { return amp->getAudio()->strId(); });
  const std::string first = read<std::string>([&] { return amp->getAudio()->childrens()[0]->strId(); });
  // The equaliser of the user channels; a slot holds whether each channel's bank is on.
  qor::server::FtEqFilterBank* bank0 = nullptr;
  const std::string eq = read<std::string>([&] {
    bank0 = amp->eqFilterBanks()[0]->childrens()[0];
    return amp->eqFilterBanks()[0]->strId();
  });
  const std::string filter0 = read<std::string>([&] { return bank0->filters()[0]->strId(); });
  using fennik::devices::ChannelType;

  // The device reports what it has; a second driver online with it reads it.
  auto device = network->createDriver("QA-4");
  device->setPhysicalDeviceId(PHYSICAL_ID);
  device->goOnline(true);
  ASSERT_TRUE(waitFor([&] { return device->isOnline(); }));

  // A: -6 dB, the first channel's equaliser on with a -4 dB filter.
  ASSERT_EQ(status(setChannel(first, -6.0, false)), 204);
  ASSERT_EQ(status(setFilter(filter0, false, -4.0)), 204);
  ASSERT_TRUE(waitFor([&] {
    const auto f = device->getEqFilter(ChannelType::User, 0, 0);
    return device->getLevel(0) == -6.0 && !f.bypass && f.gainInDb == -4.0;
  }));
  ASSERT_TRUE(waitOnLoop([&] { return bank0->getIsActive(); }));
  ASSERT_EQ(status(preset("/abPresetStore", audio, std::nullopt)), 200);  // A: slot 0
  ASSERT_EQ(status(preset("/abPresetStore", eq, std::nullopt)), 200);

  // B: -20 dB and muted, the equaliser off.
  ASSERT_EQ(status(setChannel(first, -20.0, true)), 204);
  ASSERT_EQ(status(setFilter(filter0, true, -4.0)), 204);
  ASSERT_TRUE(waitFor([&] {
    return device->getLevel(0) == -20.0 && device->getMute(0) && device->getEqFilter(ChannelType::User, 0, 0).bypass;
  }));
  ASSERT_TRUE(waitOnLoop([&] { return !bank0->getIsActive(); }));
  ASSERT_EQ(status(preset("/abPresetStore", audio, 1u)), 200);  // B
  ASSERT_EQ(status(preset("/abPresetStore", eq, 1u)), 200);

  EXPECT_EQ(read<std::string>([&] { return amp->getAudio()->getAbPresetStatesAsJson(); }),
            R"({"0":{"state":"stored"},"1":{"state":"stored"}})");

  ASSERT_EQ(status(preset("/abPresetLoad", audio, std::nullopt)), 200);
  ASSERT_EQ(status(preset("/abPresetLoad", eq, std::nullopt)), 200);
  EXPECT_TRUE(waitFor([&] {
    const auto f = device->getEqFilter(ChannelType::User, 0, 0);
    return device->getLevel(0) == -6.0 && !device->getMute(0) && !f.bypass && f.gainInDb == -4.0;
  }));
  EXPECT_DOUBLE_EQ(read<double>([&] { return amp->getAudio()->childrens()[0]->getLevelInDb(); }), -6.0);
  EXPECT_TRUE(waitOnLoop([&] { return bank0->getIsActive(); }));
  // The other channels' equalisers were off in A and stay off.
  EXPECT_TRUE(device->getEqFilter(ChannelType::User, 1, 0).bypass);

  ASSERT_EQ(status(preset("/abPresetLoad", audio, 1u)), 200);
  ASSERT_EQ(status(preset("/abPresetLoad", eq, 1u)), 200);
  // The bank's four filters are written one after another; wait for them all.
  const auto allBypassed = [&] {
    for (int i = 0; i < 4; ++i)
      if (!device->getEqFilter(ChannelType::User, 0, i).bypass) return false;
    return true;
  };
  EXPECT_TRUE(waitFor([&] { return device->getLevel(0) == -20.0 && device->getMute(0) && allBypassed(); }));
  EXPECT_TRUE(waitOnLoop([&] { return !bank0->getIsActive(); }));
}

TEST_F(AbPresetWireTest, BadRequestsGetTheirStatusAndChangeNothing) {
  Device* amp = onlineAmplifier();
  const std::string audio = read<std::string>([&] { return amp->getAudio()->strId(); });
  const auto slots = [&] { return read<std::string>([&] { return amp->getAudio()->getAbPresetsAsJson(); }); };

  // No entity id: refused before anything runs.
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/abPresetLoad", {}, {})), 400);
  EXPECT_EQ(status(client.call(ROUTE, KspMethod::Custom, "/abPresetStore", {}, {})), 400);
  // An id that names nothing: the job fails, the host answers.
  EXPECT_EQ(status(preset("/abPresetStore", "b6c7a3c4-1111-4a2b-9c3d-5e6f7a8b9c0d", 1u)), 500);
  // A slot never stored, and a feature without presets: logged, answered, nothing changes.
  EXPECT_EQ(status(preset("/abPresetLoad", audio, 5u)), 200);
  auto* ftLoad = create<qor::server::FtLoad>();
  const std::string load = read<std::string>([&] { return ftLoad->strId(); });
  EXPECT_EQ(status(preset("/abPresetStore", load, 1u)), 200);
  EXPECT_EQ(slots(), "{}");
}

}  // namespace
}  // namespace qor::testing
